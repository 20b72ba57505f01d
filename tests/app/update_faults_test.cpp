// The update against pyftpdlib when things go wrong or the user acts in the
// middle: failed rows, a server that dies mid-transfer, hostile names, a
// server that reports no sizes, re-checks while connected, Close during a
// download, and the progress display of a multi-megabyte file.
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
using test_support::DescriptorSection;
using test_support::ReadFile;
using test_support::WaitUntil;
using test_support::WriteFile;

using Names = std::vector<std::string>;

const std::string kDownloadingRow = platform::Utf8ToGbk("下载中");

// Calls the action at every processing of pending input until it gives true.
void Repeat(HeadlessWindow& window, std::function<bool(HeadlessWindow&)> action) {
  window.Schedule([action](HeadlessWindow& w) {
    if (!action(w)) Repeat(w, action);
  });
}

std::string Bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 8192) & 0xFF);
  return bytes;
}

// Whether the text is " 下载速度 " followed by digits, ".", two digits and " KB/s".
bool IsSpeedText(const std::string& text) {
  static const std::string prefix = platform::Utf8ToGbk(" 下载速度 ");
  const std::string suffix = " KB/s";
  if (text.size() < prefix.size() + 4 + suffix.size() || text.compare(0, prefix.size(), prefix) != 0 ||
      text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  const std::string number = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  const size_t point = number.find('.');
  if (point == std::string::npos || point == 0 || number.size() - point != 3) return false;
  for (size_t i = 0; i < number.size(); ++i) {
    if (i != point && (number[i] < '0' || number[i] > '9')) return false;
  }
  return true;
}

// The standard product plus a descriptor naming a file the server lacks,
// checked against local version 5: seven rows, the missing file the fifth.
void StartWithAMissingFile(UpdaterRun& run, const std::string& address) {
  run.product.Standard();
  run.product.Descriptor("7.ini", {{"缺", "missing.txt", "TXT", "1KB", "d"}});
  run.StartServer(address);
  run.WriteSettings(address, 5);
  WriteFile(run.Local("Oxbar_tn.exe"), test_support::MainProgramScript("old"));
  run.Create();
  ASSERT_EQ(run.window.RowCount(), 7);
}

// Lets the started main program end, so nothing outlives the test for long.
void Release(const UpdaterRun& run) { WriteFile(run.Local("release.marker"), ""); }

TEST(UpdateFaults, AFailedRowAndABrokenConnectionFailTheirRowsAndChangeNothingInstalled) {
  UpdaterRun run;
  run.product.Version(10, 4);
  run.product.Folder("Bin");
  run.product.Descriptor("6.ini", {{"缺", "missing.txt", "TXT", "1KB", "d"},
                                   {"好", "说明.txt", "DOC", "1KB", "d"},
                                   {"大", "Bin\\big.bin", "BIN", "48MB", "d"},
                                   {"主", "Oxbar_tn.exe", "EXE", "1KB", "d"}});
  run.product.File("说明.txt", "fine");
  run.product.File("Bin/big.bin", Bytes(48 << 20));
  run.product.File("Oxbar_tn.exe", test_support::MainProgramScript("new"));
  run.StartServer("127.0.0.32");
  run.WriteSettings("127.0.0.32", 5);
  WriteFile(run.Local("Oxbar_tn.exe"), test_support::MainProgramScript("old"));
  run.Create();
  ASSERT_EQ(run.window.RowCount(), 4);

  // The server goes away while the big file is on its way.
  int position_at_stop = -1;
  Repeat(run.window, [&](HeadlessWindow& w) {
    if (w.RowText(2, FileColumn::Status) != kDownloadingRow || w.ProgressPosition(ProgressBar::ProgressBar1) <= 0)
      return false;
    position_at_stop = w.ProgressPosition(ProgressBar::ProgressBar1);
    run.server->Stop();
    return true;
  });
  EXPECT_TRUE(run.window.Press(Control::Button2));

  EXPECT_GT(position_at_stop, 0);
  EXPECT_EQ(run.Column(FileColumn::Status), (Names{"失败", "完成", "失败", "失败"}));
  EXPECT_EQ(ReadFile(run.Local("Update/说明.txt")), "fine");
  EXPECT_LT(ReadFile(run.Local("Update/big.bin")).size(), size_t{48} << 20);
  // Rows failed: no versions, the installed main program untouched and not
  // started, and the window stays for another check.
  EXPECT_EQ(run.SettingsInteger("client_version"), 5);
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("old"));
  EXPECT_FALSE(IsFile(run.Local("started.marker")));
  EXPECT_EQ(run.Message(), "下载未完成：有文件下载失败，请重新检测!");
  EXPECT_TRUE(run.window.IsEnabled(Control::Button1));
  // A failed row does not advance the overall bar; it ends at 0 all the same.
  EXPECT_EQ(run.window.ProgressPosition(ProgressBar::ProgressBar2), 0);
  EXPECT_FALSE(run.window.IsClosed());
  EXPECT_TRUE(run.window.Boxes().empty());
  EXPECT_TRUE(run.window.Press(Control::Button3));
  EXPECT_TRUE(run.window.IsClosed());
}

