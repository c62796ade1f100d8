// The Qt widgets that show the system's forms. Internal to ui-qt.
//
// A view builds its widgets from a form's controls (names, captions, bounds),
// hooks itself to each control so that a change of the controller's state
// reaches the widget at once, and turns clicks and typing into the controls'
// Click and SetText. It unhooks itself when it goes.
#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "ui/Ui.h"

namespace ui::qt {

QString ToQString(const std::string& text);
std::string FromQString(const QString& text);

// Points a control's OnViewUpdate at a view for the hook's lifetime.
class ViewHook {
 public:
  ViewHook(TControl& control, TNotifyEvent update);
  ~ViewHook();
  ViewHook(const ViewHook&) = delete;
  ViewHook& operator=(const ViewHook&) = delete;

 private:
  TControl& FControl;
};

// A form view that owns a top-level widget.
class QtFormView : public FormView {
 public:
  virtual QWidget* Widget() const = 0;
};

std::unique_ptr<QtFormView> CreateWaitFormView(WaitFormParts& parts);

// Runs the password dialog's modal loop.
TModalResult RunPasswordDialog(PasswordDialogParts& parts);

}  // namespace ui::qt
