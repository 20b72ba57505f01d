#include "platform/files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/encoding.h"
#include "support/scratch_folder.h"

namespace platform {
namespace {

using test_support::Exists;
using test_support::ReadRaw;
using test_support::ScratchFolder;
using test_support::WriteRaw;

void MakeFolder(const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

// Waits for a condition with a generous deadline; never a fixed sleep.
template <typename Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(ResolvePath, MatchesEachExistingComponentWithoutRegardToCase) {
  ScratchFolder root;
  MakeFolder(root / "Update");
  MakeFolder(root / "Update/NowLog");
  WriteRaw(root / "version.ini", "v");
  const std::string r = root.Path();
  struct Case {
    std::string given, expected;
  };
  const Case cases[] = {
      {r + "/Update/NowLog", r + "/Update/NowLog"},
      {r + "\\update\\nowlog", r + "/Update/NowLog"},
      {r + "/update/NowLog", r + "/Update/NowLog"},
      {r + "\\Update\\\\nowlog\\", r + "/Update/NowLog/"},
      {r + "/Version.ini", r + "/version.ini"},
      // what does not exist is kept as given, and nothing below it is looked up
      {r + "/UPDATE/New.txt", r + "/Update/New.txt"},
      {r + "/Missing/update", r + "/Missing/update"},
      {"relative/Path", "relative/Path"},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolvePath(c.given), c.expected) << c.given;
  // The same name two ways: every listing spelling finds the same file.
  EXPECT_TRUE(FileExists(r + "\\VERSION.INI"));
  EXPECT_TRUE(DirectoryExists(r + "\\Update\\"));
  EXPECT_TRUE(DirectoryExists(r + "/update/nowlog/"));
}

TEST(ResolvePath, GbkNamesGoToDiskAsUtf8AndABackslashSecondByteIsNoSeparator) {
  ScratchFolder root;
  // 0x81 0x5C is one GBK character whose second byte is "\".
  const std::string gbk_name = std::string("\x81\x5C") + gbk("升级");
  const std::string disk_name = GbkToUtf8(gbk_name);
  ASSERT_EQ(disk_name.find('\\'), std::string::npos);
  MakeFolder(root / disk_name);
  WriteRaw(root / (disk_name + "/" + "文件.txt"), "x");
  EXPECT_EQ(ResolvePath(root.Path() + "\\" + gbk_name + "\\" + gbk("文件.TXT")),
            root / (disk_name + "/文件.txt"));
  EXPECT_TRUE(FileExists(root.Path() + "/" + gbk_name + "/" + gbk("文件.txt")));
}

TEST(ResolvePath, OfSeveralCaseVariantsTakesOneFixedName) {
  ScratchFolder root;
  WriteRaw(root / "data", "lower");
  WriteRaw(root / "Data", "upper");
  EXPECT_EQ(ResolvePath(root / "DATA"), root / "Data");  // the smallest in byte order
  EXPECT_EQ(ResolvePath(root / "data"), root / "data");  // an exact name always wins
}

TEST(Files, ExistenceCreationAndDeletion) {
  ScratchFolder root;
  WriteRaw(root / "File.txt", "x");
  EXPECT_TRUE(FileExists(root / "file.TXT"));
  EXPECT_FALSE(DirectoryExists(root / "file.txt"));
  EXPECT_FALSE(FileExists(root / "missing"));

  EXPECT_TRUE(CreateDirectory(root.Path() + "\\Update"));
  EXPECT_TRUE(DirectoryExists(root / "update"));
  EXPECT_FALSE(FileExists(root / "update"));
  EXPECT_FALSE(CreateDirectory(root / "UPDATE")) << "it exists already";
  EXPECT_TRUE(CreateDirectory(root.Path() + "\\update\\nowlog"));
  EXPECT_TRUE(Exists(root / "Update/nowlog"));
  EXPECT_FALSE(CreateDirectory(root / "a/b")) << "one level at a time";
  EXPECT_FALSE(CreateDirectory(root / "File.txt/sub")) << "a file in the way";

  EXPECT_FALSE(DeleteFile(root / "update")) << "folders are not deleted";
  EXPECT_TRUE(DeleteFile(root / "FILE.txt"));
  EXPECT_FALSE(Exists(root / "File.txt"));
  EXPECT_FALSE(DeleteFile(root / "File.txt"));
}

std::vector<std::string> Names(const std::vector<FolderEntry>& entries) {
  std::vector<std::string> names;
  for (const FolderEntry& e : entries) names.push_back(e.name + (e.is_folder ? "/" : ""));
  return names;
}

TEST(ListFolder, FoldersFirstThenNamesAsAFileManagerSortsThem) {
  ScratchFolder root;
  for (const char* folder : {"zeta", "Alpha", "10", "9", ".git"}) MakeFolder(root / folder);
  for (const char* file : {"file10.txt", "file9.txt", "File2.txt", "B.txt", "a.txt", ".hidden", "x007",
                           "x7", "x6", "n100000000000000000000000000000000000001",
                           "n99999999999999999999999999999999999999"}) {
    WriteRaw(root / file, "x");
  }
  symlink("zeta", (root / "link to folder").c_str());
  EXPECT_EQ(Names(ListFolder(root.Path())),
            (std::vector<std::string>{"9/", "10/", "Alpha/", "link to folder/", "zeta/", "a.txt", "B.txt",
                                      "File2.txt", "file9.txt", "file10.txt",
                                      "n99999999999999999999999999999999999999",
                                      "n100000000000000000000000000000000000001", "x6", "x007", "x7"}));
}

TEST(ListFolder, EntriesCarryTheFullPathInTheFolderSpelling) {
  ScratchFolder root;
  MakeFolder(root / "Update");
  MakeFolder(root / "Update/nowlog");
  WriteRaw(root / "Update/nowlog/12.ini", "x");
  WriteRaw(root / "Update/nowlog/升级.ini", "x");
  const std::vector<FolderEntry> entries = ListFolder(root.Path() + "/update\\NOWLOG");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, root.Path() + "/update\\NOWLOG\\12.ini");
  EXPECT_EQ(entries[1].name, gbk("升级.ini"));
  EXPECT_EQ(entries[1].path, root.Path() + "/update\\NOWLOG\\" + gbk("升级.ini"));
  EXPECT_FALSE(entries[1].is_folder);
  EXPECT_TRUE(FileExists(entries[1].path));

  const std::vector<FolderEntry> with_separator = ListFolder(root.Path() + "/Update/");
  ASSERT_EQ(with_separator.size(), 1u);
  EXPECT_EQ(with_separator[0].path, root.Path() + "/Update/nowlog");
  EXPECT_TRUE(with_separator[0].is_folder);
}

TEST(ListFolder, EveryListingReflectsTheFolderAtThatMoment) {
  ScratchFolder root;
  WriteRaw(root / "1.ini", "x");
  EXPECT_EQ(Names(ListFolder(root.Path())), std::vector<std::string>{"1.ini"});
  WriteRaw(root / "2.ini", "x");
  ASSERT_EQ(unlink((root / "1.ini").c_str()), 0);
  EXPECT_EQ(Names(ListFolder(root.Path())), std::vector<std::string>{"2.ini"});
  ASSERT_EQ(unlink((root / "2.ini").c_str()), 0);
  EXPECT_TRUE(ListFolder(root.Path()).empty());
  EXPECT_TRUE(ListFolder(root / "missing").empty());
  WriteRaw(root / "plain", "x");
  EXPECT_TRUE(ListFolder(root / "plain").empty());
}

TEST(CopyFileOver, ReplacesTheTargetWholeAndKeepsTheSourceMode) {
  ScratchFolder root;
  const std::string big(300000, 'p');
  MakeFolder(root / "Update");
  WriteRaw(root / "Update/Main.bin", big);
  ASSERT_EQ(chmod((root / "Update/Main.bin").c_str(), 0751), 0);
  WriteRaw(root / "Main.bin", "old program");
  ASSERT_EQ(chmod((root / "Main.bin").c_str(), 0600), 0);

  EXPECT_TRUE(CopyFileOver(root.Path() + "\\update\\main.bin", root / "MAIN.bin"));
  EXPECT_EQ(ReadRaw(root / "Main.bin"), big);
  EXPECT_EQ(ModeOf(root / "Main.bin"), 0751u);
  EXPECT_EQ(ReadRaw(root / "Update/Main.bin"), big) << "the source stays";

  EXPECT_TRUE(CopyFileOver(root / "Update/Main.bin", root / "Fresh.bin")) << "a new target";
  EXPECT_EQ(ReadRaw(root / "Fresh.bin"), big);

  EXPECT_FALSE(CopyFileOver(root / "missing", root / "Main.bin"));
  EXPECT_EQ(ReadRaw(root / "Main.bin"), big) << "a failed copy leaves the target";
  EXPECT_FALSE(CopyFileOver(root / "Update", root / "dir copy")) << "a folder is no file";
  EXPECT_FALSE(CopyFileOver(root / "Main.bin", root / "no folder/Main.bin"));

  // No temporary file is left behind.
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root.Path())) {
    ++count;
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
  }
  EXPECT_EQ(count, 3u);  // Update, Main.bin, Fresh.bin
}

