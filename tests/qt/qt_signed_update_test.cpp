// A signed update through the real Qt window on the offscreen platform:
// the release made with the publisher's command (its own key, made now),
// served by pyftpdlib on 127.0.0.81 port 21, checked, downloaded, verified,
// installed and started; then the same window refusing a changed file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QPushButton>
#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "app/program_start.h"
#include "platform/encoding.h"
#include "platform/qt/qt_main_window.h"
#include "qt_test_support.h"
#include "settings/ini_file.h"
#include "support/product_fixture.h"
#include "support/pyftpd.h"
#include "support/signing_tools.h"
#include "support/test_util.h"

namespace {

using platform::Control;
using platform::FileColumn;
using test_support::ReadFile;
using test_support::RunCommand;
using test_support::WriteFile;

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void Put(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  WriteFile(path, bytes);
}

std::string Status(platform::QtMainWindow& window) { return platform::GbkToUtf8(window.StatusMessage()); }

TEST(QtSignedUpdate, InstallsAReleaseMadeByThePublisherAndRefusesAChangedOne) {
  qt_test::App();
  test_support::TempDir base;
  const std::string publisher = test_support::PublisherPath();
  const std::string server = base.File("server/qt482");
  std::filesystem::create_directories(server);
  ASSERT_EQ(RunCommand({publisher, "keygen", "--unencrypted", "--public-key", base.File("release.pub"),
                        "--secret-key", base.File("release.key")})
                .status,
            0);
  const std::string key_file = ReadFile(base.File("release.pub"));
  const std::string public_key = key_file.substr(key_file.find('\n') + 1, 56);

  // Release 1 as installed, release 2 to come.
  const std::string release = base.File("release");
  Put(release + "/Oxbar_tn.exe", test_support::MainProgramScript("v1"));
  Put(release + "/Bin/kvcore.dll", "core v1");
  ASSERT_EQ(RunCommand({publisher, "publish", release, "--server", server, "--key", base.File("release.key")}).status, 0);
  Put(release + "/Oxbar_tn.exe", test_support::MainProgramScript("v2"));
  Put(release + "/Report/月报.txt", "report v2");
  const test_support::CommandResult second =
      RunCommand({publisher, "publish", release, "--server", server, "--key", base.File("release.key")});
  ASSERT_EQ(second.status, 0) << second.output;

  const std::string program = base.File("program");
  std::filesystem::create_directories(program);
  WriteFile(program + "/updateset.inf",
            test_support::SettingsFileText("127.0.0.81", 1, "public_key=" + public_key + "\r\nsigned_release=1\r\n"));
  WriteFile(program + "/Oxbar_tn.exe", test_support::MainProgramScript("v1"));
  test_support::PyFtpd ftp({.root = base.File("server"), .address = "127.0.0.81", .port = 21, .user = "tarnivelo",
                            .password = "qmzwkt"});

  {
    platform::QtMainWindow window;
    app::TForm1 form(window, program + "/");
    ASSERT_TRUE(app::StartProgram(window, form));
    ASSERT_TRUE(qt_test::WaitForFirstCheck(window));
    EXPECT_EQ(window.Text(Control::Label10), "2");
    ASSERT_EQ(window.RowCount(), 2);
    EXPECT_EQ(platform::GbkToUtf8(window.RowText(1, FileColumn::Name)), "Report/月报.txt");
    window.findChild<QPushButton*>("Button2")->click();
    for (int row = 0; row < window.RowCount(); ++row) {
      EXPECT_EQ(platform::GbkToUtf8(window.RowText(row, FileColumn::Status)), "完成") << row;
    }
    EXPECT_TRUE(window.IsClosed());
  }
  EXPECT_EQ(ReadFile(program + "/Oxbar_tn.exe"), test_support::MainProgramScript("v2"));
  settings::TIniFile settings_file(program + "/updateset.inf");
  EXPECT_EQ(settings_file.ReadIntegerValue("kvdatacont", "signed_release", 0), 2);
  EXPECT_TRUE(test_support::WaitUntil([&] { return IsFile(program + "/started.marker"); }));
  EXPECT_EQ(ReadFile(program + "/started.marker"), "v2\n");
  WriteFile(program + "/release.marker", "");

  // Release 3 with a main program changed on the server after signing.
  Put(release + "/Oxbar_tn.exe", test_support::MainProgramScript("v3"));
  ASSERT_EQ(RunCommand({publisher, "publish", release, "--server", server, "--key", base.File("release.key")}).status, 0);
  WriteFile(server + "/Oxbar_tn.exe", test_support::MainProgramScript("evil"));
  {
    platform::QtMainWindow window;
    app::TForm1 form(window, program + "/");
    ASSERT_TRUE(app::StartProgram(window, form));
    ASSERT_TRUE(qt_test::WaitForFirstCheck(window));
    ASSERT_EQ(window.RowCount(), 1);
    window.findChild<QPushButton*>("Button2")->click();
    EXPECT_EQ(platform::GbkToUtf8(window.RowText(0, FileColumn::Status)), "失败");
    EXPECT_EQ(Status(window), "有文件下载失败或未通过校验，未安装任何文件!");
    EXPECT_FALSE(window.IsClosed());
    EXPECT_TRUE(window.findChild<QPushButton*>("Button1")->isEnabled());
  }
  EXPECT_EQ(ReadFile(program + "/Oxbar_tn.exe"), test_support::MainProgramScript("v2"));
  EXPECT_FALSE(IsFile(program + "/Update/Oxbar_tn.exe"));
  EXPECT_EQ(settings_file.ReadIntegerValue("kvdatacont", "signed_release", 0), 2);
}

}  // namespace
