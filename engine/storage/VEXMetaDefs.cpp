#include "storage/VEXMetaDefs.h"

#include "foundation/VEXConst.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "rtl/Exception.h"
#include "rtl/Lists.h"

namespace vex {

namespace metastream {

void WriteU8(TVEXStream& Stream, uint8_t Value, int32_t Code) {
  WriteStreamChecked(&Value, 1, Stream, Code);
}

uint8_t ReadU8(TVEXStream& Stream, int32_t Code) {
  uint8_t value = 0;
  ReadStreamChecked(&value, 1, Stream, Code);
  return value;
}

void WriteI32(TVEXStream& Stream, int32_t Value, int32_t Code) {
  const auto u = static_cast<uint32_t>(Value);
  const uint8_t bytes[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8),
                            static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 24)};
  WriteStreamChecked(bytes, 4, Stream, Code);
}

int32_t ReadI32(TVEXStream& Stream, int32_t Code) {
  uint8_t bytes[4];
  ReadStreamChecked(bytes, 4, Stream, Code);
  uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | bytes[i];
  return static_cast<int32_t>(u);
}

void WriteI64(TVEXStream& Stream, int64_t Value, int32_t Code) {
  auto u = static_cast<uint64_t>(Value);
  uint8_t bytes[8];
  for (uint8_t& b : bytes) {
    b = static_cast<uint8_t>(u);
    u >>= 8;
  }
  WriteStreamChecked(bytes, 8, Stream, Code);
}

int64_t ReadI64(TVEXStream& Stream, int32_t Code) {
  uint8_t bytes[8];
  ReadStreamChecked(bytes, 8, Stream, Code);
  uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | bytes[i];
  return static_cast<int64_t>(u);
}

void CheckCount(TVEXStream& Stream, int64_t Count, int64_t MinItemSize, int32_t Code) {
  const int64_t position = Stream.Position();
  const int64_t size = Stream.Size();
  const int64_t left = size > position ? size - position : 0;
  if (Count < 0 || (MinItemSize > 0 && Count > left / MinItemSize)) {
    throw EVEXException(Code, "Invalid item count in stream: %d. Position = %d, Stream size = %d",
                        Count, position, size);
  }
}

}  // namespace metastream

using namespace metastream;

namespace {

[[noreturn]] void RaiseInvalidCast() { throw rtl::EInvalidOperation(sInvalidClassTypecast); }

template <class T>
const T& SourceAs(const TVEXMetaObjectDef& Source) {
  const auto* typed = dynamic_cast<const T*>(&Source);
  if (typed == nullptr) RaiseInvalidCast();
  return *typed;
}

bool ReadBool(TVEXStream& Stream, int32_t Code) { return ReadU8(Stream, Code) != 0; }
void WriteBool(TVEXStream& Stream, bool Value, int32_t Code) {
  WriteU8(Stream, Value ? 1 : 0, Code);
}

void WriteBytes(TVEXStream& Stream, std::string_view Bytes, int32_t Code) {
  if (!Bytes.empty()) {
    WriteStreamChecked(Bytes.data(), static_cast<int32_t>(Bytes.size()), Stream, Code);
  }
}

std::string ReadBytes(TVEXStream& Stream, int32_t Count, int32_t Code) {
  std::string bytes(static_cast<size_t>(Count), '\0');
  if (Count > 0) ReadStreamChecked(bytes.data(), Count, Stream, Code);
  return bytes;
}

// A name as its length byte and its characters. Longer text cannot be counted
// by the byte; it is refused rather than written with a wrapped length.
void WriteByteCountedName(TVEXStream& Stream, std::string_view Name, int32_t LengthCode,
                          int32_t TextCode) {
  if (Name.size() > TVEXShortName::MaxLength) {
    throw EVEXException(LengthCode, sNameTooLong, Name.size());
  }
  WriteU8(Stream, static_cast<uint8_t>(Name.size()), LengthCode);
  WriteBytes(Stream, Name, TextCode);
}

std::string ReadByteCountedName(TVEXStream& Stream, int32_t LengthCode, int32_t TextCode) {
  const uint8_t n = ReadU8(Stream, LengthCode);
  return ReadBytes(Stream, n, TextCode);
}

// The constraint names: a count k = n + 1 (a byte or an int32) ahead of the
// name's own length byte n and its characters. k of 0 or above 256, or a length
// byte that disagrees with k, cannot come from a sound stream.
enum class CountWidth { Byte, Int32 };

void WriteCountedName(TVEXStream& Stream, const TVEXShortName& Name, CountWidth Width,
                      int32_t CountCode, int32_t TextCode) {
  const auto n = static_cast<int32_t>(Name.size());
  if (Width == CountWidth::Byte) {
    if (n + 1 > 255) {
      throw EVEXException(CountCode, sNameTooLong, n);
    }
    WriteU8(Stream, static_cast<uint8_t>(n + 1), CountCode);
  } else {
    WriteI32(Stream, n + 1, CountCode);
  }
  std::string bytes(1, static_cast<char>(n));
  bytes += Name.str();
  WriteBytes(Stream, bytes, TextCode);
}

TVEXShortName ReadCountedName(TVEXStream& Stream, CountWidth Width, int32_t CountCode,
                              int32_t TextCode) {
  const int32_t k =
      Width == CountWidth::Byte ? ReadU8(Stream, CountCode) : ReadI32(Stream, CountCode);
  if (k < 1 || k > static_cast<int32_t>(TVEXShortName::MaxLength) + 1) {
    throw EVEXException(CountCode, "Invalid name length in stream: %d", k);
  }
  const std::string bytes = ReadBytes(Stream, k, TextCode);
  if (static_cast<uint8_t>(bytes[0]) != k - 1) {
    throw EVEXException(TextCode, "Invalid name length in stream: %d, expected %d",
                        static_cast<int32_t>(static_cast<uint8_t>(bytes[0])), k - 1);
  }
  return TVEXShortName(std::string_view(bytes).substr(1));
}

}  // namespace

