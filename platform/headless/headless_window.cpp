#include "platform/headless/headless_window.h"

#include <algorithm>
#include <utility>

namespace platform {

void HeadlessWindow::SetStatusPanel(int panel, const std::string& text) {
  WindowModel::SetStatusPanel(panel, text);
  if (panel == 1) panel1_history_.push_back(text);
}

void HeadlessWindow::SetStatusMessage(const std::string& text) {
  WindowModel::SetStatusMessage(text);
  status_history_.push_back(text);
}

bool HeadlessWindow::Confirm(const std::string& question) {
  bool answer = false;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  boxes_.push_back(Box{BoxKind::Confirm, "Confirm", question, answer});
  return answer;
}

void HeadlessWindow::Information(const std::string& title, const std::string& text) {
  boxes_.push_back(Box{BoxKind::Information, title, text});
}

void HeadlessWindow::ShowError(const std::string& title, const std::string& message) {
  boxes_.push_back(Box{BoxKind::Error, title, message});
}

void HeadlessWindow::ProcessAllPendingInput() {
  ++process_calls_;
  RunDue(-1);
}

void HeadlessWindow::ProcessOnePendingInput() {
  ++process_calls_;
  RunDue(1);
}

void HeadlessWindow::RunDue(int limit) {
  // Actions may schedule more actions; those that are due run in this pass.
  for (int run = 0; limit < 0 || run < limit; ++run) {
    auto due = std::find_if(script_.begin(), script_.end(),
                            [&](const Scheduled& item) { return item.due <= process_calls_; });
    if (due == script_.end()) return;
    Action action = std::move(due->action);
    script_.erase(due);
    action(*this);
  }
}

void HeadlessWindow::RequestClose() {
  ++close_requests_;
  const bool go_ahead = Events() == nullptr || Events()->CloseQuery();
  if (go_ahead) closed_ = true;
}

void HeadlessWindow::Show() {
  ++shows_;
  std::vector<std::function<void()>> due;
  due.swap(when_shown_);
  for (const std::function<void()>& operation : due) {
    if (!closed_) operation();
  }
}

void HeadlessWindow::RunWhenShown(std::function<void()> operation) {
  if (shows_ == 0) {
    when_shown_.push_back(std::move(operation));
    return;
  }
  Schedule([operation = std::move(operation)](HeadlessWindow& window) {
    if (!window.IsClosed()) operation();
  });
}

void HeadlessWindow::Schedule(Action action, int after_calls) {
  script_.push_back(Scheduled{process_calls_ + 1 + std::max(0, after_calls), std::move(action)});
}

void HeadlessWindow::ScheduleTick(int row, bool checked, int after_calls) {
  Schedule([row, checked](HeadlessWindow& window) { window.Tick(row, checked); }, after_calls);
}

void HeadlessWindow::ScheduleRename(int row, const std::string& name, int after_calls) {
  Schedule([row, name](HeadlessWindow& window) { window.Rename(row, name); }, after_calls);
}

void HeadlessWindow::SchedulePress(Control button, int after_calls) {
  Schedule([button](HeadlessWindow& window) { window.Press(button); }, after_calls);
}

void HeadlessWindow::ScheduleClose(int after_calls) {
  Schedule([](HeadlessWindow& window) { window.RequestClose(); }, after_calls);
}

bool HeadlessWindow::Press(Control button) {
  if (!IsEnabled(button) || Events() == nullptr) return false;
  Events()->ButtonClicked(button);
  return true;
}

}  // namespace platform
