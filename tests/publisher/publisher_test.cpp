// The publisher's command as a vendor runs it: keys that minisign and the
// publisher both use, releases published and checked by minisign and by the
// client's own rules, renewals and key rotation, and bad input refused with
// nothing written.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/minisign.h"
#include "app/release_comment.h"
#include "platform/encoding.h"
#include "settings/ini_file.h"
#include "support/signing_tools.h"
#include "support/test_util.h"

namespace {

namespace fs = std::filesystem;
using test_support::CommandResult;
using test_support::ReadFile;
using test_support::RunCommand;
using test_support::WriteFile;

using Tree = std::map<std::string, std::string>;

// Every file under a folder (hidden ones too) with its bytes.
Tree Snapshot(const std::string& folder) {
  Tree tree;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    if (entry.is_regular_file()) tree[fs::relative(entry.path(), folder).string()] = ReadFile(entry.path().string());
  }
  return tree;
}

void Put(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  WriteFile(path, bytes);
}

std::string TrustedComment(const std::string& signature_file) {
  return app::minisign::ParseSignature(ReadFile(signature_file))->trusted_comment;
}

class Publisher : public ::testing::Test {
 protected:
  CommandResult Run(std::vector<std::string> arguments, const std::string& passphrase = "") {
    arguments.insert(arguments.begin(), test_support::PublisherPath());
    if (!passphrase.empty()) {
      WriteFile(dir.File("passphrase"), passphrase + "\n");
      arguments.insert(arguments.end(), {"--passphrase-file", dir.File("passphrase")});
    }
    return RunCommand(arguments);
  }
  CommandResult Publish(const std::string& release, const std::string& key = "") {
    return Run({"publish", release, "--server", server, "--key", key.empty() ? keys.secret_key_file : key});
  }
  CommandResult Verify(const std::string& public_key = "") {
    return Run({"verify", "--server", server, "--public-key", public_key.empty() ? keys.public_key_file : public_key});
  }
  void FirstRelease() {
    Put(release + "/Oxbar_tn.exe", "main v1");
    Put(release + "/Bin/kvcore.dll", "core v1");
    Put(release + "/Report/月报.txt", "report v1");
    const CommandResult published = Publish(release);
    ASSERT_EQ(published.status, 0) << published.output;
  }

  test_support::TempDir dir;
  std::string server = dir.File("server/qt482");
  std::string release = dir.File("release");
  test_support::MinisignKeys keys = test_support::MinisignKeyPair(dir.Path());

  void SetUp() override { fs::create_directories(server); }
};

