#include "platform/headless/headless_window.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "platform/encoding.h"

namespace platform {

HeadlessWindow::HeadlessWindow() {
  static const std::string kButton1 = gbk("检测(&C)");
  static const std::string kButton2 = gbk("下载更新(&D)");
  static const std::string kButton3 = gbk("关闭(&X)");
  texts_ = {{Control::Edit2, ""},        {Control::CurrentDirEdit, ""}, {Control::Label8, "--"},
            {Control::Label10, "--"},    {Control::Button1, kButton1},  {Control::Button2, kButton2},
            {Control::Button3, kButton3}};
  enabled_ = {{Control::Edit2, true},   {Control::CurrentDirEdit, true}, {Control::Label8, true},
              {Control::Label10, true}, {Control::Button1, true},        {Control::Button2, false},
              {Control::Button3, true}};
}

void HeadlessWindow::SetText(Control control, const std::string& text) { texts_[control] = text; }

std::string HeadlessWindow::Text(Control control) const { return texts_.at(control); }

void HeadlessWindow::SetEnabled(Control control, bool enabled) { enabled_[control] = enabled; }

bool HeadlessWindow::IsEnabled(Control control) const { return enabled_.at(control); }

void HeadlessWindow::AddRow(bool checked, const std::string& name, const std::string& type,
                            const std::string& size, const std::string& date, const std::string& status) {
  rows_.push_back(Row{checked, {name, type, size, date, status}});
}

const HeadlessWindow::Row& HeadlessWindow::RowAt(int row) const {
  if (row < 0 || row >= RowCount()) throw std::out_of_range("List index out of bounds (" + std::to_string(row) + ")");
  return rows_[static_cast<size_t>(row)];
}

HeadlessWindow::Row& HeadlessWindow::RowAt(int row) {
  return const_cast<Row&>(static_cast<const HeadlessWindow*>(this)->RowAt(row));
}

bool HeadlessWindow::IsRowChecked(int row) const { return RowAt(row).checked; }

std::string HeadlessWindow::RowText(int row, FileColumn column) const {
  return RowAt(row).texts[static_cast<int>(column)];
}

void HeadlessWindow::SetRowText(int row, FileColumn column, const std::string& text) {
  RowAt(row).texts[static_cast<int>(column)] = text;
}

void HeadlessWindow::SetProgressRange(ProgressBar bar, int min, int max) {
  Bar& state = bars_[Index(bar)];
  state.min = min;
  state.max = std::max(min, max);
  state.position = std::clamp(state.position, state.min, state.max);
}

void HeadlessWindow::SetProgressPosition(ProgressBar bar, int position) {
  Bar& state = bars_[Index(bar)];
  state.position = std::clamp(position, state.min, state.max);
}

void HeadlessWindow::SetStatusPanel(int panel, const std::string& text) {
  if (panel < 0 || panel > 1) throw std::out_of_range("List index out of bounds (" + std::to_string(panel) + ")");
  panels_[panel] = text;
  if (panel == 1) panel1_history_.push_back(text);
}

std::string HeadlessWindow::StatusPanel(int panel) const {
  if (panel < 0 || panel > 1) throw std::out_of_range("List index out of bounds (" + std::to_string(panel) + ")");
  return panels_[panel];
}

void HeadlessWindow::SetStatusMessage(const std::string& text) {
  status_message_ = text;
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
  const bool go_ahead = events_ == nullptr || events_->CloseQuery();
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
  if (!IsEnabled(button) || events_ == nullptr) return false;
  events_->ButtonClicked(button);
  return true;
}

void HeadlessWindow::Tick(int row, bool checked) { RowAt(row).checked = checked; }

}  // namespace platform
