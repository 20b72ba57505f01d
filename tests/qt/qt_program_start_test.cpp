// The program's start path on the real window: the window is on screen
// before the first check connects, and closing with Alt+X ends the message
// loop after the settings file was written.
#include "app/program_start.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_main_window.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "platform/encoding.h"
#include "qt_test_support.h"
#include "support/scratch_folder.h"
#include "support/tcp_peer.h"

namespace {

TEST(QtProgramStart, StartsInAnEmptyFolderAndAltXEndsTheLoopAfterWritingTheHost) {
  QApplication& app = qt_test::App();
  test_support::ScratchFolder folder;
  platform::QtMainWindow window;
  app::TForm1 form(window, folder.Path() + "/");

  ASSERT_TRUE(app::StartProgram(window, form));
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(std::filesystem::is_directory(folder / "Update/nowlog"));
  EXPECT_EQ(window.findChild<QLineEdit*>("Edit2")->text().toStdString(), "ftp://127.0.0.1");
  EXPECT_FALSE(test_support::Exists(folder / "updateset.inf"));

  QTimer::singleShot(0, &window, [&] {
    if (QTest::qWaitForWindowActive(&window)) QTest::keyClick(&window, Qt::Key_X, Qt::AltModifier);
  });
  QTimer guard;  // a loop that does not end fails the test instead of hanging it
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  guard.start(60000);
  EXPECT_EQ(app.exec(), 0);
  EXPECT_TRUE(window.IsClosed());
  EXPECT_EQ(test_support::ReadRaw(folder / "updateset.inf"), "[kvdatacont]\r\nupdate=127.0.0.1\r\n");
}

// A server that does not answer the connect: the window is on screen, its
// status line saying that it connects, all the while the connect waits.
TEST(QtProgramStart, TheWindowIsOnScreenWhileTheFirstChecksConnectWaits) {
  qt_test::App();
  auto listener = std::make_unique<testsupport::UnansweredListener>("127.0.0.204", 21);
  if (!listener->Blocks()) GTEST_SKIP() << "this kernel completes or refuses connects to a full queue";
  test_support::ScratchFolder folder;
  test_support::WriteRaw(folder / "updateset.inf", "[kvdatacont]\r\nupdateadd=127.0.0.204\r\n");
  platform::QtMainWindow window;
  app::TForm1 form(window, folder.Path() + "/");

  // Looks at the window while the check waits for its connect (it keeps
  // the window responsive meanwhile), then lets the connect fail.
  bool seen = false;
  bool visible_then = false;
  std::string message_then;
  std::string panel_then;
  QTimer look;
  look.setInterval(20);
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (seen || window.IsEnabled(platform::Control::Button1)) return;  // the check has not begun yet
    seen = true;
    visible_then = window.isVisible();
    message_then = platform::GbkToUtf8(window.StatusMessage());
    panel_then = window.StatusPanel(0);
    listener.reset();  // the next SYN is refused
  });
  look.start();

  ASSERT_TRUE(app::StartProgram(window, form));
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(platform::GbkToUtf8(window.StatusMessage()), "正在连接服务器...");
  ASSERT_TRUE(qt_test::WaitForFirstCheck(window));
  EXPECT_TRUE(seen);
  EXPECT_TRUE(visible_then) << "the window must be on screen before the connect completes";
  EXPECT_EQ(message_then, "检测升级文件...");
  EXPECT_EQ(panel_then, "") << "not connected yet";
  EXPECT_EQ(platform::GbkToUtf8(window.StatusMessage()), "不能连接服务器，检测升级文件失败!");
  window.RequestClose();
}

TEST(QtProgramStart, AWindowClosedDuringCreationIsNotShown) {
  qt_test::App();
  test_support::ScratchFolder folder;
  platform::QtMainWindow window;
  app::TForm1 form(window, folder.Path() + "/");
  window.SetEvents(&form);
  window.RequestClose();  // as a close request from inside the creation handler would
  EXPECT_TRUE(window.IsClosed());
  EXPECT_FALSE(app::StartProgram(window, form));
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
