#include "ui-qt/QtUi.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <vector>

#include "rtl/Exception.h"
#include "ui-qt/QtViews.h"

namespace ui::qt {

namespace {

// A QApplication keeps references to these for its whole life.
int gArgc = 1;
char gArg0[] = "valmora";
char* gArgv[] = {gArg0, nullptr};

class QtWindowRef final : public WindowRef {
 public:
  explicit QtWindowRef(QWidget* window) : FWindow(window) {}
  void Activate() override {
    if (FWindow) FWindow->activateWindow();
  }

 private:
  QPointer<QWidget> FWindow;
};

class QtTaskWindowList final : public TaskWindowList {
 public:
  explicit QtTaskWindowList(std::vector<QPointer<QWidget>> windows)
      : FWindows(std::move(windows)) {}
  ~QtTaskWindowList() override {
    for (const QPointer<QWidget>& window : FWindows) {
      if (window) window->setEnabled(true);
    }
  }

 private:
  std::vector<QPointer<QWidget>> FWindows;
};

}  // namespace

// Watches the windows it minimised: when the user brings one back, the
// application is restored.
struct QtUi::State final : QObject {
  explicit State(QtUi& owner) : Owner(owner) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (Minimized && event->type() == QEvent::WindowStateChange) {
      auto* window = qobject_cast<QWidget*>(watched);
      if (window != nullptr && window->isWindow() && !window->isMinimized()) Owner.Restored();
    }
    return false;
  }

  QtUi& Owner;
  std::unique_ptr<QApplication> OwnApplication;
  bool Minimized = false;
  std::vector<QPointer<QWidget>> MinimizedWindows;
};

QtUi::QtUi() {
  std::unique_ptr<QApplication> own;
  if (QCoreApplication::instance() == nullptr) {
    own = std::make_unique<QApplication>(gArgc, gArgv);
  } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    throw rtl::Exception("The host's Qt application cannot show windows");
  }
  F = std::make_unique<State>(*this);
  F->OwnApplication = std::move(own);
  qApp->installEventFilter(F.get());
}

QtUi::~QtUi() {
  qApp->removeEventFilter(F.get());
  std::unique_ptr<QApplication> own = std::move(F->OwnApplication);
  F.reset();
}

void QtUi::ShowMessageBox(TMsgDlgType type, const std::string& text) {
  QMessageBox::Icon icon = QMessageBox::Information;
  const char* title = "Information";
  switch (type) {
    case mtWarning:
      icon = QMessageBox::Warning;
      title = "Warning";
      break;
    case mtError:
      icon = QMessageBox::Critical;
      title = "Error";
      break;
    case mtConfirmation:
      icon = QMessageBox::Question;
      title = "Confirm";
      break;
    case mtInformation:
      break;
  }
  QMessageBox box(icon, title, ToQString(text), QMessageBox::Ok);
  box.exec();
}

bool QtUi::AskYesNo(const std::string& text) {
  QMessageBox box(QMessageBox::Question, "Confirm", ToQString(text),
                  QMessageBox::Yes | QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void QtUi::ShowTaskMessage(const TaskMessage& message) {
  QMessageBox box(message.Icon == tiError ? QMessageBox::Critical : QMessageBox::Information,
                  ToQString(message.Title), ToQString(message.Instruction), QMessageBox::NoButton);
  box.setObjectName("TaskMessage");
  box.setInformativeText(ToQString(message.Content));
  if (!message.ExpandedText.empty()) box.setDetailedText(ToQString(message.ExpandedText));
  // The caller's caption on the one button; Escape and the close box press it too.
  QPushButton* button = box.addButton(ToQString(message.ButtonCaption), QMessageBox::AcceptRole);
  box.setDefaultButton(button);
  box.setEscapeButton(button);
  box.exec();
}

void QtUi::ShowErrorMessage(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), ToQString(text),
                  QMessageBox::Ok);
  box.setObjectName("ErrorMessage");
  box.exec();
}

void QtUi::SetClipboardText(const std::string& text) {
  QGuiApplication::clipboard()->setText(ToQString(text));
}

std::string QtUi::ClipboardText() { return FromQString(QGuiApplication::clipboard()->text()); }

TModalResult QtUi::ShowPasswordDialog(PasswordDialogParts& parts) {
  return RunPasswordDialog(parts);
}

std::unique_ptr<FormView> QtUi::CreateWaitForm(WaitFormParts& parts) {
  return CreateWaitFormView(parts);
}

void QtUi::HandlePendingEvents() { QCoreApplication::processEvents(); }

void QtUi::Minimize() {
  if (F->Minimized) return;
  F->Minimized = true;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isWindow() && window->isVisible() && !window->isMinimized()) {
      F->MinimizedWindows.emplace_back(window);
      window->showMinimized();
    }
  }
}

void QtUi::Restore() {
  if (F->Minimized) Restored();
}

void QtUi::Restored() {
  F->Minimized = false;
  std::vector<QPointer<QWidget>> windows = std::move(F->MinimizedWindows);
  F->MinimizedWindows.clear();
  for (const QPointer<QWidget>& window : windows) {
    if (window && window->isMinimized()) window->showNormal();
  }
  DoRestore();
}

bool QtUi::Minimized() const { return F->Minimized; }

std::unique_ptr<WindowRef> QtUi::ActiveWindow() {
  QWidget* window = QApplication::activeWindow();
  if (window == nullptr) return nullptr;
  return std::make_unique<QtWindowRef>(window);
}

std::unique_ptr<TaskWindowList> QtUi::DisableTaskWindows(const FormView& except) {
  const auto* view = dynamic_cast<const QtFormView*>(&except);
  QWidget* keep = view != nullptr ? view->Widget() : nullptr;
  std::vector<QPointer<QWidget>> disabled;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window != keep && window->isWindow() && window->isVisible() && window->isEnabled()) {
      window->setEnabled(false);
      disabled.emplace_back(window);
    }
  }
  if (disabled.empty()) return nullptr;
  return std::make_unique<QtTaskWindowList>(std::move(disabled));
}

}  // namespace ui::qt
