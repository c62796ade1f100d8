// String formats, their registry, the protection chain and the byte helpers of
// the cipher library.
#include "foundation/VEXDecUtil.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <memory>

#include "foundation/VEXStartup.h"
#include "foundation/VEXStream.h"
#include "rtl/Format.h"
#include "rtl/Stream.h"

namespace vex {

namespace {

constexpr int32_t kPieceSize = 4096;
// File stream modes: read with others allowed to read and write; read/write.
constexpr uint16_t kReadShared = 0x0040;
constexpr uint16_t kReadWrite = 0x0002;

bool TrimmedEmpty(const std::string& s) {
  for (unsigned char c : s)
    if (c > ' ') return false;
  return true;
}

int32_t EffectiveLength(const char* Value, int32_t Len) {
  if (Value == nullptr) return 0;
  if (Len < 0) return static_cast<int32_t>(std::strlen(Value));
  return Len;
}

std::unique_ptr<std::vector<TStringFormatClass>> gFormatRegistry;
constinit TProgressCallback gProgressCallback = nullptr;

std::vector<TStringFormatClass>& FormatRegistry() {
  if (!gFormatRegistry) RaiseEngineNotStarted("The string-format registry");
  return *gFormatRegistry;
}

}  // namespace

// --- TStringFormat: copies in both directions ---------------------------------

std::string TStringFormat::ToStr(const char* Value, int32_t Len) const {
  return std::string(Value ? Value : "", static_cast<size_t>(EffectiveLength(Value, Len)));
}
std::string TStringFormat::StrTo(const char* Value, int32_t Len) const {
  return std::string(Value ? Value : "", static_cast<size_t>(EffectiveLength(Value, Len)));
}
std::string TStringFormat::Name() const { return "copy Input to Output"; }
int32_t TStringFormat::Format() const { return fmtCOPY; }
bool TStringFormat::IsValid(const char*, int32_t, bool) const { return true; }
const TStringFormat* TStringFormat::Class() {
  static const TStringFormat instance;
  return &instance;
}

// --- TStringFormat_HEX and TStringFormat_HEXL ----------------------------------

std::string TStringFormat_HEX::ToStr(const char* Value, int32_t Len) const {
  if (EffectiveLength(Value, Len) <= 0) return {};
  CharTable();  // raises: this format has no alphabet
  return {};
}
std::string TStringFormat_HEX::StrTo(const char* Value, int32_t Len) const {
  if (EffectiveLength(Value, Len) <= 0) return {};
  CharTable();
  return {};
}
std::string TStringFormat_HEX::Name() const { return "Hexadecimal"; }
int32_t TStringFormat_HEX::Format() const { return fmtHEX; }
bool TStringFormat_HEX::IsValid(const char* Value, int32_t Len, bool ToStr) const {
  if (!ToStr) return true;
  const int32_t n = EffectiveLength(Value, Len);
  const char* table = CharTable();
  const size_t tableLen = std::strlen(table);
  for (int32_t i = 0; i < n; ++i) {
    if (std::memchr(table, static_cast<unsigned char>(Value[i]), tableLen) == nullptr ||
        Value[i] == '\0')
      return false;
  }
  return true;
}
const char* TStringFormat_HEX::CharTable() const { throw rtl::Exception(sNoAlphabetHEX); }
const TStringFormat* TStringFormat_HEX::Class() {
  static const TStringFormat_HEX instance;
  return &instance;
}

std::string TStringFormat_HEXL::Name() const { return "Hexadecimal lowercase"; }
int32_t TStringFormat_HEXL::Format() const { return fmtHEXL; }
const char* TStringFormat_HEXL::CharTable() const { throw rtl::Exception(sNoAlphabetHEXL); }
const TStringFormat* TStringFormat_HEXL::Class() {
  static const TStringFormat_HEXL instance;
  return &instance;
}

// --- TStringFormat_MIME64 -----------------------------------------------------

namespace {
constexpr char kMime64Table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
constexpr int kFillDigit = 64;

constexpr std::array<int8_t, 256> MakeMime64Values() {
  std::array<int8_t, 256> values{};
  for (auto& v : values) v = -1;
  for (int i = 0; i < 65; ++i) values[static_cast<unsigned char>(kMime64Table[i])] = int8_t(i);
  return values;
}
constexpr std::array<int8_t, 256> kMime64Values = MakeMime64Values();
}  // namespace

std::string TStringFormat_MIME64::StrTo(const char* Value, int32_t Len) const {
  const int32_t n = EffectiveLength(Value, Len);
  if (n <= 0) return {};
  const auto* in = reinterpret_cast<const uint8_t*>(Value);
  std::string out;
  out.reserve(static_cast<size_t>((n + 2) / 3) * 4);
  for (int32_t i = 0; i < n; i += 3) {
    const int32_t left = std::min(3, n - i);
    uint32_t group = uint32_t(in[i]) << 16;
    if (left > 1) group |= uint32_t(in[i + 1]) << 8;
    if (left > 2) group |= in[i + 2];
    out += kMime64Table[(group >> 18) & 63];
    out += kMime64Table[(group >> 12) & 63];
    out += left > 1 ? kMime64Table[(group >> 6) & 63] : '=';
    out += left > 2 ? kMime64Table[group & 63] : '=';
  }
  return out;
}

std::string TStringFormat_MIME64::ToStr(const char* Value, int32_t Len) const {
  const int32_t n = EffectiveLength(Value, Len);
  if (n <= 0) return {};
  // The text counts as completed with fill characters to a multiple of four;
  // every fill character shortens the result by one byte.
  const int32_t padded = (n + 3) / 4 * 4;
  int64_t expected = 3 * int64_t(padded / 4) - (padded - n);
  std::string out;
  out.reserve(static_cast<size_t>(3 * (padded / 4)));
  uint32_t group = 0;
  int digits = 0;
  auto flush = [&] {
    out += char((group >> 16) & 0xFF);
    out += char((group >> 8) & 0xFF);
    out += char(group & 0xFF);
    group = 0;
    digits = 0;
  };
  for (int32_t i = 0; i < n; ++i) {
    const int v = kMime64Values[static_cast<unsigned char>(Value[i])];
    if (v < 0 || Value[i] == '\0') continue;  // outside the alphabet: skipped
    if (v == kFillDigit) --expected;
    group = (group << 6) | uint32_t(v == kFillDigit ? 0 : v);
    if (++digits == 4) flush();
  }
  if (digits > 0) {
    // The missing digits of the last group are the fill characters added above.
    group <<= 6 * (4 - digits);
    flush();
  }
  if (expected < 0) expected = 0;
  if (out.size() > static_cast<size_t>(expected)) out.resize(static_cast<size_t>(expected));
  return out;
}

std::string TStringFormat_MIME64::Name() const { return "MIME Base 64"; }
int32_t TStringFormat_MIME64::Format() const { return fmtMIME64; }
const char* TStringFormat_MIME64::CharTable() const { return kMime64Table; }
const TStringFormat* TStringFormat_MIME64::Class() {
  static const TStringFormat_MIME64 instance;
  return &instance;
}

// --- TStringFormat_UU and TStringFormat_XX -------------------------------------

std::string TStringFormat_UU::ToStr(const char* Value, int32_t Len) const {
  if (EffectiveLength(Value, Len) <= 0) return {};
  CharTable();
  return {};
}
std::string TStringFormat_UU::StrTo(const char* Value, int32_t Len) const {
  if (EffectiveLength(Value, Len) <= 0) return {};
  CharTable();
  return {};
}
std::string TStringFormat_UU::Name() const { return "UU Coding"; }
int32_t TStringFormat_UU::Format() const { return fmtUU; }
bool TStringFormat_UU::IsValid(const char* Value, int32_t Len, bool ToStr) const {
  if (!ToStr) return true;
  if (EffectiveLength(Value, Len) <= 0) return true;
  CharTable();
  return false;
}
const char* TStringFormat_UU::CharTable() const { throw rtl::Exception(sNoAlphabetUU); }
const TStringFormat* TStringFormat_UU::Class() {
  static const TStringFormat_UU instance;
  return &instance;
}

std::string TStringFormat_XX::Name() const { return "XX Coding"; }
int32_t TStringFormat_XX::Format() const { return fmtXX; }
const char* TStringFormat_XX::CharTable() const { throw rtl::Exception(sNoAlphabetXX); }
const TStringFormat* TStringFormat_XX::Class() {
  static const TStringFormat_XX instance;
  return &instance;
}

// --- Registry ------------------------------------------------------------------

int32_t GetDefaultFormat() { return fmtMIME64; }

TStringFormatClass FindStringFormat(int32_t Format) {
  if (Format == fmtDEFAULT) Format = GetDefaultFormat();
  for (TStringFormatClass cls : FormatRegistry())
    if (cls->Format() == Format) return cls;
  return nullptr;
}

void AddStringFormatClasses(const std::vector<TStringFormatClass>& Classes) {
  auto& registry = FormatRegistry();
  for (TStringFormatClass cls : Classes) {
    if (cls == nullptr || cls->Format() == fmtDEFAULT) continue;
    auto it = std::find_if(registry.begin(), registry.end(),
                           [&](TStringFormatClass r) { return r->Format() == cls->Format(); });
    if (it != registry.end())
      *it = cls;
    else
      registry.push_back(cls);
  }
}

namespace {
TStringFormatClass RequireFormat(int32_t Format) {
  TStringFormatClass cls = FindStringFormat(Format);
  if (cls == nullptr) throw EStringFormat(rtl::Format(sStringFormatNotExists, Format));
  return cls;
}
}  // namespace

std::string BytesToFormat(const void* Value, int32_t Len, int32_t Format) {
  const auto* text = static_cast<const char*>(Value);
  const int32_t n = EffectiveLength(text, Len);
  if (text == nullptr || Format == 0 || n <= 0) return {};
  TStringFormatClass cls = RequireFormat(Format);
  if (!cls->IsValid(text, n, false))
    throw EStringFormat(rtl::Format(sInputNotConvertible, cls->Name()));
  return cls->StrTo(text, n);
}

std::string FormatToBytes(const void* Value, int32_t Len, int32_t Format) {
  const auto* text = static_cast<const char*>(Value);
  const int32_t n = EffectiveLength(text, Len);
  if (text == nullptr || Format == 0 || n <= 0) return {};
  TStringFormatClass cls = RequireFormat(Format);
  if (!cls->IsValid(text, n, true))
    throw EStringFormat(rtl::Format(sInputNotValidFormat, cls->Name()));
  return cls->ToStr(text, n);
}

std::string BytesToFormat(const std::string& Value, int32_t Format) {
  return BytesToFormat(Value.data(), static_cast<int32_t>(Value.size()), Format);
}
std::string FormatToBytes(const std::string& Value, int32_t Format) {
  return FormatToBytes(Value.data(), static_cast<int32_t>(Value.size()), Format);
}

// --- Progress and byte helpers -------------------------------------------------

TProgressCallback& ProgressCallback() { return gProgressCallback; }

void CreateStringFormats() {
  gFormatRegistry =
      std::make_unique<std::vector<TStringFormatClass>>(std::vector<TStringFormatClass>{
          TStringFormat::Class(), TStringFormat_HEX::Class(), TStringFormat_HEXL::Class(),
          TStringFormat_MIME64::Class(), TStringFormat_UU::Class(), TStringFormat_XX::Class()});
}

void FreeStringFormats() noexcept {
  gFormatRegistry.reset();
  gProgressCallback = nullptr;
}

void ReportProgress(TProtection* Sender, int32_t Current, int32_t Maximal) {
  if (TProgressCallback cb = ProgressCallback()) cb(Sender, Current, Maximal);
}

void XorBuffers(const void* I1, const void* I2, int32_t Size, void* Dest) {
  const auto* a = static_cast<const uint8_t*>(I1);
  const auto* b = static_cast<const uint8_t*>(I2);
  auto* d = static_cast<uint8_t*>(Dest);
  for (int32_t i = 0; i < Size; ++i) d[i] = a[i] ^ b[i];
}

int32_t CompareBytes(const void* A, const void* B, int32_t Size) {
  const auto* a = static_cast<const uint8_t*>(A);
  const auto* b = static_cast<const uint8_t*>(B);
  for (int32_t i = 0; i < Size; ++i)
    if (a[i] != b[i]) return int32_t(a[i]) - int32_t(b[i]);
  return 0;
}

void WipeBytes(void* Buffer, size_t Size, uint8_t Value) {
  if (Size == 0) return;
  std::memset(Buffer, Value, Size);
  // The barrier tells the compiler the bytes may be read after all, so the
  // memset of a buffer that is about to go away is never dropped.
  __asm__ __volatile__("" : : "r"(Buffer) : "memory");
}

// --- TProtection ---------------------------------------------------------------

TProtection::TProtection(TProtectionRef AProtection) { SetProtection(std::move(AProtection)); }

TProtection::~TProtection() = default;

void TProtection::SetProtection(TProtectionRef Value) {
  if (Value == FProtection) return;
  for (const TProtection* link = Value.get(); link != nullptr; link = link->FProtection.get())
    if (link == this) throw EProtection(sCircularProtection);
  FProtection = std::move(Value);
}

void TProtection::Identity() { throw rtl::Exception(sNotImplemented13); }

void TProtection::StartCoding(TPAction Action) {
  if (FProtection) FProtection->StartCoding(Action);
}

void TProtection::FinishCoding(TPAction Action) {
  if (FProtection) FProtection->FinishCoding(Action);
}

void TProtection::CodeData(void* Buffer, int32_t Size, TPAction Action) {
  if (FProtection) FProtection->CodeData(Buffer, Size, Action);
}

int32_t TProtection::CodeBuffer(void* Buffer, int32_t BufferSize, TPAction Action) {
  StartCoding(Action);
  try {
    CodeData(Buffer, BufferSize, Action);
  } catch (...) {
    // The chain is finished also after a failure, which then passes on.
    FinishCoding(Action);
    throw;
  }
  FinishCoding(Action);
  return BufferSize;
}

}  // namespace vex

