// The real window on Qt's offscreen platform: controls, texts, keys, rows,
// boxes and closing.
#include "platform/qt/qt_main_window.h"

#include <gtest/gtest.h>

#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <string>

#include "platform/encoding.h"
#include "platform/qt/decoration.h"
#include "qt_test_support.h"

namespace {

using platform::Control;
using platform::FileColumn;
using platform::ProgressBar;

class QtWindowTest : public ::testing::Test {
 protected:
  QtWindowTest() { window_.SetEvents(&events_); }
  void Show() {
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  }
  template <typename T>
  T* Find(const char* name) {
    T* widget = window_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QString FocusName() const {
    QWidget* focus = QApplication::focusWidget();
    return focus == nullptr ? QString() : focus->objectName();
  }

  QApplication& app_ = qt_test::App();  // before any widget
  qt_test::RecordingEvents events_;
  platform::QtMainWindow window_;
};

struct Placed {
  const char* name;
  int left, top, width, height;  // width 0: the control sizes itself to its text
  const char* text;               // nullptr: no text to compare
};

TEST_F(QtWindowTest, EveryControlIsAtItsPlaceWithItsText) {
  const Placed controls[] = {
      {"Panel1", 0, 0, 113, 371, nullptr},
      {"Image1", 1, 1, 111, 369, nullptr},
      {"Label4", 120, 7, 0, 0, "网络上的升级列表信息文件"},
      {"Label5", 276, 7, 0, 0, "（此地址可以修改）"},
      {"Edit2", 120, 21, 575, 20, ""},
      {"Label1", 120, 52, 0, 0, "升级产品名称目录："},
      {"CurrentDirEdit", 232, 48, 169, 20, ""},
      {"ListView1", 120, 73, 576, 160, nullptr},
      {"Label2", 120, 241, 0, 0, "当前下载进度："},
      {"ProgressBar1", 120, 256, 577, 17, nullptr},
      {"Label3", 120, 273, 0, 0, "总体下载进度："},
      {"ProgressBar2", 120, 289, 575, 16, nullptr},
      {"Button1", 120, 323, 82, 25, "检测(&C)"},
      {"Label7", 216, 332, 0, 0, "软件本地版本"},
      {"Label8", 304, 329, 0, 0, "--"},
      {"Label9", 352, 332, 0, 0, "升级到"},
      {"Label10", 408, 329, 0, 0, "--"},
      {"Button2", 448, 323, 105, 25, "下载更新(&D)"},
      {"Button3", 616, 322, 82, 25, "关闭(&X)"},
      {"StatusBar1", 0, 371, 754, 19, nullptr},
      {"StatusBar1Panel0", 0, 371, 200, 19, nullptr},
      {"StatusBar1Panel1", 200, 371, 554, 19, nullptr},
  };
  Show();
  for (const Placed& c : controls) {
    QWidget* widget = Find<QWidget>(c.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_TRUE(widget->isVisible()) << c.name;
    const QPoint at = widget->mapTo(&window_, QPoint(0, 0));
    EXPECT_EQ(at, QPoint(c.left, c.top)) << c.name;
    if (c.width != 0) {
      EXPECT_EQ(widget->size(), QSize(c.width, c.height)) << c.name;
    }
    if (c.text == nullptr) continue;
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) text = button->text();
    EXPECT_EQ(text.toStdString(), c.text) << c.name;
    if (c.width == 0) {
      EXPECT_GE(widget->width(), widget->fontMetrics().horizontalAdvance(text)) << c.name << " shows all its text";
    }
  }
}

TEST_F(QtWindowTest, TheWindowIsAFixedDialogCentredWithItsCaption) {
  Show();
  EXPECT_EQ(window_.windowTitle().toStdString(), "Korvane软件升级...");
  EXPECT_EQ(window_.size(), QSize(754, 390));
  EXPECT_EQ(window_.minimumSize(), window_.maximumSize());
  EXPECT_FALSE(window_.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window_.windowFlags() & Qt::WindowMaximizeButtonHint);
  const QRect screen = window_.screen()->availableGeometry();
  const QPoint offset = window_.frameGeometry().center() - screen.center();
  EXPECT_LE(offset.manhattanLength(), 4) << "centred on the desktop";
  EXPECT_EQ(window_.grab().size(), QSize(754, 390));
}

TEST_F(QtWindowTest, FontsAndColours) {
  const QFont font = window_.font();
  EXPECT_EQ(font.families().value(0).toStdString(), "AR PL UMing CN");
  EXPECT_EQ(font.pixelSize(), 12);
  EXPECT_EQ(Find<QLabel>("Label4")->font().pixelSize(), 12);
  for (const char* name : {"Label8", "Label10"}) {
    EXPECT_EQ(Find<QLabel>(name)->font().pixelSize(), 16) << name;
  }
  for (const char* name : {"Label5", "Label8", "Label10"}) {
    EXPECT_EQ(Find<QLabel>(name)->palette().color(QPalette::WindowText), QColor(255, 0, 0)) << name;
  }
  EXPECT_NE(Find<QLabel>("Label4")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(Find<QLabel>("Image1")->pixmap().size(), QSize(115, 229));
  EXPECT_EQ(platform::MakeDecoration().format(), QImage::Format_RGB888);
  EXPECT_TRUE(Find<QLabel>("Image1")->hasScaledContents());
  EXPECT_EQ(Find<QFrame>("Panel1")->frameShadow(), QFrame::Raised);
  EXPECT_EQ(Find<QFrame>("Panel1")->lineWidth(), 1);
}

TEST_F(QtWindowTest, StartStateThroughTheInterface) {
  EXPECT_TRUE(window_.IsEnabled(Control::Button1));
  EXPECT_FALSE(window_.IsEnabled(Control::Button2));
  EXPECT_TRUE(window_.IsEnabled(Control::Button3));
  EXPECT_TRUE(window_.IsEnabled(Control::Edit2));
  EXPECT_TRUE(Find<QLineEdit>("CurrentDirEdit")->isReadOnly());
  EXPECT_FALSE(Find<QLineEdit>("Edit2")->isReadOnly());
  EXPECT_EQ(window_.Text(Control::Label8), "--");
  EXPECT_EQ(window_.Text(Control::Label10), "--");
  EXPECT_EQ(window_.RowCount(), 0);
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 0);
  EXPECT_EQ(window_.ProgressMax(ProgressBar::ProgressBar1), 100);
  EXPECT_EQ(window_.ProgressMax(ProgressBar::ProgressBar2), 100);
  for (const char* name : {"ProgressBar1", "ProgressBar2"}) {
    EXPECT_FALSE(Find<QProgressBar>(name)->isTextVisible()) << name;
  }
  EXPECT_EQ(window_.StatusPanel(0), "");
  EXPECT_EQ(window_.StatusPanel(1), "");
  EXPECT_EQ(window_.StatusMessage(), "");
}

TEST_F(QtWindowTest, ChineseTextsCrossTheInterfaceAsGbk) {
  struct Caption {
    Control control;
    const char* utf8;
  };
  for (const Caption& c : {Caption{Control::Button1, "检测(&C)"}, Caption{Control::Button2, "下载更新(&D)"},
                           Caption{Control::Button3, "关闭(&X)"}}) {
    EXPECT_EQ(window_.Text(c.control), gbk(c.utf8));
    EXPECT_EQ(platform::GbkToUtf8(window_.Text(c.control)), c.utf8);
  }
  window_.SetText(Control::Edit2, "ftp://" + gbk("升级服务器"));
  EXPECT_EQ(Find<QLineEdit>("Edit2")->text().toStdString(), "ftp://升级服务器");
  EXPECT_EQ(window_.Text(Control::Edit2), "ftp://" + gbk("升级服务器"));
  window_.SetText(Control::Label8, "12");
  EXPECT_EQ(Find<QLabel>("Label8")->text().toStdString(), "12");

  auto* header = Find<QTreeWidget>("ListView1")->headerItem();
  const char* captions[] = {"文件名", "文件夹", "大小", "日期", "状态"};
  for (int column = 0; column < 5; ++column) EXPECT_EQ(header->text(column).toStdString(), captions[column]);
}

TEST_F(QtWindowTest, TheFileListIsACheckListInReportViewThatNeverSorts) {
  auto* list = Find<QTreeWidget>("ListView1");
  EXPECT_FALSE(list->rootIsDecorated());
  EXPECT_FALSE(list->isSortingEnabled());
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(list->columnCount(), 5);
  const int widths[] = {150, 80, 120, -1, 60};
  for (int column = 0; column < 5; ++column) {
    if (widths[column] > 0) {
      EXPECT_EQ(list->header()->sectionSize(column), widths[column]) << column;
    }
  }
  EXPECT_EQ(list->header()->sectionResizeMode(3), QHeaderView::Stretch);

  window_.AddRow(true, gbk("中文报表.dll"), "BIN", "1024", "2024-01-02", gbk("未下载"));
  window_.AddRow(false, "a.txt", "DOC", "1", "d", gbk("未下载"));
  ASSERT_EQ(window_.RowCount(), 2);
  EXPECT_EQ(list->topLevelItem(0)->text(0).toStdString(), "中文报表.dll");
  EXPECT_EQ(list->topLevelItem(0)->text(4).toStdString(), "未下载");
  EXPECT_EQ(window_.RowText(0, FileColumn::Name), gbk("中文报表.dll"));
  EXPECT_EQ(window_.RowText(0, FileColumn::Size), "1024");
  EXPECT_TRUE(window_.IsRowChecked(0));
  EXPECT_FALSE(window_.IsRowChecked(1));
  EXPECT_EQ(window_.RowText(1, FileColumn::Name), "a.txt") << "rows keep the order they were added in";

  list->topLevelItem(1)->setCheckState(0, Qt::Checked);  // as a click on the box does
  EXPECT_TRUE(window_.IsRowChecked(1));
  window_.SetRowText(0, FileColumn::Status, gbk("完成"));
  EXPECT_EQ(list->topLevelItem(0)->text(4).toStdString(), "完成");
  EXPECT_THROW(window_.RowText(2, FileColumn::Name), std::out_of_range);
  window_.ClearRows();
  EXPECT_EQ(window_.RowCount(), 0);
}

TEST_F(QtWindowTest, OnlyTheNameIsEditedInPlaceAndReadBack) {
  Show();
  window_.AddRow(true, "old.dll", "BIN", "1", "d", "s");
  auto* list = Find<QTreeWidget>("ListView1");
  QTreeWidgetItem* item = list->topLevelItem(0);

  list->setCurrentItem(item, 1);
  list->editItem(item, 1);
  EXPECT_EQ(list->viewport()->findChild<QLineEdit*>(), nullptr) << "the type is not editable";

  list->setFocus();
  list->setCurrentItem(item, 0);
  QTest::keyClick(list, Qt::Key_F2);
  auto* editor = list->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->setText(QString::fromUtf8("新名.dll"));  // typed as an input method would
  QTest::keyClick(editor, Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_.RowText(0, FileColumn::Name) == gbk("新名.dll"); }, 10000));
  EXPECT_EQ(window_.RowText(0, FileColumn::Type), "BIN");
}

