// Signed updates through the whole check and download on the headless window
// against pyftpdlib: a release signed at test time with the real minisign
// tool, then one table of attacks on it, each ending with its own message
// and the installed product untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/minisign.h"
#include "app/release_comment.h"
#include "e2e_support.h"
#include "support/signing_tools.h"

namespace {

namespace fs = std::filesystem;
using e2e::Control;
using e2e::FileColumn;
using e2e::IsFile;
using e2e::UpdaterRun;
using test_support::ReadFile;
using test_support::WriteFile;
using Names = std::vector<std::string>;

const char kInvalid[] = "升级签名无效，已拒绝升级!";
const char kMissing[] = "服务器上缺少升级签名，已拒绝升级!";
const char kOtherKey[] = "升级签名来自其他密钥，已拒绝升级!";
const char kExpired[] = "服务器上的升级信息已过期，已拒绝升级!";
const char kOlder[] = "服务器上的版本低于已安装的版本，已拒绝升级!";
const char kIncomplete[] = "服务器上的升级文件不完整，已拒绝升级!";
const char kBadKey[] = "升级公钥设置无效，已拒绝升级!";
const char kNotInstalled[] = "有文件下载失败或未通过校验，未安装任何文件!";

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string Hash(const std::string& bytes) { return platform::HexText(platform::Blake2b512::Of(bytes)); }

struct Row {
  std::string name;  // UTF-8
  std::string type;
  std::string content;
  bool signed_counts = true;  // false: a row without Bytes= and Hash=
};

// A product folder signed with minisign: descriptors 6 and 11, version 11.
//   log/6.ini   Oxbar_tn.exe (EXE), Bin\abc.dll (BIN, v6)      previous -
//   log/11.ini  Bin\abc.dll (BIN, v11), 说明.txt (DOC)          previous log/6.ini
// The server holds the newest file of each name.
class SignedProduct {
 public:
  SignedProduct(UpdaterRun& run, const test_support::MinisignKeys& keys) : run_(run), keys_(keys) {}

  std::string Descriptor(int number, const std::vector<Row>& rows, const std::string& previous,
                         const std::string& product = "/qt482/") {
    std::string text;
    for (size_t i = 0; i < rows.size(); ++i) {
      text += "[row" + std::to_string(i) + "]\r\nName=" + rows[i].name + "\r\ntype=" + rows[i].type + "\r\nSize=1KB\r\n";
      if (rows[i].signed_counts) {
        text += "Bytes=" + std::to_string(rows[i].content.size()) + "\r\nHash=" + Hash(rows[i].content) + "\r\n";
      }
    }
    const std::string name = std::to_string(number) + ".ini";
    run_.product.RawFile("log/" + name, platform::Utf8ToGbk(text));
    Sign("log/" + name, "korvane-release product=" + product + " release=" + std::to_string(number) +
                            " path=log/" + name + " previous=" + previous);
    return platform::Utf8ToGbk(text);
  }

  // version.ini of the release, signed, into the server folder (or the
  // path given, for a copy to replay later).
  void Version(int release, const std::string& newest_bytes, int64_t expires, const std::string& path = "version.ini") {
    run_.product.File(path, "[kvdatacont]\r\nclient_version=" + std::to_string(release) + "\r\ndatabase_version=4\r\n");
    Sign(path, "korvane-release product=/qt482/ release=" + std::to_string(release) +
                   " path=version.ini expires=" + app::FormatUtcTime(expires) + " newest=log/" +
                   std::to_string(release) + ".ini newest_hash=" + Hash(newest_bytes));
  }

  void Standard() {
    run_.product.Folder("log");
    run_.product.Folder("Bin");
    const std::vector<Row> six = {{"Oxbar_tn.exe", "EXE", test_support::MainProgramScript("new")},
                                  {"Bin\\abc.dll", "BIN", "abc v6"}};
    const std::vector<Row> eleven = {{"Bin\\abc.dll", "BIN", "abc library v11"}, {"说明.txt", "DOC", "说明 v11"}};
    descriptor6_ = Descriptor(6, six, "-");
    // The version file of release 6, kept aside for the replay.
    Version(6, descriptor6_, Now() + 86400, "old/version.ini");
    descriptor11_ = Descriptor(11, eleven, "log/6.ini");
    Version(11, descriptor11_, Now() + 86400);
    run_.product.File("Oxbar_tn.exe", test_support::MainProgramScript("new"));
    run_.product.File("Bin/abc.dll", "abc library v11");
    run_.product.File("说明.txt", "说明 v11");
  }

