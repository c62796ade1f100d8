#include "components/dialogs/VEXPasswordDialog.h"

#include "components/VEXDatabase.h"

namespace vex {

TVEXPassDialog::TVEXPassDialog() {
  Form.Name = "VEXPassDialog";
  Form.Caption = "Database authentication";
  Form.ClientWidth = 216;
  Form.ClientHeight = 118;

  Label1.Name = "Label1";
  Label1.SetBounds(8, 36, 49, 13);
  Label1.SetCaption("Password:");

  Pass.Name = "Pass";
  Pass.SetBounds(72, 32, 130, 21);
  Pass.PasswordChar = '*';

  cbOk.Name = "cbOk";
  cbOk.SetBounds(8, 72, 75, 25);
  cbOk.SetCaption("OK");
  cbOk.Default = true;
  cbOk.ModalResult = ui::mrOk;
  cbOk.OnClick = [this] { cbOkClick(); };

  cbCancel.Name = "cbCancel";
  cbCancel.SetBounds(128, 72, 75, 25);
  cbCancel.SetCaption("Cancel");
  cbCancel.ModalResult = ui::mrCancel;

  lbName.Name = "lbName";
  lbName.SetBounds(8, 8, 193, 13);
  lbName.Alignment = ui::taCenter;
}

ui::TModalResult TVEXPassDialog::ShowModal() {
  ui::PasswordDialogParts parts{Form, Label1, Pass, cbOk, cbCancel, lbName};
  return ui::CurrentUi().ShowPasswordDialog(parts);
}

void TVEXPassDialog::cbOkClick() {
  if (FDataBase != nullptr) FDataBase->SetPassword(Pass.Text());
}

bool ShowPasswordDialog(TVEXDatabase& DataBase, const std::string& Name) {
  TVEXPassDialog dialog;
  dialog.Pass.SetText("");
  dialog.FDataBase = &DataBase;
  dialog.lbName.SetCaption(Name);
  return dialog.ShowModal() == ui::mrOk;
}

}  // namespace vex
