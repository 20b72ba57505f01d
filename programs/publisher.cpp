// publisher: the vendor's command for signed releases, run on a local copy
// of the server's product folder (docs/publishing.md tells the whole road).
//
//   publisher keygen  [--public-key FILE] [--secret-key FILE] [--unencrypted] [--force]
//   publisher publish RELEASE_DIR --server DIR [--key FILE] [--product /NAME/]
//                     [--valid-days N] [--database-version N] [--trust-key FILE]...
//   publisher resign  --server DIR [--key FILE] [--product /NAME/] [--valid-days N]
//                     [--all] [--trust-key FILE]...
//   publisher verify  --server DIR [--public-key FILE|RW...] [--product /NAME/]
//
// Keys are minisign's files (minisign.pub, minisign.key in the current
// folder unless named). The passphrase of a key comes from
// --passphrase-file FILE, else KORVANE_PASSPHRASE, else the terminal.
//
// Exit codes, one per outcome: 0 done; 1 an unexpected failure; 2 wrong
// usage; 3 bad input (a release or server folder that cannot be published
// or renewed, with every reason listed); 4 a key that cannot be used (wrong
// passphrase, damaged file); 5 verify found problems (listed); 6 nothing to
// publish; 7 writing failed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "publisher/passphrase.h"
#include "publisher/publish.h"
#include "publisher/release_files.h"
#include "publisher/secret_key_file.h"
#include "publisher/server_folder.h"

namespace {

using publishing::EKeyError;

enum Exit { kDone = 0, kFailed = 1, kUsage = 2, kBadInput = 3, kBadKey = 4, kProblems = 5, kNothing = 6, kWrite = 7 };

class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

const char kUsageText[] =
    "usage: publisher keygen  [--public-key FILE] [--secret-key FILE] [--unencrypted] [--force]\n"
    "       publisher publish RELEASE_DIR --server DIR [--key FILE] [--product /NAME/]\n"
    "                         [--valid-days N] [--database-version N] [--trust-key FILE]...\n"
    "       publisher resign  --server DIR [--key FILE] [--product /NAME/] [--valid-days N]\n"
    "                         [--all] [--trust-key FILE]...\n"
    "       publisher verify  --server DIR [--public-key FILE|RW...] [--product /NAME/]\n"
    "passphrase: --passphrase-file FILE, else $KORVANE_PASSPHRASE, else asked on the terminal\n";

// Options: "--name value" pairs and flags; one positional argument at most.
struct Arguments {
  std::map<std::string, std::vector<std::string>> values;
  std::vector<std::string> flags;
  std::vector<std::string> positional;

