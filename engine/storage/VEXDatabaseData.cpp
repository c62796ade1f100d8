#include "storage/VEXDatabaseData.h"

#include <algorithm>

#include "rtl/CodePage.h"
#include "rtl/Lists.h"

namespace vex {

TVEXDatabaseData::~TVEXDatabaseData() {
  // Newest first, so a table made from another's data never outlives it.
  while (!FTableDataList.empty()) FTableDataList.pop_back();
}

void TVEXDatabaseData::ConnectSession(TVEXBaseSession& Session) {
  TVEXDatabaseLockGuard lock(*this);
  if (std::find(FSessionList.begin(), FSessionList.end(), &Session) == FSessionList.end())
    FSessionList.push_back(&Session);
  Session.SetSessionID(0);
}

void TVEXDatabaseData::DisconnectSession(TVEXBaseSession& Session) {
  TVEXDatabaseLockGuard lock(*this);
  std::erase(FSessionList, &Session);
}

bool TVEXDatabaseData::FreeIfNoSessionsConnected() {
  {
    TVEXDatabaseLockGuard lock(*this);
    if (!FSessionList.empty() || FOwner == nullptr) return false;
  }
  // The lock is left before the owner destroys the object that holds it.
  FOwner->FreeDatabaseData(*this);
  return true;
}

void TVEXDatabaseData::GetTablesList(rtl::TStringList& List) {
  TVEXDatabaseLockGuard lock(*this);
  for (const auto& table : FTableDataList) List.Add(table->TableName());
}

TVEXTableData* TVEXDatabaseData::FindTableData(const TVEXCursor& Cursor) {
  TVEXDatabaseLockGuard lock(*this);
  const std::string wanted = rtl::AnsiUpperCase(Cursor.TableName());
  for (const auto& table : FTableDataList) {
    if (rtl::AnsiUpperCase(table->TableName()) == wanted) return table.get();
  }
  return nullptr;
}

TVEXTableData* TVEXDatabaseData::FindOrCreateTableData(TVEXCursor& Cursor) {
  TVEXDatabaseLockGuard lock(*this);
  TVEXTableData* table = FindTableData(Cursor);
  return table != nullptr ? table : CreateTableData(Cursor);
}

void TVEXDatabaseData::Commit(int32_t SessionID, bool /*DoFlushBuffers*/) {
  TVEXDatabaseLockGuard lock(*this);
  if (FPageManager != nullptr) FPageManager->ApplyChanges(SessionID);
}

void TVEXDatabaseData::Rollback(int32_t SessionID) {
  TVEXDatabaseLockGuard lock(*this);
  if (FPageManager != nullptr) FPageManager->CancelChanges(SessionID);
  // By index: a table's rollback may not add or drop tables, but it must not
  // be able to invalidate the walk either.
  for (size_t i = 0; i < FTableDataList.size(); ++i) FTableDataList[i]->Rollback(SessionID);
}

bool TVEXDatabaseData::TableExists(std::string_view TableName) {
  TVEXDatabaseLockGuard lock(*this);
  rtl::TStringList list;
  GetTablesList(list);
  return list.IndexOf(TableName) >= 0;
}

void TVEXDatabaseData::FreeTableData(TVEXTableData* TableData) {
  TVEXDatabaseLockGuard lock(*this);
  auto it = std::find_if(FTableDataList.begin(), FTableDataList.end(),
                         [TableData](const auto& t) { return t.get() == TableData; });
  if (it == FTableDataList.end()) return;
  // Out of the list first, destroyed after, so the list never holds a dying
  // object.
  std::unique_ptr<TVEXTableData> dying = std::move(*it);
  FTableDataList.erase(it);
}

TVEXTableData* TVEXDatabaseData::AddTableData(std::unique_ptr<TVEXTableData> TableData) {
  TVEXDatabaseLockGuard lock(*this);
  FTableDataList.push_back(std::move(TableData));
  return FTableDataList.back().get();
}

}  // namespace vex
