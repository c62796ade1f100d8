// Casting, the four arithmetic operations and negation of values.
//
// An operation first settles the nulls, then finds the common type of the pair
// and whether the operation is defined for it, reads both operands in that type
// and combines them, and only then casts the value itself, so an operand that
// does not convert or a failed operation leaves the value as it was. C++ traps
// nothing by itself: integers wrap by computing in unsigned types, and the
// failures the platform would trap (division by zero, the smallest integer
// divided by -1, a real result out of range or undefined) are tested for and
// raised as its errors, which Division reports as 30128 and the other
// operations pass on unchanged.
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <type_traits>

#include "foundation/VEXConst.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXOperationTypes.h"
#include "foundation/VEXTypesRoutines.h"
#include "foundation/VEXVariant.h"
#include "rtl/Exception.h"

namespace vex {

namespace {

enum class Operation { Add, Sub, Mul, Div };

constexpr int32_t kMsPerDay = 86400000;

[[noreturn]] void RaiseNotNumeric(Operation op) {
  static constexpr int32_t kCodes[] = {30124, 30125, 30126, 30127};
  static constexpr const char* kSymbols[] = {"+", "-", "*", "/"};
  const int i = static_cast<int>(op);
  throw EVEXException(kCodes[i], "Not numeric argument in numeric operator '%s'", kSymbols[i]);
}

[[noreturn]] void RaiseDivByZero() { throw rtl::EDivByZero("Division by zero"); }
[[noreturn]] void RaiseIntOverflow() { throw rtl::EIntOverflow(sIntegerOverflow); }

// Integer arithmetic at the width of T, wrapping. The 8- and 16-bit types are
// computed at 32 bits and cut back, so only 32- and 64-bit quotients can
// overflow.
template <class T>
T IntegerResult(T a, T b, Operation op) {
  using U = std::make_unsigned_t<T>;
  const uint64_t ua = static_cast<U>(a);
  const uint64_t ub = static_cast<U>(b);
  switch (op) {
    case Operation::Add:
      return static_cast<T>(static_cast<U>(ua + ub));
    case Operation::Sub:
      return static_cast<T>(static_cast<U>(ua - ub));
    case Operation::Mul:
      return static_cast<T>(static_cast<U>(ua * ub));
    case Operation::Div:
      break;
  }
  if (b == 0) RaiseDivByZero();
  if constexpr (std::is_signed_v<T>) {
    if (sizeof(T) >= 4 && a == std::numeric_limits<T>::min() && b == -1) RaiseIntOverflow();
    if (sizeof(T) < 4) return static_cast<T>(static_cast<int32_t>(a) / static_cast<int32_t>(b));
  }
  return static_cast<T>(a / b);
}

// Real arithmetic in T, trapping as the platform's floating-point unit does: a
// zero divisor, a result that is undefined (infinity minus infinity, zero times
// infinity, zero by zero) and a finite pair whose result is beyond the type's
// range raise its errors; operands that already are infinite or undefined pass
// through, as they do there.
template <class T>
T RealResult(T a, T b, Operation op) {
  T r = 0;
  switch (op) {
    case Operation::Add:
      r = a + b;
      break;
    case Operation::Sub:
      r = a - b;
      break;
    case Operation::Mul:
      r = a * b;
      break;
    case Operation::Div:
      if (b == 0 && !std::isnan(a)) {
        if (a == 0) throw rtl::EInvalidOp(sInvalidFloatingPointOperation);
        throw rtl::EZeroDivide("Floating point division by zero");
      }
      r = a / b;
      break;
  }
  if (std::isnan(r) && !std::isnan(a) && !std::isnan(b)) {
    throw rtl::EInvalidOp(sInvalidFloatingPointOperation);
  }
  if (std::isinf(r) && std::isfinite(a) && std::isfinite(b)) {
    throw rtl::EOverflow("Floating point overflow");
  }
  return r;
}

// Reads both operands in the common type (a typed read converts as the cast
// does) and combines them before the value is cast, so a failed operation
// leaves the value as it was.
template <class C, C (TVEXVariant::*Get)() const, void (TVEXVariant::*Set)(C)>
void Combine(TVEXVariant& self, const TVEXVariant& right, TVEXBaseFieldType type, Operation op) {
  const C b = (right.*Get)();
  const C a = (self.*Get)();
  C result;
  if constexpr (std::is_floating_point_v<C>) {
    result = RealResult(a, b, op);
  } else {
    result = IntegerResult(a, b, op);
  }
  self.Cast(type);
  (self.*Set)(result);
}

// Date-times combine day with day and millisecond with millisecond; the time
// part is then brought back into one day, its whole days carried into the date
// (a negative time borrows them). A date-time made from a time has no date
// (EmptyVEXDate): in a sum or difference it counts as no days, so a date plus
// a time is that day at that time.
void CombineDateTime(TVEXVariant& self, const TVEXVariant& right, Operation op) {
  TVEXDateTime b = right.AsVEXDateTime();
  TVEXDateTime a = self.AsVEXDateTime();
  const bool additive = op == Operation::Add || op == Operation::Sub;
  const bool noDate = additive && a.Date == EmptyVEXDate && b.Date == EmptyVEXDate;
  if (additive) {
    if (a.Date == EmptyVEXDate) a.Date = 0;
    if (b.Date == EmptyVEXDate) b.Date = 0;
  }
  int32_t date = IntegerResult(a.Date, b.Date, op);
  int32_t time = IntegerResult(a.Time, b.Time, op);
  int32_t days = time / kMsPerDay;
  time %= kMsPerDay;
  if (time < 0) {
    time += kMsPerDay;
    --days;
  }
  date = IntegerResult(date, days, Operation::Add);
  if (noDate && date == 0) date = EmptyVEXDate;
  self.Cast(bftDateTime);
  self.SetAsVEXDateTime(TVEXDateTime{date, time});
}

void Arithmetic(TVEXVariant& self, const TVEXVariant& right, Operation op) {
  const TVEXBaseFieldType type = GetOperationResultType(self.DataType(), right.DataType(), false);
  // A pair without a common type fails as the cast to it fails (30052).
  if (type == bftUnknown) self.Cast(type);
  switch (type) {
    case bftSignedInt8:
      return Combine<int8_t, &TVEXVariant::AsShortint, &TVEXVariant::SetAsShortint>(self, right,
                                                                                    type, op);
    case bftSignedInt16:
      return Combine<int16_t, &TVEXVariant::AsSmallint, &TVEXVariant::SetAsSmallint>(self, right,
                                                                                     type, op);
    case bftSignedInt32:
      return Combine<int32_t, &TVEXVariant::AsInteger, &TVEXVariant::SetAsInteger>(self, right,
                                                                                   type, op);
    case bftSignedInt64:
      return Combine<int64_t, &TVEXVariant::AsInt64, &TVEXVariant::SetAsInt64>(self, right, type,
                                                                               op);
    case bftUnsignedInt8:
      return Combine<uint8_t, &TVEXVariant::AsByte, &TVEXVariant::SetAsByte>(self, right, type, op);
    case bftUnsignedInt16:
      return Combine<uint16_t, &TVEXVariant::AsWord, &TVEXVariant::SetAsWord>(self, right, type,
                                                                              op);
    case bftUnsignedInt32:
      return Combine<uint32_t, &TVEXVariant::AsCardinal, &TVEXVariant::SetAsCardinal>(self, right,
                                                                                      type, op);
    case bftSingle:
      return Combine<float, &TVEXVariant::AsSingle, &TVEXVariant::SetAsSingle>(self, right, type,
                                                                               op);
    case bftDouble:
      return Combine<double, &TVEXVariant::AsDouble, &TVEXVariant::SetAsDouble>(self, right, type,
                                                                                op);
    case bftExtended:
      return Combine<long double, &TVEXVariant::AsExtended, &TVEXVariant::SetAsExtended>(
          self, right, type, op);
    case bftCurrency:
      return Combine<double, &TVEXVariant::AsCurrency, &TVEXVariant::SetAsCurrency>(self, right,
                                                                                    type, op);
    case bftDate:
      return Combine<int32_t, &TVEXVariant::AsVEXDate, &TVEXVariant::SetAsVEXDate>(self, right,
                                                                                   type, op);
    case bftTime:
      return Combine<int32_t, &TVEXVariant::AsVEXTime, &TVEXVariant::SetAsVEXTime>(self, right,
                                                                                   type, op);
    case bftDateTime:
      return CombineDateTime(self, right, op);
    case bftLogical: {
      // Every operation on flags is their OR.
      const bool b = right.AsBoolean();
      self.Cast(type);
      self.SetAsBoolean(self.AsBoolean() || b);
      return;
    }
    case bftChar:
    case bftVarchar:
      if (op != Operation::Add) break;
      {
        const std::string b = right.AsAnsiString();
        self.Cast(type);
        self.SetAsAnsiString(self.AsAnsiString() + b);
      }
      return;
    case bftWideChar:
    case bftWideVarchar:
      if (op != Operation::Add) break;
      {
        const std::u16string b = right.AsWideString();
        self.Cast(type);
        self.SetAsWideString(self.AsWideString() + b);
      }
      return;
    default:
      break;
  }
  RaiseNotNumeric(op);
}

}  // namespace

void TVEXVariant::Cast(TVEXBaseFieldType NewDataType) { ConvertTo(NewDataType); }

// A null right operand makes the value null, except that a text keeps itself:
// adding nothing to a text leaves it. A null text takes the right operand as it
// is; any other null value stays null.
void TVEXVariant::Add(const TVEXVariant& Value) {
  if (Value.IsNull()) {
    if (!IsStringDataType()) Clear(FDataType);
    return;
  }
  if (IsNull()) {
    if (IsStringDataType()) Assign(Value, true);
    return;
  }
  Arithmetic(*this, Value, Operation::Add);
}

// For the other operations a null on either side makes the value null.
void TVEXVariant::Sub(const TVEXVariant& Value) {
  if (Value.IsNull()) Clear(FDataType);
  if (IsNull()) return;
  Arithmetic(*this, Value, Operation::Sub);
}

void TVEXVariant::Mul(const TVEXVariant& Value) {
  if (Value.IsNull()) Clear(FDataType);
  if (IsNull()) return;
  Arithmetic(*this, Value, Operation::Mul);
}

// Integers divide truncating toward zero, reals exactly. A failure of the
// arithmetic itself (a zero divisor, an overflow) is reported as 30128 with the
// platform's message; the engine's own errors pass unchanged.
void TVEXVariant::Division(const TVEXVariant& Value) {
  if (Value.IsNull()) Clear(FDataType);
  if (IsNull()) return;
  try {
    Arithmetic(*this, Value, Operation::Div);
  } catch (const EVEXException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw EVEXException(30128, "Division error: %s", std::string(e.what()));
  }
}

// Signed types, reals, money and dates are negated arithmetically (the smallest
// 32- and 64-bit integers have no negation and raise the platform's overflow;
// the 8- and 16-bit ones wrap); unsigned types take the two's complement within
// their width; a flag is inverted.
void TVEXVariant::InvertValue() {
  if (IsNull()) return;
  switch (FDataType) {
    case bftSignedInt8:
      SetAsShortint(static_cast<int8_t>(-static_cast<int32_t>(AsShortint())));
      return;
    case bftSignedInt16:
      SetAsSmallint(static_cast<int16_t>(-static_cast<int32_t>(AsSmallint())));
      return;
    case bftSignedInt32:
    case bftDate: {
      const int32_t v = FDataType == bftDate ? AsVEXDate() : AsInteger();
      if (v == INT32_MIN) RaiseIntOverflow();
      if (FDataType == bftDate) {
        SetAsVEXDate(-v);
      } else {
        SetAsInteger(-v);
      }
      return;
    }
    case bftSignedInt64: {
      const int64_t v = AsInt64();
      if (v == INT64_MIN) RaiseIntOverflow();
      SetAsInt64(-v);
      return;
    }
    case bftUnsignedInt8:
      SetAsByte(static_cast<uint8_t>(0u - AsByte()));
      return;
    case bftUnsignedInt16:
      SetAsWord(static_cast<uint16_t>(0u - AsWord()));
      return;
    case bftUnsignedInt32:
      SetAsCardinal(0u - AsCardinal());
      return;
    case bftSingle:
      SetAsSingle(-AsSingle());
      return;
    case bftDouble:
      SetAsDouble(-AsDouble());
      return;
    case bftExtended:
      SetAsExtended(-AsExtended());
      return;
    case bftCurrency:
      SetAsCurrency(-AsCurrency());
      return;
    case bftLogical:
      SetAsBoolean(!AsBoolean());
      return;
    default:
      throw EVEXException(30123, "Cannot invert value with not numeric type '%s'",
                          BaseFieldTypeToSQLName(FDataType));
  }
}

}  // namespace vex
