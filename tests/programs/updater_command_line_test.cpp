// The updater's command line as an administrator runs it: the real program,
// copied into a program folder of the test's own, started as a child process
// without a display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset),
// against pyftpdlib on port 21 of a loopback address of the test's own
// (127.0.18.N). Each mode and each exit status, the JSON parsed by Python's
// json module, the output on standard error, and the files left on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "settings/ini_file.h"
#include "support/private_mount.h"
#include "support/product_fixture.h"
#include "support/pyftpd.h"
#include "support/signing_tools.h"
#include "support/test_util.h"

extern char** environ;

namespace {

using test_support::ReadFile;
using test_support::WaitUntil;
using test_support::WriteFile;
using Names = std::vector<std::string>;

bool IsFile(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct Outcome {
  bool ended = false;  // ended by itself, by exit, within the deadline
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program with the arguments in working_folder, with the
// environment less the display variables plus extra; kills it after the
// deadline.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& working_folder, const std::vector<std::string>& extra = {},
                   std::chrono::seconds deadline = std::chrono::seconds(120)) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    const std::string name = variable.substr(0, variable.find('='));
    if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM") variables.push_back(variable);
  }
  variables.insert(variables.end(), extra.begin(), extra.end());
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argv_text) argv.push_back(argument.data());
  argv.push_back(nullptr);

  test_support::TempDir capture;
  const std::string out = capture.File("stdout");
  const std::string err = capture.File("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());
  pid_t pid = -1;
  Outcome outcome;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << program;
    return outcome;
  }
  int status = 0;
  const bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, deadline);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  outcome.ended = ended && WIFEXITED(status);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.out = ReadFile(out);
  outcome.err = ReadFile(err);
  return outcome;
}

// The JSON object on standard output, read by Python's json module and
// flattened: "rows.0.name" -> "Oxbar_tn.exe", "rows.length" -> "6", a string
// as it is, anything else as JSON ("null", "true", "10").
std::map<std::string, std::string> JsonFields(const std::string& json) {
  static const char kFlatten[] = R"(
import json, sys
def walk(path, value):
    if isinstance(value, dict):
        for key, item in value.items():
            walk(path + [key], item)
    elif isinstance(value, list):
        print(".".join(path + ["length"]) + "\t" + str(len(value)))
        for index, item in enumerate(value):
            walk(path + [str(index)], item)
    else:
        print(".".join(path) + "\t" + (value if isinstance(value, str) else json.dumps(value)))
document = sys.stdin.read()
assert document.endswith("\n") and document.count("\n") == 1, "one line"
walk([], json.loads(document))
)";
  const test_support::CommandResult flattened = test_support::RunCommand({"/usr/bin/python3", "-c", kFlatten}, json);
  EXPECT_EQ(flattened.status, 0) << flattened.output << "\nfrom: " << json;
  std::map<std::string, std::string> fields;
  size_t begin = 0;
  while (begin < flattened.output.size()) {
    size_t end = flattened.output.find('\n', begin);
    if (end == std::string::npos) end = flattened.output.size();
    const std::string line = flattened.output.substr(begin, end - begin);
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) fields[line.substr(0, tab)] = line.substr(tab + 1);
    begin = end + 1;
  }
  return fields;
}

Names RowFields(const std::map<std::string, std::string>& json, const std::string& field) {
  Names values;
  const int rows = std::stoi(json.at("rows.length"));
  for (int row = 0; row < rows; ++row) values.push_back(json.at("rows." + std::to_string(row) + "." + field));
  return values;
}

const Names kStandardRows{"Oxbar_tn.exe", "Bin\\abc.dll", "Report/月报.txt", "update.sql", "Bin\\核心.dll", "说明.txt"};

// A base folder with the server's root (server/) and the program folder
// (program/) holding a copy of the updater and an old main program.
class CommandLineRun {
 public:
  explicit CommandLineRun(std::string address) : address_(std::move(address)), product(base.File("server")) {
    std::filesystem::create_directories(Program());
    std::filesystem::copy_file(UPDATER_PROGRAM, Local("updater"));
    std::filesystem::permissions(Local("updater"), std::filesystem::perms::owner_all);
    WriteFile(Local("Oxbar_tn.exe"), test_support::MainProgramScript("old"));
  }
  ~CommandLineRun() {
    // Lets a main program that was started end.
    if (IsFile(Local("started.marker"))) WriteFile(Local("release.marker"), "");
  }

