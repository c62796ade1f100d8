// Table navigation: how a cursor moves through its view of a table and says
// where it stands, and the field-data routines that move one field between a
// record buffer and the dataset framework's field format.
//
// Design notes
//   1. The position of a cursor is CurrentRecordID with FirstPosition (before
//      the first record) and LastPosition (after the last). Only these
//      functions, the search's callers here and the engines' record writes
//      move it.
//   2. Transitions of the position:
//        NavigateRecord    a found record: its id, both flags false; an
//                          unrestricted move off an end: the end flag the
//                          index or record manager reports; anything else
//                          that finds nothing: unchanged.
//        Locate, FindKey   a match: its id, both flags false; no match or a
//                          failure: the saved position comes back.
//        SetRecNo          the id of the numbered record, both flags false;
//                          an empty view: unchanged.
//   3. An unrestricted view (no range, filter or DISTINCT) goes straight to
//      the index or the record manager; a restricted one asks the table search
//      (FindRecordInView) and numbers and counts through the cursor's record
//      bitmap, which is brought up to date first.
//   4. Record numbers are 1-based in every variant; -1 means none.
//   5. Field data: the null bit and the field's place are checked before a
//      byte of the record is read, so a nil record buffer or a field number
//      outside the table raises instead of reading outside the buffer.
//
// Threads: GetRecordBuffer runs under the database lock its caller holds;
// Locate, FindKey, GetRecordCount, SetRecNo and GetRecNo take it themselves
// (it is re-entrant).
#include <cfloat>
#include <cstring>
#include <memory>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXTypes.h"
#include "storage/VEXTableData.h"

