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
#include "app/program_start.h"
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
  // The program's start, its first check included (it fails: no server).
  void Create() { app::StartProgram(window_, form_); }

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

// A close whose write fails says why, once, and closes all the same: the
// key only repeats the host, and a window that cannot close helps nobody.
TEST_F(Form1Test, ACloseWhoseWriteFailsSaysWhyOnceAndTheWindowCloses) {
  Create();
  std::filesystem::create_directory(Settings());  // the settings file's name taken by a folder

  EXPECT_TRUE(window_.Press(Control::Button3));
  EXPECT_TRUE(window_.IsClosed());
  ASSERT_EQ(window_.Boxes().size(), 1u);
  EXPECT_EQ(window_.Boxes()[0].kind, HeadlessWindow::BoxKind::Error);
  EXPECT_EQ(window_.Boxes()[0].title, form_.Title);
  EXPECT_EQ(window_.Boxes()[0].text, "Unable to write to " + Settings() + ": Is a directory.");
  EXPECT_EQ(form_.SettingsFile, nullptr);

  // A later close request (a download running on) writes and says nothing.
  window_.RequestClose();
  EXPECT_TRUE(window_.IsClosed());
  EXPECT_EQ(window_.Boxes().size(), 1u);
  EXPECT_TRUE(std::filesystem::is_directory(Settings()));
}

TEST_F(Form1Test, ACloseIntoAReadOnlyFolderSaysPermissionDeniedAndCloses) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root; the folder-named-file case covers the failure";
  Create();
  chmod(folder_.Path().c_str(), 0555);
  window_.RequestClose();
  chmod(folder_.Path().c_str(), 0755);
  EXPECT_TRUE(window_.IsClosed());
  ASSERT_EQ(window_.Boxes().size(), 1u);
  EXPECT_EQ(window_.Boxes()[0].text, "Unable to write to " + Settings() + ": Permission denied.");
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

// Temporary files that killed writers left (of this program's own pattern,
// their process gone) are removed at start from the program's folder,
// Update and the folders directly in it, and from nowhere else.
TEST(Form1Start, RemovesLeftoversOfKilledWritersFromTheProgramsFoldersOnly) {
  ScratchFolder base;
  const std::string program = base / "program";
  for (const char* sub : {"Update/nowlog", "Update/log", "Update/Report/deep"}) {
    std::filesystem::create_directories(program + "/" + sub);
  }
  const std::string leftover = ".updateset.inf.4194305.0.5e1f.tmp";  // no process has that id
  const std::vector<std::string> swept = {"", "Update/", "Update/nowlog/", "Update/log/", "Update/Report/"};
  for (const std::string& where : swept) WriteRaw(program + "/" + where + leftover, "half a file");
  WriteRaw(program + "/Update/Report/deep/" + leftover, "x");
  WriteRaw(base / leftover, "x");
  WriteRaw(program + "/.keep", "x");
  WriteRaw(program + "/Update/nowlog/.note.4194305.tmp", "x");

  HeadlessWindow window;
  app::TForm1 form(window, program + "/");
  app::StartProgram(window, form);
  for (const std::string& where : swept) EXPECT_FALSE(Exists(program + "/" + where + leftover)) << where;
  EXPECT_TRUE(Exists(program + "/Update/Report/deep/" + leftover));
  EXPECT_TRUE(Exists(base / leftover));
  EXPECT_TRUE(Exists(program + "/.keep"));
  EXPECT_TRUE(Exists(program + "/Update/nowlog/.note.4194305.tmp"));
}

// A window whose error box itself fails (its text cannot be converted, the
// toolkit refuses): the message goes to standard error and nothing aborts.
class BrokenBoxWindow : public HeadlessWindow {
 public:
  void ShowError(const std::string&, const std::string&) override { throw std::runtime_error("no box today"); }
};

TEST(Form1ErrorBox, ABoxThatCannotBeShownGoesToStandardErrorAndTheProgramGoesOn) {
  ScratchFolder folder;
  BrokenBoxWindow window;
  app::TForm1 form(window, folder.Path() + "/");
  window.SetEvents(&form);

  testing::internal::CaptureStderr();
  form.RunGuarded([] { throw std::runtime_error(gbk("连接失败")); });
  form.RunGuarded([] { throw 42; });
  // The close whose write fails, too: said on standard error, and it closes.
  app::StartProgram(window, form);
  std::filesystem::create_directory(folder / "updateset.inf");
  EXPECT_TRUE(window.Press(Control::Button3));
  const std::string said = testing::internal::GetCapturedStderr();

  EXPECT_NE(said.find(form.Title + ": 连接失败\n"), std::string::npos) << said;
  EXPECT_NE(said.find(form.Title + ": Unknown error\n"), std::string::npos) << said;
  EXPECT_NE(said.find(form.Title + ": Unable to write to " + (folder / "updateset.inf") + ": Is a directory\n"),
            std::string::npos)
      << said;
  EXPECT_TRUE(window.IsClosed());
}

TEST(Form1Start, ExeDirIsTheExecutablesFolderAndTheTitleItsName) {
  HeadlessWindow window;
  app::TForm1 form(window);
  const std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(form.ExeDir, exe.parent_path().string() + "/");
  EXPECT_EQ(form.Title, exe.stem().string());
}

}  // namespace
