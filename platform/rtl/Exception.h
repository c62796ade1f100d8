// The root of every exception the system raises, and the platform's own error
// kinds. Engine, plug-in and platform errors all derive from rtl::Exception, so a
// caller at a module boundary (an exported entry point, a dialog handler) can
// catch one type and show its message.
//
// The error kinds below are the ones the run-time layer itself raises (text
// conversions, lists, integer arithmetic, streams, components). Each is an empty
// subclass: callers tell failures apart by type, and the message says the rest.
#pragma once

#include <exception>
#include <string>

namespace rtl {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}

  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }

  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// Text that does not convert to the asked type (numbers, dates, GUIDs, format
// strings and their arguments).
class EConvertError : public Exception {
  using Exception::Exception;
};

// Index out of range, duplicates refused by a sorted list, and similar misuse.
class EListError : public Exception {
  using Exception::Exception;
};
class EStringListError : public EListError {
  using EListError::EListError;
};

// Integer arithmetic: overflow and division by zero.
class EIntError : public Exception {
  using Exception::Exception;
};
class EIntOverflow : public EIntError {
  using EIntError::EIntError;
};
class EDivByZero : public EIntError {
  using EIntError::EIntError;
};

// Floating-point and currency arithmetic: overflow and division by zero.
class EMathError : public Exception {
  using Exception::Exception;
};
class EOverflow : public EMathError {
  using EMathError::EMathError;
};
class EZeroDivide : public EMathError {
  using EMathError::EMathError;
};
// A floating value that has no result in the asked form (a NaN or a value beyond
// the 64-bit range rounded to an integer): the platform's invalid-operation
// error of its floating-point arithmetic, a math error like the two above.
class EInvalidOp : public EMathError {
  using EMathError::EMathError;
};

// An operation the object's state does not allow.
class EInvalidOperation : public Exception {
  using Exception::Exception;
};

// A checked cast of an object to a class it is not of ("Invalid class typecast").
class EInvalidCast : public Exception {
  using Exception::Exception;
};

// Streams that transfer fewer bytes than asked (ReadBuffer, WriteBuffer).
class EStreamError : public Exception {
  using Exception::Exception;
};
class EReadError : public EStreamError {
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
  using EStreamError::EStreamError;
};

// A failed operating-system call; ErrorCode is its errno value.
class EOSError : public Exception {
 public:
  EOSError(std::string message, int errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  int ErrorCode;
};

// Component names (invalid or duplicate within an owner).
class EComponentError : public Exception {
  using Exception::Exception;
};

// Variant values that do not convert to the asked type, and bad array bounds.
class EVariantError : public Exception {
  using Exception::Exception;
};
class EVariantTypeCastError : public EVariantError {
  using EVariantError::EVariantError;
};

}  // namespace rtl
