// The ui:: ports over Qt 6 Widgets: message boxes, the password dialog and the
// wait form as Qt dialogs laid out as the forms were designed, and the
// application over the QApplication.
//
// A QtUi makes no Qt object until it first shows something or builds a form's
// view: a silent run that only processes messages, minimises or asks for the
// active window touches no toolkit. What it shows uses the host's QApplication
// when there is one; otherwise the first QtUi to show something creates one
// (for a host that is not a Qt program) and the process keeps it until it
// ends, because Qt allows one at a time and its process-wide state outlives
// any single QtUi. So create and use a QtUi on the thread that is to process
// messages. The message boxes carry object names ("TaskMessage",
// "ErrorMessage") so that a test can find them. The start-up module chooses
// the process's Ui and installs it with InstallUiForEnvironment (UiChoice.h).
//
// This header includes no Qt: nothing outside this folder sees the toolkit.
#pragma once

#include <memory>
#include <string>

#include "ui/Ui.h"

namespace ui::qt {

class QtUi final : public Ui {
 public:
  // Creates no Qt object. Raises rtl::Exception when the process has a Qt
  // application without widgets (a QCoreApplication), on which no window can
  // be shown; a method that shows something raises the same when such an
  // application appears later.
  QtUi();
  ~QtUi() override;

  void ShowMessageBox(TMsgDlgType type, const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  // A modal QMessageBox "TaskMessage": the instruction as its text, the content
  // as informative text, the expanded text as details, one button.
  void ShowTaskMessage(const TaskMessage& message) override;
  // A modal QMessageBox "ErrorMessage" with the critical icon under the
  // application's display name.
  void ShowErrorMessage(const std::string& text) override;
  void SetClipboardText(const std::string& text) override;
  std::string ClipboardText() override;
  TModalResult ShowPasswordDialog(PasswordDialogParts& parts) override;
  std::unique_ptr<FormView> CreateWaitForm(WaitFormParts& parts) override;
  void Minimize() override;
  void Restore() override;
  std::unique_ptr<WindowRef> ActiveWindow() override;
  std::unique_ptr<TaskWindowList> DisableTaskWindows(const FormView& except) override;

  bool Minimized() const;

 protected:
  void HandlePendingEvents() override;

 private:
  struct State;
  friend struct State;
  void Restored();
  void Attach();
  std::unique_ptr<State> F;
};

// Makes sure the process has a QApplication: the host's, or one created here
// and kept until the process ends. For views that build widgets without a
// QtUi showing them first. Raises rtl::Exception when the process's
// application is a QCoreApplication.
void EnsureApplication();

}  // namespace ui::qt
