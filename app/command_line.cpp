#include "app/command_line.h"

#include <cstdio>
#include <exception>
#include <filesystem>

#include "app/built_in_key.h"
#include "app/program_start.h"
#include "app/safe_paths.h"
#include "app/texts.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/terminal/terminal_window.h"
#include "settings/integer_conversion.h"

#ifndef UPDATER_VERSION
#define UPDATER_VERSION "unknown"
#endif

namespace app {
namespace {

using platform::Control;
using platform::FileColumn;
using Mode = CommandLine::Mode;

const char kUsage[] =
    "Usage: updater                       the update window\n"
    "       updater --check  [--settings FILE] [--quiet] [--json]\n"
    "       updater --update [--no-start] [--settings FILE] [--quiet] [--json]\n"
    "       updater --help | --version\n"
    "\n"
    "Checks for and installs updates of the product in this program's folder without a window,\n"
    "as the window does, and tells the outcome in the exit status.\n"
    "\n"
    "  --check          check, and list the files an update would fetch\n"
    "  --update         check, fetch every file on offer, install them and start the main program\n"
    "  --no-start       with --update: do not start the main program\n"
    "  --settings FILE  read and write FILE instead of updateset.inf beside the program\n"
    "  --quiet          print nothing but errors\n"
    "  --json           print one JSON object with the outcome on standard output\n"
    "  --help           print this help\n"
    "  --version        print the program's version\n"
    "\n"
    "Nothing waits for an answer: the question whether to end an open connection is answered Yes,\n"
    "and an error box is printed on standard error and makes the run fail (status 1).\n"
    "\n"
    "Exit status:\n"
    "   0  up to date\n"
    "   1  unexpected failure\n"
    "   2  bad usage\n"
    "   3  could not connect, log in or read the update server\n"
    "   4  refused: connection settings, secure connection (TLS) or signature\n"
    "   5  --update: a file could not be fetched; nothing installed\n"
    "   6  --update: a local file could not be written; nothing installed\n"
    "  10  --check: updates available\n"
    "  11  --update: updated\n";

std::string Utf8(const std::string& gbk) {
  try {
    return platform::GbkToUtf8(gbk);
  } catch (...) {
    return gbk;  // JsonQuoted replaces what is not UTF-8
  }
}

// The settings file named on the command line, as the program names files
// (GBK, absolute); false with the reason when it cannot be used.
bool SettingsPathOf(const std::string& given, std::string& path, std::string& error) {
  std::string absolute = given;
  try {
    if (absolute[0] != '/') absolute = std::filesystem::current_path().string() + "/" + absolute;
    path = platform::Utf8ToGbk(absolute);
    if (platform::GbkToUtf8(path) != absolute) {
      error = "--settings: the name " + given + " cannot be written in GBK";
      return false;
    }
  } catch (const std::exception& failure) {
    error = std::string("--settings: ") + failure.what();
    return false;
  }
  if (!platform::FileExists(path)) {
    // A mistyped name would otherwise run on the defaults and create it.
    error = "--settings: no such settings file: " + given;
    return false;
  }
  return true;
}

std::string RowOutcome(const std::string& status) {
  if (status == texts::kNotDownloaded) return "pending";
  if (status == texts::kDownloadingRow) return "downloading";
  if (status == texts::kRowDone) return "done";
  if (status == texts::kRowFailed) return "failed";
  return "unknown";
}

std::optional<int32_t> VersionShown(const platform::MainWindow& window, Control label) {
  int32_t value = 0;
  if (settings::TryStrToInt32(window.Text(label), value)) return value;
  return std::nullopt;  // "--": no check got that far
}

bool IsFailure(int status) { return status != kExitUpToDate && status != kExitUpdatesAvailable && status != kExitUpdated; }

// Runs the window logic on the terminal's window, from the program's start
// to its close, and gives what it found.
RunReport Run(const CommandLine& command, const std::string& settings_path) {
  RunReport report;
  report.mode = command.mode;
  const TForm1* known = nullptr;
  platform::TerminalOptions options;
  options.quiet = command.quiet;
  options.interactive = platform::TerminalWindow::StandardErrorIsTerminal();
  options.columns = platform::TerminalWindow::StandardErrorColumns();
  options.transfer_size = [&known] { return known != nullptr ? known->KnownTransferSize() : int64_t{-1}; };
  platform::TerminalWindow window(options);
  TForm1 form(window);
  known = &form;
  if (!settings_path.empty()) form.SettingsPath = settings_path;
  form.StartMainProgram = !command.no_start;

  // The program's start runs the first check, as the window's does.
  StartProgram(window, form);
  if (command.mode == Mode::kUpdate && form.Outcome == UpdateOutcome::kUpdatesFound &&
      window.IsEnabled(Control::Button2)) {
    for (int row = 0; row < window.RowCount(); ++row) window.Tick(row, true);
    form.ButtonClicked(Control::Button2);
  }
  // A download that completed has closed the window; anything else closes
  // here, as the user's Close would.
  if (!window.IsClosed()) window.RequestClose();
  window.EndProgressLine();

  report.outcome = form.Outcome;
  for (const std::string& error : window.Errors()) report.errors.push_back(Utf8(error));
  report.exit_status = ExitStatusOf(form.Outcome, !report.errors.empty());
  report.local_version = VersionShown(window, Control::Label8);
  report.offered_version = VersionShown(window, Control::Label10);
  report.message = Utf8(window.StatusMessage());
  if (IsFailure(report.exit_status)) report.error = report.errors.empty() ? report.message : report.errors.front();
  for (int row = 0; row < window.RowCount(); ++row) {
    const std::string status = window.RowText(row, FileColumn::Status);
    report.rows.push_back(ReportRow{Utf8(window.RowText(row, FileColumn::Name)),
                                    Utf8(window.RowText(row, FileColumn::Type)),
                                    Utf8(window.RowText(row, FileColumn::Size)),
                                    Utf8(window.RowText(row, FileColumn::Date)), Utf8(status), RowOutcome(status)});
  }
  report.settings_file = Utf8(form.SettingsPath);
  report.main_program = Utf8(form.MainAppName);
  report.started = form.Outcome == UpdateOutcome::kUpdated && form.StartMainProgram &&
                   IsSafeRelativeName(form.MainAppName);
  return report;
}

std::string Version(const std::optional<int32_t>& version) {
  return version ? std::to_string(*version) : std::string("unknown");
}

// The report for a person: the rows, then one line that says how it ended.
// Control characters in the texts are shown as "?".
void PrintReport(const RunReport& report) {
  const bool update = report.mode == Mode::kUpdate;
  for (const ReportRow& row : report.rows) {
    std::vector<std::string> fields{row.name, row.type, row.size, row.date};
    if (update) fields.push_back(row.status);
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) line += (i == 0 ? "" : "\t") + platform::PrintableText(fields[i]);
    std::printf("%s\n", line.c_str());
  }
  switch (report.exit_status) {
    case kExitUpToDate:
      std::printf("Up to date: version %s.\n", Version(report.local_version).c_str());
      break;
    case kExitUpdatesAvailable:
      std::printf("Updates available: version %s -> %s, %zu files.\n", Version(report.local_version).c_str(),
                  Version(report.offered_version).c_str(), report.rows.size());
      break;
    case kExitUpdated: {
      const std::string name = platform::PrintableText(report.main_program);
      std::printf("Updated to version %s; %s.\n", Version(report.offered_version).c_str(),
                  (report.started ? "started " + name : name + " not started").c_str());
      break;
    }
    default:
      break;  // the failure itself went to standard error
  }
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& arguments, std::string& error) {
  CommandLine command;
  bool mode_given = false;
  bool help = false;
  bool version = false;
  bool settings_given = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--check" || argument == "--update") {
      const Mode mode = argument == "--check" ? Mode::kCheck : Mode::kUpdate;
      if (mode_given && command.mode != mode) {
        error = "--check and --update exclude each other";
        return std::nullopt;
      }
      command.mode = mode;
      mode_given = true;
    } else if (argument == "--no-start") {
      command.no_start = true;
    } else if (argument == "--quiet") {
      command.quiet = true;
    } else if (argument == "--json") {
      command.json = true;
    } else if (argument == "--help" || argument == "-h") {
      help = true;
    } else if (argument == "--version") {
      version = true;
    } else if (argument == "--settings" || argument.rfind("--settings=", 0) == 0) {
      std::string file;
      if (argument == "--settings") {
        if (i + 1 == arguments.size()) {
          error = "--settings needs a file";
          return std::nullopt;
        }
        file = arguments[++i];
      } else {
        file = argument.substr(sizeof "--settings=" - 1);
      }
      if (settings_given) {
        error = "--settings is given twice";
        return std::nullopt;
      }
      if (file.empty()) {
        error = "--settings needs a file";
        return std::nullopt;
      }
      command.settings = file;
      settings_given = true;
    } else {
      error = (argument.rfind("-", 0) == 0 ? "unknown option " : "unexpected argument ") + argument;
      return std::nullopt;
    }
  }
  if (help || version) {
    command.mode = help ? Mode::kHelp : Mode::kVersion;
    return command;
  }
  if (!mode_given) {
    error = "say --check or --update";
    return std::nullopt;
  }
  if (command.no_start && command.mode != Mode::kUpdate) {
    error = "--no-start goes with --update";
    return std::nullopt;
  }
  return command;
}

