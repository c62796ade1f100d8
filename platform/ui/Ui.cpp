#include "ui/Ui.h"

#include <atomic>
#include <iostream>
#include <ostream>

#include "rtl/CodePage.h"
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

NullUi::NullUi() : FLog(&std::cerr) {}

NullUi::NullUi(std::ostream& log) : FLog(&log) {}

void NullUi::ShowMessageBox(TMsgDlgType, const std::string&) {}

std::string TaskMessageText(const TaskMessage& message) {
  std::string text = message.Icon == tiError ? "[error] " : "[information] ";
  text += message.Title;
  text += '\n';
  for (const std::string* part : {&message.Instruction, &message.Content, &message.ExpandedText}) {
    if (part->empty()) continue;
    // Every line of a part indented, whatever line ends it uses.
    size_t begin = 0;
    while (begin <= part->size()) {
      size_t end = part->find_first_of("\r\n", begin);
      if (end == std::string::npos) end = part->size();
      if (end > begin) {
        text += "  ";
        text.append(*part, begin, end - begin);
        text += '\n';
      }
      begin = end + 1;
    }
  }
  return text;
}

void NullUi::ShowTaskMessage(const TaskMessage& message) {
  *FLog << rtl::Win1252ToUtf8(TaskMessageText(message)) << std::flush;
}

void NullUi::ShowErrorMessage(const std::string& text) {
  *FLog << "[error] " << rtl::Win1252ToUtf8(text) << '\n' << std::flush;
}

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
