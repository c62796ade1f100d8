#include "components/VEXQuery.h"

#include <exception>
#include <utility>

#include "components/VEXDatabase.h"
#include "db/SQLScan.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "rtl/CodePage.h"

namespace vex {

namespace {

#ifdef VALMORA_TEST_HOOKS
std::span<const TVEXStatementRow> TestStatementRows;
#endif

std::span<const TVEXStatementRow> QueryStatementRows() {
#ifdef VALMORA_TEST_HOOKS
  if (!TestStatementRows.empty()) return TestStatementRows;
#endif
  return StatementRows();
}

// The platform's parameter parser takes a colon for the start of a name
// wherever it stands; a colon quoted as one name is hidden from it.
constexpr std::string_view kQuotedColon = "\":\"";
constexpr std::string_view kCutColon = "\"<cut colon>\"";

std::string ReplaceAll(std::string Text, std::string_view From, std::string_view To) {
  for (size_t at = Text.find(From); at != std::string::npos; at = Text.find(From, at + To.size()))
    Text.replace(at, From.size(), To);
  return Text;
}

// Param's value as the processor's parameter list carries it: by data type,
// never converted to that type (design note 4).
void ParamToValue(const db::TParam& Param, TVEXSQLParam& Value) {
  // A type the conversion table does not know is refused for null and
  // non-null parameters alike (30289).
  TVEXBaseFieldType baseType = bftUnknown;
  if (Param.DataType() != db::ftUnknown)
    baseType = AdvancedToBaseFieldType(FieldTypeToAdvancedFieldType(Param.DataType()));
  if (Param.IsNull()) {
    Value.Clear(baseType);
    return;
  }
  switch (Param.DataType()) {
    case db::ftUnknown:
      // Nothing says what the value is: it stays null.
      break;
    case db::ftTime:
      Value.SetAsTTime(Param.AsDateTime());
      break;
    case db::ftBlob:
    case db::ftGraphic: {
      const std::string bytes = Param.AsBlob();
      Value.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), bftBlob, true);
      break;
    }
    case db::ftMemo:
    case db::ftFmtMemo:
      Value.SetAsAnsiString(Param.AsString());
      break;
    case db::ftWideMemo:
      // The engine's wide text: two bytes per character and the terminator
      // that every engine text counts in its size.
      Value.SetAsWideString(Param.AsWideString());
      break;
    default:
      Value.SetAsVariant(Param.Value());
      break;
  }
}

}  // namespace

#ifdef VALMORA_TEST_HOOKS
std::span<const TVEXStatementRow> SetQueryStatementRowsForTesting(
    std::span<const TVEXStatementRow> Rows) {
  return std::exchange(TestStatementRows, Rows);
}
#endif

// --- the data link ------------------------------------------------------------

db::TDataSet* TVEXQueryDataLink::GetDetailDataSet() { return FQuery; }

void TVEXQueryDataLink::ActiveChanged() {
  if (FQuery->Active()) FQuery->RefreshParams();
}

void TVEXQueryDataLink::CheckBrowseMode() {
  if (FQuery->Active()) FQuery->CheckBrowseMode();
}

void TVEXQueryDataLink::RecordChanged(db::TField* Field) {
  if (Field == nullptr && FQuery->Active()) FQuery->RefreshParams();
}

// --- construction -------------------------------------------------------------

TVEXQuery::TVEXQuery(rtl::TComponent* AOwner)
    : TVEXDataSet(AOwner), FParams(this), FDataLink(std::make_unique<TVEXQueryDataLink>(this)) {
  FSQL.OnChange = [this] { QueryChanged(); };
}

