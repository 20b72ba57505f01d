// What the Qt benchmarks share: the process's processor time, and the real
// window on Qt's offscreen platform with TForm1 bound to it in a fresh
// program folder of its own.
#pragma once

#include <sys/resource.h>

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_main_window.h"
#include "platform/qt/qt_main_window.h"

namespace bench {

// User plus system time of the whole process, in seconds.
inline double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A QApplication on the offscreen platform, whatever the environment says.
class OffscreenApplication {
 public:
  explicit OffscreenApplication(char* program) : argv_{program, option_, name_, nullptr}, app_(argc_, argv_) {}

 private:
  // Before the application object: the event dispatcher the program uses.
  struct Prepared {
    Prepared() { platform::PrepareEventLoop(); }
  } prepared_;
  int argc_ = 3;
  char option_[10] = "-platform";
  char name_[10] = "offscreen";
  char* argv_[4];
  QApplication app_;
};

// The shown window and its logic, without the start-up check: the benchmarks
// drive the handlers or the FTP client themselves.
class OffscreenForm {
 public:
  explicit OffscreenForm(const std::string& name) : folder_("/tmp/" + name + "_XXXXXX") {
    if (mkdtemp(folder_.data()) == nullptr) std::abort();
    form_ = std::make_unique<app::TForm1>(window_, folder_ + "/");
    window_.SetEvents(form_.get());
    window_.show();
    QCoreApplication::processEvents();
  }
  ~OffscreenForm() {
    form_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  OffscreenForm(const OffscreenForm&) = delete;
  OffscreenForm& operator=(const OffscreenForm&) = delete;

  platform::QtMainWindow& Window() { return window_; }
  app::TForm1& Form() { return *form_; }
  // The program folder, ending with "/"; removed with everything in it at the end.
  std::string Folder() const { return folder_ + "/"; }

 private:
  std::string folder_;
  platform::QtMainWindow window_;
  std::unique_ptr<app::TForm1> form_;
};

}  // namespace bench
