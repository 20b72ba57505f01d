#include "app/texts.h"

#include "platform/encoding.h"

namespace app::texts {

const std::string& Text::Gbk() const {
  std::call_once(converted_, [this] { gbk_ = std::make_unique<const std::string>(platform::Utf8ToGbk(utf8_)); });
  return *gbk_;
}

constinit const Text kConnecting("正在连接服务器...");
constinit const Text kChecking("检测升级文件...");
constinit const Text kAnalysing("分析升级文件...");
constinit const Text kCheckFailed("不能连接服务器，检测升级文件失败!");
constinit const Text kUpToDate("已是最新版本！没有升级文件!");
constinit const Text kDownloading("正在下载升级文件...");
constinit const Text kReady("就绪...");
constinit const Text kRefusedKeyInvalid("升级公钥设置无效，已拒绝升级!");
constinit const Text kRefusedSignatureMissing("服务器上缺少升级签名，已拒绝升级!");
constinit const Text kRefusedSignatureInvalid("升级签名无效，已拒绝升级!");
constinit const Text kRefusedOtherKey("升级签名来自其他密钥，已拒绝升级!");
constinit const Text kRefusedExpired("服务器上的升级信息已过期，已拒绝升级!");
constinit const Text kRefusedOlderRelease("服务器上的版本低于已安装的版本，已拒绝升级!");
constinit const Text kRefusedFileMissing("服务器上的升级文件不完整，已拒绝升级!");
constinit const Text kSignedDownloadFailed("有文件下载失败或未通过校验，未安装任何文件!");
constinit const Text kDownloadIncomplete("下载未完成：有文件下载失败，请重新检测!");
constinit const Text kDownloadWriteFailed("下载失败：无法写入本地文件，请检查磁盘空间后重新检测!");
constinit const Text kSettingsRefused("连接设置有误，检测升级文件失败!");
constinit const Text kConnected("连接服务器成功");
constinit const Text kSpeedPrefix(" 下载速度 ");
constinit const Text kTransferDone(" 完成.");
constinit const Text kDisconnectQuestion("断开当前连接吗？");
constinit const Text kTransferBusy("正在传送文件，请稍候！");
constinit const Text kNotDownloaded("未下载");
constinit const Text kDownloadingRow("下载中");
constinit const Text kRowDone("完成");
constinit const Text kRowFailed("失败");
constinit const Text kKindDirectory("目录");
constinit const Text kKindFile("文件");
constinit const Text kKindLink("符号链接");

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace app::texts