  void Sign(const std::string& path, const std::string& comment, bool legacy = false) {
    test_support::MinisignSign(keys_, Server(path), comment, legacy);
  }
  std::string Server(const std::string& path) const { return run_.product.Dir() + "/" + platform::Utf8ToGbk(path); }

 private:
  UpdaterRun& run_;
  const test_support::MinisignKeys& keys_;
  std::string descriptor6_, descriptor11_;
};

class SignedUpdate : public ::testing::Test {
 protected:
  // A fresh program folder (local version 5, the old main program) and the
  // signed product on 127.0.0.<address>, with the key in the settings file.
  void Prepare(UpdaterRun& run, const std::string& address, const std::string& extra = "") {
    SignedProduct(run, keys).Standard();
    run.WriteSettings(address, 5, "public_key=" + keys.public_key + "\r\n" + extra);
    WriteFile(run.Local("Oxbar_tn.exe"), test_support::MainProgramScript("old"));
  }
  void Start(UpdaterRun& run, const std::string& address) {
    run.StartServer(address);
    run.Create();
  }
  // Nothing installed: the old main program, the old numbers, no release.
  static void ExpectUntouched(const UpdaterRun& run, const std::string& what) {
    EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("old")) << what;
    EXPECT_EQ(run.SettingsInteger("client_version"), 5) << what;
    EXPECT_EQ(run.SettingsInteger("signed_release"), -999) << what;
    EXPECT_FALSE(run.window.IsClosed()) << what;
    EXPECT_TRUE(run.window.IsEnabled(Control::Button1)) << what;
    EXPECT_FALSE(run.window.IsEnabled(Control::Button2)) << what;
  }

  test_support::TempDir keys_dir;
  test_support::MinisignKeys keys = test_support::MinisignKeyPair(keys_dir.Path());
};

TEST_F(SignedUpdate, ChecksDownloadsAndInstallsTheSignedRelease) {
  UpdaterRun run;
  Prepare(run, "127.0.0.140");
  Start(run, "127.0.0.140");
  EXPECT_EQ(run.Message(), "分析升级文件...") << "the file list step's message, not a refusal";
  EXPECT_EQ(run.window.Text(Control::Label10), "11");
  EXPECT_EQ(run.Column(FileColumn::Name), (Names{"Oxbar_tn.exe", "Bin\\abc.dll", "说明.txt"}));
  EXPECT_EQ(ReadFile(run.Local("Update/nowlog/11.ini")), ReadFile(run.product.Dir() + "/log/11.ini"));
  EXPECT_EQ(ReadFile(run.Local("Update/log/6.ini")), ReadFile(run.product.Dir() + "/log/6.ini"));
  ASSERT_TRUE(run.window.Press(Control::Button2));

  EXPECT_EQ(run.Column(FileColumn::Status), Names(3, "完成"));
  // Bin\abc.dll is listed from descriptor 6 but checked against 11, the
  // descriptor of the file the server holds now.
  EXPECT_EQ(ReadFile(run.Local("Update/abc.dll")), "abc library v11");
  EXPECT_EQ(run.SettingsInteger("client_version"), 11);
  EXPECT_EQ(run.SettingsInteger("signed_release"), 11);
  EXPECT_TRUE(run.window.IsClosed());
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("new"));
  EXPECT_TRUE(test_support::WaitUntil([&] { return IsFile(run.Local("started.marker")); }));
  WriteFile(run.Local("release.marker"), "");
}