// Versions recorded say that the update is in place; a ticked row that
// failed keeps them back (and the new main program with them), so the next
// check offers the same files. A row the user unticked does not.
TEST(UpdateFaults, AFailedTickedRowKeepsTheUpdateOnOfferUntilItCompletes) {
  UpdaterRun run;
  ASSERT_NO_FATAL_FAILURE(StartWithAMissingFile(run, "127.0.0.203"));
  const std::vector<std::string> offered = run.Column(FileColumn::Name);
  EXPECT_TRUE(run.window.Press(Control::Button2));
  EXPECT_EQ(run.Column(FileColumn::Status), (Names{"完成", "完成", "完成", "完成", "失败", "完成", "完成"}));
  EXPECT_EQ(ReadFile(run.Local("Update/Oxbar_tn.exe")), test_support::MainProgramScript("new"));
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("old"))
      << "its own row completed, but a new main program beside old files is no product";
  EXPECT_EQ(run.SettingsInteger("client_version"), 5);
  EXPECT_EQ(run.SettingsInteger("database_version"), -999);
  EXPECT_FALSE(run.window.IsClosed());
  EXPECT_EQ(run.Message(), "下载未完成：有文件下载失败，请重新检测!");

  // Checking again (ending the session first) offers every file again.
  run.window.QueueConfirmAnswer(true);
  EXPECT_TRUE(run.window.Press(Control::Button1));
  EXPECT_EQ(run.Column(FileColumn::Name), offered);
  EXPECT_TRUE(run.window.IsEnabled(Control::Button2));

  // Unticked, the missing file no longer holds the update back.
  for (int row = 0; row < run.window.RowCount(); ++row) {
    if (run.window.RowText(row, FileColumn::Name) == "missing.txt") run.window.Tick(row, false);
  }
  EXPECT_TRUE(run.window.Press(Control::Button2));
  EXPECT_EQ(run.Column(FileColumn::Status), (Names{"完成", "完成", "完成", "完成", "未下载", "完成", "完成"}));
  EXPECT_EQ(run.SettingsInteger("client_version"), 10);
  EXPECT_EQ(run.SettingsInteger("database_version"), 4);
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("new"));
  EXPECT_TRUE(WaitUntil([&] { return IsFile(run.Local("started.marker")); }));
  EXPECT_EQ(ReadFile(run.Local("started.marker")), "new\n");
  EXPECT_TRUE(run.window.IsClosed());
  ASSERT_EQ(run.window.Boxes().size(), 1u) << "only the question whether to end the session";
  EXPECT_EQ(run.window.Boxes()[0].kind, HeadlessWindow::BoxKind::Confirm);
  Release(run);
}

