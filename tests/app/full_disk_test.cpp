// The program folder on a file system of its own that fills up: through the
// headless window, against pyftpdlib. However the disk runs full (a row, the
// new main program's copy, the versions, the close), the window ends up
// usable and closable, it says what went wrong (a box names the file and the
// cause), nothing is recorded as done, updateset.inf stays whole and the
// installed main program stays the old one.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>

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
constexpr size_t kNotFilled = static_cast<size_t>(-1);

// Writes to the file until the file system has only `leave` bytes free.
void FillUp(const std::string& path, size_t leave) {
  struct statvfs disk {};
  ASSERT_EQ(::statvfs(path.substr(0, path.rfind('/')).c_str(), &disk), 0);
  const size_t free_bytes = static_cast<size_t>(disk.f_bavail) * disk.f_frsize;
  size_t left = free_bytes > leave ? free_bytes - leave : 0;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  const std::string block(65536, 'f');
  while (left > 0) {
    const ssize_t n = ::write(fd, block.data(), std::min(left, block.size()));
    if (n <= 0) break;
    left -= static_cast<size_t>(n);
  }
  ::close(fd);
}

// A new main program of some size: the copy over the installed one needs
// that much room again.
std::string LargeMainProgram() { return test_support::MainProgramScript("new") + "#" + std::string(400000, 'x') + "\n"; }

enum class Product {
  kFileLargerThanTheDisk,  // 说明.txt, the main program, a BIN file of twice the disk
  kScriptsOnly,            // two SCRIPTS rows: nothing to write but the versions
  kLargeMainProgram,       // the main program alone, 400 KB
};

struct FullDiskCase {
  const char* name;
  const char* address;
  Product product;
  size_t leave_free;  // the disk is filled after the check to this much room; kNotFilled: not
  Names statuses;
  bool versions_refused;  // a box says the versions could not be written
  bool close_refused;     // ... and another that the close's write failed
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
  switch (c.product) {
    case Product::kFileLargerThanTheDisk:
      run.product.Descriptor("6.ini", {{"说明", "说明.txt", "DOC", "1KB", "d"},
                                       {"主", "Oxbar_tn.exe", "EXE", "1KB", "d"},
                                       {"大", "Bin\\big.bin", "BIN", "2MB", "d"}});
      run.product.File("说明.txt", "fine");
      run.product.File("Oxbar_tn.exe", test_support::MainProgramScript("new"));
      run.product.File("Bin/big.bin", std::string(2 * kDiskBytes, 'b'));
      break;
    case Product::kScriptsOnly:
      run.product.Descriptor("6.ini", {{"脚本", "update.sql", "SCRIPTS", "0", "d"},
                                       {"脚本2", "cleanup.sql", "SCRIPTS", "0", "d"}});
      break;
    case Product::kLargeMainProgram:
      run.product.Descriptor("6.ini", {{"主", "Oxbar_tn.exe", "EXE", "400KB", "d"}});
      run.product.File("Oxbar_tn.exe", LargeMainProgram());
      break;
  }
  run.StartServer(c.address);
  run.WriteSettings(c.address, 5);
  const std::string settings_before = ReadFile(run.Local("updateset.inf"));
  const std::string old_main = test_support::MainProgramScript("old");
  WriteFile(run.Local("Oxbar_tn.exe"), old_main);
  run.Create();
  ASSERT_EQ(run.window.RowCount(), static_cast<int>(c.statuses.size())) << run.Message();
  if (c.leave_free != kNotFilled) {
    ASSERT_NO_FATAL_FAILURE(FillUp(run.Local("filler"), c.leave_free));
  }

  EXPECT_TRUE(run.window.Press(Control::Button2));
  EXPECT_EQ(run.Column(FileColumn::Status), c.statuses);
  EXPECT_EQ(run.Message(), "下载失败：无法写入本地文件，请检查磁盘空间后重新检测!");
  EXPECT_TRUE(run.window.IsEnabled(Control::Button1)) << "the user may check again";
  EXPECT_FALSE(run.window.IsEnabled(Control::Button2));
  EXPECT_FALSE(run.window.IsClosed());
  EXPECT_EQ(run.window.ProgressPosition(e2e::ProgressBar::ProgressBar2), 0);
  // Rows and a main program that cannot be written fail quietly (the status
  // line says it); versions and the settings that cannot be written are said.
  const std::string refused = "Unable to write to " + run.Local("updateset.inf") + ": No space left on device.";
  Names expected_boxes;
  if (c.versions_refused) expected_boxes.push_back(refused);
  Names boxes;
  for (const HeadlessWindow::Box& box : run.window.Boxes()) boxes.push_back(box.text);
  EXPECT_EQ(boxes, expected_boxes);

  // Close works, and says once why its own write failed, if it did.
  EXPECT_TRUE(run.window.Press(Control::Button3));
  EXPECT_TRUE(run.window.IsClosed());
  if (c.close_refused) expected_boxes.push_back(refused);
  boxes.clear();
  for (const HeadlessWindow::Box& box : run.window.Boxes()) boxes.push_back(box.text);
  EXPECT_EQ(boxes, expected_boxes);

  if (c.close_refused) {
    EXPECT_EQ(ReadFile(run.Local("updateset.inf")), settings_before);
  }
  EXPECT_EQ(run.SettingsInteger("client_version"), 5) << "nothing recorded: the next check offers it all again";
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), old_main);
  EXPECT_FALSE(e2e::IsFile(run.Local("started.marker")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FullDisk,
    testing::Values(FullDiskCase{"AFileLargerThanTheDisk", "127.0.0.201", Product::kFileLargerThanTheDisk, kNotFilled,
                                 {"完成", "完成", "失败"}, false, true},
                    FullDiskCase{"NoRoomForTheVersions", "127.0.0.202", Product::kScriptsOnly, 0, {"完成", "完成"},
                                 true, true},
                    FullDiskCase{"NoRoomForTheNewMainProgram", "127.0.0.207", Product::kLargeMainProgram, 600 << 10,
                                 {"完成"}, false, false}),
    [](const testing::TestParamInfo<FullDiskCase>& info) { return std::string(info.param.name); });

}  // namespace
