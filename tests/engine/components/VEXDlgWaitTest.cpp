#include <gtest/gtest.h>

#include <memory>

#include "components/dialogs/VEXDlgWait.h"
#include "engine/components/ScriptedUi.h"
#include "os/Clock.h"

namespace {

using vex::TfrmWait;
using vextest::ScriptedUi;

class WaitForm : public ::testing::Test {
 protected:
  os::FakeClock FClock{10000};
  os::ScopedClock FClockScope{FClock};
  ScriptedUi FUi;
  ui::ScopedUi FUiScope{FUi};
  int FHostRestores = 0;

  void SetUp() override {
    FUi.OnRestore = [this] { ++FHostRestores; };
  }

  // An operation as the components run one: progress 0, Show, then progress
  // calls that process messages.
  std::unique_ptr<TfrmWait> Start(const char* text) {
    auto form = std::make_unique<TfrmWait>();
    form->pb.SetPosition(0);
    form->Show(text);
    return form;
  }
  void ProgressAt(TfrmWait& form, uint64_t msSinceStart, int32_t percent, uint64_t start) {
    FClock.Advance(start + msSinceStart - FClock.TickCount());
    form.pb.SetPosition(percent);
    FUi.ProcessMessages();
  }
  bool ViewVisible() const { return FUi.WaitViews.back()->Visible; }
};

TEST_F(WaitForm, AppearsAtTheFirstTickAfterHalfASecondAndDisablesTheOtherWindows) {
  const uint64_t start = FClock.TickCount();
  auto form = Start("Compacting Database...");
  EXPECT_EQ(form->lMessage.Caption(), "Compacting Database...");
  EXPECT_EQ(form->ActiveControl(), &form->btnCancel);

  ProgressAt(*form, 499, 40, start);
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(ViewVisible());
  EXPECT_FALSE(form->IsShown);
  EXPECT_EQ(FUi.DisabledWindowLists, 0);

  ProgressAt(*form, 500, 40, start);
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(ViewVisible());
  EXPECT_TRUE(form->IsShown);
  EXPECT_EQ(FUi.DisabledWindowLists, 1);
  EXPECT_EQ(FUi.WaitViews.back()->Focused, &form->btnCancel);
  EXPECT_FALSE(form->ShowTimer.Enabled());

  // Closing hands the windows back and reactivates the one that was active.
  form->Close();
  EXPECT_TRUE(form->IsClosed);
  EXPECT_FALSE(form->IsShown);
  EXPECT_FALSE(ViewVisible());
  EXPECT_EQ(FUi.DisabledWindowLists, 0);
  EXPECT_EQ(FUi.Activations, 1);
  form.reset();
  EXPECT_EQ(FUi.DisabledWindowLists, 0);
}

TEST_F(WaitForm, NeverAppearsForAnOperationPastHalfWayOrOverWithinTheDelay) {
  const uint64_t start = FClock.TickCount();
  auto late = Start("Copying Table...");
  ProgressAt(*late, 300, 51, start);
  ProgressAt(*late, 500, 60, start);
  ProgressAt(*late, 2000, 90, start);
  EXPECT_FALSE(late->Visible());
  EXPECT_FALSE(late->IsShown);
  EXPECT_EQ(FUi.DisabledWindowLists, 0);
  late->Close();
  late.reset();

  // Exactly 50 still shows; an operation that closes first never does.
  const uint64_t second = FClock.TickCount();
  auto halfWay = Start("Copying Table...");
  ProgressAt(*halfWay, 500, 50, second);
  EXPECT_TRUE(halfWay->IsShown);
  halfWay->Close();
  halfWay.reset();

  auto quick = Start("Copying Table...");
  FClock.Advance(200);
  quick->Close();
  FClock.Advance(1000);
  FUi.ProcessMessages();
  EXPECT_FALSE(quick->Visible());
  EXPECT_FALSE(quick->IsShown);
}

TEST_F(WaitForm, CloseOfAFormThatNeverAppearedLeavesTheRestoreHandlerAsItWas) {
  auto form = Start("Changing Database Password...");
  FClock.Advance(100);
  FUi.ProcessMessages();
  form->Close();
  form.reset();
  FUi.Minimize();
  FUi.UserRestores();
  EXPECT_EQ(FHostRestores, 1);

  // A Close without Show takes nothing from the application either.
  TfrmWait never;
  never.Close();
  FUi.Minimize();
  FUi.UserRestores();
  EXPECT_EQ(FHostRestores, 2);
}

TEST_F(WaitForm, AbortSetsTerminatedUntilTheNextShow) {
  const uint64_t start = FClock.TickCount();
  auto form = Start("Repairing Database...");
  ProgressAt(*form, 600, 10, start);
  ASSERT_TRUE(form->Visible());
  EXPECT_FALSE(form->Terminated);
  form->btnCancel.Click();
  EXPECT_TRUE(form->Terminated);
  ProgressAt(*form, 700, 20, start);
  EXPECT_TRUE(form->Terminated);  // the operation reads it at its next progress call
  form->Show("Repairing Database...");
  EXPECT_FALSE(form->Terminated);
  form->Close();
}

TEST_F(WaitForm, BackgroundModeHidesAndMinimisesAndRestoringBringsItBackHalfASecondLater) {
  const uint64_t start = FClock.TickCount();
  auto form = Start("Compacting Database...");
  ProgressAt(*form, 500, 10, start);
  ASSERT_TRUE(form->IsShown);
  form->btnCancel.Click();
  ASSERT_TRUE(form->Terminated);

  form->btnBgMode.Click();
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(ViewVisible());
  EXPECT_FALSE(form->IsShown);
  EXPECT_TRUE(FUi.IsMinimized);
  EXPECT_EQ(FUi.DisabledWindowLists, 0);  // the user may work meanwhile

  // Progress goes on in the background, the form stays away.
  ProgressAt(*form, 3000, 30, start);
  EXPECT_FALSE(form->Visible());

  FUi.UserRestores();
  EXPECT_FALSE(form->Terminated);
  EXPECT_EQ(FHostRestores, 0);  // the form's handler ran, not the host's
  EXPECT_EQ(form->lMessage.Caption(), "Compacting Database...");
  const uint64_t restored = FClock.TickCount();
  ProgressAt(*form, 499, 40, restored);
  EXPECT_FALSE(form->Visible());
  ProgressAt(*form, 500, 40, restored);
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(form->IsShown);
  EXPECT_EQ(FUi.DisabledWindowLists, 1);

  // The host's handler is back in place.
  form->Close();
  form.reset();
  FUi.Minimize();
  FUi.UserRestores();
  EXPECT_EQ(FHostRestores, 1);
}

TEST_F(WaitForm, ClosingInBackgroundModeRestoresTheApplicationThroughTheHostsHandler) {
  const uint64_t start = FClock.TickCount();
  auto form = Start("Compacting Database...");
  ProgressAt(*form, 500, 10, start);
  form->btnBgMode.Click();
  form->Close();
  EXPECT_FALSE(FUi.IsMinimized);
  EXPECT_EQ(FHostRestores, 1);
  EXPECT_FALSE(form->Visible());
}

TEST_F(WaitForm, DroppingAFormInBackgroundModeGivesTheApplicationItsHandlerBack) {
  const uint64_t start = FClock.TickCount();
  auto form = Start("Compacting Database...");
  ProgressAt(*form, 500, 10, start);
  form->btnBgMode.Click();
  form.reset();  // an owner that never calls Close
  FUi.UserRestores();
  EXPECT_EQ(FHostRestores, 1);
  EXPECT_EQ(FUi.DisabledWindowLists, 0);
}

TEST_F(WaitForm, ShownAtOnceByItsOwnerAndDroppedWhileShowingHandsTheWindowsBack) {
  auto form = Start("Repairing Database...");
  form->SetVisible(true);
  EXPECT_TRUE(form->IsShown);
  EXPECT_EQ(FUi.DisabledWindowLists, 1);
  EXPECT_FALSE(form->ShowTimer.Enabled());
  form.reset();
  EXPECT_EQ(FUi.DisabledWindowLists, 0);
}

}  // namespace
