// The updater. Without arguments: one window, shown at once, its first
// update check run from the message loop, which then runs until the window
// closes. With arguments: the command line (app/command_line.h), which runs
// the same logic on the terminal and never starts the toolkit, so it needs
// no display. Nothing escapes main: an error that reaches it is written to
// standard error and the program ends with status 1.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/program_start.h"
#include "platform/qt/qt_application.h"

int main(int argc, char** argv) {
  try {
    if (argc > 1) return app::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!platform::QtApplication::DisplayAvailable()) {
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
