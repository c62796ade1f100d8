#include "storage/VEXDatabaseData.h"

#include <algorithm>

#include "rtl/CodePage.h"
#include "rtl/Lists.h"

namespace vex {

TVEXDatabaseData::~TVEXDatabaseData() VEX_NO_THREAD_SAFETY_ANALYSIS {
  // Newest first, so a table made from another's data never outlives it.
  while (!FTableDataList.empty()) FTableDataList.pop_back();
}

void TVEXDatabaseData::ConnectSession(TVEXBaseSession& Session) {
  TVEXLockGuard lock(FCSect);
  if (std::find(FSessionList.begin(), FSessionList.end(), &Session) == FSessionList.end())
    FSessionList.push_back(&Session);
  Session.SetSessionID(0);
}

void TVEXDatabaseData::DisconnectSession(TVEXBaseSession& Session) {
  TVEXLockGuard lock(FCSect);
  std::erase(FSessionList, &Session);
}

bool TVEXDatabaseData::FreeIfNoSessionsConnected() {
  {
    TVEXLockGuard lock(FCSect);
    if (!FSessionList.empty() || FOwner == nullptr) return false;
  }
  // The lock is left before the owner destroys the object that holds it.
  FOwner->FreeDatabaseData(*this);
  return true;
}

void TVEXDatabaseData::GetTablesList(rtl::TStringList& List) {
  TVEXLockGuard lock(FCSect);
  for (const auto& table : FTableDataList) List.Add(table->TableName());
}

TVEXTableData* TVEXDatabaseData::FindTableData(const TVEXCursor& Cursor) {
  TVEXLockGuard lock(FCSect);
  const std::string wanted = rtl::AnsiUpperCase(Cursor.TableName());
  for (const auto& table : FTableDataList) {
    if (rtl::AnsiUpperCase(table->TableName()) == wanted) return table.get();
  }
  return nullptr;
}

TVEXTableData* TVEXDatabaseData::FindOrCreateTableData(TVEXCursor& Cursor) {
  TVEXLockGuard lock(FCSect);
  TVEXTableData* table = FindTableData(Cursor);
  return table != nullptr ? table : CreateTableData(Cursor);
}

void TVEXDatabaseData::Commit(int32_t SessionID, bool /*DoFlushBuffers*/) {
  TVEXLockGuard lock(FCSect);
  if (FPageManager == nullptr) return;
  TVEXLockGuard pages(FPageManager->DatabaseLock());
  FPageManager->ApplyChanges(SessionID);
}

void TVEXDatabaseData::Rollback(int32_t SessionID) {
  TVEXLockGuard lock(FCSect);
  if (FPageManager != nullptr) {
    TVEXLockGuard pages(FPageManager->DatabaseLock());
    FPageManager->CancelChanges(SessionID);
  }
  // By index, so a table that a rollback drops cannot invalidate the walk.
  for (size_t i = 0; i < FTableDataList.size(); ++i) {
    TVEXTableData& table = *FTableDataList[i];
    TVEXLockGuard tableLock(table.DatabaseLock());
    table.Rollback(SessionID);
  }
}

bool TVEXDatabaseData::TableExists(std::string_view TableName) {
  TVEXLockGuard lock(FCSect);
  rtl::TStringList list;
  GetTablesList(list);
  return list.IndexOf(TableName) >= 0;
}

void TVEXDatabaseData::FreeTableData(TVEXTableData* TableData) {
  TVEXLockGuard lock(FCSect);
  auto it = std::find_if(FTableDataList.begin(), FTableDataList.end(),
                         [TableData](const auto& t) { return t.get() == TableData; });
  if (it == FTableDataList.end()) return;
  // Out of the list first, destroyed after, so the list never holds a dying
  // object.
  std::unique_ptr<TVEXTableData> dying = std::move(*it);
  FTableDataList.erase(it);
}

TVEXTableData* TVEXDatabaseData::AddTableData(std::unique_ptr<TVEXTableData> TableData) {
  TVEXLockGuard lock(FCSect);
  FTableDataList.push_back(std::move(TableData));
  return FTableDataList.back().get();
}

}  // namespace vex
