// The update check: connect, mirror the product's folders, fetch the version
// file, then the descriptors and the file list.
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/safe_paths.h"
#include "app/texts.h"
#include "app/tls_settings.h"
#include "platform/files.h"

namespace app {

using platform::Control;

void TForm1::Button1Click() {
  Outcome = UpdateOutcome::kNone;
  window_.SetStatusMessage(texts::kChecking);
  window_.SetEnabled(Control::Button1, false);

  if (FTPClient.Connected()) {
    if (!window_.Confirm(texts::kDisconnectQuestion)) return;
    try {
      if (Transferring) FTPClient.AbortTransfer();
      FTPClient.SignOff();
    } catch (...) {
      window_.Information(Title, texts::kTransferBusy);
    }
  }

  // Connection keys that cannot be honoured: nothing is sent, rather than
  // reaching the server some other way than the user asked.
  if (!Connection.Refusal().empty()) {
    window_.SetStatusMessage(texts::kSettingsRefused);
    Outcome = UpdateOutcome::kSettingsRefused;
    window_.SetEnabled(Control::Button1, true);
    return;
  }

  try {
    FTPClient.Host = UpdateHost;
    FTPClient.Port = 21;
    FTPClient.Username = FtpUser;
    FTPClient.Password = FtpPassword;
    Connection.ApplyTo(FTPClient);
    FTPClient.Connect(true, -1);
    window_.SetStatusPanel(0, texts::kConnected);

    settings::TIniFile settings_file(SettingsPath);
    const int32_t local_version = settings_file.ReadIntegerValue(texts::kSettingsSection, "client_version", 1);
    window_.SetText(Control::Label8, std::to_string(local_version));
    ProductDir = settings_file.ReadTextValue(texts::kSettingsSection, "productdir", "/qt482/");
    window_.SetText(Control::CurrentDirEdit, ProductDir);

    FTPClient.ChangeFolder(ProductDir);
    signed_release_.reset();
    if (const std::optional<minisign::PublicKey> key = ReleaseKey(settings_file)) {
      VerifySignedRelease(*key, settings_file, local_version);
    }
    std::vector<std::string> names;
    ListServerFolders(names);
    for (const std::string& name : names) {
      // A folder name that would reach outside Update is not mirrored.
      if (!IsSafeEntryName(name) || texts::UpperAscii(name) == "BIN") continue;
      const std::string folder = ExeDir + "Update\\" + name;
      if (!platform::DirectoryExists(folder)) platform::CreateDirectory(folder);
    }

    if (platform::FileExists(ExeDir + "version.ini")) platform::DeleteFile(ExeDir + "version.ini");
    if (signed_release_) {
      StoreSignedVersionFile();
    } else {
      FTPClient.Download(ProductDir + "version.ini", ExeDir + "version.ini", false, false);
    }
    settings::TIniFile version_file(ExeDir + "Version.ini");
    const int32_t offered_version = version_file.ReadIntegerValue(texts::kSettingsSection, "client_version", 1);
    window_.SetText(Control::Label10, std::to_string(offered_version));

    BitBtn2Click();
    Button4Click();
  } catch (const EReleaseRefused& refusal) {
    ShowRefusal(refusal);
    return;
  } catch (...) {
    // Nothing is undone and the error's own text is not shown; a secure
    // connection that failed says why.
    const std::exception_ptr error = std::current_exception();
    window_.SetStatusMessage(CheckFailedMessage(error));
    Outcome = IsTLSFailure(error) ? UpdateOutcome::kTLSRefused : UpdateOutcome::kCheckFailed;
    window_.SetEnabled(Control::Button1, true);
    return;
  }

  if (window_.RowCount() > 0) {
    Outcome = UpdateOutcome::kUpdatesFound;
    window_.SetEnabled(Control::Button2, true);
  } else {
    window_.SetStatusMessage(texts::kUpToDate);
    Outcome = UpdateOutcome::kUpToDate;
    window_.SetEnabled(Control::Button1, true);
  }
}

void TForm1::ListServerFolders(std::vector<std::string>& Names) {
  FTPClient.ChangeFolder(ProductDir);
  std::vector<std::string> lines;
  FTPClient.ListFolder(&lines, "", true);
  ftp::TIdFTPListItems& listing = FTPClient.ParsedListing();
  for (int i = 0; i < listing.Count(); ++i) {
    const ftp::TIdFTPListItem& item = listing.Items(i);
    if (item.EntryKind == ftp::litDirectory) Names.push_back(item.EntryName);
  }
}

}  // namespace app
