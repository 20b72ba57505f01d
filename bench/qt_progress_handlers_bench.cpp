// Cost per 8192-byte block of the window's transfer handlers on the real Qt
// window (offscreen platform): TForm1::FTPClientWork as a download calls it,
// with the window's coalesced drawing, pending input processed on every
// block. A 1 GiB download makes 131072 blocks.
//
//   build/<dir>/bench/qt_progress_handlers_bench [blocks]
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/main_window.h"
#include "bench/qt_bench_window.h"
#include "platform/qt/qt_main_window.h"

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  const long blocks = argc > 1 ? std::max(1L, std::atol(argv[1])) : 131072;
  bench::OffscreenApplication application(argv[0]);

  bench::OffscreenForm offscreen("qt_progress_bench");
  platform::QtMainWindow& window = offscreen.Window();
  app::TForm1& form = offscreen.Form();
  form.ExpectedFileSize = static_cast<double>(blocks) * 8192;

  double best = 1e30;
  for (int round = 0; round < 3; ++round) {
    const auto start = Clock::now();
    form.FTPClientWorkBegin(nullptr, net::wmRead, 0);
    for (long block = 1; block <= blocks; ++block) {
      form.FTPClientWork(nullptr, net::wmRead, static_cast<int32_t>(std::min(block * 8192, 2147483647L)));
    }
    form.FTPClientWorkEnd(nullptr, net::wmRead);
    window.Flush();
    const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    best = std::min(best, micros / static_cast<double>(blocks));
  }
  std::printf("progress handlers on the Qt window, %ld blocks of 8192 bytes: %.3f us per block (best of 3), "
              "%.1f ms per GiB\n",
              blocks, best, best * 131072 / 1000.0);
  return 0;
}