// --- Root ------------------------------------------------------------------

void TVEXMetaObjectDef::Assign(const TVEXMetaObjectDef& Source) {
  Name = Source.Name;
  ObjectID = Source.ObjectID;
  SchemaName = Source.SchemaName;
  SchemaID = Source.SchemaID;
}

void TVEXMetaObjectDef::LoadFromStream(TVEXStream& Stream) {
  Name = ReadByteCountedName(Stream, 10166, 10167);
  ObjectID = ReadI32(Stream, 10169);
}

void TVEXMetaObjectDef::SaveToStream(TVEXStream& Stream) const {
  WriteByteCountedName(Stream, Name, 10164, 10165);
  WriteI32(Stream, ObjectID, 10168);
}

// --- Field definition ------------------------------------------------------

TVEXFieldDef::TVEXFieldDef() = default;
TVEXFieldDef::~TVEXFieldDef() = default;

void TVEXFieldDef::Assign(const TVEXMetaObjectDef& Source) {
  const auto& source = SourceAs<TVEXFieldDef>(Source);
  if (&source == this) return;
  TVEXMetaObjectDef::Assign(source);
  BaseFieldType = source.BaseFieldType;
  AdvancedFieldType = source.AdvancedFieldType;
  FieldSize = source.FieldSize;
  DiskDataSize = source.DiskDataSize;
  MemoryDataSize = source.MemoryDataSize;
  DiskOffset = source.DiskOffset;
  MemoryOffset = source.MemoryOffset;
  DefaultValue.Assign(source.DefaultValue, true);
  PrepareDefaultValueExpr();
  BLOBCompressionAlgorithm = source.BLOBCompressionAlgorithm;
  BLOBCompressionMode = source.BLOBCompressionMode;
  BLOBBlockSize = source.BLOBBlockSize;
  AutoincIncrement = source.AutoincIncrement;
  AutoincInitialValue = source.AutoincInitialValue;
  AutoincMinValue = source.AutoincMinValue;
  AutoincMaxValue = source.AutoincMaxValue;
  AutoincCycled = source.AutoincCycled;
}

