// The main window on Qt 6 Widgets: a fixed-size dialog with every control of
// the updater at its place, carrying the window interface.
//
// The progress display is coalesced: the bars, the status panels and the
// status message are stored on every call (cheap), and drawn at most once a
// frame, skipping draws that would show the same pixels. Whatever is still
// pending when the calls stop is drawn within one frame by a single-shot
// timer, so the screen never lags the data by more than a frame.
#pragma once

#include <QDialog>
#include <QTimer>
#include <chrono>
#include <string>

#include "platform/window.h"

class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace platform {

class QtMainWindow : public QDialog, public MainWindow {
  Q_OBJECT

 public:
  explicit QtMainWindow(QWidget* parent = nullptr);
  ~QtMainWindow() override;

  // MainWindow
  void SetEvents(WindowEvents* events) override { events_ = events; }
  void SetText(Control control, const std::string& text) override;
  std::string Text(Control control) const override;
  void SetEnabled(Control control, bool enabled) override;
  bool IsEnabled(Control control) const override;
  void ClearRows() override;
  void AddRow(bool checked, const std::string& name, const std::string& type, const std::string& size,
              const std::string& date, const std::string& status) override;
  int RowCount() const override;
  bool IsRowChecked(int row) const override;
  std::string RowText(int row, FileColumn column) const override;
  void SetRowText(int row, FileColumn column, const std::string& text) override;
  void SetProgressRange(ProgressBar bar, int min, int max) override;
  void SetProgressPosition(ProgressBar bar, int position) override;
  int ProgressPosition(ProgressBar bar) const override { return bars_[Index(bar)].position; }
  int ProgressMax(ProgressBar bar) const override { return bars_[Index(bar)].max; }
  void RepaintProgress(ProgressBar bar) override;
  void SetStatusPanel(int panel, const std::string& text) override;
  std::string StatusPanel(int panel) const override;
  void SetStatusMessage(const std::string& text) override;
  std::string StatusMessage() const override { return texts_[kMessage].wanted; }
  bool Confirm(const std::string& question) override;
  void Information(const std::string& title, const std::string& text) override;
  void ShowError(const std::string& title, const std::string& message) override;
  // One non-blocking pass of Qt's event dispatcher, repeated while passes
  // find work (events that handlers posted in the pass before) up to a bound.
  void ProcessAllPendingInput() override;
  // Exactly one non-blocking pass: Qt has no public way to take a single
  // event off its queues, and one pass is the smallest step it offers.
  void ProcessOnePendingInput() override;
  void RequestClose() override { close(); }
  bool IsClosed() const override { return closed_; }
  void Show() override { show(); }

  // Draws the pending display state now, frame or not (before a screenshot).
  void Flush();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Escape does not close the window: only the close command and the Close
  // button do, through the owner's CloseQuery.
  void reject() override {}
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFrame{16};
  enum TextSlot { kPanel0 = 0, kPanel1 = 1, kMessage = 2 };

  struct BarState {
    QProgressBar* widget = nullptr;
    int min = 0;
    int max = 100;
    int position = 0;
    bool repaint_wanted = false;
    int paints = 0;  // paint events the widget has had
    // What is on screen: the filled width in pixels and whether it is full.
    int shown_fill = -1;
    bool shown_full = false;
  };
  struct TextState {
    QLabel* widget = nullptr;
    std::string wanted;
    std::string shown;
  };

  static int Index(ProgressBar bar) { return bar == ProgressBar::ProgressBar1 ? 0 : 1; }
  QWidget* WidgetOf(Control control) const;
  QTreeWidgetItem* Item(int row) const;
  void BuildControls();
  void SetText(TextSlot slot, const std::string& text);
  // Draws when a frame has passed since the last draw; otherwise makes sure
  // the timer draws at the end of this frame.
  void DrawSoon();
  void DrawBar(BarState& bar);
  void FocusFirstEnabled();

  WindowEvents* events_ = nullptr;
  QLineEdit* edit2_ = nullptr;
  QLineEdit* current_dir_edit_ = nullptr;
  QLabel* label8_ = nullptr;
  QLabel* label10_ = nullptr;
  QPushButton* button1_ = nullptr;
  QPushButton* button2_ = nullptr;
  QPushButton* button3_ = nullptr;
  QTreeWidget* list_view1_ = nullptr;
  BarState bars_[2];
  TextState texts_[3];
  bool pending_ = false;
  Clock::time_point last_draw_{};
  QTimer draw_timer_;
  bool closed_ = false;
  bool shown_before_ = false;
};

}  // namespace platform
