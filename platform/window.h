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
// thread, from its message loop or from inside ProcessAllPendingInput and
// ProcessOnePendingInput.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  // An enabled button was pressed (click, accelerator or key).
  virtual void ButtonClicked(Control button) = 0;
  // A close request (RequestClose or the window's own close command).
  // Returns whether the close may go ahead.
  virtual bool CloseQuery() = 0;
};

class MainWindow {
 public:
  virtual ~MainWindow() = default;

  // The owner that hears the window's events; nullptr detaches it.
  virtual void SetEvents(WindowEvents* events) = 0;

  // Texts of labels, text boxes and button captions.
  virtual void SetText(Control control, const std::string& text) = 0;
  virtual std::string Text(Control control) const = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;
  virtual bool IsEnabled(Control control) const = 0;

  // The file list. Rows keep the order in which they were added; the user may
  // tick them and edit their names at any time.
  virtual void ClearRows() = 0;
  virtual void AddRow(bool checked, const std::string& name, const std::string& type, const std::string& size,
                      const std::string& date, const std::string& status) = 0;
  virtual int RowCount() const = 0;
  virtual bool IsRowChecked(int row) const = 0;
  virtual std::string RowText(int row, FileColumn column) const = 0;
  virtual void SetRowText(int row, FileColumn column, const std::string& text) = 0;

  // Progress bars. A maximum below the minimum is taken as the minimum. The
  // position is kept within the range (also when the range changes), so a
  // position beyond the maximum shows the bar full and reads back as the
  // maximum.
  virtual void SetProgressRange(ProgressBar bar, int min, int max) = 0;
  virtual void SetProgressPosition(ProgressBar bar, int position) = 0;
  virtual int ProgressPosition(ProgressBar bar) const = 0;
  virtual int ProgressMax(ProgressBar bar) const = 0;
  // Shows the bar's current state now. The toolkit may coalesce repaints that
  // would draw the same pixels or come within one frame of the last one, as
  // long as the latest state is on screen within a frame.
  virtual void RepaintProgress(ProgressBar bar) = 0;

  // The status line: panel 0, panel 1, and the status message.
  virtual void SetStatusPanel(int panel, const std::string& text) = 0;
  virtual std::string StatusPanel(int panel) const = 0;
  virtual void SetStatusMessage(const std::string& text) = 0;
  virtual std::string StatusMessage() const = 0;

  // Modal boxes. Confirm shows the platform's confirmation box (title
  // "Confirm", question icon, buttons "&Yes" and "&No") and gives true for
  // Yes. Information and ShowError show one OK button.
  virtual bool Confirm(const std::string& question) = 0;
  virtual void Information(const std::string& title, const std::string& text) = 0;
  virtual void ShowError(const std::string& title, const std::string& message) = 0;

  // Lets the window handle its pending input and repaint: everything that is
  // pending, or at most one event's worth. Both return at once when nothing
  // is pending.
  virtual void ProcessAllPendingInput() = 0;
  virtual void ProcessOnePendingInput() = 0;

  // Asks the window to close, as its own close command does: the owner's
  // CloseQuery decides. A window that has closed stays closed; asking again
  // asks the owner again.
  virtual void RequestClose() = 0;
  // True once a close went ahead.
  virtual bool IsClosed() const = 0;

  // Puts the window on screen (centred, focus on the first enabled control).
  virtual void Show() = 0;
};

}  // namespace platform
