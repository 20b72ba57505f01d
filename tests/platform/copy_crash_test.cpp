// The main program's copy over the installed one, killed at random moments:
// the installed file is always one of the programs copied, whole. A killed
// copy leaves its temporary file behind; it must be hidden, so that the
// folder lister and the user's file manager do not show it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/scratch_folder.h"

namespace platform {
namespace {

using test_support::ReadRaw;
using test_support::ScratchFolder;
using test_support::WriteRaw;

// A program of one byte value throughout: a file torn between two of them,
// or cut short, equals none.
std::string Program(char tag, size_t size) { return std::string(size, tag); }

TEST(CopyFileOverCrash, AKilledCopyLeavesTheOldOrTheNewProgramWhole) {
  constexpr size_t kSize = size_t{8} << 20;
  ScratchFolder root;
  std::filesystem::create_directories(root / "Update");
  const std::string installed = root / "Oxbar_tn.exe";
  // Three programs of slightly different sizes: the installed one, and two
  // fetched ones that the child copies in turn.
  const std::vector<std::string> programs = {Program('o', kSize), Program('a', kSize + 1), Program('b', kSize - 7)};
  WriteRaw(installed, programs[0]);
  WriteRaw(root / "Update/a.exe", programs[1]);
  WriteRaw(root / "Update/b.exe", programs[2]);

  std::mt19937 random(20240611);
  // A copy of 8 MB with its flush takes some milliseconds here; the delays
  // spread the kills over the whole copy and the moments between copies.
  std::uniform_int_distribution<int> delay_us(0, 60000);
  int seen[3] = {0, 0, 0};
  int leftovers = 0;
  for (int round = 0; round < 200; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) CopyFileOver(root / (i % 2 == 0 ? "Update/a.exe" : "Update/b.exe"), installed);
    }
    usleep(static_cast<useconds_t>(delay_us(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);

    const std::string content = ReadRaw(installed);
    int which = -1;
    for (int p = 0; p < 3; ++p) {
      if (content == programs[p]) which = p;
    }
    ASSERT_GE(which, 0) << "round " << round << ": a torn program of " << content.size() << " bytes";
    ++seen[which];

    // What a killed copy left: hidden temporary files only. They are
    // removed here so the rounds do not fill the disk.
    for (const auto& entry : std::filesystem::directory_iterator(root.Path())) {
      const std::string name = entry.path().filename().string();
      if (name == "Oxbar_tn.exe" || name == "Update") continue;
      EXPECT_EQ(name[0], '.') << "round " << round << ": a visible leftover " << name;
      std::filesystem::remove(entry.path());
      ++leftovers;
    }
  }
  // A kill that landed mid-copy leaves a temporary file; some must have.
  EXPECT_GT(leftovers, 0) << "no kill landed inside a copy";
  RecordProperty("old", seen[0]);
  RecordProperty("new_a", seen[1]);
  RecordProperty("new_b", seen[2]);
  RecordProperty("killed_mid_copy", leftovers);
  std::printf("200 kills: old %d, a %d, b %d whole; %d killed mid-copy\n", seen[0], seen[1], seen[2], leftovers);
}

}  // namespace
}  // namespace platform
