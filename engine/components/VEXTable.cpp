// The table component's structure work (see VEXTable.h for the design notes).
#include "components/VEXTable.h"

#include <algorithm>

#include "components/VEXDatabase.h"
#include "components/VEXDefConversions.h"
#include "db/FieldDefs.h"
#include "db/Params.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "storage/VEXBaseSession.h"
#include "storage/VEXSeams.h"
#include "storage/VEXTableData.h"
#include "storage/disk/VEXTableLocks.h"

namespace vex {

namespace {

constexpr int32_t kGuidSize = 38;
constexpr int32_t kDefaultIndexedSize = 20;

bool IsDefaultExpression(const TVEXVariant& Value) {
  TVEXExpressionParser* parser = ExpressionParser();
  return parser != nullptr && parser->IsDefaultValueExpression(Value);
}

// A bound: null stays a typed null, empty text becomes null, the rest is cast.
void PrepareBound(TVEXVariant& Value, TVEXBaseFieldType BaseType) {
  if (!Value.IsNull() && Value.AsAnsiString().empty()) {
    Value.Clear(BaseType);
    return;
  }
  Value.Cast(BaseType);
}

}  // namespace

std::unique_ptr<TVEXLocalCursor> NewTableCursor(TVEXBaseSession& Session,
                                                const TVEXTableCursorOptions& Options) {
  auto cursor = std::make_unique<TVEXLocalCursor>();
  cursor->SetSession(&Session);
  cursor->SetTableName(Options.TableName);
  cursor->SetExclusive(Options.Exclusive);
  cursor->SetReadOnly(Options.ReadOnly);
  cursor->SetInMemory(Options.InMemory);
  cursor->SetTemporary(Options.Temporary);
  cursor->SetDisableTempFiles(Options.DisableTempFiles);
  cursor->SetIsDesignMode(Options.DesignMode);
  cursor->SetIsRepairing(Options.IsRepairing);
  return cursor;
}

void CheckNotInTransaction(const TVEXBaseSession& Session, int32_t ErrorCode,
                           std::string_view Operation) {
  if (Session.InTransaction())
    throw EVEXException(ErrorCode, "Cannot perform '%s' operation on a database in transaction",
                        std::string(Operation));
}

void PrepareAdvFieldDefs(TVEXAdvFieldDefs& AdvFieldDefs) {
  for (int32_t i = 0; i < AdvFieldDefs.Count(); ++i) {
    TVEXAdvFieldDef& def = *AdvFieldDefs.GetDef(i);
    const TVEXBaseFieldType baseType = AdvancedToBaseFieldType(def.DataType);
    if (!def.DefaultValue.IsNull() && def.DefaultValue.AsAnsiString().empty()) {
      def.DefaultValue.Clear(baseType);
    } else if (!IsDefaultExpression(def.DefaultValue) && !IsBLOBBaseFieldType(baseType)) {
      // A BLOB default stays text: values have no BLOB form to cast it to, and
      // a new record writes it into the field through a BLOB stream.
      def.DefaultValue.Cast(baseType);
    }
    PrepareBound(def.MinValue, baseType);
    PrepareBound(def.MaxValue, baseType);
    if (!IsStringBaseFieldType(baseType) && baseType != bftBytes && baseType != bftVarBytes)
      def.Size = 0;
    if (def.DataType == aftGuid) def.Size = kGuidSize;
  }
}

void CheckAdvFieldDefs(const TVEXAdvFieldDefs& AdvFieldDefs, std::string_view TableName) {
  const std::string table(TableName);
  for (int32_t i = 0; i < AdvFieldDefs.Count(); ++i) {
    const TVEXAdvFieldDef& def = *AdvFieldDefs.GetDef(i);
    if (def.Name.empty())
      throw EVEXException(30499, "Missing field name. FieldNo=%d, table '%s'", i, table);
    if ((IsStringAdvancedFieldType(def.DataType) || IsBytesAdvancedFieldType(def.DataType)) &&
        def.Size <= 0)
      throw EVEXException(30453, "Cannot create table '%s' with field: %s %s(%d)", table, def.Name,
                          BaseFieldTypeToSQLName(AdvancedToBaseFieldType(def.DataType)), def.Size);
    if (IsBLOBAdvancedFieldType(def.DataType) && def.BLOBCompressionAlgorithm != caNone &&
        (def.BLOBCompressionMode == 0 || def.BLOBCompressionMode > 9))
      throw EVEXException(20257,
                          "Invalid BlobCompressionMode (must be in 1..9 range) for blob field "
                          "'%s'. Cannot create table '%s'",
                          def.Name, table);
  }
}

void NormalizeIndexColumnSizes(TVEXAdvIndexDefs& AdvIndexDefs, const TVEXAdvFieldDefs& AdvFieldDefs,
                               const db::TFieldDefs& FieldDefs) {
  for (int32_t i = 0; i < AdvIndexDefs.Count(); ++i) {
    TVEXAdvIndexDef& advIndex = *AdvIndexDefs.GetDef(i);
    TVEXIndexDef engineIndex;
    AdvIndexDefToEngineIndexDef(advIndex, engineIndex, FieldDefs);
    bool changed = false;
    for (int32_t c = 0; c < engineIndex.ColumnCount(); ++c) {
      TVEXIndexColumn& column = *engineIndex.GetIndexColumn(c);
      const TVEXAdvFieldDef* field = AdvFieldDefs.Find(column.FieldName);
      const bool keep = column.MaxIndexedSize > 0 &&
                        (field == nullptr || IsSizedAdvancedFieldType(field->DataType));
      if (!keep && column.MaxIndexedSize != kDefaultIndexedSize) {
        column.MaxIndexedSize = kDefaultIndexedSize;
        changed = true;
      }
    }
    if (changed) EngineIndexDefToAdvIndexDef(engineIndex, advIndex);
  }
}

void CreateTableFromDefs(TVEXBaseSession& Session, const TVEXTableCursorOptions& Options,
                         TVEXAdvFieldDefs& AdvFieldDefs, TVEXAdvIndexDefs& AdvIndexDefs,
                         db::TFieldDefs& FieldDefs, db::TIndexDefs& IndexDefs) {
  TVEXTableCursorOptions options = Options;
  options.ReadOnly = false;
  options.Exclusive = true;
  std::unique_ptr<TVEXLocalCursor> cursor = NewTableCursor(Session, options);

  if (AdvFieldDefs.Count() == 0) {
    for (int32_t i = 0; i < FieldDefs.Count(); ++i)
      if (FieldDefs[i]->DataType() == db::ftGuid) FieldDefs[i]->SetSize(kGuidSize);
    FieldDefsToAdvFieldDefs(FieldDefs, AdvFieldDefs);
    CheckAdvFieldDefs(AdvFieldDefs, Options.TableName);
  } else {
    PrepareAdvFieldDefs(AdvFieldDefs);
    CheckAdvFieldDefs(AdvFieldDefs, Options.TableName);
    AdvFieldDefsToFieldDefs(AdvFieldDefs, FieldDefs);
  }

  if (AdvIndexDefs.Count() == 0) {
    IndexDefsToAdvIndexDefs(IndexDefs, AdvIndexDefs);
  } else {
    AdvIndexDefsToIndexDefs(AdvIndexDefs, IndexDefs);
  }
  NormalizeIndexColumnSizes(AdvIndexDefs, AdvFieldDefs, FieldDefs);

  TVEXIndexDefs engineIndexDefs;
  AdvIndexDefsToEngineIndexDefs(AdvIndexDefs, engineIndexDefs, FieldDefs);
  TVEXFieldDefs engineFieldDefs;
  TVEXConstraintDefs engineConstraintDefs;
  AdvFieldDefsToEngineDefs(AdvFieldDefs, engineFieldDefs, engineIndexDefs, engineConstraintDefs,
                           Options.Temporary);

  CheckNotInTransaction(Session, 20182, "CreateTable");
  cursor->CreateTable(engineFieldDefs, engineIndexDefs, engineConstraintDefs);
}

// ---- the table component -------------------------------------------------------

namespace {

constexpr char kTempDatabaseName[] = "TEMP";

std::string Trimmed(const std::string& Text) {
  const size_t first = Text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return Text.substr(first, Text.find_last_not_of(' ') - first + 1);
}

}  // namespace

// A database flag held for one operation, released on every way out.
class TVEXTable::TDBFlagScope {
 public:
  TDBFlagScope(TVEXTable& Table, int32_t Flag) : FTable(Table), FFlag(Flag) {
    FTable.SetDBFlag(Flag, true);
  }
  ~TDBFlagScope() {
    try {
      FTable.SetDBFlag(FFlag, false);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  }
  TDBFlagScope(const TDBFlagScope&) = delete;
  TDBFlagScope& operator=(const TDBFlagScope&) = delete;

 private:
  TVEXTable& FTable;
  int32_t FFlag;
};

TVEXTable::TVEXTable(rtl::TComponent* AOwner)
    : TVEXDataSet(AOwner), FMasterLink(std::make_unique<db::TMasterDataLink>(this)) {
  FMasterLink->OnMasterChange = [this](db::TMasterDataLink&) { MasterChanged(); };
  FMasterLink->OnMasterDisable = [this](db::TMasterDataLink&) { MasterDisabled(); };
}

TVEXTable::~TVEXTable() {
  // Closed while the overrides still exist; the link goes before the dataset.
  Destroying();
  try {
    Close();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
  FMasterLink.reset();
}

void TVEXTable::SetTableName(const std::string& Value) {
  if (ComponentState().Contains(rtl::csLoading)) {
    FTableName = Value;
    return;
  }
  if (Value == FTableName) return;
  CheckInactive();
  FTableName = Value;
  DataEvent(db::dePropertyChange, 0);
}

void TVEXTable::SetTemporary(bool Value) {
  CheckInactive();
  FTemporary = Value;
  if (Value) FDatabaseName = kTempDatabaseName;
}

std::string TVEXTable::IndexName() const { return FFieldsIndex ? std::string() : FIndexName; }
std::string TVEXTable::IndexFieldNames() const { return FFieldsIndex ? FIndexName : std::string(); }
void TVEXTable::SetIndexName(const std::string& Value) { SetIndex(Value, false); }
void TVEXTable::SetIndexFieldNames(const std::string& Value) { SetIndex(Value, !Value.empty()); }

bool TVEXTable::Exists() {
  if (FDatabaseName.empty()) return false;
  try {
    if (FDatabase != nullptr) return FDatabase->TableExists(FTableName);
    TVEXDatabase& database = OpenDatabase();
    ScopeExit giveBack([&] { CloseDatabase(&database); });
    return database.TableExists(FTableName);
  } catch (const std::exception&) {
    return false;
  }
}

void TVEXTable::DataEvent(db::TDataEvent Event, intptr_t Info) {
  if (Event == db::dePropertyChange) IndexDefs().SetUpdated(false);
  TVEXDataSet::DataEvent(Event, Info);
}

void TVEXTable::DefChanged(void*) { FStoreDefs = true; }

void TVEXTable::CheckTableName() const {
  if (Trimmed(FTableName).empty()) db::DatabaseError("Missing TableName property", this);
}

TVEXBaseSession& TVEXTable::EngineSession() {
  if (FDatabase == nullptr || FDatabase->Handle() == nullptr)
    throw EVEXException(20151, "Pointer is nil");
  return *FDatabase->Handle();
}

TVEXTableCursorOptions TVEXTable::CursorOptions() const {
  TVEXTableCursorOptions options;
  options.TableName = FTableName;
  options.Exclusive = FExclusive;
  options.ReadOnly = FReadOnly || (FDatabase != nullptr && FDatabase->ReadOnly());
  options.InMemory = FInMemory;
  options.Temporary = FTemporary;
  if (FInMemory)
    options.DisableTempFiles = true;
  else if (FDatabase != nullptr && FDatabase->Temporary())
    options.DisableTempFiles = FDisableTempFiles;
  else
    options.DisableTempFiles = FDatabase != nullptr && FDatabase->DisableTempFiles();
  options.DesignMode = IgnoreDesignMode() ? false : DesignMode();
  options.IsRepairing = FIsRepairing;
  return options;
}

void TVEXTable::AddFieldDefsOfFields() {
  for (int32_t i = 0; i < Fields().Count(); ++i) {
    db::TField* field = Fields()[i];
    if (field->FieldKind() != db::fkData) continue;
    if (FieldDefExists(FieldDefs(), field->FieldName())) continue;
    db::TFieldDef* def = FieldDefs().AddFieldDef();
    def->SetName(field->FieldName());
    def->SetDataType(field->DataType());
    def->SetSize(field->Size());
    def->SetRequired(field->Required());
  }
}

std::unique_ptr<TVEXLocalCursor> TVEXTable::OpenLocalCursor() {
  std::unique_ptr<TVEXLocalCursor> cursor = NewTableCursor(EngineSession(), CursorOptions());
  AddFieldDefsOfFields();
  if (FTemporary || FInMemory) {
    if (FieldDefs().Count() == 0) {
      AdvFieldDefsToFieldDefs(AdvFieldDefs(), FieldDefs());
    } else {
      VEXFieldDefs().Clear();
      FieldDefsToEngineFieldDefs(FieldDefs(), VEXFieldDefs());
    }
    if (IndexDefs().Count() > 0) {
      VEXIndexDefs().Clear();
      IndexDefsToAdvIndexDefs(IndexDefs(), AdvIndexDefs());
      AdvIndexDefsToEngineIndexDefs(AdvIndexDefs(), VEXIndexDefs(), FieldDefs());
    }
  }
  cursor->OpenTableByFieldDefs(VEXFieldDefs(), VEXIndexDefs(), VEXConstraintDefs());
  FReadOnly = cursor->ReadOnly();
  return cursor;
}

TVEXCursor* TVEXTable::CreateHandle() {
  CheckTableName();
  IndexDefs().SetUpdated(false);
  TVEXCursor* cursor = FExternalHandle;
  if (cursor == nullptr) cursor = OpenLocalCursor().release();
  FHandle = cursor;
  ScopeFailure drop([&] {
    FHandle = nullptr;
    if (cursor != FExternalHandle) delete cursor;
  });
  IndexDefs().Update();
  const std::string name = ResolveIndexName(FIndexName, FFieldsIndex);
  if (!name.empty()) cursor->SetIndexName(name);
  return cursor;
}

std::string TVEXTable::ResolveIndexName(const std::string& Text, bool ByFields) {
  if (Text.empty()) return {};
  IndexDefs().Update();
  if (!ByFields) return Text;
  return IndexDefs().FindIndexForFields(Text)->Name();
}

void TVEXTable::SetIndex(const std::string& Text, bool ByFields) {
  if (Active()) CheckBrowseMode();
  if (Text != FIndexName || ByFields != FFieldsIndex) {
    if (Active()) {
      SwitchToIndex(ResolveIndexName(Text, ByFields));
      ApplyMasterRange();
    }
    FIndexName = Text;
    FFieldsIndex = ByFields;
    if (Active()) Resync(db::TResyncMode{});
  }
}

void TVEXTable::InitFieldDefs() {
  if (FHandle != nullptr) {
    InternalInitFieldDefs();
    return;
  }
  TDBFlagScope flag(*this, dbfFieldDefs);
  CheckTableName();
  std::unique_ptr<TVEXLocalCursor> cursor = OpenLocalCursor();
  cursor->InternalInitFieldDefs();
  VEXFieldDefs().Assign(cursor->VisibleFieldDefs());
  EngineDefsToFieldDefs(cursor->VisibleFieldDefs(), cursor->ConstraintDefs(), FieldDefs());
  EngineDefsToAdvFieldDefs(cursor->VisibleFieldDefs(), cursor->FieldDefs(),
                           cursor->ConstraintDefs(), AdvFieldDefs());
  RestructureFieldDefs().Assign(AdvFieldDefs());
}

void TVEXTable::UpdateIndexDefs() {
  if (IndexDefs().Updated()) return;
  TDBFlagScope flag(*this, dbfIndexDefs);
  FieldDefs().Update();
  std::unique_ptr<TVEXLocalCursor> own;
  TVEXCursor* cursor = FHandle;
  if (cursor == nullptr) {
    own = OpenLocalCursor();
    cursor = own.get();
  }
  EngineIndexDefsToAdvIndexDefs(cursor->GetIndexDefs(), AdvIndexDefs());
  AdvIndexDefsToIndexDefs(AdvIndexDefs(), IndexDefs());
  RestructureIndexDefs().Assign(AdvIndexDefs(), false);
  IndexDefs().SetUpdated(true);
}

db::TField* TVEXTable::GetIndexField(int32_t Index) {
  if (Index < 0 || Index >= FIndexFieldCount) db::DatabaseError("Field index out of range", this);
  const int32_t fieldNo = FIndexFieldMap[static_cast<size_t>(Index)];
  for (int32_t i = 0; i < Fields().Count(); ++i)
    if (Fields()[i]->FieldNo() == fieldNo) return Fields()[i];
  const std::string name = FHandle != nullptr
                               ? std::string(FHandle->FieldDefs().GetDef(fieldNo - 1)->Name.str())
                               : std::string();
  db::DatabaseError(rtl::Format("Cannot access index field '%s'", name), this);
}

void TVEXTable::SetIndexField(int32_t Index, db::TField* Value) {
  GetIndexField(Index)->Assign(Value);
}

// ---- structure operations ------------------------------------------------------

void TVEXTable::CreateTable() {
  CheckInactive();
  CheckTableName();
  TDBFlagScope flag(*this, dbfTable);
  AddFieldDefsOfFields();
  CreateTableFromDefs(EngineSession(), CursorOptions(), AdvFieldDefs(), AdvIndexDefs(), FieldDefs(),
                      IndexDefs());
}

void TVEXTable::DeleteTable() {
  if (Active()) Close();
  CheckTableName();
  TDBFlagScope flag(*this, dbfTable);
  TVEXTableCursorOptions options = CursorOptions();
  options.Exclusive = true;
  options.ReadOnly = false;
  std::unique_ptr<TVEXLocalCursor> cursor = NewTableCursor(EngineSession(), options);
  CheckNotInTransaction(EngineSession(), 20183, "DeleteTable");
  cursor->DeleteTable();
}

void TVEXTable::EmptyTable() {
  CheckInactive();
  TDBFlagScope flag(*this, dbfTable);
  TVEXTableCursorOptions options = CursorOptions();
  options.Exclusive = true;
  options.ReadOnly = false;
  NewTableCursor(EngineSession(), options)->EmptyTable();
}

void TVEXTable::RenameTable(const std::string& NewTableName) {
  CheckInactive();
  CheckTableName();
  TDBFlagScope flag(*this, dbfTable);
  TVEXTableCursorOptions options = CursorOptions();
  options.Exclusive = true;
  options.ReadOnly = false;
  std::unique_ptr<TVEXLocalCursor> cursor = NewTableCursor(EngineSession(), options);
  CheckNotInTransaction(EngineSession(), 20181, "RenameTable");
  cursor->RenameTable(NewTableName);
  FTableName = NewTableName;
}

void TVEXTable::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  CheckInactive();
  const bool exclusive = FExclusive;
  FExclusive = true;
  ScopeExit restore([&] { FExclusive = exclusive; });
  Open();
  ScopeExit close([&] { Close(); });
  CheckNotInTransaction(EngineSession(), 20179, "RenameField");
  FHandle->RenameField(FieldName, NewFieldName);
}

TVEXCursor* TVEXTable::BrowsingOrOwnCursor(std::unique_ptr<TVEXLocalCursor>& Own) {
  if (FHandle != nullptr) {
    CheckBrowseMode();
    return FHandle;
  }
  Own = OpenLocalCursor();
  return Own.get();
}

void TVEXTable::AddIndex(const std::string& Name, const std::string& Fields,
                         db::TIndexOptions Options, const std::string& DescFields,
                         const std::string& CaseInsFields) {
  FieldDefs().Update();
  TDBFlagScope flag(*this, dbfIndexDefs);
  std::unique_ptr<TVEXLocalCursor> own;
  TVEXCursor* cursor = BrowsingOrOwnCursor(own);
  if (own == nullptr) CursorPosChanged();
  if (Name.empty()) throw EVEXException(20046, "Invalid index name '%s'", Name);
  if (Fields.empty()) throw EVEXException(20047, "Cannot find index field '%s'", Fields);
  CheckNotInTransaction(EngineSession(), 20175, "AddIndex");
  TVEXIndexDef def;
  BuildEngineIndexDef(def, Name, Fields, Options, false, DescFields, CaseInsFields, "",
                      FieldDefs());
  cursor->InternalInitFieldDefs();
  if (!cursor->LockTable(ltX, 50, 100, true))
    throw EVEXException(20228,
                        "Cannot access table '%s' in exclusive mode. Table is open by another user",
                        FTableName);
  {
    ScopeExit unlock([&] {
      try {
        cursor->UnlockTable(ltX, true);
      } catch (const std::exception& e) {
        ReportReleaseFault(e);
      }
    });
    cursor->AddIndex(def);
  }
  IndexDefs().SetUpdated(false);
}

void TVEXTable::DeleteIndex(const std::string& Name) {
  TDBFlagScope flag(*this, dbfIndexDefs);
  std::unique_ptr<TVEXLocalCursor> own;
  TVEXCursor* cursor = BrowsingOrOwnCursor(own);
  CheckNotInTransaction(EngineSession(), 20177, "DeleteIndex");
  cursor->InternalInitFieldDefs();
  cursor->DeleteIndex(Name);
  IndexDefs().SetUpdated(false);
}

void TVEXTable::DeleteAllIndexes() {
  TDBFlagScope flag(*this, dbfIndexDefs);
  std::unique_ptr<TVEXLocalCursor> own;
  TVEXCursor* cursor = BrowsingOrOwnCursor(own);
  CheckNotInTransaction(EngineSession(), 20178, "DeleteAllIndexes");
  cursor->InternalInitFieldDefs();
  cursor->DeleteAllIndexes();
  IndexDefs().SetUpdated(false);
}

void TVEXTable::RepairTable() {
  TDBFlagScope flag(*this, dbfRepair);
  FIsRepairing = true;
  ScopeExit reset([&] { FIsRepairing = false; });
  OpenLocalCursor();
}

std::string TVEXTable::FindOrCreateIndex(const rtl::TStringList& FieldNamesList,
                                         const rtl::TStringList& AscDescList,
                                         const rtl::TStringList& CaseSensitivityList,
                                         bool& IsCreated) {
  if (FHandle == nullptr) RaiseNilPointer(10311);
  return FHandle->FindOrCreateIndex(FieldNamesList, AscDescList, CaseSensitivityList, IsCreated);
}

bool TVEXTable::IndexExists(const rtl::TStringList& FieldNamesList,
                            const rtl::TStringList& AscDescList,
                            const rtl::TStringList& CaseSensitivityList) {
  if (FHandle == nullptr) RaiseNilPointer(10514);
  return FHandle->IndexExists(FieldNamesList, AscDescList, CaseSensitivityList);
}

void TVEXTable::ApplyDistinct(const rtl::TStringList& FieldNamesList,
                              const rtl::TStringList& AscDescList,
                              const rtl::TStringList& CaseSensitivityList) {
  if (FHandle == nullptr) RaiseNilPointer(10319);
  FHandle->ApplyDistinct(FieldNamesList, AscDescList, CaseSensitivityList);
  SetIndexName(FHandle->IndexName());
}

void TVEXTable::ApplyDistinct(TVEXDataSet& ds) {
  if (FHandle == nullptr || ds.Handle() == nullptr) RaiseNilPointer(10319);
  SetIndexName(ds.Handle()->IndexName());
  FHandle->DistinctFieldCount = ds.Handle()->DistinctFieldCount;
  FHandle->DisableRecordBitmap();
}

bool TVEXTable::IsRecordLocked() { return FHandle != nullptr && FHandle->IsRecordLocked(); }

int64_t TVEXTable::LastAutoincValue(int32_t FieldIndex) {
  if (FHandle == nullptr) RaiseNilPointer(10311);
  return FHandle->LastAutoincValue(FieldIndex);
}

int64_t TVEXTable::LastAutoincValue(const std::string& FieldName) {
  return LastAutoincValue(FieldByName(FieldName)->Index());
}

// ---- new records -------------------------------------------------------------

void TVEXTable::DoOnNewRecord() {
  if (FMasterLink->Active() && !FMasterLink->Fields().empty()) {
    const std::vector<db::TField*>& master = FMasterLink->Fields();
    for (size_t i = 0; i < master.size(); ++i)
      GetIndexField(static_cast<int32_t>(i))->Assign(master[i]);
  }
  TVEXDataSet::DoOnNewRecord();
  WriteBLOBDefaults();
}

void TVEXTable::WriteBLOBDefaults() {
  if (FHandle == nullptr) return;
  const TVEXFieldDefs& defs = FHandle->FieldDefs();
  for (int32_t i = 0; i < defs.Count(); ++i) {
    TVEXFieldDef& def = *defs.GetDef(i);
    if ((def.BaseFieldType != bftBlob && def.BaseFieldType != bftClob) || def.DefaultValue.IsNull())
      continue;
    std::string text;
    bool evaluated = false;
    if (def.DefaultValueExpr != nullptr) {
      try {
        if (TVEXVariant* value = def.DefaultValueExpr->GetValue(false)) {
          text = value->AsAnsiString();
          evaluated = true;
        }
      } catch (const std::exception&) {
        evaluated = false;
      }
    }
    if (!evaluated) text = def.DefaultValue.AsAnsiString();
    db::TField* field = i < Fields().Count() ? Fields()[i] : nullptr;
    if (field == nullptr) continue;
    std::unique_ptr<rtl::TStream> stream = CreateBlobStream(field, db::bmWrite);
    if (stream != nullptr && !text.empty())
      stream->Write(text.data(), static_cast<int32_t>(text.size()));
  }
}

// ---- provider support ------------------------------------------------------------

void TVEXTable::PSSetCommandText(const std::string& Text) {
  if (!Text.empty()) SetTableName(Text);
}

namespace {

// Whether every field of a ";"-separated list has a field object (any list
// when the dataset has none).
bool FieldsHaveObjects(db::TDataSet& DataSet, const std::string& List) {
  if (DataSet.FieldCount() == 0) return true;
  size_t start = 0;
  while (start <= List.size()) {
    const size_t end = std::min(List.find(';', start), List.size());
    const std::string name = Trimmed(List.substr(start, end - start));
    if (!name.empty() && DataSet.FindField(name) == nullptr) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::string TVEXTable::PSGetKeyFields() {
  if (!Exists()) return {};
  IndexDefs().Update();
  for (int32_t i = 0; i < IndexDefs().Count(); ++i) {
    const db::TIndexDef& def = *IndexDefs()[i];
    if ((def.Options().Contains(db::ixPrimary) || def.Options().Contains(db::ixUnique)) &&
        FieldsHaveObjects(*this, def.Fields()))
      return def.Fields();
  }
  std::string all;
  for (int32_t i = 0; i < Fields().Count(); ++i) {
    if (!all.empty()) all += ";";
    all += Fields()[i]->FieldName();
  }
  return all;
}

std::unique_ptr<db::TIndexDef> TVEXTable::PSGetDefaultOrder() {
  IndexDefs().Update();
  const db::TIndexDef* chosen = nullptr;
  try {
    if (!FIndexName.empty()) {
      const db::TIndexDef* def =
          FFieldsIndex ? IndexDefs().FindIndexForFields(FIndexName) : IndexDefs().Find(FIndexName);
      if (def != nullptr && FieldsHaveObjects(*this, def->Fields())) chosen = def;
    }
  } catch (const std::exception&) {
    chosen = nullptr;
  }
  for (db::TIndexOption kind : {db::ixPrimary, db::ixUnique}) {
    for (int32_t i = 0; chosen == nullptr && i < IndexDefs().Count(); ++i) {
      const db::TIndexDef* def = IndexDefs()[i];
      if (def->Options().Contains(kind) && FieldsHaveObjects(*this, def->Fields())) chosen = def;
    }
  }
  if (chosen == nullptr) return nullptr;
  auto copy = std::make_unique<db::TIndexDef>();
  copy->Assign(*chosen);
  return copy;
}

void TVEXTable::PSSetParams(const db::TParams& Params) {
  if (Params.Count() > 0) {
    Open();
    const auto assign = [&] {
      for (int32_t i = 0; i < Params.Count(); ++i) {
        const db::TParam& param = *Params[i];
        db::TField* field = param.Name().empty() ? GetIndexField(i) : FieldByName(param.Name());
        field->SetAsVariant(param.Value());
      }
    };
    SetRangeStart();
    assign();
    SetRangeEnd();
    assign();
    ApplyRange();
  } else if (Active()) {
    CancelRange();
  }
  PSReset();
}

}  // namespace vex
