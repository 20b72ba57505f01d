// The headless window's script: what tests rely on to act in the middle of a
// transfer.
#include "platform/headless/headless_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::Control;
using platform::FileColumn;
using platform::HeadlessWindow;
using platform::ProgressBar;

// Records what the window tells its owner.
class Recorder : public platform::WindowEvents {
 public:
  void ButtonClicked(Control button) override { clicks.push_back(button); }
  bool CloseQuery() override {
    ++queries;
    return allow_close;
  }
  std::vector<Control> clicks;
  int queries = 0;
  bool allow_close = true;
};

class HeadlessWindowTest : public ::testing::Test {
 protected:
  HeadlessWindowTest() {
    window_.SetEvents(&events_);
    window_.AddRow(true, "a.dll", "BIN", "1", "d", "s");
    window_.AddRow(true, "b.dll", "BIN", "2", "d", "s");
  }
  HeadlessWindow window_;
  Recorder events_;
};

TEST_F(HeadlessWindowTest, ActionsRunWhenTheirProcessingCallComes) {
  window_.ScheduleTick(1, false, 2);   // third call from now
  window_.ScheduleRename(0, "c.dll");  // next call
  window_.ProcessAllPendingInput();
  EXPECT_EQ(window_.RowText(0, FileColumn::Name), "c.dll");
  EXPECT_TRUE(window_.IsRowChecked(1));
  window_.ProcessOnePendingInput();
  EXPECT_TRUE(window_.IsRowChecked(1));
  window_.ProcessAllPendingInput();
  EXPECT_FALSE(window_.IsRowChecked(1));
  EXPECT_EQ(window_.PendingActions(), 0);
  EXPECT_EQ(window_.ProcessCalls(), 3);
}

TEST_F(HeadlessWindowTest, OneRunsAtMostOneDueActionAllRunsEveryDueOne) {
  window_.SchedulePress(Control::Button1);
  window_.SchedulePress(Control::Button3);
  window_.ProcessOnePendingInput();
  EXPECT_EQ(events_.clicks, std::vector<Control>{Control::Button1});
  // An action that schedules another: both due now, both run.
  window_.Schedule([](HeadlessWindow& w) { w.SchedulePress(Control::Button1, 0); });
  window_.ProcessAllPendingInput();
  EXPECT_EQ(events_.clicks, (std::vector<Control>{Control::Button1, Control::Button3}));
  window_.ProcessAllPendingInput();
  EXPECT_EQ(events_.clicks, (std::vector<Control>{Control::Button1, Control::Button3, Control::Button1}));
}

TEST_F(HeadlessWindowTest, PressesOfDisabledButtonsDoNothing) {
  EXPECT_FALSE(window_.Press(Control::Button2));
  window_.SetEnabled(Control::Button2, true);
  EXPECT_TRUE(window_.Press(Control::Button2));
  EXPECT_EQ(events_.clicks, std::vector<Control>{Control::Button2});
}

TEST_F(HeadlessWindowTest, ConfirmAnswersFromTheQueueThenNo) {
  window_.QueueConfirmAnswer(true);
  EXPECT_TRUE(window_.Confirm("first?"));
  EXPECT_FALSE(window_.Confirm("second?"));
  ASSERT_EQ(window_.Boxes().size(), 2u);
  EXPECT_EQ(window_.Boxes()[0].title, "Confirm");
  EXPECT_EQ(window_.Boxes()[1].text, "second?");
  EXPECT_FALSE(window_.Boxes()[1].answer);
}

TEST_F(HeadlessWindowTest, CloseAsksTheOwnerAndAClosedWindowStaysClosed) {
  events_.allow_close = false;
  window_.ScheduleClose();
  window_.ProcessAllPendingInput();
  EXPECT_FALSE(window_.IsClosed());
  events_.allow_close = true;
  window_.RequestClose();
  EXPECT_TRUE(window_.IsClosed());
  events_.allow_close = false;
  window_.RequestClose();
  EXPECT_TRUE(window_.IsClosed());
  EXPECT_EQ(events_.queries, 3);
}

TEST_F(HeadlessWindowTest, BarsKeepThePositionWithinTheRange) {
  window_.SetProgressRange(ProgressBar::ProgressBar1, 0, 10);
  window_.SetProgressPosition(ProgressBar::ProgressBar1, 25);
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 10);
  window_.SetProgressRange(ProgressBar::ProgressBar1, 0, 4);
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 4);
  window_.SetProgressRange(ProgressBar::ProgressBar1, 0, -1);
  EXPECT_EQ(window_.ProgressMax(ProgressBar::ProgressBar1), 0);
  EXPECT_EQ(window_.ProgressPosition(ProgressBar::ProgressBar1), 0);
}

TEST_F(HeadlessWindowTest, RunWhenShownWaitsForTheFirstShowThenForTheNextPendingInput) {
  std::vector<std::string> ran;
  window_.RunWhenShown([&] { ran.push_back("before show"); });
  window_.ProcessAllPendingInput();
  EXPECT_TRUE(ran.empty()) << "not on screen yet";
  window_.Show();
  EXPECT_EQ(ran, std::vector<std::string>{"before show"});
  window_.RunWhenShown([&] { ran.push_back("after show"); });
  EXPECT_EQ(ran.size(), 1u);
  window_.ProcessOnePendingInput();
  EXPECT_EQ(ran, (std::vector<std::string>{"before show", "after show"}));
  window_.RunWhenShown([&] { ran.push_back("after the close"); });
  window_.RequestClose();
  window_.ProcessAllPendingInput();
  EXPECT_EQ(ran.size(), 2u) << "a closed window drops it";
}

TEST_F(HeadlessWindowTest, RowsOutOfRangeRaise) {
  EXPECT_THROW(window_.IsRowChecked(2), std::out_of_range);
  EXPECT_THROW(window_.RowText(-1, FileColumn::Name), std::out_of_range);
}

}  // namespace
