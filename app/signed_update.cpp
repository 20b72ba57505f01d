// Signed updates: with a release key the check verifies the version file and
// every descriptor it uses before it lists a row (release_verifier.h), and
// the download checks every file against its signed byte count and hash as
// it arrives. A refusal ends the step with its own message; nothing falls
// back to an unsigned update.
#include <chrono>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/texts.h"
#include "app/verifying_stream.h"
#include "platform/file_stream.h"
#include "platform/files.h"

namespace app {
namespace {

using texts::kSettingsSection;

class ETooLarge : public platform::EStreamError {
 public:
  ETooLarge() : platform::EStreamError("larger than allowed") {}
};

// A memory stream that refuses to grow past a limit: a hostile server's
// endless file ends the transfer.
class LimitedMemoryStream : public platform::MemoryStream {
 public:
  explicit LimitedMemoryStream(size_t limit) : limit_(static_cast<int64_t>(limit)) {}
  void Write(const void* buffer, size_t count) override {
    if (static_cast<int64_t>(count) > limit_ - Position()) throw ETooLarge();
    MemoryStream::Write(buffer, count);
  }
  void SetSize(int64_t size) override {
    if (size > limit_) throw ETooLarge();
    MemoryStream::SetSize(size);
  }

 private:
  int64_t limit_;
};

// The release's files as the FTP server holds them under the product folder.
class FtpReleaseSource : public ReleaseSource {
 public:
  FtpReleaseSource(ftp::TIdFTP& client, std::string product) : client_(client), product_(std::move(product)) {}

  std::optional<std::string> Fetch(const std::string& path, size_t limit) override {
    const std::string remote = product_ + path;
    // A size the server reports above the limit is refused unread.
    if (client_.QuerySize(remote) > static_cast<int64_t>(limit)) TooLarge(path, limit);
    LimitedMemoryStream received(limit);
    try {
      client_.Download(remote, received, false);
    } catch (const ftp::EIdProtocolReplyError&) {
      return std::nullopt;  // the server has no such file
    } catch (const ETooLarge&) {
      TooLarge(path, limit);
    }
    return received.Data();
  }

 private:
  [[noreturn]] static void TooLarge(const std::string& path, size_t limit) {
    throw EReleaseRefused(ReleaseRefusal::kSignatureInvalid,
                          path + ": larger than " + std::to_string(limit) + " bytes");
  }

  ftp::TIdFTP& client_;
  std::string product_;
};

const std::string& RefusalMessage(ReleaseRefusal reason) {
  switch (reason) {
    case ReleaseRefusal::kKeyInvalid:
      return texts::kRefusedKeyInvalid;
    case ReleaseRefusal::kSignatureMissing:
      return texts::kRefusedSignatureMissing;
    case ReleaseRefusal::kOtherKey:
      return texts::kRefusedOtherKey;
    case ReleaseRefusal::kExpired:
      return texts::kRefusedExpired;
    case ReleaseRefusal::kOlderRelease:
      return texts::kRefusedOlderRelease;
    case ReleaseRefusal::kFileMissing:
      return texts::kRefusedFileMissing;
    case ReleaseRefusal::kSignatureInvalid:
      break;
  }
  return texts::kRefusedSignatureInvalid;
}

int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void WriteLocalFile(const std::string& path, const std::string& bytes) {
  platform::FileStream file(path, platform::FileMode::fmCreate);
  file.Write(bytes.data(), bytes.size());
}

}  // namespace

std::optional<minisign::PublicKey> TForm1::ReleaseKey(settings::TIniFile& settings_file) const {
  // The built-in key cannot be switched off or replaced through the file.
  const std::string text =
      !BuiltInPublicKey.empty() ? BuiltInPublicKey : settings_file.ReadTextValue(kSettingsSection, "public_key", "");
  if (text.empty()) return std::nullopt;
  std::optional<minisign::PublicKey> key = minisign::ParsePublicKey(text);
  if (!key) throw EReleaseRefused(ReleaseRefusal::kKeyInvalid, "the release key is not a minisign public key");
  return key;
}

void TForm1::VerifySignedRelease(const minisign::PublicKey& key, settings::TIniFile& settings_file,
                                 int32_t local_version) {
  FtpReleaseSource source(FTPClient, ProductDir);
  const int32_t installed = settings_file.ReadIntegerValue(kSettingsSection, "signed_release", 0);
  signed_release_ = VerifyRelease(source, key, ProductDir, UnixNow(), installed, local_version);
}

void TForm1::StoreSignedVersionFile() {
  WriteLocalFile(ExeDir + "version.ini", signed_release_->version_file);
  // The number the client records must be the release that was signed.
  settings::TIniFile version_file(ExeDir + "Version.ini");
  if (version_file.ReadIntegerValue(kSettingsSection, "client_version", 1) != signed_release_->version.release) {
    throw EReleaseRefused(ReleaseRefusal::kSignatureInvalid, "version.ini: client_version is not the signed release");
  }
}

void TForm1::StoreSignedDescriptors() {
  signed_files_.clear();
  // The rows are read from this check's folder first; a refusal there
  // leaves neither the descriptors nor the version file behind.
  std::vector<std::string> written;
  try {
    // Newest first: a name's file is the one its newest descriptor signed.
    for (const VerifiedDescriptor& descriptor : signed_release_->descriptors) {
      written.push_back(ExeDir + "Update\\nowlog\\" + descriptor.name);
      WriteLocalFile(written.back(), descriptor.bytes);
      for (SignedRow& row : ReadSignedRows(written.back())) {
        signed_files_.emplace(row.name, SignedFile{texts::UpperAscii(row.type), row.bytes, std::move(row.hash)});
      }
    }
  } catch (const EReleaseRefused&) {
    for (const std::string& path : written) platform::DeleteFile(path);
    platform::DeleteFile(ExeDir + "version.ini");
    throw;
  }
  for (const VerifiedDescriptor& descriptor : signed_release_->descriptors) {
    WriteLocalFile(ExeDir + "Update\\log\\" + descriptor.name, descriptor.bytes);
  }
}

void TForm1::ShowRefusal(const EReleaseRefused& refusal) {
  signed_release_.reset();
  signed_files_.clear();
  window_.SetStatusMessage(RefusalMessage(refusal.reason));
  Outcome = UpdateOutcome::kReleaseRefused;
  window_.SetEnabled(platform::Control::Button1, true);
}

void TForm1::FetchRowFile(const std::string& row_name, const std::string& type, const std::string& remote,
                          const std::string& local) {
  if (!signed_release_) {
    if (type != "SCRIPTS") FTPClient.Download(remote, local, true, false);
    return;
  }
  // A row whose name or type the signed descriptors do not give (renamed in
  // the list, say) has no signed file.
  const auto signed_file = signed_files_.find(row_name);
  if (signed_file == signed_files_.end() || signed_file->second.type != type) {
    throw EFileNotAsSigned(row_name + ": not a signed row");
  }
  if (type == "SCRIPTS") return;
  try {
    platform::FileStream file(local, platform::FileMode::fmCreate);
    VerifyingStream verified(file, signed_file->second.bytes, signed_file->second.hash);
    FTPClient.Download(remote, verified, false);
    verified.Finish();
  } catch (...) {
    platform::DeleteFile(local);
    throw;
  }
}

void TForm1::RecordSignedRelease() {
  if (!signed_release_) return;
  settings::TIniFile(SettingsPath)
      .WriteIntegerValue(kSettingsSection, "signed_release", signed_release_->version.release);
}

}  // namespace app
