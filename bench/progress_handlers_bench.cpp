// Cost per 8192-byte block of the window's transfer handlers themselves
// (TForm1::FTPClientWork: clock, speed text, panel, pending input, bar
// position, repaint request), on a window that does nothing with the calls,
// so only the handlers' own work is measured. A 1 GiB download makes 131072
// blocks.
//
//   build/<dir>/bench/progress_handlers_bench [blocks]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/main_window.h"

namespace {

using Clock = std::chrono::steady_clock;

// Keeps what a handler might read back and nothing more.
class NullWindow : public platform::MainWindow {
 public:
  void SetEvents(platform::WindowEvents*) override {}
  void SetText(platform::Control, const std::string&) override {}
  std::string Text(platform::Control) const override { return "5"; }
  void SetEnabled(platform::Control, bool) override {}
  bool IsEnabled(platform::Control) const override { return true; }
  void ClearRows() override {}
  void AddRow(bool, const std::string&, const std::string&, const std::string&, const std::string&,
              const std::string&) override {}
  int RowCount() const override { return 0; }
  bool IsRowChecked(int) const override { return false; }
  std::string RowText(int, platform::FileColumn) const override { return {}; }
  void SetRowText(int, platform::FileColumn, const std::string&) override {}
  void SetProgressRange(platform::ProgressBar, int, int max) override { max_ = max; }
  void SetProgressPosition(platform::ProgressBar, int position) override { position_ = std::min(position, max_); }
  int ProgressPosition(platform::ProgressBar) const override { return position_; }
  int ProgressMax(platform::ProgressBar) const override { return max_; }
  void RepaintProgress(platform::ProgressBar) override { ++repaints_; }
  void SetStatusPanel(int, const std::string& text) override { panel_length_ = text.size(); }
  std::string StatusPanel(int) const override { return {}; }
  void SetStatusMessage(const std::string&) override {}
  std::string StatusMessage() const override { return {}; }
  bool Confirm(const std::string&) override { return false; }
  void Information(const std::string&, const std::string&) override {}
  void ShowError(const std::string&, const std::string&) override {}
  void ProcessAllPendingInput() override { ++processed_; }
  void ProcessOnePendingInput() override { ++processed_; }
  void RequestClose() override {}
  bool IsClosed() const override { return false; }
  void Show() override {}

  long repaints_ = 0;
  long processed_ = 0;
  size_t panel_length_ = 0;

 private:
  int max_ = 0;
  int position_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const long blocks = argc > 1 ? std::max(1L, std::atol(argv[1])) : 131072;
  char folder[] = "/tmp/progress_bench_XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  NullWindow window;
  app::TForm1 form(window, std::string(folder) + "/");
  form.ExpectedFileSize = static_cast<double>(blocks) * 8192;

  double best = 1e30;
  for (int round = 0; round < 5; ++round) {
    const auto start = Clock::now();
    form.FTPClientWorkBegin(nullptr, net::wmRead, 0);
    for (long block = 1; block <= blocks; ++block) {
      form.FTPClientWork(nullptr, net::wmRead, static_cast<int32_t>(std::min(block * 8192, 2147483647L)));
    }
    form.FTPClientWorkEnd(nullptr, net::wmRead);
    const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    best = std::min(best, micros / static_cast<double>(blocks));
  }
  rmdir(folder);
  std::printf("progress handlers, %ld blocks of 8192 bytes: %.3f us per block (best of 5), %.1f ms per GiB\n",
              blocks, best, best * 131072 / 1000.0);
  std::printf("(%ld repaint requests, %ld input passes, last panel text %zu bytes)\n", window.repaints_,
              window.processed_, window.panel_length_);
  return 0;
}
