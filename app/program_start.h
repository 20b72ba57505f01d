// The program's start path, shared by the updater and its screenshot tool:
// the window logic is bound to the window, its creation handler runs, and
// the window is shown; the first update check then runs from the message
// loop, with the window already on screen.
#pragma once

#include "app/main_window.h"
#include "platform/window.h"

namespace app {

// Runs FormCreate under the handlers' guard, then shows the window unless a
// close already went ahead. Gives whether the window is shown. The check
// that FormCreate queued runs at the message loop's first pass (on the
// headless window: within Show).
bool StartProgram(platform::MainWindow& window, TForm1& form);

}  // namespace app
