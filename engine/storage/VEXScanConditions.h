// What an index search is given and what it leaves behind: the comparison
// operators of a scan, a scan condition on the leading columns of an index,
// the cache of a cursor's last index position, and the part of a cursor's
// view bitmap that an index walks.
//
// Only the members the indexes use are here; the table search (condition
// arrays, expression entries, the bitmap's bit storage) builds on them.
//
// Threads: each object belongs to one cursor or one search and is used under
// the lock of the database the table belongs to.
#pragma once

#include <cstdint>
#include <memory>

#include "storage/VEXIndexManager.h"
#include "storage/VEXPage.h"
#include "storage/VEXRecordBitmap.h"

namespace vex {

// How a record's key compares to a condition's key (scLower: key < value).
enum TVEXSearchCondition : uint8_t {
  scNone,
  scEqual,
  scLower,
  scGreater,
  scLowerEqual,
  scGreaterEqual
};

// The first KeyFieldCount columns of index IndexID compare to the key values
// held in KeyRecordBuffer (a memory record of the table) as Condition says.
class TVEXScanSearchCondition {
 public:
  TVEXSearchCondition Condition = scNone;
  // Not owned here.
  uint8_t* KeyRecordBuffer = nullptr;
  int32_t KeyRecordBufferSize = 0;
  int32_t KeyFieldCount = 0;
  int32_t IndexID = -1;
  // Text columns compare as prefixes of the key values.
  bool PartialCompare = false;
};

// Where in an index a cursor last stood: the index fills it after each step
// and trusts it only for the same index, record and table state.
class TVEXIndexPositionCache {
 public:
  // Made by the index (CreateIndexPosition) on first use.
  std::unique_ptr<TVEXIndexPosition> Position;
  int32_t IndexID = -1;
  TVEXPageItemID RecordID{-1, 0};
  int32_t TableState = -1;
};

}  // namespace vex
