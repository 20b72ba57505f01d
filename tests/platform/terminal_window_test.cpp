// The terminal's window: what it prints for what the window logic does, the
// fixed answers of its boxes, and the bar of a transfer, redrawn in place on
// a terminal a few times a second and never a line per block elsewhere.
#include "platform/terminal/terminal_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/encoding.h"

namespace {

using platform::Control;
using platform::FileColumn;
using platform::ProgressBar;
using platform::TerminalOptions;
using platform::TerminalWindow;

class Recorder : public platform::WindowEvents {
 public:
  void ButtonClicked(Control) override {}
  bool CloseQuery() override {
    ++queries;
    return true;
  }
  int queries = 0;
};

// A terminal window writing into a string, on a clock the test moves.
struct Terminal {
  explicit Terminal(bool interactive, bool quiet = false) {
    TerminalOptions options;
    options.interactive = interactive;
    options.quiet = quiet;
    options.columns = 100;
    options.write = [this](const std::string& text) { output += text; };
    options.clock = [this] { return now; };
    window = std::make_unique<TerminalWindow>(options);
  }
  // One transfer as the work handlers drive the current-file bar.
  void Transfer(int size, int block, double seconds_per_block) {
    window->SetProgressRange(ProgressBar::ProgressBar1, 0, size);
    for (int done = block; done <= size; done += block) {
      now += seconds_per_block;
      window->SetProgressPosition(ProgressBar::ProgressBar1, done);
      window->RepaintProgress(ProgressBar::ProgressBar1);
    }
    window->SetProgressPosition(ProgressBar::ProgressBar1, 0);
  }
  std::string output;
  double now = 100;
  std::unique_ptr<TerminalWindow> window;
};

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

TEST(TerminalWindow, PrintsEachNewMessageEachRowStatusAndEveryBoxAnsweringYes) {
  Terminal terminal(false);
  TerminalWindow& window = *terminal.window;
  window.SetStatusMessage(gbk("检测升级文件..."));
  window.SetStatusMessage(gbk("检测升级文件..."));  // said again: not printed again
  window.AddRow(true, "Bin\\abc.dll", "BIN", "12", "d", gbk("未下载"));
  window.SetRowText(0, FileColumn::Status, gbk("下载中"));
  window.SetRowText(0, FileColumn::Status, gbk("完成"));
  EXPECT_TRUE(window.Confirm(gbk("断开当前连接吗？")));
  window.Information("updater", gbk("正在传送文件，请稍候！"));
  window.ShowError("updater", "Unable to write to /x/updateset.inf: No space left on device.");
  EXPECT_EQ(terminal.output,
            "检测升级文件...\n"
            "下载中  Bin\\abc.dll\n"
            "完成  Bin\\abc.dll\n"
            "断开当前连接吗？ [Yes]\n"
            "updater: 正在传送文件，请稍候！\n"
            "updater: Unable to write to /x/updateset.inf: No space left on device.\n");
  EXPECT_EQ(window.Errors(), std::vector<std::string>{"Unable to write to /x/updateset.inf: No space left on device."});
  // The controls' state is kept for the logic to read back.
  EXPECT_EQ(window.RowText(0, FileColumn::Status), gbk("完成"));
  EXPECT_EQ(window.StatusMessage(), gbk("检测升级文件..."));
}

TEST(TerminalWindow, QuietPrintsOnlyTheErrorBoxesAndStillAnswersYes) {
  Terminal terminal(true, true);
  TerminalWindow& window = *terminal.window;
  window.SetStatusMessage(gbk("正在下载升级文件..."));
  window.AddRow(true, "a.txt", "DOC", "1", "d", gbk("未下载"));
  window.SetRowText(0, FileColumn::Status, gbk("失败"));
  terminal.Transfer(1 << 20, 8192, 0.01);
  EXPECT_TRUE(window.Confirm(gbk("断开当前连接吗？")));
  window.Information("updater", "info");
  window.ShowError("updater", "boom");
  EXPECT_EQ(terminal.output, "updater: boom\n");
}

TEST(TerminalWindow, NamesFromAServerCannotSteerTheTerminal) {
  Terminal terminal(false);
  terminal.window->AddRow(true, "evil\x1b]0;owned\x07\r.txt", "DOC", "1", "d", gbk("未下载"));
  terminal.window->SetRowText(0, FileColumn::Status, gbk("下载中"));
  EXPECT_EQ(terminal.output, "下载中  evil?]0;owned??.txt\n");
}

TEST(TerminalWindow, ElsewhereATransferPrintsNoLineAtAll) {
  Terminal terminal(false);
  terminal.Transfer(4 << 20, 8192, 0.001);  // 512 blocks
  EXPECT_EQ(terminal.output, "");
}

TEST(TerminalWindow, OnATerminalTheBarIsRedrawnInPlaceAFewTimesASecond) {
  Terminal terminal(true);
  TerminalWindow& window = *terminal.window;
  window.AddRow(true, "Bin\\big.dat", "BIN", "", "", gbk("未下载"));
  window.SetRowText(0, FileColumn::Status, gbk("下载中"));
  terminal.output.clear();
  // 2 MiB in 256 blocks of 8 KiB over 2 seconds: drawn at most every 0.25 s.
  terminal.Transfer(2 << 20, 8192, 2.0 / 256);
  const size_t draws = Count(terminal.output, "\r");
  EXPECT_GE(draws, 7u);
  EXPECT_LE(draws, 9u);
  EXPECT_EQ(Count(terminal.output, "\n"), 0u) << "redrawn over itself, never a new line";
  // The last drawing: name, bytes of size, percentage, speed, time left.
  const std::string last = terminal.output.substr(terminal.output.rfind('\r'));
  EXPECT_NE(last.find("Bin\\big.dat  "), std::string::npos) << last;
  EXPECT_NE(last.find(" / 2.0 MiB"), std::string::npos) << last;
  EXPECT_NE(last.find("%  1.0 MiB/s  0:00 left"), std::string::npos) << last;
  // The next line clears the bar first, and so does the end.
  window.SetRowText(0, FileColumn::Status, gbk("完成"));
  EXPECT_TRUE(EndsWith(terminal.output, "\r\x1b[K完成  Bin\\big.dat\n")) << terminal.output;
  terminal.Transfer(1 << 20, 8192, 0.01);
  window.EndProgressLine();
  EXPECT_TRUE(EndsWith(terminal.output, "\r\x1b[K"));
}

TEST(TerminalWindow, TheSizeComesFromTheCallerWhenItKnowsBetterThanTheBar) {
  Terminal terminal(true);
  TerminalOptions options;
  options.interactive = true;
  options.write = [&](const std::string& text) { terminal.output += text; };
  options.clock = [&] { return terminal.now; };
  options.transfer_size = [] { return int64_t{-1}; };  // a file whose size nobody reported
  terminal.window = std::make_unique<TerminalWindow>(options);
  terminal.Transfer(3 << 20, 1 << 20, 1.0);  // the bar's range is the last BIN file's
  const std::string last = terminal.output.substr(terminal.output.rfind('\r'));
  EXPECT_EQ(last.find(" / "), std::string::npos) << last;
  EXPECT_EQ(last.find("left"), std::string::npos) << last;
  EXPECT_NE(last.find("3.0 MiB  1.0 MiB/s"), std::string::npos) << last;
}

TEST(TerminalWindow, RunsTheFirstCheckWhenShownAndAsksTheOwnerBeforeClosing) {
  Terminal terminal(false);
  TerminalWindow& window = *terminal.window;
  Recorder owner;
  window.SetEvents(&owner);
  int runs = 0;
  window.RunWhenShown([&] { ++runs; });
  EXPECT_EQ(runs, 0);
  window.Show();
  EXPECT_EQ(runs, 1);
  window.RunWhenShown([&] { ++runs; });  // for the loop's next pass
  window.ProcessAllPendingInput();
  EXPECT_EQ(runs, 2);
  window.RequestClose();
  EXPECT_TRUE(window.IsClosed());
  EXPECT_EQ(owner.queries, 1);
  window.RunWhenShown([&] { ++runs; });
  window.ProcessOnePendingInput();
  EXPECT_EQ(runs, 2) << "dropped once the window has closed";
}

struct LineCase {
  const char* label;
  int64_t bytes;
  int64_t size;
  double seconds;
  int columns;
  const char* expected;
};

TEST(TerminalWindow, ProgressLines) {
  const LineCase cases[] = {
      {"a.dll", 512, 1024, 1.0, 80, "a.dll  512 B / 1.0 KiB   50%  512 B/s  0:01 left"},
      {"a.dll", 0, 1024, 0.0, 80, "a.dll  0 B / 1.0 KiB    0%"},
      {"a.dll", 3 << 20, -1, 2.0, 80, "a.dll  3.0 MiB  1.5 MiB/s"},
      // More than the size (a stale size): shown as unknown.
      {"a.dll", 2048, 1024, 1.0, 80, "a.dll  2.0 KiB  2.0 KiB/s"},
      {"a.dll", int64_t{5} << 30, int64_t{10} << 30, 3600.0, 80,
       "a.dll  5.00 GiB / 10.00 GiB   50%  1.4 MiB/s  1:00:00 left"},
      // A long name is shortened to the width (a Chinese character is two columns).
      {"报告报告报告报告报告报告报告报告报告报告.txt", 1, -1, 0.0, 30, "报告报告报告报告报告报..  1 B"},
  };
  for (const LineCase& c : cases) {
    EXPECT_EQ(platform::ProgressLine(c.label, c.bytes, c.size, c.seconds, c.columns), c.expected) << c.label;
  }
}

TEST(TerminalWindow, FiguresAndPrintableTexts) {
  EXPECT_EQ(platform::FormatBytes(0), "0 B");
  EXPECT_EQ(platform::FormatBytes(1023), "1023 B");
  EXPECT_EQ(platform::FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(platform::FormatBytes(1024.0 * 1024 * 12.34), "12.3 MiB");
  EXPECT_EQ(platform::FormatDuration(7.4), "0:07");
  EXPECT_EQ(platform::FormatDuration(754), "12:34");
  EXPECT_EQ(platform::FormatDuration(3723), "1:02:03");
  EXPECT_EQ(platform::FormatDuration(-5), "0:00");
  EXPECT_EQ(platform::PrintableText("tab\there\x7f"), "tab?here?");
  EXPECT_EQ(platform::PrintableText("c1\xc2\x9b[2J"), "c1?[2J");
  EXPECT_EQ(platform::PrintableText("说明.txt é"), "说明.txt é");
}

}  // namespace
