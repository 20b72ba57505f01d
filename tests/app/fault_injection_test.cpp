// The whole updater against a hostile FTP server. A healthy exchange of one
// check and one download is written once, with named cut points between its
// steps; each scenario plays the exchange up to one cut and then misbehaves
// there: it closes the control connection, stalls, sends garbage or an
// over-long line, resets the data connection, ends a transfer with 426 and
// nothing after it, lets a stranger connect to the data port, sends a huge
// listing or names that try to leave Update; healthy updates whose listings
// come in the layouts of Windows servers and of Chinese locales run as well.
// Every scenario then checks the window's end state, that the waits were
// bounded, that nothing was written outside the program's folder, and that
// updateset.inf is still whole.
//
// The updater always connects to port 21, so each scenario's server takes
// port 21 of a free address among 127.0.0.100 to 127.0.0.159.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "platform/encoding.h"
#include "platform/headless/headless_window.h"
#include "settings/ini_file.h"
#include "support/product_fixture.h"
#include "support/scripted_ftp_peer.h"
#include "support/test_util.h"

namespace {

using platform::Control;
using platform::FileColumn;
using platform::HeadlessWindow;
using Peer = test_support::ScriptedFtpPeer;
using Steps = std::vector<Peer::Step>;
using Names = std::vector<std::string>;

// Low enough that a scenario with a few stalls stays short.
constexpr int32_t kIdleLimit = 400;
// Far above any bounded wait of a scenario: only a hang gets near it.
constexpr auto kBound = std::chrono::seconds(60);
// A scenario still running after this is stuck: it is ended loudly.
constexpr auto kWatchdog = std::chrono::seconds(150);

// ---- the server's side of a healthy update ----

std::string UnixLine(char kind, const std::string& name, size_t size = 4096) {
  return std::string(1, kind) + (kind == 'd' ? "rwxr-xr-x 2" : "rw-r--r-- 1") + " ftp ftp " + std::to_string(size) +
         " Jan 01 2024 " + name + "\r\n";
}

const std::string kProductListing = UnixLine('d', "Bin") + UnixLine('d', "log") + UnixLine('d', "Report") +
                                    UnixLine('-', "version.ini", 52);

// The same folders as an IIS server with four-digit years lists them, in
// 12-hour and in 24-hour times.
std::string DosLine(const std::string& time, const std::string& size_or_dir, const std::string& name) {
  return "07-04-2021  " + time + std::string(size_or_dir == "<DIR>" ? 7 : 21 - size_or_dir.size(), ' ') +
         size_or_dir + (size_or_dir == "<DIR>" ? "          " : " ") + name + "\r\n";
}
const std::string kDosProductListing = DosLine("11:59PM", "<DIR>", "Bin") + DosLine("11:59PM", "<DIR>", "log") +
                                       DosLine("11:59PM", "<DIR>", "Report") + DosLine("11:59PM", "52", "version.ini");
const std::string kDosLogListing = DosLine("23:59", "90", "5.ini") + DosLine("23:59", "120", "6.ini");

// ... and as a server in a Chinese locale does, its month and day signs in
// GBK or in UTF-8.
std::string ChineseMonthLine(char kind, const std::string& name, size_t size, const std::string& date) {
  return std::string(1, kind) + (kind == 'd' ? "rwxr-xr-x   2" : "rw-r--r--   1") + " ftp      ftp      " +
         std::to_string(size) + " " + date + " " + name + "\r\n";
}
std::string ChineseMonthProductListing(const std::string& month_sign) {
  const std::string date = "7" + month_sign + "  4  2021";
  return "total 16\r\n" + ChineseMonthLine('d', "Bin", 4096, date) + ChineseMonthLine('d', "log", 4096, date) +
         ChineseMonthLine('d', "Report", 4096, date) + ChineseMonthLine('-', "version.ini", 52, date);
}
std::string ChineseMonthLogListing(const std::string& month_sign, const std::string& day_sign) {
  const std::string date = "3" + month_sign + " 2" + day_sign + " 10:15";
  return ChineseMonthLine('-', "5.ini", 90, date) + ChineseMonthLine('-', "6.ini", 120, date);
}
const std::string kVersionIni = "[kvdatacont]\r\nclient_version=10\r\ndatabase_version=4\r\n";
const std::string kLogListing = UnixLine('-', "5.ini", 90) + UnixLine('-', "6.ini", 120);

std::string Section(const std::string& id, const std::string& name, const std::string& type) {
  return "[" + id + "]\r\nName=" + name + "\r\ntype=" + type + "\r\nSize=1KB\r\nDate=2024-01-01\r\n";
}
const std::string kDescriptor = Section("a", "Bin\\a.dll", "BIN") + Section("b", "Oxbar_tn.exe", "EXE");

std::string Bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  return bytes;
}
const std::string kDll = Bytes(20000);
const std::string kOldMain = "#!/bin/sh\n# old\nexit 0\n";
const std::string kNewMain = "#!/bin/sh\n# new\nexit 0\n";