void TVEXFieldDef::LoadFromStream(TVEXStream& Stream) {
  TVEXMetaObjectDef::LoadFromStream(Stream);
  BaseFieldType = static_cast<TVEXBaseFieldType>(ReadU8(Stream, 10187));
  AdvancedFieldType = static_cast<TVEXAdvancedFieldType>(ReadU8(Stream, 10188));
  FieldSize = ReadI32(Stream, 10189);
  // The text and byte types take their record space from FieldSize: a negative
  // size, or one whose data size overflows, would lay out overlapping fields.
  // No sound file holds one.
  const bool sized = IsStringBaseFieldType(BaseFieldType) || BaseFieldType == bftBytes ||
                     BaseFieldType == bftVarBytes;
  if (sized && (FieldSize < 0 || FieldSize > INT32_MAX / 2 - 1)) {
    throw EVEXException(10189, "Invalid field size in stream: %d", FieldSize);
  }
  if (IsBLOBBaseFieldType(BaseFieldType)) {
    const uint8_t algorithm = ReadU8(Stream, 10192);
    // Compression code selects its algorithm by this byte; only the four
    // known algorithms can come from a sound file.
    if (algorithm > acaPPM) {
      throw EVEXException(10192, "Invalid BLOB compression algorithm in stream: %d",
                          static_cast<int32_t>(algorithm));
    }
    BLOBCompressionAlgorithm = static_cast<TVEXCompressionAlgorithm>(algorithm);
    BLOBCompressionMode = ReadU8(Stream, 10193);
    BLOBBlockSize = ReadI32(Stream, 10194);
  }
  AutoincIncrement = ReadI64(Stream, 30407);
  AutoincInitialValue = ReadI64(Stream, 30408);
  AutoincMinValue = ReadI64(Stream, 30409);
  AutoincMaxValue = ReadI64(Stream, 30410);
  AutoincCycled = ReadBool(Stream, 30411);
  DefaultValue.SetNull();
  DefaultValue.LoadFromStream(Stream);
  PrepareDefaultValueExpr();
  CalcDataSizes();
}

void TVEXFieldDef::SaveToStream(TVEXStream& Stream) const {
  TVEXMetaObjectDef::SaveToStream(Stream);
  WriteU8(Stream, BaseFieldType, 10170);
  WriteU8(Stream, AdvancedFieldType, 10171);
  WriteI32(Stream, FieldSize, 10172);
  if (IsBLOBBaseFieldType(BaseFieldType)) {
    WriteU8(Stream, BLOBCompressionAlgorithm, 10175);
    WriteU8(Stream, BLOBCompressionMode, 10176);
    WriteI32(Stream, BLOBBlockSize, 10177);
  }
  WriteI64(Stream, AutoincIncrement, 30412);
  WriteI64(Stream, AutoincInitialValue, 30413);
  WriteI64(Stream, AutoincMinValue, 30414);
  WriteI64(Stream, AutoincMaxValue, 30415);
  WriteBool(Stream, AutoincCycled, 30416);
  DefaultValue.SaveToStream(Stream);
}

void TVEXFieldDef::SetFieldDefDataType(TVEXAdvancedFieldType AdvancedType, int32_t Size) {
  AdvancedFieldType = AdvancedType;
  BaseFieldType = AdvancedToBaseFieldType(AdvancedType);
  if (BaseFieldType == bftUnknown) {
    throw EVEXException(30007, sUnsupportedDataType, AdvancedFieldTypeToSQLName(AdvancedType));
  }
  FieldSize = Size;
  CalcDataSizes();
}

void TVEXFieldDef::SetFieldDefDataType(TVEXBaseFieldType BaseType, int32_t Size) {
  BaseFieldType = BaseType;
  FieldSize = Size;
  AdvancedFieldType = BaseToAdvancedFieldType(BaseType);
  if (AdvancedFieldType == aftUnknown) {
    throw EVEXException(30008, sUnsupportedDataType, BaseFieldTypeToSQLName(BaseType));
  }
  CalcDataSizes();
}

void TVEXFieldDef::CalcDataSizes() {
  MemoryDataSize = GetDataTypeSize(BaseFieldType, FieldSize);
  // The disk record keeps only the BLOB's page item id.
  DiskDataSize = IsBLOBBaseFieldType(BaseFieldType) ? 6 : MemoryDataSize;
}

void TVEXFieldDef::PrepareDefaultValueExpr() {
  DefaultValueExpr.reset();
  TVEXExpressionParser* parser = ExpressionParser();
  if (parser != nullptr && parser->IsDefaultValueExpression(DefaultValue)) {
    DefaultValueExpr = parser->CreateDefaultValueExpression(DefaultValue.AsWideString());
  }
}

// --- Index definition ------------------------------------------------------

TVEXIndexDef::TVEXIndexDef() {
  ObjectID = 0;
  SchemaID = 0;
}

TVEXIndexDef::~TVEXIndexDef() = default;

void TVEXIndexDef::SetColumnCount(int32_t Value) {
  if (Value < 0) Value = 0;
  const auto count = static_cast<size_t>(Value);
  if (count < FIndexColumns.size()) {
    FIndexColumns.resize(count);
    return;
  }
  FIndexColumns.reserve(count);
  while (FIndexColumns.size() < count) FIndexColumns.push_back(std::make_unique<TVEXIndexColumn>());
}

