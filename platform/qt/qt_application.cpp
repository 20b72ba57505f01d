#include "platform/qt/qt_application.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/qt/qt_main_window.h"

namespace platform {

void PrepareEventLoop() { qputenv("QT_NO_GLIB", "1"); }

namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Qt ends with a fatal message when no platform plugin could start; while
// the application object is made that means no display, said our way.
QtMessageHandler g_previous_handler = nullptr;

void NoDisplayHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    if (g_previous_handler != nullptr) g_previous_handler(type, context, message);
    return;
  }
  std::fprintf(stderr, "%s\n%s", message.toLocal8Bit().constData(), QtApplication::NoDisplayMessage());
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace

bool QtApplication::DisplayAvailable() {
  if (const char* platforms = std::getenv("QT_QPA_PLATFORM")) {
    // A list such as "wayland;xcb", each name perhaps with ":options".
    const std::string list = platforms;
    size_t begin = 0;
    while (begin <= list.size()) {
      size_t end = list.find(';', begin);
      if (end == std::string::npos) end = list.size();
      const std::string entry = list.substr(begin, end - begin);
      const std::string name = entry.substr(0, entry.find(':'));
      for (const char* needs_none : {"offscreen", "minimal", "minimalegl", "linuxfb", "eglfs", "vnc", "vkkhrdisplay"}) {
        if (name == needs_none) return true;
      }
      begin = end + 1;
    }
  }
  return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

const char* QtApplication::NoDisplayMessage() {
  return "升级程序需要图形显示，但没有可用的显示。 The updater needs a graphical display, and none is available.\n"
         "没有显示时请用命令行：updater --check 或 updater --update（详见 updater --help）。"
         " Without one, use the command line: updater --check or updater --update (see updater --help).\n";
}

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
  if (display == Display::kDefault) g_previous_handler = qInstallMessageHandler(NoDisplayHandler);
  parts_->application = std::make_unique<QApplication>(parts_->argc, parts_->argv);
  if (display == Display::kDefault) qInstallMessageHandler(g_previous_handler);
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
