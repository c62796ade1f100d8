// The system files. See VEXSystemFiles.h for the invariants and
// docs/file-formats.md for the bytes.
//
// The analysis cannot tell that an internal file's page manager is this
// object's: the declarations state REQUIRES of the database lock for callers,
// and the bodies that reach the internal files are exempt from the check.
#include "storage/disk/VEXSystemFiles.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "rtl/CodePage.h"
#include "storage/disk/VEXDatabaseFile.h"
#include "storage/disk/VEXDiskPageManager.h"

namespace vex {

namespace {

constexpr int32_t kSystemSession = -2;
constexpr int32_t kSessionsFileLockTries = 4500;
constexpr int32_t kSessionsFileLockDelayMS = 20;

// The table list's stored item: a length byte and 255 name bytes, then the
// four numbers.
constexpr size_t kTableListItemSize = 272;
constexpr size_t kTableNameFieldSize = 256;

// The whole items of a transacted system file, read in the system session.
// A stored size that no chain of this file could hold is damage and raises
// 20300 before anything is allocated for it.
std::vector<uint8_t> ReadWholeItems(TVEXDiskPageManager& manager,
                                    TVEXInternalDBTransactedAccessFile& file,
                                    size_t itemSize) VEX_NO_THREAD_SAFETY_ANALYSIS {
  int32_t stored = 0, content = 0;
  TVEXCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  file.GetFileSize(kSystemSession, stored, content, algorithm, changed, true);
  const int64_t room = manager.PageCountBound() * manager.PageDataSize();
  if (content < 0 || stored < 0 || (algorithm == acaNone && content > room)) {
    throw EVEXException(
        20300,
        "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
        int64_t{0});
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(content) / itemSize * itemSize);
  file.ReadFile(kSystemSession, bytes.data(), static_cast<int32_t>(bytes.size()), true);
  return bytes;
}

// Runs an undo step while an exception is already on its way; a failure of the
// step must not replace that exception.
template <class F>
void Quietly(F step) noexcept {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEXSystemDirectory

TVEXSystemDirectory::TVEXSystemDirectory(TVEXDiskPageManager* PageManager)
    : LPageManager(PageManager), FHandle(PageManager, ptFileSystemDirectory) {}

void TVEXSystemDirectory::CreateDirectory() VEX_NO_THREAD_SAFETY_ANALYSIS {
  FHandle.CreateFile(kSystemSession);
  if (FHandle.StartPageNo() != kSystemDirectoryPageNo) {
    throw EVEXException(30392,
                        "Error Creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
                        FHandle.StartPageNo(), kSystemDirectoryPageNo);
  }
}

void TVEXSystemDirectory::LoadDirectory() VEX_NO_THREAD_SAFETY_ANALYSIS {
  FHandle.OpenFile(kSystemDirectoryPageNo);
  const std::vector<uint8_t> bytes =
      ReadWholeItems(*LPageManager, FHandle, sizeof(TVEXSystemDirectoryListItem));
  FFileList.resize(bytes.size() / sizeof(TVEXSystemDirectoryListItem));
  std::memcpy(FFileList.data(), bytes.data(), bytes.size());
}

void TVEXSystemDirectory::SaveDirectory() VEX_NO_THREAD_SAFETY_ANALYSIS {
  FHandle.WriteFile(kSystemSession, FFileList.data(),
                    static_cast<int32_t>(FFileList.size() * sizeof(TVEXSystemDirectoryListItem)),
                    acaNone, 0);
}

void TVEXSystemDirectory::CreateFile(TVEXDBFileType FileType,
                                     int32_t FirstPageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  FFileList.push_back({FileType, FirstPageNo});
}

int32_t TVEXSystemDirectory::GetFileFirstPageNo(TVEXDBFileType FileType) const
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  for (const TVEXSystemDirectoryListItem& item : FFileList) {
    if (item.FileID == FileType) return item.FirstPageNo;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// TVEXActiveSessionsFile

TVEXActiveSessionsFile::TVEXActiveSessionsFile(TVEXDiskPageManager* PageManager)
    : LPageManager(PageManager), FHandle(PageManager, ptActiveSessionList) {}

int32_t TVEXActiveSessionsFile::CreateFile(int32_t aMaxSessionCount) VEX_NO_THREAD_SAFETY_ANALYSIS {
  FMaxSessionCount = aMaxSessionCount;
  FHandle.CreateFile(aMaxSessionCount);
  const int32_t start = FHandle.StartPageNo();
  CloseFile();
  return start;
}

void TVEXActiveSessionsFile::OpenFile(int32_t aStartPageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  FHandle.OpenFile(aStartPageNo);
  FMaxSessionCount = std::max(0, std::min(FHandle.GetSize(), FHandle.FileSize()));
}

void TVEXActiveSessionsFile::CloseFile() VEX_NO_THREAD_SAFETY_ANALYSIS {
  FHandle = TVEXInternalDBDirectAccessFile(LPageManager, ptActiveSessionList);
}

template <class Work>
auto TVEXActiveSessionsFile::UnderFileLock(int32_t ErrorCode,
                                           Work work) VEX_NO_THREAD_SAFETY_ANALYSIS {
  // Going on without the lock would make the work race other connections
  // (two connects taking one slot), so a refused lock stops here.
  if (!RetryCall(kSessionsFileLockTries, kSessionsFileLockDelayMS,
                 [this]() VEX_NO_THREAD_SAFETY_ANALYSIS { return FHandle.LockFile(); })) {
    throw EVEXException(ErrorCode, "Cannot lock sessions file");
  }
  ScopeFailure release([this]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    Quietly([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { FHandle.UnlockFile(); });
  });
  auto result = work();
  if (!FHandle.UnlockFile()) throw EVEXException(ErrorCode, "Cannot unlock sessions file");
  return result;
}

int32_t TVEXActiveSessionsFile::MultiUserConnect() VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!LPageManager->MultiUser()) return 0;
  int32_t slot = -1;
  ScopeFailure giveBack([&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    if (slot >= 0) Quietly([&]() VEX_NO_THREAD_SAFETY_ANALYSIS { FHandle.UnlockByte(slot); });
  });
  UnderFileLock(20093, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    for (int32_t i = 0; i < FMaxSessionCount; ++i) {
      if (FHandle.LockByte(i)) {
        slot = i;
        return true;
      }
    }
    throw EVEXException(20094,
                        "Cannot connect session. Maximum connections quantity exceeded or "
                        "database is open in single-user mode");
  });
  return slot;
}

void TVEXActiveSessionsFile::MultiUserDisconnect(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!LPageManager->MultiUser()) return;
  UnderFileLock(20096, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    if (SessionID < 0 || SessionID >= FMaxSessionCount || !FHandle.UnlockByte(SessionID)) {
      throw EVEXException(20095, "Cannot disconnect session");
    }
    return true;
  });
}

