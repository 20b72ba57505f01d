// The command line's own rules: which arguments it takes, how the outcomes
// become exit statuses, and the JSON strings it writes. The runs themselves
// are tested on the real program (tests/programs).
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using app::CommandLine;
using app::UpdateOutcome;
using Mode = CommandLine::Mode;

struct ParseCase {
  std::vector<std::string> arguments;
  Mode mode;
  bool no_start, quiet, json;
  std::string settings;
};

TEST(CommandLine, ArgumentsItTakesAndArgumentsItRefuses) {
  const ParseCase taken[] = {
      {{"--check"}, Mode::kCheck, false, false, false, ""},
      {{"--update", "--no-start", "--quiet", "--json"}, Mode::kUpdate, true, true, true, ""},
      {{"--json", "--settings", "/etc/k.inf", "--update"}, Mode::kUpdate, false, false, true, "/etc/k.inf"},
      {{"--check", "--settings=rel/k.inf"}, Mode::kCheck, false, false, false, "rel/k.inf"},
      {{"--check", "--check"}, Mode::kCheck, false, false, false, ""},
      {{"--check", "--help"}, Mode::kHelp, false, false, false, ""},
      {{"-h"}, Mode::kHelp, false, false, false, ""},
      {{"--version"}, Mode::kVersion, false, false, false, ""},
  };
  for (const ParseCase& c : taken) {
    std::string error;
    const std::optional<CommandLine> command = app::ParseCommandLine(c.arguments, error);
    const std::string shown = testing::PrintToString(c.arguments);
    ASSERT_TRUE(command.has_value()) << shown << ": " << error;
    EXPECT_EQ(command->mode, c.mode) << shown;
    EXPECT_EQ(command->no_start, c.no_start) << shown;
    EXPECT_EQ(command->quiet, c.quiet) << shown;
    EXPECT_EQ(command->json, c.json) << shown;
    EXPECT_EQ(command->settings, c.settings) << shown;
  }
  const std::vector<std::string> refused[] = {
      {"--check", "--update"},
      {"--check", "--no-start"},
      {"--quiet"},
      {"--settings", "k.inf"},
      {"--check", "--settings"},
      {"--check", "--settings="},
      {"--check", "--settings", "a.inf", "--settings", "b.inf"},
      {"--check", "now"},
      {"--chek"},
      {"--check", "-q"},
      {"--bogus", "--help"},
  };
  for (const std::vector<std::string>& arguments : refused) {
    std::string error;
    EXPECT_FALSE(app::ParseCommandLine(arguments, error).has_value()) << testing::PrintToString(arguments);
    EXPECT_FALSE(error.empty()) << testing::PrintToString(arguments);
  }
}

TEST(CommandLine, EveryOutcomeHasAStatusOfItsOwnAndAnErrorBoxSpoilsOnlySuccess) {
  struct Case {
    UpdateOutcome outcome;
    int status;
    const char* name;
  };
  const Case cases[] = {
      {UpdateOutcome::kUpToDate, 0, "up_to_date"},
      {UpdateOutcome::kNone, 1, "error"},
      {UpdateOutcome::kCheckFailed, 3, "check_failed"},
      {UpdateOutcome::kSettingsRefused, 4, "settings_refused"},
      {UpdateOutcome::kTLSRefused, 4, "tls_refused"},
      {UpdateOutcome::kReleaseRefused, 4, "signature_refused"},
      {UpdateOutcome::kRowsFailed, 5, "rows_failed"},
      {UpdateOutcome::kWriteFailed, 6, "write_failed"},
      {UpdateOutcome::kUpdatesFound, 10, "updates_available"},
      {UpdateOutcome::kUpdated, 11, "updated"},
  };
  std::set<std::string> names;
  for (const Case& c : cases) {
    const int status = app::ExitStatusOf(c.outcome, false);
    EXPECT_EQ(status, c.status) << c.name;
    EXPECT_EQ(app::OutcomeName(status, c.outcome), c.name);
    EXPECT_TRUE(names.insert(c.name).second) << c.name;
    // An error box makes a success a failure; a failure keeps its own status.
    const int with_box = app::ExitStatusOf(c.outcome, true);
    EXPECT_EQ(with_box, c.status == 0 || c.status == 10 || c.status == 11 ? 1 : c.status) << c.name;
  }
  EXPECT_EQ(app::OutcomeName(app::kExitUsage, UpdateOutcome::kNone), "usage");
}

TEST(CommandLine, JsonStringsAreEscapedAndAlwaysUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line\nnext\r\ttab", "\"line\\nnext\\r\\ttab\""},
      {std::string("nul\0bell\x07", 9) + "\x7f", "\"nul\\u0000bell\\u0007\\u007f\""},
      {"说明.txt", "\"说明.txt\""},
      {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
      // Not UTF-8: a GBK byte pair, a cut sequence, an overlong "/", a surrogate.
      {"\xc3\xf7", "\"\\ufffd\\ufffd\""},
      {"ab\xe6\x8a", "\"ab\\ufffd\\ufffd\""},
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(app::JsonQuoted(text), expected) << text;
}

}  // namespace
