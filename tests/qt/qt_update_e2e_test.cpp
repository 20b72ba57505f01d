// The whole update through the real Qt window on the offscreen platform,
// against pyftpdlib on 127.0.0.80 port 21, with screenshots after the check
// and after the download.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <QPushButton>
#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "platform/encoding.h"
#include "app/program_start.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_main_window.h"
#include "platform/qt/qt_main_window.h"
#include "qt_test_support.h"
#include "settings/ini_file.h"
#include "support/product_fixture.h"
#include "support/pyftpd.h"
#include "support/test_util.h"

namespace {

using platform::Control;
using platform::FileColumn;
using test_support::ReadFile;
using test_support::WriteFile;

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Saves the window as the user sees it and checks the picture.
void Shot(platform::QtMainWindow& window, const std::string& path) {
  QCoreApplication::processEvents();
  window.Flush();
  ASSERT_TRUE(window.grab().save(QString::fromStdString(path), "PNG")) << path;
  const QImage saved(QString::fromStdString(path));
  EXPECT_EQ(saved.size(), window.size()) << path;
  EXPECT_EQ(window.size(), QSize(754, 390));
}

TEST(QtUpdate, ChecksAndDownloadsThroughTheRealWindow) {
  qt_test::App();
  test_support::TempDir base;
  const std::string program = base.File("program");
  std::filesystem::create_directories(program);
  test_support::ProductFixture product(base.File("server"));
  product.Standard();
  test_support::PyFtpd server({.root = base.File("server"), .address = "127.0.0.80", .port = 21,
                               .user = "tarnivelo", .password = "qmzwkt"});
  WriteFile(program + "/updateset.inf", test_support::SettingsFileText("127.0.0.80", 5));
  WriteFile(program + "/Oxbar_tn.exe", test_support::MainProgramScript("old"));

  platform::QtMainWindow window;
  app::TForm1 form(window, program + "/");
  ASSERT_TRUE(app::StartProgram(window, form));
  EXPECT_EQ(window.Text(Control::Label8), "5");
  EXPECT_EQ(window.Text(Control::Label10), "10");
  ASSERT_EQ(window.RowCount(), 6);
  EXPECT_EQ(platform::GbkToUtf8(window.RowText(2, FileColumn::Name)), "Report/月报.txt");
  EXPECT_TRUE(window.IsEnabled(Control::Button2));
  EXPECT_FALSE(window.IsEnabled(Control::Button1));
  Shot(window, base.File("check.png"));

  auto* download = window.findChild<QPushButton*>("Button2");
  ASSERT_NE(download, nullptr);
  download->click();
  for (int row = 0; row < window.RowCount(); ++row) {
    EXPECT_EQ(platform::GbkToUtf8(window.RowText(row, FileColumn::Status)), "完成") << row;
  }
  EXPECT_EQ(platform::GbkToUtf8(window.StatusMessage()), "就绪...");
  EXPECT_TRUE(window.IsClosed());
  Shot(window, base.File("download.png"));

  EXPECT_EQ(ReadFile(program + "/Update/说明.txt"), platform::Utf8ToGbk("说明 v10"));
  EXPECT_EQ(settings::TIniFile(program + "/updateset.inf").ReadIntegerValue("kvdatacont", "client_version", 0), 10);
  EXPECT_EQ(ReadFile(program + "/Oxbar_tn.exe"), test_support::MainProgramScript("new"));
  EXPECT_TRUE(test_support::WaitUntil([&] { return IsFile(program + "/started.marker"); }));
  EXPECT_EQ(ReadFile(program + "/started.marker"), "new\n");
  WriteFile(program + "/release.marker", "");
}

}  // namespace
