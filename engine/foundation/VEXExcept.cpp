#include "foundation/VEXExcept.h"

#include <charconv>
#include <new>

namespace vex {

namespace {

constexpr std::string_view kNativeErrorPart = " - Native error: ";
constexpr std::string_view kInvalidArguments = " Arguments are invalid!";

// Text, the native-error separator and the code right-aligned in five columns.
std::string ComposeMessage(std::string_view text, std::string_view suffix, int32_t code) {
  char digits[16];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, code);
  (void)ec;  // an int32 always fits
  const size_t digitCount = static_cast<size_t>(end - digits);
  const size_t padding = digitCount < 5 ? 5 - digitCount : 0;

  std::string message;
  message.reserve(text.size() + suffix.size() + kNativeErrorPart.size() + padding + digitCount);
  message.append(text);
  message.append(suffix);
  message.append(kNativeErrorPart);
  message.append(padding, ' ');
  message.append(digits, digitCount);
  return message;
}

std::string FormatOrFallback(std::string_view errorMsg, std::span<const rtl::FormatArg> args,
                             int32_t code) {
  std::string text;
  try {
    text = rtl::FormatV(errorMsg, args);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    return ComposeMessage(errorMsg, kInvalidArguments, code);
  }
  return ComposeMessage(text, {}, code);
}

}  // namespace

EVEXException::EVEXException(int32_t nativeErrorCode, std::string_view errorMsg)
    : rtl::Exception(ComposeMessage(errorMsg, {}, nativeErrorCode)), NativeError(nativeErrorCode) {}

EVEXException::EVEXException(int32_t nativeErrorCode, std::string_view errorMsg,
                             std::span<const rtl::FormatArg> args)
    : rtl::Exception(FormatOrFallback(errorMsg, args, nativeErrorCode)),
      NativeError(nativeErrorCode) {}

void RaiseNilPointer(int32_t nativeErrorCode) {
  throw EVEXException(nativeErrorCode, "Nil pointer occured");
}

}  // namespace vex
