// Hashes of the cipher library: THash, the base that lets a hash serve as a
// link of a protection chain, and MD4, RIPEMD-128 and RIPEMD-256. Ciphers key
// themselves with a hash of the password (VEXCipher.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/VEXDecUtil.h"

namespace vex {

class THash;

// A hash class reference: what the class itself answers, and its class
// operations. Every hash class has exactly one, with static storage.
struct THashClassInfo {
  const char* ClassName;
  const THashClassInfo* Parent;
  int32_t FDigestKeySize;
  std::shared_ptr<THash> (*Factory)(TProtectionRef AProtection);
  const char* TestVectorText;

  // Digest length in bytes.
  int32_t DigestKeySize() const { return FDigestKeySize; }
  std::shared_ptr<THash> Create(TProtectionRef AProtection = nullptr) const {
    return Factory(std::move(AProtection));
  }
  bool InheritsFrom(const THashClassInfo* AClass) const;
  [[noreturn]] void TestVector() const;
  [[noreturn]] void SelfTest() const;

  // A fresh hash with Protection chained in front: Init, Calc, Done; the digest
  // as text in the string format Format.
  std::string CalcBuffer(const void* Buffer, int32_t BufferSize, TProtectionRef Protection,
                         int32_t Format) const;
  std::string CalcString(const std::string& Data, TProtectionRef Protection, int32_t Format) const;
  // StreamSize bytes from the stream's position, or (negative) the whole stream.
  std::string CalcStream(rtl::TStream& Stream, int32_t StreamSize, TProtectionRef Protection,
                         int32_t Format) const;
  std::string CalcFile(const std::string& FileName, TProtectionRef Protection,
                       int32_t Format) const;
};
using THashClass = const THashClassInfo*;

class THash : public TProtection {
 public:
  explicit THash(TProtectionRef AProtection = nullptr) : TProtection(std::move(AProtection)) {}

  virtual THashClass ClassType() const = 0;
  int32_t DigestKeySize() const { return ClassType()->DigestKeySize(); }

  virtual void Init() {}
  virtual void Calc(const void* Data, int32_t DataSize);
  virtual void Done() {}
  // The digest, DigestKeySize bytes.
  virtual uint8_t* DigestKey();
  std::string DigestStr(int32_t Format);

  void StartCoding(TPAction Action) override;
  void FinishCoding(TPAction Action) override;
  void CodeData(void* Buffer, int32_t Size, TPAction Action) override;
};

// MD4 (RFC 1320) and the base of the two RIPEMD hashes, which share its
// buffering and final block.
class THash_MD4 : public THash {
 public:
  explicit THash_MD4(TProtectionRef AProtection = nullptr);
  ~THash_MD4() override;

  static const THashClassInfo ClassInfo;
  static THashClass Class() { return &ClassInfo; }
  THashClass ClassType() const override { return &ClassInfo; }

  void Init() override;
  void Calc(const void* Data, int32_t DataSize) override;
  void Done() override;
  uint8_t* DigestKey() override;

 protected:
  // Compresses the 64 bytes of FBuffer into FDigest.
  virtual void HashBlock();

  // Bytes hashed so far. Kept in 64 bits so that the length in the final block
  // is right for any input, not only for inputs under 512 MiB.
  uint64_t FCount = 0;
  uint8_t FBuffer[64] = {};
  uint32_t FDigest[10] = {};
};

class THash_RipeMD128 : public THash_MD4 {
 public:
  using THash_MD4::THash_MD4;
  static const THashClassInfo ClassInfo;
  static THashClass Class() { return &ClassInfo; }
  THashClass ClassType() const override { return &ClassInfo; }

 protected:
  void HashBlock() override;
};

class THash_RipeMD256 : public THash_MD4 {
 public:
  using THash_MD4::THash_MD4;
  static const THashClassInfo ClassInfo;
  static THashClass Class() { return &ClassInfo; }
  THashClass ClassType() const override { return &ClassInfo; }

  void Init() override;

 protected:
  void HashBlock() override;
};

}  // namespace vex