  std::string Program() const { return base.File("program"); }
  std::string Local(const std::string& relative) const { return Program() + "/" + relative; }
  const std::string& Address() const { return address_; }

  void StartServer() {
    server = std::make_unique<test_support::PyFtpd>(test_support::PyFtpdOptions{
        .root = base.File("server"), .address = address_, .port = 21, .user = "tarnivelo", .password = "qmzwkt"});
  }
  void WriteSettings(int client_version, const std::string& extra = "", const std::string& path = "") const {
    WriteFile(path.empty() ? Local("updateset.inf") : path,
              test_support::SettingsFileText(address_, client_version, extra));
  }
  Outcome Updater(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
                  std::chrono::seconds deadline = std::chrono::seconds(120)) const {
    return RunProgram(Local("updater"), arguments, base.Path(), environment, deadline);
  }
  int32_t Setting(const std::string& key, const std::string& path = "") const {
    return settings::TIniFile(path.empty() ? Local("updateset.inf") : path).ReadIntegerValue("kvdatacont", key, -999);
  }

  test_support::TempDir base;

 private:
  std::string address_;

 public:
  test_support::ProductFixture product;
  std::unique_ptr<test_support::PyFtpd> server;
};

TEST(UpdaterCommandLine, CheckListsTheRowsAndSaysUpdatesAreAvailableWithoutFetchingThem) {
  CommandLineRun run("127.0.18.2");
  run.product.Standard();
  run.StartServer();
  run.WriteSettings(5);

  const Outcome json_run = run.Updater({"--check", "--json"});
  ASSERT_TRUE(json_run.ended) << json_run.err;
  EXPECT_EQ(json_run.status, 10) << json_run.err;
  const auto json = JsonFields(json_run.out);
  EXPECT_EQ(json.at("mode"), "check");
  EXPECT_EQ(json.at("outcome"), "updates_available");
  EXPECT_EQ(json.at("exit_status"), "10");
  EXPECT_EQ(json.at("local_version"), "5");
  EXPECT_EQ(json.at("offered_version"), "10");
  EXPECT_EQ(json.at("error"), "null");
  EXPECT_EQ(json.at("errors.length"), "0");
  EXPECT_EQ(json.at("settings_file"), run.Local("updateset.inf"));
  EXPECT_EQ(json.at("started"), "false");
  EXPECT_EQ(json.at("main_program"), "null") << "named by the download";
  EXPECT_EQ(RowFields(json, "name"), kStandardRows);
  EXPECT_EQ(RowFields(json, "type"), (Names{"EXE", "bin", "RPT", "SCRIPTS", "BIN", "DOC"}));
  EXPECT_EQ(RowFields(json, "size"), (Names{"1KB", "2KB", "1KB", "0", "3KB", "1KB"}));
  EXPECT_EQ(RowFields(json, "status"), Names(6, "未下载"));
  EXPECT_EQ(RowFields(json, "outcome"), Names(6, "pending"));
  // The check's own files, and none of the rows'.
  EXPECT_TRUE(IsFile(run.Local("Update/nowlog/10.ini")));
  EXPECT_FALSE(IsFile(run.Local("Update/Oxbar_tn.exe")));
  EXPECT_FALSE(IsFile(run.Local("Update/abc.dll")));
  EXPECT_EQ(run.Setting("client_version"), 5);
  // The close wrote what the window's close writes.
  EXPECT_EQ(settings::TIniFile(run.Local("updateset.inf")).ReadTextValue("kvdatacont", "update", ""), run.Address());

  // For a person: the rows on standard output, tab-separated, and a summary.
  const Outcome plain = run.Updater({"--check"});
  EXPECT_EQ(plain.status, 10) << plain.err;
  EXPECT_NE(plain.out.find("Report/月报.txt\tRPT\t1KB\t"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("Updates available: version 5 -> 10, 6 files.\n"), std::string::npos) << plain.out;
  EXPECT_NE(plain.err.find("分析升级文件...\n"), std::string::npos) << plain.err;
}

TEST(UpdaterCommandLine, UpdateFetchesEveryRowRecordsTheVersionsAndStartsTheMainProgram) {
  CommandLineRun run("127.0.18.3");
  run.product.Standard();
  // A file of several megabytes: hundreds of blocks, and a handful of lines.
  const std::string large = test_support::RandomBytes(3 << 20, 18);
  run.product.File("说明.txt", large);
  run.StartServer();
  run.WriteSettings(5);

  const Outcome update = run.Updater({"--update", "--json"});
  ASSERT_TRUE(update.ended) << update.err;
  EXPECT_EQ(update.status, 11) << update.err;
  const auto json = JsonFields(update.out);
  EXPECT_EQ(json.at("mode"), "update");
  EXPECT_EQ(json.at("outcome"), "updated");
  EXPECT_EQ(json.at("error"), "null");
  EXPECT_EQ(json.at("main_program"), "Oxbar_tn.exe");
  EXPECT_EQ(json.at("started"), "true");
  EXPECT_EQ(RowFields(json, "name"), kStandardRows);
  EXPECT_EQ(RowFields(json, "status"), Names(6, "完成"));
  EXPECT_EQ(RowFields(json, "outcome"), Names(6, "done"));

  EXPECT_EQ(ReadFile(run.Local("Update/说明.txt")), large);
  EXPECT_EQ(ReadFile(run.Local("Update/核心.dll")), ReadFile(run.product.Dir() + "/Bin/" + platform::Utf8ToGbk("核心.dll")));
  EXPECT_EQ(run.Setting("client_version"), 10);
  EXPECT_EQ(run.Setting("database_version"), 4);
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("new"));
  EXPECT_TRUE(WaitUntil([&] { return IsFile(run.Local("started.marker")); }));
  EXPECT_EQ(ReadFile(run.Local("started.marker")), "new\n");

  // Standard error is not a terminal here: plain lines, one as each row
  // starts and one as it ends, never one per block.
  EXPECT_NE(update.err.find("下载中  说明.txt\n完成  说明.txt\n"), std::string::npos) << update.err;
  EXPECT_EQ(update.err.find('\r'), std::string::npos);
  EXPECT_LT(std::count(update.err.begin(), update.err.end(), '\n'), 30) << update.err;

  // Nothing newer now: up to date, for --update as for --check.
  const Outcome again = run.Updater({"--update"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, "Up to date: version 10.\n");
  EXPECT_EQ(run.Updater({"--check", "--quiet"}).status, 0);
}

TEST(UpdaterCommandLine, NoStartInstallsWithoutStartingAndSettingsNamesAnotherFile) {
  CommandLineRun run("127.0.18.4");
  run.product.Standard();
  run.StartServer();
  // The settings elsewhere, named relative to the working folder; none beside the program.
  std::filesystem::create_directories(run.base.File("etc"));
  const std::string settings = run.base.File("etc/korvane.inf");
  run.WriteSettings(5, "", settings);

  const Outcome update = run.Updater({"--update", "--no-start", "--quiet", "--settings", "etc/korvane.inf"});
  ASSERT_TRUE(update.ended);
  EXPECT_EQ(update.status, 11) << update.err;
  EXPECT_EQ(update.out, "") << "quiet";
  EXPECT_EQ(update.err, "") << "quiet, and nothing went wrong";
  EXPECT_EQ(run.Setting("client_version", settings), 10);
  EXPECT_EQ(settings::TIniFile(settings).ReadTextValue("kvdatacont", "update", ""), run.Address());
  EXPECT_FALSE(std::filesystem::exists(run.Local("updateset.inf"))) << "the program's own file is not made";
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("new"));

  // The next run (long enough for a started program to have said so) is up
  // to date through the same file, and nothing was started.
  const Outcome check = run.Updater({"--check", "--json", "--settings=" + settings});
  EXPECT_EQ(check.status, 0) << check.err;
  const auto json = JsonFields(check.out);
  EXPECT_EQ(json.at("outcome"), "up_to_date");
  EXPECT_EQ(json.at("local_version"), "10");
  EXPECT_EQ(json.at("settings_file"), settings);
  EXPECT_FALSE(IsFile(run.Local("started.marker")));
}

