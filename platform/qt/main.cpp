// The updater: one window, its creation handler run to its end before it is
// shown, then the message loop until the window closes.
#include <QApplication>

#include "app/main_window.h"
#include "platform/qt/program_start.h"
#include "platform/qt/qt_main_window.h"

int main(int, char** argv) {
  // The program takes no arguments: Qt sees only the program's name.
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  platform::PrepareEventLoop();
  QApplication application(qt_argc, qt_argv);
  platform::QtMainWindow window;
  app::TForm1 form(window);
  if (platform::StartProgram(window, form)) QApplication::exec();
  return 0;
}
