// Block ciphers of the cipher library and their common base TCipher: key
// derivation from a password through a hash, the initial vector and the
// library's own chaining mode cmCTS. The storage engine encrypts database pages
// with them; a cipher can also serve as a link of a protection chain.
//
// Life of a cipher: without a key it refuses to code (ECipherException, error
// 3). Init or InitKey gives it a key schedule and a vector; EncodeBuffer and
// DecodeBuffer move its chaining value along from call to call; Done restarts
// the chain at the vector; Protect and destruction wipe it. A keyed cipher may
// be used again and again with Done between messages, so a caller that codes
// many buffers under one password need not derive the key each time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/VEXDecUtil.h"
#include "foundation/VEXSecurity.h"

namespace vex {

enum TCipherMode : uint8_t {
  cmCTS = 0,
  cmCBC = 1,
  cmCFB = 2,
  cmOFB = 3,
  cmECB = 4,
  cmCTSMAC = 5,
  cmCBCMAC = 6,
  cmCFBMAC = 7
};

class ECipherException : public rtl::Exception {
 public:
  ECipherException(std::string Message, int32_t AErrorCode)
      : rtl::Exception(std::move(Message)), ErrorCode(AErrorCode) {}
  int32_t ErrorCode;
};

class TCipher;

// A cipher class reference: the class's sizes and its class operations. Every
// cipher class has exactly one, with static storage.
struct TCipherClassInfo {
  const char* ClassName;
  const TCipherClassInfo* Parent;
  int32_t BufSize;   // block size in bytes
  int32_t KeySize;   // largest key in bytes
  int32_t UserSize;  // bytes of the key schedule
  std::shared_ptr<TCipher> (*Factory)(const std::string& Password, TProtectionRef AProtection);
  const char* TestVectorText;

  void GetSizes(int32_t& ABufSize, int32_t& AKeySize, int32_t& AUserSize) const {
    ABufSize = BufSize;
    AKeySize = KeySize;
    AUserSize = UserSize;
  }
  int32_t MaxKeySize() const { return KeySize; }
  std::shared_ptr<TCipher> Create(const std::string& Password = {},
                                  TProtectionRef AProtection = nullptr) const {
    return Factory(Password, std::move(AProtection));
  }
  bool InheritsFrom(const TCipherClassInfo* AClass) const;
  [[noreturn]] void TestVector() const;
  [[noreturn]] void SelfTest() const;
};
using TCipherClass = const TCipherClassInfo*;

class TCipher : public TProtection {
 public:
  ~TCipher() override;

  TCipherClass ClassType() const { return FClass; }
  const char* ClassName() const { return FClass->ClassName; }

  TCipherMode Mode() const { return FMode; }
  // Only cmCTS is provided; coding in another mode raises ECipherException.
  void SetMode(TCipherMode Value) { FMode = Value; }

  // The hash that InitKey uses, created on first use.
  THash& Hash();
  THashClass HashClass() const { return FHashClass; }
  // Another class drops the current hash object; nullptr means RIPEMD-256.
  void SetHashClass(THashClass Value);

  int32_t KeySize() const { return FKeySize; }
  int32_t BufSize() const { return FBufSize; }
  // The initial vector and the chaining value, BufSize bytes each.
  uint8_t* Vector() { return FVector; }
  const uint8_t* Feedback() const { return FFeedback; }

  bool HasHashKey() const { return (FFlags & 1) != 0; }
  bool Initialized() const { return (FFlags & 2) != 0; }

  // Keys the cipher with the digest of Key, cut to KeySize. Key holds the
  // password's Windows-1252 bytes, so that existing files open. IVector: BufSize
  // bytes of initial vector, or nullptr for the encryption of an all-0xFF block.
  void InitKey(const std::string& Key, const void* IVector);
  // Builds the key schedule from Size bytes of Key (cut to KeySize, the rest of
  // the key zero) and sets the vector from IVector as InitKey does.
  virtual void Init(const void* Key, int32_t Size, const void* IVector) = 0;

  // Code DataSize bytes in the current mode, continuing the chain. Source and
  // Dest may be the same buffer; the output is as long as the input.
  void EncodeBuffer(const void* Source, void* Dest, int32_t DataSize);
  void DecodeBuffer(const void* Source, void* Dest, int32_t DataSize);

  // Restarts the chain at the vector.
  virtual void Done();
  // Wipes key schedule, vector and chain; the cipher is without a key after it.
  virtual void Protect();

  void StartCoding(TPAction Action) override;
  void FinishCoding(TPAction Action) override;
  void CodeData(void* Buffer, int32_t Size, TPAction Action) override;

 protected:
  TCipher(TCipherClass AClass, TProtectionRef AProtection);
  // The last step of construction, run by the most derived class: the key of
  // a non-empty password.
  void Construct(const std::string& Password);

  virtual void EncryptBlock(uint8_t* Data) = 0;
  virtual void DecryptBlock(uint8_t* Data) = 0;

  void SetStateFlag(int Index, bool Value);
  // The first step of every Init: no key, everything wiped; the key length cut
  // to 0..KeySize.
  int32_t StartInit(int32_t Size);
  // The last step of every Init: the vector and the chain start.
  void FinishInit(const void* IVector);

  uint32_t* User() { return FStorage.get(); }
  uint8_t* Buffer() { return FBuffer; }

