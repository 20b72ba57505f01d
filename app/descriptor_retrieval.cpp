// Descriptor retrieval: every descriptor in the server's log/ folder whose
// version number is above the local version is fetched into Update\nowlog
// (this check's descriptors) and Update\log (all descriptors ever fetched).
#include <algorithm>
#include <string>
#include <vector>

#include "app/descriptor_name.h"
#include "app/main_window.h"
#include "app/safe_paths.h"
#include "app/texts.h"
#include "platform/files.h"
#include "settings/integer_conversion.h"

namespace app {
namespace {

const std::string& KindText(ftp::TFTPListItemType kind) {
  switch (kind) {
    case ftp::litDirectory:
      return texts::kKindDirectory;
    case ftp::litSymbolicLink:
      return texts::kKindLink;
    case ftp::litFile:
      break;
  }
  return texts::kKindFile;
}

}  // namespace

void TForm1::BitBtn2Click() {
  const std::string nowlog = ExeDir + "Update\\nowlog";
  if (platform::DirectoryExists(nowlog)) {
    for (const platform::FolderEntry& entry : ShellListView1.List(nowlog)) {
      if (!entry.is_folder && platform::FileExists(entry.path)) platform::DeleteFile(entry.path);
    }
  }

  // A signed release brings its verified descriptors along.
  if (signed_release_) {
    StoreSignedDescriptors();
    return;
  }

  if (FTPClient.Connected()) {
    FTPClient.ChangeFolder(ProductDir + "log/");
    ListRemoteFiles();
  }

  const int32_t local_version = settings::StrToInt32(window_.Text(platform::Control::Label8));
  for (const TRemoteRow& row : lvRemote) {
    if (row.kind != texts::kKindFile) continue;
    if (!(local_version < DescriptorVersion(row.name))) continue;
    // A name that would place the copies outside the two folders is not fetched.
    if (!IsSafeEntryName(row.name)) continue;
    const std::string remote = ProductDir + "log/" + row.name;
    FTPClient.Download(remote, ExeDir + "Update\\nowlog\\" + row.name, true, false);
    FTPClient.Download(remote, ExeDir + "Update\\log\\" + row.name, true, false);
  }
}

void TForm1::ListRemoteFiles() {
  std::vector<std::string> lines;
  try {
    FTPClient.ListFolder(&lines, "", true);
  } catch (const ftp::EIdProtocolReplyError&) {
    // A listing the server refuses (450 or 550 for an empty folder) is not
    // reported: the table is rebuilt from the last listing that succeeded.
    // Any other failure (a broken or silent connection, a listing too long)
    // goes to the check, which must not call the product up to date then.
  }
  lvRemote.clear();
  const ftp::TIdFTPListItems& listing = FTPClient.ParsedListing();
  lvRemote.reserve(static_cast<size_t>(listing.Count()));
  for (int i = 0; i < listing.Count(); ++i) {
    const ftp::TIdFTPListItem& item = listing.Items(i);
    lvRemote.push_back(TRemoteRow{item.EntryName, KindText(item.EntryKind)});
  }
  std::stable_sort(lvRemote.begin(), lvRemote.end(),
                   [](const TRemoteRow& a, const TRemoteRow& b) { return RemoteNameLess(a.name, b.name); });
}

}  // namespace app
