// The password dialog: asks for the password of a database that could not be
// opened with the one it has. The database component shows it through
// ShowPasswordDialog; OK stores the typed text as the database's Password.
//
// Threads: the thread that processes messages only.
#pragma once

#include <string>

#include "ui/Controls.h"
#include "ui/Ui.h"

namespace vex {

class TVEXDatabase;

class TVEXPassDialog final {
 public:
  TVEXPassDialog();
  TVEXPassDialog(const TVEXPassDialog&) = delete;
  TVEXPassDialog& operator=(const TVEXPassDialog&) = delete;

  ui::TFormResource Form;
  ui::TLabel Label1;
  ui::TEdit Pass;
  ui::TButton cbOk;
  ui::TButton cbCancel;
  ui::TLabel lbName;

  // The database the dialog asks for; OK gives it the typed password. Not
  // owned.
  TVEXDatabase* FDataBase = nullptr;

  // Shows the dialog modally; mrOk when OK closed it, mrCancel otherwise.
  ui::TModalResult ShowModal();

 private:
  void cbOkClick();
};

// Asks for the password of `DataBase`, showing `Name` above the edit, which
// starts empty. True when the user pressed OK: the database's Password is then
// the typed text (possibly empty). False leaves the password as it was.
bool ShowPasswordDialog(TVEXDatabase& DataBase, const std::string& Name);

}  // namespace vex
