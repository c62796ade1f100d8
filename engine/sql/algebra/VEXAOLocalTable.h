// A table reached straight through a local cursor, for the operators: a
// base table of one local session, or a result table in the temporary
// database of another. It keeps the one current record buffer and the one
// insert buffer a dataset would, and nothing else: no fields, events or
// record ring.
//
// Design notes
//   1. Open makes a new cursor; Close frees it. A projection, index, distinct
//      view or SQL filter lasts as long as that cursor.
//   2. Reading past the last record leaves the current buffer on the last
//      record (Eof set), as a dataset keeps showing it.
//   3. A result table (Temporary) lives in the temporary session's database
//      and is deleted by its operator; siblings share both sessions.
//
// Threads: used by the thread running the statement, like its cursor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/VEXAdvDefs.h"
#include "components/VEXLocalCursor.h"
#include "foundation/VEXGuards.h"
#include "sql/algebra/VEXAODataset.h"

namespace vex {

class TVEXLocalSession;

class TVEXAOLocalTable final : public TVEXAODataset {
 public:
  // Session holds the base tables, TempSession the temporary result tables
  // (both must outlive this table).
  TVEXAOLocalTable(TVEXLocalSession& Session, TVEXLocalSession& TempSession,
                   std::string TableName);
  ~TVEXAOLocalTable() override;

  const std::string& TableName() const override { return FTableName; }
  void SetTableName(const std::string& Value) override { FTableName = Value; }
  std::string SessionName() const override { return {}; }
  bool InMemory() const override { return FInMemory; }
  void SetInMemory(bool Value) override { FInMemory = Value; }
  bool Temporary() const override { return FTemporary; }
  void SetTemporary(bool Value) override { FTemporary = Value; }
  void SetDisableTempFiles(bool Value) override { FDisableTempFiles = Value; }
  TVEXAdvFieldDefs& AdvFieldDefs() override { return FAdvFieldDefs; }
  TVEXAdvIndexDefs& AdvIndexDefs() override { return FAdvIndexDefs; }
  std::unique_ptr<TVEXAODataset> NewSibling() override;

  bool Exists() override;
  // From AdvFieldDefs and AdvIndexDefs; a temporary table gets no NOT NULL or
  // CHECK constraints.
  void CreateTable() override;
  void DeleteTable() override;
  void Open() override;
  void Close() override;
  bool Active() const override { return FCursor != nullptr; }
  void SetReadOnly(bool Value) override { FReadOnly = Value; }
  TVEXCursor* Handle() override { return FCursor.get(); }
  TVEXLocalCursor* LocalCursor() { return FCursor.get(); }

  void First() override;
  void Next() override;
  bool Eof() const override { return FEof; }
  bool Bof() const override { return FBof; }
  int64_t RecordCount() override;

  void Insert() override;
  // An engine error (EVEXEngineError) when the cursor refuses the record.
  void Post() override;
  void Cancel() override;
  bool CheckConstraints() override;

  void GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) override;
  std::string FieldName(int32_t FieldNo) override;
  void SetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) override;
  void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                      TVEXAODataset& Dest) override;

  void ApplyProjection(const rtl::TStringList& FieldNamesList,
                       const rtl::TStringList& AliasList) override;
  std::string FindOrCreateIndex(const rtl::TStringList& FieldNamesList,
                                const rtl::TStringList& AscDescList,
                                const rtl::TStringList& CaseSensitivityList,
                                bool& IsCreated) override;
  bool IndexExists(const rtl::TStringList& FieldNamesList, const rtl::TStringList& AscDescList,
                   const rtl::TStringList& CaseSensitivityList) override;
  void AddIndex(const std::string& Name, const std::string& Fields, const std::string& DescFields,
                const std::string& CaseInsFields) override;
  std::string IndexName() const override;
  void SetIndexName(const std::string& Value) override;
  void ApplyDistinct(const rtl::TStringList& FieldNamesList, const rtl::TStringList& AscDescList,
                     const rtl::TStringList& CaseSensitivityList) override;
  void ApplyDistinctFrom(TVEXAODataset& Source) override;
  void SetSQLFilter(TVEXExpression* FilterExpr, TVEXAO* ParentQueryAO,
                    TVEXCursor* ParentCursor) override;
  TVEXExpression* SQLFilter() const override { return FSQLFilter; }

 private:
  TVEXLocalSession& SessionOfTable() const { return FTemporary ? FTempSession : FSession; }
  // 10315 "Nil pointer occured" when the table is not open.
  TVEXLocalCursor& Cursor(int32_t Code) const;
  bool Read(TVEXGetRecordMode Mode);
  uint8_t* ReadBuffer() const { return static_cast<uint8_t*>(FReadBuffer.Get()); }
  uint8_t* InsertBuffer() const { return static_cast<uint8_t*>(FInsertBuffer.Get()); }
  void RefreshAdvFieldDefs();

  TVEXLocalSession& FSession;
  TVEXLocalSession& FTempSession;
  std::string FTableName;
  bool FInMemory = false;
  bool FTemporary = false;
  bool FDisableTempFiles = false;
  bool FReadOnly = false;
  TVEXAdvFieldDefs FAdvFieldDefs;
  TVEXAdvIndexDefs FAdvIndexDefs;
  std::unique_ptr<TVEXLocalCursor> FCursor;
  TVEXMemBlock FReadBuffer;
  TVEXMemBlock FInsertBuffer;
  TVEXMemBlock FScratch;
  bool FEof = true;
  bool FBof = true;
  TVEXExpression* FSQLFilter = nullptr;
};

}  // namespace vex
