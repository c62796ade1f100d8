// "Raises native error N": the engine's exceptions checked by their code.
//
//   EXPECT_THAT([&] { mm.GetMem(0); }, RaisesNativeError(30286));
//   EXPECT_EQ(CodeOf([&] { ... }, &message), 20186);
//   const EVEXException e = Raised([&] { ... });  // fails the test when none
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/VEXExcept.h"

namespace testsupport {

// The EVEXException f raises; nothing when it raises none. Other exceptions
// pass through.
template <class F>
std::optional<vex::EVEXException> Caught(F&& f) {
  try {
    f();
  } catch (const vex::EVEXException& e) {
    return e;
  }
  return std::nullopt;
}

// The EVEXException f raises; fails the test when it raises none.
template <class F>
vex::EVEXException Raised(F&& f) {
  std::optional<vex::EVEXException> e = Caught(f);
  if (e) return *e;
  ADD_FAILURE() << "no EVEXException raised";
  return vex::EVEXException(0, "none");
}

// The native code of the EVEXException f raises (its message into *message);
// 0 when it raises none.
template <class F>
int32_t CodeOf(F&& f, std::string* message = nullptr) {
  std::optional<vex::EVEXException> e = Caught(f);
  if (!e) return 0;
  if (message != nullptr) *message = e->what();
  return e->NativeError;
}

// The message of the EVEXException f raises (its code into *code), or
// "<no exception>".
template <class F>
std::string MessageOf(F&& f, int32_t* code = nullptr) {
  std::string message = "<no exception>";
  const int32_t raised = CodeOf(f, &message);
  if (code != nullptr) *code = raised;
  return message;
}

// Expects f to raise an EVEXException with that code; answers its message.
template <class F>
std::string ExpectVEXError(int32_t code, F&& f) {
  std::string message;
  const int32_t raised = CodeOf(f, &message);
  if (raised == 0) {
    ADD_FAILURE() << "no exception; expected native error " << code;
  } else {
    EXPECT_EQ(raised, code) << message;
  }
  return message;
}

// Matches a callable that raises an EVEXException with that code.
MATCHER_P(RaisesNativeError, code, "raises native error " + std::to_string(code)) {
  std::string message;
  const int32_t raised = CodeOf(arg, &message);
  if (raised == 0) {
    *result_listener << "raises no engine error";
  } else {
    *result_listener << "raises " << message;
  }
  return raised == code;
}

}  // namespace testsupport