TEST_F(SignedUpdate, RefusesEveryAttackOnTheCheckWithItsMessage) {
  const test_support::MinisignKeys other = test_support::MinisignKeyPair(keys_dir.Path(), "other");
  struct Attack {
    const char* what;
    const char* message;
    std::function<void(UpdaterRun&, SignedProduct&)> tamper;
    std::string settings = "";  // extra settings lines
  };
  const Attack attacks[] = {
      {"a changed version file", kInvalid,
       [](UpdaterRun& run, SignedProduct&) { run.product.File("version.ini", "[kvdatacont]\r\nclient_version=12\r\n"); }},
      {"a changed descriptor", kInvalid,
       [](UpdaterRun&, SignedProduct& p) { WriteFile(p.Server("log/11.ini"), ReadFile(p.Server("log/11.ini")) + " "); }},
      {"a changed older descriptor", kInvalid,
       [](UpdaterRun&, SignedProduct& p) { WriteFile(p.Server("log/6.ini"), ReadFile(p.Server("log/6.ini")) + " "); }},
      {"a signature by another key", kOtherKey,
       [&](UpdaterRun&, SignedProduct& p) {
         test_support::MinisignSign(other, p.Server("version.ini"),
                                    app::minisign::ParseSignature(ReadFile(p.Server("version.ini.minisig")))->trusted_comment);
       }},
      {"a legacy Ed signature", kInvalid,
       [](UpdaterRun&, SignedProduct& p) {
         p.Sign("version.ini", app::minisign::ParseSignature(ReadFile(p.Server("version.ini.minisig")))->trusted_comment,
                true);
       }},
      {"a truncated signature file", kInvalid,
       [](UpdaterRun&, SignedProduct& p) {
         const std::string signature = ReadFile(p.Server("version.ini.minisig"));
         WriteFile(p.Server("version.ini.minisig"), signature.substr(0, signature.size() / 2));
       }},
      {"an oversized signature file", kInvalid,
       [](UpdaterRun&, SignedProduct& p) {
         WriteFile(p.Server("log/11.ini.minisig"), ReadFile(p.Server("log/11.ini.minisig")) + std::string(5000, '\n'));
       }},
      {"a descriptor renamed from 6 to 11", kInvalid,
       [](UpdaterRun&, SignedProduct& p) {
         fs::copy_file(p.Server("log/6.ini"), p.Server("log/11.ini"), fs::copy_options::overwrite_existing);
         fs::copy_file(p.Server("log/6.ini.minisig"), p.Server("log/11.ini.minisig"), fs::copy_options::overwrite_existing);
       }},
      {"a replayed older version file", kOlder,
       [](UpdaterRun&, SignedProduct& p) {
         fs::copy_file(p.Server("old/version.ini"), p.Server("version.ini"), fs::copy_options::overwrite_existing);
         fs::copy_file(p.Server("old/version.ini.minisig"), p.Server("version.ini.minisig"),
                       fs::copy_options::overwrite_existing);
       },
       "signed_release=11\r\n"},
      {"an expired version file", kExpired,
       [](UpdaterRun& run, SignedProduct& p) { p.Version(11, ReadFile(run.product.Dir() + "/log/11.ini"), Now() - 60); }},
      {"no signature for the version file", kMissing,
       [](UpdaterRun&, SignedProduct& p) { fs::remove(p.Server("version.ini.minisig")); }},
      {"no signature for a descriptor", kMissing,
       [](UpdaterRun&, SignedProduct& p) { fs::remove(p.Server("log/6.ini.minisig")); }},
      {"a descriptor left out of the chain", kIncomplete,
       [](UpdaterRun&, SignedProduct& p) { fs::remove(p.Server("log/6.ini")); }},
      {"a release signed for another product", kInvalid,
       [](UpdaterRun&, SignedProduct& p) {
         const std::string bytes =
             p.Descriptor(11, {{"Bin\\abc.dll", "BIN", "abc library v11"}}, "log/6.ini", "/other/");
         p.Version(11, bytes, Now() + 86400);
       }},
      {"a signed row without Hash= and Bytes=", kInvalid,
       [](UpdaterRun&, SignedProduct& p) {
         const std::string bytes = p.Descriptor(11, {{"Bin\\abc.dll", "BIN", "abc library v11", false}}, "log/6.ini");
         p.Version(11, bytes, Now() + 86400);
       }},
      {"a settings key that is not a key", kBadKey, [](UpdaterRun&, SignedProduct&) {}, "public_key=RWnotakey\r\n"},
  };
  for (const Attack& attack : attacks) {
    UpdaterRun run;
    Prepare(run, "127.0.0.141", attack.settings);
    if (!attack.settings.empty() && attack.settings.find("public_key") != std::string::npos) {
      run.WriteSettings("127.0.0.141", 5, attack.settings);
    }
    SignedProduct product(run, keys);
    attack.tamper(run, product);
    Start(run, "127.0.0.141");
    EXPECT_EQ(run.Message(), attack.message) << attack.what;
    EXPECT_EQ(run.window.RowCount(), 0) << attack.what;
    EXPECT_FALSE(IsFile(run.Local("version.ini"))) << attack.what << ": nothing unverified is stored";
    EXPECT_FALSE(IsFile(run.Local("Update/nowlog/11.ini"))) << attack.what;
    EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("old")) << attack.what;
    EXPECT_EQ(run.SettingsInteger("client_version"), 5) << attack.what;
    EXPECT_TRUE(run.window.IsEnabled(Control::Button1)) << attack.what;
    EXPECT_FALSE(run.window.IsEnabled(Control::Button2)) << attack.what;
  }
}

