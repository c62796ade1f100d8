// What the in-memory and temporary tables do alike: one table operation as
// one change set of the table's page manager, whole-stream copies of BLOB
// bytes, the neighbour a deleted record's cursor lands on, freeing every
// table of a database, and (until the navigation layer gives every engine its
// common body) moving a cursor in physical order over the record store.
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

// Deletes every table of the database (a table still open is freed all the
// same; the refusal is reported). Never raises.
void DeleteAllTables(TVEXDatabaseData& Database) noexcept;

}  // namespace vex::enginesupport

namespace vex::enginenav {
// grmCurrent / grmNext / grmPrior in physical order: the cursor's record id
// and flags move and its current record buffer receives the record. 10019
// "Nil pointer occured" without record store or record buffer.
TVEXGetRecordResult PhysicalGetRecordBuffer(TVEXTableData& Table, TVEXCursor& Cursor,
                                            TVEXGetRecordMode GetRecordMode);
}  // namespace vex::enginenav
