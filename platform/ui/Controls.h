// The state of a form's controls, kept apart from any toolkit.
//
// A dialog of this system is a controller that owns one object per control of
// its form (a label, a button, an edit, a progress bar) under the control's
// name, and a view (see Ui.h) that only shows that state and reports what the
// user does. The controller sets the controls; each control tells the one view
// that shows it (OnViewUpdate) after every change of what is shown. The view
// reports a click through TButton::Click and typing through TEdit::SetText.
//
// Geometry is the form's layout in pixels of its client area, as the form was
// designed; views place the controls there.
//
// TTimer is the form's timer. It fires on the thread that processes messages:
// Ui::ProcessMessages fires every enabled timer whose interval has passed on
// os::CurrentClock() since it was enabled or last fired, so a form's delays run
// in virtual time under a FakeClock. A timer never fires anywhere else.
//
// Threads: everything here belongs to the one thread that processes messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ui {

using TNotifyEvent = std::function<void()>;

// How a modal form was closed.
enum TModalResult : int32_t { mrNone = 0, mrOk = 1, mrCancel = 2 };

enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout : uint8_t { tlTop, tlCenter, tlBottom };

class TControl {
 public:
  TControl() = default;
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  // The control's name on its form; views use it to name their widgets.
  std::string Name;
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);

  // Set by the view that shows the control (and cleared when the view goes).
  TNotifyEvent OnViewUpdate;

 protected:
  void Changed() const;
};

class TLabel : public TControl {
 public:
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& caption);

  TAlignment Alignment = taLeftJustify;
  TTextLayout Layout = tlTop;
  bool WordWrap = false;

 private:
  std::string FCaption;
};

class TButton : public TControl {
 public:
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& caption);

  bool Default = false;  // Enter presses it
  bool Cancel = false;   // Escape presses it
  // The result a modal form closes with when the button is pressed (mrNone:
  // the form stays open).
  TModalResult ModalResult = mrNone;
  // Set by the controller, called by Click.
  TNotifyEvent OnClick;

  // The user pressed the button: runs OnClick (which may replace OnClick).
  void Click();

 private:
  std::string FCaption;
};

class TEdit : public TControl {
 public:
  const std::string& Text() const { return FText; }
  void SetText(const std::string& text);

  // Shown in place of every character; '\0' shows the text itself.
  char PasswordChar = '\0';

 private:
  std::string FText;
};

class TProgressBar : public TControl {
 public:
  int32_t Min = 0;
  int32_t Max = 100;
  bool Smooth = false;
  int32_t Step = 10;

  int32_t Position() const { return FPosition; }
  // Kept within Min .. Max.
  void SetPosition(int32_t position);

 private:
  int32_t FPosition = 0;
};

class TTimer {
 public:
  TTimer();
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  bool Enabled() const { return FEnabled; }
  // Enabling a disabled timer starts its interval now; enabling an enabled one
  // changes nothing.
  void SetEnabled(bool enabled);
  uint32_t Interval() const { return FInterval; }
  // Restarts the interval of an enabled timer. An interval of 0 never fires.
  void SetInterval(uint32_t ms);

  // May disable, re-enable or free the timer, and process messages.
  TNotifyEvent OnTimer;

  // Fires every timer that is due, each at most once per call. A timer enabled
  // or freed by another's OnTimer is seen as it is then.
  static void FireDue();

 private:
  bool FEnabled = false;
  uint32_t FInterval = 1000;
  uint64_t FDue = 0;       // tick at which it fires next
  uint64_t FLastPass = 0;  // the FireDue call that fired it last
  TTimer* FPrev = nullptr;
  TTimer* FNext = nullptr;
};

}  // namespace ui
