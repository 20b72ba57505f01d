// The whole update on the headless window against pyftpdlib: check,
// descriptors, file list, download and apply. Each test serves its product
// folder on port 21 of a loopback address of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::Control;
using e2e::FileColumn;
using e2e::HeadlessWindow;
using e2e::IsFile;
using e2e::IsFolder;
using e2e::ProgressBar;
using e2e::UpdaterRun;
using test_support::ReadFile;
using test_support::WaitUntil;
using test_support::WriteFile;

using Names = std::vector<std::string>;

std::string FolderNames(const std::string& folder) {
  std::string names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names += entry.path().filename().string() + " ";
  return names;
}

TEST(UpdateEndToEnd, ChecksDownloadsAppliesAndStartsTheNewMainProgram) {
  UpdaterRun run;
  run.product.Standard();
  run.StartServer("127.0.0.30");
  run.WriteSettings("127.0.0.30", 5);
  WriteFile(run.Local("Oxbar_tn.exe"), test_support::MainProgramScript("old"));
  // Left over from earlier runs: a descriptor of an old check and the file
  // of the SCRIPTS row.
  std::filesystem::create_directories(run.Local("Update/nowlog"));
  WriteFile(run.Local("Update/nowlog/4.ini"), "[a]\r\nName=stale.txt\r\n");
  WriteFile(run.Local("Update/update.sql"), "old script");

  run.Create();
  const HeadlessWindow& window = run.window;
  EXPECT_TRUE(window.Boxes().empty());
  EXPECT_EQ(window.Text(Control::Label8), "5");
  EXPECT_EQ(window.Text(Control::Label10), "10");
  EXPECT_EQ(window.Text(Control::CurrentDirEdit), "/qt482/");
  EXPECT_EQ(platform::GbkToUtf8(window.StatusPanel(0)), "连接服务器成功");
  EXPECT_EQ(platform::GbkToUtf8(window.StatusPanel(1)), " 完成.");
  EXPECT_FALSE(window.IsEnabled(Control::Button1));
  EXPECT_TRUE(window.IsEnabled(Control::Button2));
  EXPECT_TRUE(run.form->FTPClient.Connected());

  // Every sub-folder but Bin is mirrored, empty.
  EXPECT_TRUE(IsFolder(run.Local("Update/log")));
  EXPECT_TRUE(IsFolder(run.Local("Update/Report")));
  EXPECT_TRUE(IsFolder(run.Local("Update/资料")));
  EXPECT_FALSE(IsFolder(run.Local("Update/Bin")));
  EXPECT_EQ(ReadFile(run.Local("version.ini")), ReadFile(run.product.Dir() + "/version.ini"));

  // Only the descriptors above version 5, each in both folders; the folder
  // log/8.ini is never fetched, and the stale descriptor is gone.
  EXPECT_EQ(FolderNames(run.Local("Update/nowlog")).size(), std::string("6.ini 10.ini ").size());
  for (const char* folder : {"Update/nowlog/", "Update/log/"}) {
    for (const char* name : {"6.ini", "10.ini"}) {
      EXPECT_EQ(ReadFile(run.Local(std::string(folder) + name)), ReadFile(run.product.Dir() + "/log/" + name));
    }
    for (const char* name : {"3.ini", "5.ini", "8.ini", "4.ini"}) EXPECT_FALSE(IsFile(run.Local(std::string(folder) + name)));
  }

  // One row per name, the lower version first; the duplicate abc.dll keeps
  // the data of descriptor 6.
  EXPECT_EQ(run.Column(FileColumn::Name),
            (Names{"Oxbar_tn.exe", "Bin\\abc.dll", "Report/月报.txt", "update.sql", "Bin\\核心.dll", "说明.txt"}));
  EXPECT_EQ(run.Column(FileColumn::Type), (Names{"EXE", "bin", "RPT", "SCRIPTS", "BIN", "DOC"}));
  EXPECT_EQ(run.Column(FileColumn::Size), (Names{"1KB", "2KB", "1KB", "0", "3KB", "1KB"}));
  EXPECT_EQ(run.Column(FileColumn::Date)[1], "2024-06-02");
  EXPECT_EQ(run.Column(FileColumn::Status), Names(6, "未下载"));
  for (const auto& row : window.Rows()) EXPECT_TRUE(row.checked);

  // The user unticks the last row now, and the fifth while the download runs.
  run.window.Tick(5, false);
  run.window.ScheduleTick(4, false);
  EXPECT_TRUE(run.window.Press(Control::Button2));

  EXPECT_EQ(run.Column(FileColumn::Status), (Names{"完成", "完成", "完成", "完成", "未下载", "未下载"}));
  EXPECT_EQ(ReadFile(run.Local("Update/Oxbar_tn.exe")), test_support::MainProgramScript("new"));
  EXPECT_EQ(ReadFile(run.Local("Update/abc.dll")), "abc library v10");
  EXPECT_EQ(ReadFile(run.Local("Update/Report/月报.txt")), platform::Utf8ToGbk("月报 v10"));
  EXPECT_FALSE(IsFile(run.Local("Update/update.sql"))) << "the SCRIPTS row deletes its file";
  EXPECT_FALSE(IsFile(run.Local("Update/核心.dll")));
  EXPECT_FALSE(IsFile(run.Local("Update/说明.txt")));
  EXPECT_FALSE(IsFile(run.Local("Update/Bin/abc.dll")));

  EXPECT_EQ(run.SettingsInteger("client_version"), 10);
  EXPECT_EQ(run.SettingsInteger("database_version"), 4);
  EXPECT_EQ(window.BarState(ProgressBar::ProgressBar2).max, 6);
  EXPECT_EQ(window.ProgressPosition(ProgressBar::ProgressBar2), 0);
  EXPECT_EQ(run.Message(), "就绪...");
  EXPECT_TRUE(window.IsClosed());
  EXPECT_FALSE(window.IsEnabled(Control::Button1));
  EXPECT_FALSE(window.IsEnabled(Control::Button2));

  // The new main program is in place and runs; the updater did not wait for
  // it (it is still waiting for the release file).
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("new"));
  EXPECT_TRUE(WaitUntil([&] { return IsFile(run.Local("started.marker")); }));
  EXPECT_EQ(ReadFile(run.Local("started.marker")), "new\n");
  EXPECT_FALSE(IsFile(run.Local("finished.marker")));
  WriteFile(run.Local("release.marker"), "");
  EXPECT_TRUE(WaitUntil([&] { return IsFile(run.Local("finished.marker")); }));

  // The next check finds nothing newer.
  EXPECT_TRUE(window.Boxes().empty());
}

}  // namespace