TEST(ExecutablePath, IsTheRealPathOfTheRunningProgram) {
  const std::string path = ExecutablePath();
  char* real = realpath("/proc/self/exe", nullptr);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(path, Utf8ToGbk(real));
  std::free(real);
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "platform_tests");
}

// A script that reports where it runs and whether it inherited a descriptor,
// then waits until the test releases it, so the test can see that OpenFile
// returned while it was still running.
std::string MarkerScript(int inherited_fd) {
  return "#!/bin/sh\n"
         "if [ -e /proc/$$/fd/" + std::to_string(inherited_fd) + " ]; then fd=open; else fd=closed; fi\n"
         "echo \"$(pwd) $fd\" > started.tmp && mv started.tmp started\n"
         "i=0\n"
         "while [ ! -e release ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done\n"
         "echo done > finished\n";
}

TEST(OpenFile, StartsAScriptWithoutExecuteBitDetachedInItsOwnFolder) {
  ScratchFolder root;
  const std::string folder_name = "程序 folder";
  MakeFolder(root / folder_name);
  const std::string dir = root / folder_name;
  WriteRaw(dir + "/start.sh", "");
  const int leaked = open((root / "leak").c_str(), O_WRONLY | O_CREAT, 0600);  // no O_CLOEXEC on purpose
  ASSERT_GE(leaked, 3);
  WriteRaw(dir + "/start.sh", MarkerScript(leaked));
  ASSERT_EQ(chmod((dir + "/start.sh").c_str(), 0644), 0);

  OpenFile(Utf8ToGbk(root.Path()) + "\\" + gbk("程序 FOLDER") + "\\Start.sh");
  close(leaked);
  // Returned, with no child left to reap: the program runs on its own.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  ASSERT_TRUE(WaitFor([&] { return Exists(dir + "/started"); })) << "the script never ran";
  EXPECT_FALSE(Exists(dir + "/finished")) << "OpenFile waited for the program";
  char* real = realpath(dir.c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(ReadRaw(dir + "/started"), std::string(real) + " closed\n");
  std::free(real);
  EXPECT_TRUE(ModeOf(dir + "/start.sh") & S_IXUSR);

  WriteRaw(dir + "/release", "");
  EXPECT_TRUE(WaitFor([&] { return Exists(dir + "/finished"); }));
}

TEST(OpenFile, OtherFilesGoToXdgOpenAndFailuresAreSilent) {
  ScratchFolder root;
  MakeFolder(root / "bin");
  WriteRaw(root / "bin/xdg-open", "#!/bin/sh\necho \"$1\" > \"$1.opened.tmp\" && /bin/mv \"$1.opened.tmp\" \"$1.opened\"\n");
  ASSERT_EQ(chmod((root / "bin/xdg-open").c_str(), 0755), 0);
  WriteRaw(root / "Oxbar_tn.exe", "MZ\x90\x00 not a program here");

  const char* old_path = std::getenv("PATH");
  const std::string saved = old_path != nullptr ? old_path : "";
  setenv("PATH", (root / "bin").c_str(), 1);
  OpenFile(root / "oxbar_tn.EXE");
  OpenFile(root / "missing.exe");
  OpenFile(root / "bin/..");
  setenv("PATH", saved.c_str(), 1);

  ASSERT_TRUE(WaitFor([&] { return Exists(root / "Oxbar_tn.exe.opened"); }));
  char* real = realpath((root / "Oxbar_tn.exe").c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(ReadRaw(root / "Oxbar_tn.exe.opened"), std::string(real) + "\n");
  std::free(real);
  EXPECT_FALSE(ModeOf(root / "Oxbar_tn.exe") & S_IXUSR) << "a document gets no execute bit";
}

}  // namespace
}  // namespace platform
