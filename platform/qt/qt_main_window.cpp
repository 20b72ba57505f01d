#include "platform/qt/qt_main_window.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "platform/encoding.h"
#include "platform/qt/decoration.h"

namespace platform {
namespace {

constexpr int kClientWidth = 754;
constexpr int kClientHeight = 390;
// Bound on the dispatcher passes of one ProcessAllPendingInput, so a source
// that is always ready (a zero-timeout timer) cannot keep the caller here.
constexpr int kMaxPasses = 8;

QString ToQt(const std::string& gbk_text) { return QString::fromStdString(GbkToUtf8(gbk_text)); }
std::string FromQt(const QString& text) { return Utf8ToGbk(text.toStdString()); }

// Only the name (column 0) is edited in place.
class NameOnlyDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (index.column() != 0) return nullptr;
    return QStyledItemDelegate::createEditor(parent, option, index);
  }
};

QLabel* MakeLabel(QWidget* parent, const char* name, const char* utf8_text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(utf8_text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(left, top);
  label->adjustSize();
  return label;
}

void MakeRed(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
  widget->setPalette(palette);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* utf8_caption, const QRect& geometry) {
  auto* button = new QPushButton(QString::fromUtf8(utf8_caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  return button;
}

QProgressBar* MakeBar(QWidget* parent, const char* name, const QRect& geometry) {
  auto* bar = new QProgressBar(parent);
  bar->setObjectName(QString::fromLatin1(name));
  bar->setGeometry(geometry);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  return bar;
}

QLabel* MakePanel(QWidget* parent, const char* name, const QRect& geometry) {
  auto* panel = new QLabel(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setGeometry(geometry);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(1);
  panel->setIndent(3);
  panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return panel;
}

}  // namespace

QtMainWindow::QtMainWindow(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8("Korvane软件升级..."));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight);
  setSizeGripEnabled(false);

  // SimSun's stand-in: a Song face, 12-pixel characters.
  QFont song;
  song.setFamilies({QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Sans CJK SC"),
                    QStringLiteral("Noto Serif CJK SC")});
  song.setPixelSize(12);
  song.setWeight(QFont::Normal);
  setFont(song);

  BuildControls();

  draw_timer_.setSingleShot(true);
  draw_timer_.setTimerType(Qt::PreciseTimer);
  connect(&draw_timer_, &QTimer::timeout, this, [this] {
    Guarded("drawing the window", [this] {
      if (pending_) Flush();
    });
  });
}

QtMainWindow::~QtMainWindow() = default;

void QtMainWindow::BuildControls() {
  auto* panel1 = new QFrame(this);
  panel1->setObjectName(QStringLiteral("Panel1"));
  panel1->setGeometry(0, 0, 113, 371);
  panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel1->setLineWidth(1);
  auto* image1 = new QLabel(panel1);
  image1->setObjectName(QStringLiteral("Image1"));
  image1->setGeometry(1, 1, 111, 369);
  image1->setScaledContents(true);
  image1->setPixmap(QPixmap::fromImage(MakeDecoration()));

  MakeLabel(this, "Label4", "网络上的升级列表信息文件", 120, 7);
  MakeRed(MakeLabel(this, "Label5", "（此地址可以修改）", 276, 7));

  edit2_ = new QLineEdit(this);
  edit2_->setObjectName(QStringLiteral("Edit2"));
  edit2_->setGeometry(120, 21, 575, 20);

  MakeLabel(this, "Label1", "升级产品名称目录：", 120, 52);
  current_dir_edit_ = new QLineEdit(this);
  current_dir_edit_->setObjectName(QStringLiteral("CurrentDirEdit"));
  current_dir_edit_->setGeometry(232, 48, 169, 20);
  current_dir_edit_->setReadOnly(true);

  list_view1_ = new QTreeWidget(this);
  list_view1_->setObjectName(QStringLiteral("ListView1"));
  list_view1_->setGeometry(120, 73, 576, 160);
  list_view1_->setColumnCount(5);
  list_view1_->setHeaderLabels({QString::fromUtf8("文件名"), QString::fromUtf8("文件夹"), QString::fromUtf8("大小"),
                                QString::fromUtf8("日期"), QString::fromUtf8("状态")});
  list_view1_->setRootIsDecorated(false);
  list_view1_->setItemsExpandable(false);
  list_view1_->setUniformRowHeights(true);
  list_view1_->setSortingEnabled(false);
  list_view1_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_view1_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_view1_->setAllColumnsShowFocus(true);
  list_view1_->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  list_view1_->setItemDelegate(new NameOnlyDelegate(list_view1_));
  QHeaderView* header = list_view1_->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  const int widths[] = {150, 80, 120, 0, 60};
  for (int column = 0; column < 5; ++column) {
    if (column == 3) {
      header->setSectionResizeMode(column, QHeaderView::Stretch);
    } else {
      header->setSectionResizeMode(column, QHeaderView::Interactive);
      header->resizeSection(column, widths[column]);
    }
  }

  MakeLabel(this, "Label2", "当前下载进度：", 120, 241);
  bars_[0].widget = MakeBar(this, "ProgressBar1", QRect(120, 256, 577, 17));
  MakeLabel(this, "Label3", "总体下载进度：", 120, 273);
  bars_[1].widget = MakeBar(this, "ProgressBar2", QRect(120, 289, 575, 16));
  for (BarState& bar : bars_) bar.widget->installEventFilter(this);

  button1_ = MakeButton(this, "Button1", "检测(&C)", QRect(120, 323, 82, 25));
  MakeLabel(this, "Label7", "软件本地版本", 216, 332);
  QFont large = font();
  large.setPixelSize(16);
  label8_ = MakeLabel(this, "Label8", "--", 304, 329);
  label10_ = MakeLabel(this, "Label10", "--", 408, 329);
  for (QLabel* label : {label8_, label10_}) {
    label->setFont(large);
    label->adjustSize();
    MakeRed(label);
  }
  MakeLabel(this, "Label9", "升级到", 352, 332);
  button2_ = MakeButton(this, "Button2", "下载更新(&D)", QRect(448, 323, 105, 25));
  button2_->setEnabled(false);
  button3_ = MakeButton(this, "Button3", "关闭(&X)", QRect(616, 322, 82, 25));

  auto* status_bar = new QFrame(this);
  status_bar->setObjectName(QStringLiteral("StatusBar1"));
  status_bar->setGeometry(0, 371, kClientWidth, 19);
  texts_[kPanel0].widget = MakePanel(status_bar, "StatusBar1Panel0", QRect(0, 0, 200, 19));
  texts_[kPanel1].widget = MakePanel(status_bar, "StatusBar1Panel1", QRect(200, 0, kClientWidth - 200, 19));
  // The status message sits at the right end of panel 1, clear of the
  // transfer texts on its left.
  auto* message = new QLabel(status_bar);
  message->setObjectName(QStringLiteral("StatusBar1Message"));
  message->setGeometry(202 + 200, 1, kClientWidth - 202 - 200 - 6, 17);
  message->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  texts_[kMessage].widget = message;

  const std::pair<Control, QPushButton*> buttons[] = {
      {Control::Button1, button1_}, {Control::Button2, button2_}, {Control::Button3, button3_}};
  for (const auto& [control, button] : buttons) {
    connect(button, &QPushButton::clicked, this, [this, control = control] {
      Guarded("handling a button", [&] {
        if (events_ != nullptr) events_->ButtonClicked(control);
      });
    });
  }

  QWidget* order[] = {button1_, button2_, button3_, list_view1_, edit2_, current_dir_edit_};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

QWidget* QtMainWindow::WidgetOf(Control control) const {
  switch (control) {
    case Control::Edit2:
      return edit2_;
    case Control::CurrentDirEdit:
      return current_dir_edit_;
    case Control::Label8:
      return label8_;
    case Control::Label10:
      return label10_;
    case Control::Button1:
      return button1_;
    case Control::Button2:
      return button2_;
    case Control::Button3:
      return button3_;
  }
  throw std::invalid_argument("unknown control");
}

void QtMainWindow::SetText(Control control, const std::string& text) {
  QWidget* widget = WidgetOf(control);
  const QString qt_text = ToQt(text);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(qt_text);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(qt_text);
    label->adjustSize();
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(qt_text);
  }
}

std::string QtMainWindow::Text(Control control) const {
  QWidget* widget = WidgetOf(control);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return FromQt(edit->text());
  if (auto* label = qobject_cast<QLabel*>(widget)) return FromQt(label->text());
  if (auto* button = qobject_cast<QPushButton*>(widget)) return FromQt(button->text());
  return {};
}

void QtMainWindow::SetEnabled(Control control, bool enabled) { WidgetOf(control)->setEnabled(enabled); }

bool QtMainWindow::IsEnabled(Control control) const { return WidgetOf(control)->isEnabled(); }

void QtMainWindow::ClearRows() { list_view1_->clear(); }

void QtMainWindow::AddRow(bool checked, const std::string& name, const std::string& type, const std::string& size,
                          const std::string& date, const std::string& status) {
  auto* item = new QTreeWidgetItem(QStringList{ToQt(name), ToQt(type), ToQt(size), ToQt(date), ToQt(status)});
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsEditable |
                 Qt::ItemNeverHasChildren);
  item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
  list_view1_->addTopLevelItem(item);
}