TVEXIndexColumn* TVEXIndexDef::GetIndexColumn(int32_t Index) const {
  if (Index < 0 || Index >= ColumnCount()) rtl::RaiseListIndexError(Index);
  return FIndexColumns[static_cast<size_t>(Index)].get();
}

void TVEXIndexDef::Assign(const TVEXMetaObjectDef& Source) {
  const auto& source = SourceAs<TVEXIndexDef>(Source);
  if (&source == this) return;
  TVEXMetaObjectDef::Assign(source);
  IndexType = source.IndexType;
  Unique = source.Unique;
  Primary = source.Primary;
  RootPageNo = source.RootPageNo;
  SetColumnCount(source.ColumnCount());
  Temporary = source.Temporary;
  SessionID = source.SessionID;
  TableState = source.TableState;
  NeedRebuild = source.NeedRebuild;
  for (int32_t i = 0; i < ColumnCount(); ++i) *FIndexColumns[i] = *source.FIndexColumns[i];
}

void TVEXIndexDef::AssignByNames(const rtl::TStringList& FieldNames,
                                 const rtl::TStringList& AscDescList,
                                 const rtl::TStringList& CaseSensitivityList) {
  if (FieldNames.Count() != AscDescList.Count()) {
    throw EVEXException(10278, sDifferentListLengths, FieldNames.Count(), AscDescList.Count());
  }
  if (FieldNames.Count() != CaseSensitivityList.Count()) {
    throw EVEXException(10279, sDifferentListLengths, FieldNames.Count(),
                        CaseSensitivityList.Count());
  }
  SetColumnCount(FieldNames.Count());
  for (int32_t i = 0; i < ColumnCount(); ++i) {
    TVEXIndexColumn& column = *FIndexColumns[i];
    column.FieldName = FieldNames[i];
    column.Descending = AscDescList[i] == "DESC";
    column.CaseInsensitive = CaseSensitivityList[i] == "NO_CASE";
    column.MaxIndexedSize = 20;
  }
}

namespace {
// The fewest bytes a stored index column takes: an empty name's length byte,
// two flags and MaxIndexedSize.
constexpr int64_t kMinIndexColumnSize = 1 + 1 + 1 + 4;
}  // namespace

void TVEXIndexDef::LoadFromStream(TVEXStream& Stream) {
  TVEXMetaObjectDef::LoadFromStream(Stream);
  Temporary = false;
  IndexType = static_cast<TVEXIndexType>(ReadU8(Stream, 10349));
  Unique = ReadBool(Stream, 10350);
  Primary = ReadBool(Stream, 10351);
  const int32_t count = ReadI32(Stream, 10352);
  RootPageNo = ReadI32(Stream, 10353);
  CheckCount(Stream, count, kMinIndexColumnSize, 10352);
  SetColumnCount(count);
  for (auto& column : FIndexColumns) {
    column->FieldName = ReadByteCountedName(Stream, 10358, 10359);
    column->Descending = ReadBool(Stream, 10360);
    column->CaseInsensitive = ReadBool(Stream, 10361);
    column->MaxIndexedSize = ReadI32(Stream, 20168);
  }
}

void TVEXIndexDef::SaveToStream(TVEXStream& Stream) const {
  TVEXMetaObjectDef::SaveToStream(Stream);
  WriteU8(Stream, IndexType, 10344);
  WriteBool(Stream, Unique, 10345);
  WriteBool(Stream, Primary, 10346);
  WriteI32(Stream, ColumnCount(), 10347);
  WriteI32(Stream, RootPageNo, 10348);
  for (const auto& column : FIndexColumns) {
    WriteByteCountedName(Stream, column->FieldName, 10354, 10355);
    WriteBool(Stream, column->Descending, 10356);
    WriteBool(Stream, column->CaseInsensitive, 10357);
    WriteI32(Stream, column->MaxIndexedSize, 20169);
  }
}

// --- Constraints -----------------------------------------------------------

void TVEXConstraintDef::Assign(const TVEXMetaObjectDef& Source) {
  const auto& source = SourceAs<TVEXConstraintDef>(Source);
  TVEXMetaObjectDef::Assign(source);
  ConstraintType = source.ConstraintType;
}

