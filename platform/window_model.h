// The state of the main window's controls as the window interface sets it:
// texts, enabled states, the file list, the progress bars and the status
// line, with the design-time texts and button states. The windows without a
// toolkit (the in-memory one of the tests, the terminal's) keep their
// controls here and add what they do with boxes, pending input and output.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/window.h"

namespace platform {

class WindowModel : public MainWindow {
 public:
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

  // The window as created: the design-time texts and button states.
  WindowModel();

  void SetEvents(WindowEvents* events) override { events_ = events; }
  void SetText(Control control, const std::string& text) override { texts_[control] = text; }
  std::string Text(Control control) const override { return texts_.at(control); }
  void SetEnabled(Control control, bool enabled) override { enabled_[control] = enabled; }
  bool IsEnabled(Control control) const override { return enabled_.at(control); }
  void ClearRows() override { rows_.clear(); }
  void AddRow(bool checked, const std::string& name, const std::string& type, const std::string& size,
              const std::string& date, const std::string& status) override;
  int RowCount() const override { return static_cast<int>(rows_.size()); }
  bool IsRowChecked(int row) const override { return RowAt(row).checked; }
  std::string RowText(int row, FileColumn column) const override;
  void SetRowText(int row, FileColumn column, const std::string& text) override;
  void SetProgressRange(ProgressBar bar, int min, int max) override;
  void SetProgressPosition(ProgressBar bar, int position) override;
  int ProgressPosition(ProgressBar bar) const override { return bars_[Index(bar)].position; }
  int ProgressMax(ProgressBar bar) const override { return bars_[Index(bar)].max; }
  void RepaintProgress(ProgressBar bar) override { ++bars_[Index(bar)].repaints; }
  // Panels 0 and 1; any other raises std::out_of_range, as the toolkit's
  // panel list does.
  void SetStatusPanel(int panel, const std::string& text) override;
  std::string StatusPanel(int panel) const override;
  void SetStatusMessage(const std::string& text) override { status_message_ = text; }
  std::string StatusMessage() const override { return status_message_; }

  // The user's tick or untick of a row, at once.
  void Tick(int row, bool checked) { RowAt(row).checked = checked; }

  const std::vector<Row>& Rows() const { return rows_; }
  const Bar& BarState(ProgressBar bar) const { return bars_[Index(bar)]; }

 protected:
  WindowEvents* Events() const { return events_; }
  static int Index(ProgressBar bar) { return bar == ProgressBar::ProgressBar1 ? 0 : 1; }
  // A row that does not exist raises std::out_of_range ("List index out of
  // bounds (N)"), as the toolkit's list does.
  const Row& RowAt(int row) const;
  Row& RowAt(int row);

 private:
  WindowEvents* events_ = nullptr;
  std::map<Control, std::string> texts_;
  std::map<Control, bool> enabled_;
  std::vector<Row> rows_;
  Bar bars_[2];
  std::string panels_[2];
  std::string status_message_;
};

}  // namespace platform
