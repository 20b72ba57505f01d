// The window's local folder lister: the four rules the descriptor steps rely on.
#include "app/shell_list_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "platform/files.h"
#include "support/scratch_folder.h"

namespace {

using test_support::ScratchFolder;
using test_support::WriteRaw;

std::vector<std::string> Names(const std::vector<platform::FolderEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

TEST(ShellListView, FoldersFirstThenNamesAsAFileManagerOrdersThemWithoutHiddenEntries) {
  ScratchFolder root;
  for (const char* file : {"10.ini", "9.ini", "b.txt", "A.txt", "100.ini", ".hidden", "x2.ini", "x10.ini"}) {
    WriteRaw(root / file, "x");
  }
  for (const char* folder : {"zeta", "Beta", ".cache", "11", "2"}) std::filesystem::create_directory(root / folder);
  WriteRaw(root / "zeta/inner.txt", "not listed");

  const auto entries = app::TShellListView().List(root.Path());
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"2", "11", "Beta", "zeta", "9.ini", "10.ini", "100.ini",
                                                      "A.txt", "b.txt", "x2.ini", "x10.ini"}));
  for (const auto& entry : entries) {
    EXPECT_EQ(entry.path, root.Path() + "/" + entry.name);
    EXPECT_EQ(entry.is_folder, std::filesystem::is_directory(root / entry.name)) << entry.name;
  }
}

TEST(ShellListView, EachListingShowsTheFolderAsItIsNow) {
  ScratchFolder root;
  const app::TShellListView lister;
  WriteRaw(root / "5.txt", "x");
  EXPECT_EQ(Names(lister.List(root.Path())), std::vector<std::string>{"5.txt"});

  WriteRaw(root / "6.txt", "x");
  std::filesystem::remove(root / "5.txt");
  EXPECT_EQ(Names(lister.List(root.Path())), std::vector<std::string>{"6.txt"});
}

TEST(ShellListView, RootsWithEitherSeparatorAnyLetterCaseAndGbkNames) {
  ScratchFolder root;
  std::filesystem::create_directories(root / "Update/nowlog");
  WriteRaw(root / "Update/nowlog/升级.txt", "x");
  const auto entries = app::TShellListView().List(root.Path() + "/UPDATE\\NowLog");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, gbk("升级.txt"));
  EXPECT_FALSE(entries[0].is_folder);
  EXPECT_TRUE(platform::FileExists(entries[0].path));
}

TEST(ShellListView, AMissingRootOrAFileListsNothing) {
  ScratchFolder root;
  WriteRaw(root / "file", "x");
  EXPECT_TRUE(app::TShellListView().List(root / "missing").empty());
  EXPECT_TRUE(app::TShellListView().List(root / "file").empty());
}

}  // namespace
