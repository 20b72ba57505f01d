// The program's start path on the real window: the creation handler runs to
// its end before the window shows, and closing with Alt+X ends the message
// loop after the settings file was written.
#include "app/program_start.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_main_window.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/main_window.h"
#include "qt_test_support.h"
#include "support/scratch_folder.h"

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
