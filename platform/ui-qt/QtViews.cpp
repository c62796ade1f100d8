#include "ui-qt/QtViews.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <list>
#include <memory>

#include "rtl/CodePage.h"

namespace ui::qt {

QString ToQString(const std::string& text) {
  const std::string utf8 = rtl::Win1252ToUtf8(text);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQString(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return rtl::Utf8ToWin1252(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

ViewHook::ViewHook(TControl& control, TNotifyEvent update) : FControl(control) {
  FControl.OnViewUpdate = std::move(update);
}

ViewHook::~ViewHook() { FControl.OnViewUpdate = nullptr; }

namespace {

Qt::Alignment AlignmentOf(const TLabel& label) {
  Qt::Alignment horizontal = label.Alignment == taCenter         ? Qt::AlignHCenter
                             : label.Alignment == taRightJustify ? Qt::AlignRight
                                                                 : Qt::AlignLeft;
  Qt::Alignment vertical = label.Layout == tlCenter   ? Qt::AlignVCenter
                           : label.Layout == tlBottom ? Qt::AlignBottom
                                                      : Qt::AlignTop;
  return horizontal | vertical;
}

// The form's frame and client area as designed; dialogs are never resized.
void ApplyForm(QDialog& dialog, const TFormResource& form) {
  dialog.setObjectName(QString::fromStdString(form.Name));
  dialog.setWindowTitle(ToQString(form.Caption));
  Qt::WindowFlags flags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint;
  if (!form.BorderIcons) flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (form.StayOnTop) flags |= Qt::WindowStaysOnTopHint;
  dialog.setWindowFlags(flags);
  dialog.setFixedSize(form.ClientWidth, form.ClientHeight);
  if (form.HourGlass) dialog.setCursor(Qt::WaitCursor);
}

void CentreOnScreen(QWidget& window) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window.move(area.center() - window.rect().center());
  }
}

void Place(QWidget& widget, const TControl& control) {
  widget.setObjectName(QString::fromStdString(control.Name));
  widget.setGeometry(control.Left, control.Top, control.Width, control.Height);
}

QLabel* MakeLabel(QWidget& parent, TLabel& label, std::list<ViewHook>& hooks) {
  auto* widget = new QLabel(&parent);
  Place(*widget, label);
  widget->setAlignment(AlignmentOf(label));
  widget->setWordWrap(label.WordWrap);
  auto update = [widget, &label] { widget->setText(ToQString(label.Caption())); };
  update();
  hooks.emplace_back(label, update);
  return widget;
}

QPushButton* MakeButton(QWidget& parent, TButton& button, std::list<ViewHook>& hooks) {
  auto* widget = new QPushButton(&parent);
  Place(*widget, button);
  widget->setDefault(button.Default);
  widget->setAutoDefault(button.Default);
  auto update = [widget, &button] { widget->setText(ToQString(button.Caption())); };
  update();
  hooks.emplace_back(button, update);
  return widget;
}

// The wait form: it must not be closed by the user, and Escape presses the
// Cancel button.
class WaitDialog final : public QDialog {
 public:
  explicit WaitDialog(TButton& cancel) : FCancel(cancel) {}

  void reject() override {
    if (FCancel.Cancel) FCancel.Click();
  }

 protected:
  void closeEvent(QCloseEvent* event) override { event->ignore(); }

 private:
  TButton& FCancel;
};

class WaitFormView final : public QtFormView {
 public:
  explicit WaitFormView(WaitFormParts& parts) : FDialog(new WaitDialog(parts.btnCancel)) {
    ApplyForm(*FDialog, parts.Form);
    MakeLabel(*FDialog, parts.lMessage, FHooks);
    QPushButton* cancel = MakeButton(*FDialog, parts.btnCancel, FHooks);
    QObject::connect(cancel, &QPushButton::clicked,
                     [&button = parts.btnCancel] { button.Click(); });
    auto* bar = new QProgressBar(FDialog.get());
    Place(*bar, parts.pb);
    bar->setTextVisible(false);
    auto updateBar = [bar, &pb = parts.pb] {
      bar->setRange(pb.Min, pb.Max);
      bar->setValue(pb.Position());
    };
    updateBar();
    FHooks.emplace_back(parts.pb, updateBar);
    QPushButton* background = MakeButton(*FDialog, parts.btnBgMode, FHooks);
    QObject::connect(background, &QPushButton::clicked,
                     [&button = parts.btnBgMode] { button.Click(); });
    FWidgets = {{&parts.btnCancel, cancel}, {&parts.btnBgMode, background}, {&parts.pb, bar}};
  }

  ~WaitFormView() override {
    FHooks.clear();
    FDialog->hide();
  }

  void SetVisible(bool visible) override {
    if (visible && !FPlaced) {
      CentreOnScreen(*FDialog);
      FPlaced = true;
    }
    FDialog->setVisible(visible);
  }

  void SetActiveControl(const TControl& control) override {
    for (const auto& [state, widget] : FWidgets) {
      if (state == &control) widget->setFocus();
    }
  }

  QWidget* Widget() const override { return FDialog.get(); }

 private:
  std::unique_ptr<WaitDialog> FDialog;
  std::list<ViewHook> FHooks;
  std::vector<std::pair<const TControl*, QWidget*>> FWidgets;
  bool FPlaced = false;
};

}  // namespace

std::unique_ptr<QtFormView> CreateWaitFormView(WaitFormParts& parts) {
  return std::make_unique<WaitFormView>(parts);
}

TModalResult RunPasswordDialog(PasswordDialogParts& parts) {
  QDialog dialog;
  ApplyForm(dialog, parts.Form);
  dialog.setWindowModality(Qt::ApplicationModal);
  std::list<ViewHook> hooks;
  MakeLabel(dialog, parts.Label1, hooks);
  MakeLabel(dialog, parts.lbName, hooks);

  auto* edit = new QLineEdit(&dialog);
  Place(*edit, parts.Pass);
  if (parts.Pass.PasswordChar != '\0') {
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QString("QLineEdit { lineedit-password-character: %1; }")
                            .arg(static_cast<int>(rtl::Win1252ToChar16(parts.Pass.PasswordChar))));
  }
  auto updateEdit = [edit, &pass = parts.Pass] {
    if (FromQString(edit->text()) != pass.Text()) edit->setText(ToQString(pass.Text()));
  };
  updateEdit();
  hooks.emplace_back(parts.Pass, updateEdit);
  QObject::connect(edit, &QLineEdit::textEdited,
                   [&pass = parts.Pass](const QString& text) { pass.SetText(FromQString(text)); });

  for (TButton* button : {&parts.cbOk, &parts.cbCancel}) {
    QPushButton* widget = MakeButton(dialog, *button, hooks);
    QObject::connect(widget, &QPushButton::clicked, [&dialog, button] {
      button->Click();
      if (button->ModalResult != mrNone) dialog.done(button->ModalResult);
    });
  }

  CentreOnScreen(dialog);
  edit->setFocus();
  const int result = dialog.exec();
  return result == mrOk ? mrOk : mrCancel;
}

}  // namespace ui::qt
