#include "rtl/Format.h"

#include <cctype>

#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "rtl/FormatSettings.h"
#include "rtl/NumberText.h"

namespace rtl {

namespace {

[[noreturn]] void Invalid(std::string_view fmt) {
  throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

[[noreturn]] void NoArgument(std::string_view fmt) {
  throw EConvertError("No argument for format '" + std::string(fmt) + "'");
}

using Kind = FormatArg::Kind;

bool IsInteger(const FormatArg& a) { return a.kind == Kind::Int || a.kind == Kind::UInt; }

bool IsFloat(const FormatArg& a) { return a.kind == Kind::Float || a.kind == Kind::Money; }

long double FloatOf(const FormatArg& a) {
  return a.kind == Kind::Money ? Currency::FromRaw(a.I).ToLongDouble() : a.F;
}

// The value's bits as the platform's unsigned view of it: a negative 32-bit
// integer shows as its 32-bit two's complement, a 64-bit one as 64 bits.
uint64_t UnsignedOf(const FormatArg& a) {
  if (a.kind == Kind::UInt) return a.U;
  if (a.Bits == 32) return static_cast<uint32_t>(a.I);
  return static_cast<uint64_t>(a.I);
}

class Formatter {
 public:
  Formatter(std::string_view fmt, std::span<const FormatArg> args, const TFormatSettings& fs)
      : FFmt(fmt), FArgs(args), FFs(fs) {}

  std::string Run() {
    std::string out;
    size_t i = 0;
    while (i < FFmt.size()) {
      char c = FFmt[i++];
      if (c != '%') {
        out += c;
        continue;
      }
      if (i < FFmt.size() && FFmt[i] == '%') {
        out += '%';
        ++i;
        continue;
      }
      out += Directive(i);
    }
    return out;
  }

 private:
  const FormatArg& Next() {
    if (FNext >= FArgs.size()) NoArgument(FFmt);
    return FArgs[FNext++];
  }

  // A decimal number or '*'; -1 when none is there.
  long Number(size_t& i) {
    if (i < FFmt.size() && FFmt[i] == '*') {
      ++i;
      const FormatArg& a = Next();
      if (a.kind == Kind::Int) return static_cast<long>(a.I);
      if (a.kind == Kind::UInt && a.U <= 1000000) return static_cast<long>(a.U);
      Invalid(FFmt);
    }
    if (i >= FFmt.size() || !std::isdigit(static_cast<unsigned char>(FFmt[i]))) return -1;
    long n = 0;
    while (i < FFmt.size() && std::isdigit(static_cast<unsigned char>(FFmt[i]))) {
      n = n * 10 + (FFmt[i++] - '0');
      if (n > 1000000) Invalid(FFmt);  // a width no message needs; refuse rather than allocate
    }
    return n;
  }

  std::string Directive(size_t& i) {
    long width = -1;
    long precision = -1;
    bool left = false;
    long n = Number(i);
    if (n >= 0 && i < FFmt.size() && FFmt[i] == ':') {
      ++i;
      FNext = static_cast<size_t>(n);
      n = -1;
    }
    if (n < 0) {
      if (i < FFmt.size() && FFmt[i] == '-') {
        left = true;
        ++i;
      }
      n = Number(i);
    }
    width = n;
    if (i < FFmt.size() && FFmt[i] == '.') {
      ++i;
      precision = Number(i);
      if (precision < 0) precision = 0;
    }
    if (i >= FFmt.size()) Invalid(FFmt);
    char type = static_cast<char>(std::tolower(static_cast<unsigned char>(FFmt[i++])));
    const FormatArg& a = Next();
    std::string text = Convert(type, a, precision);
    if (width > static_cast<long>(text.size())) {
      std::string pad(static_cast<size_t>(width) - text.size(), ' ');
      text = left ? text + pad : pad + text;
    }
    return text;
  }

  std::string Convert(char type, const FormatArg& a, long precision) {
    switch (type) {
      case 'd':
      case 'u': {
        if (!IsInteger(a)) Invalid(FFmt);
        bool negative = false;
        uint64_t magnitude;
        if (type == 'd' && a.kind == Kind::Int) {
          negative = a.I < 0;
          magnitude = negative ? 0 - static_cast<uint64_t>(a.I) : static_cast<uint64_t>(a.I);
        } else {
          magnitude = UnsignedOf(a);
        }
        std::string digits = UIntToStr(magnitude);
        if (precision > static_cast<long>(digits.size())) {
          digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
        }
        return negative ? "-" + digits : digits;
      }
      case 'x':
        if (!IsInteger(a)) Invalid(FFmt);
        return IntToHex(UnsignedOf(a), precision < 0 ? 0 : static_cast<int>(precision));
      case 'p':
        if (a.kind != Kind::Pointer) Invalid(FFmt);
        return IntToHex(reinterpret_cast<uintptr_t>(a.P), 16);
      case 's': {
        std::string text;
        switch (a.kind) {
          case Kind::String:
            text = std::string(a.S);
            break;
          case Kind::WideString:
            text = Utf16ToWin1252(a.WS);
            break;
          case Kind::Char:
            text = std::string(1, a.C);
            break;
          case Kind::WideChar:
            text = std::string(1, Char16ToWin1252(a.W));
            break;
          default:
            Invalid(FFmt);
        }
        if (precision >= 0 && precision < static_cast<long>(text.size())) {
          text.resize(static_cast<size_t>(precision));
        }
        return text;
      }
      case 'e':
      case 'f':
      case 'g':
      case 'n':
      case 'm': {
        if (!IsFloat(a)) Invalid(FFmt);
        long double v = FloatOf(a);
        int p = static_cast<int>(precision);
        switch (type) {
          case 'e':
            return FloatToStrF(v, ffExponent, p < 0 ? 15 : p, 3, FFs);
          case 'g':
            return FloatToStrF(v, ffGeneral, p < 0 ? 15 : p, 3, FFs);
          case 'f':
            return FloatToStrF(v, ffFixed, 18, p < 0 ? 2 : p, FFs);
          case 'n':
            return FloatToStrF(v, ffNumber, 18, p < 0 ? 2 : p, FFs);
          default:
            return FloatToStrF(v, ffCurrency, 18, p < 0 ? FFs.CurrencyDecimals : p, FFs);
        }
      }
      default:
        Invalid(FFmt);
    }
  }

  std::string_view FFmt;
  std::span<const FormatArg> FArgs;
  const TFormatSettings& FFs;
  size_t FNext = 0;
};

}  // namespace

std::string FormatV(std::string_view fmt, std::span<const FormatArg> args,
                    const TFormatSettings& settings) {
  return Formatter(fmt, args, settings).Run();
}

std::string FormatV(std::string_view fmt, std::span<const FormatArg> args) {
  return FormatV(fmt, args, FormatSettings());
}

}  // namespace rtl
