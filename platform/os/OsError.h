// Errors of the operating-system layer.
//
// Operations whose callers need a yes/no answer (reads, writes, locks, size,
// flush) report failure by their result and leave the system's error code in the
// calling thread's last error, the way the engine above expects a platform to
// behave. Operations without such a caller (creating a temporary file, finding the
// Documents folder) throw OsError instead. Both carry an errno value; ErrorText
// turns it into the system's text.
//
// Threads: the last error is per thread, so concurrent calls never see each
// other's codes.
#pragma once

#include <cerrno>
#include <string>

#include "rtl/Exception.h"

namespace os {

// The code a lock or open gets when another handle's lock or share mode stands in
// the way. It is never the code of a failing device, file system or network.
inline constexpr int kSharingViolation = EBUSY;

// The errno value left by the last failed call of this layer on the calling
// thread; 0 when none has failed yet. A successful call does not reset it.
int LastError() noexcept;

// Sets the calling thread's last error (for the layer itself and for test fakes).
void SetLastError(int code) noexcept;

// The system's text for an errno value ("No such file or directory"); never
// fails: an unknown code gives "Unknown error <code>".
std::string ErrorText(int code);

// A failure of an operating-system call: the message says what was attempted,
// Code() is the errno value.
class OsError : public rtl::Exception {
 public:
  OsError(std::string message, int code) : rtl::Exception(std::move(message)), FCode(code) {}

  int Code() const noexcept { return FCode; }

 private:
  int FCode;
};

}  // namespace os
