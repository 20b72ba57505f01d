#include "platform/qt/qt_application.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QtGlobal>

#include "platform/qt/qt_main_window.h"

namespace platform {

void PrepareEventLoop() { qputenv("QT_NO_GLIB", "1"); }

struct QtApplication::Parts {
  // QApplication keeps references to argc and argv for its whole life.
  int argc = 1;
  char* argv[4] = {};
  char platform_option[10] = "-platform";
  char platform_name[10] = "offscreen";
  std::unique_ptr<QApplication> application;
  std::unique_ptr<QtMainWindow> window;
};

QtApplication::QtApplication(const char* program_path, Display display) : parts_(std::make_unique<Parts>()) {
  parts_->argv[0] = const_cast<char*>(program_path);
  if (display == Display::kOffscreen) {
    parts_->argv[1] = parts_->platform_option;
    parts_->argv[2] = parts_->platform_name;
    parts_->argc = 3;
  }
  PrepareEventLoop();
  parts_->application = std::make_unique<QApplication>(parts_->argc, parts_->argv);
  parts_->window = std::make_unique<QtMainWindow>();
}

QtApplication::~QtApplication() {
  parts_->window.reset();  // widgets go before the application object
  parts_->application.reset();
}

MainWindow& QtApplication::Window() { return *parts_->window; }

int QtApplication::Exec() { return QApplication::exec(); }

void QtApplication::Settle() {
  QCoreApplication::processEvents();
  parts_->window->Flush();
  QCoreApplication::processEvents();
}

bool QtApplication::Click(const std::string& object_name) {
  auto* button = parts_->window->findChild<QPushButton*>(QString::fromStdString(object_name));
  if (button == nullptr) return false;
  button->click();
  return true;
}

bool QtApplication::SaveScreenshot(const std::string& path) {
  return parts_->window->grab().save(QString::fromStdString(path), "PNG");
}

}  // namespace platform
