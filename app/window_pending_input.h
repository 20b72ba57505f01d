// The window's pending input as the keep-responsive component sees it: the
// transport knows only this hook, never the window.
#pragma once

#include "net/anti_freeze.h"
#include "platform/window.h"

namespace app {

class WindowPendingInput : public net::TIdPendingInput {
 public:
  explicit WindowPendingInput(platform::MainWindow& window) : window_(window) {}
  void ProcessAllPendingInput() override { window_.ProcessAllPendingInput(); }
  void ProcessOnePendingInput() override { window_.ProcessOnePendingInput(); }

 private:
  platform::MainWindow& window_;
};

}  // namespace app