TEST_F(QtWindowTest, AcceleratorsPressTheirButtonsWhenEnabled) {
  Show();
  // An accelerator animates the press, so its click comes a moment later.
  const auto press = [&](Qt::Key key) {
    const size_t before = events_.clicks.size();
    QTest::keyClick(&window_, key, Qt::AltModifier);
    return QTest::qWaitFor([&] { return events_.clicks.size() > before; }, 5000);
  };
  EXPECT_TRUE(press(Qt::Key_C));
  QTest::keyClick(&window_, Qt::Key_D, Qt::AltModifier);  // Download is disabled: no click
  EXPECT_TRUE(press(Qt::Key_X));
  window_.SetEnabled(Control::Button2, true);
  EXPECT_TRUE(press(Qt::Key_D));
  EXPECT_EQ(events_.clicks, (std::vector<Control>{Control::Button1, Control::Button3, Control::Button2}));
}

TEST_F(QtWindowTest, FocusStartsOnTheFirstEnabledControlAndTabsInOrderSkippingDisabledOnes) {
  window_.AddRow(true, "a", "b", "c", "d", "e");
  Show();
  EXPECT_EQ(FocusName(), "Button1");
  const char* order[] = {"Button3", "ListView1", "Edit2", "CurrentDirEdit", "Button1"};
  for (const char* name : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(FocusName().toStdString(), name);
  }
}

