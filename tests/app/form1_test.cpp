// Program start and close of the updater's window logic, on the headless
// window in a program folder of each test's own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "platform/encoding.h"
#include "platform/headless/headless_window.h"
#include "support/scratch_folder.h"

namespace {

using platform::Control;
using platform::HeadlessWindow;
using test_support::Exists;
using test_support::ReadRaw;
using test_support::ScratchFolder;
using test_support::WriteRaw;

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The non-blank lines of a file, without their line ends.
std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : ReadRaw(path)) {
    if (c == '\n' || c == '\r') {
      if (!line.empty()) lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

class Form1Test : public ::testing::Test {
 protected:
  Form1Test() : form_(window_, folder_.Path() + "/") { window_.SetEvents(&form_); }

  std::string Settings() const { return folder_ / "updateset.inf"; }
  void Create() { form_.RunGuarded([&] { form_.FormCreate(); }); }

  ScratchFolder folder_;
  HeadlessWindow window_;
  app::TForm1 form_;
};

TEST_F(Form1Test, FirstStartInAnEmptyFolderMakesTheFoldersAndShowsTheDefaultHost) {
  Create();
  EXPECT_TRUE(IsFolder(folder_ / "Update"));
  EXPECT_TRUE(IsFolder(folder_ / "Update/nowlog"));
  EXPECT_EQ(window_.Text(Control::Edit2), "ftp://127.0.0.1");
  EXPECT_EQ(form_.UpdateHost, "127.0.0.1");
  EXPECT_EQ(form_.FtpUser, "tarnivelo");
  EXPECT_EQ(form_.FtpPassword, "qmzwkt");
  EXPECT_FALSE(Exists(Settings())) << "start-up must not create the settings file";
  EXPECT_TRUE(window_.Boxes().empty());

  // Close through the Close button.
  EXPECT_TRUE(window_.Press(Control::Button3));
  EXPECT_TRUE(window_.IsClosed());
  EXPECT_EQ(form_.SettingsFile, nullptr);
  EXPECT_EQ(Lines(Settings()), (std::vector<std::string>{"[kvdatacont]", "update=127.0.0.1"}));
  EXPECT_TRUE(window_.Boxes().empty());
}

TEST_F(Form1Test, StartKeepsExistingFoldersAndTheirFiles) {
  std::filesystem::create_directories(folder_ / "Update/nowlog");
  WriteRaw(folder_ / "Update/nowlog/12.txt", "x");
  Create();
  EXPECT_TRUE(Exists(folder_ / "Update/nowlog/12.txt"));
}

TEST_F(Form1Test, SettingsGiveHostUserAndPasswordAndCloseWritesTheHostAsUpdate) {
  WriteRaw(Settings(), "[kvdatacont]\r\nupdateadd=127.0.0.9\r\nftpuser=anna\r\nftppass=s3cret\r\n");
  Create();
  EXPECT_EQ(window_.Text(Control::Edit2), "ftp://127.0.0.9");
  EXPECT_EQ(form_.FtpUser, "anna");
  EXPECT_EQ(form_.FtpPassword, "s3cret");
  window_.RequestClose();
  ASSERT_TRUE(window_.IsClosed());
  EXPECT_EQ(Lines(Settings()), (std::vector<std::string>{"[kvdatacont]", "updateadd=127.0.0.9", "ftpuser=anna",
                                                         "ftppass=s3cret", "update=127.0.0.9"}));
}

TEST_F(Form1Test, TextTypedIntoTheAddressBoxIsNotWritten) {
  Create();
  window_.Type(Control::Edit2, "ftp://192.0.2.1");
  window_.RequestClose();
  ASSERT_TRUE(window_.IsClosed());
  EXPECT_EQ(form_.UpdateHost, "127.0.0.1");
  EXPECT_EQ(Lines(Settings()), (std::vector<std::string>{"[kvdatacont]", "update=127.0.0.1"}));
}

TEST_F(Form1Test, GbkHostReachesTheAddressBoxByteForByte) {
  const std::string host = gbk("升级服务器");
  WriteRaw(Settings(), "[kvdatacont]\r\nupdateadd=" + host + "\r\n");
  Create();
  EXPECT_EQ(window_.Text(Control::Edit2), "ftp://" + host);
  EXPECT_EQ(platform::GbkToUtf8(window_.Text(Control::Edit2)), "ftp://升级服务器");
}

TEST_F(Form1Test, AFileNamedUpdateMakesNoFoldersAndNoMessage) {
  WriteRaw(folder_ / "Update", "not a folder");
  Create();
  EXPECT_FALSE(IsFolder(folder_ / "Update"));
  EXPECT_EQ(ReadRaw(folder_ / "Update"), "not a folder");
  EXPECT_FALSE(Exists(folder_ / "Update/nowlog"));
  EXPECT_TRUE(window_.Boxes().empty());
  EXPECT_EQ(window_.Text(Control::Edit2), "ftp://127.0.0.1");
}

TEST_F(Form1Test, ACloseWhoseWriteFailsShowsTheErrorAndTheWindowStaysOpen) {
  Create();
  std::filesystem::create_directory(Settings());  // the settings file's name taken by a folder

  EXPECT_TRUE(window_.Press(Control::Button3));
  EXPECT_FALSE(window_.IsClosed());
  ASSERT_EQ(window_.Boxes().size(), 1u);
  EXPECT_EQ(window_.Boxes()[0].kind, HeadlessWindow::BoxKind::Error);
  EXPECT_EQ(window_.Boxes()[0].title, form_.Title);
  EXPECT_EQ(window_.Boxes()[0].text, "Unable to write to " + Settings() + ".");
  EXPECT_NE(form_.SettingsFile, nullptr) << "the settings file stays bound";

  // Once the way is clear, the next close goes ahead.
  std::filesystem::remove(Settings());
  window_.RequestClose();
  EXPECT_TRUE(window_.IsClosed());
  EXPECT_EQ(Lines(Settings()), (std::vector<std::string>{"[kvdatacont]", "update=127.0.0.1"}));
  EXPECT_EQ(window_.Boxes().size(), 1u);
}

TEST_F(Form1Test, ACloseIntoAReadOnlyFolderShowsTheErrorAndTheWindowStaysOpen) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root; the folder-named-file case covers the failure";
  Create();
  chmod(folder_.Path().c_str(), 0555);
  window_.RequestClose();
  chmod(folder_.Path().c_str(), 0755);
  EXPECT_FALSE(window_.IsClosed());
  ASSERT_EQ(window_.Boxes().size(), 1u);
  EXPECT_EQ(window_.Boxes()[0].text, "Unable to write to " + Settings() + ".");
}

TEST_F(Form1Test, ASecondCloseRequestAfterTheCloseWentAheadWritesNothingMore) {
  Create();
  window_.RequestClose();
  ASSERT_TRUE(window_.IsClosed());
  std::filesystem::remove(Settings());

  window_.RequestClose();
  EXPECT_TRUE(window_.IsClosed());
  EXPECT_EQ(window_.CloseRequests(), 2);
  EXPECT_FALSE(Exists(Settings()));
  EXPECT_TRUE(window_.Boxes().empty());
}

TEST_F(Form1Test, ButtonsAtStartAndTheCheckButtonLeavesTheWindowAsItWas) {
  Create();
  EXPECT_TRUE(window_.IsEnabled(Control::Button1));
  EXPECT_FALSE(window_.IsEnabled(Control::Button2));
  EXPECT_TRUE(window_.IsEnabled(Control::Button3));
  EXPECT_FALSE(window_.Press(Control::Button2)) << "a disabled button cannot be pressed";
  EXPECT_TRUE(window_.Press(Control::Button1));
  EXPECT_FALSE(window_.IsClosed());
  EXPECT_TRUE(window_.Boxes().empty());
}

// The error box: the program's title, the message with a period when its last
// byte sorts after ".".
struct PeriodCase {
  std::string message;
  std::string shown;
};

class ErrorBoxTest : public Form1Test, public ::testing::WithParamInterface<PeriodCase> {};

TEST_P(ErrorBoxTest, AnErrorLeavingAHandlerIsShownAndTheProgramGoesOn) {
  const PeriodCase& c = GetParam();
  form_.RunGuarded([&] { throw std::runtime_error(c.message); });
  ASSERT_EQ(window_.Boxes().size(), 1u);
  EXPECT_EQ(window_.Boxes()[0].kind, HeadlessWindow::BoxKind::Error);
  EXPECT_EQ(window_.Boxes()[0].title, form_.Title);
  EXPECT_EQ(window_.Boxes()[0].text, c.shown);
  EXPECT_EQ(app::ErrorBoxMessage(c.message), c.shown);

  // The window goes on working.
  EXPECT_TRUE(window_.Press(Control::Button3));
  EXPECT_TRUE(window_.IsClosed());
}

INSTANTIATE_TEST_SUITE_P(
    PeriodRule, ErrorBoxTest,
    ::testing::Values(PeriodCase{"Connection Closed Gracefully", "Connection Closed Gracefully."},
                      PeriodCase{"Ends with a period.", "Ends with a period."},
                      PeriodCase{"Read timed out!", "Read timed out!"},        // '!' sorts before '.'
                      PeriodCase{"minus-", "minus-"},                          // '-' just before '.'
                      PeriodCase{"slash/", "slash/."},                         // '/' just after '.'
                      PeriodCase{"Socket Error # 10061\r\n", "Socket Error # 10061\r\n"},
                      PeriodCase{"code 9", "code 9."}, PeriodCase{"(x)", "(x)"}, PeriodCase{"", ""},
                      PeriodCase{gbk("连接失败"), gbk("连接失败") + "."},  // a GBK byte sorts above '.'
                      PeriodCase{"\x7f", "\x7f."}));

TEST_F(Form1Test, AnErrorThatIsNoStandardExceptionIsShownToo) {
  form_.RunGuarded([] { throw 42; });
  ASSERT_EQ(window_.Boxes().size(), 1u);
  EXPECT_EQ(window_.Boxes()[0].kind, HeadlessWindow::BoxKind::Error);
  EXPECT_FALSE(window_.Boxes()[0].text.empty());
}

TEST(Form1Start, ExeDirIsTheExecutablesFolderAndTheTitleItsName) {
  HeadlessWindow window;
  app::TForm1 form(window);
  const std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(form.ExeDir, exe.parent_path().string() + "/");
  EXPECT_EQ(form.Title, exe.stem().string());
}

}  // namespace
