// The platform's wide-text functions in the shape the engine binds them.
#include "foundation/VEXWideText.h"

#include <span>

#include "foundation/VEXStartup.h"
#include "text/Text.h"

namespace vex {

namespace {

int32_t PlatformCompareStringW(uint32_t /*Locale*/, uint32_t Flags, const char16_t* String1,
                               int32_t Count1, const char16_t* String2, int32_t Count2) {
  try {
    switch (text::CompareWide(String1, Count1, String2, Count2, (Flags & NORM_IGNORECASE) != 0)) {
      case text::Order::Less:
        return 1;
      case text::Order::Equal:
        return 2;
      case text::Order::Greater:
        return 3;
    }
  } catch (const text::TextError&) {
    // The platform reports a failed comparison by 0; the caller raises.
  }
  return 0;
}

uint32_t PlatformCharUpperBuffW(char16_t* Text, uint32_t Length) {
  text::UpperCaseInPlace(std::span<char16_t>(Text, Length));
  return Length;
}

uint32_t PlatformCharLowerBuffW(char16_t* Text, uint32_t Length) {
  text::LowerCaseInPlace(std::span<char16_t>(Text, Length));
  return Length;
}

// Bound by the engine's start-up, before anything compares or cases text.
constinit TVEXTextFunctions gBoundTextFunctions = {nullptr, nullptr, nullptr};

std::u16string CaseWideText(std::u16string_view S, uint32_t (*Function)(char16_t*, uint32_t)) {
  std::u16string result(S);
  if (!result.empty()) Function(result.data(), static_cast<uint32_t>(result.size()));
  return result;
}

}  // namespace

const TVEXTextFunctions& BoundTextFunctions() {
  if (gBoundTextFunctions.CompareStringW == nullptr)
    RaiseEngineNotStarted("The wide-text functions");
  return gBoundTextFunctions;
}

void BindTextFunctions() {
  gBoundTextFunctions = {PlatformCompareStringW, PlatformCharUpperBuffW, PlatformCharLowerBuffW};
}

void UnbindTextFunctions() noexcept { gBoundTextFunctions = {nullptr, nullptr, nullptr}; }

TVEXTextFunctions ReplaceBoundTextFunctions(const TVEXTextFunctions& Functions) {
  const TVEXTextFunctions previous = gBoundTextFunctions;
  gBoundTextFunctions = Functions;
  return previous;
}

std::u16string UpperCaseWideText(std::u16string_view S) {
  return CaseWideText(S, BoundTextFunctions().CharUpperBuffW);
}

std::u16string LowerCaseWideText(std::u16string_view S) {
  return CaseWideText(S, BoundTextFunctions().CharLowerBuffW);
}

}  // namespace vex