TEST(UpdaterCommandLine, ASignedReleaseIsRecordedInTheNamedSettingsFileAndAChangedFileRefused) {
  CommandLineRun run("127.0.18.5");
  const std::string publisher = test_support::PublisherPath();
  const std::string server = run.product.Dir();
  ASSERT_EQ(test_support::RunCommand({publisher, "keygen", "--unencrypted", "--public-key", run.base.File("r.pub"),
                                      "--secret-key", run.base.File("r.key")})
                .status,
            0);
  const std::string key_file = ReadFile(run.base.File("r.pub"));
  const std::string public_key = key_file.substr(key_file.find('\n') + 1, 56);
  const std::string release = run.base.File("release");
  std::filesystem::create_directories(release + "/Bin");
  WriteFile(release + "/Oxbar_tn.exe", test_support::MainProgramScript("v1"));
  WriteFile(release + "/Bin/kvcore.dll", "core v1");
  ASSERT_EQ(test_support::RunCommand({publisher, "publish", release, "--server", server, "--key", run.base.File("r.key")})
                .status,
            0);
  WriteFile(release + "/Oxbar_tn.exe", test_support::MainProgramScript("v2"));
  WriteFile(release + "/Bin/kvcore.dll", "core v2");
  ASSERT_EQ(test_support::RunCommand({publisher, "publish", release, "--server", server, "--key", run.base.File("r.key")})
                .status,
            0);
  run.StartServer();
  const std::string settings = run.base.File("signed.inf");
  const std::string signed_keys = "public_key=" + public_key + "\r\nsigned_release=1\r\n";
  run.WriteSettings(1, signed_keys, settings);

  // A changed file on the server: refused by its signed hash, nothing installed.
  const std::string genuine = ReadFile(server + "/Bin/kvcore.dll");
  WriteFile(server + "/Bin/kvcore.dll", "core v2 with something added");
  const Outcome refused = run.Updater({"--update", "--no-start", "--json", "--settings", settings});
  EXPECT_EQ(refused.status, 4) << refused.err;
  const auto refusal = JsonFields(refused.out);
  EXPECT_EQ(refusal.at("outcome"), "signature_refused");
  EXPECT_EQ(refusal.at("error"), "有文件下载失败或未通过校验，未安装任何文件!");
  EXPECT_EQ(run.Setting("signed_release", settings), 1);
  EXPECT_EQ(run.Setting("client_version", settings), 1);
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("old"));

  WriteFile(server + "/Bin/kvcore.dll", genuine);
  const Outcome update = run.Updater({"--update", "--no-start", "--settings", settings});
  EXPECT_EQ(update.status, 11) << update.err;
  EXPECT_EQ(run.Setting("signed_release", settings), 2);
  EXPECT_EQ(run.Setting("client_version", settings), 2);
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("v2"));
  EXPECT_FALSE(std::filesystem::exists(run.Local("updateset.inf")));
}

