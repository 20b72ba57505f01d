// updater-shot: starts the updater exactly as the program does, in a given
// program folder, on Qt's offscreen platform, and saves pictures of the
// window.
//
//   updater-shot --exe-dir DIR [--timings] [--shot PATH | --press BUTTON]...
//
// The steps run in the order given: --shot saves the window as a PNG,
// --press clicks the button of that name (Button1, Button2, Button3) as the
// user would and lets the window handle what follows. With --timings the
// wall time of the start (window creation with its first check) and of each
// press goes to stderr.
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "app/program_start.h"
#include "platform/encoding.h"
#include "platform/qt/qt_application.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: updater-shot --exe-dir DIR [--timings] [--shot PATH | --press BUTTON]...\n");
  return 2;
}

using Clock = std::chrono::steady_clock;

void Report(bool timings, const std::string& step, Clock::time_point start) {
  if (!timings) return;
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  std::fprintf(stderr, "updater-shot: %s took %.3f s\n", step.c_str(), static_cast<double>(elapsed.count()) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  std::string exe_dir;
  std::vector<std::pair<std::string, std::string>> steps;
  bool timings = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--timings") {
      timings = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const std::string value = argv[++i];
    if (option == "--exe-dir") {
      exe_dir = value;
    } else if (option == "--shot" || option == "--press") {
      steps.emplace_back(option, value);
    } else {
      return Usage();
    }
  }
  if (exe_dir.empty()) return Usage();
  if (exe_dir.back() != '/') exe_dir += '/';

  platform::QtApplication application(argv[0], platform::QtApplication::Display::kOffscreen);
  app::TForm1 form(application.Window(), platform::Utf8ToGbk(exe_dir));
  const Clock::time_point start = Clock::now();
  app::StartProgram(application.Window(), form);
  Report(timings, "start and first check", start);
  application.Settle();

  for (const auto& [option, value] : steps) {
    if (option == "--press") {
      const Clock::time_point pressed = Clock::now();
      if (!application.Click(value)) {
        std::fprintf(stderr, "updater-shot: no button %s\n", value.c_str());
        return 1;
      }
      Report(timings, "press " + value, pressed);
      application.Settle();
    } else {
      if (!application.SaveScreenshot(value)) {
        std::fprintf(stderr, "updater-shot: cannot save %s\n", value.c_str());
        return 1;
      }
      std::printf("%s\n", value.c_str());
    }
  }
  return 0;
}
