#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <cstdio>
#include <functional>
#include <memory>

#include "components/VEXDatabase.h"
#include "components/dialogs/VEXDlgWait.h"
#include "components/dialogs/VEXPasswordDialog.h"
#include "os/Clock.h"
#include "ui-qt/QtUi.h"

namespace {

// One QtUi for the whole test program. The QApplication is the process's from
// the first test that needs it on.
class QtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override { Ui = std::make_unique<ui::qt::QtUi>(); }
  void TearDown() override { Ui.reset(); }
  static inline std::unique_ptr<ui::qt::QtUi> Ui;
};
[[maybe_unused]] ::testing::Environment* const gQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

template <typename T>
T* Child(QWidget& window, const char* name) {
  T* child = window.findChild<T*>(name);
  EXPECT_NE(child, nullptr) << name;
  return child;
}

QWidget* TopLevel(const char* name) {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->objectName() == name) return window;
  }
  return nullptr;
}

// Plays the user in the next modal window, which it closes in any case.
void WhenModalOpens(std::function<void(QWidget&)> user) {
  QTimer::singleShot(0, [user] {
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    QPointer<QWidget> guard(modal);
    user(*modal);
    if (guard && guard->isVisible()) guard->close();
  });
}

class QtViews : public ::testing::Test {
 protected:
  // The tests build widgets of their own before the QtUi shows anything.
  void SetUp() override { ui::qt::EnsureApplication(); }

  os::FakeClock FClock{1000};
  os::ScopedClock FClockScope{FClock};
  ui::ScopedUi FUiScope{*QtEnvironment::Ui};
};

