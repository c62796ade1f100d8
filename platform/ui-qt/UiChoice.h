// Which ui::Ui a process gets: Qt's when it can show windows, NullUi otherwise.
//
// A process can show Qt windows when it has a display (DISPLAY for X11,
// WAYLAND_DISPLAY for Wayland) or names the Qt platform to use
// (QT_QPA_PLATFORM, e.g. "offscreen" for tests and screenshots). A variable
// that is set but empty names nothing. The choice makes no Qt object: a
// QtUi creates its application only when it first shows something.
#pragma once

#include <functional>
#include <memory>

#include "ui/Ui.h"

namespace ui::qt {

// Reads one environment variable; null when it is not set.
using EnvironmentReader = std::function<const char*(const char*)>;

// True when `getenv` gives a non-empty DISPLAY, WAYLAND_DISPLAY or
// QT_QPA_PLATFORM.
bool ProcessCanShowQt(const EnvironmentReader& getenv);

// Installs (ui::InstallUi) a QtUi when the process's environment can show Qt,
// else a NullUi writing to standard error, and hands it to the caller, who
// keeps it until after ui::UninstallUi. Raises what ui::InstallUi raises (a
// Ui is installed already) and what QtUi's constructor raises (the host's Qt
// application cannot show windows); nothing is installed then.
std::unique_ptr<Ui> InstallUiForEnvironment(const EnvironmentReader& getenv);
std::unique_ptr<Ui> InstallUiForEnvironment();

}  // namespace ui::qt