TEST(UpdateFaults, ADownloadWithoutACompletedRowRecordsNoVersions) {
  UpdaterRun run;
  ASSERT_NO_FATAL_FAILURE(StartWithAMissingFile(run, "127.0.0.37"));
  // Only the missing file stays ticked.
  for (int row = 0; row < run.window.RowCount(); ++row) {
    run.window.Tick(row, run.window.RowText(row, FileColumn::Name) == "missing.txt");
  }
  EXPECT_TRUE(run.window.Press(Control::Button2));
  EXPECT_EQ(run.Column(FileColumn::Status), (Names{"未下载", "未下载", "未下载", "未下载", "失败", "未下载", "未下载"}));
  EXPECT_EQ(run.SettingsInteger("client_version"), 5) << "the next check must offer descriptors 6, 7 and 10 again";
  EXPECT_EQ(run.SettingsInteger("database_version"), -999);
  EXPECT_FALSE(IsFile(run.Local("started.marker")));
  EXPECT_FALSE(run.window.IsClosed());
}

TEST(UpdateFaults, HostileNamesNeverReachOutsideTheProgramsFolders) {
  UpdaterRun run;
  run.product.Version(10, 4);
  for (const char* folder : {"Bin", "log", "Report"}) run.product.Folder(folder);
  // A server folder and a descriptor whose names climb out with "\".
  run.product.RawFile("..\\..\\escape/keep", "x");
  run.product.RawFile("log/9\\..\\..\\..\\..\\evil.ini", "[a]\r\nName=evil.txt\r\ntype=TXT\r\n");
  run.product.Descriptor("6.ini", {{"a", "../evil.txt", "TXT", "", ""},
                                   {"b", "Report/../../../evil.txt", "TXT", "", ""},
                                   {"c", "Bin\\..\\..\\evil.txt", "BIN", "", ""},
                                   {"d", "..\\..\\evil.txt", "SCRIPTS", "", ""},
                                   {"e", "/abs.txt", "TXT", "", ""},
                                   {"f", "C:\\evil.txt", "TXT", "", ""},
                                   {"g", "Report/..", "TXT", "", ""},
                                   {"h", "说明.txt", "DOC", "", ""}});
  run.product.File("说明.txt", "fine");
  // Each of the names would find this file on the server.
  WriteFile(run.base.File("server/evil.txt"), "from the server");
  WriteFile(run.base.File("server/abs.txt"), "from the server");
  WriteFile(run.base.File("evil.txt"), "sentinel");
  run.StartServer("127.0.0.33");
  run.WriteSettings("127.0.0.33", 5);
  run.Create();

  EXPECT_FALSE(IsFolder(run.base.File("escape")));
  EXPECT_FALSE(IsFolder(run.Local("escape")));
  EXPECT_TRUE(IsFolder(run.Local("Update/Report")));
  EXPECT_FALSE(IsFile(run.Local("evil.ini")));
  EXPECT_FALSE(IsFile(run.base.File("evil.ini")));
  EXPECT_FALSE(IsFile(run.Local("Update/evil.ini")));
  ASSERT_EQ(run.window.RowCount(), 8) << "the unsafe descriptor is skipped, the check goes on";

  EXPECT_TRUE(run.window.Press(Control::Button2));
  EXPECT_EQ(run.Column(FileColumn::Status), (Names{"失败", "失败", "失败", "失败", "失败", "失败", "失败", "完成"}));
  EXPECT_EQ(ReadFile(run.base.File("evil.txt")), "sentinel");
  EXPECT_FALSE(IsFile(run.Local("evil.txt")));
  EXPECT_FALSE(IsFile(run.Local("Update/abs.txt")));
  EXPECT_FALSE(IsFile(run.Local("Update/evil.txt")));
  EXPECT_EQ(ReadFile(run.Local("Update/说明.txt")), "fine");
  EXPECT_TRUE(run.window.Boxes().empty());
}