int QtMainWindow::RowCount() const { return list_view1_->topLevelItemCount(); }

QTreeWidgetItem* QtMainWindow::Item(int row) const {
  QTreeWidgetItem* item = row < 0 ? nullptr : list_view1_->topLevelItem(row);
  if (item == nullptr) throw std::out_of_range("List index out of bounds (" + std::to_string(row) + ")");
  return item;
}

bool QtMainWindow::IsRowChecked(int row) const { return Item(row)->checkState(0) == Qt::Checked; }

std::string QtMainWindow::RowText(int row, FileColumn column) const {
  return FromQt(Item(row)->text(static_cast<int>(column)));
}

void QtMainWindow::SetRowText(int row, FileColumn column, const std::string& text) {
  Item(row)->setText(static_cast<int>(column), ToQt(text));
}

void QtMainWindow::SetProgressRange(ProgressBar bar, int min, int max) {
  BarState& state = bars_[Index(bar)];
  state.min = min;
  state.max = std::max(min, max);
  state.position = std::clamp(state.position, state.min, state.max);
  pending_ = true;
  DrawSoon();
}

void QtMainWindow::SetProgressPosition(ProgressBar bar, int position) {
  BarState& state = bars_[Index(bar)];
  const int clamped = std::clamp(position, state.min, state.max);
  if (clamped == state.position) return;
  state.position = clamped;
  pending_ = true;
  DrawSoon();
}

