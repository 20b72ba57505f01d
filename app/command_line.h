// The updater without a window, for administrators, timers and fleets:
//
//   updater --check  [--settings FILE] [--quiet] [--json]
//   updater --update [--no-start] [--settings FILE] [--quiet] [--json]
//   updater --help | --version
//
// The window logic runs as it does behind the window, against the
// terminal's window (platform/terminal): the first check, then for
// --update every row ticked and Download pressed, then the close. No
// question waits for an answer: a confirmation is Yes, an error box is
// printed on standard error and makes the run fail. The outcome is the
// exit status (ExitStatus, one number per outcome) and, with --json, one
// JSON object on standard output; progress goes to standard error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window.h"

namespace app {

enum ExitStatus : int {
  kExitUpToDate = 0,          // nothing on offer
  kExitError = 1,             // an unexpected failure (an error box, no check)
  kExitUsage = 2,             // bad usage: the help is printed
  kExitCheckFailed = 3,       // could not connect, log in or read the server
  kExitRefused = 4,           // connection settings, TLS or signature refused
  kExitRowsFailed = 5,        // --update: a file could not be fetched
  kExitWriteFailed = 6,       // --update: a local file could not be written
  kExitUpdatesAvailable = 10,  // --check: files on offer
  kExitUpdated = 11,          // --update: fetched, recorded, put in place
};

struct CommandLine {
  enum class Mode { kCheck, kUpdate, kHelp, kVersion };
  Mode mode = Mode::kCheck;
  bool no_start = false;
  bool quiet = false;
  bool json = false;
  std::string settings;  // as given; empty: updateset.inf beside the program
};

// The arguments after the program's name; nullopt for bad usage, with the
// reason in error.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& arguments, std::string& error);

// The help: usage, options and exit statuses.
const char* UsageText();

// The whole command line: parses, runs and prints; gives the exit status.
int RunCommandLine(const std::vector<std::string>& arguments);

// One row of the file list as a run ends, UTF-8.
struct ReportRow {
  std::string name, type, size, date, status;
  std::string outcome;  // pending, downloading, done, failed or unknown
};

// What a run found, UTF-8 throughout.
struct RunReport {
  CommandLine::Mode mode = CommandLine::Mode::kCheck;
  UpdateOutcome outcome = UpdateOutcome::kNone;
  int exit_status = kExitError;
  std::optional<int32_t> local_version;
  std::optional<int32_t> offered_version;
  std::string message;              // the status line's message at the end
  std::vector<std::string> errors;  // the error boxes, first to last
  std::string error;                // why the run failed; empty when it did not
  std::vector<ReportRow> rows;
  std::string settings_file;
  std::string main_program;  // empty until a download read its name
  bool started = false;      // the main program was started
};

// The exit status of an outcome; an error box turns a success into kExitError.
int ExitStatusOf(UpdateOutcome outcome, bool error_shown);
// The outcome's name in the JSON: the exit status's name, with the kind of
// refusal for kExitRefused (settings_refused, tls_refused, signature_refused).
std::string OutcomeName(int exit_status, UpdateOutcome outcome);
// The JSON object of a report, on one line.
std::string JsonReport(const RunReport& report);
// A JSON string of UTF-8 text, quoted and escaped; bytes that are not UTF-8
// become U+FFFD.
std::string JsonQuoted(const std::string& utf8);

}  // namespace app