TEST_F(QtViews, WaitFormRendersAsDesignedAndAbortReachesTerminated) {
  QWidget host;
  host.setObjectName("host");
  host.show();
  vex::TfrmWait form;
  form.pb.SetPosition(0);
  form.Show("Compacting Database...");
  QWidget* window = TopLevel("frmWait");
  ASSERT_NE(window, nullptr);
  QtEnvironment::Ui->ProcessMessages();
  EXPECT_FALSE(window->isVisible());

  FClock.Advance(500);
  QtEnvironment::Ui->ProcessMessages();
  ASSERT_TRUE(window->isVisible());
  EXPECT_FALSE(host.isEnabled());
  EXPECT_TRUE(window->isEnabled());
  EXPECT_EQ(window->windowTitle(), "Please Wait...");
  EXPECT_EQ(window->size(), QSize(312, 118));
  EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_EQ(window->grab().size(), QSize(312, 118));

  auto* message = Child<QLabel>(*window, "lMessage");
  auto* abort = Child<QPushButton>(*window, "btnCancel");
  auto* bar = Child<QProgressBar>(*window, "pb");
  auto* background = Child<QPushButton>(*window, "btnBgMode");
  ASSERT_TRUE(message && abort && bar && background);
  EXPECT_EQ(message->text(), "Compacting Database...");
  EXPECT_EQ(message->geometry(), QRect(0, 0, 312, 49));
  EXPECT_TRUE(message->wordWrap());
  EXPECT_EQ(message->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
  EXPECT_EQ(abort->text(), "Abort");
  EXPECT_EQ(abort->geometry(), QRect(104, 89, 75, 25));
  EXPECT_TRUE(abort->isDefault());
  EXPECT_EQ(bar->geometry(), QRect(16, 64, 281, 16));
  EXPECT_EQ(background->text(), "Background Mode");
  EXPECT_EQ(background->geometry(), QRect(192, 88, 105, 25));

  form.pb.SetPosition(40);
  EXPECT_EQ(bar->value(), 40);
  EXPECT_EQ(bar->maximum(), 100);

  QTest::mouseClick(abort, Qt::LeftButton);
  EXPECT_TRUE(form.Terminated);

  form.Close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(host.isEnabled());
}

TEST_F(QtViews, BackgroundModeMinimisesAndTheUserRestoringBringsTheWaitFormBack) {
  QWidget host;
  host.show();
  vex::TfrmWait form;
  form.Show("Repairing Database...");
  FClock.Advance(500);
  QtEnvironment::Ui->ProcessMessages();
  QWidget* window = TopLevel("frmWait");
  ASSERT_TRUE(window != nullptr && window->isVisible());

  QTest::mouseClick(Child<QPushButton>(*window, "btnBgMode"), Qt::LeftButton);
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(host.isMinimized());
  EXPECT_TRUE(host.isEnabled());

  host.showNormal();  // the user brings the application back
  EXPECT_FALSE(QtEnvironment::Ui->Minimized());
  FClock.Advance(499);
  QtEnvironment::Ui->ProcessMessages();
  EXPECT_FALSE(window->isVisible());
  FClock.Advance(1);
  QtEnvironment::Ui->ProcessMessages();
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(host.isEnabled());
  form.Close();
  EXPECT_TRUE(host.isEnabled());
}

TEST_F(QtViews, PasswordDialogRendersAsDesignedAndTypedTextAndOkReachThePassword) {
  vex::TVEXDatabase database(nullptr);
  database.SetPassword("old");
  bool checked = false;
  WhenModalOpens([&](QWidget& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Database authentication");
    EXPECT_EQ(dialog.size(), QSize(216, 118));
    EXPECT_FALSE(dialog.grab().isNull());
    auto* name = Child<QLabel>(dialog, "lbName");
    auto* label = Child<QLabel>(dialog, "Label1");
    auto* pass = Child<QLineEdit>(dialog, "Pass");
    auto* ok = Child<QPushButton>(dialog, "cbOk");
    auto* cancel = Child<QPushButton>(dialog, "cbCancel");
    ASSERT_TRUE(name && label && pass && ok && cancel);
    EXPECT_EQ(name->text(), "Front desk");
    EXPECT_EQ(name->geometry().topLeft(), QPoint(8, 8));
    EXPECT_EQ(name->width(), 193);
    EXPECT_EQ(label->text(), "Password:");
    EXPECT_EQ(label->geometry().topLeft(), QPoint(8, 36));
    EXPECT_EQ(pass->geometry(), QRect(72, 32, 130, 21));
    EXPECT_EQ(pass->text(), "");
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->geometry(), QRect(8, 72, 75, 25));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(cancel->text(), "Cancel");
    EXPECT_EQ(cancel->geometry(), QRect(128, 72, 75, 25));

    QTest::keyClick(pass, 's');
    QTest::sendKeyEvent(QTest::Click, pass, Qt::Key_unknown, QString::fromUtf8("\xC3\xA9"),
                        Qt::NoModifier);
    QTest::keyClicks(pass, "same");
    EXPECT_EQ(pass->displayText(), "******");
    QTest::mouseClick(ok, Qt::LeftButton);
    checked = true;
  });
  EXPECT_TRUE(vex::ShowPasswordDialog(database, "Front desk"));
  EXPECT_TRUE(checked);
  EXPECT_EQ(database.Password(), "s\xE9same");
}

TEST_F(QtViews, PasswordDialogCancelledByButtonOrEscapeLeavesThePassword) {
  vex::TVEXDatabase database(nullptr);
  database.SetPassword("old");
  WhenModalOpens([](QWidget& dialog) {
    QTest::keyClicks(Child<QLineEdit>(dialog, "Pass"), "typed");
    QTest::mouseClick(Child<QPushButton>(dialog, "cbCancel"), Qt::LeftButton);
  });
  EXPECT_FALSE(vex::ShowPasswordDialog(database, ""));
  WhenModalOpens([](QWidget& dialog) {
    QTest::keyClicks(Child<QLineEdit>(dialog, "Pass"), "typed");
    QTest::keyClick(&dialog, Qt::Key_Escape);
  });
  EXPECT_FALSE(vex::ShowPasswordDialog(database, ""));
  EXPECT_EQ(database.Password(), "old");
}