bool TVEXActiveSessionsFile::SingleUserConnect() VEX_NO_THREAD_SAFETY_ANALYSIS {
  return UnderFileLock(20240, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    if (FHandle.IsRegionLocked(0, FMaxSessionCount)) return false;
    for (int32_t i = 0; i < FMaxSessionCount; ++i) FHandle.LockByte(i);
    return true;
  });
}

void TVEXActiveSessionsFile::SingleUserDisconnect() VEX_NO_THREAD_SAFETY_ANALYSIS {
  UnderFileLock(20241, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    for (int32_t i = 0; i < FMaxSessionCount; ++i) FHandle.UnlockByte(i);
    return true;
  });
}

int32_t TVEXActiveSessionsFile::GetDBFileConnectionsCount() VEX_NO_THREAD_SAFETY_ANALYSIS {
  return UnderFileLock(30484, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    int32_t count = 0;
    for (int32_t i = 0; i < FMaxSessionCount; ++i) {
      if (FHandle.IsByteLocked(i)) ++count;
    }
    return count;
  });
}

// ---------------------------------------------------------------------------
// TVEXTableListFile

namespace {

// ASCII letters folded, every other byte compared exactly: the same answer as
// comparing the names' UTF-16 forms folded a to z, since Windows-1252 maps
// one to one onto UTF-16.
bool SameTableName(const std::string& Left, const std::string& Right) {
  return Left.size() == Right.size() && rtl::UpperCase(Left) == rtl::UpperCase(Right);
}

}  // namespace

TVEXTableListFile::TVEXTableListFile(TVEXDiskPageManager* PageManager)
    : LPageManager(PageManager), FHandle(PageManager, ptTableList) {}

int32_t TVEXTableListFile::CreateFile() VEX_NO_THREAD_SAFETY_ANALYSIS {
  FHandle.CreateFile(kSystemSession);
  const int32_t start = FHandle.StartPageNo();
  CloseFile();
  return start;
}

void TVEXTableListFile::OpenFile(int32_t aStartPageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FHandle.StartPageNo() != -1) {
    throw EVEXException(30393, "Table list file already opened.");
  }
  FHandle.OpenFile(aStartPageNo);
}

void TVEXTableListFile::CloseFile() VEX_NO_THREAD_SAFETY_ANALYSIS {
  FHandle = TVEXInternalDBTransactedAccessFile(LPageManager, ptTableList);
}

