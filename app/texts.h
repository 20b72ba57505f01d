// The window's own texts, and the fixed names of the files and keys that
// several steps of an update share.
#pragma once

#include <memory>
#include <mutex>
#include <string>

namespace app::texts {

// One of the program's own texts: written here as UTF-8 and converted to GBK
// the first time it is used, never during static initialisation, so that a
// conversion that fails is an error a handler reports instead of an abort
// before main. Used wherever a GBK std::string is.
class Text {
 public:
  explicit constexpr Text(const char* utf8) : utf8_(utf8) {}
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  const std::string& Gbk() const;
  operator const std::string&() const { return Gbk(); }  // NOLINT: used as the text itself

 private:
  const char* utf8_;
  mutable std::once_flag converted_;
  mutable std::unique_ptr<const std::string> gbk_;
};

inline bool operator==(const std::string& text, const Text& own) { return text == own.Gbk(); }
inline std::string operator+(const std::string& text, const Text& own) { return text + own.Gbk(); }
inline std::string operator+(const Text& own, const std::string& text) { return own.Gbk() + text; }

// Status messages.
extern const Text kConnecting;       // 正在连接服务器...
extern const Text kChecking;         // 检测升级文件...
extern const Text kAnalysing;        // 分析升级文件...
extern const Text kCheckFailed;      // 不能连接服务器，检测升级文件失败!
extern const Text kUpToDate;         // 已是最新版本！没有升级文件!
extern const Text kDownloading;      // 正在下载升级文件...
extern const Text kReady;            // 就绪...
extern const Text kRefusedKeyInvalid;        // 升级公钥设置无效，已拒绝升级!
extern const Text kRefusedSignatureMissing;  // 服务器上缺少升级签名，已拒绝升级!
extern const Text kRefusedSignatureInvalid;  // 升级签名无效，已拒绝升级!
extern const Text kRefusedOtherKey;          // 升级签名来自其他密钥，已拒绝升级!
extern const Text kRefusedExpired;           // 服务器上的升级信息已过期，已拒绝升级!
extern const Text kRefusedOlderRelease;      // 服务器上的版本低于已安装的版本，已拒绝升级!
extern const Text kRefusedFileMissing;       // 服务器上的升级文件不完整，已拒绝升级!
extern const Text kSignedDownloadFailed;     // 有文件下载失败或未通过校验，未安装任何文件!
extern const Text kDownloadIncomplete;   // 下载未完成：有文件下载失败，请重新检测!
extern const Text kDownloadWriteFailed;  // 下载失败：无法写入本地文件，请检查磁盘空间后重新检测!
extern const Text kSettingsRefused;     // 连接设置有误，检测升级文件失败!
// Status panels.
extern const Text kConnected;        // 连接服务器成功
extern const Text kSpeedPrefix;      // " 下载速度 "
extern const Text kTransferDone;     // " 完成."
// Boxes.
extern const Text kDisconnectQuestion;  // 断开当前连接吗？
extern const Text kTransferBusy;        // 正在传送文件，请稍候！
// Row statuses.
extern const Text kNotDownloaded;    // 未下载
extern const Text kDownloadingRow;   // 下载中
extern const Text kRowDone;          // 完成
extern const Text kRowFailed;        // 失败
// Kind texts of the remote listing table.
extern const Text kKindDirectory;    // 目录
extern const Text kKindFile;         // 文件
extern const Text kKindLink;         // 符号链接

inline const std::string kSettingsFileName = "updateset.inf";
inline const std::string kSettingsSection = "kvdatacont";

// ASCII letters a to z made upper case; every other byte unchanged.
std::string UpperAscii(std::string text);

}  // namespace app::texts
