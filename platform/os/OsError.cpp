#include "os/OsError.h"

#include <cstring>

namespace os {

namespace {
thread_local int tLastError = 0;
}

int LastError() noexcept { return tLastError; }

void SetLastError(int code) noexcept { tLastError = code; }

std::string ErrorText(int code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not live in `buffer`.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : "Unknown error " + std::to_string(code);
}

}  // namespace os
