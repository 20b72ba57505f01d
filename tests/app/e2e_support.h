// One end-to-end run of the updater on the headless window: a base folder
// holding the server's root (server/) with the product folder and the
// program folder (program/), a real FTP server on port 21 of a loopback
// address of the test's own, and the window logic.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/program_start.h"
#include "platform/encoding.h"
#include "platform/headless/headless_window.h"
#include "settings/ini_file.h"
#include "support/product_fixture.h"
#include "support/pyftpd.h"
#include "support/test_util.h"

namespace e2e {

using platform::Control;
using platform::FileColumn;
using platform::HeadlessWindow;
using platform::ProgressBar;

inline bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline bool IsFile(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

class UpdaterRun {
 public:
  UpdaterRun() : product(base.File("server")) { std::filesystem::create_directories(Program()); }

  // The folder the updater runs in, without the trailing "/".
  std::string Program() const { return base.File("program"); }
  std::string Local(const std::string& relative) const { return Program() + "/" + relative; }

  void StartServer(const std::string& address, bool refuse_size = false) {
    server = std::make_unique<test_support::PyFtpd>(test_support::PyFtpdOptions{
        .root = base.File("server"), .address = address, .port = 21, .user = "tarnivelo",
        .password = "qmzwkt", .refuse_size = refuse_size});
  }
  void WriteSettings(const std::string& host, int client_version, const std::string& extra = "") const {
    test_support::WriteFile(Local("updateset.inf"), test_support::SettingsFileText(host, client_version, extra));
  }
  // The program's start: window creation, the window shown, and the first
  // check that runs once it is on screen.
  void Create() {
    form = std::make_unique<app::TForm1>(window, Program() + "/");
    app::StartProgram(window, *form);
  }
  int32_t SettingsInteger(const std::string& key) const {
    return settings::TIniFile(Local("updateset.inf")).ReadIntegerValue("kvdatacont", key, -999);
  }
  std::vector<std::string> Column(FileColumn column) const {
    std::vector<std::string> texts;
    for (int row = 0; row < window.RowCount(); ++row) texts.push_back(platform::GbkToUtf8(window.RowText(row, column)));
    return texts;
  }
  std::string Message() const { return platform::GbkToUtf8(window.StatusMessage()); }

  test_support::TempDir base;
  test_support::ProductFixture product;
  std::unique_ptr<test_support::PyFtpd> server;
  HeadlessWindow window;
  std::unique_ptr<app::TForm1> form;
};

}  // namespace e2e
