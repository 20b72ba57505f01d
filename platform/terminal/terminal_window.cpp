#include "platform/terminal/terminal_window.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

#include "platform/encoding.h"

namespace platform {
namespace {

// "\r" back to the line's start, "\x1b[K" clears to its end: the bar is
// redrawn over itself, and cleared before any other line.
const char* const kClearLine = "\r\x1b[K";

std::string Printf(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Columns a UTF-8 text takes: one for ASCII, two for anything else (the
// Chinese texts and names this program shows are double width).
int Columns(const std::string& utf8) {
  int columns = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) columns += byte < 0x80 ? 1 : 2;
  }
  return columns;
}

// The text cut to at most `columns`, with ".." where it was cut.
std::string Shortened(const std::string& utf8, int columns) {
  if (Columns(utf8) <= columns) return utf8;
  std::string kept;
  int used = 0;
  for (size_t i = 0; i < utf8.size();) {
    size_t end = i + 1;
    while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
    const int width = static_cast<unsigned char>(utf8[i]) < 0x80 ? 1 : 2;
    if (used + width > columns - 2) break;
    kept.append(utf8, i, end - i);
    used += width;
    i = end;
  }
  return kept + "..";
}

std::string Utf8Of(const std::string& gbk) {
  try {
    return GbkToUtf8(gbk);
  } catch (...) {
    return gbk;  // the bytes as they are; PrintableText still applies
  }
}

}  // namespace

std::string FormatBytes(double bytes) {
  if (bytes < 1024) return Printf("%.0f B", bytes);
  if (bytes < 1024.0 * 1024) return Printf("%.1f KiB", bytes / 1024);
  if (bytes < 1024.0 * 1024 * 1024) return Printf("%.1f MiB", bytes / (1024.0 * 1024));
  return Printf("%.2f GiB", bytes / (1024.0 * 1024 * 1024));
}

std::string FormatDuration(double seconds) {
  const long long whole = std::isfinite(seconds) && seconds > 0 ? std::llround(seconds) : 0;
  char text[48];
  if (whole < 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  }
  return text;
}

std::string ProgressLine(const std::string& utf8_label, int64_t bytes, int64_t size, double seconds, int columns) {
  std::string figures = FormatBytes(static_cast<double>(bytes));
  const bool size_known = size > 0 && bytes <= size;
  if (size_known) {
    figures += " / " + FormatBytes(static_cast<double>(size));
    figures += Printf("  %3.0f%%", std::floor(100.0 * static_cast<double>(bytes) / static_cast<double>(size)));
  }
  const double speed = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  if (speed > 0) {
    figures += "  " + FormatBytes(speed) + "/s";
    if (size_known) figures += "  " + FormatDuration(static_cast<double>(size - bytes) / speed) + " left";
  }
  const int room = columns - 1 - Columns(figures) - 2;
  return Shortened(PrintableText(utf8_label), room < 8 ? 8 : room) + "  " + figures;
}

std::string PrintableText(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
    if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080 to U+009F
      out.push_back('?');
      ++i;
    } else if (byte < 0x20 || byte == 0x7F) {
      out.push_back('?');
    } else {
      out.push_back(static_cast<char>(byte));
    }
  }
  return out;
}

TerminalWindow::TerminalWindow(TerminalOptions options) : options_(std::move(options)) {}

TerminalWindow::~TerminalWindow() {
  try {
    EndProgressLine();
  } catch (...) {
    // nothing more can be said
  }
}

bool TerminalWindow::StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int TerminalWindow::StandardErrorColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void TerminalWindow::Write(const std::string& utf8) {
  if (options_.write) {
    options_.write(utf8);
    return;
  }
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fflush(stderr);
}

void TerminalWindow::Line(const std::string& gbk_text) {
  std::string out = bar_drawn_ ? kClearLine : "";
  bar_drawn_ = false;
  out += PrintableText(Utf8Of(gbk_text));
  out += "\n";
  Write(out);
}

void TerminalWindow::EndProgressLine() {
  if (!bar_drawn_) return;
  bar_drawn_ = false;
  Write(kClearLine);
}

double TerminalWindow::Seconds() const {
  if (options_.clock) return options_.clock();
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void TerminalWindow::ClearRows() {
  WindowModel::ClearRows();
  has_current_ = false;
}

void TerminalWindow::SetRowText(int row, FileColumn column, const std::string& text) {
  if (column != FileColumn::Status) {
    WindowModel::SetRowText(row, column, text);
    return;
  }
  const bool changed = RowText(row, column) != text;
  WindowModel::SetRowText(row, column, text);
  if (!changed) return;
  current_name_ = RowText(row, FileColumn::Name);
  has_current_ = true;
  if (!options_.quiet) Line(text + "  " + current_name_);
}

void TerminalWindow::SetProgressRange(ProgressBar bar, int min, int max) {
  WindowModel::SetProgressRange(bar, min, max);
  if (bar != ProgressBar::ProgressBar1) return;
  transfer_ = true;
  transfer_start_ = Seconds();
  transfer_bytes_ = 0;
  transfer_size_ = options_.transfer_size ? options_.transfer_size() : (max > 0 ? max : -1);
}

void TerminalWindow::SetProgressPosition(ProgressBar bar, int position) {
  WindowModel::SetProgressPosition(bar, position);
  if (bar == ProgressBar::ProgressBar1) transfer_bytes_ = position;
}

void TerminalWindow::RepaintProgress(ProgressBar bar) {
  WindowModel::RepaintProgress(bar);
  if (bar != ProgressBar::ProgressBar1 || !transfer_ || !options_.interactive || options_.quiet) return;
  const double now = Seconds();
  if (last_draw_ >= 0 && now - last_draw_ < kRedrawSeconds) return;
  last_draw_ = now;
  const std::string label = Utf8Of(has_current_ ? current_name_ : StatusMessage());
  Write(std::string("\r") + ProgressLine(label, transfer_bytes_, transfer_size_, now - transfer_start_,
                                         options_.columns) + "\x1b[K");
  bar_drawn_ = true;
}

void TerminalWindow::SetStatusMessage(const std::string& text) {
  WindowModel::SetStatusMessage(text);
  if (options_.quiet || text == last_message_) return;
  last_message_ = text;
  Line(text);
}

bool TerminalWindow::Confirm(const std::string& question) {
  if (!options_.quiet) Line(question + " [Yes]");
  return true;
}

void TerminalWindow::Information(const std::string& title, const std::string& text) {
  if (!options_.quiet) Line(title + ": " + text);
}

void TerminalWindow::ShowError(const std::string& title, const std::string& message) {
  errors_.push_back(message);
  Line(title + ": " + message);
}

void TerminalWindow::RequestClose() {
  const bool go_ahead = Events() == nullptr || Events()->CloseQuery();
  if (go_ahead) closed_ = true;
}

void TerminalWindow::Show() {
  shown_ = true;
  RunEach(when_shown_);
}

void TerminalWindow::RunWhenShown(std::function<void()> operation) {
  (shown_ ? posted_ : when_shown_).push_back(std::move(operation));
}

void TerminalWindow::RunEach(std::vector<std::function<void()>>& operations) {
  std::vector<std::function<void()>> due;
  due.swap(operations);
  for (const std::function<void()>& operation : due) {
    if (!closed_) operation();
  }
}

}  // namespace platform
