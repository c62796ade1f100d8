#include "components/VEXDefConversions.h"

#include <memory>

#include "components/VEXEngineError.h"
#include "db/FieldDefs.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "rtl/Lists.h"
#include "rtl/NumberText.h"

namespace vex {
namespace {

// Key size of an index column whose size list has no entry for it.
constexpr int32_t kDefaultMaxIndexedSize = 20;

TVEXCompressionAlgorithm ToEngineCompressionAlgorithm(TCompressionAlgorithm Algorithm) {
  switch (Algorithm) {
    case caZLIB:
      return acaZLIB;
    case caBZIP:
      return acaBZIP;
    case caPPM:
      return acaPPM;
    default:
      return acaNone;
  }
}

// Without leading and trailing blanks and control characters.
std::string_view Trimmed(std::string_view Text) {
  while (!Text.empty() && static_cast<unsigned char>(Text.front()) <= ' ') Text.remove_prefix(1);
  while (!Text.empty() && static_cast<unsigned char>(Text.back()) <= ' ') Text.remove_suffix(1);
  return Text;
}

bool SameFieldList(std::string_view A, std::string_view B) {
  return rtl::UpperCase(Trimmed(A)) == rtl::UpperCase(Trimmed(B));
}

void SplitFieldList(std::string_view Text, rtl::TStringList& List) {
  std::string copy(Text);
  ParseFieldNamesToList(&List, copy);
}

std::string JoinFieldList(const std::vector<std::string>& Names) {
  std::string joined;
  for (size_t i = 0; i < Names.size(); ++i) {
    if (i > 0) joined += ';';
    joined += Names[i];
  }
  return joined;
}

// The first visible field that shows table field FieldNo; -1 when none.
int32_t VisibleFieldShowing(const TVEXFieldDefs& VisibleFieldDefs, int32_t FieldNo) {
  for (int32_t i = 0; i < VisibleFieldDefs.Count(); ++i) {
    if (VisibleFieldDefs.GetDef(i)->FieldNoReference == FieldNo) return i;
  }
  return -1;
}

}  // namespace

// ---- Fields ----------------------------------------------------------------

void FieldDefsToEngineFieldDefs(const db::TFieldDefs& FieldDefs, TVEXFieldDefs& EngineFieldDefs) {
  EngineFieldDefs.Clear();
  for (int32_t i = 0; i < FieldDefs.Count(); ++i) {
    const db::TFieldDef& source = *FieldDefs[i];
    auto def = std::make_unique<TVEXFieldDef>();
    def->Name = source.Name();
    def->SetFieldDefDataType(FieldTypeToAdvancedFieldType(source.DataType()), source.Size());
    EngineFieldDefs.InternalAdd(std::move(def));
  }
}

void AdvFieldDefsToFieldDefs(const TVEXAdvFieldDefs& AdvFieldDefs, db::TFieldDefs& FieldDefs) {
  FieldDefs.Clear();
  for (int32_t i = 0; i < AdvFieldDefs.Count(); ++i) {
    const TVEXAdvFieldDef& source = *AdvFieldDefs.GetDef(i);
    FieldDefs.Add(source.Name, AdvancedToFieldType(source.DataType), source.Size, source.Required);
  }
}

void FieldDefsToAdvFieldDefs(const db::TFieldDefs& FieldDefs, TVEXAdvFieldDefs& AdvFieldDefs) {
  AdvFieldDefs.Clear();
  for (int32_t i = 0; i < FieldDefs.Count(); ++i) {
    const db::TFieldDef& source = *FieldDefs[i];
    const TVEXAdvancedFieldType type = FieldTypeToAdvancedFieldType(source.DataType());
    AdvFieldDefs.Add(source.Name(), type, source.Size(), source.Required());
  }
}

void AdvFieldDefsToEngineDefs(const TVEXAdvFieldDefs& AdvFieldDefs, TVEXFieldDefs& FieldDefs,
                              const TVEXIndexDefs& IndexDefs, TVEXConstraintDefs& ConstraintDefs,
                              bool Temporary) {
  FieldDefs.Clear();
  ConstraintDefs.Clear();
  for (int32_t i = 0; i < AdvFieldDefs.Count(); ++i) {
    const TVEXAdvFieldDef& source = *AdvFieldDefs.GetDef(i);
    auto def = std::make_unique<TVEXFieldDef>();
    def->Name = source.Name;
    def->SetFieldDefDataType(source.DataType, source.Size);
    def->BLOBCompressionAlgorithm = ToEngineCompressionAlgorithm(source.BLOBCompressionAlgorithm);
    def->BLOBCompressionMode = source.BLOBCompressionMode;
    def->BLOBBlockSize = source.BLOBBlockSize > 0 ? source.BLOBBlockSize : 102400;
    def->AutoincIncrement = source.AutoincIncrement;
    def->AutoincInitialValue = source.AutoincInitialValue;
    def->AutoincMinValue = source.AutoincMinValue;
    def->AutoincMaxValue = source.AutoincMaxValue;
    def->AutoincCycled = source.AutoincCycled;
    // Only copied: the table prepares a default expression when it takes the
    // definitions over.
    def->DefaultValue.Assign(source.DefaultValue, true);
    const TVEXShortName columnName = def->Name;
    FieldDefs.InternalAdd(std::move(def));

    // A temporary table holds intermediate results, which are never checked.
    if (Temporary) continue;
    if (source.Required) ConstraintDefs.AddNotNull()->ColumnName = columnName;
    if (!source.MinValue.IsNull() || !source.MaxValue.IsNull()) {
      TVEXConstraintDefCheck* check = ConstraintDefs.AddCheck();
      check->ColumnName = columnName;
      check->MinValue.Assign(source.MinValue, true);
      check->MaxValue.Assign(source.MaxValue, true);
    }
  }
  for (int32_t i = 0; i < IndexDefs.Count(); ++i) {
    ConstraintDefFromIndexDef(*IndexDefs.GetIndexDef(i), ConstraintDefs);
  }
}

void EngineDefsToAdvFieldDefs(const TVEXFieldDefs& VisibleFieldDefs, const TVEXFieldDefs& FieldDefs,
                              const TVEXConstraintDefs& ConstraintDefs,
                              TVEXAdvFieldDefs& AdvFieldDefs) {
  AdvFieldDefs.Clear();
  for (int32_t i = 0; i < VisibleFieldDefs.Count(); ++i) {
    const TVEXFieldDef& source = *VisibleFieldDefs.GetDef(i);
    TVEXAdvFieldDef& def = *AdvFieldDefs.AddFieldDef();
    def.Name = source.Name.str();
    def.ObjectID = source.ObjectID;
    def.DataType = source.AdvancedFieldType;
    def.Size = source.AdvancedFieldType == aftGuid ? 0 : source.FieldSize;
    def.AutoincIncrement = source.AutoincIncrement;
    def.AutoincInitialValue = source.AutoincInitialValue;
    def.AutoincMinValue = source.AutoincMinValue;
    def.AutoincMaxValue = source.AutoincMaxValue;
    def.AutoincCycled = source.AutoincCycled;
    def.BLOBCompressionAlgorithm = ToComponentCompressionAlgorithm(source.BLOBCompressionAlgorithm);
    def.BLOBCompressionMode = source.BLOBCompressionMode;
    def.BLOBBlockSize = source.BLOBBlockSize;
    def.DefaultValue.Assign(source.DefaultValue, true);
  }
  for (int32_t i = 0; i < ConstraintDefs.Count(); ++i) {
    const TVEXConstraintDef& constraint = *ConstraintDefs.GetDef(i);
    switch (constraint.ConstraintType) {
      case ctPK:
      case ctUnique:
        break;
      case ctNotNull: {
        const auto& notNull = static_cast<const TVEXConstraintDefNotNull&>(constraint);
        const int32_t fieldNo = FieldDefs.GetDefNumberByObjectId(notNull.ColumnObjectID);
        if (fieldNo < 0) throw EVEXException(30032, "Field #%d not found", notNull.ColumnObjectID);
        const int32_t visible = VisibleFieldShowing(VisibleFieldDefs, fieldNo);
        if (visible >= 0) AdvFieldDefs.GetDef(visible)->Required = true;
        break;
      }
      case ctCheck: {
        const auto& check = static_cast<const TVEXConstraintDefCheck&>(constraint);
        const int32_t fieldNo = FieldDefs.GetDefNumberByObjectId(check.ColumnObjectID);
        if (fieldNo < 0) throw EVEXException(30031, "Field #%d not found", check.ColumnObjectID);
        const int32_t visible = VisibleFieldShowing(VisibleFieldDefs, fieldNo);
        if (visible >= 0) {
          TVEXAdvFieldDef& def = *AdvFieldDefs.GetDef(visible);
          def.MinValue.Assign(check.MinValue, true);
          def.MaxValue.Assign(check.MaxValue, true);
        }
        break;
      }
      default:
        throw EVEXException(30039, "Not implemented yet");
    }
  }
}

void EngineDefsToFieldDefs(const TVEXFieldDefs& VisibleFieldDefs,
                           const TVEXConstraintDefs& ConstraintDefs, db::TFieldDefs& FieldDefs) {
  FieldDefs.Clear();
  for (int32_t i = 0; i < VisibleFieldDefs.Count(); ++i) {
    const TVEXFieldDef& source = *VisibleFieldDefs.GetDef(i);
    const db::TFieldType type = AdvancedToFieldType(source.AdvancedFieldType);
    const bool sized = IsSizedAdvancedFieldType(source.AdvancedFieldType) && type != db::ftGuid;
    FieldDefs.Add(source.Name, type, sized ? source.FieldSize : 0, false);
  }
  for (int32_t i = 0; i < ConstraintDefs.Count(); ++i) {
    const TVEXConstraintDef& constraint = *ConstraintDefs.GetDef(i);
    if (constraint.ConstraintType != ctNotNull) continue;
    const auto& notNull = static_cast<const TVEXConstraintDefNotNull&>(constraint);
    const TVEXMetaObjectDef* visible = VisibleFieldDefs.GetDefByObjectId(notNull.ColumnObjectID);
    if (visible == nullptr) continue;
    db::TFieldDef* field = FieldDefs.FindDef(visible->Name);
    // An autoincrement field is filled by the engine, so the application need
    // not give it.
    if (field != nullptr && field->DataType() != db::ftAutoInc) field->SetRequired(true);
  }
}

// ---- Indexes ---------------------------------------------------------------

void ParseFieldNamesToList(rtl::TStringList* List, std::string& Text) {
  for (char& c : Text) {
    if (c == ',') c = ';';
  }
  if (List == nullptr) return;
  List->Clear();
  size_t pos = 0;
  while (pos < Text.size()) List->Add(db::ExtractFieldName(Text, pos));
}

void BuildEngineIndexDef(TVEXIndexDef& IndexDef, std::string_view Name, std::string_view Fields,
                         db::TIndexOptions Options, bool Temporary, std::string_view DescFields,
                         std::string_view CaseInsFields, std::string_view MaxIndexedSizes,
                         const db::TFieldDefs& FieldDefs) {
  if (Name.empty()) throw EVEXException(20048, "Invalid index name '%s'", Name);
  if (Fields.empty()) throw EVEXException(20049, "Cannot find index field '%s'", Fields);
  IndexDef.Name = Name;
  IndexDef.IndexType = itBTree;
  IndexDef.Unique = Options.Contains(db::ixUnique);
  IndexDef.Primary = Options.Contains(db::ixPrimary);
  IndexDef.Temporary = Temporary;

  // Names in the DESC and case lists match ignoring case (the lists' default).
  rtl::TStringList fieldList, descList, caseList, sizeList;
  SplitFieldList(Fields, fieldList);
  SplitFieldList(DescFields, descList);
  SplitFieldList(CaseInsFields, caseList);
  SplitFieldList(MaxIndexedSizes, sizeList);
  IndexDef.SetColumnCount(fieldList.Count());
  for (int32_t i = 0; i < fieldList.Count(); ++i) {
    const std::string& fieldName = fieldList[i];
    if (FieldDefs.IndexOf(fieldName) < 0) {
      throw EVEXException(20050, "Cannot find index field '%s'", fieldName);
    }
    TVEXIndexColumn& column = *IndexDef.GetIndexColumn(i);
    column.FieldName = fieldName;
    column.Descending = descList.Count() > 0 ? descList.IndexOf(fieldName) >= 0
                                             : Options.Contains(db::ixDescending);
    column.CaseInsensitive = caseList.Count() > 0 ? caseList.IndexOf(fieldName) >= 0
                                                  : Options.Contains(db::ixCaseInsensitive);
    column.MaxIndexedSize = i < sizeList.Count() && !sizeList[i].empty()
                                ? rtl::StrToInt(sizeList[i])
                                : kDefaultMaxIndexedSize;
  }
}

void AdvIndexDefToEngineIndexDef(const TVEXAdvIndexDef& AdvIndexDef, TVEXIndexDef& IndexDef,
                                 const db::TFieldDefs& FieldDefs) {
  BuildEngineIndexDef(IndexDef, AdvIndexDef.Name, AdvIndexDef.Fields, AdvIndexDef.Options,
                      AdvIndexDef.Temporary, AdvIndexDef.DescFields, AdvIndexDef.CaseInsFields,
                      AdvIndexDef.MaxIndexedSizes, FieldDefs);
}

void AdvIndexDefsToEngineIndexDefs(const TVEXAdvIndexDefs& AdvIndexDefs, TVEXIndexDefs& IndexDefs,
                                   const db::TFieldDefs& FieldDefs) {
  IndexDefs.Clear();
  for (int32_t i = 0; i < AdvIndexDefs.Count(); ++i) {
    auto def = std::make_unique<TVEXIndexDef>();
    AdvIndexDefToEngineIndexDef(*AdvIndexDefs.GetDef(i), *def, FieldDefs);
    IndexDefs.InternalAdd(std::move(def));
  }
}

void AdvIndexDefsToIndexDefs(const TVEXAdvIndexDefs& AdvIndexDefs, db::TIndexDefs& IndexDefs) {
  IndexDefs.Clear();
  for (int32_t i = 0; i < AdvIndexDefs.Count(); ++i) {
    const TVEXAdvIndexDef& source = *AdvIndexDefs.GetDef(i);
    db::TIndexOptions options = source.Options;
    if (SameFieldList(source.Fields, source.DescFields)) options.Include(db::ixDescending);
    if (SameFieldList(source.Fields, source.CaseInsFields)) options.Include(db::ixCaseInsensitive);
    db::TIndexDef* def = IndexDefs.Add(source.Name, source.Fields, options);
    def->SetDescFields(source.DescFields);
    def->SetCaseInsFields(source.CaseInsFields);
  }
}

void IndexDefsToAdvIndexDefs(const db::TIndexDefs& IndexDefs, TVEXAdvIndexDefs& AdvIndexDefs) {
  AdvIndexDefs.Clear();
  for (int32_t i = 0; i < IndexDefs.Count(); ++i) {
    const db::TIndexDef& source = *IndexDefs[i];
    AdvIndexDefs.Add(source.Name(), source.Fields(), source.Options(), false, source.DescFields(),
                     source.CaseInsFields(), "");
  }
}

void EngineIndexDefToAdvIndexDef(const TVEXIndexDef& IndexDef, TVEXAdvIndexDef& AdvIndexDef) {
  std::vector<std::string> fields, descFields, caseInsFields, sizes;
  for (int32_t i = 0; i < IndexDef.ColumnCount(); ++i) {
    const TVEXIndexColumn& column = *IndexDef.GetIndexColumn(i);
    fields.push_back(column.FieldName);
    if (column.Descending) descFields.push_back(column.FieldName);
    if (column.CaseInsensitive) caseInsFields.push_back(column.FieldName);
    sizes.push_back(rtl::IntToStr(column.MaxIndexedSize));
  }
  db::TIndexOptions options;
  if (IndexDef.Primary) options.Include(db::ixPrimary);
  if (IndexDef.Unique) options.Include(db::ixUnique);
  AdvIndexDef.Name = IndexDef.Name.str();
  AdvIndexDef.Fields = JoinFieldList(fields);
  AdvIndexDef.DescFields = JoinFieldList(descFields);
  AdvIndexDef.CaseInsFields = JoinFieldList(caseInsFields);
  AdvIndexDef.MaxIndexedSizes = JoinFieldList(sizes);
  AdvIndexDef.Options = options;
  AdvIndexDef.Temporary = IndexDef.Temporary;
}

void EngineIndexDefsToAdvIndexDefs(const TVEXIndexDefs& IndexDefs, TVEXAdvIndexDefs& AdvIndexDefs) {
  AdvIndexDefs.Clear();
  for (int32_t i = 0; i < IndexDefs.Count(); ++i) {
    EngineIndexDefToAdvIndexDef(*IndexDefs.GetIndexDef(i), *AdvIndexDefs.AddIndexDef());
  }
}

// ---- Helpers ---------------------------------------------------------------

bool FieldDefExists(const db::TFieldDefs& FieldDefs, std::string_view Name) {
  const std::string wanted = rtl::AnsiUpperCase(Name);
  for (int32_t i = 0; i < FieldDefs.Count(); ++i) {
    if (rtl::AnsiUpperCase(FieldDefs[i]->Name()) == wanted) return true;
  }
  return false;
}

TCompressionAlgorithm ToComponentCompressionAlgorithm(TVEXCompressionAlgorithm Algorithm) {
  switch (Algorithm) {
    case acaZLIB:
      return caZLIB;
    case acaBZIP:
      return caBZIP;
    case acaPPM:
      return caPPM;
    default:
      return caNone;
  }
}

void RaiseEngineError(int32_t ErrorCode, std::string_view ErrorMessage) {
  throw EVEXEngineError(ErrorCode, ErrorMessage);
}

void CheckEngineError(int32_t ErrorCode, std::string_view ErrorMessage) {
  if (ErrorCode != 0) RaiseEngineError(ErrorCode, ErrorMessage);
}

}  // namespace vex
