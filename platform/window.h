// The window interface: the controls of the updater's main window and the
// operations its handlers use. app/ sees only this; platform/qt/ carries it on
// Qt 6 and platform/headless/ records it in memory for tests.
//
// Every text crossing this interface is GBK bytes.
#pragma once

#include <string>

namespace platform {

// Controls whose state the handlers change or read.
enum class Control {
  Edit2,           // server address box
  CurrentDirEdit,  // product folder box (read-only)
  Label8,          // local version
  Label10,         // offered version
  Button1,         // Check
  Button2,         // Download
  Button3,         // Close
};

enum class ProgressBar { ProgressBar1, ProgressBar2 };

// Columns of the file list, left to right.
enum class FileColumn { Name = 0, Type = 1, Size = 2, Date = 3, Status = 4 };

// What the window tells its owner. The window calls these on the interface
// thread, from its message loop or from ProcessPendingInput.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void ButtonClicked(Control button) = 0;
  // A close request (the Close button's handler, the window's own close
  // command, or RequestClose). Returns whether the close may go ahead.
  virtual bool CloseQuery() = 0;
};

class MainWindow {
 public:
  virtual ~MainWindow() = default;

  virtual void SetEvents(WindowEvents* events) = 0;

  // Texts of labels and text boxes.
  virtual void SetText(Control control, const std::string& text) = 0;
  virtual std::string Text(Control control) const = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;
  virtual bool IsEnabled(Control control) const = 0;

  // The file list. Rows keep the order in which they were added.
  virtual void ClearRows() = 0;
  virtual void AddRow(bool checked, const std::string& name, const std::string& type, const std::string& size,
                      const std::string& date, const std::string& status) = 0;
  virtual int RowCount() const = 0;
  virtual bool IsRowChecked(int row) const = 0;
  virtual std::string RowText(int row, FileColumn column) const = 0;
  virtual void SetRowText(int row, FileColumn column, const std::string& text) = 0;

  // Progress bars. A position outside the range shows clamped to it.
  virtual void SetProgressRange(ProgressBar bar, int min, int max) = 0;
  virtual void SetProgressPosition(ProgressBar bar, int position) = 0;
  virtual int ProgressPosition(ProgressBar bar) const = 0;
  virtual int ProgressMax(ProgressBar bar) const = 0;
  // Shows the bar's current state now (the toolkit may coalesce repaints that
  // would draw the same pixels, or come within one frame of the last).
  virtual void RepaintProgress(ProgressBar bar) = 0;

  // The status line: panel 0, panel 1, and the status message.
  virtual void SetStatusPanel(int panel, const std::string& text) = 0;
  virtual std::string StatusPanel(int panel) const = 0;
  virtual void SetStatusMessage(const std::string& text) = 0;
  virtual std::string StatusMessage() const = 0;

  // Boxes. Confirm shows the platform's confirmation box (title "Confirm",
  // question icon, Yes and No) and gives true for Yes.
  virtual bool Confirm(const std::string& question) = 0;
  virtual void Information(const std::string& text) = 0;
  virtual void ShowError(const std::string& title, const std::string& message) = 0;

  // Processing pending input: everything that is pending, or at most one event.
  virtual void ProcessAllPendingInput() = 0;
  virtual void ProcessOnePendingInput() = 0;

  // Asks the window to close, as its own close command does: the owner's
  // CloseQuery decides.
  virtual void RequestClose() = 0;
};

}  // namespace platform
