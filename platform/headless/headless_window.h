// An in-memory main window for tests. It records every control's state, every
// row, bar, panel and box; answers confirmation boxes from a script; and runs
// scripted user actions when the logic lets the window process its pending
// input, so a test can act in the middle of a check or a transfer.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/window_model.h"

namespace platform {

class HeadlessWindow : public WindowModel {
 public:
  enum class BoxKind { Confirm, Information, Error };
  struct Box {
    BoxKind kind;
    std::string title;
    std::string text;
    bool answer = false;  // Confirm: the answer given
  };
  using Action = std::function<void(HeadlessWindow&)>;

  // MainWindow, beyond the controls' state that WindowModel keeps.
  void SetStatusPanel(int panel, const std::string& text) override;
  void SetStatusMessage(const std::string& text) override;
  bool Confirm(const std::string& question) override;
  void Information(const std::string& title, const std::string& text) override;
  void ShowError(const std::string& title, const std::string& message) override;
  // Each call counts as one processing of pending input. All runs every
  // scripted action that is due, One at most the first of them.
  void ProcessAllPendingInput() override;
  void ProcessOnePendingInput() override;
  void RequestClose() override;
  bool IsClosed() const override { return closed_; }
  // The operations waiting for the first Show run in it, as a message loop
  // would run them right after the window appeared.
  void Show() override;
  // For a window already shown: at the next processing of pending input.
  void RunWhenShown(std::function<void()> operation) override;

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
  void Rename(int row, const std::string& name) { SetRowText(row, FileColumn::Name, name); }
  void Type(Control box, const std::string& text) { SetText(box, text); }

  // What the window has seen.
  const std::vector<Box>& Boxes() const { return boxes_; }
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

  // Runs scripted actions due by now; at most `limit` of them.
  void RunDue(int limit);

  std::vector<std::string> status_history_;
  std::vector<std::string> panel1_history_;
  std::vector<Box> boxes_;
  std::deque<bool> answers_;
  std::deque<Scheduled> script_;
  std::vector<std::function<void()>> when_shown_;
  int process_calls_ = 0;
  int close_requests_ = 0;
  int shows_ = 0;
  bool closed_ = false;
};

}  // namespace platform
