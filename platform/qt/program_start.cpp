#include "platform/qt/program_start.h"

namespace platform {

bool StartProgram(QtMainWindow& window, app::TForm1& form) {
  window.SetEvents(&form);
  form.RunGuarded([&] { form.FormCreate(); });
  if (window.IsClosed()) return false;
  window.show();
  return true;
}

}  // namespace platform
