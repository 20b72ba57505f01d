// Download and apply: fetch every ticked row into Update, record the server's
// version numbers, put the new main program in place, start it, close.
#include <map>
#include <stdexcept>
#include <string>

#include "app/main_window.h"
#include "app/safe_paths.h"
#include "app/texts.h"
#include "platform/files.h"

namespace app {
namespace {

class EUnsafeName : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

using platform::Control;
using platform::FileColumn;
using platform::ProgressBar;

void TForm1::Button2Click() {
  window_.SetStatusMessage(texts::kDownloading);
  window_.SetEnabled(Control::Button1, false);
  window_.SetEnabled(Control::Button2, false);

  const int rows = window_.RowCount();
  window_.SetProgressRange(ProgressBar::ProgressBar2, 0, rows);

  bool versions_read = false;
  int32_t client_version = 1;
  int32_t database_version = 1;
  // The outcome of this download for each local file it touched, by its
  // path on disk: true when the last row for that file failed.
  std::map<std::string, bool> failed;
  bool every_row_completed = true;  // every ticked row

  for (int row = 0; row < rows && row < window_.RowCount(); ++row) {
    if (window_.IsRowChecked(row)) {
      window_.SetRowText(row, FileColumn::Status, texts::kDownloadingRow);
      const std::string type = texts::UpperAscii(window_.RowText(row, FileColumn::Type));
      const std::string row_name = window_.RowText(row, FileColumn::Name);
      std::string name = row_name;
      if (type == "BIN") name.erase(0, 4);
      const std::string local = ExeDir + "Update/" + name;
      const bool safe = IsSafeRelativeName(name);
      bool ok = false;
      try {
        // A name that would reach outside Update is neither deleted nor fetched.
        if (!safe) throw EUnsafeName("unsafe name");
        if (platform::FileExists(local)) platform::DeleteFile(local);
        if (type == "BIN") {
          const std::string remote = ProductDir + "Bin/" + name;
          ExpectedFileSize = FTPClient.QuerySize(remote);
          FetchRowFile(row_name, type, remote, local);
        } else {
          FetchRowFile(row_name, type, ProductDir + name, local);
        }
        window_.SetRowText(row, FileColumn::Status, texts::kRowDone);
        settings::TIniFile version_file(ExeDir + "Version.ini");
        client_version = version_file.ReadIntegerValue(texts::kSettingsSection, "client_version", 1);
        database_version = version_file.ReadIntegerValue(texts::kSettingsSection, "database_version", 1);
        versions_read = true;
        ok = true;
      } catch (...) {
        window_.SetRowText(row, FileColumn::Status, texts::kRowFailed);
      }
      if (safe) failed[platform::ResolvePath(local)] = !ok;
      every_row_completed = every_row_completed && ok;
      if (!ok) continue;  // a failed row does not advance the overall bar
    }
    window_.SetProgressPosition(ProgressBar::ProgressBar2, window_.ProgressPosition(ProgressBar::ProgressBar2) + 1);
    window_.ProcessAllPendingInput();
  }

  // A signed download that did not complete installs nothing.
  if (!FinishSignedDownload(every_row_completed)) {
    window_.SetProgressPosition(ProgressBar::ProgressBar2, 0);
    return;
  }

  // Without a completed row no version file was read: writing the defaults
  // would make the next check offer old descriptors again.
  if (versions_read) {
    settings::TIniFile settings_file(ExeDir + texts::kSettingsFileName);
    settings_file.WriteIntegerValue(texts::kSettingsSection, "client_version", client_version);
    settings_file.WriteIntegerValue(texts::kSettingsSection, "database_version", database_version);
  }

  window_.SetProgressPosition(ProgressBar::ProgressBar2, 0);
  window_.SetStatusMessage(texts::kReady);

  MainAppName = settings::TIniFile(ExeDir + texts::kSettingsFileName).ReadTextValue("mainapp", "Sys_name", "Oxbar_tn.exe");
  if (IsSafeRelativeName(MainAppName)) {
    const std::string fetched = ExeDir + "Update\\" + MainAppName;
    const std::string installed = ExeDir + MainAppName;
    const auto outcome = failed.find(platform::ResolvePath(fetched));
    const bool failed_now = outcome != failed.end() && outcome->second;
    // With a signed release only a main program verified just now is used.
    const bool verified_now = outcome != failed.end() && !outcome->second;
    // A main program whose row failed just now is only partly written: the
    // installed one stays. The copy replaces the installed file atomically.
    if (platform::FileExists(fetched) && !failed_now && (!signed_release_ || verified_now)) {
      platform::CopyFileOver(fetched, installed);
    }
    platform::OpenFile(installed);
  }

  window_.RequestClose();
}

}  // namespace app