const char* UsageText() { return kUsage; }

int ExitStatusOf(UpdateOutcome outcome, bool error_shown) {
  int status = kExitError;
  switch (outcome) {
    case UpdateOutcome::kUpToDate:
      status = kExitUpToDate;
      break;
    case UpdateOutcome::kUpdatesFound:
      status = kExitUpdatesAvailable;
      break;
    case UpdateOutcome::kUpdated:
      status = kExitUpdated;
      break;
    case UpdateOutcome::kCheckFailed:
      return kExitCheckFailed;
    case UpdateOutcome::kSettingsRefused:
    case UpdateOutcome::kTLSRefused:
    case UpdateOutcome::kReleaseRefused:
      return kExitRefused;
    case UpdateOutcome::kRowsFailed:
      return kExitRowsFailed;
    case UpdateOutcome::kWriteFailed:
      return kExitWriteFailed;
    case UpdateOutcome::kNone:
      return kExitError;
  }
  return error_shown ? kExitError : status;
}

std::string OutcomeName(int exit_status, UpdateOutcome outcome) {
  switch (exit_status) {
    case kExitUpToDate:
      return "up_to_date";
    case kExitUsage:
      return "usage";
    case kExitCheckFailed:
      return "check_failed";
    case kExitRefused:
      if (outcome == UpdateOutcome::kSettingsRefused) return "settings_refused";
      if (outcome == UpdateOutcome::kTLSRefused) return "tls_refused";
      return "signature_refused";
    case kExitRowsFailed:
      return "rows_failed";
    case kExitWriteFailed:
      return "write_failed";
    case kExitUpdatesAvailable:
      return "updates_available";
    case kExitUpdated:
      return "updated";
    default:
      return "error";
  }
}

