// ui::Ui: the one door from the system to its user.
//
// The engine and the plug-in never draw a window themselves. What they show
// goes through the ports of this class: message boxes, the Yes/No question,
// the modal password dialog, the wait form's view, the plug-in's task
// messages, the application's error message, the clipboard, and the
// application (the message pump, minimising and restoring with a replaceable
// restore handler, disabling the other windows while a form wants the user's
// whole attention).
// The forms themselves are controllers that own their controls' state
// (Controls.h); a view only shows that state and reports clicks and typing.
//
// One implementation is installed per process, as os::Clock is: CurrentUi() is
// the installed one, else NullUi, which shows nothing, answers every question
// No and cancels every dialog, so that silent and display-less runs need no
// set-up; only the task and error messages, which a person would otherwise
// never learn of, go to standard error as text. The start-up module installs the toolkit's
// implementation (InstallUi) and takes it away again (UninstallUi); tests put a scripted one in
// force with ScopedUi.
//
// Texts are Windows-1252, as everywhere inside the system; an implementation
// converts them for its toolkit.
//
// Threads: a Ui and everything it shows belong to the thread that processes
// messages. Installing is not synchronised with users: do it before they start.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "ui/Controls.h"

namespace ui {

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

// A form's own properties as it was designed.
struct TFormResource {
  std::string Name;
  std::string Caption;
  int32_t ClientWidth = 0;
  int32_t ClientHeight = 0;
  bool StayOnTop = false;
  bool BorderIcons = true;  // False: a dialog frame without minimise, maximise or close
  bool HourGlass = false;   // the busy cursor over the form
};

// The view of a form that a controller keeps while the form exists. Its
// destructor takes the window away (views never throw).
class FormView {
 public:
  virtual ~FormView() = default;
  virtual void SetVisible(bool visible) = 0;
  // Gives the keyboard focus to one of the form's controls.
  virtual void SetActiveControl(const TControl& control) = 0;
};

// A window that was active, to be activated again later. Activating one that
// has gone in the meantime does nothing.
class WindowRef {
 public:
  virtual ~WindowRef() = default;
  virtual void Activate() = 0;
};

// Windows that DisableTaskWindows disabled. Destroying the list enables those
// that still exist again.
class TaskWindowList {
 public:
  virtual ~TaskWindowList() = default;
};

// The wait form: a message over a progress bar, Abort and Background Mode.
struct WaitFormParts {
  const TFormResource& Form;
  TLabel& lMessage;
  TButton& btnCancel;
  TProgressBar& pb;
  TButton& btnBgMode;
};

// The password dialog: a name line, the password edit, OK and Cancel.
struct PasswordDialogParts {
  const TFormResource& Form;
  TLabel& Label1;
  TEdit& Pass;
  TButton& cbOk;
  TButton& cbCancel;
  TLabel& lbName;
};

// The icon of a task message.
enum TTaskIcon { tiInformation, tiError };

// A task message: a modal box with a title, an icon, a main instruction over
// the content, an optional expanded text the user may unfold, and one button
// whose caption the caller gives (the plug-in's texts are translated, so the
// toolkit's own "OK" will not do).
struct TaskMessage {
  std::string Title;
  TTaskIcon Icon = tiInformation;
  std::string Instruction;
  std::string Content;
  std::string ExpandedText;  // empty: nothing to unfold
  std::string ButtonCaption;

  friend bool operator==(const TaskMessage&, const TaskMessage&) = default;
};

class Ui {
 public:
  Ui() = default;
  virtual ~Ui() = default;
  Ui(const Ui&) = delete;
  Ui& operator=(const Ui&) = delete;

  // A message box with an OK button (mtWarning, mtError, mtInformation);
  // returns when the user has closed it.
  virtual void ShowMessageBox(TMsgDlgType type, const std::string& text) = 0;
  // A confirmation box with Yes and No; True for Yes. Closing it otherwise is No.
  virtual bool AskYesNo(const std::string& text) = 0;

  // Shows `message` modally; returns when the user has pressed its button or
  // closed it otherwise (the two are not told apart: there is one choice).
  virtual void ShowTaskMessage(const TaskMessage& message) = 0;
  // The application's standard message for a failure that reached it: an error
  // box with the failure's text under the application's title; returns when
  // the user has closed it.
  virtual void ShowErrorMessage(const std::string& text) = 0;

