// The updater's window logic: the fields of the window and its event
// handlers, written against the window interface only. The handlers live in
// several files, one per step of an update:
//   main_window.cpp         creation, close, the error box, event routing
//   update_check.cpp        Button1Click, ListServerFolders
//   descriptor_retrieval.cpp BitBtn2Click, ListRemoteFiles
//   file_list.cpp           Button4Click, FileListHasName
//   download.cpp            Button2Click
//   progress_display.cpp    FTPClientWorkBegin, FTPClientWork, FTPClientWorkEnd
//   signed_update.cpp       the signed release's checks inside the steps above
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/connection_settings.h"
#include "app/release_verifier.h"
#include "app/shell_list_view.h"
#include "app/window_pending_input.h"
#include "ftp/ftp_client.h"
#include "net/anti_freeze.h"
#include "net/component.h"
#include "platform/window.h"
#include "settings/ini_file.h"

namespace app {

// How the last check or download ended, set with the status message that
// ends it: what a caller without a screen reads in place of the texts.
enum class UpdateOutcome {
  kNone,             // running, not begun, or the user kept the open connection
  kUpToDate,         // a check found no file to fetch
  kUpdatesFound,     // a check listed rows
  kCheckFailed,      // a check could not connect, log in or read the server
  kSettingsRefused,  // connection keys that cannot be honoured: nothing was sent
  kTLSRefused,       // a secure connection was asked for and failed
  kReleaseRefused,   // the signed release, or a file not as signed, was refused
  kRowsFailed,       // a download in which a ticked row failed
  kWriteFailed,      // a download that could not write a local file
  kUpdated,          // a download completed, recorded and put in place
};

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
  void Button1Click();  // the update check
  void BitBtn2Click();  // descriptor retrieval, a step of the check
  void Button4Click();  // the file list, a step of the check
  void Button2Click();  // download and apply
  void Button3Click();
  void FTPClientWorkBegin(net::TIdComponent* Sender, net::TWorkMode AWorkMode, int32_t AWorkCountMax);
  void FTPClientWork(net::TIdComponent* Sender, net::TWorkMode AWorkMode, int32_t AWorkCount);
  void FTPClientWorkEnd(net::TIdComponent* Sender, net::TWorkMode AWorkMode);

  // Appends the names of the sub-folders of ProductDir on the server.
  void ListServerFolders(std::vector<std::string>& Names);
  // Fills lvRemote from a listing of the server's current folder.
  void ListRemoteFiles();
  // Whether a row of the file list has exactly this name (bytes, case too).
  bool FileListHasName(const std::string& Name) const;
  // The byte count of the file in transfer when it is known: during a
  // download, the signed count of the row being fetched, or the size the
  // server reported for a row of type "BIN"; -1 otherwise (listings, the
  // check's files, other rows, whose bar keeps the last "BIN" size).
  int64_t KnownTransferSize() const;

  // Runs a handler the way the window runs every handler: an error that
  // escapes it is shown in the error box, and the program goes on. Nothing
  // escapes: a box that cannot be shown is written to standard error.
  void RunGuarded(const std::function<void()>& handler) noexcept;

  // platform::WindowEvents, each under the guard.
  void ButtonClicked(platform::Control button) override;
  bool CloseQuery() override;

  // The program's title: the executable's name without its extension.
  std::string Title;

  std::string ExeDir;
  // The settings file: ExeDir + "updateset.inf" unless set otherwise before
  // FormCreate. Every step reads and writes this one file.
  std::string SettingsPath;
  std::unique_ptr<settings::TIniFile> SettingsFile;
  std::string UpdateHost;
  std::string FtpUser;
  std::string FtpPassword;
  // Passive mode and proxies, read with the host and the account.
  ConnectionSettings Connection;
  std::string ProductDir;
  std::string MainAppName;
  double ExpectedFileSize = 0;
  double TransferStart = 0;
  double TransferSpeed = 0;
  bool Transferring = false;
  // Whether a completed download starts the main program it put in place.
  bool StartMainProgram = true;
  UpdateOutcome Outcome = UpdateOutcome::kNone;

  // The local clock the transfer handlers read (days since 1899-12-30);
  // tests put a clock of their own here.
  double (*Clock)() = nullptr;

  // The release key built into the program (minisign's "RW..." text from the
  // build option UPDATER_PUBLIC_KEY), empty for none. With a key (this one,
  // or else public_key of updateset.inf) every update must be signed by it.
  std::string BuiltInPublicKey;

  ftp::TIdFTP FTPClient;
  net::TIdAntiFreeze IdAntiFreeze1;
  std::vector<TRemoteRow> lvRemote;
  TShellListView ShellListView1;

 private:
  // The error box of an error's message; standard error when the box fails.
  void ReportError(const std::string& message) noexcept;
  // The end of a download that did not complete: the overall bar back to
  // 0, the message, and Check enabled for another try.
  void EndFailedDownload(const std::string& message, UpdateOutcome outcome);
  // Removes the temporary files that writers of an earlier run, killed
  // mid-write, left in the program's folders.
  void RemoveLeftovers();

  // Signed updates (signed_update.cpp). The key in force: the built-in one,
  // else the settings file's; nullopt for none; EReleaseRefused for a key
  // that is set but not a minisign key.
  std::optional<minisign::PublicKey> ReleaseKey(settings::TIniFile& settings_file) const;
  // Fetches and verifies the signed release (version file and descriptors)
  // before the check touches anything; raises EReleaseRefused.
  void VerifySignedRelease(const minisign::PublicKey& key, settings::TIniFile& settings_file, int32_t local_version);
  // The verified version file in place of the download of the check.
  void StoreSignedVersionFile();
  // The verified descriptors in place of their downloads; their rows give
  // signed_files_.
  void StoreSignedDescriptors();
  // Status message and buttons after a refusal.
  void ShowRefusal(const EReleaseRefused& refusal);
  // Fetches a row's file; with a signed release, verified as it arrives and
  // removed when it is not the signed file.
  void FetchRowFile(const std::string& row_name, const std::string& type, const std::string& remote,
                    const std::string& local);
  // After a signed download in which every ticked row completed: records
  // the release (raises EIniFileException when it cannot be written).
  void RecordSignedRelease();

  std::optional<VerifiedRelease> signed_release_;
  SignedFiles signed_files_;

  platform::MainWindow& window_;
  WindowPendingInput window_input_{window_};
  // Panel 1's text, rebuilt in place on every block of a transfer.
  std::string speed_text_;
};

// The error box's text for an error message: a period is appended when the
// last byte sorts after "." in byte order.
std::string ErrorBoxMessage(const std::string& message);

}  // namespace app