TEST_F(Publisher, PublishesTwoReleasesThatMinisignAndTheClientRulesAccept) {
  // A server that held unsigned releases up to 3.
  Put(server + "/version.ini", "[kvdatacont]\r\nclient_version=3\r\ndatabase_version=2\r\n");
  Put(server + "/log/3.ini", "[old]\r\nName=old.txt\r\n");
  Put(server + "/Bin/kvcore.dll", "core v1");  // unchanged, yet listed: the first signed release is whole
  FirstRelease();

  EXPECT_EQ(ReadFile(server + "/Bin/kvcore.dll"), "core v1");
  EXPECT_EQ(ReadFile(server + "/" + platform::Utf8ToGbk("Report/月报.txt")), "report v1");
  EXPECT_EQ(ReadFile(server + "/version.ini"), "[kvdatacont]\r\nclient_version=4\r\ndatabase_version=2\r\n");
  for (const char* file : {"/version.ini", "/log/4.ini"}) {
    EXPECT_TRUE(test_support::MinisignVerifies(keys, server + file)) << file;
  }
  settings::TIniFile descriptor(server + "/log/4.ini");
  std::vector<std::string> sections;
  descriptor.ListSections(sections);
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(descriptor.ReadTextValue(sections[0], "Name", ""), "Bin\\kvcore.dll");
  EXPECT_EQ(descriptor.ReadTextValue(sections[0], "type", ""), "BIN");
  EXPECT_EQ(descriptor.ReadTextValue(sections[0], "Size", ""), "7 B");
  EXPECT_EQ(descriptor.ReadTextValue(sections[0], "Bytes", ""), "7");
  EXPECT_EQ(descriptor.ReadTextValue(sections[0], "Hash", ""),
            platform::HexText(platform::Blake2b512::Of("core v1")));
  EXPECT_EQ(descriptor.ReadTextValue(sections[1], "type", ""), "EXE");
  EXPECT_EQ(descriptor.ReadTextValue(sections[2], "Name", ""), platform::Utf8ToGbk("Report/月报.txt"));
  EXPECT_EQ(descriptor.ReadTextValue(sections[2], "type", ""), "TXT");
  const auto first = app::ParseReleaseComment(TrustedComment(server + "/log/4.ini.minisig"));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->previous, "-");
  EXPECT_EQ(first->product, "/qt482/");
  const CommandResult verified = Verify();
  EXPECT_EQ(verified.status, 0) << verified.output;

  // The second release names only what changed and links to the first.
  Put(release + "/Oxbar_tn.exe", "main v2");
  const CommandResult second = Publish(release);
  ASSERT_EQ(second.status, 0) << second.output;
  settings::TIniFile five(server + "/log/5.ini");
  five.ListSections(sections);
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(five.ReadTextValue(sections[0], "Name", ""), "Oxbar_tn.exe");
  const auto version = app::ParseReleaseComment(TrustedComment(server + "/version.ini.minisig"));
  EXPECT_EQ(version->release, 5);
  EXPECT_EQ(version->newest, "log/5.ini");
  EXPECT_EQ(app::ParseReleaseComment(TrustedComment(server + "/log/5.ini.minisig"))->previous, "log/4.ini");
  EXPECT_EQ(Verify().status, 0);

  // Publishing the same folder again has nothing to do and writes nothing.
  const Tree before = Snapshot(dir.File("server"));
  EXPECT_EQ(Publish(release).status, 6);
  EXPECT_TRUE(Snapshot(dir.File("server")) == before);
}

TEST_F(Publisher, VerifyListsWhatIsWrongWithTheServerFolder) {
  FirstRelease();
  Put(server + "/Bin/kvcore.dll", "core v1 changed");
  Put(server + "/log/9.ini", "[stray]\r\nName=x\r\n");
  const CommandResult changed = Verify();
  EXPECT_EQ(changed.status, 5);
  EXPECT_NE(changed.output.find("Bin\\kvcore.dll: not the file that was signed"), std::string::npos) << changed.output;
  EXPECT_NE(changed.output.find("descriptor 9 is above the signed release 1"), std::string::npos) << changed.output;

  // Publishing on a folder whose release no longer verifies is refused.
  Put(server + "/log/1.ini", ReadFile(server + "/log/1.ini") + "\r\n");
  const Tree before = Snapshot(dir.File("server"));
  Put(release + "/new.txt", "new");
  const CommandResult refused = Publish(release);
  EXPECT_EQ(refused.status, 3) << refused.output;
  EXPECT_NE(refused.output.find("does not verify"), std::string::npos) << refused.output;
  EXPECT_TRUE(Snapshot(dir.File("server")) == before);
}

TEST_F(Publisher, RefusesNamesAClientCouldNotFetchAndWritesNothing) {
  struct Case {
    const char* name;  // UTF-8, as on the vendor's disk
    const char* reason;
  };
  const Case cases[] = {
      {"a\\b.txt", "folder separator"},
      {"smile😀.txt", "does not convert to GBK"},
      {" lead.txt", "a blank at the start"},
      {".hidden", "hidden"},
      {"Report/deep/x.txt", "deeper than one folder"},
      {"Bin/sub/x.dll", "deeper than one folder"},
      {"version.ini", "the version file"},
      {"log/5.ini", "the updater's own folders"},
      {"NowLog/x", "the updater's own folders"},
      {"bin/same.txt", "lands on the same local file"},
      {"readme.TXT", "lands on the same local file"},
  };
  FirstRelease();
  Put(release + "/same.txt", "top-level same");
  Put(release + "/README.txt", "readme");
  Put(release + "/Oxbar_tn.exe", "main v2");  // a real change beside the bad name
  const Tree before = Snapshot(dir.File("server"));
  for (const Case& c : cases) {
    const std::string bad = release + "/" + c.name;
    Put(bad, "bad");
    const CommandResult refused = Publish(release);
    EXPECT_EQ(refused.status, 3) << c.name << ": " << refused.output;
    EXPECT_NE(refused.output.find(c.reason), std::string::npos) << c.name << ": " << refused.output;
    EXPECT_TRUE(Snapshot(dir.File("server")) == before) << c.name;
    fs::remove(bad);
  }
  // Nothing of the refused runs is left beside the server folder either.
  for (const auto& entry : fs::directory_iterator(dir.File("server"))) {
    EXPECT_EQ(entry.path().filename(), "qt482");
  }
  EXPECT_EQ(Publish(release).status, 0);
}

