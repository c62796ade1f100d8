#include <gtest/gtest.h>

#include <string>

#include "components/VEXDatabase.h"
#include "components/dialogs/VEXPasswordDialog.h"
#include "engine/components/ScriptedUi.h"

namespace {

using vextest::ScriptedUi;

class PasswordDialog : public ::testing::Test {
 protected:
  ScriptedUi FUi;
  ui::ScopedUi FUiScope{FUi};
  vex::TVEXDatabase FDatabase{nullptr};
  std::string FSeenText = "not shown";
  std::string FSeenName;

  // The user types `typed` and presses OK or Cancel.
  void UserAnswers(std::string typed, bool ok) {
    FUi.OnPasswordDialog = [this, typed, ok](ui::PasswordDialogParts& parts) {
      FSeenText = parts.Pass.Text();
      FSeenName = parts.lbName.Caption();
      parts.Pass.SetText(typed);
      ui::TButton& pressed = ok ? parts.cbOk : parts.cbCancel;
      pressed.Click();
      return pressed.ModalResult;
    };
  }
};

TEST_F(PasswordDialog, OpensEmptyWithTheNameLineAndOkStoresTheTypedPassword) {
  FDatabase.SetPassword("old");
  UserAnswers("s\xE9same", true);
  EXPECT_TRUE(vex::ShowPasswordDialog(FDatabase, "Hotel"));
  EXPECT_EQ(FSeenText, "");
  EXPECT_EQ(FSeenName, "Hotel");
  EXPECT_EQ(FDatabase.Password(), "s\xE9same");
}

TEST_F(PasswordDialog, CancelAnswersFalseAndLeavesThePassword) {
  FDatabase.SetPassword("old");
  UserAnswers("typed", false);
  EXPECT_FALSE(vex::ShowPasswordDialog(FDatabase, ""));
  EXPECT_EQ(FDatabase.Password(), "old");

  // Closed without a button, or with no user interface at all: the same.
  FUi.OnPasswordDialog = nullptr;
  EXPECT_FALSE(vex::ShowPasswordDialog(FDatabase, ""));
  ui::NullUi none;
  ui::ScopedUi silent(none);
  EXPECT_FALSE(vex::ShowPasswordDialog(FDatabase, ""));
  EXPECT_EQ(FDatabase.Password(), "old");
}

TEST_F(PasswordDialog, OkWithAnEmptyEditSetsAnEmptyPassword) {
  FDatabase.SetPassword("old");
  UserAnswers("", true);
  EXPECT_TRUE(vex::ShowPasswordDialog(FDatabase, ""));
  EXPECT_EQ(FSeenText, "");
  EXPECT_EQ(FDatabase.Password(), "");
}

}  // namespace
