#include "ui/Controls.h"

#include <algorithm>

#include "os/Clock.h"

namespace ui {

namespace {

// Every timer that exists, in creation order: the message pump's list of
// timers. Plain pointers so that it needs no construction at start-up.
TTimer* gFirstTimer = nullptr;
TTimer* gLastTimer = nullptr;
uint64_t gFirePass = 0;

uint64_t Now() { return os::CurrentClock().TickCount(); }

}  // namespace

void TControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  Left = left;
  Top = top;
  Width = width;
  Height = height;
  Changed();
}

void TControl::Changed() const {
  if (OnViewUpdate) OnViewUpdate();
}

void TLabel::SetCaption(const std::string& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  Changed();
}

void TButton::SetCaption(const std::string& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  Changed();
}

void TButton::Click() {
  // A copy, since the handler may replace itself.
  TNotifyEvent handler = OnClick;
  if (handler) handler();
}

void TEdit::SetText(const std::string& text) {
  if (text == FText) return;
  FText = text;
  Changed();
}

void TProgressBar::SetPosition(int32_t position) {
  position = std::clamp(position, Min, std::max(Min, Max));
  if (position == FPosition) return;
  FPosition = position;
  Changed();
}

TTimer::TTimer() {
  FPrev = gLastTimer;
  if (gLastTimer != nullptr) {
    gLastTimer->FNext = this;
  } else {
    gFirstTimer = this;
  }
  gLastTimer = this;
}

TTimer::~TTimer() {
  (FPrev != nullptr ? FPrev->FNext : gFirstTimer) = FNext;
  (FNext != nullptr ? FNext->FPrev : gLastTimer) = FPrev;
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == FEnabled) return;
  FEnabled = enabled;
  if (enabled) FDue = Now() + FInterval;
}

void TTimer::SetInterval(uint32_t ms) {
  FInterval = ms;
  if (FEnabled) FDue = Now() + FInterval;
}

void TTimer::FireDue() {
  const uint64_t pass = ++gFirePass;
  // Start over after every handler: it may have freed or armed any timer.
  for (;;) {
    const uint64_t now = Now();
    TTimer* due = gFirstTimer;
    while (due != nullptr &&
           !(due->FEnabled && due->FInterval > 0 && due->FLastPass != pass && now >= due->FDue)) {
      due = due->FNext;
    }
    if (due == nullptr) return;
    due->FLastPass = pass;
    due->FDue = now + due->FInterval;
    TNotifyEvent handler = due->OnTimer;  // the handler may free the timer
    if (handler) handler();
  }
}

}  // namespace ui
