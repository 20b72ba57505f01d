// An in-memory main window for tests. It records every control's state, every
// row, bar, panel and box; answers confirmation boxes from a script; and runs
// scripted user actions when the logic lets the window process its pending
// input, so a test can act in the middle of a check or a transfer.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/window.h"

namespace platform {

class HeadlessWindow : public MainWindow {
 public:
  enum class BoxKind { Confirm, Information, Error };
  struct Box {
    BoxKind kind;
    std::string title;
    std::string text;
    bool answer = false;  // Confirm: the answer given
  };
  struct Row {
    bool checked = false;
    std::string texts[5];
  };
  struct Bar {
    int min = 0;
    int max = 100;
    int position = 0;
    int repaints = 0;
  };
  using Action = std::function<void(HeadlessWindow&)>;

  // The window as created: the design-time texts and button states.
  HeadlessWindow();

  // MainWindow
  void SetEvents(WindowEvents* events) override { events_ = events; }
  void SetText(Control control, const std::string& text) override;
  std::string Text(Control control) const override;
  void SetEnabled(Control control, bool enabled) override;
  bool IsEnabled(Control control) const override;
  void ClearRows() override { rows_.clear(); }
  void AddRow(bool checked, const std::string& name, const std::string& type, const std::string& size,
              const std::string& date, const std::string& status) override;
  int RowCount() const override { return static_cast<int>(rows_.size()); }
  bool IsRowChecked(int row) const override;
  std::string RowText(int row, FileColumn column) const override;
  void SetRowText(int row, FileColumn column, const std::string& text) override;
  void SetProgressRange(ProgressBar bar, int min, int max) override;
  void SetProgressPosition(ProgressBar bar, int position) override;
  int ProgressPosition(ProgressBar bar) const override { return bars_[Index(bar)].position; }
  int ProgressMax(ProgressBar bar) const override { return bars_[Index(bar)].max; }
  void RepaintProgress(ProgressBar bar) override { ++bars_[Index(bar)].repaints; }
  void SetStatusPanel(int panel, const std::string& text) override;
  std::string StatusPanel(int panel) const override;
  void SetStatusMessage(const std::string& text) override;
  std::string StatusMessage() const override { return status_message_; }
  bool Confirm(const std::string& question) override;
  void Information(const std::string& title, const std::string& text) override;
  void ShowError(const std::string& title, const std::string& message) override;
  // Each call counts as one processing of pending input. All runs every
  // scripted action that is due, One at most the first of them.
  void ProcessAllPendingInput() override;
  void ProcessOnePendingInput() override;
  void RequestClose() override;
  bool IsClosed() const override { return closed_; }
  void Show() override { ++shows_; }

  // The script. An action given after_calls N runs in the (N+1)-th
  // processing of pending input from now: 0 is the next one. Actions that
  // fall due together run in the order they were scheduled.
  void Schedule(Action action, int after_calls = 0);
  void ScheduleTick(int row, bool checked, int after_calls = 0);
  void ScheduleRename(int row, const std::string& name, int after_calls = 0);
  void SchedulePress(Control button, int after_calls = 0);
  void ScheduleClose(int after_calls = 0);
  int PendingActions() const { return static_cast<int>(script_.size()); }
  // The answers that confirmation boxes give, first to last; No when none is left.
  void QueueConfirmAnswer(bool yes) { answers_.push_back(yes); }

  // The user's own actions, at once. A press of a disabled button does nothing
  // and gives false.
  bool Press(Control button);
  void Tick(int row, bool checked);
  void Rename(int row, const std::string& name) { SetRowText(row, FileColumn::Name, name); }
  void Type(Control box, const std::string& text) { SetText(box, text); }

  // What the window has seen.
  const std::vector<Box>& Boxes() const { return boxes_; }
  const std::vector<Row>& Rows() const { return rows_; }
  const Bar& BarState(ProgressBar bar) const { return bars_[Index(bar)]; }
  const std::vector<std::string>& StatusMessageHistory() const { return status_history_; }
  const std::vector<std::string>& Panel1History() const { return panel1_history_; }
  int ProcessCalls() const { return process_calls_; }
  int CloseRequests() const { return close_requests_; }
  int Shows() const { return shows_; }

 private:
  struct Scheduled {
    int due;  // the value of process_calls_ at which it runs
    Action action;
  };

  static int Index(ProgressBar bar) { return bar == ProgressBar::ProgressBar1 ? 0 : 1; }
  const Row& RowAt(int row) const;
  Row& RowAt(int row);
  // Runs scripted actions due by now; at most `limit` of them.
  void RunDue(int limit);

  WindowEvents* events_ = nullptr;
  std::map<Control, std::string> texts_;
  std::map<Control, bool> enabled_;
  std::vector<Row> rows_;
  Bar bars_[2];
  std::string panels_[2];
  std::string status_message_;
  std::vector<std::string> status_history_;
  std::vector<std::string> panel1_history_;
  std::vector<Box> boxes_;
  std::deque<bool> answers_;
  std::deque<Scheduled> script_;
  int process_calls_ = 0;
  int close_requests_ = 0;
  int shows_ = 0;
  bool closed_ = false;
};

}  // namespace platform