std::string JsonQuoted(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      if (byte == '"' || byte == '\\') {
        out += '\\';
        out += static_cast<char>(byte);
      } else if (byte == '\n') {
        out += "\\n";
      } else if (byte == '\r') {
        out += "\\r";
      } else if (byte == '\t') {
        out += "\\t";
      } else if (byte < 0x20 || byte == 0x7F) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
        out += escaped;
      } else {
        out += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    // A whole, shortest-form sequence for a code point up to U+10FFFF, not
    // a surrogate, is kept; anything else is one U+FFFD per byte.
    const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
    bool whole = length != 0 && byte <= 0xF4 && i + length <= utf8.size();
    uint32_t code = whole ? byte & (0x7F >> length) : 0;
    for (size_t k = 1; whole && k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      whole = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    whole = whole && code >= kLeast[length] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (whole) {
      out.append(utf8, i, length);
      i += length;
    } else {
      out += "\\ufffd";
      ++i;
    }
  }
  return out + "\"";
}

std::string JsonReport(const RunReport& report) {
  const auto number = [](const std::optional<int32_t>& value) {
    return value ? std::to_string(*value) : std::string("null");
  };
  std::string json = "{\"mode\":";
  json += report.mode == Mode::kUpdate ? "\"update\"" : "\"check\"";
  json += ",\"outcome\":" + JsonQuoted(OutcomeName(report.exit_status, report.outcome));
  json += ",\"exit_status\":" + std::to_string(report.exit_status);
  json += ",\"local_version\":" + number(report.local_version);
  json += ",\"offered_version\":" + number(report.offered_version);
  json += ",\"message\":" + JsonQuoted(report.message);
  json += ",\"error\":" + (report.error.empty() ? std::string("null") : JsonQuoted(report.error));
  json += ",\"errors\":[";
  for (size_t i = 0; i < report.errors.size(); ++i) json += (i == 0 ? "" : ",") + JsonQuoted(report.errors[i]);
  json += "],\"rows\":[";
  for (size_t i = 0; i < report.rows.size(); ++i) {
    const ReportRow& row = report.rows[i];
    json += i == 0 ? "{" : ",{";
    json += "\"name\":" + JsonQuoted(row.name) + ",\"type\":" + JsonQuoted(row.type) +
            ",\"size\":" + JsonQuoted(row.size) + ",\"date\":" + JsonQuoted(row.date) +
            ",\"status\":" + JsonQuoted(row.status) + ",\"outcome\":" + JsonQuoted(row.outcome) + "}";
  }
  json += "],\"settings_file\":" + JsonQuoted(report.settings_file);
  // Known once a download has read it from the settings file.
  json += ",\"main_program\":" + (report.main_program.empty() ? std::string("null") : JsonQuoted(report.main_program));
  json += ",\"started\":";
  json += report.started ? "true" : "false";
  return json + "}";
}

int RunCommandLine(const std::vector<std::string>& arguments) {
  std::string error;
  const std::optional<CommandLine> command = ParseCommandLine(arguments, error);
  if (!command) {
    std::fprintf(stderr, "updater: %s\n\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  if (command->mode == Mode::kHelp) {
    std::fputs(kUsage, stdout);
    return kExitUpToDate;
  }
  if (command->mode == Mode::kVersion) {
    const std::string key = BuiltInReleaseKey();
    std::printf("updater %s\n%s%s\n", UPDATER_VERSION,
                key.empty() ? "no release key built in" : "release key built in: ", key.c_str());
    return kExitUpToDate;
  }
  std::string settings_path;
  if (!command->settings.empty() && !SettingsPathOf(command->settings, settings_path, error)) {
    std::fprintf(stderr, "updater: %s\n\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }

  const RunReport report = Run(*command, settings_path);
  if (command->json) {
    std::printf("%s\n", JsonReport(report).c_str());
  } else if (!command->quiet) {
    PrintReport(report);
  }
  // Quiet, the failure has not been said yet unless an error box said it.
  if (command->quiet && !report.error.empty() && report.errors.empty()) {
    std::fprintf(stderr, "updater: %s\n", platform::PrintableText(report.error).c_str());
  }
  std::fflush(stdout);
  return report.exit_status;
}

}  // namespace app
