// The engine's exception: a message plus the native error code of the place
// that failed. Every raise site has its own code (10000s: internal consistency,
// 20000s: storage structures, 30000s: values, types, memory, constraints and
// SQL); the code is also appended to the message, so a text shown to a user
// still names the place of failure.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "rtl/Exception.h"
#include "rtl/Format.h"

namespace vex {

class EVEXException : public rtl::Exception {
 public:
  // The message is ErrorMsg unchanged, then " - Native error: " and the code.
  EVEXException(int32_t nativeErrorCode, std::string_view errorMsg);

  // ErrorMsg is a format string for Args. When formatting fails, the text is
  // ErrorMsg followed by " Arguments are invalid!", so the raise itself never
  // turns into a different failure.
  EVEXException(int32_t nativeErrorCode, std::string_view errorMsg,
                std::span<const rtl::FormatArg> args);

  template <class A0, class... A>
  EVEXException(int32_t nativeErrorCode, std::string_view errorMsg, const A0& arg0,
                const A&... args)
      : EVEXException(nativeErrorCode, errorMsg,
                      std::span<const rtl::FormatArg>(std::array<rtl::FormatArg, 1 + sizeof...(A)>{
                          rtl::FormatArg(arg0), rtl::FormatArg(args)...})) {}

  int32_t NativeError;
};

// The engine's one text for a missing object or buffer; callers give the code
// that says which one was missing.
[[noreturn]] void RaiseNilPointer(int32_t nativeErrorCode);

}  // namespace vex
