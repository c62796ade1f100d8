#include "ui-qt/UiChoice.h"

#include <cstdlib>

#include "ui-qt/QtUi.h"

namespace ui::qt {

bool ProcessCanShowQt(const EnvironmentReader& getenv) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

std::unique_ptr<Ui> InstallUiForEnvironment(const EnvironmentReader& getenv) {
  std::unique_ptr<Ui> chosen;
  if (ProcessCanShowQt(getenv)) {
    chosen = std::make_unique<QtUi>();
  } else {
    chosen = std::make_unique<NullUi>();
  }
  InstallUi(*chosen);
  return chosen;
}

std::unique_ptr<Ui> InstallUiForEnvironment() {
  return InstallUiForEnvironment([](const char* name) { return std::getenv(name); });
}

}  // namespace ui::qt
