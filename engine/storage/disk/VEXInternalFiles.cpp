// Internal files. See VEXInternalFiles.h for the invariants and
// docs/file-formats.md for the bytes.
#include "storage/disk/VEXInternalFiles.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "storage/VEXPage.h"
#include "storage/VEXPageHold.h"
#include "storage/disk/VEXDiskPageManager.h"

namespace vex {

namespace {

constexpr int32_t kFileHeaderSize = sizeof(TVEXInternalFileHeader);
constexpr int32_t kSystemSession = -2;

// The one reader and writer of TVEXInternalFileHeader.
TVEXInternalFileHeader ReadFileHeader(const uint8_t* PageData) {
  TVEXInternalFileHeader header;
  std::memcpy(&header, PageData, sizeof(header));
  return header;
}

void WriteFileHeader(uint8_t* PageData, int32_t StoredSize, int32_t ContentSize,
                     uint8_t CompressionAlgorithm) {
  const TVEXInternalFileHeader header{kFileHeaderSize, StoredSize, ContentSize,
                                      CompressionAlgorithm};
  std::memcpy(PageData, &header, sizeof(header));
}

// Pages a stored size needs, at least one.
int64_t PagesFor(int64_t StoredSize, int64_t DataSize) {
  return std::max<int64_t>(
      1, (std::max<int64_t>(StoredSize, 0) + kFileHeaderSize + DataSize - 1) / DataSize);
}

[[noreturn]] void RaiseChainBroken(int64_t Steps) {
  throw EVEXException(
      20300,
      "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
      Steps);
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEXInternalDBTransactedAccessFile

TVEXInternalDBTransactedAccessFile::TVEXInternalDBTransactedAccessFile(
    TVEXDiskPageManager* PageManager, uint16_t PageTypeID)
    : LPageManager(PageManager), FPageTypeID(PageTypeID) {}

void TVEXInternalDBTransactedAccessFile::CheckOpened(const char* Operation) const {
  if (FStartPageNo == -1) {
    throw EVEXException(30389, "Cannot perform this operation (%s) on closed internal file",
                        std::string(Operation));
  }
}

int32_t TVEXInternalDBTransactedAccessFile::ChainPageNo(int32_t SessionID, int64_t Index,
                                                        bool SynchronizeAllowed) {
  if (LPageManager->ExceedsPageCountBound(Index + 1)) RaiseChainBroken(0);
  int32_t pageNo = FStartPageNo;
  for (int64_t step = 0; step < Index; ++step) {
    TVEXPageHold page =
        TVEXPageHold::Get(*LPageManager, SessionID, pageNo, FPageTypeID, SynchronizeAllowed);
    pageNo = page->PageHeader()->NextPageNo;
    if (pageNo == -1) RaiseChainBroken(step + 1);
  }
  return pageNo;
}

void TVEXInternalDBTransactedAccessFile::CreateFile(int32_t SessionID) {
  if (FStartPageNo != -1) {
    throw EVEXException(30383, "Cannot create Internal file. File already exists. StartPageNo=%d",
                        FStartPageNo);
  }
  TVEXPageHold page = TVEXPageHold::Add(*LPageManager, SessionID, FPageTypeID);
  WriteFileHeader(page->PageData(), 0, 0, acaNone);
  FStartPageNo = page->PageNo();
}

void TVEXInternalDBTransactedAccessFile::OpenFile(int32_t StartPageNo) {
  if (StartPageNo != -1) FStartPageNo = StartPageNo;
}

void TVEXInternalDBTransactedAccessFile::DeleteFile(int32_t SessionID, int32_t StartPageNo) {
  if (StartPageNo != -1) FStartPageNo = StartPageNo;
  const int64_t bound = LPageManager->PageCountBound();
  int32_t pageNo = FStartPageNo;
  for (int64_t step = 0; pageNo != -1; ++step) {
    if (step >= bound) RaiseChainBroken(step);
    int32_t next;
    {
      TVEXPageHold page = TVEXPageHold::Get(*LPageManager, SessionID, pageNo, FPageTypeID, true);
      next = page->PageHeader()->NextPageNo;
    }
    LPageManager->RemovePage(SessionID, pageNo);
    pageNo = next;
  }
  FStartPageNo = -1;
}

void TVEXInternalDBTransactedAccessFile::InitFileHeader(int32_t SessionID) {
  if (FStartPageNo == -1) throw EVEXException(20301, "Invalid page number");
  const bool ignoredCRCErrors = LPageManager->IgnoreCRCErrors();
  LPageManager->SetIgnoreCRCErrors(true);
  ScopeExit restore(
      [this, ignoredCRCErrors] { LPageManager->SetIgnoreCRCErrors(ignoredCRCErrors); });
  TVEXPageHold page = TVEXPageHold::Get(*LPageManager, SessionID, FStartPageNo, FPageTypeID, true);
  page->InitHeader();
  page->PageHeader()->PageType = FPageTypeID;
  WriteFileHeader(page->PageData(), 0, 0, acaNone);
}

void TVEXInternalDBTransactedAccessFile::SetFileSize(
    int32_t SessionID, int32_t NewSize, int32_t DecompressedSize,
    TVEXCompressionAlgorithm CompressionAlgorithm) {
  CheckOpened("SetSize");
  int32_t oldSize;
  {
    TVEXPageHold first =
        TVEXPageHold::Get(*LPageManager, SessionID, FStartPageNo, FPageTypeID, true);
    oldSize = ReadFileHeader(first->PageData()).StoredSize;
    if (oldSize < 0) oldSize = NewSize;
  }
  const int64_t dataSize = LPageManager->PageDataSize();
  const int64_t oldPages = PagesFor(oldSize, dataSize);
  const int64_t newPages = PagesFor(NewSize, dataSize);
  if (newPages > oldPages) {
    const int32_t endOfOld = ChainPageNo(SessionID, oldPages - 1, true);
    TVEXPageHold page = TVEXPageHold::Get(*LPageManager, SessionID, endOfOld, FPageTypeID, true);
    for (int64_t i = oldPages; i < newPages; ++i) {
      const int32_t next = page->PageHeader()->NextPageNo;
      if (next != -1) {
        // Pages an earlier shrink left in the chain serve again.
        page = TVEXPageHold::Get(*LPageManager, SessionID, next, FPageTypeID, true);
        continue;
      }
      TVEXPageHold added = TVEXPageHold::Add(*LPageManager, SessionID, FPageTypeID);
      page->PageHeader()->NextPageNo = added->PageNo();
      page->SetIsDirty(true);
      page = std::move(added);
    }
  }
  TVEXPageHold first = TVEXPageHold::Get(*LPageManager, SessionID, FStartPageNo, FPageTypeID, true);
  WriteFileHeader(first->PageData(), NewSize, DecompressedSize, CompressionAlgorithm);
  first->SetIsDirty(true);
}

void TVEXInternalDBTransactedAccessFile::GetFileSize(int32_t SessionID, int32_t& Size,
                                                     int32_t& DecompressedSize,
                                                     TVEXCompressionAlgorithm& CompressionAlgorithm,
                                                     bool& FileWasChanged, bool SyncronizeAllowed) {
  CheckOpened("GetSize");
  TVEXPageHold first =
      TVEXPageHold::Get(*LPageManager, SessionID, FStartPageNo, FPageTypeID, SyncronizeAllowed);
  const TVEXInternalFileHeader header = ReadFileHeader(first->PageData());
  Size = header.StoredSize;
  DecompressedSize = header.ContentSize;
  CompressionAlgorithm = static_cast<TVEXCompressionAlgorithm>(header.CompressionAlgorithm);
  FileWasChanged = first->Reloaded();
}

int32_t TVEXInternalDBTransactedAccessFile::GetSize(int32_t SessionID) {
  int32_t size, contentSize;
  TVEXCompressionAlgorithm algorithm;
  bool changed;
  GetFileSize(SessionID, size, contentSize, algorithm, changed, true);
  return contentSize;
}

void TVEXInternalDBTransactedAccessFile::ReadFile(int32_t SessionID, void* Buffer, int32_t Count,
                                                  bool SynchronizeAllowed) {
  CheckOpened("ReadFile");
  int32_t storedSize, contentSize;
  TVEXCompressionAlgorithm algorithm;
  bool changed;
  GetFileSize(SessionID, storedSize, contentSize, algorithm, changed, SynchronizeAllowed);
  if (contentSize < Count) {
    throw EVEXException(30387, "Cannot Read internal file. FileSize=%d. ReadSize=%d", contentSize,
                        Count);
  }
  if (Count <= 0) return;
  const bool compressed = algorithm != acaNone;
  const int64_t dataSize = LPageManager->PageDataSize();
  const int64_t amount = compressed ? storedSize : Count;
  const auto raiseShort = [&](int64_t found) {
    throw EVEXException(30388,
                        "Internal file ends before its stored bytes. StoredSize=%d. BytesFound=%d. "
                        "ReadSize=%d",
                        storedSize, found, Count);
  };
  // A size no chain of this file can hold is damage, not a request to
  // allocate.
  if (amount <= 0 ||
      LPageManager->ExceedsPageCountBound((amount + kFileHeaderSize + dataSize - 1) / dataSize)) {
    raiseShort(0);
  }
  std::vector<uint8_t> work;
  uint8_t* target = static_cast<uint8_t*>(Buffer);
  if (compressed) {
    work.resize(static_cast<size_t>(amount));
    target = work.data();
  }
  int32_t pageNo = FStartPageNo;
  int64_t offset = kFileHeaderSize;
  for (int64_t done = 0; done < amount; offset = 0) {
    TVEXPageHold page =
        TVEXPageHold::Get(*LPageManager, SessionID, pageNo, FPageTypeID, SynchronizeAllowed);
    const int64_t n = std::min(dataSize - offset, amount - done);
    std::memcpy(target + done, page->PageData() + offset, static_cast<size_t>(n));
    done += n;
    pageNo = page->PageHeader()->NextPageNo;
    if (done < amount && pageNo == -1) raiseShort(done);
  }
  if (!compressed) return;
  void* out = nullptr;
  int32_t outSize = contentSize;
  const bool decompressed =
      DecompressBuffer(algorithm, work.data(), static_cast<int32_t>(amount), out, outSize);
  TVEXMallocPtr<uint8_t> owned(static_cast<uint8_t*>(out));
  if (!decompressed || outSize != contentSize) {
    throw EVEXException(20189, "Table file decompression error. Possible table corruption (%s)",
                        GetLastCompressionError());
  }
  std::memcpy(Buffer, owned.get(), static_cast<size_t>(Count));
}

void TVEXInternalDBTransactedAccessFile::WriteFile(int32_t SessionID, const void* Buffer,
                                                   int32_t Count,
                                                   TVEXCompressionAlgorithm Algorithm,
                                                   uint8_t CompressionMode) {
  CheckOpened("WriteFile");
  const uint8_t* stored = static_cast<const uint8_t*>(Buffer);
  int32_t storedSize = std::max(Count, 0);
  TVEXMallocPtr<uint8_t> compressed;
  if (Algorithm != acaNone) {
    void* out = nullptr;
    int32_t outSize = 0;
    if (!CompressBuffer(Algorithm, CompressionMode, Buffer, Count, out, outSize)) {
      throw EVEXException(20187, "Table file compression error");
    }
    compressed.reset(static_cast<uint8_t*>(out));
    stored = compressed.get();
    storedSize = outSize;
  }
  SetFileSize(SessionID, storedSize, Count, Algorithm);

  const int64_t dataSize = LPageManager->PageDataSize();
  int32_t pageNo = FStartPageNo;
  int64_t offset = kFileHeaderSize;
  for (int64_t done = 0; done < storedSize; offset = 0) {
    TVEXPageHold page = TVEXPageHold::Get(*LPageManager, SessionID, pageNo, FPageTypeID, true);
    const int64_t n = std::min(dataSize - offset, storedSize - done);
    std::memcpy(page->PageData() + offset, stored + done, static_cast<size_t>(n));
    page->SetIsDirty(true);
    done += n;
    pageNo = page->PageHeader()->NextPageNo;
    if (done < storedSize && pageNo == -1) RaiseChainBroken(done / dataSize);
  }
}

bool TVEXInternalDBTransactedAccessFile::LockFile() {
  CheckOpened("LockFile");
  return LPageManager->LockPageByte(FStartPageNo, 0);
}

bool TVEXInternalDBTransactedAccessFile::UnlockFile() {
  CheckOpened("UnlockFile");
  return LPageManager->UnlockPageByte(FStartPageNo, 0);
}

// ---------------------------------------------------------------------------
// TVEXInternalDBDirectAccessFile

TVEXInternalDBDirectAccessFile::TVEXInternalDBDirectAccessFile(TVEXDiskPageManager* PageManager,
                                                               uint16_t PageTypeID)
    : LPageManager(PageManager), FPageTypeID(PageTypeID) {}

void TVEXInternalDBDirectAccessFile::CheckOpened(const char* Operation) const {
  if (FStartPageNo == -1) {
    throw EVEXException(20156, "Cannot perform this operation (%s) on closed internal file",
                        std::string(Operation));
  }
}

void TVEXInternalDBDirectAccessFile::ReadPageHeader(int32_t PageNo, void* Header,
                                                    bool SkipLockByte) {
  auto* bytes = static_cast<uint8_t*>(Header);
  std::memset(bytes, 0, sizeof(TVEXDiskPageHeader));
  if (SkipLockByte) {
    LPageManager->ReadPageRegion(bytes + 1, PageNo, 1, sizeof(TVEXDiskPageHeader) - 1);
  } else {
    LPageManager->ReadPageRegion(bytes, PageNo, 0, sizeof(TVEXDiskPageHeader));
  }
  TVEXDiskPageHeader header;
  std::memcpy(&header, bytes, sizeof(header));
  if (header.PageType != FPageTypeID) {
    throw EVEXException(20155, "Invalid PageType found: %d but expecting: %d",
                        int32_t{header.PageType}, int32_t{FPageTypeID});
  }
}

void TVEXInternalDBDirectAccessFile::CreateFile(int32_t Size) {
  if (FStartPageNo != -1) {
    throw EVEXException(20157, "Cannot create Internal file. File already exists. StartPageNo=%d",
                        FStartPageNo);
  }
  const int64_t pages = PagesFor(Size, LPageManager->PageDataSize());
  std::vector<int32_t> pageNumbers;
  TVEXPageHold page;
  for (int64_t i = 0; i < pages; ++i) {
    TVEXPageHold added = TVEXPageHold::Add(*LPageManager, kSystemSession, FPageTypeID);
    added->SetEncryptionEnabled(false);
    if (i == 0) {
      WriteFileHeader(added->PageData(), Size, 0, acaNone);
    } else {
      page->PageHeader()->NextPageNo = added->PageNo();
    }
    pageNumbers.push_back(added->PageNo());
    page = std::move(added);
  }
  FStartPageNo = pageNumbers.front();
  FFilePages = std::move(pageNumbers);
  FFileSize = Size;
}

void TVEXInternalDBDirectAccessFile::OpenFile(int32_t StartPageNo) {
  if (StartPageNo != -1) FStartPageNo = StartPageNo;
  FFileSize = GetSize();
  FFilePages.clear();
  const int64_t pages = PagesFor(FFileSize, LPageManager->PageDataSize());
  if (pages > LPageManager->PageCountBound()) RaiseChainBroken(0);
  int32_t pageNo = FStartPageNo;
  int32_t firstNext = -1;
  for (int64_t i = 0; i < pages; ++i) {
    if (pageNo == -1) RaiseChainBroken(i);
    TVEXDiskPageHeader header;
    ReadPageHeader(pageNo, &header, true);
    FFilePages.push_back(pageNo);
    if (i == 0) firstNext = header.NextPageNo;
    pageNo = header.NextPageNo;
  }
  if (firstNext == -1) FFileSize = LPageManager->PageDataSize() - kFileHeaderSize;
}

void TVEXInternalDBDirectAccessFile::DeleteFile(int32_t StartPageNo) {
  if (StartPageNo != -1) FStartPageNo = StartPageNo;
  const int64_t bound = LPageManager->PageCountBound();
  int32_t pageNo = FStartPageNo;
  for (int64_t step = 0; pageNo != -1; ++step) {
    if (step >= bound) RaiseChainBroken(step);
    TVEXDiskPageHeader header;
    ReadPageHeader(pageNo, &header, false);
    LPageManager->RemovePage(kSystemSession, pageNo);
    pageNo = header.NextPageNo;
  }
  FStartPageNo = -1;
  FFilePages.clear();
  FFileSize = 0;
}

int32_t TVEXInternalDBDirectAccessFile::GetSize() {
  CheckOpened("GetSize");
  int32_t size = 0;
  LPageManager->ReadPageRegion(
      &size, FStartPageNo,
      sizeof(TVEXDiskPageHeader) + offsetof(TVEXInternalFileHeader, StoredSize), sizeof(size));
  return size;
}

TVEXInternalDBDirectAccessFile::Location TVEXInternalDBDirectAccessFile::Locate(
    int64_t Position) const {
  const int64_t dataSize = LPageManager->PageDataSize();
  const int64_t index = (Position + kFileHeaderSize) / dataSize;
  if (Position < 0 || Position > FFileSize || index >= static_cast<int64_t>(FFilePages.size())) {
    throw EVEXException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d",
                        FFileSize, Position);
  }
  return {
      static_cast<int32_t>(index),
      static_cast<uint16_t>(sizeof(TVEXDiskPageHeader) + (Position + kFileHeaderSize) % dataSize)};
}

template <class Move>
int64_t TVEXInternalDBDirectAccessFile::MoveBytes(int32_t Count, int32_t Position, Move move) {
  if (Count <= 0) return 0;
  const Location at = Locate(Position);
  int32_t pageNo = FFilePages[static_cast<size_t>(at.PageIndex)];
  int64_t offset = at.PageOffset;
  int64_t done = 0;
  while (done < Count) {
    TVEXDiskPageHeader header;
    ReadPageHeader(pageNo, &header, false);
    const int64_t n = std::min<int64_t>(LPageManager->PageSize() - offset, Count - done);
    move(pageNo, static_cast<uint16_t>(offset), static_cast<uint16_t>(n), done);
    done += n;
    if (header.NextPageNo == -1) break;
    pageNo = header.NextPageNo;
    offset = sizeof(TVEXDiskPageHeader);
  }
  return done;
}

void TVEXInternalDBDirectAccessFile::ReadBuffer(void* Buffer, int32_t Count, int32_t Position) {
  CheckOpened("DirectReadBuffer");
  auto* bytes = static_cast<uint8_t*>(Buffer);
  MoveBytes(Count, Position,
            [&](int32_t pageNo, uint16_t offset, uint16_t n, int64_t done)
                VEX_NO_THREAD_SAFETY_ANALYSIS {
                  LPageManager->ReadPageRegion(bytes + done, pageNo, offset, n);
                });
}

void TVEXInternalDBDirectAccessFile::WriteBuffer(const void* Buffer, int32_t Count,
                                                 int32_t Position) {
  CheckOpened("DirectWriteBuffer");
  const int32_t storedSize = GetSize();
  if (Position < 0 || Count < 0 || int64_t{Position} + Count > storedSize) {
    throw EVEXException(20158, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        storedSize, Position, Count);
  }
  const auto* bytes = static_cast<const uint8_t*>(Buffer);
  const int64_t written = MoveBytes(
      Count, Position,
      [&](int32_t pageNo, uint16_t offset, uint16_t n, int64_t done) VEX_NO_THREAD_SAFETY_ANALYSIS {
        LPageManager->WritePageRegion(bytes + done, pageNo, offset, n);
      });
  // Bytes below the stored size that the chain cannot hold are damage; a
  // write must not report success for them.
  if (written < Count) RaiseChainBroken(static_cast<int64_t>(FFilePages.size()));
}

bool TVEXInternalDBDirectAccessFile::LockFile() {
  CheckOpened("LockFile");
  return LPageManager->LockPageByte(FStartPageNo, 0);
}

bool TVEXInternalDBDirectAccessFile::UnlockFile() {
  CheckOpened("UnlockFile");
  return LPageManager->UnlockPageByte(FStartPageNo, 0);
}

bool TVEXInternalDBDirectAccessFile::LockByte(int32_t ByteNo) {
  CheckOpened("LockByte");
  const Location at = Locate(ByteNo);
  return LPageManager->LockPageByte(FFilePages[static_cast<size_t>(at.PageIndex)], at.PageOffset);
}

bool TVEXInternalDBDirectAccessFile::UnlockByte(int32_t ByteNo) {
  CheckOpened("UnlockByte");
  const Location at = Locate(ByteNo);
  return LPageManager->UnlockPageByte(FFilePages[static_cast<size_t>(at.PageIndex)], at.PageOffset);
}

bool TVEXInternalDBDirectAccessFile::IsByteLocked(int32_t ByteNo) {
  CheckOpened("IsByteLocked");
  const Location at = Locate(ByteNo);
  return LPageManager->IsPageByteLocked(FFilePages[static_cast<size_t>(at.PageIndex)],
                                        at.PageOffset);
}

bool TVEXInternalDBDirectAccessFile::IsRegionLocked(int32_t ByteNo, int32_t ByteCount) {
  CheckOpened("IsRegionLocked");
  if (ByteCount <= 0) return false;
  const Location first = Locate(ByteNo);
  const Location last = Locate(int64_t{ByteNo} + ByteCount - 1);
  const int32_t pageEnd = LPageManager->PageSize() - 1;
  for (int32_t index = first.PageIndex; index <= last.PageIndex; ++index) {
    const int32_t from = index == first.PageIndex
                             ? first.PageOffset
                             : static_cast<int32_t>(sizeof(TVEXDiskPageHeader));
    const int32_t to = index == last.PageIndex ? last.PageOffset : pageEnd;
    if (LPageManager->IsPageRegionLocked(FFilePages[static_cast<size_t>(index)],
                                         static_cast<uint16_t>(from),
                                         static_cast<uint16_t>(to - from + 1))) {
      return true;
    }
  }
  return false;
}

}  // namespace vex
