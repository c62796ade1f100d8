#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "os/Clock.h"
#include "rtl/Exception.h"
#include "ui/Controls.h"
#include "ui/RecordingUi.h"
#include "ui/Ui.h"

namespace {

class Timers : public ::testing::Test {
 protected:
  os::FakeClock FClock{5000};
  os::ScopedClock FScope{FClock};
  ui::NullUi FUi;
};

TEST_F(Timers, FireOnlyWhenMessagesAreProcessedAfterTheirInterval) {
  ui::TTimer timer;
  timer.SetInterval(500);
  int fired = 0;
  timer.OnTimer = [&] { ++fired; };
  FClock.Advance(10000);
  FUi.ProcessMessages();
  EXPECT_EQ(fired, 0);  // disabled

  timer.SetEnabled(true);
  FClock.Advance(499);
  FUi.ProcessMessages();
  EXPECT_EQ(fired, 0);
  FClock.Advance(1);
  EXPECT_EQ(fired, 0);  // due, but nobody processed messages
  FUi.ProcessMessages();
  EXPECT_EQ(fired, 1);
  // A long gap fires once per pass, and it repeats from the firing.
  FClock.Advance(5000);
  FUi.ProcessMessages();
  EXPECT_EQ(fired, 2);
  FClock.Advance(499);
  FUi.ProcessMessages();
  EXPECT_EQ(fired, 2);

  // Enabling an enabled timer does not restart it; disabling and enabling does.
  timer.SetEnabled(true);
  FClock.Advance(1);
  FUi.ProcessMessages();
  EXPECT_EQ(fired, 3);
  FClock.Advance(400);
  timer.SetEnabled(false);
  timer.SetEnabled(true);
  FClock.Advance(499);
  FUi.ProcessMessages();
  EXPECT_EQ(fired, 3);

  timer.SetInterval(0);
  FClock.Advance(100000);
  FUi.ProcessMessages();
  EXPECT_EQ(fired, 3);
}

TEST_F(Timers, AHandlerMayFreeTimersAndProcessMessagesAgain) {
  auto first = std::make_unique<ui::TTimer>();
  auto second = std::make_unique<ui::TTimer>();
  auto third = std::make_unique<ui::TTimer>();
  std::vector<std::string> order;
  for (ui::TTimer* t : {first.get(), second.get(), third.get()}) {
    t->SetInterval(100);
    t->SetEnabled(true);
  }
  first->OnTimer = [&] {
    order.push_back("first");
    first.reset();  // frees itself (the handler runs from a copy)
    second.reset();
    FUi.ProcessMessages();  // re-entrant: nothing else due twice
  };
  third->OnTimer = [&] {
    order.push_back("third");
    third->SetEnabled(false);
  };
  FClock.Advance(100);
  FUi.ProcessMessages();
  EXPECT_EQ(order, (std::vector<std::string>{"first", "third"}));
  FClock.Advance(1000);
  FUi.ProcessMessages();
  EXPECT_EQ(order.size(), 2u);
}

TEST(Controls, ProgressStaysInRangeAndViewsHearOnlyRealChanges) {
  ui::TProgressBar pb;
  int updates = 0;
  pb.OnViewUpdate = [&] { ++updates; };
  pb.SetPosition(40);
  pb.SetPosition(40);
  EXPECT_EQ(updates, 1);
  pb.SetPosition(140);
  EXPECT_EQ(pb.Position(), 100);
  pb.SetPosition(-3);
  EXPECT_EQ(pb.Position(), 0);
  EXPECT_EQ(updates, 3);

  ui::TButton button;
  int clicks = 0;
  button.OnClick = [&] {
    ++clicks;
    button.OnClick = nullptr;  // a handler that replaces itself
  };
  button.Click();
  button.Click();
  EXPECT_EQ(clicks, 1);
}

TEST(InstalledUi, OnePerProcessWithNullUiAsTheDefault) {
  ui::NullUi& none = dynamic_cast<ui::NullUi&>(ui::CurrentUi());
  EXPECT_FALSE(none.AskYesNo("Do you want to repair it?"));
  ui::TFormResource form;
  ui::TLabel label1, name;
  ui::TEdit pass;
  ui::TButton ok, cancel;
  ui::PasswordDialogParts parts{form, label1, pass, ok, cancel, name};
  bool clicked = false;
  ok.OnClick = [&] { clicked = true; };
  EXPECT_EQ(none.ShowPasswordDialog(parts), ui::mrCancel);
  EXPECT_FALSE(clicked);

  ui::NullUi first, second;
  ui::InstallUi(first);
  EXPECT_EQ(&ui::CurrentUi(), &first);
  EXPECT_THROW(ui::InstallUi(second), rtl::Exception);
  {
    ui::ScopedUi scope(second);  // tests may still put another in force
    EXPECT_EQ(&ui::CurrentUi(), &second);
  }
  EXPECT_EQ(&ui::CurrentUi(), &first);
  ui::UninstallUi();
  EXPECT_EQ(&ui::CurrentUi(), &none);
  ui::InstallUi(second);
  ui::UninstallUi();
}

}  // namespace

namespace {

TEST(NullUiMessages, TaskAndErrorMessagesGoToTheLogAsTextAndReturnAsIfClosed) {
  std::ostringstream log;
  ui::NullUi none(log);
  none.ShowTaskMessage({"Information", ui::tiInformation, "New reservation",
                        "2 - new reservation(s) recorded (1 - cancelled)",
                        "Booking no. - LB-1\n\rBooking no. - LB-2\n\r", "Close"});
  none.ShowTaskMessage({"Fehler", ui::tiError, "Fehler", "Caf\xE9 closed", "",
                        "Schlie\xDF"
                        "en"});
  none.ShowErrorMessage("'x' is not a valid integer value");
  EXPECT_EQ(log.str(),
            "[information] Information\n"
            "  New reservation\n"
            "  2 - new reservation(s) recorded (1 - cancelled)\n"
            "  Booking no. - LB-1\n"
            "  Booking no. - LB-2\n"
            "[error] Fehler\n"
            "  Fehler\n"
            "  Caf\xC3\xA9 closed\n"  // UTF-8 for the console
            "[error] 'x' is not a valid integer value\n");

  none.SetClipboardText("copied");
  EXPECT_EQ(none.ClipboardText(), "copied");
}

TEST(RecordingUi, KeepsWhatWouldHaveBeenShownAndCountsPumpPasses) {
  ui::RecordingUi recorder;
  ui::ScopedUi scope(recorder);
  int seen = 0;
  recorder.OnTaskMessage = [&](const ui::TaskMessage& m) {
    EXPECT_EQ(m.Title, "Error");
    ++seen;
  };
  const ui::TaskMessage message{"Error", ui::tiError, "Error", "Connection refused", "", "Close"};
  ui::CurrentUi().ShowTaskMessage(message);
  ui::CurrentUi().ShowErrorMessage("bad");
  ui::CurrentUi().SetClipboardText("a");
  ui::CurrentUi().SetClipboardText("b");
  ui::CurrentUi().ProcessMessages();
  ui::CurrentUi().ProcessMessages();
  ASSERT_EQ(recorder.TaskMessages.size(), 1u);
  EXPECT_EQ(recorder.TaskMessages[0], message);
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(recorder.ErrorMessages, std::vector<std::string>{"bad"});
  EXPECT_EQ(recorder.ClipboardWrites, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ui::CurrentUi().ClipboardText(), "b");
  EXPECT_EQ(recorder.PendingPasses, 2);
  EXPECT_FALSE(ui::CurrentUi().AskYesNo("Repair?"));
}

}  // namespace
