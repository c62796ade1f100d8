#include "db/DBCommon.h"

#include "rtl/Component.h"

namespace db {

namespace {
const char* const kFieldTypeNames[] = {
    "Unknown",    "String",     "SmallInt",      "Integer",     "Word",         "Boolean",
    "Float",      "Currency",   "BCD",           "Date",        "Time",         "DateTime",
    "Bytes",      "VarBytes",   "AutoInc",       "Blob",        "Memo",         "Graphic",
    "FmtMemo",    "ParadoxOle", "dBaseOle",      "TypedBinary", "Cursor",       "FixedChar",
    "WideString", "Largeint",   "ADT",           "Array",       "Reference",    "DataSet",
    "OraBlob",    "OraClob",    "Variant",       "Interface",   "IDispatch",    "Guid",
    "TimeStamp",  "FMTBcd",     "FixedWideChar", "WideMemo",    "OraTimeStamp", "OraInterval"};
static_assert(sizeof(kFieldTypeNames) / sizeof(kFieldTypeNames[0]) == ftOraInterval + 1);
}  // namespace

const char* FieldTypeName(TFieldType type) {
  return type <= ftOraInterval ? kFieldTypeNames[type] : "Unknown";
}

bool IsBlobFieldType(TFieldType type) {
  switch (type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
    case ftWideMemo:
      return true;
    default:
      return false;
  }
}

void DatabaseError(const std::string& message, const rtl::TComponent* component) {
  if (component != nullptr && !component->Name().empty())
    throw EDatabaseError(component->Name() + ": " + message);
  throw EDatabaseError(message);
}

std::string ExtractFieldName(std::string_view fields, size_t& pos) {
  size_t i = pos;
  while (i < fields.size() && fields[i] != ';') ++i;
  std::string_view name = fields.substr(pos, i - pos);
  // Trim blanks and control characters, as the platform's Trim does.
  while (!name.empty() && static_cast<unsigned char>(name.front()) <= ' ') name.remove_prefix(1);
  while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ') name.remove_suffix(1);
  if (i < fields.size()) ++i;
  pos = i;
  return std::string(name);
}

}  // namespace db
