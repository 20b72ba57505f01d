// The one application object of the window tests, and a recording owner.
#pragma once

#include <QApplication>
#include <QTest>
#include <string>
#include <vector>

#include "platform/encoding.h"
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

// Lets the message loop run the first check, which the program starts once
// its window is on screen, until that check has ended (the Check or the
// Download button enabled again); false after the deadline.
inline bool WaitForFirstCheck(platform::MainWindow& window, int deadline_ms = 60000) {
  static const std::string connecting = platform::Utf8ToGbk("正在连接服务器...");
  return QTest::qWaitFor(
      [&] {
        return window.StatusMessage() != connecting &&
               (window.IsEnabled(platform::Control::Button1) || window.IsEnabled(platform::Control::Button2));
      },
      deadline_ms);
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
