#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <map>
#include <string>

#include "rtl/Exception.h"
#include "ui-qt/QtUi.h"
#include "ui-qt/UiChoice.h"

namespace {

// An environment of the given variables only.
ui::qt::EnvironmentReader Environment(std::map<std::string, std::string> variables) {
  return [variables = std::move(variables)](const char* name) -> const char* {
    auto found = variables.find(name);
    return found == variables.end() ? nullptr : found->second.c_str();
  };
}

TEST(UiChoice, QtWhenTheProcessHasADisplayOrNamesAQtPlatform) {
  const struct {
    std::map<std::string, std::string> Variables;
    bool Qt;
  } cases[] = {
      {{}, false},
      {{{"DISPLAY", ":0"}}, true},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, true},
      {{{"QT_QPA_PLATFORM", "offscreen"}}, true},
      {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, false},
      {{{"TERM", "xterm"}, {"XDG_SESSION_TYPE", "x11"}}, false},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& [name, value] : c.Variables) shown += name + "='" + value + "' ";
    EXPECT_EQ(ui::qt::ProcessCanShowQt(Environment(c.Variables)), c.Qt) << shown;

    std::unique_ptr<ui::Ui> installed = ui::qt::InstallUiForEnvironment(Environment(c.Variables));
    EXPECT_EQ(&ui::CurrentUi(), installed.get()) << shown;
    EXPECT_EQ(dynamic_cast<ui::qt::QtUi*>(installed.get()) != nullptr, c.Qt) << shown;
    EXPECT_EQ(dynamic_cast<ui::NullUi*>(installed.get()) != nullptr, !c.Qt) << shown;
    ui::UninstallUi();
  }
}

TEST(UiChoice, NothingIsInstalledWhenAUiIsInstalledAlready) {
  ui::NullUi first;
  ui::InstallUi(first);
  EXPECT_THROW(ui::qt::InstallUiForEnvironment(Environment({{"DISPLAY", ":0"}})), rtl::Exception);
  EXPECT_EQ(&ui::CurrentUi(), &first);
  ui::UninstallUi();
}

// Exit codes of the fresh process below, one per way it can go wrong.
enum : int { kAsExpected = 0, kMadeEarly = 10, kNotMade, kNotKept, kNotReused };

// Runs in a process of its own (the death-test machinery re-executes the test
// program for it), so that no other test's QApplication is already there.
[[noreturn]] void SilentThenShown() {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  {
    std::unique_ptr<ui::Ui> installed = ui::qt::InstallUiForEnvironment();
    ui::Ui& current = ui::CurrentUi();
    // What a silent run does: no message, just the pump and the windows.
    current.ProcessMessages();
    current.Minimize();
    current.Restore();
    if (current.ActiveWindow() != nullptr) std::_Exit(kMadeEarly);
    ui::UninstallUi();
    if (QCoreApplication::instance() != nullptr) std::_Exit(kMadeEarly);
  }
  {
    ui::qt::QtUi shows;
    shows.SetClipboardText("shown");
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) std::_Exit(kNotMade);
  }
  QCoreApplication* made = QCoreApplication::instance();
  if (made == nullptr) std::_Exit(kNotKept);
  ui::qt::QtUi next;
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  next.ProcessMessages();
  if (QCoreApplication::instance() != made || next.ClipboardText() != "shown" || !ran)
    std::_Exit(kNotReused);
  std::exit(kAsExpected);
}

TEST(UiChoice, AQtUiThatShowsNothingMakesNoApplicationAndTheOneItMakesIsKept) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // re-executes the program: a fresh process
  EXPECT_EXIT(SilentThenShown(), ::testing::ExitedWithCode(kAsExpected), "");
  GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
