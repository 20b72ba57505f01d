#include "app/texts.h"

#include "platform/encoding.h"

namespace app::texts {

const std::string kChecking = gbk("检测升级文件...");
const std::string kAnalysing = gbk("分析升级文件...");
const std::string kCheckFailed = gbk("不能连接服务器，检测升级文件失败!");
const std::string kUpToDate = gbk("已是最新版本！没有升级文件!");
const std::string kDownloading = gbk("正在下载升级文件...");
const std::string kReady = gbk("就绪...");
const std::string kRefusedKeyInvalid = gbk("升级公钥设置无效，已拒绝升级!");
const std::string kRefusedSignatureMissing = gbk("服务器上缺少升级签名，已拒绝升级!");
const std::string kRefusedSignatureInvalid = gbk("升级签名无效，已拒绝升级!");
const std::string kRefusedOtherKey = gbk("升级签名来自其他密钥，已拒绝升级!");
const std::string kRefusedExpired = gbk("服务器上的升级信息已过期，已拒绝升级!");
const std::string kRefusedOlderRelease = gbk("服务器上的版本低于已安装的版本，已拒绝升级!");
const std::string kRefusedFileMissing = gbk("服务器上的升级文件不完整，已拒绝升级!");
const std::string kSignedDownloadFailed = gbk("有文件下载失败或未通过校验，未安装任何文件!");
const std::string kSettingsRefused = gbk("连接设置有误，检测升级文件失败!");
const std::string kConnected = gbk("连接服务器成功");
const std::string kSpeedPrefix = gbk(" 下载速度 ");
const std::string kTransferDone = gbk(" 完成.");
const std::string kDisconnectQuestion = gbk("断开当前连接吗？");
const std::string kTransferBusy = gbk("正在传送文件，请稍候！");
const std::string kNotDownloaded = gbk("未下载");
const std::string kDownloadingRow = gbk("下载中");
const std::string kRowDone = gbk("完成");
const std::string kRowFailed = gbk("失败");
const std::string kKindDirectory = gbk("目录");
const std::string kKindFile = gbk("文件");
const std::string kKindLink = gbk("符号链接");

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace app::texts