void TVEXTableListFile::Load() VEX_NO_THREAD_SAFETY_ANALYSIS {
  const std::vector<uint8_t> bytes = ReadWholeItems(*LPageManager, FHandle, kTableListItemSize);
  std::vector<TVEXTableListItem> items(bytes.size() / kTableListItemSize);
  for (size_t i = 0; i < items.size(); ++i) {
    const uint8_t* stored = bytes.data() + i * kTableListItemSize;
    TVEXTableListItem& item = items[i];
    item.TableName.assign(reinterpret_cast<const char*>(stored + 1), stored[0]);
    int32_t numbers[4];
    std::memcpy(numbers, stored + kTableNameFieldSize, sizeof(numbers));
    item.TableID = numbers[0];
    item.MetaDataFilePageNo = numbers[1];
    item.MostUpdatedFilePageNo = numbers[2];
    item.LocksFilePageNo = numbers[3];
  }
  FTableList = std::move(items);
}

void TVEXTableListFile::Save() VEX_NO_THREAD_SAFETY_ANALYSIS {
  std::vector<uint8_t> bytes(FTableList.size() * kTableListItemSize);
  for (size_t i = 0; i < FTableList.size(); ++i) {
    uint8_t* stored = bytes.data() + i * kTableListItemSize;
    const TVEXTableListItem& item = FTableList[i];
    const size_t length = std::min(item.TableName.size(), kMaxTableNameSize);
    stored[0] = static_cast<uint8_t>(length);
    std::memcpy(stored + 1, item.TableName.data(), length);
    const int32_t numbers[4] = {item.TableID, item.MetaDataFilePageNo, item.MostUpdatedFilePageNo,
                                item.LocksFilePageNo};
    std::memcpy(stored + kTableNameFieldSize, numbers, sizeof(numbers));
  }
  FHandle.WriteFile(kSystemSession, bytes.data(), static_cast<int32_t>(bytes.size()), acaNone, 0);
}

int32_t TVEXTableListFile::FindTable(const std::string& TableName) const
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  for (size_t i = 0; i < FTableList.size(); ++i) {
    if (SameTableName(FTableList[i].TableName, TableName)) return static_cast<int32_t>(i);
  }
  return -1;
}

void TVEXTableListFile::AddTable(int32_t TableID, const std::string& TableName,
                                 int32_t MetadataFilePageNo, int32_t MostUpdatedFilePageNo,
                                 int32_t LocksFilePageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FindTable(TableName) >= 0) {
    throw EVEXException(30395, "Cannot create table. Table '%s' already exists", TableName);
  }
  // Stored cut, the table could never be found by its name again.
  if (TableName.size() > kMaxTableNameSize) {
    throw EVEXException(30394, "Cannot create table '%s'. Table name is longer than %d bytes",
                        TableName, static_cast<int32_t>(kMaxTableNameSize));
  }
  FTableList.push_back(
      {TableName, TableID, MetadataFilePageNo, MostUpdatedFilePageNo, LocksFilePageNo});
}

void TVEXTableListFile::OpenTable(const std::string& TableName, int32_t& TableID,
                                  int32_t& MetadataFilePageNo, int32_t& MostUpdatedFilePageNo,
                                  int32_t& LocksFilePageNo) const VEX_NO_THREAD_SAFETY_ANALYSIS {
  const int32_t i = FindTable(TableName);
  if (i < 0) throw EVEXException(30396, "Table '%s' not exists.", TableName);
  const TVEXTableListItem& item = FTableList[static_cast<size_t>(i)];
  TableID = item.TableID;
  MetadataFilePageNo = item.MetaDataFilePageNo;
  MostUpdatedFilePageNo = item.MostUpdatedFilePageNo;
  LocksFilePageNo = item.LocksFilePageNo;
}

void TVEXTableListFile::RemoveTable(const std::string& TableName) VEX_NO_THREAD_SAFETY_ANALYSIS {
  const int32_t i = FindTable(TableName);
  if (i < 0) throw EVEXException(30405, "Table '%s' not exists.", TableName);
  FTableList.erase(FTableList.begin() + i);
}

void TVEXTableListFile::RenameTable(const std::string& TableName,
                                    const std::string& NewTableName) VEX_NO_THREAD_SAFETY_ANALYSIS {
  const int32_t i = FindTable(TableName);
  if (i < 0) throw EVEXException(30397, "Table '%s' not exists.", TableName);
  if (NewTableName.size() > kMaxTableNameSize) {
    throw EVEXException(30398, "Cannot rename table '%s'. Table name is longer than %d bytes",
                        NewTableName, static_cast<int32_t>(kMaxTableNameSize));
  }
  FTableList[static_cast<size_t>(i)].TableName = NewTableName;
}

bool TVEXTableListFile::TableExists(const std::string& TableName) const
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  return FindTable(TableName) >= 0;
}

void TVEXTableListFile::GetTablesList(std::vector<std::u16string>& List)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  Load();
  List.clear();
  for (const TVEXTableListItem& item : FTableList)
    List.push_back(rtl::Win1252ToUtf16(item.TableName));
}

}  // namespace vex
