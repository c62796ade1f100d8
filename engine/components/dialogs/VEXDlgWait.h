// The wait form: the default progress display of the long operations of the
// database and table components.
//
// The form appears only for operations that last longer than half a second,
// and not at all for one that is past half-way by then. While it shows, the
// application's other windows are disabled, so the user can only press Abort
// (which the operation reads through Terminated at its next progress call) or
// Background Mode (which hides the form and minimises the application; when
// the user restores it, the form comes back half a second later).
//
// How an owner drives it: create it, pb.SetPosition(0), Show(text); at each
// progress call pb.SetPosition(percent), process messages and go on while
// Terminated is False; at the end Close, then drop the form. The form's timer
// fires only while messages are processed (ui::Ui::ProcessMessages), on
// os::CurrentClock(), so tests run the delay in virtual time.
//
// States and the functions that make each transition:
//   1. created: hidden, timer off.
//   2. armed (Show): hidden, timer running; IsShown and IsClosed False.
//   3. visible (ShowTimerTimer, when not IsClosed and pb is at 50 or less; or
//      an owner's SetVisible(True)): FormShow disables the other windows and
//      sets IsShown.
//   4. background (btnBgModeClick): hidden (FormHide enables the windows again
//      and stops the timer), application minimised, the application's restore
//      handler is the form's; AppRestore gives the old handler back and Shows
//      again (state 2).
//   5. closed (Close): hidden, timer off, old restore handler back, the
//      application restored; IsClosed True. The owner then frees the form.
// Invariants:
//   - IsShown is True exactly while the other windows are disabled (EWindowList
//     holds those there were) and EActiveWindow is remembered; dropping
//     EWindowList enables them again.
//   - the application's restore handler is the form's only in state 4; the
//     destructor gives the old one back should an owner drop the form there.
//
// Threads: the thread that processes messages only.
#pragma once

#include <memory>
#include <string>

#include "ui/Controls.h"
#include "ui/Ui.h"

namespace vex {

class TfrmWait final {
 public:
  TfrmWait();
  ~TfrmWait();
  TfrmWait(const TfrmWait&) = delete;
  TfrmWait& operator=(const TfrmWait&) = delete;

  ui::TFormResource Form;
  ui::TLabel lMessage;
  ui::TButton btnCancel;
  ui::TProgressBar pb;
  ui::TButton btnBgMode;
  ui::TTimer ShowTimer;

  // Arms the form: it appears at the first tick of ShowTimer (500 ms later)
  // unless it is closed or the progress has passed 50 by then.
  void Show(const std::string& Text);
  // Ends the form; the owner frees it afterwards.
  void Close();

  bool Visible() const { return FVisible; }
  // Shows or hides the form at once (OnShow and OnHide run on a change).
  void SetVisible(bool Value);
  const ui::TControl* ActiveControl() const { return FActiveControl; }

  // The user pressed Abort.
  bool Terminated = false;
  bool IsShown = false;
  bool IsClosed = false;

 private:
  void ShowTimerTimer();
  void FormShow();
  void FormHide();
  void btnCancelClick();
  void btnBgModeClick();
  void AppRestore();
  void SetActiveControl(ui::TControl& Control);

  std::unique_ptr<ui::TaskWindowList> EWindowList;
  std::unique_ptr<ui::WindowRef> EActiveWindow;
  ui::TNotifyEvent OldOnRestore;
  bool FHasOldOnRestore = false;  // Show took the application's handler
  bool FRestoreHooked = false;    // the application's handler is AppRestore
  bool FVisible = false;
  ui::TControl* FActiveControl = nullptr;
  // Last: the view goes before the controls it shows.
  std::unique_ptr<ui::FormView> FView;
};

}  // namespace vex
