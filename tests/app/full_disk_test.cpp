// The program folder on a file system of its own that fills up: through the
// headless window, against pyftpdlib. However the disk runs full, the
// window ends up usable and closable, it says what went wrong (the box names
// the file and the cause), updateset.inf stays whole and the installed main
// program stays the old one.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "support/private_mount.h"

namespace {

using e2e::Control;
using e2e::FileColumn;
using e2e::HeadlessWindow;
using e2e::UpdaterRun;
using test_support::ReadFile;
using test_support::WriteFile;
using Names = std::vector<std::string>;

constexpr size_t kDiskBytes = 1 << 20;

// Writes to the file until the file system refuses: the disk is then full.
void FillUp(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  const std::string block(65536, 'f');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  ::close(fd);
}

struct FullDiskCase {
  const char* name;
  const char* address;
  // true: the disk fills up during the download (a file larger than the
  // disk); false: the disk is full before it (the rows need no room, the
  // versions do).
  bool fills_while_fetching;
  Names statuses;
};

class FullDisk : public testing::TestWithParam<FullDiskCase> {};

TEST_P(FullDisk, LeavesAClosableWindowAWholeSettingsFileAndTheOldMainProgram) {
  const FullDiskCase& c = GetParam();
  UpdaterRun run;
  std::string why;
  const auto disk = test_support::PrivateMount::Tmpfs(run.Program(), kDiskBytes, why);
  if (!disk) GTEST_SKIP() << why;

  run.product.Version(10, 4);
  run.product.Folder("Bin");
  if (c.fills_while_fetching) {
    run.product.Descriptor("6.ini", {{"说明", "说明.txt", "DOC", "1KB", "d"},
                                     {"主", "Oxbar_tn.exe", "EXE", "1KB", "d"},
                                     {"大", "Bin\\big.bin", "BIN", "2MB", "d"}});
    run.product.File("说明.txt", "fine");
    run.product.File("Oxbar_tn.exe", test_support::MainProgramScript("new"));
    run.product.File("Bin/big.bin", std::string(2 * kDiskBytes, 'b'));
  } else {
    run.product.Descriptor("6.ini", {{"脚本", "update.sql", "SCRIPTS", "0", "d"},
                                     {"脚本2", "cleanup.sql", "SCRIPTS", "0", "d"}});
  }
  run.StartServer(c.address);
  run.WriteSettings(c.address, 5);
  const std::string settings_before = ReadFile(run.Local("updateset.inf"));
  const std::string old_main = test_support::MainProgramScript("old");
  WriteFile(run.Local("Oxbar_tn.exe"), old_main);
  run.Create();
  ASSERT_EQ(run.window.RowCount(), static_cast<int>(c.statuses.size())) << run.Message();
  if (!c.fills_while_fetching) FillUp(run.Local("filler"));

  EXPECT_TRUE(run.window.Press(Control::Button2));
  EXPECT_EQ(run.Column(FileColumn::Status), c.statuses);
  EXPECT_EQ(run.Message(), "下载失败：无法写入本地文件，请检查磁盘空间后重新检测!");
  EXPECT_TRUE(run.window.IsEnabled(Control::Button1)) << "the user may check again";
  EXPECT_FALSE(run.window.IsEnabled(Control::Button2));
  EXPECT_FALSE(run.window.IsClosed());
  EXPECT_EQ(run.window.ProgressPosition(e2e::ProgressBar::ProgressBar2), 0);
  const std::string refused = "Unable to write to " + run.Local("updateset.inf") + ": No space left on device.";
  // Rows that cannot be written fail quietly; versions that cannot be
  // written are said.
  const Names boxes_after_download = c.fills_while_fetching ? Names{} : Names{refused};
  Names boxes;
  for (const HeadlessWindow::Box& box : run.window.Boxes()) boxes.push_back(box.text);
  EXPECT_EQ(boxes, boxes_after_download);

  // Close works, and says once why the close's own write failed.
  EXPECT_TRUE(run.window.Press(Control::Button3));
  EXPECT_TRUE(run.window.IsClosed());
  ASSERT_EQ(run.window.Boxes().size(), boxes_after_download.size() + 1);
  EXPECT_EQ(run.window.Boxes().back().kind, HeadlessWindow::BoxKind::Error);
  EXPECT_EQ(run.window.Boxes().back().text, refused);

  EXPECT_EQ(ReadFile(run.Local("updateset.inf")), settings_before);
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), old_main);
  EXPECT_FALSE(e2e::IsFile(run.Local("started.marker")));
}

INSTANTIATE_TEST_SUITE_P(Cases, FullDisk,
                         testing::Values(FullDiskCase{"AFileLargerThanTheDisk", "127.0.0.201", true,
                                                      {"完成", "完成", "失败"}},
                                         FullDiskCase{"NoRoomForTheVersions", "127.0.0.202", false, {"完成", "完成"}}),
                         [](const testing::TestParamInfo<FullDiskCase>& info) { return std::string(info.param.name); });

}  // namespace