TEST_F(Publisher, ResignRenewsTheExpiryAndRotatesTheKey) {
  FirstRelease();
  const std::string version = ReadFile(server + "/version.ini");
  const auto before = app::ParseReleaseComment(TrustedComment(server + "/version.ini.minisig"));
  const CommandResult renewed =
      Run({"resign", "--server", server, "--key", keys.secret_key_file, "--valid-days", "90"});
  ASSERT_EQ(renewed.status, 0) << renewed.output;
  const auto after = app::ParseReleaseComment(TrustedComment(server + "/version.ini.minisig"));
  EXPECT_GT(after->expires, before->expires + 59 * 86400);
  EXPECT_EQ(after->newest_hash, before->newest_hash);
  EXPECT_EQ(ReadFile(server + "/version.ini"), version);
  EXPECT_EQ(Verify().status, 0);

  // A new key signs everything anew, accepting the old key's release.
  const test_support::MinisignKeys next = test_support::MinisignKeyPair(dir.Path(), "next");
  EXPECT_EQ(Run({"resign", "--server", server, "--key", next.secret_key_file, "--all"}).status, 3)
      << "the old key's release is not trusted without --trust-key";
  const CommandResult rotated = Run(
      {"resign", "--server", server, "--key", next.secret_key_file, "--all", "--trust-key", keys.public_key_file});
  ASSERT_EQ(rotated.status, 0) << rotated.output;
  EXPECT_EQ(Verify(next.public_key).status, 0);
  EXPECT_EQ(Verify().status, 5);
}

TEST_F(Publisher, KeysMoveBetweenMinisignAndThePublisherWithTheirPassphrase) {
  // A key made by minisign -G with a password (given on its standard input).
  const CommandResult made = RunCommand(
      {"minisign", "-G", "-p", dir.File("m.pub"), "-s", dir.File("m.key")}, "minisign password\nminisign password\n");
  ASSERT_EQ(made.status, 0) << made.output;
  Put(release + "/a.txt", "a");
  const Tree empty = Snapshot(dir.File("server"));
  const CommandResult wrong =
      Run({"publish", release, "--server", server, "--key", dir.File("m.key")}, "not the password");
  EXPECT_EQ(wrong.status, 4);
  EXPECT_NE(wrong.output.find("Wrong passphrase"), std::string::npos) << wrong.output;
  EXPECT_TRUE(Snapshot(dir.File("server")) == empty);
  ASSERT_EQ(Run({"publish", release, "--server", server, "--key", dir.File("m.key")}, "minisign password").status, 0);
  EXPECT_EQ(Verify(dir.File("m.pub")).status, 0);

  // A key made by the publisher, used by minisign with the same passphrase.
  const CommandResult ours = Run(
      {"keygen", "--public-key", dir.File("p.pub"), "--secret-key", dir.File("p.key")}, "publisher passphrase");
  ASSERT_EQ(ours.status, 0) << ours.output;
  WriteFile(dir.File("note.txt"), "signed by minisign with the publisher's key");
  const CommandResult signed_ =
      RunCommand({"minisign", "-S", "-s", dir.File("p.key"), "-m", dir.File("note.txt")}, "publisher passphrase\n");
  ASSERT_EQ(signed_.status, 0) << signed_.output;
  const test_support::MinisignKeys publisher_keys{dir.File("p.pub"), dir.File("p.key"), ""};
  EXPECT_TRUE(test_support::MinisignVerifies(publisher_keys, dir.File("note.txt")));
  EXPECT_EQ(Run({"keygen", "--public-key", dir.File("p.pub"), "--secret-key", dir.File("p.key"), "--unencrypted"}).status,
            2)
      << "an existing key is not replaced without --force";
}

}  // namespace
