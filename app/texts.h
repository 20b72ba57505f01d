// The window's own texts, converted to GBK once, and the fixed names of the
// files and keys that several steps of an update share.
#pragma once

#include <string>

namespace app::texts {

// Status messages.
extern const std::string kChecking;       // 检测升级文件...
extern const std::string kAnalysing;      // 分析升级文件...
extern const std::string kCheckFailed;    // 不能连接服务器，检测升级文件失败!
extern const std::string kUpToDate;       // 已是最新版本！没有升级文件!
extern const std::string kDownloading;    // 正在下载升级文件...
extern const std::string kReady;          // 就绪...
extern const std::string kSettingsRefused;  // 连接设置有误，检测升级文件失败!
// Refusals of a signed update.
extern const std::string kRefusedKeyInvalid;        // 升级公钥设置无效，已拒绝升级!
extern const std::string kRefusedSignatureMissing;  // 服务器上缺少升级签名，已拒绝升级!
extern const std::string kRefusedSignatureInvalid;  // 升级签名无效，已拒绝升级!
extern const std::string kRefusedOtherKey;          // 升级签名来自其他密钥，已拒绝升级!
extern const std::string kRefusedExpired;           // 服务器上的升级信息已过期，已拒绝升级!
extern const std::string kRefusedOlderRelease;      // 服务器上的版本低于已安装的版本，已拒绝升级!
extern const std::string kRefusedFileMissing;       // 服务器上的升级文件不完整，已拒绝升级!
extern const std::string kSignedDownloadFailed;     // 有文件下载失败或未通过校验，未安装任何文件!
// Status panels.
extern const std::string kConnected;      // 连接服务器成功
extern const std::string kSpeedPrefix;    // " 下载速度 "
extern const std::string kTransferDone;   // " 完成."
// Boxes.
extern const std::string kDisconnectQuestion;  // 断开当前连接吗？
extern const std::string kTransferBusy;        // 正在传送文件，请稍候！
// Row statuses.
extern const std::string kNotDownloaded;  // 未下载
extern const std::string kDownloadingRow; // 下载中
extern const std::string kRowDone;        // 完成
extern const std::string kRowFailed;      // 失败
// Kind texts of the remote listing table.
extern const std::string kKindDirectory;  // 目录
extern const std::string kKindFile;       // 文件
extern const std::string kKindLink;       // 符号链接

inline const std::string kSettingsFileName = "updateset.inf";
inline const std::string kSettingsSection = "kvdatacont";

// ASCII letters a to z made upper case; every other byte unchanged.
std::string UpperAscii(std::string text);

}  // namespace app::texts
