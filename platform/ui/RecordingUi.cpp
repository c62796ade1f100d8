#include "ui/RecordingUi.h"

namespace ui {

namespace {

class RecordedFormView final : public FormView {
 public:
  void SetVisible(bool) override {}
  void SetActiveControl(const TControl&) override {}
};

}  // namespace

std::unique_ptr<FormView> RecordingUi::CreateWaitForm(WaitFormParts&) {
  return std::make_unique<RecordedFormView>();
}

void RecordingUi::ShowTaskMessage(const TaskMessage& message) {
  TaskMessages.push_back(message);
  // A copy: the handler may replace itself.
  std::function<void(const TaskMessage&)> handler = OnTaskMessage;
  if (handler) handler(message);
}

void RecordingUi::ShowErrorMessage(const std::string& text) { ErrorMessages.push_back(text); }

void RecordingUi::SetClipboardText(const std::string& text) {
  ClipboardWrites.push_back(text);
  FClipboard = text;
}

}  // namespace ui
