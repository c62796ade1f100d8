// The footing of the cipher and hash library: text encodings of byte data
// (string formats, kept in a process-wide registry and known by number) and
// TProtection, the reference-counted base of every cipher and hash. A protection
// may chain another one behind it; coding a buffer, stream, file or string then
// runs through the whole chain. Also the byte-level helpers the ciphers share.
//
// Coding objects belong to one thread at a time. The registry and the progress
// callback are process-wide and meant to be changed only while the library
// starts and stops.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "foundation/VEXDecConst2.h"
#include "rtl/Exception.h"

namespace rtl {
class TStream;
}

namespace vex {

class EStringFormat : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class EProtection : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// A string format is a class used through its class operations only; here each
// format is one immutable object standing for its class, and a "format class"
// is a pointer to it.
class TStringFormat {
 public:
  TStringFormat() = default;
  TStringFormat(const TStringFormat&) = delete;
  TStringFormat& operator=(const TStringFormat&) = delete;
  virtual ~TStringFormat() = default;

  // Decodes Len characters of text in this format to bytes (a negative Len:
  // the text ends at its first zero byte).
  virtual std::string ToStr(const char* Value, int32_t Len) const;
  // Encodes Len bytes as text in this format.
  virtual std::string StrTo(const char* Value, int32_t Len) const;
  virtual std::string Name() const;
  virtual int32_t Format() const;
  // Whether the input can be decoded (ToStr true) or encoded (false).
  virtual bool IsValid(const char* Value, int32_t Len, bool ToStr) const;

  static const TStringFormat* Class();
};
using TStringFormatClass = const TStringFormat*;

// Hexadecimal digits. The format has no alphabet: every use of it with input
// fails with "Not Implemented 2".
class TStringFormat_HEX : public TStringFormat {
 public:
  std::string ToStr(const char* Value, int32_t Len) const override;
  std::string StrTo(const char* Value, int32_t Len) const override;
  std::string Name() const override;
  int32_t Format() const override;
  bool IsValid(const char* Value, int32_t Len, bool ToStr) const override;
  virtual const char* CharTable() const;

  static const TStringFormat* Class();
};

class TStringFormat_HEXL : public TStringFormat_HEX {
 public:
  std::string Name() const override;
  int32_t Format() const override;
  const char* CharTable() const override;

  static const TStringFormat* Class();
};

// MIME Base64, RFC 4648 alphabet, without line breaks.
class TStringFormat_MIME64 : public TStringFormat_HEX {
 public:
  std::string ToStr(const char* Value, int32_t Len) const override;
  std::string StrTo(const char* Value, int32_t Len) const override;
  std::string Name() const override;
  int32_t Format() const override;
  const char* CharTable() const override;

  static const TStringFormat* Class();
};

// UU and XX coding have no alphabet either; every use with input fails.
class TStringFormat_UU : public TStringFormat {
 public:
  std::string ToStr(const char* Value, int32_t Len) const override;
  std::string StrTo(const char* Value, int32_t Len) const override;
  std::string Name() const override;
  int32_t Format() const override;
  bool IsValid(const char* Value, int32_t Len, bool ToStr) const override;
  virtual const char* CharTable() const;

  static const TStringFormat* Class();
};

class TStringFormat_XX : public TStringFormat_UU {
 public:
  std::string Name() const override;
  int32_t Format() const override;
  const char* CharTable() const override;

  static const TStringFormat* Class();
};

int32_t GetDefaultFormat();
// The registered class with this number (-1: the default format); nullptr when
// none is registered.
TStringFormatClass FindStringFormat(int32_t Format);
// Bytes to text and back through a registered format. Empty for a nil Value,
// format 0 or no input; EStringFormat for an unknown number or refused input.
std::string BytesToFormat(const void* Value, int32_t Len, int32_t Format);
std::string FormatToBytes(const void* Value, int32_t Len, int32_t Format);
std::string BytesToFormat(const std::string& Value, int32_t Format);
std::string FormatToBytes(const std::string& Value, int32_t Format);
// A class replaces the registered one of the same number in its place, or is
// appended. The registry starts with the six formats of this unit.
void AddStringFormatClasses(const std::vector<TStringFormatClass>& Classes);

enum TPAction : uint8_t { paEncode = 0, paDecode = 1, paScramble = 2, paCalc = 3, paWipe = 4 };

class TPActions {
 public:
  constexpr TPActions() = default;
  constexpr TPActions(std::initializer_list<TPAction> actions) {
    for (TPAction a : actions) FBits |= Bit(a);
  }
  static constexpr TPActions All() { return {paEncode, paDecode, paScramble, paCalc, paWipe}; }
  constexpr bool Contains(TPAction a) const { return (FBits & Bit(a)) != 0; }
  constexpr bool operator==(const TPActions&) const = default;

