// The updater's window logic: the fields of the window and its event
// handlers, written against the window interface only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/shell_list_view.h"
#include "platform/window.h"
#include "settings/ini_file.h"

namespace app {

// One row of the remote listing table: an entry's name and its kind text.
struct TRemoteRow {
  std::string name;
  std::string kind;
};

class TForm1 : public platform::WindowEvents {
 public:
  // ExeDir is the folder of the running executable.
  explicit TForm1(platform::MainWindow& window);
  // ExeDir as given (GBK, ending with a separator): tests run the logic in a
  // program folder of their own.
  TForm1(platform::MainWindow& window, std::string exe_dir);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Handlers.
  void FormCreate();
  void FormCloseQuery(bool& CanClose);
  void Button1Click();
  void Button3Click();

  // Runs a handler the way the window runs every handler: an error that
  // escapes it is shown in the error box, and the program goes on.
  void RunGuarded(const std::function<void()>& handler);

  // platform::WindowEvents, each under the guard.
  void ButtonClicked(platform::Control button) override;
  bool CloseQuery() override;

  // The program's title: the executable's name without its extension.
  std::string Title;

  std::string ExeDir;
  std::unique_ptr<settings::TIniFile> SettingsFile;
  std::string UpdateHost;
  std::string FtpUser;
  std::string FtpPassword;
  std::string ProductDir;
  std::string MainAppName;
  double ExpectedFileSize = 0;
  double TransferStart = 0;
  double TransferSpeed = 0;
  bool Transferring = false;

  std::vector<TRemoteRow> lvRemote;
  TShellListView ShellListView1;

 private:
  platform::MainWindow& window_;
};

// The error box's text for an error message: a period is appended when the
// last byte sorts after "." in byte order.
std::string ErrorBoxMessage(const std::string& message);

}  // namespace app
