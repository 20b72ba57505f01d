// Cost per 8192-byte block of the progress display on the real Qt window
// (offscreen platform): the work handler's sequence of status panel text,
// pending input, bar position and bar repaint, as a 1 GiB download makes it
// (131072 blocks). For comparison, the same sequence driven straight into the
// Qt widgets without coalescing.
//
//   build/<dir>/bench/qt_progress_bench [blocks]
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/encoding.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_main_window.h"
#include "platform/qt/qt_main_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::ProgressBar;

class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
  long paints = 0;
};

std::string SpeedText(const std::string& prefix, long block) {
  char speed[32];
  std::snprintf(speed, sizeof speed, "%.2f KB/s", static_cast<double>(block) * 8.0 / 1.7);
  return prefix + speed;
}

double MicrosPerBlock(Clock::duration elapsed, long blocks) {
  return std::chrono::duration<double, std::micro>(elapsed).count() / static_cast<double>(blocks);
}

void WaitIdle(platform::QtMainWindow& window) {
  const auto until = Clock::now() + std::chrono::milliseconds(50);
  while (Clock::now() < until) QCoreApplication::processEvents();
  window.Flush();
  QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  const long blocks = argc > 1 ? std::atol(argv[1]) : 131072;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  platform::PrepareEventLoop();
  QApplication application(argc, argv);
  const std::string prefix = gbk(" 下载速度 ");

  platform::QtMainWindow window;
  window.show();
  WaitIdle(window);
  auto* bar = window.findChild<QProgressBar*>("ProgressBar1");
  auto* panel = window.findChild<QLabel*>("StatusBar1Panel1");
  PaintCounter bar_paints(bar);
  PaintCounter panel_paints(panel);

  // Processing pending input alone.
  auto start = Clock::now();
  for (long block = 0; block < blocks; ++block) window.ProcessAllPendingInput();
  const double process_only = MicrosPerBlock(Clock::now() - start, blocks);

  // The work handler's sequence through the window interface.
  const auto bytes = [](long block) { return static_cast<int>(std::min(block * 8192, 0x7fffffffL)); };
  window.SetProgressRange(ProgressBar::ProgressBar1, 0, bytes(blocks));
  start = Clock::now();
  for (long block = 1; block <= blocks; ++block) {
    window.SetStatusPanel(1, SpeedText(prefix, block));
    window.ProcessAllPendingInput();
    window.SetProgressPosition(ProgressBar::ProgressBar1, bytes(block));
    window.RepaintProgress(ProgressBar::ProgressBar1);
  }
  const auto coalesced_elapsed = Clock::now() - start;
  WaitIdle(window);
  const double coalesced = MicrosPerBlock(coalesced_elapsed, blocks);
  const long coalesced_bar_paints = bar_paints.paints;
  const long coalesced_panel_paints = panel_paints.paints;

  // The same sequence straight into the widgets, every block drawn.
  const long naive_blocks = blocks < 2000 ? blocks : 2000;
  bar->setRange(0, static_cast<int>(naive_blocks));
  start = Clock::now();
  for (long block = 1; block <= naive_blocks; ++block) {
    panel->setText(QString::fromStdString(platform::GbkToUtf8(SpeedText(prefix, block))));
    QCoreApplication::processEvents();
    bar->setValue(static_cast<int>(block));
    bar->repaint();
  }
  const double naive = MicrosPerBlock(Clock::now() - start, naive_blocks);

  std::printf("blocks: %ld (8192 bytes each)\n", blocks);
  std::printf("process pending input only:        %8.2f us/block\n", process_only);
  std::printf("work handler sequence, coalesced:  %8.2f us/block  (%.3f s per GiB; bar paints %ld, panel paints %ld)\n",
              coalesced, coalesced * 131072 / 1e6, coalesced_bar_paints, coalesced_panel_paints);
  std::printf("same sequence, every block drawn:  %8.2f us/block  (%.3f s per GiB; %ld blocks measured)\n", naive,
              naive * 131072 / 1e6, naive_blocks);
  return 0;
}
