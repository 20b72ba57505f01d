// The start path that the updater and its screenshot tool share: the window
// logic is bound to the window and its creation handler runs to its end
// before the window is first shown.
#pragma once

#include "app/main_window.h"
#include "platform/qt/qt_main_window.h"

namespace platform {

// Call before the QApplication exists. Picks Qt's own event dispatcher over
// glib's: the updater registers no glib sources, and a transfer processes
// pending input once per received block, where Qt's own pass costs about
// half as much.
void PrepareEventLoop();

// Runs FormCreate under the handlers' guard, then shows the window unless a
// close already went ahead. Gives whether the window is shown.
bool StartProgram(QtMainWindow& window, app::TForm1& form);

}  // namespace platform