TEST_F(QtWindowTest, FocusStartsOnTheCloseButtonWhenCheckAndDownloadAreDisabled) {
  window_.SetEnabled(Control::Button1, false);
  Show();
  EXPECT_EQ(FocusName(), "Button3");
}

TEST_F(QtWindowTest, RunWhenShownRunsFromTheLoopOnceTheWindowIsOnScreen) {
  std::vector<bool> visible_when_run;
  window_.RunWhenShown([&] { visible_when_run.push_back(window_.isVisible()); });
  QCoreApplication::processEvents();
  EXPECT_TRUE(visible_when_run.empty()) << "not on screen yet";
  window_.show();
  EXPECT_TRUE(visible_when_run.empty()) << "from the loop, not from inside the show";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !visible_when_run.empty(); }, 10000));
  EXPECT_EQ(visible_when_run, std::vector<bool>{true});
  window_.RunWhenShown([&] { visible_when_run.push_back(window_.isVisible()); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return visible_when_run.size() == 2; }, 10000));
}

TEST_F(QtWindowTest, TheCloseCommandGoesThroughCloseQuery) {
  Show();
  events_.allow_close = false;
  QTest::keyClick(&window_, Qt::Key_Escape);  // Escape is no close command
  window_.RequestClose();
  EXPECT_TRUE(window_.isVisible());
  EXPECT_FALSE(window_.IsClosed());
  events_.allow_close = true;
  window_.close();  // what the title bar's X and Alt+F4 do
  EXPECT_FALSE(window_.isVisible());
  EXPECT_TRUE(window_.IsClosed());
  EXPECT_EQ(events_.close_queries, 2);
}

