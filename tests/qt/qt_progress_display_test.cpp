// The coalesced progress display: a flood of per-block updates draws far
// fewer times than it is called, and the last state always reaches the screen.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <cstdio>
#include <string>

#include "platform/encoding.h"
#include "platform/qt/qt_main_window.h"
#include "qt_test_support.h"

namespace {

using platform::ProgressBar;

class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
  int paints = 0;
};

// What the work handler shows for a block.
std::string SpeedText(int block) {
  static const std::string kPrefix = gbk(" 下载速度 ");
  char speed[32];
  std::snprintf(speed, sizeof speed, "%.2f KB/s", block * 0.37);
  return kPrefix + speed;
}

TEST(QtProgressDisplay, AFloodOfBlocksDrawsFarLessOftenAndEndsShowingTheLastState) {
  qt_test::App();
  platform::QtMainWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* bar = window.findChild<QProgressBar*>("ProgressBar1");
  auto* panel = window.findChild<QLabel*>("StatusBar1Panel1");
  ASSERT_NE(bar, nullptr);
  ASSERT_NE(panel, nullptr);
  PaintCounter bar_paints(bar);
  PaintCounter panel_paints(panel);

  constexpr int kBlocks = 100000;
  window.SetProgressRange(ProgressBar::ProgressBar1, 0, kBlocks);
  for (int block = 1; block <= kBlocks; ++block) {
    window.SetStatusPanel(1, SpeedText(block));
    window.ProcessAllPendingInput();
    window.SetProgressPosition(ProgressBar::ProgressBar1, block);
    window.RepaintProgress(ProgressBar::ProgressBar1);
  }
  // No explicit flush: the window must bring the last state to the screen by
  // itself once the calls stop.
  const QString last_text = QString::fromStdString(platform::GbkToUtf8(SpeedText(kBlocks)));
  EXPECT_TRUE(QTest::qWaitFor([&] { return bar->value() == kBlocks && panel->text() == last_text; }, 10000));
  EXPECT_EQ(window.ProgressPosition(ProgressBar::ProgressBar1), kBlocks);
  EXPECT_EQ(window.StatusPanel(1), SpeedText(kBlocks));

  // Draws are bounded by frames and, for the bar, by its width in pixels.
  EXPECT_GT(bar_paints.paints, 0);
  EXPECT_LT(bar_paints.paints, bar->width() + 10);
  EXPECT_GT(panel_paints.paints, 0);
  EXPECT_LT(panel_paints.paints, kBlocks / 10);
}

TEST(QtProgressDisplay, AStepThatChangesNoPixelIsNotDrawn) {
  qt_test::App();
  platform::QtMainWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* bar = window.findChild<QProgressBar*>("ProgressBar1");
  window.SetProgressRange(ProgressBar::ProgressBar1, 0, 1000000000);
  window.Flush();
  QCoreApplication::processEvents();
  PaintCounter paints(bar);
  for (int step = 1; step <= 50; ++step) {
    window.SetProgressPosition(ProgressBar::ProgressBar1, step);  // far below one pixel
    window.RepaintProgress(ProgressBar::ProgressBar1);
    window.Flush();
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(paints.paints, 0);
  EXPECT_EQ(bar->value(), 50) << "the value still reaches the widget";

  window.SetProgressPosition(ProgressBar::ProgressBar1, 1000000000);
  window.RepaintProgress(ProgressBar::ProgressBar1);
  window.Flush();
  EXPECT_EQ(paints.paints, 1) << "a visible change is drawn at once";
}

}  // namespace