namespace {

// The write and read codes of the NOT NULL and CHECK forms, item by item.
struct ColumnConstraintCodes {
  int32_t SchemaObjectID[2], TableObjectID[2], ColumnObjectID[2];
  int32_t SchemaCount[2], SchemaText[2], TableCount[2], TableText[2], ColumnCount[2], ColumnText[2];
};

constexpr ColumnConstraintCodes kNotNullCodes{{10240, 10249}, {10241, 10250}, {10242, 10251},
                                              {10243, 10252}, {10244, 10253}, {10245, 10254},
                                              {10246, 10255}, {10247, 10256}, {10248, 10257}};
constexpr ColumnConstraintCodes kCheckCodes{{10227, 10230}, {10228, 10231}, {10229, 10232},
                                            {10221, 10233}, {10222, 10234}, {10223, 10235},
                                            {10224, 10236}, {10225, 10237}, {10226, 10238}};

constexpr int W = 0;
constexpr int R = 1;

// The NOT NULL and CHECK classes share their six fields but not a parent.
template <class Def>
void SaveColumnConstraint(TVEXStream& Stream, const Def& d, const ColumnConstraintCodes& c) {
  WriteI32(Stream, d.TableSchemaObjectID, c.SchemaObjectID[W]);
  WriteI32(Stream, d.TableObjectID, c.TableObjectID[W]);
  WriteI32(Stream, d.ColumnObjectID, c.ColumnObjectID[W]);
  WriteCountedName(Stream, d.TableSchemaName, CountWidth::Byte, c.SchemaCount[W], c.SchemaText[W]);
  WriteCountedName(Stream, d.TableName, CountWidth::Byte, c.TableCount[W], c.TableText[W]);
  WriteCountedName(Stream, d.ColumnName, CountWidth::Byte, c.ColumnCount[W], c.ColumnText[W]);
}

template <class Def>
void LoadColumnConstraint(TVEXStream& Stream, Def& d, const ColumnConstraintCodes& c) {
  d.TableSchemaObjectID = ReadI32(Stream, c.SchemaObjectID[R]);
  d.TableObjectID = ReadI32(Stream, c.TableObjectID[R]);
  d.ColumnObjectID = ReadI32(Stream, c.ColumnObjectID[R]);
  d.TableSchemaName = ReadCountedName(Stream, CountWidth::Byte, c.SchemaCount[R], c.SchemaText[R]);
  d.TableName = ReadCountedName(Stream, CountWidth::Byte, c.TableCount[R], c.TableText[R]);
  d.ColumnName = ReadCountedName(Stream, CountWidth::Byte, c.ColumnCount[R], c.ColumnText[R]);
}

template <class Def>
void AssignColumnConstraint(Def& d, const Def& s) {
  d.TableSchemaName = s.TableSchemaName;
  d.TableSchemaObjectID = s.TableSchemaObjectID;
  d.TableName = s.TableName;
  d.TableObjectID = s.TableObjectID;
  d.ColumnName = s.ColumnName;
  d.ColumnObjectID = s.ColumnObjectID;
}

}  // namespace

TVEXConstraintDefNotNull::TVEXConstraintDefNotNull() : TVEXConstraintDef(ctNotNull) {
  ObjectID = 0;
}

void TVEXConstraintDefNotNull::Assign(const TVEXMetaObjectDef& Source) {
  const auto& source = SourceAs<TVEXConstraintDefNotNull>(Source);
  TVEXConstraintDef::Assign(source);
  AssignColumnConstraint(*this, source);
}

void TVEXConstraintDefNotNull::LoadFromStream(TVEXStream& Stream) {
  TVEXMetaObjectDef::LoadFromStream(Stream);
  LoadColumnConstraint(Stream, *this, kNotNullCodes);
}

void TVEXConstraintDefNotNull::SaveToStream(TVEXStream& Stream) const {
  TVEXMetaObjectDef::SaveToStream(Stream);
  SaveColumnConstraint(Stream, *this, kNotNullCodes);
}

void TVEXConstraintDefNotNull::SetNames(std::string_view Column, std::string_view Table,
                                        std::string_view Schema) {
  ColumnName = Column;
  TableName = Table;
  SchemaName = std::string(Schema.substr(0, TVEXShortName::MaxLength));
}

TVEXConstraintDefCheck::TVEXConstraintDefCheck() : TVEXConstraintDef(ctCheck) { ObjectID = 0; }

TVEXConstraintDefCheck::~TVEXConstraintDefCheck() = default;

