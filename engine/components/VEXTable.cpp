// The table component's structure work (see VEXTable.h for the design notes).
#include "components/VEXTable.h"

#include "components/VEXDefConversions.h"
#include "db/FieldDefs.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "storage/VEXBaseSession.h"
#include "storage/VEXSeams.h"

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
    } else if (!IsDefaultExpression(def.DefaultValue)) {
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

}  // namespace vex