// ---- faults ----

enum class Fault {
  kCloseControl,  // the control connection closes
  kStall,         // nothing more is sent, nothing is closed
  kGarbage,       // 600 bytes of every value but LF instead of the reply
  kLongLine,      // a 100000-byte reply line
  kResetData,     // the data connection is reset, then 426
  kAbortedOnly,   // 426 as the closing reply, and no second reply
};

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kCloseControl:
      return "CloseControl";
    case Fault::kStall:
      return "Stall";
    case Fault::kGarbage:
      return "Garbage";
    case Fault::kLongLine:
      return "LongLine";
    case Fault::kResetData:
      return "ResetData";
    case Fault::kAbortedOnly:
      return "Reply426WithoutAbor";
  }
  return "?";
}

Steps FaultSteps(Fault fault, bool data_open) {
  switch (fault) {
    case Fault::kCloseControl:
      return {Peer::CloseControl()};
    case Fault::kStall:
      return {Peer::StallForever()};
    case Fault::kGarbage:
      return {Peer::SendGarbage(600)};
    case Fault::kLongLine:
      return {Peer::SendLongLine(100000, "200 ")};
    case Fault::kResetData:
      if (data_open) return {Peer::ResetData(), Peer::Reply("426 Connection closed; transfer aborted.")};
      return {Peer::ConnectData(), Peer::ResetData(), Peer::Reply("426 Connection closed; transfer aborted.")};
    case Fault::kAbortedOnly:
      return {Peer::Reply("426 Connection closed; transfer aborted.")};
  }
  return {};
}

// Where in an exchange a cut lies, which decides the faults that fit there.
enum class CutKind {
  kReply,      // a reply is due
  kAfter1xx,   // the 1xx reply went out, the data connection is not open yet
  kMidData,    // half the data went out on the open data connection
  kBefore226,  // the data connection is closed, the closing reply is due
  kIdle,       // between two commands (nothing is due)
};

std::vector<Fault> FaultsAt(CutKind kind) {
  switch (kind) {
    case CutKind::kReply:
      return {Fault::kCloseControl, Fault::kStall, Fault::kGarbage, Fault::kLongLine};
    case CutKind::kAfter1xx:
      return {Fault::kCloseControl, Fault::kStall, Fault::kResetData};
    case CutKind::kMidData:
      return {Fault::kCloseControl, Fault::kStall, Fault::kResetData};
    case CutKind::kBefore226:
      return {Fault::kCloseControl, Fault::kStall, Fault::kGarbage, Fault::kLongLine, Fault::kAbortedOnly};
    case CutKind::kIdle:
      return {Fault::kCloseControl};
  }
  return {};
}

// ---- the healthy exchange with its cut points ----

// Where the cut is: in the check, in its listing of log/ (whose refusal by
// the server the check drops), or in the download's first or second row.
enum class Stage { kCheck, kCheckLogListing, kRow1, kRow2 };