TEST_F(QtViews, QuestionAnswersWhatTheUserClicked) {
  for (bool yes : {true, false}) {
    WhenModalOpens([yes](QWidget& box) {
      auto& message = dynamic_cast<QMessageBox&>(box);
      EXPECT_EQ(message.text(), "Do you want to repair it?");
      message.button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    EXPECT_EQ(QtEnvironment::Ui->AskYesNo("Do you want to repair it?"), yes);
  }
}

}  // namespace

namespace {

// The directory in the build tree where the tests leave screenshots for a
// person to look at.
QString ScreenshotDir() {
  QDir dir(QDir::current().filePath("screenshots"));
  dir.mkpath(".");
  return dir.absolutePath();
}

// More than one colour: something was drawn.
bool NotBlank(const QImage& image) {
  if (image.isNull()) return false;
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != first) return true;
  return false;
}

TEST_F(QtViews, TaskMessageShowsTitleIconTextsDetailsAndTheOneCaptionedButton) {
  const ui::TaskMessage message{"Information",
                                ui::tiInformation,
                                "New reservation",
                                "2 - new reservation(s) recorded (1 - cancelled)",
                                "Booking no. - LB-1\n\rBooking no. - LB-2\n\r",
                                "Schlie\xDF"
                                "en"};
  bool seen = false;
  WhenModalOpens([&](QWidget& window) {
    auto& box = dynamic_cast<QMessageBox&>(window);
    seen = true;
    EXPECT_EQ(box.objectName(), "TaskMessage");
    EXPECT_EQ(box.windowTitle(), "Information");
    EXPECT_EQ(box.icon(), QMessageBox::Information);
    EXPECT_EQ(box.text(), "New reservation");
    EXPECT_EQ(box.informativeText(), "2 - new reservation(s) recorded (1 - cancelled)");
    EXPECT_TRUE(box.detailedText().contains("LB-2"));
    // One button of the caller's caption; the details toggle beside it is no choice.
    QList<QAbstractButton*> buttons;
    for (QAbstractButton* button : box.buttons())
      if (box.buttonRole(button) != QMessageBox::ActionRole) buttons.push_back(button);
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(box.buttons().size(), 2);
    EXPECT_EQ(buttons[0]->text(), QString::fromUtf8("Schlie\xC3\x9F"
                                                    "en"));
    const QString path = ScreenshotDir() + "/task-message.png";
    ASSERT_TRUE(box.grab().save(path));
    std::printf("screenshot: %s\n", path.toUtf8().constData());
    EXPECT_TRUE(NotBlank(QImage(path)));
    buttons[0]->click();
  });
  QtEnvironment::Ui->ShowTaskMessage(message);
  EXPECT_TRUE(seen);

  // An error message without expanded text has no details; Escape closes it.
  WhenModalOpens([&](QWidget& window) {
    auto& box = dynamic_cast<QMessageBox&>(window);
    EXPECT_EQ(box.icon(), QMessageBox::Critical);
    EXPECT_EQ(box.detailedText(), "");
    EXPECT_EQ(box.buttons().size(), 1);
    QTest::keyClick(&box, Qt::Key_Escape);
    EXPECT_FALSE(box.isVisible());
  });
  QtEnvironment::Ui->ShowTaskMessage(
      {"Error", ui::tiError, "Error", "Connection refused", "", "Close"});
}

TEST_F(QtViews, ErrorMessageShowsTheFailureTextWithTheCriticalIcon) {
  WhenModalOpens([](QWidget& window) {
    auto& box = dynamic_cast<QMessageBox&>(window);
    EXPECT_EQ(box.objectName(), "ErrorMessage");
    EXPECT_EQ(box.icon(), QMessageBox::Critical);
    EXPECT_EQ(box.text(), QString::fromUtf8("'\xC3\xA9' is not a valid integer value"));
    box.button(QMessageBox::Ok)->click();
  });
  QtEnvironment::Ui->ShowErrorMessage("'\xE9' is not a valid integer value");
}

TEST_F(QtViews, ClipboardCarriesTextBothWays) {
  QtEnvironment::Ui->SetClipboardText("<valmora>caf\xE9</valmora>");
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            QString::fromUtf8("<valmora>caf\xC3\xA9</valmora>"));
  EXPECT_EQ(QtEnvironment::Ui->ClipboardText(), "<valmora>caf\xE9</valmora>");
  QGuiApplication::clipboard()->setText("from another program");
  EXPECT_EQ(QtEnvironment::Ui->ClipboardText(), "from another program");
}

TEST_F(QtViews, ProcessingPendingMessagesDeliversPostedEvents) {
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  QtEnvironment::Ui->ProcessMessages();
  EXPECT_TRUE(ran);
}

}  // namespace
