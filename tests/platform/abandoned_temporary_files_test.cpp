// The sweep of temporary files that killed writers left behind: it removes
// exactly those, in the one folder it is given.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "support/scratch_folder.h"

namespace platform {
namespace {

using test_support::Exists;
using test_support::ReadRaw;
using test_support::ScratchFolder;
using test_support::WriteRaw;

// Above the largest process id Linux hands out: never a running process.
const std::string kGone = "4194305";

std::vector<std::string> HiddenNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name[0] == '.') names.push_back(name);
  }
  return names;
}

TEST(AbandonedTemporaryFiles, AWriterKilledMidWriteLeavesOneThatTheSweepRemoves) {
  ScratchFolder folder;
  const std::string target = folder / "updateset.inf";
  WriteRaw(target, "[kvdatacont]\r\nupdate=old\r\n");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    AtomicFile file(target, AtomicFile::kDefaultMode);
    if (file.Open() && file.Write("[kvdatacont]\r\nupd", 17)) kill(getpid(), SIGKILL);
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer did not get to its write";
  ASSERT_EQ(HiddenNames(folder.Path()).size(), 1u);

  EXPECT_EQ(RemoveAbandonedTemporaryFiles(folder.Path()), 1);
  EXPECT_TRUE(HiddenNames(folder.Path()).empty());
  EXPECT_EQ(ReadRaw(target), "[kvdatacont]\r\nupdate=old\r\n");
}

TEST(AbandonedTemporaryFiles, OnlyRegularFilesOfTheirPatternWhoseWriterIsGone) {
  ScratchFolder folder;
  ScratchFolder outside;
  const std::vector<std::string> removed = {
      ".updateset.inf." + kGone + ".0.1a2b3c.tmp",
      ".Oxbar_tn.exe." + kGone + ".15.ff.tmp",
      ".a.b.c." + kGone + ".3.0.tmp",                                // the target's name holds dots
      ".mine." + std::to_string(getpid()) + ".0.abc.tmp",           // an earlier process with this id
  };
  const std::vector<std::string> kept = {
      ".updateset.inf.1.0.1a2b3c.tmp",                 // its writer runs (process 1)
      "updateset.inf." + kGone + ".0.1a2b.tmp",        // not hidden
      ".updateset.inf." + kGone + ".0.1A2B.tmp",       // not the pattern's lower-case hex
      "." + kGone + ".0.ff.tmp",                       // no target name
      ".x." + kGone + ".0.ff.tmp.bak",
      ".x." + kGone + "..ff.tmp",
      ".x.pid.0.ff.tmp",
      ".x." + kGone + ".0.ff",
      ".hidden",
      "plain.txt",
  };
  for (const std::string& name : removed) WriteRaw(folder / name, "x");
  for (const std::string& name : kept) WriteRaw(folder / name, "x");
  // A folder and a link of the pattern, and the pattern one level down.
  const std::string pattern_folder = folder / (".d." + kGone + ".0.ff.tmp");
  std::filesystem::create_directory(pattern_folder);
  WriteRaw(outside / "target", "outside");
  std::filesystem::create_symlink(outside / "target", folder / (".l." + kGone + ".0.ff.tmp"));
  std::filesystem::create_directory(folder / "sub");
  WriteRaw(folder / ("sub/.s." + kGone + ".0.ff.tmp"), "x");

  EXPECT_EQ(RemoveAbandonedTemporaryFiles(folder.Path()), static_cast<int>(removed.size()));
  for (const std::string& name : removed) EXPECT_FALSE(Exists(folder / name)) << name;
  for (const std::string& name : kept) EXPECT_TRUE(Exists(folder / name)) << name;
  EXPECT_TRUE(std::filesystem::is_directory(pattern_folder));
  EXPECT_TRUE(Exists(folder / (".l." + kGone + ".0.ff.tmp")));
  EXPECT_EQ(ReadRaw(outside / "target"), "outside");
  EXPECT_TRUE(Exists(folder / ("sub/.s." + kGone + ".0.ff.tmp")));
}

TEST(AbandonedTemporaryFiles, AFolderThatIsALinkIsNotSwept) {
  ScratchFolder folder;
  ScratchFolder elsewhere;
  const std::string leftover = elsewhere / (".updateset.inf." + kGone + ".0.ff.tmp");
  WriteRaw(leftover, "x");
  std::filesystem::create_directory_symlink(elsewhere.Path(), folder / "Update");
  EXPECT_EQ(RemoveAbandonedTemporaryFiles(folder / "Update"), 0);
  EXPECT_TRUE(Exists(leftover));
  EXPECT_EQ(RemoveAbandonedTemporaryFiles(folder / "missing"), 0);
}

}  // namespace
}  // namespace platform
