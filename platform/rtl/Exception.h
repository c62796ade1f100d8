// The root of every exception the system raises. Engine, plug-in and platform
// errors all derive from it, so a caller at a module boundary (an exported entry
// point, a dialog handler) can catch one type and show its message.
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

}  // namespace rtl