TEST(UpdaterCommandLine, AFailedRowInstallsNothingAndSaysWhichRow) {
  CommandLineRun run("127.0.18.6");
  run.product.Standard();
  run.product.Descriptor("11.ini", {{"a", "gone.txt", "DOC", "1KB", "2024-07-01"}});
  run.product.Version(11, 4);
  run.StartServer();
  run.WriteSettings(5);

  const Outcome update = run.Updater({"--update", "--json"});
  EXPECT_EQ(update.status, 5) << update.err;
  const auto json = JsonFields(update.out);
  EXPECT_EQ(json.at("outcome"), "rows_failed");
  EXPECT_EQ(json.at("error"), "下载未完成：有文件下载失败，请重新检测!");
  EXPECT_EQ(json.at("rows.6.name"), "gone.txt");
  EXPECT_EQ(json.at("rows.6.outcome"), "failed");
  EXPECT_EQ(json.at("rows.0.outcome"), "done");
  EXPECT_EQ(json.at("started"), "false");
  EXPECT_EQ(run.Setting("client_version"), 5);
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("old"));
}

TEST(UpdaterCommandLine, ALocalFileThatCannotBeWrittenHasAStatusOfItsOwn) {
  CommandLineRun run("127.0.18.7");
  run.product.Standard();
  run.StartServer();
  run.WriteSettings(5);
  // A file where the mirror of the server's Report folder belongs.
  std::filesystem::create_directories(run.Local("Update"));
  WriteFile(run.Local("Update/Report"), "in the way");

  const Outcome update = run.Updater({"--update", "--json"});
  EXPECT_EQ(update.status, 6) << update.err;
  const auto json = JsonFields(update.out);
  EXPECT_EQ(json.at("outcome"), "write_failed");
  EXPECT_EQ(json.at("rows.2.outcome"), "failed");
  EXPECT_EQ(run.Setting("client_version"), 5);
}

