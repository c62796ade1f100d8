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

constexpr const char* kNoWidgets = "The host's Qt application cannot show windows";

// The process's application when it can show widgets, else null; creates none.
QApplication* ExistingApplication() {
  return qobject_cast<QApplication*>(QCoreApplication::instance());
}

// The QApplication this library created for a host without one. Never
// destroyed: widgets, fonts and the platform plug-in hang on it until the
// process ends, and a second one after it would not get them back.
QApplication* gOwnApplication = nullptr;

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
  // The application this State filters events of; null until Attach.
  QPointer<QCoreApplication> Watched;
  bool Minimized = false;
  std::vector<QPointer<QWidget>> MinimizedWindows;
};

void EnsureApplication() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    gOwnApplication = new QApplication(gArgc, gArgv);
  } else if (qobject_cast<QApplication*>(app) == nullptr) {
    throw rtl::Exception(kNoWidgets);
  }
}

QtUi::QtUi() {
  if (QCoreApplication::instance() != nullptr && ExistingApplication() == nullptr) {
    throw rtl::Exception(kNoWidgets);
  }
  F = std::make_unique<State>(*this);
}

QtUi::~QtUi() {
  if (F->Watched) F->Watched->removeEventFilter(F.get());
}

// Every method that shows something calls this first.
void QtUi::Attach() {
  EnsureApplication();
  if (F->Watched != QCoreApplication::instance()) {
    if (F->Watched) F->Watched->removeEventFilter(F.get());
    F->Watched = QCoreApplication::instance();
    F->Watched->installEventFilter(F.get());
  }
}

void QtUi::ShowMessageBox(TMsgDlgType type, const std::string& text) {
  Attach();
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
  Attach();
  QMessageBox box(QMessageBox::Question, "Confirm", ToQString(text),
                  QMessageBox::Yes | QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void QtUi::ShowTaskMessage(const TaskMessage& message) {
  Attach();
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
  Attach();
  QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), ToQString(text),
                  QMessageBox::Ok);
  box.setObjectName("ErrorMessage");
  box.exec();
}

void QtUi::SetClipboardText(const std::string& text) {
  Attach();
  QGuiApplication::clipboard()->setText(ToQString(text));
}

std::string QtUi::ClipboardText() {
  Attach();
  return FromQString(QGuiApplication::clipboard()->text());
}

TModalResult QtUi::ShowPasswordDialog(PasswordDialogParts& parts) {
  Attach();
  return RunPasswordDialog(parts);
}

std::unique_ptr<FormView> QtUi::CreateWaitForm(WaitFormParts& parts) {
  Attach();
  return CreateWaitFormView(parts);
}

// Without an application nothing can be pending.
void QtUi::HandlePendingEvents() {
  if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents();
}

// Without an application there are no windows to minimise; the application
// still counts as minimised, so that Restore runs the restore handler.
void QtUi::Minimize() {
  if (F->Minimized) return;
  F->Minimized = true;
  if (ExistingApplication() == nullptr) return;
  Attach();
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
  if (ExistingApplication() == nullptr) return nullptr;
  QWidget* window = QApplication::activeWindow();
  if (window == nullptr) return nullptr;
  return std::make_unique<QtWindowRef>(window);
}

std::unique_ptr<TaskWindowList> QtUi::DisableTaskWindows(const FormView& except) {
  const auto* view = dynamic_cast<const QtFormView*>(&except);
  QWidget* keep = view != nullptr ? view->Widget() : nullptr;
  if (ExistingApplication() == nullptr) return nullptr;
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
