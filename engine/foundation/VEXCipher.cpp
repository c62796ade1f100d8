// TCipher: key derivation, the vector, the cmCTS chaining and the protection
// actions of a cipher; and the process-wide cipher list.
#include "foundation/VEXCipher.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "foundation/VEXStartup.h"
#include "rtl/Format.h"

namespace vex {

namespace {
constexpr int kFlagHasHashKey = 0;
constexpr int kFlagInitialized = 1;

size_t RoundUpToWords(int32_t bytes) { return (static_cast<size_t>(bytes) + 3) / 4; }

// Whether the n bytes at d either are the n bytes at s or lie apart from them:
// then coding eight bytes at a time gives what coding byte by byte gives.
bool SameOrApart(const uint8_t* s, const uint8_t* d, int32_t n) {
  return s == d || s + n <= d || d + n <= s;
}

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// d = a ^ b over one block, a word at a time where the buffers allow it.
void XorBlock(const uint8_t* a, const uint8_t* b, int32_t n, uint8_t* d) {
  if (n % 8 != 0 || !SameOrApart(a, d, n) || !SameOrApart(b, d, n)) {
    XorBuffers(a, b, n, d);
    return;
  }
  for (int32_t i = 0; i < n; i += 8) Store64(d + i, Load64(a + i) ^ Load64(b + i));
}
}  // namespace

// --- TCipherClassInfo ----------------------------------------------------------------

bool TCipherClassInfo::InheritsFrom(const TCipherClassInfo* AClass) const {
  for (const TCipherClassInfo* c = this; c != nullptr; c = c->Parent)
    if (c == AClass) return true;
  return false;
}

void TCipherClassInfo::TestVector() const { throw rtl::Exception(TestVectorText); }
void TCipherClassInfo::SelfTest() const { throw rtl::Exception(sNotImplemented14); }

// --- TCipher -----------------------------------------------------------------------

TCipher::TCipher(TCipherClass AClass, TProtectionRef AProtection)
    : TProtection(std::move(AProtection)),
      FClass(AClass),
      FHashClass(THash_RipeMD256::Class()),
      FKeySize(AClass->KeySize),
      FBufSize(AClass->BufSize),
      FUserSize(AClass->UserSize) {
  const size_t userWords = RoundUpToWords(FUserSize);
  const size_t blockWords = RoundUpToWords(FBufSize);
  const size_t words = userWords + 3 * blockWords;
  FStorage = std::make_unique<uint32_t[]>(words);
  FStorageBytes = words * 4;
  auto* bytes = reinterpret_cast<uint8_t*>(FStorage.get());
  FBuffer = bytes + userWords * 4;
  FVector = FBuffer + blockWords * 4;
  FFeedback = FVector + blockWords * 4;
}

void TCipher::Construct(const std::string& Password) {
  Protect();
  if (!Password.empty()) InitKey(Password, nullptr);
}

TCipher::~TCipher() {
  Protect();
  WipeBytes(FStorage.get(), FStorageBytes, 0);
}

THash& TCipher::Hash() {
  if (!FHash) FHash = FHashClass->Create(nullptr);
  return *FHash;
}

void TCipher::SetHashClass(THashClass Value) {
  if (Value == nullptr) Value = THash_RipeMD256::Class();
  if (Value == FHashClass) return;
  FHash.reset();
  FHashClass = Value;
}

void TCipher::SetStateFlag(int Index, bool Value) {
  if (Value)
    FFlags |= 1 << Index;
  else
    FFlags &= ~(1 << Index);
}

void TCipher::Protect() {
  SetStateFlag(kFlagHasHashKey, false);
  SetStateFlag(kFlagInitialized, false);
  const size_t block = static_cast<size_t>(FBufSize);
  const size_t user = static_cast<size_t>(FUserSize);
  auto* userBytes = reinterpret_cast<uint8_t*>(FStorage.get());
  for (uint8_t pattern : {uint8_t(0xAA), uint8_t(0x55)}) {
    WipeBytes(FVector, block, pattern);
    WipeBytes(FFeedback, block, pattern);
    WipeBytes(FBuffer, block, pattern);
    WipeBytes(userBytes, user, pattern);
  }
  WipeBytes(FVector, block, 0xFF);
  WipeBytes(FFeedback, block, 0xFF);
  WipeBytes(FBuffer, block, 0x00);
  WipeBytes(userBytes, user, 0x00);
}

int32_t TCipher::StartInit(int32_t Size) {
  SetStateFlag(kFlagInitialized, false);
  Protect();
  if (Size < 0) Size = 0;
  if (Size > FKeySize) Size = FKeySize;
  return Size;
}

void TCipher::FinishInit(const void* IVector) {
  // IVector may be this cipher's own Vector, which Protect has just filled with
  // 0xFF: the copy onto itself then leaves that.
  if (IVector != nullptr)
    std::memmove(FVector, IVector, static_cast<size_t>(FBufSize));
  else
    EncryptBlock(FVector);
  std::memcpy(FFeedback, FVector, static_cast<size_t>(FBufSize));
  SetStateFlag(kFlagInitialized, true);
}

void TCipher::InitKey(const std::string& Key, const void* IVector) {
  THash& hash = Hash();
  hash.Init();
  hash.Calc(Key.data(), static_cast<int32_t>(Key.size()));
  hash.Done();
  const int32_t digestSize = hash.DigestKeySize();
  uint8_t* digest = hash.DigestKey();
  Init(digest, std::min(digestSize, FKeySize), IVector);
  // The digest is key material: leave it encrypted, and the chain at its start.
  EncodeBuffer(digest, digest, digestSize);
  Done();
  SetStateFlag(kFlagHasHashKey, true);
}

void TCipher::Done() {
  if (std::memcmp(FFeedback, FVector, static_cast<size_t>(FBufSize)) != 0) {
    std::memcpy(FBuffer, FFeedback, static_cast<size_t>(FBufSize));
    std::memcpy(FFeedback, FVector, static_cast<size_t>(FBufSize));
  }
}

void TCipher::CheckCanCode() const {
  if (!Initialized())
    throw ECipherException(rtl::Format(sCipherNotInitialized, ClassName()), errNotInitialized);
  if (FMode != cmCTS)
    throw ECipherException(rtl::Format(sCipherModeNotSupported, int32_t(FMode)),
                           errModeNotSupported);
}

void TCipher::EncodeBuffer(const void* Source, void* Dest, int32_t DataSize) {
  CheckCanCode();
  const auto* src = static_cast<const uint8_t*>(Source);
  auto* dst = static_cast<uint8_t*>(Dest);
  const int32_t bs = FBufSize;
  for (; DataSize >= bs; DataSize -= bs, src += bs, dst += bs) {
    XorBlock(src, FFeedback, bs, dst);
    EncryptBlock(dst);
    XorBlock(FFeedback, dst, bs, FFeedback);
  }
  if (DataSize > 0) {
    std::memcpy(FBuffer, FFeedback, static_cast<size_t>(bs));
    EncryptBlock(FBuffer);
    XorBuffers(src, FBuffer, DataSize, dst);
    XorBuffers(FFeedback, FBuffer, bs, FFeedback);
  }
}

void TCipher::DecodeBuffer(const void* Source, void* Dest, int32_t DataSize) {
  CheckCanCode();
  const auto* src = static_cast<const uint8_t*>(Source);
  auto* dst = static_cast<uint8_t*>(Dest);
  const int32_t bs = FBufSize;
  for (; DataSize >= bs; DataSize -= bs, src += bs, dst += bs) {
    std::memcpy(FBuffer, src, static_cast<size_t>(bs));
    DecryptBlock(FBuffer);
    if (bs % 8 == 0 && SameOrApart(src, dst, bs)) {
      for (int32_t i = 0; i < bs; i += 8) {
        const uint64_t c = Load64(src + i);  // read before Dest, which may be Source
        Store64(dst + i, Load64(FBuffer + i) ^ Load64(FFeedback + i));
        Store64(FFeedback + i, Load64(FFeedback + i) ^ c);
      }
      continue;
    }
    for (int32_t i = 0; i < bs; ++i) {
      const uint8_t c = src[i];  // read before Dest, which may be Source, is written
      dst[i] = FBuffer[i] ^ FFeedback[i];
      FFeedback[i] ^= c;
    }
  }
  if (DataSize > 0) {
    std::memcpy(FBuffer, FFeedback, static_cast<size_t>(bs));
    EncryptBlock(FBuffer);
    XorBuffers(src, FBuffer, DataSize, dst);
    XorBuffers(FFeedback, FBuffer, bs, FFeedback);
  }
}

// --- Protection actions ----------------------------------------------------------

void TCipher::StartCoding(TPAction Action) {
  if (!Initialized())
    throw ECipherException(rtl::Format(sCipherNotInitialized, ClassName()), errNotInitialized);
  if (Action != paCalc) {
    if (Action == paWipe) throw rtl::Exception(sNotImplemented12);
    Done();
  }
  TProtection::StartCoding(Action);
}

void TCipher::FinishCoding(TPAction Action) {
  TProtection::FinishCoding(Action);
  if (Action != paCalc) {
    if (Action == paWipe) throw rtl::Exception(sNotImplemented12);
    Done();
  }
}

void TCipher::CodeData(void* Buffer, int32_t Size, TPAction Action) {
  if (Action == paDecode) {
    if (Actions().Contains(paDecode)) DecodeBuffer(Buffer, Buffer, Size);
    TProtection::CodeData(Buffer, Size, Action);
  } else {
    TProtection::CodeData(Buffer, Size, Action);
    if (Actions().Contains(Action)) EncodeBuffer(Buffer, Buffer, Size);
  }
}

// --- Cipher list -------------------------------------------------------------------

namespace {
std::unique_ptr<std::vector<TCipherListEntry>> gCipherList;
}  // namespace

std::vector<TCipherListEntry>& GetCipherList() {
  if (!gCipherList) RaiseEngineNotStarted("The cipher list");
  return *gCipherList;
}

void CreateCipherList() {
  // The one cipher the library lists when it is loaded.
  gCipherList = std::make_unique<std::vector<TCipherListEntry>>(
      std::vector<TCipherListEntry>{{"Rijndael=", TCipher_Rijndael::Class()}});
}

void FreeCipherList() noexcept { gCipherList.reset(); }

namespace {
std::string TrimText(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}
}  // namespace

bool AddCipherClass(TCipherClass CipherClass, const std::string& Name,
                    const std::string& Description) {
  if (CipherClass == nullptr) return false;
  std::string name = TrimText(Name);
  if (name.empty()) {
    name = CipherClass->ClassName;
    if (!name.empty() && name[0] == 'T') name.erase(0, 1);
    const size_t underscore = name.find('_');
    if (underscore != std::string::npos) name.erase(0, underscore + 1);
  }
  std::string text = name + "=" + Description;
  auto& list = GetCipherList();
  for (auto& entry : list) {
    if (entry.CipherClass == CipherClass) {
      entry.Text = std::move(text);
      return true;
    }
  }
  list.push_back({std::move(text), CipherClass});
  return true;
}

}  // namespace vex