TEST(UpdaterCommandLine, AnErrorBoxIsPrintedAndMakesTheRunFail) {
  CommandLineRun run("127.0.18.8");
  run.product.Standard();
  // The settings file on a disk of its own that is full: the close cannot
  // write it. (Before any child process: they inherit the mount.)
  const std::string disk = run.base.File("full");
  std::filesystem::create_directories(disk);
  std::string why;
  auto mount = test_support::PrivateMount::Tmpfs(disk, 64 * 1024, why);
  if (!mount) GTEST_SKIP() << why;
  const std::string settings = disk + "/updateset.inf";
  run.WriteSettings(5, "", settings);
  const int filler = ::open((disk + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(filler, 0);
  const std::string block(512, 'f');
  while (::write(filler, block.data(), block.size()) > 0) {
  }
  ::close(filler);
  run.StartServer();

  const Outcome check = run.Updater({"--check", "--json", "--quiet", "--settings", settings});
  EXPECT_EQ(check.status, 1) << check.err;
  const auto json = JsonFields(check.out);
  EXPECT_EQ(json.at("outcome"), "error");
  EXPECT_EQ(json.at("rows.length"), "6") << "the check itself went through";
  EXPECT_EQ(json.at("errors.length"), "1");
  EXPECT_NE(json.at("error").find("Unable to write to "), std::string::npos) << json.at("error");
  EXPECT_NE(check.err.find("updater: Unable to write to "), std::string::npos) << check.err;
  EXPECT_EQ(std::count(check.err.begin(), check.err.end(), '\n'), 1) << "said once, also when quiet: " << check.err;
  EXPECT_EQ(ReadFile(settings), test_support::SettingsFileText(run.Address(), 5)) << "whole, as it was";
}

TEST(UpdaterCommandLine, NoServerIsACheckThatFailedAndQuietSaysOnlyThat) {
  CommandLineRun run("127.0.18.9");  // nothing listens there
  run.WriteSettings(5);
  const Outcome check = run.Updater({"--check", "--quiet"});
  ASSERT_TRUE(check.ended);
  EXPECT_EQ(check.status, 3);
  EXPECT_EQ(check.out, "");
  EXPECT_EQ(check.err, "updater: 不能连接服务器，检测升级文件失败!\n");

  const Outcome json_run = run.Updater({"--update", "--json"});
  EXPECT_EQ(json_run.status, 3);
  const auto json = JsonFields(json_run.out);
  EXPECT_EQ(json.at("outcome"), "check_failed");
  EXPECT_EQ(json.at("error"), "不能连接服务器，检测升级文件失败!");
  EXPECT_EQ(json.at("local_version"), "null") << "the check ended before it read the settings";
  EXPECT_EQ(json.at("rows.length"), "0");
}

// A server that takes the connection and never greets: the check ends
// within the FTP client's idle limit (60 s without a byte) as a failed one.
TEST(UpdaterCommandLine, AStalledServerEndsWithinTheBoundedWaitAsACheckThatFailed) {
  CommandLineRun run("127.0.18.10");
  run.WriteSettings(5);
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(21);
  inet_pton(AF_INET, run.Address().c_str(), &address.sin_addr);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << errno;
  ASSERT_EQ(::listen(listener, 8), 0);  // the kernel completes the connect; nobody answers

  const Outcome check = run.Updater({"--check", "--json"}, {}, std::chrono::seconds(240));
  ::close(listener);
  ASSERT_TRUE(check.ended) << "still waiting after 240 s: " << check.err;
  EXPECT_EQ(check.status, 3);
  EXPECT_EQ(JsonFields(check.out).at("outcome"), "check_failed");
}

struct RefusalCase {
  const char* name;
  const char* address;
  const char* settings;
  bool server;
  const char* outcome;
  const char* message;
};

class Refusals : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, AreStatusFourAndSayWhichCheckRefused) {
  const RefusalCase& c = GetParam();
  CommandLineRun run(c.address);
  run.product.Standard();
  if (c.server) run.StartServer();
  run.WriteSettings(5, c.settings);
  const Outcome update = run.Updater({"--update", "--json"});
  ASSERT_TRUE(update.ended);
  EXPECT_EQ(update.status, 4) << update.err;
  const auto json = JsonFields(update.out);
  EXPECT_EQ(json.at("outcome"), c.outcome);
  EXPECT_EQ(json.at("error"), c.message);
  EXPECT_EQ(json.at("rows.length"), "0");
  EXPECT_EQ(run.Setting("client_version"), 5);
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("old"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusals,
    testing::Values(
        // Nothing is sent: no server needed.
        RefusalCase{"ConnectionSettings", "127.0.18.11", "passive=sometimes\r\n", false, "settings_refused",
                    "连接设置有误，检测升级文件失败!"},
        RefusalCase{"ReleaseKey", "127.0.18.12", "public_key=not a key\r\n", true, "signature_refused",
                    "升级公钥设置无效，已拒绝升级!"},
        RefusalCase{"UnsignedServer", "127.0.18.13",
                    "public_key=RWQBAgMEBQYHCAkKCwwNDg8QERITFBUWFxgZGhscHR4fICEiIyQlJico\r\n", true,
                    "signature_refused", "服务器上缺少升级签名，已拒绝升级!"},
        // A server without TLS, when TLS was asked for.
        RefusalCase{"SecureConnection", "127.0.18.14", "tls=1\r\n", true, "tls_refused",
                    "安全连接失败：服务器拒绝加密连接"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

struct UsageCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* says;
};

class BadUsage : public testing::TestWithParam<UsageCase> {};

TEST_P(BadUsage, PrintsWhyAndTheHelpWithStatusTwoAndTouchesNothing) {
  CommandLineRun run("127.0.18.15");
  const Outcome outcome = run.Updater(GetParam().arguments);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err.rfind(std::string("updater: ") + GetParam().says + "\n\nUsage: updater", 0), 0u)
      << outcome.err;
  EXPECT_NE(outcome.err.find("  11  --update: updated\n"), std::string::npos) << "the exit statuses too";
  EXPECT_FALSE(std::filesystem::exists(run.Local("Update")));
  EXPECT_FALSE(std::filesystem::exists(run.Local("updateset.inf")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadUsage,
    testing::Values(UsageCase{"UnknownOption", {"--check", "--force"}, "unknown option --force"},
                    UsageCase{"BothModes", {"--check", "--update"}, "--check and --update exclude each other"},
                    UsageCase{"NoMode", {"--json"}, "say --check or --update"},
                    UsageCase{"NoStartWithCheck", {"--check", "--no-start"}, "--no-start goes with --update"},
                    UsageCase{"Positional", {"--check", "now"}, "unexpected argument now"},
                    UsageCase{"SettingsWithoutFile", {"--check", "--settings"}, "--settings needs a file"},
                    UsageCase{"MissingSettingsFile",
                              {"--update", "--settings", "no/such.inf"},
                              "--settings: no such settings file: no/such.inf"}),
    [](const testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

TEST(UpdaterCommandLine, HelpAndVersionNeedNoDisplayNorAQtPlatform) {
  CommandLineRun run("127.0.18.16");
  // A platform that needs a display, and none: the window would fail; the
  // command line never starts the toolkit.
  const std::vector<std::string> display_platform{"QT_QPA_PLATFORM=xcb"};
  const Outcome help = run.Updater({"--help"}, display_platform);
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out.rfind("Usage: updater", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
  const Outcome version = run.Updater({"--version"}, display_platform);
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out, "updater 1.0.0\nno release key built in\n");

  run.product.Standard();
  run.StartServer();
  run.WriteSettings(10);
  const Outcome check = run.Updater({"--check"}, display_platform);
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(check.out, "Up to date: version 10.\n");
  EXPECT_EQ(check.err, "正在连接服务器...\n检测升级文件...\n分析升级文件...\n已是最新版本！没有升级文件!\n");
}

}  // namespace
