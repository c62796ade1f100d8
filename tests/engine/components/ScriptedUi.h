// A ui::Ui for tests: it records what the system shows, answers from a script
// and lets the test act as the user (restore the application, type into and
// close the password dialog).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/Ui.h"

namespace vextest {

class ScriptedUi final : public ui::Ui {
 public:
  // What the views of the wait forms show now.
  struct WaitView {
    bool Visible = false;
    const ui::TControl* Focused = nullptr;
    ui::TButton* Abort = nullptr;  // the form's; valid while the form lives
  };

  // Message boxes and questions, in order, as "type: text".
  std::vector<std::string> Shown;
  bool YesNoAnswer = false;
  // Plays the user in the password dialog; without it the dialog is cancelled.
  std::function<ui::TModalResult(ui::PasswordDialogParts&)> OnPasswordDialog;
  std::vector<std::shared_ptr<WaitView>> WaitViews;
  bool IsMinimized = false;
  int DisabledWindowLists = 0;  // lists of disabled windows not yet given back
  int Activations = 0;          // reactivations of a remembered window
  int PumpedEvents = 0;         // ProcessMessages calls
  // Plays the user while messages are processed.
  std::function<void()> OnPump;

  void ShowMessageBox(ui::TMsgDlgType type, const std::string& text) override {
    Shown.push_back(std::to_string(type) + ": " + text);
  }
  bool AskYesNo(const std::string& text) override {
    Shown.push_back("question: " + text);
    return YesNoAnswer;
  }
  void ShowTaskMessage(const ui::TaskMessage& m) override {
    Shown.push_back("task: " + m.Instruction + ": " + m.Content);
  }
  void ShowErrorMessage(const std::string& text) override { Shown.push_back("error: " + text); }
  void SetClipboardText(const std::string& text) override { Clipboard = text; }
  std::string ClipboardText() override { return Clipboard; }
  std::string Clipboard;
  ui::TModalResult ShowPasswordDialog(ui::PasswordDialogParts& parts) override {
    return OnPasswordDialog ? OnPasswordDialog(parts) : ui::mrCancel;
  }
  std::unique_ptr<ui::FormView> CreateWaitForm(ui::WaitFormParts& parts) override {
    auto state = std::make_shared<WaitView>();
    state->Abort = &parts.btnCancel;
    WaitViews.push_back(state);
    return std::make_unique<View>(state);
  }
  void Minimize() override { IsMinimized = true; }
  void Restore() override {
    if (IsMinimized) UserRestores();
  }
  // The user brings the minimised application back.
  void UserRestores() {
    IsMinimized = false;
    DoRestore();
  }
  std::unique_ptr<ui::WindowRef> ActiveWindow() override { return std::make_unique<Window>(*this); }
  std::unique_ptr<ui::TaskWindowList> DisableTaskWindows(const ui::FormView&) override {
    return std::make_unique<Disabled>(*this);
  }

 protected:
  void HandlePendingEvents() override {
    ++PumpedEvents;
    if (OnPump) OnPump();
  }

 private:
  class View final : public ui::FormView {
   public:
    explicit View(std::shared_ptr<WaitView> state) : FState(std::move(state)) {}
    ~View() override { FState->Visible = false; }
    void SetVisible(bool visible) override { FState->Visible = visible; }
    void SetActiveControl(const ui::TControl& control) override { FState->Focused = &control; }

   private:
    std::shared_ptr<WaitView> FState;
  };
  class Window final : public ui::WindowRef {
   public:
    explicit Window(ScriptedUi& owner) : FOwner(owner) {}
    void Activate() override { ++FOwner.Activations; }

   private:
    ScriptedUi& FOwner;
  };
  class Disabled final : public ui::TaskWindowList {
   public:
    explicit Disabled(ScriptedUi& owner) : FOwner(owner) { ++FOwner.DisabledWindowLists; }
    ~Disabled() override { --FOwner.DisabledWindowLists; }

   private:
    ScriptedUi& FOwner;
  };
};

}  // namespace vextest
