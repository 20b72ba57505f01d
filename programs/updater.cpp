// The updater: one window, its creation handler run to its end before it is
// shown, then the message loop until the window closes.
#include "app/main_window.h"
#include "app/program_start.h"
#include "platform/qt/qt_application.h"

int main(int, char** argv) {
  platform::QtApplication application(argv[0], platform::QtApplication::Display::kDefault);
  app::TForm1 form(application.Window());
  if (app::StartProgram(application.Window(), form)) application.Exec();
  return 0;
}
