#include "components/VEXEngineError.h"

#include "rtl/NumberText.h"

namespace vex {
namespace {

std::string TextOfCode(int32_t ErrorCode, std::string_view ErrMessage) {
  switch (ErrorCode) {
    case -1:
      return "Error adding record";
    case -2:
      return "Error updating record";
    case -3:
      return "Error deleting record";
    case -4:
      return "Error updating record - record was modified by other process";
    case -5:
      return "Error deleting record - record was modified by other process";
    case -6:
      return "Error updating record - record was deleted by other process";
    case -7:
      return "Error deleting record - record was deleted by other process";
    case -8:
      return std::string(ErrMessage);
    case -9:
      return "Cannot update record in temporary mode";
    case -10:
      return "Cannot delete record in temporary mode";
    case -11:
      return "Cannot cancel operation in temporary mode";
    case -12:
      return "Record is locked";
    case -13:
      return "Table is locked";
    default:
      return {};
  }
}

}  // namespace

EVEXEngineError::EVEXEngineError(int32_t ErrorCode, std::string_view ErrMessage)
    : db::EDatabaseError(""),
      FErrorCode(ErrorCode),
      FErrorMessage(TextOfCode(ErrorCode, ErrMessage)) {
  SetMessage("Vexolite Engine Error # " + rtl::IntToStr(ErrorCode) + " " + FErrorMessage);
}

}  // namespace vex