struct Cut {
  std::string label;
  size_t at;             // steps before the fault
  CutKind kind;
  Stage stage;
  std::string reached;   // the last command the server has received by then
};

// Options of the exchange that some scenarios change.
struct Exchange {
  std::string product_listing = kProductListing;
  std::string log_listing = kLogListing;
  std::string descriptor = kDescriptor;
  // A million file lines ahead of the product folder's or log/'s listing.
  bool million_product_lines = false;
  bool million_log_lines = false;
  bool passive = false;
  std::string pasv_name;       // the address a PASV reply names instead of the server's
  std::string stranger;        // a stranger connects from here before the server ...
  std::string stranger_on;     // ... on the data connection of this command
  bool stranger_only = false;  // ... and the server never connects
  // The data connection of this command is reset halfway and 426 answers
  // it; the server then goes on with the next command.
  std::string reset_on;
};

// A million lines of plain files, about 45 MB.
std::string MillionLines(const std::string& stem) {
  std::string text;
  text.reserve(50'000'000);
  for (int i = 0; i < 1'000'000; ++i) text += UnixLine('-', stem + std::to_string(i), 10);
  return text;
}

class Script {
 public:
  explicit Script(Exchange exchange) : x_(std::move(exchange)) {}

  const Steps& steps() const { return steps_; }
  const std::vector<Cut>& cuts() const { return cuts_; }

  Script& Check() {
    stage_ = Stage::kCheck;
    Mark("greeting", CutKind::kReply);
    Add(Peer::Reply("220 hostile ready"));
    Command("USER", "USER tarnivelo", "331 password please");
    Command("PASS", "PASS qmzwkt", "230 in");
    Command("TYPE", "TYPE I", "200 binary");
    Command("SYST", "SYST", "215 UNIX Type: L8");
    Command("CWD product", "CWD /qt482/", "250 ok");
    Command("CWD product again", "CWD /qt482/", "250 ok");
    Transfer("LIST product", "LIST", (x_.million_product_lines ? MillionLines("file") : "") + x_.product_listing);
    Transfer("RETR version.ini", "RETR /qt482/version.ini", kVersionIni);
    Command("CWD log/", "CWD /qt482/log/", "250 ok");
    stage_ = Stage::kCheckLogListing;
    Transfer("LIST log", "LIST", (x_.million_log_lines ? MillionLines("old-") : "") + x_.log_listing);
    stage_ = Stage::kCheck;
    Transfer("RETR descriptor (nowlog)", "RETR /qt482/log/6.ini", x_.descriptor);
    Transfer("RETR descriptor (log)", "RETR /qt482/log/6.ini", x_.descriptor);
    return *this;
  }

  Script& Download() {
    stage_ = Stage::kRow1;
    Command("SIZE", "SIZE /qt482/Bin/a.dll", "213 20000");
    Transfer("RETR a.dll", "RETR /qt482/Bin/a.dll", kDll);
    stage_ = Stage::kRow2;
    Mark("between rows", CutKind::kIdle);
    Transfer("RETR main program", "RETR /qt482/Oxbar_tn.exe", kNewMain);
    return *this;
  }

