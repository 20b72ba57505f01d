// The start path that the updater and its screenshot tool share: the window
// logic is bound to the window and its creation handler runs to its end
// before the window is first shown.
#pragma once

#include "app/main_window.h"
#include "platform/qt/qt_main_window.h"

namespace platform {

// Runs FormCreate under the handlers' guard, then shows the window unless a
// close already went ahead. Gives whether the window is shown.
bool StartProgram(QtMainWindow& window, app::TForm1& form);

}  // namespace platform