void QtMainWindow::RepaintProgress(ProgressBar bar) {
  bars_[Index(bar)].repaint_wanted = true;
  pending_ = true;
  DrawSoon();
}

void QtMainWindow::SetStatusPanel(int panel, const std::string& text) {
  if (panel < 0 || panel > 1) throw std::out_of_range("List index out of bounds (" + std::to_string(panel) + ")");
  SetText(panel == 0 ? kPanel0 : kPanel1, text);
}

std::string QtMainWindow::StatusPanel(int panel) const {
  if (panel < 0 || panel > 1) throw std::out_of_range("List index out of bounds (" + std::to_string(panel) + ")");
  return texts_[panel].wanted;
}

void QtMainWindow::SetStatusMessage(const std::string& text) { SetText(kMessage, text); }

void QtMainWindow::SetText(TextSlot slot, const std::string& text) {
  TextState& state = texts_[slot];
  if (state.wanted == text) return;
  state.wanted = text;
  pending_ = true;
  DrawSoon();
}

void QtMainWindow::DrawSoon() {
  const Clock::time_point now = Clock::now();
  const auto since = now - last_draw_;
  if (since >= kFrame) {
    Flush();
    return;
  }
  if (!draw_timer_.isActive()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(kFrame - since);
    draw_timer_.start(static_cast<int>(left.count()));
  }
}

void QtMainWindow::Flush() {
  draw_timer_.stop();
  pending_ = false;
  last_draw_ = Clock::now();
  for (BarState& bar : bars_) DrawBar(bar);
  for (TextState& text : texts_) {
    if (text.shown == text.wanted) continue;
    text.shown = text.wanted;
    text.widget->setText(ToQt(text.wanted));  // painted by the next pass of the event loop
  }
}