void TVEXConstraintDefCheck::Assign(const TVEXMetaObjectDef& Source) {
  const auto& source = SourceAs<TVEXConstraintDefCheck>(Source);
  if (&source == this) return;
  TVEXConstraintDef::Assign(source);
  AssignColumnConstraint(*this, source);
  MinValue.Assign(source.MinValue, true);
  MaxValue.Assign(source.MaxValue, true);
}

void TVEXConstraintDefCheck::LoadFromStream(TVEXStream& Stream) {
  TVEXMetaObjectDef::LoadFromStream(Stream);
  LoadColumnConstraint(Stream, *this, kCheckCodes);
  MinValue.LoadFromStream(Stream);
  MaxValue.LoadFromStream(Stream);
}

void TVEXConstraintDefCheck::SaveToStream(TVEXStream& Stream) const {
  TVEXMetaObjectDef::SaveToStream(Stream);
  SaveColumnConstraint(Stream, *this, kCheckCodes);
  MinValue.SaveToStream(Stream);
  MaxValue.SaveToStream(Stream);
}

void TVEXConstraintDefCheck::SetNames(std::string_view Column, std::string_view Table,
                                      std::string_view Schema) {
  ColumnName = Column;
  TableName = Table;
  SchemaName = std::string(Schema.substr(0, TVEXShortName::MaxLength));
}

TVEXConstraintDefUnique::TVEXConstraintDefUnique() : TVEXConstraintDef(ctUnique) {}

TVEXConstraintDefPrimary::TVEXConstraintDefPrimary() : TVEXConstraintDefUnique(ctPK) {}

void TVEXConstraintDefUnique::Assign(const TVEXMetaObjectDef& Source) {
  const auto& source = SourceAs<TVEXConstraintDefUnique>(Source);
  if (&source == this) return;
  TVEXConstraintDef::Assign(source);
  Columns = source.Columns;
  TableSchemaName = source.TableSchemaName;
  TableSchemaObjectID = source.TableSchemaObjectID;
  TableName = source.TableName;
  TableObjectID = source.TableObjectID;
  IndexName = source.IndexName;
  IndexObjectID = source.IndexObjectID;
}

namespace {
// The fewest bytes a stored constraint column takes: its object id, a count and
// an empty name's length byte.
constexpr int64_t kMinConstraintColumnSize = 4 + 4 + 1;
}  // namespace

void TVEXConstraintDefUnique::LoadFromStream(TVEXStream& Stream) {
  TVEXMetaObjectDef::LoadFromStream(Stream);
  TableSchemaObjectID = ReadI32(Stream, 30303);
  TableObjectID = ReadI32(Stream, 30304);
  IndexObjectID = ReadI32(Stream, 30317);
  TableSchemaName = ReadCountedName(Stream, CountWidth::Int32, 30305, 30306);
  TableName = ReadCountedName(Stream, CountWidth::Int32, 30307, 30308);
  IndexName = ReadCountedName(Stream, CountWidth::Int32, 30321, 30322);
  const int32_t count = ReadI32(Stream, 30309);
  CheckCount(Stream, count, kMinConstraintColumnSize, 30309);
  std::vector<TVEXConstraintColumn> columns(static_cast<size_t>(count));
  for (auto& column : columns) {
    column.ColumnObjectID = ReadI32(Stream, 30310);
    column.ColumnName = ReadCountedName(Stream, CountWidth::Int32, 30311, 30312);
  }
  Columns = std::move(columns);
}

void TVEXConstraintDefUnique::SaveToStream(TVEXStream& Stream) const {
  TVEXMetaObjectDef::SaveToStream(Stream);
  WriteI32(Stream, TableSchemaObjectID, 30313);
  WriteI32(Stream, TableObjectID, 30314);
  WriteI32(Stream, IndexObjectID, 30318);
  WriteCountedName(Stream, TableSchemaName, CountWidth::Int32, 30315, 30316);
  WriteCountedName(Stream, TableName, CountWidth::Int32, 30317, 30318);
  WriteCountedName(Stream, IndexName, CountWidth::Int32, 30323, 30324);
  WriteI32(Stream, static_cast<int32_t>(Columns.size()), 30319);
  for (const auto& column : Columns) {
    WriteI32(Stream, column.ColumnObjectID, 30320);
    WriteCountedName(Stream, column.ColumnName, CountWidth::Int32, 30321, 30322);
  }
}

}  // namespace vex