TEST_F(SignedUpdate, RefusesEveryFileThatIsNotTheSignedOneAndInstallsNothing) {
  struct Attack {
    const char* what;
    const char* file;  // UTF-8 server path
    std::function<std::string(const std::string&)> served;
    int failed_row;
  };
  const Attack attacks[] = {
      {"a changed file", "Bin/abc.dll", [](const std::string& s) { return std::string("ABC") + s.substr(3); }, 1},
      {"a file one byte longer than signed", "说明.txt", [](const std::string& s) { return s + "x"; }, 2},
      {"a short file", "Bin/abc.dll", [](const std::string& s) { return s.substr(0, s.size() - 1); }, 1},
      {"a genuine file served for another row", "Bin/abc.dll",
       [](const std::string&) { return platform::Utf8ToGbk("说明 v11"); }, 1},
      {"a changed main program", "Oxbar_tn.exe", [](const std::string& s) { return s + "rm -rf /\n"; }, 0},
  };
  for (const Attack& attack : attacks) {
    UpdaterRun run;
    Prepare(run, "127.0.0.142");
    SignedProduct product(run, keys);
    const std::string path = product.Server(attack.file);
    WriteFile(path, attack.served(ReadFile(path)));
    Start(run, "127.0.0.142");
    ASSERT_EQ(run.window.RowCount(), 3) << attack.what;
    ASSERT_TRUE(run.window.Press(Control::Button2)) << attack.what;
    Names statuses(3, "完成");
    statuses[static_cast<size_t>(attack.failed_row)] = "失败";
    EXPECT_EQ(run.Column(FileColumn::Status), statuses) << attack.what;
    EXPECT_EQ(run.Message(), kNotInstalled) << attack.what;
    const std::string local = attack.failed_row == 1 ? "Update/abc.dll" : std::string("Update/") + attack.file;
    EXPECT_FALSE(IsFile(run.Local(local))) << attack.what << ": the refused file is removed";
    ExpectUntouched(run, attack.what);
  }
}

TEST_F(SignedUpdate, TheBuiltInKeyWinsOverTheSettingsFile) {
  const test_support::MinisignKeys other = test_support::MinisignKeyPair(keys_dir.Path(), "other");
  struct Case {
    const char* what;
    std::string built_in;
    std::string in_file;
    std::string message;
  };
  const Case cases[] = {
      {"the built-in key alone", keys.public_key, "", "分析升级文件..."},
      {"the built-in key over another in the file", keys.public_key, other.public_key, "分析升级文件..."},
      {"the built-in key over an empty one in the file", other.public_key, "", kOtherKey},
      {"another built-in key over the right one in the file", other.public_key, keys.public_key, kOtherKey},
  };
  for (const Case& c : cases) {
    UpdaterRun run;
    SignedProduct(run, keys).Standard();
    run.WriteSettings("127.0.0.143", 5, c.in_file.empty() ? "" : "public_key=" + c.in_file + "\r\n");
    run.StartServer("127.0.0.143");
    run.form = std::make_unique<app::TForm1>(run.window, run.Program() + "/");
    run.form->BuiltInPublicKey = c.built_in;
    app::StartProgram(run.window, *run.form);
    EXPECT_EQ(run.Message(), c.message) << c.what;
    EXPECT_EQ(run.window.RowCount(), c.message == kOtherKey ? 0 : 3) << c.what;
  }
}

TEST_F(SignedUpdate, ClientsWithoutAKeyStillUpdateFromASignedServer) {
  UpdaterRun run;
  SignedProduct(run, keys).Standard();
  run.WriteSettings("127.0.0.144", 5);
  run.StartServer("127.0.0.144");
  run.Create();
  EXPECT_EQ(run.Column(FileColumn::Name), (Names{"Oxbar_tn.exe", "Bin\\abc.dll", "说明.txt"}));
  ASSERT_TRUE(run.window.Press(Control::Button2));
  EXPECT_EQ(run.Column(FileColumn::Status), Names(3, "完成"));
  EXPECT_EQ(run.SettingsInteger("client_version"), 11);
  EXPECT_EQ(run.SettingsInteger("signed_release"), -999) << "only a signed download records a release";
  EXPECT_TRUE(test_support::WaitUntil([&] { return IsFile(run.Local("started.marker")); }));
  WriteFile(run.Local("release.marker"), "");
}

}  // namespace
