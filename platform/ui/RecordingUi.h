// ui::RecordingUi: a Ui for tests that shows nothing, as NullUi does, but keeps
// every task message, error message and clipboard text it is given, and counts
// the passes of the message pump, so that a test can say what the user would
// have seen. Install it with ScopedUi for the test's duration.
//
// The other ports behave as NullUi's: questions answer No, the password
// dialog is cancelled, forms are never seen. Threads: as any Ui.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/Ui.h"

namespace ui {

class RecordingUi final : public Ui {
 public:
  void ShowMessageBox(TMsgDlgType, const std::string&) override {}
  bool AskYesNo(const std::string&) override { return false; }
  TModalResult ShowPasswordDialog(PasswordDialogParts&) override { return mrCancel; }
  std::unique_ptr<FormView> CreateWaitForm(WaitFormParts& parts) override;

  void ShowTaskMessage(const TaskMessage& message) override;
  void ShowErrorMessage(const std::string& text) override;
  void SetClipboardText(const std::string& text) override;
  std::string ClipboardText() override { return FClipboard; }

  void Minimize() override {}
  void Restore() override {}
  std::unique_ptr<WindowRef> ActiveWindow() override { return nullptr; }
  std::unique_ptr<TaskWindowList> DisableTaskWindows(const FormView&) override { return nullptr; }

  // What was shown, in order.
  std::vector<TaskMessage> TaskMessages;
  std::vector<std::string> ErrorMessages;
  // Every text put on the clipboard, in order.
  std::vector<std::string> ClipboardWrites;
  // Passes of ProcessMessages.
  int PendingPasses = 0;

  // Runs while a task message is "shown", after it was recorded: a test may
  // look at the state the caller is in at that moment.
  std::function<void(const TaskMessage&)> OnTaskMessage;

 protected:
  void HandlePendingEvents() override { ++PendingPasses; }

 private:
  std::string FClipboard;
};

}  // namespace ui
