// Wall time and processor time of the update check as the program runs it
// at start: the real Qt window on the offscreen platform, TForm1 in a
// program folder of its own, FormCreate with its first check, the window
// shown. Each round starts in a fresh copy of the given folder (which holds
// updateset.inf), so every round fetches the same descriptors.
//
//   qt_update_check TEMPLATE_DIR [ROUNDS]      (default 5)
//
// Prints one line per round: round=N wall_s=... cpu_s=... descriptors=...
// rows=... status="..." (descriptors: files fetched into Update/nowlog).
#include <sys/resource.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "app/main_window.h"
#include "bench/qt_bench_window.h"
#include "platform/encoding.h"
#include "app/program_start.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_main_window.h"
#include "platform/qt/qt_main_window.h"

namespace {

using bench::CpuSeconds;

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  using Clock = std::chrono::steady_clock;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s TEMPLATE_DIR [ROUNDS]\n", argv[0]);
    return 2;
  }
  const fs::path source = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

  bench::OffscreenApplication application(argv[0]);

  int status = 0;
  for (int round = 1; round <= rounds; ++round) {
    const fs::path folder = source.parent_path() / (source.filename().string() + "-round" + std::to_string(round));
    fs::remove_all(folder);
    fs::copy(source, folder, fs::copy_options::recursive);
    double wall = 0;
    double cpu = 0;
    int rows = 0;
    std::string message;
    {
      platform::QtMainWindow window;
      app::TForm1 form(window, platform::Utf8ToGbk(folder.string() + "/"));
      const double cpu_start = CpuSeconds();
      const auto start = Clock::now();
      app::StartProgram(window, form);
      window.Flush();
      QCoreApplication::processEvents();
      wall = std::chrono::duration<double>(Clock::now() - start).count();
      cpu = CpuSeconds() - cpu_start;
      rows = window.RowCount();
      message = platform::GbkToUtf8(window.StatusMessage());
      form.FTPClient.SignOff();
    }
    const fs::path nowlog = folder / "Update" / "nowlog";
    const auto descriptors =
        fs::exists(nowlog) ? std::distance(fs::directory_iterator(nowlog), fs::directory_iterator()) : 0;
    if (!fs::exists(folder / "version.ini")) status = 1;  // the check did not reach the server
    std::printf("round=%d wall_s=%.4f cpu_s=%.4f descriptors=%ld rows=%d status=\"%s\"\n", round, wall, cpu,
                static_cast<long>(descriptors), rows, message.c_str());
    std::fflush(stdout);
    fs::remove_all(folder);
  }
  return status;
}
