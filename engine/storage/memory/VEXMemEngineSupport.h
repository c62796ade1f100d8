// What the in-memory and temporary tables do alike: one table operation as
// one change set of the table's page manager, whole-stream copies of BLOB
// bytes, the neighbour a deleted record's cursor lands on, freeing every
// table of a database, and keeping a cursor's view bitmap current.
//
// Threads: every function REQUIRES the database lock of the table it works on.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/VEXGuards.h"
#include "storage/VEXDatabaseData.h"
#include "storage/VEXTableData.h"

namespace rtl {
class TStream;
}

namespace vex::enginesupport {

// Outside a transaction: Commit applies the session's changes to the table's
// pages; leaving the scope without Commit cancels them. Inside a transaction,
// and without a cursor's session (the system session is used), likewise for
// the system session. Unlike TVEXTableOperation it takes no lock: its caller
// holds it.
class TChangeSet {
 public:
  TChangeSet(TVEXTableData& Table, const TVEXCursor* Cursor);
  ~TChangeSet();
  TChangeSet(const TChangeSet&) = delete;
  TChangeSet& operator=(const TChangeSet&) = delete;
  void Commit();

 private:
  TVEXTableData& FTable;
  int32_t FSessionID;
  bool FInTransaction;
  bool FDone = false;
};

// Makes Block NewSize bytes long keeping its bytes (a new block when it has
// none); Block is untouched when that fails.
void ResizeBlock(TVEXMemBlock& Block, int64_t NewSize);

// All bytes of Stream from position 0; its position is kept. ErrorCode with
// the stream read message on a short read.
std::vector<uint8_t> ReadWholeStream(rtl::TStream& Stream, int32_t ErrorCode);
// Size bytes of Data written at Stream's position; ErrorCode with the stream
// write message on a short write.
void WriteWholeBuffer(rtl::TStream& Stream, const uint8_t* Data, int64_t Size, int32_t ErrorCode);

// Where a cursor goes once its record is deleted: the next record, else the
// prior, else before the first.
struct TNeighbour {
  bool Found = false;
  TVEXPageItemID RecordID{-1, 0};
};
// Looks with a scratch record buffer; the cursor's position and buffer are
// left as they were.
TNeighbour FindNeighbour(TVEXTableData& Table, TVEXCursor& Cursor)
    VEX_REQUIRES(Table.DatabaseLock());
void LandOnNeighbour(TVEXCursor& Cursor, const TNeighbour& Neighbour);

// Whether the cursor keeps an active view bitmap that a record change must
// reach.
bool HasActiveBitmap(const TVEXCursor& Cursor);
// The record's bit follows whether it lies in the cursor's view.
void ShowOrHide(TVEXCursor& Cursor, TVEXPageItemID RecordID, bool InView);
// After a delete: the record's bit goes, and a bitmap that was current
// before (StateBefore) and applies no DISTINCT takes the new state NewState.
void HideDeleted(TVEXCursor& Cursor, TVEXPageItemID RecordID, int32_t StateBefore,
                 int32_t NewState);

// Deletes every table of the database (a table still open is freed all the
// same; the refusal is reported). Never raises.
void DeleteAllTables(TVEXDatabaseData& Database) noexcept;

}  // namespace vex::enginesupport