namespace vex {

static_assert(LDBL_MANT_DIG == 64, "Extended fields need the 80-bit x87 format");

namespace {
// The bytes of an Extended field in a memory record.
constexpr size_t kExtendedSize = 10;

// Frees the cursor's DISTINCT buffer of a step and forgets it; never raises.
void DropDistinctBuffer(TVEXCursor& Cursor) noexcept {
  TVEXMemBlock block(Cursor.DistinctRecordBuffer);
  Cursor.DistinctRecordBuffer = nullptr;
}
}  // namespace

// ---- reads

void TVEXTableData::GetRecordBufferByIndex(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                                           int32_t TableState,
                                           TVEXIndexPositionCache* IndexPositionCache) {
  if (!FRecordManager) RaiseNilPointer(10015);
  if (!FIndexManager) RaiseNilPointer(10380);
  if (NavigationInfo.RecordBuffer == nullptr) RaiseNilPointer(10016);
  if (NavigationInfo.IndexID != -1 && NavigationInfo.GetRecordMode != grmCurrent)
    FIndexManager->GetRecordBuffer(SessionID, NavigationInfo, IndexPositionCache, TableState);
  else
    FRecordManager->GetRecordBuffer(SessionID, NavigationInfo);
}

TVEXGetRecordResult TVEXTableData::NavigateRecord(TVEXCursor& Cursor,
                                                  TVEXGetRecordMode GetRecordMode,
                                                  bool FillBitmap) {
  if (!FRecordManager) RaiseNilPointer(10015);
  const int32_t sessionID = Cursor.GetSessionID();
  if (GetRecordMode != grmCurrent && Cursor.IsViewRestricted()) {
    const bool goForward = GetRecordMode == grmNext;
    // Past an end there is nothing further that way; a search would start
    // over from the other end.
    if (goForward && Cursor.LastPosition) return grrEOF;
    if (!goForward && Cursor.FirstPosition) return grrBOF;
    TVEXPageItemID found{-1, 0};
    if (!FindRecordInView(Cursor, nullptr, nullptr, Cursor.FirstPosition || Cursor.LastPosition,
                          goForward, found, Cursor.RecordBitmap.get(), FillBitmap))
      return goForward ? grrEOF : grrBOF;
    TVEXNavigationInfo info;
    info.GetRecordMode = grmCurrent;
    info.RecordID = found;
    info.RecordBuffer = Cursor.CurrentRecordBuffer();
    GetRecordBufferByIndex(sessionID, info, FRecordManager->TableState(),
                           &Cursor.IndexPositionCache);
    Cursor.CurrentRecordID = found;
    Cursor.FirstPosition = false;
    Cursor.LastPosition = false;
    return info.GetRecordResult;
  }
  TVEXNavigationInfo info;
  info.GetRecordMode = GetRecordMode;
  info.IndexID = Cursor.IndexID();
  info.RecordID = Cursor.CurrentRecordID;
  info.RecordBuffer = Cursor.CurrentRecordBuffer();
  info.FirstPosition = Cursor.FirstPosition;
  info.LastPosition = Cursor.LastPosition;
  GetRecordBufferByIndex(sessionID, info, FRecordManager->TableState(), &Cursor.IndexPositionCache);
  if (info.GetRecordResult == grrOK && Cursor.IsViewRestricted() && !IsRecordInView(Cursor))
    return grrError;
  Cursor.CurrentRecordID = info.RecordID;
  Cursor.FirstPosition = info.FirstPosition;
  Cursor.LastPosition = info.LastPosition;
  return info.GetRecordResult;
}

TVEXGetRecordResult TVEXTableData::GetRecordBuffer(TVEXCursor& Cursor,
                                                   TVEXGetRecordMode GetRecordMode) {
  if (!FRecordManager) RaiseNilPointer(10015);
  if (FRecordManager->RecordCount() == 0) return grrEOF;
  ScopeExit dropDistinct([&] { DropDistinctBuffer(Cursor); });
  if (Cursor.IsDistinctApplied() && GetRecordMode != grmCurrent && !Cursor.FirstPosition &&
      !Cursor.LastPosition) {
    DropDistinctBuffer(Cursor);
    Cursor.DistinctRecordBuffer = static_cast<uint8_t*>(Cursor.AllocateRecordBuffer().Release());
    TVEXNavigationInfo info;
    info.GetRecordMode = grmCurrent;
    info.RecordID = Cursor.CurrentRecordID;
    info.RecordBuffer = Cursor.DistinctRecordBuffer;
    FRecordManager->GetRecordBuffer(Cursor.GetSessionID(), info);
    if (info.GetRecordResult != grrOK) return grrError;
  }
  return NavigateRecord(Cursor, GetRecordMode, false);
}

// ---- searches

bool TVEXTableData::PositionOnFound(TVEXCursor& Cursor, bool Found, TVEXPageItemID FoundRecordID) {
  if (!Found) return false;
  Cursor.CurrentRecordID = FoundRecordID;
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
  return true;
}

bool TVEXTableData::Locate(TVEXCursor& Cursor, TVEXBaseExpression* SearchExpression) {
  if (SearchExpression == nullptr) RaiseNilPointer(10272);
  TVEXLockGuard lock(FDatabaseLock);
  TVEXMemBlock saved = Cursor.SavePosition();
  bool found = false;
  ScopeExit restore([&] {
    if (!found) Cursor.RestorePosition(saved);
  });
  TVEXPageItemID foundID{-1, 0};
  if (PositionOnFound(
          Cursor,
          FindRecordInView(Cursor, SearchExpression, nullptr, true, true, foundID, nullptr, false),
          foundID)) {
    GetRecordBuffer(Cursor, grmCurrent);
    found = true;
  }
  return found;
}

bool TVEXTableData::FindKey(TVEXCursor& Cursor, TVEXSearchCondition SearchCondition) {
  TVEXLockGuard lock(FDatabaseLock);
  TVEXMemBlock saved = Cursor.SavePosition();
  bool found = false;
  ScopeExit restore([&] {
    if (!found) Cursor.RestorePosition(saved);
  });
  // The key stays the cursor's: the condition only points at its key buffer.
  TVEXScanSearchCondition condition;
  condition.Condition = SearchCondition;
  condition.KeyRecordBuffer = Cursor.KeyBuffer();
  condition.KeyRecordBufferSize = Cursor.KeyBufferSize();
  condition.KeyFieldCount = Cursor.KeyFieldCount();
  condition.IndexID = Cursor.IndexID();
  TVEXPageItemID foundID{-1, 0};
  found = PositionOnFound(
      Cursor, FindRecordInView(Cursor, nullptr, &condition, true, true, foundID, nullptr, false),
      foundID);
  return found;
}

// ---- counts and record numbers

int64_t TVEXTableData::ViewRecordCount(TVEXCursor& Cursor) {
  if (Cursor.IsViewRestricted()) {
    RefreshRecordBitmap(Cursor);
    return Cursor.RecordBitmap ? Cursor.RecordBitmap->GetRecordCount() : 0;
  }
  return InternalGetRecordCount(Cursor);
}

int64_t TVEXTableData::GetRecordCount(TVEXCursor& Cursor) {
  TVEXLockGuard lock(FDatabaseLock);
  return ViewRecordCount(Cursor);
}

void TVEXTableData::SetRecNo(TVEXCursor& Cursor, int64_t RecNo) {
  TVEXLockGuard lock(FDatabaseLock);
  const int64_t count = ViewRecordCount(Cursor);
  if (count <= 0) return;
  if (RecNo >= count) RecNo = count;
  // A number below the first names the first record, as one past the last
  // names the last.
  if (RecNo < 1) RecNo = 1;
  const int32_t sessionID = Cursor.GetSessionID();
  const bool restricted = Cursor.IsViewRestricted();
  TVEXPageItemID recordID{-1, 0};
  if (Cursor.IsIndexApplied()) {
    TVEXIndex* index = FIndexManager->OpenIndex(Cursor.IndexID());
    if (restricted) {
      std::unique_ptr<TVEXIndexPosition> position = index->CreateIndexPosition();
      Cursor.RecordBitmap->GetIndexPosByRecNo(Cursor.IndexID(), RecNo, *position);
      GetRecordIDByIndexPos(sessionID, Cursor.IndexID(), recordID, *position);
    } else {
      recordID = index->GetRecordIDByRecNo(sessionID, RecNo);
    }
  } else if (restricted) {
    recordID = Cursor.RecordBitmap->GetRecordIDByRecNo(RecNo);
  } else {
    Cursor.FirstPosition = false;
    Cursor.LastPosition = false;
    InternalSetRecNo(Cursor, RecNo);
    return;
  }
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
  Cursor.CurrentRecordID = recordID;
}

int64_t TVEXTableData::GetRecNo(TVEXCursor& Cursor) {
  TVEXLockGuard lock(FDatabaseLock);
  if (Cursor.FirstPosition || Cursor.LastPosition) return -1;
  if (ViewRecordCount(Cursor) <= 0) return -1;
  const int32_t sessionID = Cursor.GetSessionID();
  const bool restricted = Cursor.IsViewRestricted();
  if (Cursor.IsIndexApplied()) {
    TVEXMemBlock record = TVEXMemBlock::AllocMem(FRecordManager->RecordBufferSize());
    TVEXNavigationInfo info;
    info.GetRecordMode = grmCurrent;
    info.RecordID = Cursor.CurrentRecordID;
    info.RecordBuffer = record.As<uint8_t>();
    FRecordManager->GetRecordBuffer(sessionID, info);
    if (info.GetRecordResult != grrOK) return -1;
    TVEXIndex* index = FIndexManager->OpenIndex(Cursor.IndexID());
    if (!restricted)
      return index->GetRecNoByRecordID(sessionID, Cursor.CurrentRecordID, record.As<uint8_t>());
    std::unique_ptr<TVEXIndexPosition> position = index->CreateIndexPosition();
    if (!GetIndexPositionOfRecord(sessionID, Cursor.IndexID(), *position, Cursor.CurrentRecordID))
      return -1;
    return Cursor.RecordBitmap->GetRecNoByIndexPos(Cursor.IndexID(), *position);
  }
  if (restricted) return Cursor.RecordBitmap->GetRecNoByRecordID(Cursor.CurrentRecordID);
  return InternalGetRecNo(Cursor);
}

// ---- field data

namespace {
const TVEXFieldDef& CheckedField(int32_t FieldNo, const TVEXFieldDefs& FieldDefs, int32_t Code) {
  if (FieldNo < 0 || FieldNo >= FieldDefs.Count())
    throw EVEXException(Code, "Invalid field number - FieldNo = %d, FieldCount = %d", FieldNo,
                        FieldDefs.Count());
  return *FieldDefs.GetDef(FieldNo);
}

template <class T>
T Load(const uint8_t* At) {
  T value;
  std::memcpy(&value, At, sizeof(T));
  return value;
}

template <class T>
void Store(void* At, T Value) {
  std::memcpy(At, &Value, sizeof(T));
}
}  // namespace

bool GetFieldDataFromRecordBuffer(int32_t FieldNo, const TVEXFieldDefs& FieldDefs, void* Buffer,
                                  const uint8_t* RecordBuffer) {
  const TVEXFieldDef& def = CheckedField(FieldNo, FieldDefs, 10000);
  if (RecordBuffer == nullptr) RaiseNilPointer(10003);
  if (GetBitFromBuffer(FieldNo, RecordBuffer)) return false;
  if (Buffer == nullptr || IsBLOBAdvancedFieldType(def.AdvancedFieldType)) return true;
  // A definition whose place lies outside the layout it belongs to would read
  // past the record.
  if (def.MemoryOffset < FieldDefs.GetNullBitmapSize() || def.MemoryDataSize < 0 ||
      def.MemoryOffset + def.MemoryDataSize > FieldDefs.GetMemoryRecordBufferSize())
    throw EVEXException(10002,
                        "Error getting field data - FieldNo = %d, MemoryOffset = %d, "
                        "MemoryDataSize = %d",
                        FieldNo, def.MemoryOffset, def.MemoryDataSize);
  const uint8_t* at = RecordBuffer + def.MemoryOffset;
  switch (def.AdvancedFieldType) {
    case aftShortint:
      Store<int16_t>(Buffer, Load<int8_t>(at));
      break;
    case aftCardinal:
      Store<int64_t>(Buffer, Load<uint32_t>(at));
      break;
    case aftSingle:
      Store<double>(Buffer, Load<float>(at));
      break;
    case aftExtended: {
      long double value = 0;
      std::memcpy(&value, at, kExtendedSize);
      Store<double>(Buffer, static_cast<double>(value));
      break;
    }
    default:
      std::memcpy(Buffer, at, static_cast<size_t>(def.MemoryDataSize));
  }
  return true;
}

void SetFieldDataToRecordBuffer(int32_t FieldNo, const TVEXFieldDefs& FieldDefs, const void* Buffer,
                                uint8_t* RecordBuffer) {
  const TVEXFieldDef& def = CheckedField(FieldNo, FieldDefs, 10004);
  if (RecordBuffer == nullptr) RaiseNilPointer(10001);
  bool toNull = Buffer == nullptr;
  if (!toNull) {
    switch (def.AdvancedFieldType) {
      case aftChar:
      case aftString:
      case aftGuid:
        toNull = Load<uint8_t>(static_cast<const uint8_t*>(Buffer)) == 0;
        break;
      case aftWideChar:
      case aftWideString:
        toNull = Load<uint16_t>(static_cast<const uint8_t*>(Buffer)) == 0;
        break;
      default:
        break;
    }
  }
  if (toNull) {
    SetBitInBuffer(true, FieldNo, RecordBuffer);
    return;
  }
  SetBitInBuffer(false, FieldNo, RecordBuffer);
  uint8_t* at = RecordBuffer + def.MemoryOffset;
  const auto* from = static_cast<const uint8_t*>(Buffer);
  switch (def.AdvancedFieldType) {
    case aftShortint:
      Store<int8_t>(at, static_cast<int8_t>(Load<int16_t>(from)));
      break;
    case aftCardinal:
      Store<uint32_t>(at, static_cast<uint32_t>(Load<uint64_t>(from)));
      break;
    case aftSingle:
      Store<float>(at, static_cast<float>(Load<double>(from)));
      break;
    case aftExtended: {
      const long double value = Load<double>(from);
      std::memcpy(at, &value, kExtendedSize);
      break;
    }
    default:
      std::memcpy(at, from, static_cast<size_t>(def.MemoryDataSize));
  }
}

bool RecordBuffersEqual(const void* Buffer1, const void* Buffer2, int32_t Size) {
  if (Buffer1 == nullptr) RaiseNilPointer(10122);
  if (Buffer2 == nullptr) RaiseNilPointer(10123);
  return Size <= 0 || std::memcmp(Buffer1, Buffer2, static_cast<size_t>(Size)) == 0;
}

}  // namespace vex
