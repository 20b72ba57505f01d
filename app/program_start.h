// The program's start path, shared by the updater and its screenshot tool:
// the window logic is bound to the window, and its creation handler runs to
// its end before the window is first shown.
#pragma once

#include "app/main_window.h"
#include "platform/window.h"

namespace app {

// Runs FormCreate under the handlers' guard, then shows the window unless a
// close already went ahead. Gives whether the window is shown.
bool StartProgram(platform::MainWindow& window, TForm1& form);

}  // namespace app
