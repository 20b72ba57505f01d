#include "app/program_start.h"

namespace app {

bool StartProgram(platform::MainWindow& window, TForm1& form) {
  window.SetEvents(&form);
  form.RunGuarded([&] { form.FormCreate(); });
  if (window.IsClosed()) return false;
  window.Show();
  return true;
}

}  // namespace app
