#include "platform/qt/program_start.h"

#include <QtGlobal>

namespace platform {

void PrepareEventLoop() { qputenv("QT_NO_GLIB", "1"); }

bool StartProgram(QtMainWindow& window, app::TForm1& form) {
  window.SetEvents(&form);
  form.RunGuarded([&] { form.FormCreate(); });
  if (window.IsClosed()) return false;
  window.show();
  return true;
}

}  // namespace platform
