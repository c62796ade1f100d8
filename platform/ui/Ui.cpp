#include "ui/Ui.h"

#include <atomic>

#include "rtl/Exception.h"

namespace ui {

namespace {

class NullFormView final : public FormView {
 public:
  void SetVisible(bool) override {}
  void SetActiveControl(const TControl&) override {}
};

std::atomic<Ui*> gInstalled{nullptr};

}  // namespace

void Ui::ProcessMessages() {
  HandlePendingEvents();
  TTimer::FireDue();
}

void Ui::DoRestore() {
  // A copy: the handler commonly puts another handler in its place.
  TNotifyEvent handler = OnRestore;
  if (handler) handler();
}

void NullUi::ShowMessageBox(TMsgDlgType, const std::string&) {}

bool NullUi::AskYesNo(const std::string&) { return false; }

TModalResult NullUi::ShowPasswordDialog(PasswordDialogParts&) { return mrCancel; }

std::unique_ptr<FormView> NullUi::CreateWaitForm(WaitFormParts&) {
  return std::make_unique<NullFormView>();
}

Ui& CurrentUi() {
  Ui* installed = gInstalled.load(std::memory_order_acquire);
  if (installed != nullptr) return *installed;
  static NullUi none;
  return none;
}

void InstallUi(Ui& ui) {
  Ui* expected = nullptr;
  if (!gInstalled.compare_exchange_strong(expected, &ui)) {
    throw rtl::Exception("A user interface is installed already");
  }
}

void UninstallUi() { gInstalled.store(nullptr); }

ScopedUi::ScopedUi(Ui& ui) : FPrevious(gInstalled.exchange(&ui)) {}

ScopedUi::~ScopedUi() { gInstalled.store(FPrevious); }

}  // namespace ui
