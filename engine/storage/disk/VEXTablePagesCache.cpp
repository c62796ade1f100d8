#include "storage/disk/VEXTablePagesCache.h"

#include <algorithm>

#include "foundation/VEXConst.h"
#include "foundation/VEXExcept.h"

namespace vex {

void TVEXDTPCTableInfo::ResetState() {
  IsMostUpdatedLoaded = false;
  TableState = -1;
}

TVEXDTPCTableInfo& TVEXDTPCSessionInfo::GetTableInfo(int32_t TableID) {
  for (auto& info : FTableInfo) {
    if (info->TableID == TableID) return *info;
  }
  FTableInfo.push_back(std::make_unique<TVEXDTPCTableInfo>(TableID));
  return *FTableInfo.back();
}

TVEXDTPCSessionInfo& TVEXDiskTablePagesCacheManager::GetSessionInfo(int32_t SessionID) {
  if (SessionID < -2) throw EVEXException(20186, sInvalidSessionID);
  const size_t index = static_cast<size_t>(static_cast<int64_t>(SessionID) + 2);
  if (index >= FSessionInfo.size()) {
    const size_t oldSize = FSessionInfo.size();
    FSessionInfo.resize(index + 1);
    for (size_t i = oldSize; i < FSessionInfo.size(); ++i) {
      FSessionInfo[i] = std::make_unique<TVEXDTPCSessionInfo>();
    }
  }
  return *FSessionInfo[index];
}

TVEXDTPCTableInfo& TVEXDiskTablePagesCacheManager::GetTableInfo(int32_t SessionID,
                                                                int32_t TableID) {
  return GetSessionInfo(SessionID).GetTableInfo(TableID);
}

namespace {

void CountLock(TVEXDTPCTableInfo& info, int32_t& count) {
  if (!info.IsTableLockedFromModification()) info.ResetState();
  ++count;
}

void CountUnlock(TVEXDTPCTableInfo& info, int32_t& count) {
  if (count > 0) --count;
  if (!info.IsTableLockedFromModification()) info.ResetState();
}

}  // namespace

void TVEXDiskTablePagesCacheManager::TableIsSLocked(int32_t SessionID, int32_t TableID) {
  TVEXDTPCTableInfo& info = GetTableInfo(SessionID, TableID);
  CountLock(info, info.TableSLockCount);
}

void TVEXDiskTablePagesCacheManager::TableIsSUnlocked(int32_t SessionID, int32_t TableID) {
  TVEXDTPCTableInfo& info = GetTableInfo(SessionID, TableID);
  CountUnlock(info, info.TableSLockCount);
}

void TVEXDiskTablePagesCacheManager::TableIsRWLocked(int32_t SessionID, int32_t TableID) {
  TVEXDTPCTableInfo& info = GetTableInfo(SessionID, TableID);
  CountLock(info, info.TableRWLockCount);
}

void TVEXDiskTablePagesCacheManager::TableIsRWUnlocked(int32_t SessionID, int32_t TableID) {
  TVEXDTPCTableInfo& info = GetTableInfo(SessionID, TableID);
  CountUnlock(info, info.TableRWLockCount);
}

bool TVEXDiskTablePagesCacheManager::GetIsMostUpdatedLoaded(int32_t SessionID, int32_t TableID) {
  // Outside a lock period no lock or release marks the moment another
  // connection commits, so a load then proves nothing about the next one.
  const TVEXDTPCTableInfo& info = GetTableInfo(SessionID, TableID);
  return info.IsMostUpdatedLoaded && info.IsTableLockedFromModification();
}

void TVEXDiskTablePagesCacheManager::SetIsMostUpdatedLoaded(int32_t SessionID, int32_t TableID,
                                                            int32_t TableState) {
  TVEXDTPCTableInfo& info = GetTableInfo(SessionID, TableID);
  if (info.IsMostUpdatedLoaded) return;
  info.IsMostUpdatedLoaded = true;
  info.TableState = TableState;
}

void TVEXDiskTablePagesCacheManager::BeginWorkWithTable(int32_t SessionID, int32_t TableID) {
  GetSessionInfo(SessionID).FWorkTableIDs.push_back(TableID);
}

void TVEXDiskTablePagesCacheManager::EndWorkWithTable(int32_t SessionID, int32_t TableID) {
  // Pieces of work nest, so the one ending is the most recent of that table;
  // dropping an earlier one would leave this table as the work table while an
  // outer piece of work on another table goes on, and that table's pages would
  // be trusted under this table's state.
  std::vector<int32_t>& work = GetSessionInfo(SessionID).FWorkTableIDs;
  auto found = std::find(work.rbegin(), work.rend(), TableID);
  if (found != work.rend()) work.erase(std::next(found).base());
}

bool TVEXDiskTablePagesCacheManager::GetWorkTableState(int32_t SessionID, int32_t& WorkTableState) {
  int32_t tableID = -1;
  return GetWorkTableState(SessionID, tableID, WorkTableState);
}

bool TVEXDiskTablePagesCacheManager::GetWorkTableState(int32_t SessionID, int32_t& WorkTableID,
                                                       int32_t& WorkTableState) {
  TVEXDTPCSessionInfo& session = GetSessionInfo(SessionID);
  if (session.FWorkTableIDs.empty()) return false;
  const TVEXDTPCTableInfo& info = session.GetTableInfo(session.FWorkTableIDs.back());
  WorkTableID = info.TableID;
  WorkTableState = info.TableState;
  return info.IsTableLockedFromModification() && info.IsMostUpdatedLoaded;
}

}  // namespace vex
