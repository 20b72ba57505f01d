#include "app/main_window.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "app/built_in_key.h"
#include "app/texts.h"
#include "app/tls_settings.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/encoding.h"
#include "platform/files.h"

namespace app {
namespace {

using texts::kSettingsSection;
const std::string kUnknownError = "Unknown error";

// The folder part of a path, up to and including its last separator.
std::string FolderOf(const std::string& path) {
  const size_t last = path.rfind('/');
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

// The file name without folder and without its last extension.
std::string TitleOf(const std::string& path) {
  std::string name = path.substr(FolderOf(path).size());
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace

std::string ErrorBoxMessage(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.')) {
    return message + ".";
  }
  return message;
}

TForm1::TForm1(platform::MainWindow& window) : TForm1(window, FolderOf(platform::ExecutablePath())) {}

TForm1::TForm1(platform::MainWindow& window, std::string exe_dir)
    : Title(TitleOf(platform::ExecutablePath())),
      ExeDir(std::move(exe_dir)),
      SettingsPath(ExeDir + texts::kSettingsFileName),
      Clock(&platform::Now),
      BuiltInPublicKey(BuiltInReleaseKey()),
      window_(window) {
  FTPClient.ReadTimeout = 0;
  FTPClient.RecvBufferSize = 8192;
  FTPClient.SendBufferSize = 4096;
  FTPClient.MaxLineAction = net::maException;
  FTPClient.OnWorkBegin = [this](net::TIdComponent* sender, net::TWorkMode mode, int32_t max) {
    FTPClientWorkBegin(sender, mode, max);
  };
  FTPClient.OnWork = [this](net::TIdComponent* sender, net::TWorkMode mode, int32_t count) {
    FTPClientWork(sender, mode, count);
  };
  FTPClient.OnWorkEnd = [this](net::TIdComponent* sender, net::TWorkMode mode) { FTPClientWorkEnd(sender, mode); };
  IdAntiFreeze1.SetPendingInput(&window_input_);
}

TForm1::~TForm1() {
  IdAntiFreeze1.SetPendingInput(nullptr);
  window_.SetEvents(nullptr);
}

void TForm1::FormCreate() {
  SettingsFile = std::make_unique<settings::TIniFile>(SettingsPath);
  UpdateHost = SettingsFile->ReadTextValue(kSettingsSection, "updateadd", "127.0.0.1");
  FtpUser = SettingsFile->ReadTextValue(kSettingsSection, "ftpuser", "tarnivelo");
  FtpPassword = SettingsFile->ReadTextValue(kSettingsSection, "ftppass", "qmzwkt");
  Connection = ConnectionSettings::Read(*SettingsFile);
  ReadTLSSettings(*SettingsFile, ExeDir, FTPClient);
  window_.SetText(platform::Control::Edit2, "ftp://" + UpdateHost);
  // One level at a time: when Update cannot be made, nowlog fails too, and
  // neither failure is reported.
  if (!platform::DirectoryExists(ExeDir + "Update")) platform::CreateDirectory(ExeDir + "Update");
  if (!platform::DirectoryExists(ExeDir + "Update\\nowlog")) platform::CreateDirectory(ExeDir + "Update\\nowlog");
  RemoveLeftovers();
  // The first check runs once the window is on screen, so that a server
  // that is slow to answer never leaves the user without a window.
  window_.SetStatusMessage(texts::kConnecting);
  window_.RunWhenShown([this] { RunGuarded([this] { Button1Click(); }); });
}

void TForm1::RemoveLeftovers() {
  const std::string program_folder = platform::ResolvePath(ExeDir);
  platform::RemoveAbandonedTemporaryFiles(program_folder);
  // A settings file given elsewhere is rewritten in its own folder.
  const std::string settings_folder = platform::ResolvePath(FolderOf(SettingsPath));
  if (settings_folder != program_folder) platform::RemoveAbandonedTemporaryFiles(settings_folder);
  const std::string update = ExeDir + "Update";
  if (!platform::DirectoryExists(update)) return;
  platform::RemoveAbandonedTemporaryFiles(platform::ResolvePath(update));
  // nowlog, log and the mirrors of the server's folders.
  for (const platform::FolderEntry& entry : platform::ListFolder(update)) {
    if (entry.is_folder) platform::RemoveAbandonedTemporaryFiles(platform::ResolvePath(entry.path));
  }
}

void TForm1::FormCloseQuery(bool& CanClose) {
  // A close that went ahead has written the key and released the file; a
  // later request (a download running on) has nothing left to write.
  if (SettingsFile) {
    try {
      SettingsFile->WriteTextValue(kSettingsSection, "update", UpdateHost);
    } catch (const std::exception& error) {
      // Said once, and the window closes all the same: the key only repeats
      // the host, and a window that cannot close helps nobody.
      ReportError(error.what());
    }
    SettingsFile.reset();
  }
  CanClose = true;
}

void TForm1::Button3Click() { window_.RequestClose(); }

void TForm1::RunGuarded(const std::function<void()>& handler) noexcept {
  try {
    handler();
  } catch (const std::exception& error) {
    ReportError(error.what());
  } catch (...) {
    ReportError(kUnknownError);
  }
}

void TForm1::ReportError(const std::string& message) noexcept {
  try {
    window_.ShowError(Title, ErrorBoxMessage(message));
    return;
  } catch (...) {
    // The box itself failed (its text could not be converted, say).
  }
  try {
    std::string shown = message;
    try {
      shown = platform::GbkToUtf8(message);
    } catch (...) {
      // the bytes as they are
    }
    std::fprintf(stderr, "%s: %s\n", Title.c_str(), shown.c_str());
  } catch (...) {
    std::fputs("updater: an error could not be shown\n", stderr);
  }
}

void TForm1::ButtonClicked(platform::Control button) {
  RunGuarded([&] {
    switch (button) {
      case platform::Control::Button1:
        Button1Click();
        break;
      case platform::Control::Button2:
        Button2Click();
        break;
      case platform::Control::Button3:
        Button3Click();
        break;
      default:
        break;
    }
  });
}

bool TForm1::CloseQuery() {
  bool can_close = false;
  RunGuarded([&] { FormCloseQuery(can_close); });
  return can_close;
}

}  // namespace app