 private:
  void CheckCanCode() const;

  TCipherClass FClass;
  TCipherMode FMode = cmCTS;
  std::shared_ptr<THash> FHash;
  THashClass FHashClass;
  int32_t FKeySize;
  int32_t FBufSize;
  int32_t FUserSize;
  // One block for the key schedule followed by the work block, the vector and
  // the chaining value; words, so that schedules are read as words.
  std::unique_ptr<uint32_t[]> FStorage;
  size_t FStorageBytes = 0;
  uint8_t* FBuffer = nullptr;
  uint8_t* FVector = nullptr;
  uint8_t* FFeedback = nullptr;
  int32_t FFlags = 0;
};

// Shared shape of the concrete classes: the class reference, the public
// constructor that keys from a password, and a protected one for descendants.
#define VEX_CIPHER_CLASS(Name)                                                          \
 public:                                                                                \
  explicit Name(const std::string& Password = {}, TProtectionRef AProtection = nullptr) \
      : Name(&ClassInfo, std::move(AProtection)) {                                      \
    Construct(Password);                                                                \
  }                                                                                     \
  static const TCipherClassInfo ClassInfo;                                              \
  static TCipherClass Class() { return &ClassInfo; }                                    \
                                                                                        \
 protected:                                                                             \
  Name(TCipherClass AClass, TProtectionRef AProtection);                                \
                                                                                        \
 public:

// AES (FIPS-197): 10, 12 or 14 rounds for keys of up to 16, 24 or 32 bytes.
class TCipher_Rijndael : public TCipher {
  VEX_CIPHER_CLASS(TCipher_Rijndael)
  void Init(const void* Key, int32_t Size, const void* IVector) override;
  int32_t Rounds() const { return FRounds; }

 protected:
  void EncryptBlock(uint8_t* Data) override;
  void DecryptBlock(uint8_t* Data) override;

 private:
  int32_t FRounds = 0;
};

// Whether the processor has the AES instructions that Rijndael uses where it
// can. Tests switch them off to run the table code on the same vectors.
bool RijndaelHardwarePresent();
void SetRijndaelHardwareEnabled(bool enabled);

class TCipher_Blowfish : public TCipher {
  VEX_CIPHER_CLASS(TCipher_Blowfish)
  void Init(const void* Key, int32_t Size, const void* IVector) override;

 protected:
  void EncryptBlock(uint8_t* Data) override;
  void DecryptBlock(uint8_t* Data) override;
};

// DES (FIPS 46-3); the parity bits of the key are ignored.
class TCipher_1DES : public TCipher {
  VEX_CIPHER_CLASS(TCipher_1DES)
  void Init(const void* Key, int32_t Size, const void* IVector) override;

 protected:
  void EncryptBlock(uint8_t* Data) override;
  void DecryptBlock(uint8_t* Data) override;
  // The encryption and decryption subkeys of one key, 32 words each.
  static void MakeSchedule(const uint8_t Key[8], uint32_t* Encrypt, uint32_t* Decrypt);
  // One DES pass over an 8-byte block with a 32-word schedule.
  static void DESBlock(uint8_t* Data, const uint32_t* Schedule);
};

// Triple DES, encrypt-decrypt-encrypt with K1, K2, K3 = key bytes 0-7, 8-15, 16-23.
class TCipher_3DES : public TCipher_1DES {
  VEX_CIPHER_CLASS(TCipher_3DES)
  void Init(const void* Key, int32_t Size, const void* IVector) override;

 protected:
  void EncryptBlock(uint8_t* Data) override;
  void DecryptBlock(uint8_t* Data) override;
};

// Triple DES over 24-byte blocks: the three thirds are coded side by side and
// words are exchanged between them after the first and second passes.
class TCipher_3TDES : public TCipher_3DES {
  VEX_CIPHER_CLASS(TCipher_3TDES)

 protected:
  void EncryptBlock(uint8_t* Data) override;
  void DecryptBlock(uint8_t* Data) override;
};

class TCipher_Twofish : public TCipher {
  VEX_CIPHER_CLASS(TCipher_Twofish)
  void Init(const void* Key, int32_t Size, const void* IVector) override;

 protected:
  void EncryptBlock(uint8_t* Data) override;
  void DecryptBlock(uint8_t* Data) override;
};

class TCipher_Square : public TCipher {
  VEX_CIPHER_CLASS(TCipher_Square)
  void Init(const void* Key, int32_t Size, const void* IVector) override;

 protected:
  void EncryptBlock(uint8_t* Data) override;
  void DecryptBlock(uint8_t* Data) override;
};

#undef VEX_CIPHER_CLASS

// The process-wide list of cipher classes, each entry "Name=Description" with
// its class. It starts with TCipher_Rijndael listed as "Rijndael=".
struct TCipherListEntry {
  std::string Text;
  TCipherClass CipherClass;
};
std::vector<TCipherListEntry>& GetCipherList();
// Creates the list with its one entry, and frees it: the engine's start-up and
// shut-down only (GetCipherList raises EVEXEngineNotStarted in between).
void CreateCipherList();
void FreeCipherList() noexcept;
// Lists a class, or renames it when listed already. An empty Name becomes the
// class name without the leading "T" and without all up to the first "_".
bool AddCipherClass(TCipherClass CipherClass, const std::string& Name,
                    const std::string& Description);

}  // namespace vex