  std::optional<std::string> Value(const std::string& name) const {
    const auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second.back();
  }
  bool Flag(const std::string& name) const { return std::find(flags.begin(), flags.end(), name) != flags.end(); }
};

Arguments Parse(int argc, char** argv, const std::vector<std::string>& with_value,
                const std::vector<std::string>& flag_names) {
  Arguments arguments;
  for (int i = 2; i < argc; ++i) {
    const std::string word = argv[i];
    if (std::find(with_value.begin(), with_value.end(), word) != with_value.end()) {
      if (i + 1 >= argc) throw EUsage(word + " needs a value");
      arguments.values[word].push_back(argv[++i]);
    } else if (std::find(flag_names.begin(), flag_names.end(), word) != flag_names.end()) {
      arguments.flags.push_back(word);
    } else if (word.rfind("--", 0) == 0) {
      throw EUsage("unknown option " + word);
    } else {
      arguments.positional.push_back(word);
    }
  }
  return arguments;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EKeyError(path + ": cannot be read");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteNew(const std::string& path, const std::string& text, bool force, bool secret) {
  if (!force && std::filesystem::exists(path)) throw EUsage(path + " exists (--force replaces it)");
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw publishing::EWriteFailed(temporary + ": cannot be written");
  }
  std::error_code error;
  if (secret) std::filesystem::permissions(temporary, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, error);
  std::filesystem::rename(temporary, path, error);
  if (error) throw publishing::EWriteFailed(path + ": " + error.message());
}

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

app::minisign::PublicKey PublicKeyFrom(const std::string& text_or_file) {
  const std::string text = text_or_file.rfind("RW", 0) == 0 ? text_or_file : ReadText(text_or_file);
  const std::optional<app::minisign::PublicKey> key = app::minisign::ParsePublicKey(text);
  if (!key) throw EKeyError(text_or_file + ": not a minisign public key");
  return *key;
}

app::minisign::SigningKey SigningKeyFrom(const Arguments& arguments) {
  const std::string file = ReadText(arguments.Value("--key").value_or("minisign.key"));
  const std::optional<std::string> passphrase_file = arguments.Value("--passphrase-file");
  return publishing::OpenSecretKey(file, [&] { return publishing::ReadPassphrase(passphrase_file, false); });
}

int32_t Number(const std::string& text, const std::string& option) {
  try {
    size_t used = 0;
    const long value = std::stol(text, &used);
    if (used == text.size() && value >= 0 && value <= 2147483647) return static_cast<int32_t>(value);
  } catch (...) {
  }
  throw EUsage(option + " needs a number");
}

publishing::PublishOptions CommonOptions(const Arguments& arguments) {
  publishing::PublishOptions options;
  const std::optional<std::string> server = arguments.Value("--server");
  if (!server) throw EUsage("--server DIR is needed");
  options.server = *server;
  options.product = arguments.Value("--product") ? platform::Utf8ToGbk(*arguments.Value("--product"))
                                                 : publishing::DefaultProduct(options.server);
  options.now = Now();
  if (const auto days = arguments.Value("--valid-days")) {
    const int32_t count = Number(*days, "--valid-days");
    if (count < 1 || count > 3660) throw EUsage("--valid-days takes 1 to 3660");
    options.valid_seconds = int64_t{count} * 86400;
  }
  if (const auto version = arguments.Value("--database-version")) {
    options.database_version = Number(*version, "--database-version");
  }
  if (const auto it = arguments.values.find("--trust-key"); it != arguments.values.end()) {
    for (const std::string& key : it->second) options.trusted.push_back(PublicKeyFrom(key));
  }
  return options;
}

int Keygen(const Arguments& arguments) {
  const std::string public_file = arguments.Value("--public-key").value_or("minisign.pub");
  const std::string secret_file = arguments.Value("--secret-key").value_or("minisign.key");
  const bool force = arguments.Flag("--force");
  if (!force && (std::filesystem::exists(public_file) || std::filesystem::exists(secret_file))) {
    throw EUsage(public_file + " or " + secret_file + " exists (--force replaces them)");
  }
  std::optional<std::string> passphrase;
  if (!arguments.Flag("--unencrypted")) passphrase = publishing::ReadPassphrase(arguments.Value("--passphrase-file"), true);
  const app::minisign::SigningKey key = publishing::GenerateSigningKey();
  WriteNew(secret_file, publishing::SecretKeyFile(key, passphrase), force, true);
  WriteNew(public_file, app::minisign::PublicKeyFile(key.Public()), force, false);
  std::printf("key %s\npublic key %s (%s)\nsecret key %s%s\n", app::minisign::KeyIdText(key.key_id).c_str(),
              app::minisign::PublicKeyText(key.Public()).c_str(), public_file.c_str(), secret_file.c_str(),
              passphrase ? ", protected by the passphrase" : ", not protected");
  return kDone;
}

int PublishCommand(const Arguments& arguments) {
  if (arguments.positional.size() != 1) throw EUsage("publish needs one RELEASE_DIR");
  publishing::PublishOptions options = CommonOptions(arguments);
  options.release = arguments.positional[0];
  const app::minisign::SigningKey key = SigningKeyFrom(arguments);
  const publishing::PublishResult result = publishing::Publish(options, key);
  std::printf("release %d: %s and version.ini signed by %s, expires %s\n", result.release, result.descriptor.c_str(),
              app::minisign::KeyIdText(key.key_id).c_str(),
              app::FormatUtcTime(options.now + options.valid_seconds).c_str());
  for (const std::string& file : result.files) std::printf("  %s\n", platform::GbkToUtf8(file).c_str());
  return kDone;
}

int ResignCommand(const Arguments& arguments) {
  if (!arguments.positional.empty()) throw EUsage("resign takes no folder of its own (--server DIR)");
  const publishing::PublishOptions options = CommonOptions(arguments);
  const app::minisign::SigningKey key = SigningKeyFrom(arguments);
  const int32_t release = publishing::Resign(options, key, arguments.Flag("--all"));
  std::printf("release %d: version.ini%s signed by %s, expires %s\n", release,
              arguments.Flag("--all") ? " and every descriptor" : "", app::minisign::KeyIdText(key.key_id).c_str(),
              app::FormatUtcTime(options.now + options.valid_seconds).c_str());
  return kDone;
}

int VerifyCommand(const Arguments& arguments) {
  if (!arguments.positional.empty()) throw EUsage("verify takes no folder of its own (--server DIR)");
  const publishing::PublishOptions options = CommonOptions(arguments);
  const app::minisign::PublicKey key = PublicKeyFrom(arguments.Value("--public-key").value_or("minisign.pub"));
  const std::vector<std::string> problems =
      publishing::VerifyServerFolder(options.server, key, options.product, options.now);
  for (const std::string& problem : problems) std::printf("%s\n", platform::GbkToUtf8(problem).c_str());
  if (!problems.empty()) return kProblems;
  std::printf("ok: %s verifies with key %s for %s\n", options.server.c_str(),
              app::minisign::KeyIdText(key.key_id).c_str(), platform::GbkToUtf8(options.product).c_str());
  return kDone;
}

int Run(int argc, char** argv) {
  if (argc < 2) throw EUsage("a command is needed");
  const std::string command = argv[1];
  const std::vector<std::string> keys = {"--key", "--passphrase-file", "--server", "--product", "--trust-key"};
  if (command == "keygen") {
    return Keygen(Parse(argc, argv, {"--public-key", "--secret-key", "--passphrase-file"}, {"--unencrypted", "--force"}));
  }
  if (command == "publish") {
    std::vector<std::string> with_value = keys;
    with_value.insert(with_value.end(), {"--valid-days", "--database-version"});
    return PublishCommand(Parse(argc, argv, with_value, {}));
  }
  if (command == "resign") {
    std::vector<std::string> with_value = keys;
    with_value.push_back("--valid-days");
    return ResignCommand(Parse(argc, argv, with_value, {"--all"}));
  }
  if (command == "verify") return VerifyCommand(Parse(argc, argv, {"--server", "--public-key", "--product"}, {}));
  throw EUsage("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const EUsage& error) {
    std::fprintf(stderr, "publisher: %s\n%s", error.what(), kUsageText);
    return kUsage;
  } catch (const publishing::EReleaseInput& error) {
    std::fprintf(stderr, "publisher: %s\n", error.what());
    return kBadInput;
  } catch (const EKeyError& error) {
    std::fprintf(stderr, "publisher: %s\n", error.what());
    return kBadKey;
  } catch (const publishing::EPassphrase& error) {
    std::fprintf(stderr, "publisher: %s\n", error.what());
    return kBadKey;
  } catch (const publishing::ENothingToPublish& error) {
    std::fprintf(stderr, "publisher: %s\n", error.what());
    return kNothing;
  } catch (const publishing::EWriteFailed& error) {
    std::fprintf(stderr, "publisher: %s\n", error.what());
    return kWrite;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "publisher: %s\n", error.what());
    return kFailed;
  }
}