TEST(UpdateFaults, AMainProgramNameThatLeavesTheFolderIsNeitherCopiedNorStarted) {
  UpdaterRun run;
  run.product.Standard();
  run.product.Descriptor("7.ini", {{"外", "outside.exe", "EXE", "1KB", "d"}});
  run.product.File("outside.exe", test_support::MainProgramScript("copied"));
  run.StartServer("127.0.0.38");
  run.WriteSettings("127.0.0.38", 5, "[mainapp]\r\nSys_name=../outside.exe\r\n");
  const std::string outside = run.base.File("outside.exe");
  WriteFile(outside, test_support::MainProgramScript("outside"));
  run.Create();
  EXPECT_TRUE(run.window.Press(Control::Button2));
  EXPECT_EQ(run.Column(FileColumn::Status), Names(7, "完成"));
  EXPECT_EQ(run.form->MainAppName, "../outside.exe");
  EXPECT_EQ(ReadFile(outside), test_support::MainProgramScript("outside"));
  EXPECT_FALSE(IsFile(run.base.File("started.marker")));
  EXPECT_FALSE(IsFile(run.Local("started.marker")));
  EXPECT_TRUE(run.window.IsClosed());
}

TEST(UpdateFaults, ReCheckingWhileConnectedAnsweredNoThenYes) {
  UpdaterRun run;
  run.product.Standard();
  run.StartServer("127.0.0.31");
  run.WriteSettings("127.0.0.31", 10);
  run.Create();
  EXPECT_EQ(run.window.RowCount(), 0);
  EXPECT_EQ(run.Message(), "已是最新版本！没有升级文件!");
  EXPECT_TRUE(run.window.IsEnabled(Control::Button1));
  ASSERT_TRUE(run.form->FTPClient.Connected());

  run.window.QueueConfirmAnswer(false);
  EXPECT_TRUE(run.window.Press(Control::Button1));
  ASSERT_EQ(run.window.Boxes().size(), 1u);
  EXPECT_EQ(run.window.Boxes()[0].kind, HeadlessWindow::BoxKind::Confirm);
  EXPECT_EQ(platform::GbkToUtf8(run.window.Boxes()[0].text), "断开当前连接吗？");
  EXPECT_FALSE(run.window.IsEnabled(Control::Button1));
  EXPECT_FALSE(run.window.IsEnabled(Control::Button2));
  EXPECT_TRUE(run.window.IsEnabled(Control::Button3));
  EXPECT_TRUE(run.form->FTPClient.Connected());
  EXPECT_EQ(run.Message(), "检测升级文件...");

  // The next check (the handler the Check button runs), answered Yes: the
  // session is ended and a new one finds the descriptors above 5.
  run.WriteSettings("127.0.0.31", 5);
  run.window.QueueConfirmAnswer(true);
  run.form->RunGuarded([&] { run.form->Button1Click(); });
  EXPECT_EQ(run.window.Boxes().size(), 2u) << "no information box: the session ended cleanly";
  EXPECT_EQ(run.window.RowCount(), 6);
  EXPECT_TRUE(run.window.IsEnabled(Control::Button2));
  EXPECT_TRUE(run.form->FTPClient.Connected());
}

TEST(UpdateFaults, CloseDuringTheDownloadLetsItRunToItsEnd) {
  UpdaterRun run;
  run.product.Standard();
  run.product.File("Bin/abc.dll", Bytes(4 << 20));
  run.StartServer("127.0.0.34");
  run.WriteSettings("127.0.0.34", 5);
  run.Create();
  ASSERT_EQ(run.window.RowCount(), 6);
  run.window.ScheduleClose();
  EXPECT_TRUE(run.window.Press(Control::Button2));

  EXPECT_EQ(run.window.CloseRequests(), 2) << "the user's, then the download's own";
  EXPECT_EQ(run.Column(FileColumn::Status), Names(6, "完成"));
  EXPECT_EQ(ReadFile(run.Local("Update/abc.dll")).size(), size_t{4} << 20);
  EXPECT_EQ(run.SettingsInteger("client_version"), 10);
  EXPECT_EQ(settings::TIniFile(run.Local("updateset.inf")).ReadTextValue("kvdatacont", "update", ""), "127.0.0.34");
  EXPECT_TRUE(WaitUntil([&] { return IsFile(run.Local("started.marker")); }));
  EXPECT_EQ(ReadFile(run.Local("started.marker")), "new\n");
  EXPECT_TRUE(run.window.IsClosed());
  EXPECT_TRUE(run.window.Boxes().empty());
  Release(run);
}

struct BarSample {
  int max;
  int position;
};