TEST_F(QtWindowTest, TheBarKeepsItsPositionInRangeAndShowsAnEmptyRangeEmpty) {
  Show();
  auto* bar = Find<QProgressBar>("ProgressBar1");
  window_.SetProgressRange(ProgressBar::ProgressBar1, 0, 1000);
  window_.SetProgressPosition(ProgressBar::ProgressBar1, 5000);
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 1000);
  window_.Flush();
  EXPECT_EQ(bar->value(), bar->maximum());

  window_.SetProgressRange(ProgressBar::ProgressBar1, 0, 0);
  window_.SetProgressPosition(ProgressBar::ProgressBar1, 8192);
  window_.Flush();
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 0);
  EXPECT_LT(bar->minimum(), bar->maximum()) << "not Qt's busy animation";
  EXPECT_EQ(bar->value(), bar->minimum());

  window_.SetProgressRange(ProgressBar::ProgressBar1, 0, -1);
  EXPECT_EQ(window_.ProgressMax(ProgressBar::ProgressBar1), 0);
}

// Answers the next modal box with the given button, once it is up.
void AnswerNextBox(QMessageBox::StandardButton answer, QString* title, QString* text, QMessageBox::Icon* icon,
                   QStringList* buttons) {
  QTimer::singleShot(10, [=] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      AnswerNextBox(answer, title, text, icon, buttons);
      return;
    }
    *title = box->windowTitle();
    *text = box->text();
    *icon = box->icon();
    for (QAbstractButton* button : box->buttons()) buttons->append(button->text());
    box->button(answer)->click();
  });
}

TEST_F(QtWindowTest, ConfirmIsTheQuestionBoxWithYesAndNo) {
  Show();
  QString title, text;
  QMessageBox::Icon icon{};
  QStringList buttons;
  AnswerNextBox(QMessageBox::Yes, &title, &text, &icon, &buttons);
  EXPECT_TRUE(window_.Confirm(gbk("断开当前连接吗？")));
  EXPECT_EQ(title.toStdString(), "Confirm");
  EXPECT_EQ(text.toStdString(), "断开当前连接吗？");
  EXPECT_EQ(icon, QMessageBox::Question);
  buttons.sort();
  EXPECT_EQ(buttons, (QStringList{"&No", "&Yes"}));

  buttons.clear();
  AnswerNextBox(QMessageBox::No, &title, &text, &icon, &buttons);
  EXPECT_FALSE(window_.Confirm("again?"));
}

TEST_F(QtWindowTest, InformationAndErrorBoxesHaveOneOkButton) {
  Show();
  QString title, text;
  QMessageBox::Icon icon{};
  QStringList buttons;
  AnswerNextBox(QMessageBox::Ok, &title, &text, &icon, &buttons);
  window_.Information("updater", gbk("正在传送文件，请稍候！"));
  EXPECT_EQ(title.toStdString(), "updater");
  EXPECT_EQ(text.toStdString(), "正在传送文件，请稍候！");
  EXPECT_EQ(buttons.size(), 1);

  buttons.clear();
  AnswerNextBox(QMessageBox::Ok, &title, &text, &icon, &buttons);
  window_.ShowError("updater", "Unable to write to /x/updateset.inf.");
  EXPECT_EQ(title.toStdString(), "updater");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons.size(), 1);
}

}  // namespace
