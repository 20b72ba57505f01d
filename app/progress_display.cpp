// The transfer progress display: every listing and download drives the
// current-file bar, the speed in panel 1 and the Transferring flag. The work
// handler runs once per received block (8192 bytes), so it does the least it
// can: one clock reading, one number formatted into a reused buffer, and the
// window calls; the window coalesces the drawing.
#include "app/progress_display.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "app/main_window.h"
#include "app/texts.h"
#include "platform/date_time.h"

namespace app {

using platform::ProgressBar;

double TransferSeconds(double elapsed_days) {
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  int milliseconds = 0;
  platform::DecodeTime(elapsed_days, hours, minutes, seconds, milliseconds);
  const auto whole = static_cast<uint16_t>(hours * 3600 + minutes * 60 + seconds);
  return whole + milliseconds / 1000.0;
}

void FormatSpeedText(const std::string& prefix, double speed, std::string& out) {
  out.assign(prefix);
  const double hundredths = std::floor(std::fabs(speed) * 100.0 + 0.5);
  if (std::isfinite(speed) && hundredths < 9.0e15) {
    // Digits by hand: this runs for every block, and printf costs more than
    // the rest of the text.
    const auto whole = static_cast<unsigned long long>(hundredths);
    if (speed < 0 && whole != 0) out.push_back('-');
    char digits[24];
    char* const end = digits + sizeof digits;
    char* first = end;
    unsigned long long units = whole / 100;
    do {
      *--first = static_cast<char>('0' + units % 10);
      units /= 10;
    } while (units != 0);
    out.append(first, end);
    out.push_back('.');
    out.push_back(static_cast<char>('0' + whole % 100 / 10));
    out.push_back(static_cast<char>('0' + whole % 10));
  } else {
    char digits[400];
    std::snprintf(digits, sizeof digits, "%.2f", speed);
    out.append(digits);
  }
  out.append(" KB/s");
}

int32_t BarMaximum(double expected_size) {
  if (!(expected_size > 0)) return 0;
  if (expected_size >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::lround(expected_size));
}

void TForm1::FTPClientWorkBegin(net::TIdComponent*, net::TWorkMode, int32_t) {
  Transferring = true;
  TransferStart = Clock();
  window_.SetProgressRange(ProgressBar::ProgressBar1, 0, BarMaximum(ExpectedFileSize));
  TransferSpeed = 0;
}

void TForm1::FTPClientWork(net::TIdComponent*, net::TWorkMode, int32_t AWorkCount) {
  const double seconds = TransferSeconds(Clock() - TransferStart);
  if (seconds > 0) TransferSpeed = AWorkCount / 1024.0 / seconds;
  FormatSpeedText(texts::kSpeedPrefix, TransferSpeed, speed_text_);
  window_.SetStatusPanel(1, speed_text_);
  window_.ProcessAllPendingInput();
  window_.SetProgressPosition(ProgressBar::ProgressBar1, AWorkCount);
  window_.RepaintProgress(ProgressBar::ProgressBar1);
}

int64_t TForm1::KnownTransferSize() const {
  for (int row = 0; row < window_.RowCount(); ++row) {
    if (window_.RowText(row, platform::FileColumn::Status) != texts::kDownloadingRow) continue;
    const std::string type = texts::UpperAscii(window_.RowText(row, platform::FileColumn::Type));
    if (signed_release_) {
      const auto signed_file = signed_files_.find(window_.RowText(row, platform::FileColumn::Name));
      return signed_file != signed_files_.end() && signed_file->second.type == type ? signed_file->second.bytes : -1;
    }
    return type == "BIN" && ExpectedFileSize >= 0 ? std::llround(ExpectedFileSize) : -1;
  }
  return -1;
}

void TForm1::FTPClientWorkEnd(net::TIdComponent*, net::TWorkMode) {
  window_.SetStatusPanel(1, texts::kTransferDone);
  Transferring = false;
  window_.SetProgressPosition(ProgressBar::ProgressBar1, 0);
  TransferSpeed = 0;
}

}  // namespace app