 private:
  // After a halt the server sends nothing more.
  void Add(Peer::Step step) {
    if (!halted_) steps_.push_back(std::move(step));
  }
  void Mark(const std::string& label, CutKind kind) {
    if (!halted_) cuts_.push_back(Cut{label, steps_.size(), kind, stage_, reached_});
  }
  void Expect(const std::string& line) {
    Add(Peer::Expect(line));
    reached_ = line;
  }
  void Command(const std::string& label, const std::string& line, const std::string& reply) {
    Expect(line);
    Mark(label, CutKind::kReply);
    Add(Peer::Reply(reply));
  }
  void Transfer(const std::string& label, const std::string& command, const std::string& data) {
    if (x_.passive) {
      Peer::PasvOptions options;
      options.name_address = x_.pasv_name;
      Add(Peer::Pasv(options));
      reached_ = "PASV";
    } else {
      Add(Peer::ExpectPort(""));
      reached_ = "PORT";
      Mark(label + ": PORT", CutKind::kReply);
      Add(Peer::Reply("200 PORT command successful."));
    }
    Expect(command);
    Mark(label + ": before 1xx", CutKind::kReply);
    Add(Peer::Reply("150 opening data connection"));
    Mark(label + ": after 1xx", CutKind::kAfter1xx);
    if (!x_.stranger.empty() && x_.stranger_on == command) {
      Add(Peer::StrangerConnects(x_.stranger, "-rw-r--r-- 1 x x 1 Jan 01 2024 ../../stranger-evil\r\n"));
      x_.stranger.clear();
      halted_ = x_.stranger_only;
    }
    Add(Peer::ConnectData());
    const size_t half = data.size() / 2;
    Add(Peer::SendData(data.substr(0, half)));
    Mark(label + ": mid-data", CutKind::kMidData);
    if (x_.reset_on == command) {
      Add(Peer::ResetData());
      Add(Peer::Reply("426 Connection closed; transfer aborted."));
      return;
    }
    Add(Peer::SendData(data.substr(half)));
    Add(Peer::CloseData());
    Mark(label + ": before 226", CutKind::kBefore226);
    Add(Peer::Reply("226 transfer complete"));
  }

  Exchange x_;
  Steps steps_;
  std::vector<Cut> cuts_;
  Stage stage_ = Stage::kCheck;
  std::string reached_;
  bool halted_ = false;
};

// ---- scenarios ----

// What the window shows when a check has ended.
enum class CheckEnd { kFailed, kUpToDate, kRows };

struct Scenario {
  std::string name;
  Exchange exchange;
  bool download = false;  // the check must succeed, then the download runs
  // The cut and the fault; no cut: the exchange runs to its end.
  std::string cut;
  Fault fault = Fault::kStall;
  int64_t max_listing_bytes = 0;  // 0: the client's own limit
  // Expected end of the check (download scenarios: kRows).
  CheckEnd check_end = CheckEnd::kRows;
  bool connected_after_check = true;
  // Expected end of a download.
  Names statuses;
  bool versions_recorded = false;
  bool new_main_program = false;
};

std::string Identifier(std::string text) {
  std::string id;
  bool upper = true;
  for (char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      id.push_back(upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
      upper = false;
    } else {
      upper = true;
    }
  }
  return id;
}

// One scenario for every cut of the healthy exchange and every fault that
// fits there, with the end state each must reach.
std::vector<Scenario> CutScenarios() {
  Script script(Exchange{});
  script.Check().Download();
  std::vector<Scenario> list;
  for (const Cut& cut : script.cuts()) {
    for (Fault fault : FaultsAt(cut.kind)) {
      Scenario s;
      s.name = Identifier(cut.label) + "_" + FaultName(fault);
      s.cut = cut.label;
      s.fault = fault;
      const bool in_connect = cut.reached.empty() || cut.reached.rfind("USER", 0) == 0 ||
                              cut.reached.rfind("PASS", 0) == 0 || cut.reached == "TYPE I" || cut.reached == "SYST";
      // A failed Connect disconnects. Later failures leave the connection
      // as the server left it: a failed transfer still reads its closing
      // reply, so a close is seen also when it came during the data.
      s.connected_after_check = !in_connect && fault != Fault::kCloseControl;
      switch (cut.stage) {
        case Stage::kCheck:
          s.check_end = CheckEnd::kFailed;
          break;
        case Stage::kCheckLogListing:
          // A listing of log/ that the server refuses with a reply is
          // dropped: the retrieval goes on with the product folder's listing,
          // which names no descriptor. Every other failure fails the check.
          s.check_end = fault == Fault::kGarbage ? CheckEnd::kUpToDate : CheckEnd::kFailed;
          break;
        case Stage::kRow1:
          s.connected_after_check = true;
          s.download = true;
          s.statuses = {"失败", "失败"};
          break;
        case Stage::kRow2:
          s.connected_after_check = true;
          s.download = true;
          s.statuses = {"完成", "失败"};
          s.versions_recorded = true;
          break;
      }
      list.push_back(std::move(s));
    }
  }
  return list;
}

