// The error with which the dataset components report the result of a record
// operation of a cursor (add, edit, cancel, post, delete). A cursor does not
// raise for a conflict: it leaves a negative result code, and the dataset
// raises this error for it. Derived from the dataset framework's database
// error, so an application's edit, post and delete error handlers receive it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/DBCommon.h"

namespace vex {

class EVEXEngineError : public db::EDatabaseError {
 public:
  // ErrorMessage is the code's own text; only for -8 (a record that failed its
  // checks while it was validated or prepared) it is ErrMessage, the text of
  // that failure. A code without a text leaves it empty. The message is
  // "Vexolite Engine Error # ", the code, a blank and ErrorMessage.
  EVEXEngineError(int32_t ErrorCode, std::string_view ErrMessage);

  int32_t ErrorCode() const { return FErrorCode; }
  const std::string& ErrorMessage() const { return FErrorMessage; }

 private:
  int32_t FErrorCode;
  std::string FErrorMessage;
};

}  // namespace vex