 private:
  static constexpr uint8_t Bit(TPAction a) { return static_cast<uint8_t>(1u << a); }
  uint8_t FBits = 0;
};

class TProtection;
using TProtectionRef = std::shared_ptr<TProtection>;

// The reference-counted base of ciphers and hashes. A chained protection is
// held by one reference of the object that chains it; chains never loop.
class TProtection {
 public:
  explicit TProtection(TProtectionRef AProtection = nullptr);
  TProtection(const TProtection&) = delete;
  TProtection& operator=(const TProtection&) = delete;
  virtual ~TProtection();

  const TProtectionRef& Protection() const { return FProtection; }
  // Raises EProtection, and keeps the chain as it was, when the new chain would
  // lead back to this object.
  void SetProtection(TProtectionRef Value);
  TPActions Actions() const { return FActions; }
  void SetActions(TPActions Value) { FActions = Value; }

  static void Identity();

  virtual void StartCoding(TPAction Action);
  virtual void FinishCoding(TPAction Action);
  virtual void CodeData(void* Buffer, int32_t Size, TPAction Action);
  // Codes DataSize bytes of Source into Dest (nil: in place); a negative
  // DataSize codes the whole of Source from position 0.
  virtual void CodeStream(rtl::TStream* Source, rtl::TStream* Dest, int32_t DataSize,
                          TPAction Action);
  virtual void CodeFile(const std::string& Source, const std::string& Dest, TPAction Action);
  virtual std::string CodeString(const std::string& Source, TPAction Action, int32_t Format);
  virtual int32_t CodeBuffer(void* Buffer, int32_t BufferSize, TPAction Action);

 private:
  TProtectionRef FProtection;
  TPActions FActions = TPActions::All();
};

// The registry of string formats, created with the library's own six formats
// and freed by the engine's start-up and shut-down; the shut-down also clears
// the progress callback.
void CreateStringFormats();
void FreeStringFormats() noexcept;

// The process-wide progress callback; nothing in the system assigns one.
using TProgressCallback = void (*)(TProtection* Sender, int32_t Current, int32_t Maximal);
TProgressCallback& ProgressCallback();
void ReportProgress(TProtection* Sender, int32_t Current, int32_t Maximal);

template <class T>
bool IsObjectOfClass(const TProtection* Obj) {
  return Obj != nullptr && dynamic_cast<const T*>(Obj) != nullptr;
}

// Dest[i] = I1[i] xor I2[i] for i below Size; Dest may be either input.
void XorBuffers(const void* I1, const void* I2, int32_t Size, void* Dest);

inline uint32_t ROL(uint32_t Value, uint32_t Shift) {
  return (Value << (Shift & 31)) | (Value >> ((32 - Shift) & 31));
}
inline uint32_t ROR(uint32_t Value, uint32_t Shift) {
  return (Value >> (Shift & 31)) | (Value << ((32 - Shift) & 31));
}
inline uint32_t ROLADD(uint32_t Value) { return ROL(Value, 1); }
inline uint32_t RORSUB(uint32_t Value) { return ROR(Value, 1); }
// The difference of the first unequal bytes, 0 when the Size bytes are equal.
int32_t CompareBytes(const void* A, const void* B, int32_t Size);

static_assert(std::endian::native == std::endian::little,
              "words are kept in little-endian byte order");

// Big-endian 32-bit words, as DES and Blowfish read and write their halves.
inline uint32_t SwapInteger(uint32_t Value) { return __builtin_bswap32(Value); }
inline uint32_t LoadLE32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void StoreLE32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint32_t LoadBE32(const uint8_t* p) { return SwapInteger(LoadLE32(p)); }
inline void StoreBE32(uint8_t* p, uint32_t v) { StoreLE32(p, SwapInteger(v)); }

// Overwrites Size bytes in a way the compiler may not drop, for key material.
void WipeBytes(void* Buffer, size_t Size, uint8_t Value);

}  // namespace vex
