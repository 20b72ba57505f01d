// The one application object of the window tests, and a recording owner.
#pragma once

#include <QApplication>
#include <vector>

#include "platform/qt/qt_application.h"
#include "platform/qt/qt_main_window.h"
#include "platform/window.h"

namespace qt_test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "qt_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    platform::PrepareEventLoop();  // the dispatcher the program uses
    return new QApplication(argc, argv);
  }();
  return *app;
}

class RecordingEvents : public platform::WindowEvents {
 public:
  void ButtonClicked(platform::Control button) override { clicks.push_back(button); }
  bool CloseQuery() override {
    ++close_queries;
    return allow_close;
  }
  std::vector<platform::Control> clicks;
  int close_queries = 0;
  bool allow_close = true;
};

}  // namespace qt_test
