#include "components/dialogs/VEXDlgWait.h"

namespace vex {

namespace {

ui::Ui& Application() { return ui::CurrentUi(); }

}  // namespace

TfrmWait::TfrmWait() {
  Form.Name = "frmWait";
  Form.Caption = "Please Wait...";
  Form.ClientWidth = 312;
  Form.ClientHeight = 118;
  Form.StayOnTop = true;
  Form.BorderIcons = false;
  Form.HourGlass = true;

  lMessage.Name = "lMessage";
  lMessage.SetBounds(0, 0, 312, 49);
  lMessage.Alignment = ui::taCenter;
  lMessage.Layout = ui::tlCenter;
  lMessage.WordWrap = true;
  lMessage.SetCaption("Wait...");

  btnCancel.Name = "btnCancel";
  btnCancel.SetBounds(104, 89, 75, 25);
  btnCancel.SetCaption("Abort");
  btnCancel.Default = true;
  btnCancel.Cancel = true;
  btnCancel.OnClick = [this] { btnCancelClick(); };

  pb.Name = "pb";
  pb.SetBounds(16, 64, 281, 16);
  pb.Min = 0;
  pb.Max = 100;
  pb.Smooth = true;
  pb.Step = 1;

  btnBgMode.Name = "btnBgMode";
  btnBgMode.SetBounds(192, 88, 105, 25);
  btnBgMode.SetCaption("Background Mode");
  btnBgMode.OnClick = [this] { btnBgModeClick(); };

  ShowTimer.SetInterval(500);
  ShowTimer.SetEnabled(false);
  ShowTimer.OnTimer = [this] { ShowTimerTimer(); };

  ui::WaitFormParts parts{Form, lMessage, btnCancel, pb, btnBgMode};
  FView = Application().CreateWaitForm(parts);
}

TfrmWait::~TfrmWait() {
  // An owner that drops the form without Close must not leave the
  // application calling into a freed form, nor its windows disabled.
  if (FRestoreHooked) Application().OnRestore = OldOnRestore;
  ShowTimer.SetEnabled(false);
  FView.reset();
  EWindowList.reset();
}

void TfrmWait::Show(const std::string& Text) {
  lMessage.SetCaption(Text);
  Terminated = false;
  SetActiveControl(btnCancel);
  OldOnRestore = Application().OnRestore;
  FHasOldOnRestore = true;
  IsShown = false;
  IsClosed = false;
  ShowTimer.SetEnabled(true);
}

void TfrmWait::Close() {
  // Without a Show there is no handler of ours to give back; the
  // application's own stays as it is.
  if (FHasOldOnRestore) Application().OnRestore = OldOnRestore;
  FRestoreHooked = false;
  SetVisible(false);
  Application().Restore();
  IsClosed = true;
  // Closing frees the form, and its timer with it.
  ShowTimer.SetEnabled(false);
}

void TfrmWait::SetVisible(bool Value) {
  if (Value == FVisible) return;
  FVisible = Value;
  if (Value) {
    FormShow();
    FView->SetVisible(true);
    if (FActiveControl != nullptr) FView->SetActiveControl(*FActiveControl);
  } else {
    FView->SetVisible(false);
    FormHide();
  }
}

void TfrmWait::SetActiveControl(ui::TControl& Control) {
  FActiveControl = &Control;
  if (FVisible) FView->SetActiveControl(Control);
}

void TfrmWait::ShowTimerTimer() {
  ShowTimer.SetEnabled(false);
  if (!IsClosed && pb.Position() <= 50) SetVisible(true);
  Application().ProcessMessages();
}

void TfrmWait::FormShow() {
  ShowTimer.SetEnabled(false);
  EActiveWindow = Application().ActiveWindow();
  EWindowList = Application().DisableTaskWindows(*FView);
  IsShown = true;
}

void TfrmWait::FormHide() {
  ShowTimer.SetEnabled(false);
  if (IsShown) {
    EWindowList.reset();
    if (EActiveWindow != nullptr) EActiveWindow->Activate();
    EActiveWindow.reset();
    IsShown = false;
  }
}

void TfrmWait::btnCancelClick() { Terminated = true; }

void TfrmWait::btnBgModeClick() {
  Application().OnRestore = [this] { AppRestore(); };
  FRestoreHooked = true;
  SetVisible(false);
  Application().Minimize();
  Application().ProcessMessages();
}

void TfrmWait::AppRestore() {
  Application().OnRestore = OldOnRestore;
  FRestoreHooked = false;
  Show(lMessage.Caption());
  Application().ProcessMessages();
}

}  // namespace vex