std::vector<Scenario> OtherScenarios() {
  std::vector<Scenario> list;
  auto check = [&](std::string name, Exchange exchange, CheckEnd end = CheckEnd::kRows) {
    Scenario s;
    s.name = std::move(name);
    s.exchange = std::move(exchange);
    s.check_end = end;
    s.connected_after_check = true;
    list.push_back(s);
    return &list.back();
  };
  auto download = [&](std::string name, Exchange exchange, Names statuses) {
    Scenario s;
    s.name = std::move(name);
    s.exchange = std::move(exchange);
    s.download = true;
    s.statuses = std::move(statuses);
    s.versions_recorded = true;
    s.new_main_program = true;
    list.push_back(s);
    return &list.back();
  };

  download("HealthyUpdate", {}, {"完成", "完成"});

  // Listings in the layouts of Windows servers and of servers in a Chinese
  // locale: every folder and descriptor is found, and the update completes.
  Exchange dos;
  dos.product_listing = kDosProductListing;
  dos.log_listing = kDosLogListing;
  download("HealthyUpdateFromDosListingsWithFourDigitYears", dos, {"完成", "完成"});
  Exchange chinese_gbk;
  chinese_gbk.product_listing = ChineseMonthProductListing("\xD4\xC2");     // 月 in GBK
  chinese_gbk.log_listing = ChineseMonthLogListing("\xD4\xC2", "\xC8\xD5");  // 月, 日
  download("HealthyUpdateFromChineseMonthListingsInGbk", chinese_gbk, {"完成", "完成"});
  Exchange chinese_utf8;
  chinese_utf8.product_listing = ChineseMonthProductListing("\xE6\x9C\x88");
  chinese_utf8.log_listing = ChineseMonthLogListing("\xE6\x9C\x88", "\xE6\x97\xA5");
  download("HealthyUpdateFromChineseMonthListingsInUtf8", chinese_utf8, {"完成", "完成"});

  // A stranger on the active-mode data port is refused; the server's own
  // connection is then taken.
  Exchange stranger_list;
  stranger_list.stranger_on = "LIST";
  check("StrangerOnTheListingsDataPortIsRefused", stranger_list);
  Exchange stranger_main;
  stranger_main.stranger_on = "RETR /qt482/Oxbar_tn.exe";
  download("StrangerOnTheMainProgramsDataPortIsRefused", stranger_main, {"完成", "完成"});
  Exchange stranger_only = stranger_list;
  stranger_only.stranger_only = true;
  check("OnlyAStrangerConnectsToTheDataPort", stranger_only, CheckEnd::kFailed);

  // A data connection that breaks fails its row alone: the connection goes
  // on and the next row is fetched.
  Exchange reset;
  reset.reset_on = "RETR /qt482/Bin/a.dll";
  download("BrokenDataConnectionFailsItsRowAlone", reset, {"失败", "完成"});

  // A PASV reply naming another host: the data connection still goes to
  // the server the client talks to.
  Exchange pasv;
  pasv.passive = true;
  pasv.pasv_name = "stranger";
  download("PasvNamingAnotherHostConnectsToTheServer", pasv, {"完成", "完成"});

  // A million lines of listing, in the product folder and in log/.
  Exchange big_product;
  big_product.million_product_lines = true;
  check("MillionLineProductListing", big_product);
  Exchange big_log;
  big_log.million_log_lines = true;
  check("MillionLineLogListing", big_log);
  Scenario* limited = check("ListingAboveTheClientsLimit", big_product, CheckEnd::kFailed);
  limited->max_listing_bytes = 4 << 20;

  // Names that try to leave Update: listed folders, listed descriptors,
  // names in a descriptor. None reaches the disk or the server.
  Exchange names;
  names.product_listing = UnixLine('d', "..") + UnixLine('d', ".") + UnixLine('d', "../../../../evil-dir") +
                          UnixLine('d', "a/../../../../evil-dir") + UnixLine('d', "..\\..\\..\\..\\evil-dir") +
                          UnixLine('d', "/tmp/evil-dir") + kProductListing;
  names.log_listing = UnixLine('-', "9/../../../../evil.ini") + UnixLine('-', "9\\..\\..\\..\\..\\evil.ini") +
                      UnixLine('-', "7/evil.ini") + UnixLine('-', "/tmp/9evil.ini") + kLogListing;
  check("ListedNamesThatLeaveUpdate", names);
  Exchange rows = names;
  rows.descriptor = Section("a", "Bin\\a.dll", "BIN") + Section("x1", "../../../../evil.txt", "TXT") +
                    Section("x2", "Bin\\..\\..\\..\\..\\evil.dll", "BIN") +
                    Section("x3", "Report/../../../../../evil.txt", "RPT") + Section("x4", "/tmp/evil.txt", "TXT") +
                    Section("x5", "..\\..\\..\\..\\evil.txt", "SCRIPTS") + Section("b", "Oxbar_tn.exe", "EXE");
  download("DescriptorNamesThatLeaveUpdate", rows, {"完成", "失败", "失败", "失败", "失败", "失败", "完成"});
  return list;
}