namespace vex {

void TProtection::CodeStream(rtl::TStream* Source, rtl::TStream* Dest, int32_t DataSize,
                             TPAction Action) {
  if (Source == nullptr) return;
  if (Dest == nullptr) Dest = Source;
  if (DataSize < 0) {
    DataSize = static_cast<int32_t>(Source->Size());
    Source->SetPosition(0);
  }
  StartCoding(Action);
  ReportProgress(this, 0, DataSize);
  uint8_t piece[kPieceSize];
  auto finish = [&] {
    ReportProgress(this, 0, 0);
    WipeBytes(piece, sizeof piece, 0);
    FinishCoding(Action);
  };
  try {
    int64_t sourcePos = Source->Position();
    int64_t destPos = Dest->Position();
    int32_t done = 0;
    while (done < DataSize) {
      // Every action stops at DataSize: bytes past it are the caller's, and
      // coding them into Dest would change data it did not hand over.
      const int32_t want = std::min(kPieceSize, DataSize - done);
      if (Action == paCalc) {
        const int32_t got = Source->Read(piece, want);
        if (got <= 0) break;
        CodeData(piece, got, Action);
        done += got;
      } else {
        // Source and Dest may be one stream: each side keeps its own position.
        Source->SetPosition(sourcePos);
        const int32_t got = Source->Read(piece, want);
        if (got <= 0) break;
        sourcePos = Source->Position();
        CodeData(piece, got, Action);
        Dest->SetPosition(destPos);
        Dest->WriteBuffer(piece, got);
        destPos = Dest->Position();
        done += got;
      }
      ReportProgress(this, done, DataSize);
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

std::string TProtection::CodeString(const std::string& Source, TPAction Action, int32_t Format) {
  if (Source.empty()) return {};
  const std::string bytes = Action == paDecode ? FormatToBytes(Source, Format) : Source;
  rtl::TMemoryStream stream;
  if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  CodeStream(&stream, nullptr, -1, Action);
  std::string coded(reinterpret_cast<const char*>(stream.Memory()),
                    static_cast<size_t>(stream.Size()));
  if (Action == paDecode) return coded;
  return BytesToFormat(coded, Format);
}

namespace {
// Whether Dest names the file Source names. Paths are compared exactly (file
// names are case-sensitive here), and two spellings of one existing file count
// as the same, so that the file is coded in place and never truncated by the
// creation of its own destination.
bool SameFile(const std::string& Source, const std::string& Dest) {
  if (Source == Dest) return true;
  std::error_code ec;
  return std::filesystem::equivalent(Source, Dest, ec) && !ec;
}
}  // namespace

void TProtection::CodeFile(const std::string& Source, const std::string& Dest, TPAction Action) {
  const bool blankDest = TrimmedEmpty(Dest);
  std::unique_ptr<TVEXFileStream> source, dest;
  if ((!blankDest && !SameFile(Source, Dest)) || Action == paCalc) {
    source = std::make_unique<TVEXFileStream>(Source, kReadShared);
    if (Action != paCalc) dest = std::make_unique<TVEXFileStream>(Dest, fmCreate);
  } else {
    source = std::make_unique<TVEXFileStream>(Source, kReadWrite);
  }
  CodeStream(source.get(), dest ? dest.get() : source.get(), static_cast<int32_t>(source->Size()),
             Action);
  if (dest) dest->SetSize(dest->Position());
}

}  // namespace vex