TVEXQuery::~TVEXQuery() {
  // Closed and unprepared while the overrides still exist; the link goes
  // before the dataset.
  Destroying();
  try {
    CloseAndRelease();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
  FSQL.OnChange = nullptr;
  FDataLink.reset();
}

// --- the SQL text -------------------------------------------------------------

void TVEXQuery::SetSQL(const rtl::TStringList& Value) {
  if (FSQL.Text() == Value.Text()) return;
  CloseAndRelease();
  FSQL.BeginUpdate();
  FSQL.Clear();
  for (int32_t i = 0; i < Value.Count(); ++i) FSQL.Add(Value[i]);
  // Fires the change handler once.
  FSQL.EndUpdate();
}

void TVEXQuery::QueryChanged() {
  if (ComponentState().Contains(rtl::csReading)) {
    FText = FParams.ParseSQL(FSQL.Text(), false);
    return;
  }
  CloseAndRelease();
  FSQLBinary.reset();
  if (FParamCheck || ComponentState().Contains(rtl::csDesigning)) {
    db::TParams fresh(this);
    const std::string marked =
        fresh.ParseSQL(ReplaceAll(FSQL.Text(), kQuotedColon, kCutColon), true);
    FText = ReplaceAll(marked, kCutColon, kQuotedColon);
    fresh.AssignValues(FParams);
    FParams.Clear();
    FParams.Assign(fresh);
  } else {
    FText = FSQL.Text();
  }
  DataEvent(db::dePropertyChange, 0);
}

// --- preparing and running ------------------------------------------------------

void TVEXQuery::SetPrepared(bool Value) {
  if (Value)
    Prepare();
  else
    UnPrepare();
}

void TVEXQuery::Prepare() {
  // The flag is taken back when this call set it and preparing fails, so a
  // failed Prepare does not hold the database.
  const bool hadFlag = (FDBFlags & (1u << dbfPrepared)) != 0;
  SetDBFlag(dbfPrepared, true);
  ScopeFailure release([&] {
    if (hadFlag) return;
    try {
      SetDBFlag(dbfPrepared, false);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  });
  SetPrepare(true);
}

void TVEXQuery::UnPrepare() {
  SetPrepare(false);
  SetDBFlag(dbfPrepared, false);
}

void TVEXQuery::SetPrepare(bool Value) {
  if (FHandle != nullptr) {
    if (Value) throw EVEXException(30141, "Cannot perform this operation on an open dataset");
    // The cursor belongs to the statement and goes with the processor: a
    // query still showing it is closed first, while its record buffers can
    // still be given back through it.
    Close();
    FHandle = nullptr;
    FExternalHandle = nullptr;
  }
  if (Value == FPrepared) return;
  if (Value) {
    FRowsAffected = -1;
    FCheckRowsAffected = true;
    const std::string text = FSQL.Text();
    if (text.size() < 2) throw EVEXException(30142, "No SQL statement available");
    auto processor = std::make_unique<TVEXLocalSQLProcessor>(this, QueryStatementRows());
    processor->SetRequestLive(FRequestLive);
    processor->SetInMemory(InMemory());
    processor->PrepareStatement(rtl::Win1252ToUtf16(text));
    FStmtHandle = std::move(processor);
  } else {
    if (FCheckRowsAffected) FRowsAffected = RowsAffected();
    FStmtHandle.reset();
  }
  FPrepared = Value;
}

void TVEXQuery::ExecSQL() {
  CheckInactive();
  SetDBFlag(dbfExecuting, true);
  {
    // A failure clears the flag (which may unprepare) before it passes on.
    ScopeFailure clear([&] {
      try {
        SetDBFlag(dbfExecuting, false);
      } catch (const std::exception& e) {
        ReportReleaseFault(e);
      }
    });
    ExecuteStatement(false);
  }
  SetDBFlag(dbfExecuting, false);
}

int32_t TVEXQuery::RowsAffected() const {
  if (FStmtHandle == nullptr) return FRowsAffected;
  // The low 32 bits of the processor's count.
  return static_cast<int32_t>(static_cast<uint32_t>(FStmtHandle->RowsAffected()));
}

TVEXCursor* TVEXQuery::ExecuteStatement(bool WantCursor) {
  if (FSQL.Count() == 0) throw EVEXException(20034, "No SQL statement available");
  SetPrepare(true);
  if (DataSource() != nullptr) SetParamsFromMaster();
  TVEXCursor* cursor = RunStatement(WantCursor);
  FCheckRowsAffected = cursor == nullptr;
  return cursor;
}

TVEXCursor* TVEXQuery::RunStatement(bool WantCursor) {
  TVEXSQLProcessor& processor = *FStmtHandle;
  if (FParams.Count() > 0) {
    TVEXSQLParams& values = processor.SQLParams();
    values.Clear();
    for (int32_t i = 0; i < FParams.Count(); ++i) {
      const db::TParam& param = *FParams[i];
      TVEXSQLParam& value = values.AddCreated();
      value.Name = rtl::Win1252ToUtf16(param.Name());
      ParamToValue(param, value);
    }
  }
  if (!WantCursor) {
    processor.ExecuteQuery();
    return nullptr;
  }
  TVEXCursor* cursor = processor.OpenQuery();
  if (cursor != nullptr) {
    // The statement's projection is what the dataset shows as its fields.
    cursor->SetSettingProjection(true);
    FExternalHandle = cursor;
  }
  FReadOnly = processor.ReadOnly() || (FDatabase != nullptr && FDatabase->ReadOnly());
  return cursor;
}

TVEXCursor* TVEXQuery::CreateHandle() {
  // No question or dialog while the statement runs.
  TVEXDatabase* database = FDatabase;
  const bool silent = database != nullptr && database->SilentMode();
  if (database != nullptr) database->SetSilentMode(true);
  ScopeExit restore([&] {
    if (database != nullptr) database->SetSilentMode(silent);
  });
  TVEXCursor* cursor = FExternalHandle != nullptr ? FExternalHandle : ExecuteStatement(true);
  // The statement leaves its result cursor on the row it wrote or read last;
  // the dataset reads its first row with a step forward, so the cursor must
  // stand before the first row, or the dataset opens on the second (and a
  // result of one row opens empty).
  if (cursor != nullptr) cursor->InternalFirst();
  return cursor;
}

void TVEXQuery::InternalRefresh() {
  if (!Active()) return;
  if (!FReadOnly) {
    TVEXDataSet::InternalRefresh();
    return;
  }
  // A copied result does not follow its tables: the text runs again.
  Close();
  Open();
}

void TVEXQuery::CloseAndRelease() {
  Close();
  UnPrepare();
}

void TVEXQuery::SetDBFlag(int32_t Flag, bool Value) {
  if (!Value && Flag >= 0 && Flag <= 15 && (FDBFlags & ~(1u << Flag)) == 0) SetPrepare(false);
  TVEXDataSet::SetDBFlag(Flag, Value);
}

// --- master data source ---------------------------------------------------------

db::TDataSource* TVEXQuery::DataSource() const { return FDataLink->DataSource(); }

void TVEXQuery::SetDataSource(db::TDataSource* Value) {
  if (Value != nullptr && IsLinkedTo(Value)) db::DatabaseError(db::msg::CircularDataLink, this);
  FDataLink->SetDataSource(Value);
}

void TVEXQuery::GetDetailLinkFields(std::vector<db::TField*>& MasterFields,
                                    std::vector<db::TField*>& DetailFields) {
  MasterFields.clear();
  DetailFields.clear();
  db::TDataSource* source = DataSource();
  if (source == nullptr || source->DataSet() == nullptr) return;
  for (int32_t i = 0; i < FParams.Count(); ++i) {
    const std::string& name = FParams[i]->Name();
    db::TField* master = source->DataSet()->FindField(name);
    if (master == nullptr) continue;
    MasterFields.push_back(master);
    if (db::TField* detail = FindField(name)) DetailFields.push_back(detail);
  }
}

void TVEXQuery::SetParamsFromMaster() {
  db::TDataSet* master = DataSource()->DataSet();
  if (master == nullptr) return;
  master->FieldDefs().Update();
  for (int32_t i = 0; i < FParams.Count(); ++i) {
    db::TParam& param = *FParams[i];
    if (param.Bound()) continue;
    db::TField* field = master->FieldByName(param.Name());
    param.AssignFieldValue(field, field->AsVariant());
    // Taken from the master again at the next run.
    param.SetBound(false);
    if (param.IsNull()) param.SetDataType(db::ftInteger);
  }
}

void TVEXQuery::RefreshParams() {
  DisableControls();
  {
    ScopeFailure enable([&] {
      try {
        EnableControls();
      } catch (const std::exception& e) {
        ReportReleaseFault(e);
      }
    });
    db::TDataSource* source = DataSource();
    db::TDataSet* master = source != nullptr ? source->DataSet() : nullptr;
    if (master != nullptr && master->Active() && master->State() != db::dsSetKey) {
      Close();
      Open();
    }
  }
  EnableControls();
}

// --- provider support -------------------------------------------------------------

std::string TVEXQuery::PSGetTableName() const { return db::GetTableNameFromSQL(FSQL.Text()); }

void TVEXQuery::PSSetCommandText(const std::string& CommandText) {
  if (!CommandText.empty()) FSQL.SetText(CommandText);
}

std::unique_ptr<db::TIndexDef> TVEXQuery::PSGetDefaultOrder() {
  return db::GetIndexForOrderBy(FSQL.Text(), this);
}

void TVEXQuery::PSSetParams(const db::TParams& AParams) {
  if (AParams.Count() != 0) FParams.Assign(AParams);
  Close();
}

// --- the dataset's statement execution for providers ------------------------------

int32_t TVEXDataSet::PSExecuteStatement(const std::string& ASQL, const db::TParams* AParams) {
  db::TDataSet* resultSet = nullptr;
  return PSExecuteStatement(ASQL, AParams, resultSet);
}

int32_t TVEXDataSet::PSExecuteStatement(const std::string& ASQL, const db::TParams* AParams,
                                        db::TDataSet*& ResultSet) {
  TVEXQuery query(nullptr);
  query.SetDatabaseName(FDatabaseName);
  query.SetSessionName(FSessionName);
  if (FInMemory) query.SetInMemory(true);
  query.SQL().SetText(ASQL);
  if (AParams != nullptr) query.Params().Assign(*AParams);
  ResultSet = &query;
  ScopeExit forget([&] { ResultSet = nullptr; });
  query.ExecSQL();
  return query.RowsAffected();
}

}  // namespace vex
