#include "storage/VEXCursor.h"

#include <cstring>

namespace vex {

namespace {
// The layout of a saved position (design note 1).
constexpr int64_t kPositionSize = 8;
constexpr size_t kFirstAt = 0;
constexpr size_t kLastAt = 1;
constexpr size_t kPageNoAt = 2;
constexpr size_t kPageItemNoAt = 6;
}  // namespace

TVEXMemBlock TVEXCursor::SavePosition() const {
  TVEXMemBlock pos = TVEXMemBlock::GetMem(kPositionSize);
  uint8_t* p = pos.As<uint8_t>();
  p[kFirstAt] = FirstPosition ? 1 : 0;
  p[kLastAt] = LastPosition ? 1 : 0;
  std::memcpy(p + kPageNoAt, &CurrentRecordID.PageNo, sizeof(int32_t));
  std::memcpy(p + kPageItemNoAt, &CurrentRecordID.PageItemNo, sizeof(uint16_t));
  return pos;
}

void TVEXCursor::RestorePosition(const TVEXMemBlock& Pos) {
  if (!Pos) return;
  const uint8_t* p = Pos.As<uint8_t>();
  FirstPosition = p[kFirstAt] != 0;
  LastPosition = p[kLastAt] != 0;
  int32_t pageNo;
  uint16_t pageItemNo;
  std::memcpy(&pageNo, p + kPageNoAt, sizeof(pageNo));
  std::memcpy(&pageItemNo, p + kPageItemNoAt, sizeof(pageItemNo));
  CurrentRecordID = {pageNo, pageItemNo};
}

}  // namespace vex
