// The updater program started where it can show no window: it says so,
// Chinese and English, points to the command line, and ends with status 1,
// instead of aborting inside the toolkit.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch_folder.h"

extern char** environ;

namespace {

struct Outcome {
  int status = -1;
  std::string error_output;
};

// Runs the program from a folder of its own with the environment less the
// display variables, plus the given ones; gives how it ended.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& extra) {
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

  test_support::ScratchFolder out;
  const std::string errors = out / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::string path = program;
  char* argv[] = {path.data(), nullptr};
  pid_t pid = -1;
  Outcome outcome;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()) == 0) {
    waitpid(pid, &outcome.status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
  outcome.error_output = test_support::ReadRaw(errors);
  return outcome;
}

struct DisplayCase {
  const char* name;
  std::vector<std::string> environment;
};

class WithoutADisplay : public testing::TestWithParam<DisplayCase> {};

TEST_P(WithoutADisplay, TheProgramSaysSoAndEndsWithStatusOne) {
  // A copy in a folder of its own: the program's folder is where it would
  // write, were it to start after all.
  test_support::ScratchFolder folder;
  const std::string program = folder / "updater";
  std::filesystem::copy_file(UPDATER_PROGRAM, program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);

  const Outcome outcome = RunProgram(program, GetParam().environment);
  ASSERT_TRUE(WIFEXITED(outcome.status)) << "ended by signal " << WTERMSIG(outcome.status) << "\n"
                                         << outcome.error_output;
  EXPECT_EQ(WEXITSTATUS(outcome.status), 1);
  const std::string line =
      "升级程序需要图形显示，但没有可用的显示。 The updater needs a graphical display, and none is available.\n";
  EXPECT_NE(outcome.error_output.find(line), std::string::npos) << outcome.error_output;
  // ... and what needs none.
  EXPECT_NE(outcome.error_output.find("use the command line: updater --check or updater --update"), std::string::npos)
      << outcome.error_output;
  EXPECT_FALSE(std::filesystem::exists(folder / "Update")) << "no window logic ran";
}

INSTANTIATE_TEST_SUITE_P(Cases, WithoutADisplay,
                         testing::Values(DisplayCase{"NoneNamed", {}},
                                         DisplayCase{"EmptyNames", {"DISPLAY=", "WAYLAND_DISPLAY="}},
                                         // A display named whose server is not there: Qt cannot open it.
                                         DisplayCase{"NamedButAbsent", {"DISPLAY=:987"}}),
                         [](const testing::TestParamInfo<DisplayCase>& info) { return std::string(info.param.name); });

}  // namespace
