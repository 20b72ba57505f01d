// The window toolkit as the programs see it: Qt's application object and the
// one main window, behind a header that includes no Qt, so that the programs
// and the window logic stay free of the toolkit.
#pragma once

#include <memory>
#include <string>

#include "platform/window.h"

namespace platform {

// Call before the application object exists (the constructor below does).
// Picks Qt's own event dispatcher over glib's: the updater registers no glib
// sources, and a transfer processes pending input once per received block,
// where Qt's own pass costs about half as much.
void PrepareEventLoop();

class QtApplication {
 public:
  enum class Display { kDefault, kOffscreen };

  // Whether the toolkit can put a window anywhere: a display is named
  // (DISPLAY or WAYLAND_DISPLAY), or QT_QPA_PLATFORM names a platform that
  // needs none (offscreen, minimal, a frame buffer). Touches no Qt.
  static bool DisplayAvailable();
  // The lines, Chinese and English, that say a display is needed and that
  // the command line needs none.
  static const char* NoDisplayMessage();

  // program_path: argv[0]. Qt sees no other argument: the program's own
  // arguments are not the toolkit's. With kDefault, a display that Qt cannot
  // open after all (DISPLAY names no running server) ends the program with
  // Qt's message, NoDisplayMessage and status 1 instead of an abort.
  QtApplication(const char* program_path, Display display);
  ~QtApplication();
  QtApplication(const QtApplication&) = delete;
  QtApplication& operator=(const QtApplication&) = delete;

  MainWindow& Window();

  // Runs the message loop until the window has closed; gives its exit code.
  int Exec();

  // For the screenshot tool: handles what is pending and draws the pending
  // display state, so that a picture shows the latest state.
  void Settle();
  // Clicks the button of that object name as the user would and lets the
  // window handle what follows; false when there is no such button.
  bool Click(const std::string& object_name);
  // Saves a picture of the window as a PNG file; false when it cannot.
  bool SaveScreenshot(const std::string& path);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace platform