  // The clipboard as text. Setting replaces whatever it held; reading gives
  // the empty text when it holds no text.
  virtual void SetClipboardText(const std::string& text) = 0;
  virtual std::string ClipboardText() = 0;

  // Shows the password dialog modally over the application. A press of OK or
  // Cancel goes to the button's Click first; the dialog then closes with the
  // button's ModalResult. Typing goes to Pass (SetText) as it happens. Closing
  // it any other way is mrCancel.
  virtual TModalResult ShowPasswordDialog(PasswordDialogParts& parts) = 0;

  // A hidden wait form showing the controls of `parts`, which must outlive the
  // view (the struct itself need not). Clicks on its buttons go to their
  // Click; Escape presses btnCancel. Never null.
  virtual std::unique_ptr<FormView> CreateWaitForm(WaitFormParts& parts) = 0;

  // Handles the pending events of the toolkit, then fires the timers that are
  // due (TTimer). Handlers run inside it and may process messages again.
  void ProcessMessages();

  // Minimises the whole application; the restore handler runs when the user
  // (or Restore) brings it back.
  virtual void Minimize() = 0;
  // Brings a minimised application back and runs the restore handler; does
  // nothing when it is not minimised.
  virtual void Restore() = 0;
  // The application's restore handler; a form may replace it for a while and
  // give it back.
  TNotifyEvent OnRestore;

  // The window that has the focus now, or null.
  virtual std::unique_ptr<WindowRef> ActiveWindow() = 0;
  // Disables every visible, enabled window of the application except `except`,
  // so that the user can use only that one; null when none was disabled.
  virtual std::unique_ptr<TaskWindowList> DisableTaskWindows(const FormView& except) = 0;

 protected:
  virtual void HandlePendingEvents() = 0;
  // For implementations: the application was restored from minimised.
  void DoRestore();
};

// Shows nothing: message boxes return at once, questions answer No, the
// password dialog is cancelled, forms are never seen, nothing is minimised.
// Task and error messages are written as text to `log` (standard error unless
// given; UTF-8, as a console expects) and return as if closed. The clipboard is
// a text the NullUi keeps, so that copying and pasting within the process
// still meet.
class NullUi final : public Ui {
 public:
  NullUi();
  explicit NullUi(std::ostream& log);

  void ShowMessageBox(TMsgDlgType type, const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void ShowTaskMessage(const TaskMessage& message) override;
  void ShowErrorMessage(const std::string& text) override;
  void SetClipboardText(const std::string& text) override { FClipboard = text; }
  std::string ClipboardText() override { return FClipboard; }
  TModalResult ShowPasswordDialog(PasswordDialogParts& parts) override;
  std::unique_ptr<FormView> CreateWaitForm(WaitFormParts& parts) override;
  void Minimize() override {}
  void Restore() override {}
  std::unique_ptr<WindowRef> ActiveWindow() override { return nullptr; }
  std::unique_ptr<TaskWindowList> DisableTaskWindows(const FormView&) override { return nullptr; }

 protected:
  void HandlePendingEvents() override {}

 private:
  std::ostream* FLog;
  std::string FClipboard;
};

// The text NullUi writes for a task message: a first line naming the icon and
// the title, then the instruction, the content and the expanded text, each
// non-empty one on lines of its own indented by two blanks, Windows-1252 as
// given. Exposed for tests.
std::string TaskMessageText(const TaskMessage& message);

// The Ui in use: the installed one, else the process's NullUi.
Ui& CurrentUi();

// Makes `ui` the process's Ui until UninstallUi; `ui` must outlive that.
// Raises rtl::Exception when one is installed already (one per process).
void InstallUi(Ui& ui);
// Back to NullUi; nothing when none is installed.
void UninstallUi();

// Makes `ui` current for its lifetime and puts back the previous one when it
// ends, whatever is installed. Scopes nest; `ui` must outlive the scope.
class ScopedUi {
 public:
  explicit ScopedUi(Ui& ui);
  ~ScopedUi();
  ScopedUi(const ScopedUi&) = delete;
  ScopedUi& operator=(const ScopedUi&) = delete;

 private:
  Ui* FPrevious;
};

}  // namespace ui
