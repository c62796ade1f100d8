#include "sql/nodes/VEXExprArithmetic.h"

#include <cmath>

#include "foundation/VEXDecimalRounding.h"
#include "foundation/VEXExcept.h"
#include "os/Clock.h"
#include "rtl/Exception.h"

namespace vex {

namespace {

[[noreturn]] void RaiseInvalidOp() { throw rtl::EInvalidOp(sInvalidFloatingPointOperation); }
[[noreturn]] void RaiseZeroDivide() { throw rtl::EZeroDivide("Floating point division by zero"); }

// What the platform's arithmetic would have signalled for a NaN or an infinity.
double Checked(double r) {
  if (std::isnan(r)) RaiseInvalidOp();
  if (std::isinf(r)) throw rtl::EOverflow("Floating point overflow");
  return r;
}

int32_t ToInt32(long double r) {
  if (!(r >= -2147483648.0L && r <= 2147483647.0L)) throw rtl::EIntOverflow(sIntegerOverflow);
  return static_cast<int32_t>(r);
}

// x raised to an integral power by squaring.
double IntegralPower(double x, long double y) {
  if (x == 0 && y < 0) RaiseZeroDivide();
  // Exponents beyond 64 bits only over- or underflow; cap them so the loop ends.
  const bool negative = y < 0;
  long double e = std::fabs(y);
  if (e > 1e18L) e = 1e18L;
  uint64_t n = static_cast<uint64_t>(e);
  long double base = x, result = 1;
  while (n != 0) {
    if (n & 1) result *= base;
    n >>= 1;
    if (n != 0) base *= base;
  }
  if (negative) result = 1 / result;
  return Checked(static_cast<double>(result));
}

double Power(double x, double y) {
  if (std::nearbyint(y) == y) return IntegralPower(x, y);
  if (x < 0) RaiseInvalidOp();
  if (x == 0) {
    if (y < 0) RaiseZeroDivide();
    return 0;
  }
  return Checked(std::exp(y * std::log(x)));
}

}  // namespace

TVEXVariant& TVEXExprNodeArithmetic::GetDataValue() {
  switch (Operator) {
    case doADD:
      Value.Assign(ChildValue(0), true);
      for (size_t i = 1; i < Children.size(); ++i) Value.Add(ChildValue(i));
      break;
    case doSUB:
      Value.Assign(ChildValue(0), true);
      Value.InvertValue();
      break;
    case doMUL:
      Value.Assign(ChildValue(0), true);
      for (size_t i = 1; i < Children.size(); ++i) Value.Mul(ChildValue(i));
      break;
    case doDIV:
      Value.Assign(ChildValue(0), true);
      Value.Division(ChildValue(1));
      break;
    default:
      if (Operator >= doABS && Operator <= doSQRT) {
        EvaluateFunction();
        break;
      }
      throw EVEXException(30121, "Unknown operator: '%s'", GetOperatorName(Operator));
  }
  return Value;
}

void TVEXExprNodeArithmetic::EvaluateFunction() {
  switch (Operator) {
    case doABS: {
      Value.Assign(ChildValue(0), true);
      if (Value.IsNull()) break;
      if (!Value.IsNumericDataType()) {
        const double x = Value.AsDouble();
        Value.Clear(bftDouble);
        Value.SetAsDouble(std::fabs(x));
      } else if (Value.AsExtended() < 0) {
        Value.InvertValue();
      }
      break;
    }
    case doSQR: {
      Value.Assign(ChildValue(0), true);
      TVEXVariant factor;
      factor.Assign(Value, true);
      Value.Mul(factor);
      break;
    }
    case doRAND: {
      const int32_t n = ChildValue(0).AsInteger();
      Value.SetAsInteger(
          n <= 0 ? 0 : static_cast<int32_t>(os::CurrentClock().Random(static_cast<uint32_t>(n))));
      break;
    }
    case doROUND:
      EvaluateRound();
      break;
    case doPOWER: {
      const double x = ChildValue(0).AsDouble();
      const double y = ChildValue(1).AsDouble();
      Value.SetAsDouble(Power(x, y));
      break;
    }
    default: {
      const double x = ChildValue(0).AsDouble();
      switch (Operator) {
        case doACOS:
          if (x < -1 || x > 1) RaiseInvalidOp();
          Value.SetAsDouble(std::acos(x));
          break;
        case doASIN:
          if (x < -1 || x > 1) RaiseInvalidOp();
          Value.SetAsDouble(std::asin(x));
          break;
        case doATAN:
          Value.SetAsDouble(Checked(std::atan(x)));
          break;
        case doCOS:
          Value.SetAsDouble(Checked(std::cos(x)));
          break;
        case doSIN:
          Value.SetAsDouble(Checked(std::sin(x)));
          break;
        case doEXP:
          Value.SetAsDouble(Checked(std::exp(x)));
          break;
        case doLOG:
          if (x == 0) RaiseZeroDivide();
          if (x < 0) RaiseInvalidOp();
          Value.SetAsDouble(Checked(std::log(x)));
          break;
        case doSQRT:
          if (x < 0) RaiseInvalidOp();
          Value.SetAsDouble(Checked(std::sqrt(x)));
          break;
        case doCEIL:
          Value.SetAsInteger(ToInt32(std::ceil(Checked(x))));
          break;
        case doFLOOR:
          Value.SetAsInteger(ToInt32(std::floor(Checked(x))));
          break;
        case doSIGN:
          Value.SetAsInteger(x > 0 ? 1 : (x < 0 ? -1 : 0));
          break;
        default:
          throw EVEXException(30121, "Unknown operator: '%s'", GetOperatorName(Operator));
      }
    }
  }
}

void TVEXExprNodeArithmetic::EvaluateRound() {
  const double x = ChildValue(0).AsDouble();
  if (Children.size() == 1) {
    Value.SetAsInteger(ToInt32(RoundToDecimalsDefault(0, 1, x)));
    return;
  }
  const int32_t digits = ChildValue(1).AsInteger();
  uint8_t mode = 1;
  if (Children.size() > 2) {
    // The grammar passes the reserved word of the mode; HALFEVEN to RNDUP are
    // the modes 1 to 9 in order. Any other word keeps the default, HALFEVEN.
    const int32_t word = ChildValue(2).AsInteger();
    if (word >= rwHALFEVEN && word <= rwRNDUP) mode = static_cast<uint8_t>(word - rwHALFEVEN + 1);
  }
  Value.SetAsDouble(static_cast<double>(RoundToDecimalsDefault(digits, mode, x)));
}

TVEXAdvancedFieldType TVEXExprNodeArithmetic::GetDataType() {
  switch (Operator) {
    case doABS:
    case doSQR:
      return Children[0]->GetDataType();
    case doCEIL:
    case doFLOOR:
    case doSIGN:
    case doRAND:
      return aftInteger;
    case doROUND:
      return Children.size() == 1 ? aftInteger : aftDouble;
    default:
      if (Operator >= doABS && Operator <= doSQRT) return aftDouble;
      return TVEXExprNode::GetDataType();
  }
}

}  // namespace vex