void QtMainWindow::DrawBar(BarState& bar) {
  QProgressBar* widget = bar.widget;
  // An empty range shows an empty bar (Qt would animate 0..0 as busy).
  const bool empty_range = bar.max <= bar.min;
  const int widget_min = empty_range ? 0 : bar.min;
  const int widget_max = empty_range ? 1 : bar.max;
  const int widget_value = empty_range ? 0 : bar.position;

  QStyleOptionProgressBar option;
  option.initFrom(widget);
  option.minimum = widget_min;
  option.maximum = widget_max;
  option.progress = widget_value;
  option.textVisible = false;
  option.state |= QStyle::State_Horizontal;
  const int width = widget->style()->subElementRect(QStyle::SE_ProgressBarContents, &option, widget).width();
  const int fill = empty_range ? 0
                               : static_cast<int>((static_cast<int64_t>(bar.position) - bar.min) * width /
                                                  (static_cast<int64_t>(bar.max) - bar.min));
  const bool full = !empty_range && bar.position == bar.max;
  const bool pixels_change = fill != bar.shown_fill || full != bar.shown_full;
  const bool repaint_wanted = bar.repaint_wanted;
  bar.repaint_wanted = false;

  const int paints_before = bar.paints;
  if (widget->minimum() != widget_min || widget->maximum() != widget_max) widget->setRange(widget_min, widget_max);
  widget->setValue(widget_value);  // Qt repaints at once when it judges the step large enough
  if (!pixels_change) return;
  bar.shown_fill = fill;
  bar.shown_full = full;
  if (bar.paints != paints_before) return;
  if (repaint_wanted) {
    widget->repaint();
  } else {
    widget->update();
  }
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Paint) {
    for (BarState& bar : bars_) {
      if (watched == bar.widget) ++bar.paints;
    }
  }
  return QDialog::eventFilter(watched, event);
}

bool QtMainWindow::Confirm(const std::string& question) {
  Flush();
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), ToQt(question),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.button(QMessageBox::Yes)->setText(QStringLiteral("&Yes"));
  box.button(QMessageBox::No)->setText(QStringLiteral("&No"));
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::No);
  box.setFont(font());
  return box.exec() == QMessageBox::Yes;
}

void QtMainWindow::Information(const std::string& title, const std::string& text) {
  Flush();
  QMessageBox box(QMessageBox::Information, ToQt(title), ToQt(text), QMessageBox::Ok, this);
  box.setFont(font());
  box.exec();
}

void QtMainWindow::ShowError(const std::string& title, const std::string& message) {
  Flush();
  QMessageBox box(QMessageBox::Critical, ToQt(title), ToQt(message), QMessageBox::Ok, this);
  box.setFont(font());
  box.exec();
}

void QtMainWindow::ProcessAllPendingInput() {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (dispatcher == nullptr) return;
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    if (!dispatcher->processEvents(QEventLoop::AllEvents)) break;
  }
}

void QtMainWindow::ProcessOnePendingInput() {
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
    dispatcher->processEvents(QEventLoop::AllEvents);
  }
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  // An owner that fails to answer does not keep the window open.
  bool go_ahead = true;
  Guarded("closing the window", [&] { go_ahead = events_ == nullptr || events_->CloseQuery(); });
  if (go_ahead) {
    closed_ = true;
    event->accept();
  } else {
    event->ignore();
  }
}

void QtMainWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_before_) return;
  shown_before_ = true;
  Guarded("drawing the window", [this] { Flush(); });
  FocusFirstEnabled();
  std::vector<std::function<void()>> due;
  due.swap(when_shown_);
  for (std::function<void()>& operation : due) RunSoon(std::move(operation));
}

void QtMainWindow::RunWhenShown(std::function<void()> operation) {
  if (shown_before_) {
    RunSoon(std::move(operation));
  } else {
    when_shown_.push_back(std::move(operation));
  }
}

void QtMainWindow::RunSoon(std::function<void()> operation) {
  QTimer::singleShot(0, this, [this, operation = std::move(operation)] {
    Guarded("running a handler", [&] {
      if (!closed_) operation();
    });
  });
}

void QtMainWindow::Guarded(const char* where, const std::function<void()>& work) noexcept {
  try {
    work();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "updater: error while %s: %s\n", where, error.what());
  } catch (...) {
    std::fprintf(stderr, "updater: unknown error while %s\n", where);
  }
}

void QtMainWindow::FocusFirstEnabled() {
  for (QWidget* widget : {static_cast<QWidget*>(button1_), static_cast<QWidget*>(button2_),
                          static_cast<QWidget*>(button3_), static_cast<QWidget*>(list_view1_),
                          static_cast<QWidget*>(edit2_), static_cast<QWidget*>(current_dir_edit_)}) {
    if (widget->isEnabled()) {
      widget->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}

}  // namespace platform
