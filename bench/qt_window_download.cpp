// One download through the real window: the Qt main window on the offscreen
// platform with TForm1 bound to it, TForm1's own FTPClient with the settings
// the window gives it (active mode, 8192-byte receives) and its transfer
// handlers driving the progress bar, the speed text and the pending input,
// the keep-responsive component active; with --passive the data connection
// is passive, as the settings key passive=1 makes it. Prints one line of
// key=value pairs:
//
//   total_s     connect, login and download (what curl's time_total covers)
//   transfer_s  the download alone
//   cpu_s       user and system time of the process during connect and download
//   peak_rss_kib, bytes, work_events, bar_paints
//
//   qt_window_download HOST PORT REMOTE LOCAL [--passive] [--user NAME] [--password WORD]
//                      [--tls] [--ca-file PEM] [--fingerprint SHA256] [--signed HASH]
//
// With --signed the file is checked as a signed download checks it: every
// block hashed (BLAKE2b-512) on its way to the file, then count and hash
// compared with the file's size and HASH (lower-case hexadecimal).
//
// HOST must be a loopback address. ExpectedFileSize is the remote file's
// size, as the download of a file of type BIN sets it from SIZE.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QProgressBar>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "app/verifying_stream.h"
#include "bench/download_arguments.h"
#include "bench/qt_bench_window.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/qt/qt_main_window.h"

namespace {

using bench::CpuSeconds;

class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
  long paints = 0;
};

}  // namespace

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  bench::OffscreenApplication application(argv[0]);

  bench::OffscreenForm offscreen("qt_window_download");
  platform::QtMainWindow& window = offscreen.Window();
  app::TForm1& form = offscreen.Form();
  PaintCounter bar_paints(window.findChild<QProgressBar*>("ProgressBar1"));

  ftp::TIdFTP& client = form.FTPClient;
  if (!bench::ApplyDownloadArguments(argc, argv, client, "bench@")) return 2;
  long work_events = 0;
  const auto handler = client.OnWork;
  client.OnWork = [&](net::TIdComponent* sender, net::TWorkMode mode, int32_t count) {
    ++work_events;
    handler(sender, mode, count);
  };

  std::string signed_hash;
  for (int i = 5; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--signed") == 0) signed_hash = argv[i + 1];
  }

  int status = 0;
  try {
    platform::DeleteFile(argv[4]);
    const double cpu_start = CpuSeconds();
    const auto start = Clock::now();
    client.Connect(true, -1);
    form.ExpectedFileSize = client.QuerySize(argv[3]);
    const auto transfer_start = Clock::now();
    if (signed_hash.empty()) {
      client.Download(argv[3], argv[4], true, false);
    } else {
      platform::FileStream file(argv[4], platform::FileMode::fmCreate);
      app::VerifyingStream verified(file, static_cast<int64_t>(form.ExpectedFileSize), signed_hash);
      client.Download(argv[3], verified, false);
      verified.Finish();
    }
    const auto end = Clock::now();
    const double cpu = CpuSeconds() - cpu_start;
    client.SignOff();
    window.Flush();
    QCoreApplication::processEvents();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto bytes = std::filesystem::file_size(platform::ResolvePath(argv[4]));
    std::printf("total_s=%.4f transfer_s=%.4f cpu_s=%.4f peak_rss_kib=%ld bytes=%llu work_events=%ld bar_paints=%ld\n",
                std::chrono::duration<double>(end - start).count(),
                std::chrono::duration<double>(end - transfer_start).count(), cpu, usage.ru_maxrss,
                static_cast<unsigned long long>(bytes), work_events, bar_paints.paints);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "download failed: %s\n", e.what());
    status = 1;
  }
  return status;
}