std::vector<Scenario> AllScenarios() {
  std::vector<Scenario> list = CutScenarios();
  for (Scenario& s : OtherScenarios()) list.push_back(std::move(s));
  return list;
}

const std::vector<Scenario>& Table() {
  static const std::vector<Scenario> table = AllScenarios();
  return table;
}

// ---- the runner ----

// Every file and folder under root, with its size (folders: -1), except
// what lies under skip.
std::map<std::string, int64_t> Snapshot(const std::string& root, const std::string& skip) {
  std::map<std::string, int64_t> entries;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string path = it->path().string();
    if (path == skip) {
      it.disable_recursion_pending();
      continue;
    }
    entries[path] = it->is_directory() ? -1 : static_cast<int64_t>(it->file_size(error));
  }
  return entries;
}

// The names in a folder that hold "evil": where escaping names would land.
std::set<std::string> EvilNames(const std::string& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.find("evil") != std::string::npos) names.insert(name);
  }
  return names;
}

// Ends the process with a message when a scenario hangs.
class Watchdog {
 public:
  explicit Watchdog(std::string name)
      : thread_([this, name = std::move(name)] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!changed_.wait_for(lock, kWatchdog, [this] { return done_; })) {
            std::fprintf(stderr, "scenario %s hangs\n", name.c_str());
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;
};

std::string Utf8(const std::string& gbk) { return platform::GbkToUtf8(gbk); }

// The file's bytes, or a note that there is no such file.
std::string Contents(const std::string& path) {
  try {
    return test_support::ReadFile(path);
  } catch (const std::runtime_error&) {
    return "(no file " + path + ")";
  }
}

class FaultInjection : public ::testing::TestWithParam<size_t> {};

TEST_P(FaultInjection, EndsInTheStateTheFailureCalls) {
  const Scenario& s = Table()[GetParam()];
  Watchdog watchdog(s.name);

  // The program folder lies deep inside the scenario's own folder, so that
  // any name climbing out of it still lands where the snapshot sees it.
  test_support::TempDir base;
  const std::string program = base.File("a/b/c/d/program");
  std::filesystem::create_directories(program);
  const std::string installed_main = program + "/Oxbar_tn.exe";
  test_support::WriteFile(installed_main, kOldMain);

  // The server: port 21 of the first free address from this scenario's own.
  std::unique_ptr<Peer> peer;
  std::string host;
  std::string reached;  // the command the server must have got before the fault
  for (size_t attempt = 0; attempt < 60 && !peer; ++attempt) {
    const int n = 100 + static_cast<int>((GetParam() + attempt) % 60);
    host = "127.0.0." + std::to_string(n);
    Exchange exchange = s.exchange;
    if (!exchange.stranger_on.empty()) exchange.stranger = "127.0.0." + std::to_string(n == 159 ? 100 : n + 1);
    if (exchange.pasv_name == "stranger") exchange.pasv_name = "127.0.0." + std::to_string(n == 159 ? 100 : n + 1);
    Script script(exchange);
    script.Check();
    if (s.download) script.Download();
    Steps steps = script.steps();
    if (!s.cut.empty()) {
      bool found = false;
      for (const Cut& cut : script.cuts()) {
        if (cut.label != s.cut) continue;
        found = true;
        reached = cut.reached;
        steps.resize(cut.at);
        const bool data_open = cut.kind == CutKind::kMidData;
        for (Peer::Step& step : FaultSteps(s.fault, data_open)) steps.push_back(std::move(step));
      }
      ASSERT_TRUE(found) << s.cut;
    }
    try {
      peer = std::make_unique<Peer>(steps, host, std::chrono::seconds(20), 21);
    } catch (const std::runtime_error&) {
      // Port 21 of this address is taken by a scenario running beside us.
    }
  }
  ASSERT_TRUE(peer) << "no free address among 127.0.0.100 to 127.0.0.159";
  // On a failure, what the server saw tells where the exchange went astray.
  struct ServerView {
    const Peer& peer;
    ~ServerView() {
      if (!::testing::Test::HasFailure()) return;
      std::string lines;
      for (const std::string& line : peer.Transcript()) lines += "  " + line.substr(0, 200) + "\n";
      ADD_FAILURE() << "the server's view: " << (peer.Error().empty() ? "as scripted" : peer.Error()) << "\n" << lines;
    }
  } server_view{*peer};

  test_support::WriteFile(program + "/updateset.inf",
                          test_support::SettingsFileText(host, 5, "[mainapp]\r\nSys_name=Oxbar_tn.exe\r\n"));
  const auto outside_before = Snapshot(base.Path(), program);
  const auto tmp_before = EvilNames("/tmp");
  const auto root_before = EvilNames("/");

  HeadlessWindow window;
  auto form = std::make_unique<app::TForm1>(window, program + "/");
  form->FTPClient.IdleLimit = kIdleLimit;
  if (s.max_listing_bytes > 0) form->FTPClient.MaxListingBytes = s.max_listing_bytes;
  form->FTPClient.Passive = s.exchange.passive;
  window.SetEvents(form.get());

  auto started = std::chrono::steady_clock::now();
  form->RunGuarded([&] { form->FormCreate(); });
  EXPECT_LT(std::chrono::steady_clock::now() - started, kBound) << "the check outlasted every bounded wait";

  const std::string message = Utf8(window.StatusMessage());
  switch (s.check_end) {
    case CheckEnd::kFailed:
      EXPECT_EQ(message, "不能连接服务器，检测升级文件失败!");
      EXPECT_TRUE(window.IsEnabled(Control::Button1));
      EXPECT_FALSE(window.IsEnabled(Control::Button2));
      break;
    case CheckEnd::kUpToDate:
      EXPECT_EQ(message, "已是最新版本！没有升级文件!");
      EXPECT_EQ(window.RowCount(), 0);
      EXPECT_TRUE(window.IsEnabled(Control::Button1));
      EXPECT_FALSE(window.IsEnabled(Control::Button2));
      break;
    case CheckEnd::kRows:
      EXPECT_EQ(message, "分析升级文件...");
      EXPECT_GT(window.RowCount(), 0);
      EXPECT_FALSE(window.IsEnabled(Control::Button1));
      EXPECT_TRUE(window.IsEnabled(Control::Button2));
      EXPECT_TRUE(std::filesystem::is_directory(program + "/Update/Report"));
      EXPECT_EQ(Contents(program + "/Update/nowlog/6.ini"), s.exchange.descriptor);
      break;
  }
  EXPECT_TRUE(window.IsEnabled(Control::Button3));
  EXPECT_EQ(form->FTPClient.Connected(), s.connected_after_check);
  EXPECT_TRUE(window.Boxes().empty()) << "no error box: the check handles its failures";

  if (s.download) {
    ASSERT_EQ(static_cast<int>(s.statuses.size()), window.RowCount());
    started = std::chrono::steady_clock::now();
    EXPECT_TRUE(window.Press(Control::Button2));
    EXPECT_LT(std::chrono::steady_clock::now() - started, kBound) << "the download outlasted every bounded wait";
    Names statuses;
    for (int row = 0; row < window.RowCount(); ++row) statuses.push_back(Utf8(window.RowText(row, FileColumn::Status)));
    EXPECT_EQ(statuses, s.statuses);
    EXPECT_EQ(Utf8(window.StatusMessage()), "就绪...");
    EXPECT_TRUE(window.IsClosed());
    EXPECT_TRUE(window.Boxes().empty());
    EXPECT_EQ(Contents(installed_main), s.new_main_program ? kNewMain : kOldMain)
        << "the installed main program is the old one or the new one, whole";
  } else {
    EXPECT_TRUE(window.Press(Control::Button3));
    EXPECT_TRUE(window.IsClosed());
  }

  // updateset.inf: whole, with the keys this run wrote and no others.
  settings::TIniFile settings_file(program + "/updateset.inf");
  Names sections;
  settings_file.ListSections(sections);
  EXPECT_EQ(sections, (Names{"kvdatacont", "mainapp"}));
  Names keys;
  settings_file.ListKeys("kvdatacont", keys);
  if (s.versions_recorded) {
    EXPECT_EQ(keys, (Names{"updateadd", "client_version", "database_version", "update"}));
    EXPECT_EQ(settings_file.ReadIntegerValue("kvdatacont", "client_version", -1), 10);
    EXPECT_EQ(settings_file.ReadIntegerValue("kvdatacont", "database_version", -1), 4);
  } else {
    EXPECT_EQ(keys, (Names{"updateadd", "client_version", "update"}));
    EXPECT_EQ(settings_file.ReadIntegerValue("kvdatacont", "client_version", -1), 5);
  }
  EXPECT_EQ(settings_file.ReadTextValue("kvdatacont", "updateadd", ""), host);
  EXPECT_EQ(settings_file.ReadTextValue("kvdatacont", "update", ""), host);
  EXPECT_EQ(settings_file.ReadTextValue("mainapp", "Sys_name", ""), "Oxbar_tn.exe");

  // Nothing outside the program's folder, nothing on the server's side
  // either: an unsafe name is never asked for.
  EXPECT_EQ(Snapshot(base.Path(), program), outside_before);
  EXPECT_EQ(EvilNames("/tmp"), tmp_before);
  EXPECT_EQ(EvilNames("/"), root_before);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(program)) {
    EXPECT_EQ(entry.path().filename().string().find("evil"), std::string::npos) << entry.path();
  }

  form.reset();
  const Names transcript = peer->Transcript();
  for (const std::string& line : transcript) EXPECT_EQ(line.find("evil"), std::string::npos) << line;
  if (!s.cut.empty()) {
    // The fault came where it was meant to: the server had got that far.
    bool seen = reached.empty();
    for (const std::string& line : transcript) seen = seen || line.rfind(reached, 0) == 0;
    EXPECT_TRUE(seen) << "the server never received " << reached;
  } else if (s.check_end == CheckEnd::kRows) {
    EXPECT_EQ(peer->Error(), "") << "the exchange went as the server expected";
  }
}

std::string ScenarioName(const ::testing::TestParamInfo<size_t>& info) { return Table()[info.param].name; }

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultInjection, ::testing::Range(size_t{0}, Table().size()), ScenarioName);

}  // namespace
