// What the data-changing statements share (see VEXDMLCommand.h).
#include "sql/dml/VEXDMLCommand.h"

#include <exception>
#include <string>

#include "db/Fields.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXVariant.h"
#include "os/Clock.h"
#include "storage/VEXCursor.h"
#include "storage/disk/VEXTableLocks.h"

namespace vex {

namespace {

bool IsWideTextType(TVEXBaseFieldType T) {
  return T == bftWideChar || T == bftWideVarchar || T == bftWideClob;
}

bool IsNarrowTextType(TVEXBaseFieldType T) {
  return T == bftChar || T == bftVarchar || T == bftClob;
}

}  // namespace

void AssignVariantToField(TVEXVariant* Value, db::TField* Field) {
  if (Value == nullptr) throw EVEXException(30359, "Value is Null");
  if (Value->IsNull()) {
    Field->Clear();
    return;
  }
  switch (Field->DataType()) {
    case db::ftInteger:
      Field->SetAsInteger(Value->AsInteger());
      break;
    case db::ftLargeint:
      Field->SetAsLargeInt(Value->AsInt64());
      break;
    case db::ftDate:
      Field->SetAsDateTime(Value->AsTDate());
      break;
    case db::ftTime:
      Field->SetAsDateTime(Value->AsTTime());
      break;
    case db::ftDateTime:
    case db::ftTimeStamp:
      Field->SetAsDateTime(Value->AsTDateTime());
      break;
    case db::ftBlob:
    case db::ftGraphic:
    case db::ftMemo:
    case db::ftFmtMemo:
      // A wide large text is wide text too: its raw bytes read as 8-bit
      // characters would store every second byte as a character of its own.
      if (IsWideTextType(Value->DataType())) {
        Field->SetAsWideString(Value->AsWideString());
      } else if (IsNarrowTextType(Value->DataType())) {
        Field->SetAsString(Value->AsAnsiString());
      } else {
        Field->SetAsString(std::string(static_cast<const char*>(Value->pData()),
                                       static_cast<size_t>(Value->DataSize())));
      }
      break;
    default:
      Field->SetAsVariant(Value->AsVariant());
      break;
  }
}

// ---- write locks

TVEXWriteLocks::~TVEXWriteLocks() {
  try {
    Unlock();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
}

void TVEXWriteLocks::TryExclusiveWrite() { FXIRW = FCursor.LockTable(ltXIRW, 1, 0, false); }

bool TVEXWriteLocks::LockInOneCall() {
  FRW = FCursor.LockTable(ltRW, kWriteLockTries, kWriteLockPauseMs, true);
  if (FRW) TryExclusiveWrite();
  return FRW;
}

bool TVEXWriteLocks::LockInRounds() {
  for (int32_t round = 1; round <= kWriteLockTries; ++round) {
    FRW = FCursor.LockTable(ltRW, 1, 0, true);
    if (FRW) break;
    if (round == kWriteLockTries) return false;
    FCursor.UnlockTableData();
    ScopeExit retake([this] { FCursor.LockTableData(); });
    os::CurrentClock().Sleep(kWriteLockPauseMs);
  }
  TryExclusiveWrite();
  return true;
}

void TVEXWriteLocks::Unlock() {
  if (FXIRW) {
    FXIRW = false;
    FCursor.UnlockTable(ltXIRW, false);
  }
  if (FRW) {
    FRW = false;
    FCursor.UnlockTable(ltRW, false);
  }
}

// ---- batch update

TVEXBatchUpdate::TVEXBatchUpdate(TVEXCursor& Cursor) : FCursor(Cursor) {
  FCursor.BeginBatchUpdate();
}

TVEXBatchUpdate::~TVEXBatchUpdate() {
  if (FDone) return;
  try {
    FCursor.CancelBatchUpdate();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
}

void TVEXBatchUpdate::Commit() {
  const bool wasInBatch = FCursor.InBatchUpdate();
  try {
    FCursor.EndBatchUpdate();
  } catch (...) {
    // Ending the batch cleared its flag before the changes were applied: put
    // it back, so that the destructor's cancel drops what was not applied.
    FCursor.SetInBatchUpdate(wasInBatch);
    throw;
  }
  FDone = true;
}

}  // namespace vex
