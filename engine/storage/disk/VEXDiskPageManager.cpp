// The disk page manager. See VEXDiskPageManager.h for the invariants and the
// commit's state diagram, docs/file-formats.md for the bytes.
#include "storage/disk/VEXDiskPageManager.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "foundation/VEXCipher.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXSecurity.h"
#include "foundation/VEXStream.h"
#include "os/Clock.h"
#include "storage/disk/VEXFreeSpaceManager.h"

namespace vex {

namespace {

constexpr int16_t kCryptoHeaderSize = 280;
constexpr int16_t kLockedByteSize = 20;
constexpr int32_t kLastObjectIDSize = 4;
// Written states run 0 .. kMaxWrittenPageState, then start again at 0.
constexpr uint32_t kMaxWrittenPageState = 0x7FFFFFFC;
constexpr uint32_t kObjectIDReadOnlySpread = 10000;
constexpr const char* kNotOpened = "Error - database file is not opened.";
constexpr const char* kInvalidFormat = "Invalid database format";
constexpr const char* kDatabaseLocked = "Database is locked";

constexpr const char* kPageTypeNames[] = {"Unknown Page",
                                          "Empty Page",
                                          "EAM Page",
                                          "PFS Page",
                                          "FileSystemDirectory Page",
                                          "ActiveSessionList Page",
                                          "TableList Page",
                                          "TableLocks Page",
                                          "TableMetaData Page",
                                          "TableMostUpdated Page",
                                          "TableRecord Page",
                                          "TableBlob Page",
                                          "TableIndex Page"};

struct PairClasses {
  TCipherClass Cipher;
  THashClass Hash;
};

// The cipher and hash of each TVEXCryptoAlgorithm, by ordinal.
PairClasses PairOf(uint8_t Algorithm) {
  switch (Algorithm) {
    case craRijndael_128:
      return {TCipher_Rijndael::Class(), THash_RipeMD128::Class()};
    case craRijndael_256:
      return {TCipher_Rijndael::Class(), THash_RipeMD256::Class()};
    case craDES_Single:
      return {TCipher_1DES::Class(), THash_RipeMD128::Class()};
    case craDES_Triple:
      return {TCipher_3TDES::Class(), THash_RipeMD128::Class()};
    case craBlowfish:
      return {TCipher_Blowfish::Class(), THash_RipeMD256::Class()};
    case craTwofish_128:
      return {TCipher_Twofish::Class(), THash_RipeMD128::Class()};
    case craTwofish_256:
      return {TCipher_Twofish::Class(), THash_RipeMD256::Class()};
    case craSquare:
      return {TCipher_Square::Class(), THash_RipeMD128::Class()};
    default:
      return {nullptr, nullptr};
  }
}

// A cipher of the pair, keyed from the password with its own vector.
std::shared_ptr<TCipher> MakePairCipher(uint8_t Algorithm, const std::string& Password) {
  const PairClasses pair = PairOf(Algorithm);
  if (pair.Cipher == nullptr) return nullptr;
  std::shared_ptr<TCipher> cipher = pair.Cipher->Create(Password);
  cipher->SetHashClass(pair.Hash);
  cipher->InitKey(Password, cipher->Vector());
  return cipher;
}

bool CodeWithFreshCipher(uint8_t Algorithm, uint8_t* Buffer, int32_t Size,
                         const std::string& Password, bool Encode) {
  try {
    std::shared_ptr<TCipher> cipher = MakePairCipher(Algorithm, Password);
    if (cipher == nullptr) return false;
    if (Encode) {
      cipher->EncodeBuffer(Buffer, Buffer, Size);
    } else {
      cipher->DecodeBuffer(Buffer, Buffer, Size);
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

int32_t NextWrittenState(int32_t State) {
  const uint32_t next = static_cast<uint32_t>(State) + 1;
  return next > kMaxWrittenPageState ? 0 : static_cast<int32_t>(next);
}

// The read-only probe: whether the file cannot be written. Writing back the
// first byte is the test, as an attribute alone does not tell (a file on a
// read-only share, a file another program holds).
bool IsFileReadOnly(const std::string& FileName, bool& MultiUser) {
  if (os::File::IsReadOnly(FileName)) {
    MultiUser = false;
    return true;
  }
  os::File probe;
  if (!probe.Open(FileName, os::Access::ReadWrite,
                  MultiUser ? os::Share::DenyNone : os::Share::DenyRead)) {
    return true;
  }
  uint8_t first = 0;
  size_t got = 0;
  bool readOnly = false;
  if (probe.Read(&first, 1, 0, &got) && got == 1) readOnly = !probe.Write(&first, 1, 0);
  probe.Close();
  return readOnly;
}

bool FileExists(const std::string& FileName) {
  std::error_code error;
  return std::filesystem::exists(FileName, error);
}

}  // namespace

// ---------------------------------------------------------------------------
// Unit routines

std::string GetPageTypeName(uint16_t PageType) {
  if (PageType > ptTableIndex) throw EVEXException(30382, "Unknown Page Type: (%d)", PageType);
  return kPageTypeNames[PageType];
}

void CheckPageType(uint16_t Found, uint16_t Expected, int32_t NativeErrorCode) {
  if (Found == Expected) return;
  // A damaged page may carry any number; its name must not hide the error.
  const std::string found =
      Found > ptTableIndex ? rtl::Format("Unknown Page Type: (%d)", Found) : GetPageTypeName(Found);
  throw EVEXException(NativeErrorCode, "Wrong page type. Found '%s', but expecting: '%s'", found,
                      GetPageTypeName(Expected));
}

bool EncryptPageBuffer(TVEXCryptoAlgorithm CryptoAlgorithm, uint8_t* Buffer, int32_t Size,
                       const std::string& Password) {
  return CodeWithFreshCipher(CryptoAlgorithm, Buffer, Size, Password, true);
}

bool DecryptPageBuffer(TVEXCryptoAlgorithm CryptoAlgorithm, uint8_t* Buffer, int32_t Size,
                       const std::string& Password) {
  return CodeWithFreshCipher(CryptoAlgorithm, Buffer, Size, Password, false);
}

// ---------------------------------------------------------------------------
// TVEXPageCipher

TVEXPageCipher::TVEXPageCipher() = default;
TVEXPageCipher::~TVEXPageCipher() = default;

void TVEXPageCipher::SetPassword(const std::string& Password) {
  FPassword = Password;
  for (auto& cipher : FCiphers) cipher.reset();
}

TCipher* TVEXPageCipher::CipherFor(uint8_t Algorithm) {
  if (Algorithm >= kCryptoAlgorithmCount) return nullptr;
  std::shared_ptr<TCipher>& cipher = FCiphers[Algorithm];
  if (cipher == nullptr) cipher = MakePairCipher(Algorithm, FPassword);
  return cipher.get();
}

bool TVEXPageCipher::Encrypt(uint8_t Algorithm, uint8_t* Buffer, int32_t Size) {
  return Code(Algorithm, Buffer, Size, true);
}

bool TVEXPageCipher::Decrypt(uint8_t Algorithm, uint8_t* Buffer, int32_t Size) {
  return Code(Algorithm, Buffer, Size, false);
}

bool TVEXPageCipher::Code(uint8_t Algorithm, uint8_t* Buffer, int32_t Size, bool Encode) {
  try {
    TCipher* cipher = CipherFor(Algorithm);
    if (cipher == nullptr) return false;
    // Every buffer starts the chain afresh, as a newly keyed cipher would.
    cipher->Done();
    if (Encode) {
      cipher->EncodeBuffer(Buffer, Buffer, Size);
    } else {
      cipher->DecodeBuffer(Buffer, Buffer, Size);
    }
    cipher->Done();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// ---------------------------------------------------------------------------
// TVEXDiskPageManager: life

TVEXDiskPageManager::TVEXDiskPageManager(TVEXLock* DatabaseLock)
    : TVEXPageManager(DatabaseLock),
      FDatabaseFile(std::make_unique<TVEXDatabaseFile>()),
      FTablePagesCacheManager(std::make_unique<TVEXDiskTablePagesCacheManager>()) {
  InitDBHeader();
  SetPrologueOffsets(0, kLockedByteSize);
}

// Nothing else can reach a page manager that is being destroyed.
TVEXDiskPageManager::~TVEXDiskPageManager() VEX_NO_THREAD_SAFETY_ANALYSIS { CloseDatabase(); }

void TVEXDiskPageManager::InitDBHeader() {
  FDBHeader = TVEXDBHeader{};
  std::memcpy(FDBHeader.Signature, kDBSignature, sizeof(FDBHeader.Signature));
  FDBHeader.HeaderSize = sizeof(TVEXDBHeader);
  FDBHeader.Version = kDBVersion;
  FDBHeader.TotalPageCount = 0;
  FDBHeader.LastUsedPageNo = -1;
  FDBHeader.WriteChangesState = kWriteChangesDone;
  FCryptoHeader = TVEXCryptoHeader{};
  FCryptoHeader.CryptoHeaderSize = kCryptoHeaderSize;
  FLockedBytes = TVEXLockedBytes{};
  FLockedBytes.LockedByteSize = kLockedByteSize;
}

void TVEXDiskPageManager::SetGeometry(uint16_t PageSize) {
  FPageSize = PageSize;
  FPageHeaderSize = kDiskPageHeaderSize;
  FPageDataSize = static_cast<uint16_t>(PageSize - kDiskPageHeaderSize);
  FScratch.assign(PageSize, 0);
}

void TVEXDiskPageManager::SetPrologueOffsets(int64_t HeaderOffset, int64_t LockedByteSize) {
  FOffsetToDBHeader = HeaderOffset;
  FOffsetToCryptoHeader = HeaderOffset + static_cast<int64_t>(sizeof(TVEXDBHeader));
  FOffsetToLockedBytes = FOffsetToCryptoHeader + kCryptoHeaderSize;
  FOffsetToLastObjectID = FOffsetToLockedBytes + LockedByteSize;
  FOffsetToFirstPage = FOffsetToLastObjectID + kLastObjectIDSize;
}

void TVEXDiskPageManager::CheckOpenedFor(int32_t NativeErrorCode) const {
  if (!FDatabaseFile->IsOpened()) throw EVEXException(NativeErrorCode, kNotOpened);
}

void TVEXDiskPageManager::CheckHeaderFormat(const TVEXDBHeader& Header) const {
  const int32_t total = Header.TotalPageCount;
  const int32_t lastUsed = Header.LastUsedPageNo;
  const bool valid = Header.HeaderSize == static_cast<int16_t>(sizeof(TVEXDBHeader)) &&
                     Header.PageSize >= kMinPageSize && Header.PageSize <= kMaxPageSize &&
                     Header.PageCountInExtent >= 1 && total >= 0 && lastUsed >= -1 &&
                     lastUsed < total;
  if (!valid) throw EVEXException(20237, kInvalidFormat);
}

void TVEXDiskPageManager::CreateFreeSpaceManager() {
  FDatabaseFreeSpaceManager = std::make_unique<TVEXDatabaseFreeSpaceManager>(this);
}

void TVEXDiskPageManager::CreateAndOpenDatabase(const std::string& DatabaseFileName,
                                                const TVEXPassword& Password, uint16_t PageSize,
                                                uint16_t ExtentPageCount) {
  if (IsOpened()) {
    throw EVEXException(10461, "Error - database file %s is in use.", FDatabaseFile->FileName());
  }
  const bool encrypted = !Password.Password.empty();
  if (PageSize < kMinPageSize || ExtentPageCount < 1 ||
      (encrypted && Password.CryptoAlgorithm >= kCryptoAlgorithmCount)) {
    throw EVEXException(20237, kInvalidFormat);
  }
  // Pages of an earlier file must not be taken for this one's.
  FreeAllPages();
  InitDBHeader();
  SetPrologueOffsets(0, kLockedByteSize);
  SetGeometry(PageSize);
  FPassword = Password;
  FCipher.SetPassword(Password.Password);

  FDatabaseFile->CreateAndOpenFile(DatabaseFileName);
  ScopeFailure closeOnFailure([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { CloseDatabase(); });
  FExclusive = true;
  FMultiUser = false;
  FWritable = true;

  FDBHeader.Encrypted = encrypted ? 0xFF : 0;
  FDBHeader.PageSize = PageSize;
  FDBHeader.PageCountInExtent = ExtentPageCount;
  if (encrypted) {
    FCryptoHeader.CryptoAlgorithm = Password.CryptoAlgorithm;
    os::Clock& clock = os::CurrentClock();
    for (uint8_t& b : FCryptoHeader.ControlBlock) b = static_cast<uint8_t>(clock.Random(255));
    FCryptoHeader.ControlBlockCRC =
        UpdateCrc32(0, FCryptoHeader.ControlBlock, sizeof(FCryptoHeader.ControlBlock));
    if (!FCipher.Encrypt(Password.CryptoAlgorithm, FCryptoHeader.ControlBlock,
                         sizeof(FCryptoHeader.ControlBlock))) {
      throw EVEXException(30438, "Cannot encrypt the password check block");
    }
  }
  WriteDBHeader(true);
  WriteCryptoHeader();
  WriteLockedBytes();
  InitObjectID(kDBHeaderLockTries, kDBHeaderLockDelayMS);
  CreateFreeSpaceManager();
}

void TVEXDiskPageManager::OpenDatabase(const std::string& DatabaseFileName,
                                       const TVEXPassword& Password, bool& ReadOnly,
                                       bool& RepairNeeded, bool Exclusive, bool& aMultiUser) {
  if (IsOpened()) {
    throw EVEXException(10462, "Error - database file %s is in use.", FDatabaseFile->FileName());
  }
  FreeAllPages();
  InitDBHeader();
  FPassword = Password;
  FCipher.SetPassword(Password.Password);
  if (!ReadOnly && FileExists(DatabaseFileName)) {
    ReadOnly = IsFileReadOnly(DatabaseFileName, aMultiUser);
  }
  FMultiUser = aMultiUser;
  FExclusive = Exclusive;
  TVEXAccessMode access = amReadWrite;
  TVEXShareMode share = smShareDenyNone;
  if (ReadOnly) {
    access = amReadOnly;
  } else if (Exclusive) {
    share = smExclusive;
    FMultiUser = false;
  }
  FDatabaseFile->OpenFile(DatabaseFileName, access, share);
  ScopeFailure closeOnFailure([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { CloseDatabase(); });
  FWritable = !ReadOnly;

  // The header is found before its lock is taken, so that a database behind
  // a stub locks the same byte as every other connection to it.
  int64_t headerOffset = 0;
  if (!FDatabaseFile->FindSignature(headerOffset)) headerOffset = 0;
  SetPrologueOffsets(headerOffset, kLockedByteSize);
  LockDBHeaderOrRaise(20230);
  {
    ScopeExit unlock([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { UnlockDBHeader(); });
    ReadDBHeader();
  }
  RepairNeeded = FDBHeader.WriteChangesState != kWriteChangesDone ||
                 !(FDBHeader.Version >= kDBOldFormatVersion);

  if (std::memcmp(FDBHeader.Signature, kDBSignature, sizeof(FDBHeader.Signature)) != 0) {
    char text[sizeof(TVEXDBHeader) + 1] = {};
    std::memcpy(text, &FDBHeader, sizeof(TVEXDBHeader));
    throw EVEXException(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
                        std::string(text), std::string(kDBSignature));
  }
  CheckHeaderFormat(FDBHeader);
  SetGeometry(FDBHeader.PageSize);

  ReadCryptoHeader();
  if (FCryptoHeader.CryptoHeaderSize != kCryptoHeaderSize) {
    throw EVEXException(20237, kInvalidFormat);
  }
  if (Encrypted()) {
    if (FCryptoHeader.CryptoAlgorithm >= kCryptoAlgorithmCount) {
      throw EVEXException(20237, kInvalidFormat);
    }
    // The file decides the pair, not the caller.
    FPassword.CryptoAlgorithm = static_cast<TVEXCryptoAlgorithm>(FCryptoHeader.CryptoAlgorithm);
    const bool decrypted =
        FCipher.Decrypt(FCryptoHeader.CryptoAlgorithm, FCryptoHeader.ControlBlock,
                        sizeof(FCryptoHeader.ControlBlock));
    if (!decrypted ||
        UpdateCrc32(0, FCryptoHeader.ControlBlock, sizeof(FCryptoHeader.ControlBlock)) !=
            FCryptoHeader.ControlBlockCRC) {
      throw EVEXException(30445, "Cannot open database - incorrect password");
    }
  }
  ReadLockedByteSize();
  if (FLockedBytes.LockedByteSize != kLockedByteSize) throw EVEXException(20237, kInvalidFormat);
  SetPrologueOffsets(headerOffset, FLockedBytes.LockedByteSize);
  CreateFreeSpaceManager();
  aMultiUser = FMultiUser;
}

void TVEXDiskPageManager::CloseDatabase() noexcept {
  if (FDatabaseFile->IsOpened()) {
    try {
      FDatabaseFile->CloseFile();
    } catch (const std::exception&) {
      // The file object counts as closed all the same.
    }
  }
  FLockDBHeaderCount = 0;
  FPagesInFileSeen = 0;
  FDatabaseFreeSpaceManager.reset();
  FreeAllPages();
}

void TVEXDiskPageManager::TruncateDatabase() {
  LockDBHeaderOrRaise(20213);
  ScopeExit unlock([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { UnlockDBHeader(); });
  // Read again: another connection may have taken pages since this one last
  // looked, and cutting them off would lose them.
  ReadDBHeader();
  const int64_t unused = int64_t{FDBHeader.TotalPageCount} - 1 - int64_t{FDBHeader.LastUsedPageNo};
  if (unused > 0) TruncateFile(static_cast<int32_t>(unused));
}

void TVEXDiskPageManager::ExtendFile(int32_t PageCount) {
  if (PageCount < 1) return;
  const int64_t total = int64_t{FDBHeader.TotalPageCount} + PageCount;
  if (total > std::numeric_limits<int32_t>::max()) {
    throw EVEXException(20237, kInvalidFormat);
  }
  // The size follows the page count rather than the current size, so a file
  // left longer by an interrupted growth comes back into step.
  FDatabaseFile->SetSize(FOffsetToFirstPage + total * FPageSize);
  FDBHeader.TotalPageCount = static_cast<int32_t>(total);
}

void TVEXDiskPageManager::TruncateFile(int32_t PageCount) {
  if (PageCount < 1 || PageCount > FDBHeader.TotalPageCount) return;
  FDBHeader.TotalPageCount -= PageCount;
  // The header goes first: a file cut short of its header's page count would
  // lose pages, one left longer only wastes space.
  WriteDBHeader(true);
  FDatabaseFile->SetSize(FOffsetToFirstPage + int64_t{FDBHeader.TotalPageCount} * FPageSize);
}

// ---------------------------------------------------------------------------
// Headers

void TVEXDiskPageManager::ReadDBHeader() {
  CheckOpenedFor(10459);
  TVEXDBHeader header{};
  FDatabaseFile->ReadBuffer(&header, sizeof(header), FOffsetToDBHeader, 10464);
  FDBHeader = header;
}

void TVEXDiskPageManager::WriteDBHeader(bool /*CheckExternalChange*/) {
  CheckOpenedFor(10460);
  FDatabaseFile->WriteBuffer(&FDBHeader, sizeof(FDBHeader), FOffsetToDBHeader, 10462);
}

void TVEXDiskPageManager::ReadCryptoHeader() {
  CheckOpenedFor(30436);
  TVEXCryptoHeader header{};
  FDatabaseFile->ReadBuffer(&header, sizeof(header), FOffsetToCryptoHeader, 30439);
  FCryptoHeader = header;
}

void TVEXDiskPageManager::WriteCryptoHeader() {
  CheckOpenedFor(30437);
  FDatabaseFile->WriteBuffer(&FCryptoHeader, sizeof(FCryptoHeader), FOffsetToCryptoHeader, 30438);
}

void TVEXDiskPageManager::WriteLockedBytes() {
  CheckOpenedFor(30441);
  FDatabaseFile->WriteBuffer(&FLockedBytes, sizeof(FLockedBytes), FOffsetToLockedBytes, 30442);
}

void TVEXDiskPageManager::ReadLockedByteSize() {
  CheckOpenedFor(30443);
  // Only the size: the bytes after it may be locked by other connections.
  int16_t size = 0;
  FDatabaseFile->ReadBuffer(&size, sizeof(size), FOffsetToLockedBytes, 30444);
  FLockedBytes.LockedByteSize = size;
}

// ---------------------------------------------------------------------------
// Page I/O

int64_t TVEXDiskPageManager::GetPagePosition(int32_t PageNo) const {
  if (PageNo < 0) throw EVEXException(10471, "Invalid PageNo = %d", PageNo);
  return FOffsetToFirstPage + int64_t{PageNo} * FPageSize;
}

int64_t TVEXDiskPageManager::PageCountBound() {
  const int64_t inFile =
      (FDatabaseFile->GetSize() - FOffsetToFirstPage) / std::max<int32_t>(FPageSize, 1);
  FPagesInFileSeen = std::max<int64_t>(inFile, 0);
  return std::max<int64_t>({int64_t{FDBHeader.TotalPageCount}, FPagesInFileSeen});
}

bool TVEXDiskPageManager::ExceedsPageCountBound(int64_t Count) {
  if (Count <= std::max<int64_t>(FDBHeader.TotalPageCount, FPagesInFileSeen)) return false;
  return Count > PageCountBound();
}

bool TVEXDiskPageManager::IsSystemPage(int32_t PageNo) const {
  return FDatabaseFreeSpaceManager != nullptr && FDatabaseFreeSpaceManager->IsSystemPage(PageNo);
}

bool TVEXDiskPageManager::PageIsEncrypted(const TVEXPage* aPage) const {
  return Encrypted() && !IsSystemPage(aPage->PageNo());
}

bool TVEXDiskPageManager::InternalReadPage(TVEXPage* aPage) {
  if (aPage->PageBuffer() == nullptr) aPage->AllocPageBuffer();
  // A page the file does not wholly hold (another connection has cut it off)
  // cannot be read: a zero-filled image in the cache would pass for a page.
  size_t transferred = 0;
  if (!FDatabaseFile->ReadBuffer(aPage->PageBuffer(), FPageSize, GetPagePosition(aPage->PageNo()),
                                 transferred) ||
      transferred < static_cast<size_t>(FPageSize)) {
    aPage->PageHeader()->State = kRemovedPageState;
    return false;
  }
  if (PageIsEncrypted(aPage)) {
    TVEXDiskPageHeader* header = aPage->PageHeader();
    // A cipher byte no pair answers to leaves the data as read; the CRC
    // check then tells.
    FCipher.Decrypt(header->Cipherype, aPage->PageData(), FPageDataSize);
    if (!FIgnoreCRCErrors && UpdateCrc32(0, aPage->PageData(), FPageDataSize) != header->CRC32) {
      throw EVEXException(30446, "Decrypt page error. Check CRC failed. PageNo: %d",
                          aPage->PageNo());
    }
  }
  aPage->SetReloaded(true);
  return true;
}

void TVEXDiskPageManager::InternalWritePage(TVEXPage* aPage) {
  TVEXDiskPageHeader* header = aPage->PageHeader();
  header->State = NextWrittenState(header->State);
  const uint8_t* image = aPage->PageBuffer();
  if (PageIsEncrypted(aPage) && aPage->EncryptionEnabled()) {
    header->Cipherype = FPassword.CryptoAlgorithm;
    header->CRC32 = UpdateCrc32(0, aPage->PageData(), FPageDataSize);
    std::memcpy(FScratch.data(), aPage->PageBuffer(), FPageSize);
    if (!FCipher.Encrypt(FPassword.CryptoAlgorithm, FScratch.data() + kDiskPageHeaderSize,
                         FPageDataSize)) {
      // Never write the plain data of an encrypted database.
      throw EVEXException(10469, "Cannot encrypt page. PageNo: %d", aPage->PageNo());
    }
    image = FScratch.data();
  }
  FDatabaseFile->WriteBuffer(image, FPageSize, GetPagePosition(aPage->PageNo()), 10469);
}

int32_t TVEXDiskPageManager::InternalReadPageState(int32_t PageNo) {
  if (!FMultiUser) return kRemovedPageState;
  int32_t state = kRemovedPageState;
  try {
    FDatabaseFile->ReadBuffer(&state, sizeof(state), GetPagePosition(PageNo) + 4, 20197);
  } catch (const EVEXException&) {
    return kRemovedPageState;
  }
  return state;
}

void TVEXDiskPageManager::InternalWritePageState(int32_t PageNo, int32_t PageState) {
  FDatabaseFile->WriteBuffer(&PageState, sizeof(PageState), GetPagePosition(PageNo) + 4, 20198);
}

void TVEXDiskPageManager::CheckRegion(uint16_t Offset, uint16_t Count,
                                      int32_t NativeErrorCode) const {
  if (int32_t{Offset} + Count > FPageSize) {
    throw EVEXException(NativeErrorCode, "Error - invalid page offset = %d, page size = %d",
                        int32_t{Offset} + Count, int32_t{FPageSize});
  }
}

void TVEXDiskPageManager::ReadPageRegion(void* Buffer, int32_t PageNo, uint16_t Offset,
                                         uint16_t Count) {
  CheckRegion(Offset, Count, 10476);
  FDatabaseFile->ReadBuffer(Buffer, Count, GetPagePosition(PageNo) + Offset, 10474);
}

void TVEXDiskPageManager::WritePageRegion(const void* Buffer, int32_t PageNo, uint16_t Offset,
                                          uint16_t Count) {
  CheckRegion(Offset, Count, 10477);
  FDatabaseFile->WriteBuffer(Buffer, Count, GetPagePosition(PageNo) + Offset, 10475);
}

void TVEXDiskPageManager::WriteEmptyPage(int32_t PageNo) {
  std::vector<uint8_t> image(FPageSize, 0);
  TVEXDiskPageHeader header{};
  std::memcpy(header.Signature, "VEX1", 4);
  header.State = NextWrittenState(0);
  header.PageType = ptEmpty;
  header.NextPageNo = -1;
  header.ObjectID = -1;
  std::memcpy(image.data(), &header, sizeof(header));
  FDatabaseFile->WriteBuffer(image.data(), FPageSize, GetPagePosition(PageNo), 10469);
}

TVEXDatabaseFreeSpaceManager& TVEXDiskPageManager::OpenFreeSpaceManager() const {
  // The maps exist exactly while the file is open.
  if (FDatabaseFreeSpaceManager == nullptr) throw EVEXException(10459, kNotOpened);
  return *FDatabaseFreeSpaceManager;
}

// The free-space manager's page manager is this one, so its lock is held; the
// analysis cannot see through that pointer.
void TVEXDiskPageManager::InternalAddPage(TVEXPage* aPage) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXDatabaseFreeSpaceManager& space = OpenFreeSpaceManager();
  // The buffer first: a number taken from the maps and then lost to a failed
  // allocation would stay marked used.
  aPage->AllocPageBuffer();
  aPage->SetPageNo(space.GetPage(-1));
}

void TVEXDiskPageManager::InternalRemovePage(int32_t PageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXDatabaseFreeSpaceManager& space = OpenFreeSpaceManager();
  InternalWritePageState(PageNo, kRemovedPageState);
  space.FreePage(PageNo);
}

TVEXPage* TVEXDiskPageManager::GetPage(int32_t SessionID, int32_t PageNo, uint16_t PageType,
                                       bool SynchronizeAllowed) {
  if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->CheckPageNoForSystemPages(PageNo);
  return TVEXPageManager::GetPage(SessionID, PageNo, PageType, SynchronizeAllowed);
}

void TVEXDiskPageManager::RemovePage(int32_t SessionID, int32_t PageNo) {
  if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->CheckPageNoForSystemPages(PageNo);
  TVEXPageManager::RemovePage(SessionID, PageNo);
}

int32_t TVEXDiskPageManager::PageCount() {
  if (FExclusive && FWritable) return FDBHeader.TotalPageCount;
  if (!LockDBHeader()) throw EVEXException(20236, kDatabaseLocked);
  ScopeExit unlock([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { UnlockDBHeader(); });
  ReadDBHeader();
  return FDBHeader.TotalPageCount;
}

TVEXPage* TVEXDiskPageManager::GetPageIfInFile(int32_t SessionID, int32_t PageNo, uint16_t PageType,
                                               bool SynchronizeAllowed) {
  if (PageNo < 1) return nullptr;
  if (PageNo >= FDBHeader.TotalPageCount && PageNo >= PageCount()) return nullptr;
  try {
    return GetPage(SessionID, PageNo, PageType, SynchronizeAllowed);
  } catch (const EVEXException& e) {
    // A page that cannot be read beyond the count the header now gives went
    // with a cut of the file; below it the failure stands.
    if (e.NativeError != 20299 || PageNo < PageCount()) throw;
    return nullptr;
  }
}

bool TVEXDiskPageManager::IsPageTableStateCurrent(int32_t SessionID, TVEXPage* Page) {
  if (!FMultiUser) return true;
  int32_t workTable = -1;
  int32_t workState = 0;
  if (!FTablePagesCacheManager->GetWorkTableState(SessionID, workTable, workState)) return false;
  // Equal states of two tables, or of one table before and after it was
  // dropped and made again, say nothing about each other.
  int32_t pageTable = -1;
  int32_t pageState = 0;
  return Page->GetTableState(SessionID, pageTable, pageState) && pageTable == workTable &&
         pageState == workState;
}

void TVEXDiskPageManager::UpdatePageTableState(int32_t SessionID, TVEXPage* Page) {
  if (!FMultiUser) return;
  int32_t workTable = -1;
  int32_t workState = 0;
  if (FTablePagesCacheManager->GetWorkTableState(SessionID, workTable, workState)) {
    Page->SetTableState(SessionID, workTable, workState);
  }
}

// ---------------------------------------------------------------------------
// Commit

void TVEXDiskPageManager::ApplyChanges(int32_t SessionID, bool DoFlushBuffers) {
  int32_t index;
  if (!FindSessionIndex(SessionID, index)) return;
  const TVEXSessionPageInfo& info = *FSessions[static_cast<size_t>(index)];
  if (info.DirtyPages->Count() == 0 && info.AddedPageNumbers.ItemCount == 0 &&
      info.RemovedPageNumbers.ItemCount == 0) {
    return;
  }
  // A commit the base would refuse must not leave the crash marker behind.
  CheckChangesCanBeApplied(SessionID);
  LockDBHeaderOrRaise(20213);
  ScopeExit unlock([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { UnlockDBHeader(); });

  ReadDBHeader();
  const bool wasClean = FDBHeader.WriteChangesState == kWriteChangesDone;
  FDBHeader.WriteChangesState = kWriteChangesInProgress;
  WriteDBHeader(true);

  TVEXPageManager::ApplyChanges(SessionID);
  if (DoFlushBuffers) FDatabaseFile->FlushFileBuffers();

  FDBHeader.State = static_cast<int32_t>(static_cast<uint32_t>(FDBHeader.State) + 1);
  // A marker found set tells of a commit that never ended; only a rebuild of
  // the file may forget it.
  FDBHeader.WriteChangesState = wasClean ? kWriteChangesDone : kWriteChangesInProgress;
  WriteDBHeader(true);
  if (DoFlushBuffers) FDatabaseFile->FlushFileBuffers();
}

// ---------------------------------------------------------------------------
// Object ids

int32_t TVEXDiskPageManager::GetNextObjectID(int32_t /*TryCount*/, int32_t /*DelayMS*/) {
  CheckOpenedFor(30399);
  if (!RetryCall(kDBHeaderLockTries, kDBHeaderLockDelayMS,
                 [this]() VEX_NO_THREAD_SAFETY_ANALYSIS { return LockLastObjectID(); })) {
    throw EVEXException(30401, "Cannot get NextObjectID. File area is Locked.");
  }
  ScopeExit unlock([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { UnlockLastObjectID(); });
  int32_t counter = 0;
  FDatabaseFile->ReadBuffer(&counter, sizeof(counter), FOffsetToLastObjectID, 30400);
  const int32_t next = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1);
  if (FWritable) {
    FDatabaseFile->WriteBuffer(&next, sizeof(next), FOffsetToLastObjectID, 30404);
    return next;
  }
  // Nothing can be stored: a random spread keeps read-only connections apart,
  // and this connection never repeats itself.
  int64_t id = int64_t{next} + os::CurrentClock().Random(kObjectIDReadOnlySpread);
  if (id <= FLastReadOnlyObjectID) id = FLastReadOnlyObjectID + 1;
  FLastReadOnlyObjectID = id;
  return static_cast<int32_t>(id);
}

void TVEXDiskPageManager::InitObjectID(int32_t /*TryCount*/, int32_t /*DelayMS*/) {
  CheckOpenedFor(30399);
  if (!RetryCall(kDBHeaderLockTries, kDBHeaderLockDelayMS,
                 [this]() VEX_NO_THREAD_SAFETY_ANALYSIS { return LockLastObjectID(); })) {
    return;
  }
  ScopeExit unlock([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { UnlockLastObjectID(); });
  if (!FWritable) return;
  const int32_t zero = 0;
  FDatabaseFile->WriteBuffer(&zero, sizeof(zero), FOffsetToLastObjectID, 30406);
}

// ---------------------------------------------------------------------------
// Byte locks

bool TVEXDiskPageManager::LockFreeSpaceManager() {
  return FDatabaseFile->LockByte(FOffsetToLockedBytes + 2, 1);
}

bool TVEXDiskPageManager::UnlockFreeSpaceManager() {
  return FDatabaseFile->UnlockByte(FOffsetToLockedBytes + 2, 1);
}

bool TVEXDiskPageManager::LockTables() {
  return FDatabaseFile->LockByte(FOffsetToLockedBytes + 3, 1);
}

bool TVEXDiskPageManager::UnlockTables() {
  return FDatabaseFile->UnlockByte(FOffsetToLockedBytes + 3, 1);
}

bool TVEXDiskPageManager::LockDBHeader() {
  if (FLockDBHeaderCount == 0 && !FDatabaseFile->LockByte(FOffsetToLockedBytes + 4, 1)) {
    return false;
  }
  ++FLockDBHeaderCount;
  return true;
}

bool TVEXDiskPageManager::UnlockDBHeader() {
  if (FLockDBHeaderCount <= 0) return false;
  if (--FLockDBHeaderCount > 0) return true;
  try {
    return FDatabaseFile->UnlockByte(FOffsetToLockedBytes + 4, 1);
  } catch (const EVEXException&) {
    // A closed file has dropped its locks already.
    return false;
  }
}

void TVEXDiskPageManager::LockDBHeaderOrRaise(int32_t NativeErrorCode) {
  if (!RetryCall(kDBHeaderLockTries, kDBHeaderLockDelayMS,
                 [this]() VEX_NO_THREAD_SAFETY_ANALYSIS { return LockDBHeader(); })) {
    throw EVEXException(NativeErrorCode, kDatabaseLocked);
  }
}

bool TVEXDiskPageManager::LockLastObjectID() {
  return FDatabaseFile->LockByte(FOffsetToLastObjectID, 1);
}

bool TVEXDiskPageManager::UnlockLastObjectID() {
  try {
    return FDatabaseFile->UnlockByte(FOffsetToLastObjectID, 1);
  } catch (const EVEXException&) {
    return false;
  }
}

bool TVEXDiskPageManager::LockPageByte(int32_t PageNo, uint16_t Offset) {
  return FDatabaseFile->LockByte(GetPagePosition(PageNo) + Offset, 1);
}

bool TVEXDiskPageManager::UnlockPageByte(int32_t PageNo, uint16_t Offset) {
  return FDatabaseFile->UnlockByte(GetPagePosition(PageNo) + Offset, 1);
}

bool TVEXDiskPageManager::IsPageByteLocked(int32_t PageNo, uint16_t Offset) {
  return FDatabaseFile->IsByteLocked(GetPagePosition(PageNo) + Offset);
}

bool TVEXDiskPageManager::IsPageRegionLocked(int32_t PageNo, uint16_t Offset, uint16_t Count) {
  return FDatabaseFile->IsRegionLocked(GetPagePosition(PageNo) + Offset, Count);
}

}  // namespace vex
