// The transfer progress display: its arithmetic, and the three handlers on
// the headless window with a clock the test sets.
#include <gtest/gtest.h>

#include <string>

#include "app/main_window.h"
#include "app/progress_display.h"
#include "platform/encoding.h"
#include "platform/headless/headless_window.h"
#include "support/test_util.h"

namespace {

using platform::ProgressBar;

constexpr double kSecond = 1.0 / 86400.0;

TEST(TransferSeconds, TimeOfDayToMillisecondsWithTheSecondsIn16Bits) {
  const struct {
    double elapsed_days;
    double seconds;
  } cases[] = {
      {0, 0},
      {0.0004 * kSecond, 0},       // under half a millisecond
      {0.0006 * kSecond, 0.001},   // rounds up to one
      {2 * kSecond, 2},
      {2.5 * kSecond, 2.5},
      {3661.25 * kSecond, 3661.25},
      {65535 * kSecond, 65535},
      {65536 * kSecond, 0},        // the seconds wrap
      {65537.5 * kSecond, 1.5},
      {1 + 2 * kSecond, 2},        // whole days dropped
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(app::TransferSeconds(c.elapsed_days), c.seconds) << c.elapsed_days;
}

TEST(FormatSpeedText, TwoDecimalsRoundedHalfAwayNoSeparators) {
  const struct {
    double speed;
    const char* text;
  } cases[] = {
      {0, "0.00 KB/s"},          {512, "512.00 KB/s"},       {0.125, "0.13 KB/s"},
      {0.004, "0.00 KB/s"},      {0.005, "0.01 KB/s"},       {1234567.891, "1234567.89 KB/s"},
      {99.999, "100.00 KB/s"},   {1e20, "100000000000000000000.00 KB/s"},
  };
  std::string out = "left over";
  for (const auto& c : cases) {
    app::FormatSpeedText(">", c.speed, out);
    EXPECT_EQ(out, std::string(">") + c.text) << c.speed;
  }
}

TEST(BarMaximum, ReportedSizeRoundedUnknownEmpty) {
  EXPECT_EQ(app::BarMaximum(0), 0);
  EXPECT_EQ(app::BarMaximum(-1), 0);
  EXPECT_EQ(app::BarMaximum(1234), 1234);
  EXPECT_EQ(app::BarMaximum(1234.6), 1235);
  EXPECT_EQ(app::BarMaximum(3e10), 2147483647);
}

double g_now = 45000;
double TestClock() { return g_now; }

class ProgressHandlersTest : public ::testing::Test {
 protected:
  ProgressHandlersTest() : form_(window_, folder_.Path() + "/") {
    window_.SetEvents(&form_);
    form_.Clock = &TestClock;
    g_now = 45000;
  }
  void Begin() { form_.FTPClientWorkBegin(nullptr, net::wmRead, 0); }
  void Work(int32_t count) { form_.FTPClientWork(nullptr, net::wmRead, count); }
  void End() { form_.FTPClientWorkEnd(nullptr, net::wmRead); }
  static std::string Speed(const char* digits) { return gbk(" 下载速度 ") + digits + " KB/s"; }

  test_support::TempDir folder_;
  platform::HeadlessWindow window_;
  app::TForm1 form_;
};

TEST_F(ProgressHandlersTest, OneTransferFromBeginToEnd) {
  EXPECT_EQ(window_.StatusPanel(1), "");
  form_.ExpectedFileSize = 3 * 1048576;
  Begin();
  EXPECT_TRUE(form_.Transferring);
  EXPECT_EQ(window_.BarState(ProgressBar::ProgressBar1).max, 3 * 1048576);

  // Within the first millisecond the speed stays 0.
  g_now += 0.0004 * kSecond;
  Work(8192);
  EXPECT_EQ(window_.StatusPanel(1), Speed("0.00"));
  EXPECT_EQ(form_.TransferSpeed, 0);

  g_now = 45000 + 2 * kSecond;
  Work(1048576);
  EXPECT_DOUBLE_EQ(form_.TransferSpeed, 512);
  EXPECT_EQ(window_.StatusPanel(1), Speed("512.00"));
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 1048576);
  EXPECT_EQ(window_.BarState(ProgressBar::ProgressBar1).repaints, 2);
  EXPECT_EQ(window_.ProcessCalls(), 2) << "every block lets the window handle its input";

  // A count beyond the reported size shows the bar full.
  Work(4 * 1048576);
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 3 * 1048576);

  End();
  EXPECT_FALSE(form_.Transferring);
  EXPECT_EQ(form_.TransferSpeed, 0);
  EXPECT_EQ(window_.StatusPanel(1), gbk(" 完成."));
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 0);
}

TEST_F(ProgressHandlersTest, TheRangeFollowsTheLastReportedSize) {
  Begin();  // before any size: 0 to 0
  EXPECT_EQ(window_.BarState(ProgressBar::ProgressBar1).max, 0);
  Work(8192);
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 0);
  End();

  form_.ExpectedFileSize = 5000;
  Begin();
  EXPECT_EQ(window_.BarState(ProgressBar::ProgressBar1).max, 5000);
  End();
  Begin();  // a later transfer of another type keeps it
  EXPECT_EQ(window_.BarState(ProgressBar::ProgressBar1).max, 5000);
  End();

  // A size the server did not report: an empty bar, and the transfer goes on.
  form_.ExpectedFileSize = -1;
  EXPECT_NO_THROW(Begin());
  EXPECT_EQ(window_.BarState(ProgressBar::ProgressBar1).max, 0);
  g_now += kSecond;
  EXPECT_NO_THROW(Work(10240));
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 0);
  EXPECT_EQ(window_.StatusPanel(1), Speed("10.00"));
  End();
}

TEST_F(ProgressHandlersTest, SecondsWrapAfter65535AndTheSpeedJumps) {
  Begin();
  g_now += 65535 * kSecond;
  Work(65535 * 1024);
  EXPECT_EQ(window_.StatusPanel(1), Speed("1.00"));
  g_now += 2 * kSecond;  // 65537 s: counted as 1 s
  Work(65535 * 1024);
  EXPECT_EQ(window_.StatusPanel(1), Speed("65535.00"));
}

TEST_F(ProgressHandlersTest, PendingInputRunsBeforeTheBarMoves) {
  form_.ExpectedFileSize = 1000;
  Begin();
  int seen = -1;
  window_.Schedule([&](platform::HeadlessWindow& w) { seen = w.ProgressPosition(ProgressBar::ProgressBar1); });
  Work(100);
  EXPECT_EQ(seen, 0);
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 100);
}

}  // namespace
