// updater-shot: starts the updater exactly as the program does, in a given
// program folder, on Qt's offscreen platform, and saves pictures of the
// window.
//
//   updater-shot --exe-dir DIR [--shot PATH | --press BUTTON]...
//
// The steps run in the order given: --shot saves the window as a PNG,
// --press clicks the button of that name (Button1, Button2, Button3) as the
// user would and lets the window handle what follows.
#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "platform/encoding.h"
#include "platform/qt/program_start.h"
#include "platform/qt/qt_main_window.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: updater-shot --exe-dir DIR [--shot PATH | --press BUTTON]...\n");
  return 2;
}

void Settle(platform::QtMainWindow& window) {
  QCoreApplication::processEvents();
  window.Flush();
  QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  std::string exe_dir;
  std::vector<std::pair<std::string, std::string>> steps;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
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

  int qt_argc = 3;
  char platform_option[] = "-platform";
  char platform_name[] = "offscreen";
  char* qt_argv[] = {argv[0], platform_option, platform_name, nullptr};
  QApplication application(qt_argc, qt_argv);

  platform::QtMainWindow window;
  app::TForm1 form(window, platform::Utf8ToGbk(exe_dir));
  platform::StartProgram(window, form);
  Settle(window);

  for (const auto& [option, value] : steps) {
    if (option == "--press") {
      auto* button = window.findChild<QPushButton*>(QString::fromStdString(value));
      if (button == nullptr) {
        std::fprintf(stderr, "updater-shot: no button %s\n", value.c_str());
        return 1;
      }
      button->click();
      Settle(window);
    } else {
      if (!window.grab().save(QString::fromStdString(value), "PNG")) {
        std::fprintf(stderr, "updater-shot: cannot save %s\n", value.c_str());
        return 1;
      }
      std::printf("%s\n", value.c_str());
    }
  }
  return 0;
}
