// Download and apply: fetch every ticked row into Update; when all of them
// completed, record the server's version numbers, put the new main program
// in place, start it, close; otherwise say so and let the user check again.
#include <set>
#include <stdexcept>
#include <string>

#include "app/main_window.h"
#include "app/safe_paths.h"
#include "app/texts.h"
#include "app/verifying_stream.h"
#include "platform/files.h"
#include "platform/stream.h"

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
  Outcome = UpdateOutcome::kNone;
  window_.SetStatusMessage(texts::kDownloading);
  window_.SetEnabled(Control::Button1, false);
  window_.SetEnabled(Control::Button2, false);

  const int rows = window_.RowCount();
  window_.SetProgressRange(ProgressBar::ProgressBar2, 0, rows);

  bool versions_read = false;
  int32_t client_version = 1;
  int32_t database_version = 1;
  bool row_failed = false;    // a ticked row ended "失败"
  bool local_failure = false;  // ... because a local file could not be written
  bool refused_file = false;   // ... because a file was not the signed one
  // The local files this download completed, by their paths on disk.
  std::set<std::string> completed;

  for (int row = 0; row < rows && row < window_.RowCount(); ++row) {
    if (window_.IsRowChecked(row)) {
      window_.SetRowText(row, FileColumn::Status, texts::kDownloadingRow);
      const std::string type = texts::UpperAscii(window_.RowText(row, FileColumn::Type));
      const std::string row_name = window_.RowText(row, FileColumn::Name);
      std::string name = row_name;
      if (type == "BIN") name.erase(0, 4);
      const std::string local = ExeDir + "Update/" + name;
      bool ok = false;
      try {
        // A name that would reach outside Update is neither deleted nor fetched.
        if (!IsSafeRelativeName(name)) throw EUnsafeName("unsafe name");
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
      } catch (const EFileNotAsSigned&) {
        refused_file = true;  // not the signed file: the server's doing, not the disk's
      } catch (const platform::EStreamError&) {
        local_failure = true;  // the file could not be created or written
      } catch (...) {
      }
      if (!ok) {
        window_.SetRowText(row, FileColumn::Status, texts::kRowFailed);
        row_failed = true;
        continue;  // a failed row does not advance the overall bar
      }
      completed.insert(platform::ResolvePath(local));
    }
    window_.SetProgressPosition(ProgressBar::ProgressBar2, window_.ProgressPosition(ProgressBar::ProgressBar2) + 1);
    window_.ProcessAllPendingInput();
  }

  // Recorded versions say the update is in place, so they are written only
  // when every ticked row completed: after a failed row the next check must
  // offer the same files again. And a new main program beside files of the
  // old version is worse than the old product: it is put in place (and
  // started, and the window closed) only with everything else. A signed
  // download that did not complete installs nothing either.
  if (row_failed) {
    EndFailedDownload(local_failure  ? texts::kDownloadWriteFailed
                      : signed_release_ ? texts::kSignedDownloadFailed
                                        : texts::kDownloadIncomplete,
                      local_failure  ? UpdateOutcome::kWriteFailed
                      : refused_file ? UpdateOutcome::kReleaseRefused
                                     : UpdateOutcome::kRowsFailed);
    return;
  }
  // The new main program goes in place before the versions are recorded:
  // a copy that fails (a full disk) leaves the installed one whole, and the
  // update then stays on offer instead of being recorded as done. With a
  // signed release only a main program verified just now is used.
  MainAppName = settings::TIniFile(SettingsPath).ReadTextValue("mainapp", "Sys_name", "Oxbar_tn.exe");
  const bool main_app_safe = IsSafeRelativeName(MainAppName);
  const std::string installed = ExeDir + MainAppName;
  if (main_app_safe) {
    const std::string fetched = ExeDir + "Update\\" + MainAppName;
    const bool verified_now = completed.count(platform::ResolvePath(fetched)) != 0;
    if (platform::FileExists(fetched) && (!signed_release_ || verified_now) &&
        !platform::CopyFileOver(fetched, installed)) {
      EndFailedDownload(texts::kDownloadWriteFailed, UpdateOutcome::kWriteFailed);
      return;
    }
  }

  try {
    RecordSignedRelease();
    // Without a completed row no version file was read: writing the
    // defaults would make the next check offer old descriptors again.
    if (versions_read) {
      settings::TIniFile settings_file(SettingsPath);
      settings_file.WriteIntegerValue(texts::kSettingsSection, "client_version", client_version);
      settings_file.WriteIntegerValue(texts::kSettingsSection, "database_version", database_version);
    }
  } catch (const settings::EIniFileException& error) {
    ReportError(error.what());
    EndFailedDownload(texts::kDownloadWriteFailed, UpdateOutcome::kWriteFailed);
    return;
  }

  window_.SetProgressPosition(ProgressBar::ProgressBar2, 0);
  window_.SetStatusMessage(texts::kReady);
  Outcome = UpdateOutcome::kUpdated;
  if (main_app_safe && StartMainProgram) platform::OpenFile(installed);
  window_.RequestClose();
}

void TForm1::EndFailedDownload(const std::string& message, UpdateOutcome outcome) {
  window_.SetProgressPosition(ProgressBar::ProgressBar2, 0);
  window_.SetStatusMessage(message);
  Outcome = outcome;
  window_.SetEnabled(Control::Button1, true);
}

}  // namespace app
