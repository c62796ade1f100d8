// The ui:: ports over Qt 6 Widgets: message boxes, the password dialog and the
// wait form as Qt dialogs laid out as the forms were designed, and the
// application over the QApplication.
//
// A QtUi uses the host's QApplication when there is one and otherwise creates
// its own for its lifetime (for a host that is not a Qt program), so create it
// on the thread that is to process messages. The message boxes carry object
// names ("TaskMessage", "ErrorMessage") so that a test can find them. The start-up module owns the
// process's QtUi and installs it with ui::InstallUi.
//
// This header includes no Qt: nothing outside this folder sees the toolkit.
#pragma once

#include <memory>
#include <string>

#include "ui/Ui.h"

namespace ui::qt {

class QtUi final : public Ui {
 public:
  // Raises rtl::Exception when the process has a Qt application without
  // widgets (a QCoreApplication), on which no window can be shown.
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
  std::unique_ptr<State> F;
};

}  // namespace ui::qt
