// The updater: one window, shown at once, its first update check run from
// the message loop, which then runs until the window closes. Nothing
// escapes main: an error that reaches it is written to standard error and
// the program ends with status 1.
#include <cstdio>
#include <exception>

#include "app/main_window.h"
#include "app/program_start.h"
#include "platform/qt/qt_application.h"

int main(int, char** argv) {
  try {
    if (!platform::QtApplication::DisplayAvailable()) {
      // Without a display there is no window to show. (A mode without a
      // window, for such machines, would start here.)
      std::fputs(platform::QtApplication::NoDisplayMessage(), stderr);
      return 1;
    }
    platform::QtApplication application(argv[0], platform::QtApplication::Display::kDefault);
    app::TForm1 form(application.Window());
    if (app::StartProgram(application.Window(), form)) application.Exec();
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "updater: %s\n", error.what());
  } catch (...) {
    std::fputs("updater: unknown error\n", stderr);
  }
  return 1;
}
