// The main window for a terminal: no screen and no toolkit. The controls'
// state is kept in memory (WindowModel) for the logic to read back, and what
// a user would watch goes to standard error as UTF-8 lines: each new status
// message, each file started and finished, every box, and the transfer in
// progress, as a bar redrawn in place on a terminal.
//
// Nobody is there to answer: a confirmation is answered Yes, an information
// box is only printed, and an error box is printed (also when quiet) and
// kept in Errors() for the caller to count.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/window_model.h"

namespace platform {

struct TerminalOptions {
  bool quiet = false;        // print the error boxes only
  bool interactive = false;  // draw the transfer as a bar redrawn in place
  int columns = 80;          // the bar's line stays narrower than this
  // Where the output goes, UTF-8; standard error (unbuffered) when empty.
  std::function<void(const std::string&)> write;
  // Seconds on a steady clock; the process's steady clock when empty.
  std::function<double()> clock;
  // The byte count of the transfer that begins, -1 when it is not known.
  // When empty, the current-file bar's maximum, when it is above 0.
  std::function<int64_t()> transfer_size;
};

class TerminalWindow : public WindowModel {
 public:
  explicit TerminalWindow(TerminalOptions options);
  // Ends a bar left on its line.
  ~TerminalWindow() override;
  TerminalWindow(const TerminalWindow&) = delete;
  TerminalWindow& operator=(const TerminalWindow&) = delete;

  // Whether standard error is a terminal, and its width (80 when unknown).
  static bool StandardErrorIsTerminal();
  static int StandardErrorColumns();

  // MainWindow, beyond the controls' state.
  void ClearRows() override;
  void SetRowText(int row, FileColumn column, const std::string& text) override;
  // On the current-file bar, a range marks the begin of a transfer and a
  // position its byte count so far (kept as given, also beyond the range).
  void SetProgressRange(ProgressBar bar, int min, int max) override;
  void SetProgressPosition(ProgressBar bar, int position) override;
  // Redraws the bar, at most every kRedrawSeconds.
  void RepaintProgress(ProgressBar bar) override;
  void SetStatusMessage(const std::string& text) override;
  bool Confirm(const std::string& question) override;
  void Information(const std::string& title, const std::string& text) override;
  void ShowError(const std::string& title, const std::string& message) override;
  // Nothing is pending in a terminal but the operations posted for the
  // message loop of a window already shown, which run here.
  void ProcessAllPendingInput() override { RunEach(posted_); }
  void ProcessOnePendingInput() override { RunEach(posted_); }
  void RequestClose() override;
  bool IsClosed() const override { return closed_; }
  // Runs the operations waiting for the first Show.
  void Show() override;
  void RunWhenShown(std::function<void()> operation) override;

  // The messages of the error boxes shown, GBK, first to last.
  const std::vector<std::string>& Errors() const { return errors_; }
  // Clears a bar from its line, so that what follows starts on a fresh one.
  void EndProgressLine();

  static constexpr double kRedrawSeconds = 0.25;

 private:
  // One line of output (GBK in, UTF-8 out), after the bar is cleared away.
  void Line(const std::string& gbk_text);
  void Write(const std::string& utf8);
  double Seconds() const;
  // Runs the operations queued there, unless the window has closed.
  void RunEach(std::vector<std::function<void()>>& operations);

  TerminalOptions options_;
  std::vector<std::string> errors_;
  std::vector<std::function<void()>> when_shown_;
  std::vector<std::function<void()>> posted_;
  std::string last_message_;
  std::string current_name_;  // the row worked on last since the list was filled
  bool has_current_ = false;
  // The transfer in progress.
  bool transfer_ = false;
  double transfer_start_ = 0;
  int64_t transfer_size_ = -1;
  int64_t transfer_bytes_ = 0;
  double last_draw_ = -1;
  bool bar_drawn_ = false;
  bool shown_ = false;
  bool closed_ = false;
};

// The pieces of the bar's line, apart from the window so they can be
// checked on their own. Bytes as "999 B", "1.5 KiB", "12.3 MiB", "2.00 GiB";
// a time as "0:07", "12:34" or "1:02:03".
std::string FormatBytes(double bytes);
std::string FormatDuration(double seconds);
// The bar's line for a transfer: the label, the bytes so far (and of how
// many, with the percentage, when the size is known), the speed and, when
// the size is known, the time left; the label is shortened so that the line
// fits in columns - 1 (a character beyond ASCII counted as two).
std::string ProgressLine(const std::string& utf8_label, int64_t bytes, int64_t size, double seconds, int columns);
// The text with every control character (C0, DEL, and the C1 range of
// UTF-8) replaced by "?": names from a server never steer the terminal.
std::string PrintableText(const std::string& utf8);

}  // namespace platform