// Samples the current-file bar at every processing of pending input while
// the row downloads.
std::vector<BarSample> SampleWhileDownloading(UpdaterRun& run, int row) {
  std::vector<BarSample> samples;
  Repeat(run.window, [&samples, row](HeadlessWindow& w) {
    if (w.RowText(row, FileColumn::Status) == kDownloadingRow && w.StatusPanel(1).find("KB/s") != std::string::npos) {
      samples.push_back({w.BarState(ProgressBar::ProgressBar1).max, w.ProgressPosition(ProgressBar::ProgressBar1)});
    }
    return w.RowText(row, FileColumn::Status) != kDownloadingRow && !samples.empty();
  });
  EXPECT_TRUE(run.window.Press(Control::Button2));
  return samples;
}

TEST(UpdateFaults, AMultiMegabyteFileShowsItsSpeedAndFillsItsBar) {
  constexpr int kSize = 6 << 20;
  UpdaterRun run;
  run.product.Version(10, 4);
  run.product.Folder("Bin");
  run.product.Descriptor("6.ini", {{"大", "Bin\\big.bin", "BIN", "6MB", "d"}});
  run.product.File("Bin/big.bin", Bytes(kSize));
  run.StartServer("127.0.0.35");
  run.WriteSettings("127.0.0.35", 5);
  run.Create();
  ASSERT_EQ(run.window.RowCount(), 1);
  const size_t panel_texts_before = run.window.Panel1History().size();
  const int repaints_before = run.window.BarState(ProgressBar::ProgressBar1).repaints;

  const std::vector<BarSample> samples = SampleWhileDownloading(run, 0);
  EXPECT_EQ(run.Column(FileColumn::Status), Names{"完成"});
  EXPECT_EQ(ReadFile(run.Local("Update/big.bin")), Bytes(kSize));

  ASSERT_GT(samples.size(), 10u);
  int last = 0;
  for (const BarSample& s : samples) {
    EXPECT_EQ(s.max, kSize);
    EXPECT_GE(s.position, last);
    last = s.position;
  }
  EXPECT_GT(last, kSize / 2);
  EXPECT_EQ(run.window.ProgressPosition(ProgressBar::ProgressBar1), 0);

  const std::vector<std::string>& panel = run.window.Panel1History();
  size_t speeds = 0;
  for (size_t i = panel_texts_before; i < panel.size(); ++i) {
    if (IsSpeedText(panel[i])) {
      ++speeds;
    } else {
      EXPECT_EQ(platform::GbkToUtf8(panel[i]), " 完成.");
    }
  }
  EXPECT_GE(speeds, static_cast<size_t>(kSize / 8192));
  EXPECT_NE(panel.back().find(platform::Utf8ToGbk(" 完成.")), std::string::npos);
  EXPECT_GE(run.window.BarState(ProgressBar::ProgressBar1).repaints - repaints_before, kSize / 8192);
}

TEST(UpdateFaults, ABinFileOfUnreportedSizeIsFetchedWithAnEmptyBar) {
  constexpr int kSize = 3 << 20;
  UpdaterRun run;
  run.product.Version(10, 4);
  run.product.Folder("Bin");
  run.product.Descriptor("6.ini", {{"大", "Bin\\big.bin", "BIN", "?", "d"}});
  run.product.File("Bin/big.bin", Bytes(kSize));
  run.StartServer("127.0.0.36", /*refuse_size=*/true);
  run.WriteSettings("127.0.0.36", 5);
  run.Create();
  ASSERT_EQ(run.window.RowCount(), 1);

  const std::vector<BarSample> samples = SampleWhileDownloading(run, 0);
  EXPECT_EQ(run.Column(FileColumn::Status), Names{"完成"});
  EXPECT_EQ(ReadFile(run.Local("Update/big.bin")), Bytes(kSize));
  EXPECT_EQ(run.form->ExpectedFileSize, -1);
  ASSERT_FALSE(samples.empty());
  for (const BarSample& s : samples) {
    EXPECT_EQ(s.max, 0);
    EXPECT_EQ(s.position, 0);
  }
  EXPECT_TRUE(run.window.Boxes().empty());
}

}  // namespace
