// A table's schema as definition objects: one TVEXFieldDef per field, one
// TVEXIndexDef (with its columns) per index and one constraint definition per
// NOT NULL, CHECK, UNIQUE or PRIMARY KEY rule, all derived from the named schema
// object TVEXMetaObjectDef. The collections that hold them are in
// VEXMetaDefCollections.h.
//
// Every definition copies itself from another of its class (Assign) and writes
// itself to and reads itself from a stream. That stream form is part of a disk
// table's metadata file, so it is a file format: every item is written here,
// and only here, one by one and little-endian, and every item has a native error
// code of its own for writing and another for reading. Counts and name lengths
// read back are checked against what a sound file can hold before anything is
// allocated for them, so a damaged file raises the item's read code instead of
// forcing a huge allocation or an overrun.
//
// Definitions are not synchronised: their owner (a table's managers, a cursor)
// serialises every access.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VEXCompression.h"
#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXVariant.h"
#include "storage/VEXSeams.h"

namespace rtl {
class TStringList;
}

namespace vex {

class TVEXStream;

// A name of at most 255 8-bit characters, the most that its length byte in a
// stream can count. Longer text is cut to 255 characters when stored into one.
class TVEXShortName {
 public:
  static constexpr size_t MaxLength = 255;

  TVEXShortName() = default;
  TVEXShortName(std::string_view Text) : FText(Text.substr(0, MaxLength)) {}
  TVEXShortName(const char* Text) : TVEXShortName(std::string_view(Text)) {}
  TVEXShortName(const std::string& Text) : TVEXShortName(std::string_view(Text)) {}

  const std::string& str() const { return FText; }
  operator const std::string&() const { return FText; }
  operator std::string_view() const { return FText; }
  size_t size() const { return FText.size(); }
  bool empty() const { return FText.empty(); }
  const char* data() const { return FText.data(); }

  friend bool operator==(const TVEXShortName& A, const TVEXShortName& B) {
    return A.FText == B.FText;
  }
  friend bool operator==(const TVEXShortName& A, std::string_view B) { return A.FText == B; }
  friend bool operator==(const TVEXShortName& A, const std::string& B) { return A.FText == B; }
  friend bool operator==(const TVEXShortName& A, const char* B) { return A.FText == B; }

 private:
  std::string FText;
};

// The root of every schema object: its name and its database-wide object id.
class TVEXMetaObjectDef {
 public:
  TVEXMetaObjectDef() = default;
  virtual ~TVEXMetaObjectDef() = default;
  TVEXMetaObjectDef(const TVEXMetaObjectDef&) = delete;
  TVEXMetaObjectDef& operator=(const TVEXMetaObjectDef&) = delete;

  // Copies Name, ObjectID, SchemaName and SchemaID. A descendant raises
  // rtl::EInvalidOperation "Invalid class typecast" for a Source that is not of
  // its own kind.
  virtual void Assign(const TVEXMetaObjectDef& Source);
  // Stream form: the name (u8 length n, n bytes) and ObjectID (i32); a
  // descendant's own part follows directly.
  virtual void LoadFromStream(TVEXStream& Stream);
  virtual void SaveToStream(TVEXStream& Stream) const;

  TVEXShortName Name;
  // Given by the database.
  int32_t ObjectID = -1;
  // Neither schema item is stored in the stream.
  std::string SchemaName;
  int32_t SchemaID = -1;
};

class TVEXFieldDef : public TVEXMetaObjectDef {
 public:
  TVEXFieldDef();
  ~TVEXFieldDef() override;

  // Source must be a field definition. Copies everything but FieldNoReference;
  // the default value gets data of its own and its expression is prepared anew.
  void Assign(const TVEXMetaObjectDef& Source) override;
  // After the header: both types (u8 each), FieldSize (i32), for a BLOB, CLOB or
  // wide CLOB the compression algorithm and mode (u8 each) and block size (i32),
  // the five autoincrement settings (i64 x 4, u8), then the default value in the
  // value's own stream form. Loading prepares the default's expression and the
  // data sizes; offsets are left to the collection. A field of another type
  // keeps the BLOB settings it had. A text or bytes field whose size is
  // negative or too large for its data size raises 10189.
  void LoadFromStream(TVEXStream& Stream) override;
  void SaveToStream(TVEXStream& Stream) const override;

  // Sets the declared type and derives the storage type; raises 30007
  // "Unsupported data type '%s'" when the declared type has none (the
  // definition then keeps AdvancedFieldType with an unknown storage type).
  void SetFieldDefDataType(TVEXAdvancedFieldType AdvancedFieldType, int32_t FieldSize);
  // Sets the storage type and derives the declared type; raises 30008
  // "Unsupported data type '%s'" when there is none.
  void SetFieldDefDataType(TVEXBaseFieldType BaseFieldType, int32_t FieldSize);
  // MemoryDataSize from the storage type and size; DiskDataSize the same except
  // for the BLOB types, whose disk record keeps only the 6-byte page item id.
  void CalcDataSizes();
  // Replaces the default's expression: a new one when the installed parser
  // takes DefaultValue for a per-record expression, none otherwise.
  void PrepareDefaultValueExpr();

  TVEXBaseFieldType BaseFieldType = bftUnknown;
  TVEXAdvancedFieldType AdvancedFieldType = aftUnknown;
  // Characters of a text type, bytes of a bytes type; 0 where the type has no size.
  int32_t FieldSize = 0;
  int32_t DiskDataSize = 0;
  int32_t MemoryDataSize = 0;
  // Set by the field collection; never stored.
  int32_t DiskOffset = 0;
  int32_t MemoryOffset = 0;
  // In a cursor's visible fields, the table field this one shows. Neither
  // copied nor stored.
  int32_t FieldNoReference = 0;
  // Null when the field has no default.
  TVEXVariant DefaultValue;
  std::unique_ptr<TVEXBaseExpression> DefaultValueExpr;
  TVEXCompressionAlgorithm BLOBCompressionAlgorithm = acaNone;
  // Compression level 0-9.
  uint8_t BLOBCompressionMode = 0;
  int32_t BLOBBlockSize = 102400;
  int64_t AutoincIncrement = 1;
  int64_t AutoincInitialValue = 0;
  int64_t AutoincMinValue = 0;
  int64_t AutoincMaxValue = INT64_MAX;
  bool AutoincCycled = false;
};

struct TVEXIndexColumn {
  std::string FieldName;
  bool Descending = false;
  bool CaseInsensitive = false;
  // The longest column value that the index key holds; longer values are cut.
  int32_t MaxIndexedSize = 0;
};

// Only B-tree indexes exist, whatever the type says.
enum TVEXIndexType : uint8_t { itBTree = 0, itAnotherOne = 1 };

class TVEXIndexDef : public TVEXMetaObjectDef {
 public:
  // An index definition starts with ObjectID and SchemaID 0, not -1.
  TVEXIndexDef();
  ~TVEXIndexDef() override;

  // Source must be an index definition. Copies every field, the per-session
  // ones included, and the columns into columns of its own.
  void Assign(const TVEXMetaObjectDef& Source) override;
  // After the header: IndexType, Unique, Primary (u8 each), the column count and
  // RootPageNo (i32 each), then per column its name (u8 length, bytes),
  // Descending, CaseInsensitive (u8 each) and MaxIndexedSize (i32). Loading
  // clears Temporary and leaves SessionID, TableState and NeedRebuild alone.
  void LoadFromStream(TVEXStream& Stream) override;
  // Raises 10354 for a column name too long for its length byte.
  void SaveToStream(TVEXStream& Stream) const override;

  int32_t ColumnCount() const { return static_cast<int32_t>(FIndexColumns.size()); }
  // Growing appends new columns; shrinking destroys the columns cut off.
  void SetColumnCount(int32_t Value);
  // Raises rtl::EListError for a position outside the columns.
  TVEXIndexColumn* GetIndexColumn(int32_t Index) const;

  // The three lists are parallel: one column per field name, descending exactly
  // when its entry is "DESC", case-insensitive exactly when its entry is
  // "NO_CASE", each with MaxIndexedSize 20. Lists of different lengths raise
  // 10278 (directions) or 10279 (case entries) and change nothing.
  void AssignByNames(const rtl::TStringList& FieldNames, const rtl::TStringList& AscDescList,
                     const rtl::TStringList& CaseSensitivityList);

  TVEXIndexType IndexType = itBTree;
  bool Unique = false;
  bool Primary = false;
  // -1: no root page yet.
  int32_t RootPageNo = -1;
  // A per-session index made for one search or order; never stored, nor are
  // the three fields after it.
  bool Temporary = false;
  int32_t SessionID = -1;
  // The table change counter at which the index was last brought up to date.
  int32_t TableState = 0;
  bool NeedRebuild = false;

 private:
  std::vector<std::unique_ptr<TVEXIndexColumn>> FIndexColumns;
};

// Foreign keys have a type but no definition class: every place that meets
// ctFK refuses it.
enum TVEXConstraintType : uint8_t { ctPK = 0, ctFK = 1, ctUnique = 2, ctNotNull = 3, ctCheck = 4 };

// A constraint adds no stream data of its own: its collection writes the type
// byte ahead of each constraint.
class TVEXConstraintDef : public TVEXMetaObjectDef {
 public:
  // Source must be a constraint definition. Copies the root fields and the type.
  void Assign(const TVEXMetaObjectDef& Source) override;

  TVEXConstraintType ConstraintType;

 protected:
  explicit TVEXConstraintDef(TVEXConstraintType Type) : ConstraintType(Type) {}
};

class TVEXConstraintDefNotNull : public TVEXConstraintDef {
 public:
  TVEXConstraintDefNotNull();

  // Source must be a NOT NULL constraint.
  void Assign(const TVEXMetaObjectDef& Source) override;
  // After the header: the three object ids (i32 each), then the schema, table
  // and column names, each as a count byte k = n + 1 followed by the name's
  // length byte n and its n characters. A name of 255 characters does not fit
  // its count byte and is refused with the count's write code.
  void LoadFromStream(TVEXStream& Stream) override;
  void SaveToStream(TVEXStream& Stream) const override;

  // SchemaName (cut to 255 characters) goes into the root's SchemaName.
  void SetNames(std::string_view ColumnName, std::string_view TableName,
                std::string_view SchemaName);

  TVEXShortName TableSchemaName;
  int32_t TableSchemaObjectID = 0;
  TVEXShortName TableName;
  int32_t TableObjectID = 0;
  TVEXShortName ColumnName;
  int32_t ColumnObjectID = 0;
};

class TVEXConstraintDefCheck : public TVEXConstraintDef {
 public:
  TVEXConstraintDefCheck();
  ~TVEXConstraintDefCheck() override;

  // Source must be a CHECK constraint; both bounds get data of their own.
  void Assign(const TVEXMetaObjectDef& Source) override;
  // The NOT NULL form (with codes of its own), then MinValue and MaxValue in the
  // value's stream form.
  void LoadFromStream(TVEXStream& Stream) override;
  void SaveToStream(TVEXStream& Stream) const override;

  void SetNames(std::string_view ColumnName, std::string_view TableName,
                std::string_view SchemaName);

  TVEXShortName TableSchemaName;
  int32_t TableSchemaObjectID = 0;
  TVEXShortName TableName;
  int32_t TableObjectID = 0;
  TVEXShortName ColumnName;
  int32_t ColumnObjectID = 0;
  // A null bound is not checked.
  TVEXVariant MinValue;
  TVEXVariant MaxValue;
};

struct TVEXConstraintColumn {
  TVEXShortName ColumnName;
  int32_t ColumnObjectID = 0;
};

class TVEXConstraintDefUnique : public TVEXConstraintDef {
 public:
  TVEXConstraintDefUnique();

  // Source must be a UNIQUE or PRIMARY KEY constraint.
  void Assign(const TVEXMetaObjectDef& Source) override;
  // After the header: the table schema, table and index object ids (i32 each),
  // the three names each as an i32 count k = n + 1 followed by the length byte n
  // and n characters, then the column count (i32) and per column its object id
  // (i32) and its name in the same i32-counted form. A PRIMARY KEY has the same
  // form; only its collection's type byte tells the two apart.
  void LoadFromStream(TVEXStream& Stream) override;
  void SaveToStream(TVEXStream& Stream) const override;

  TVEXShortName TableSchemaName;
  int32_t TableSchemaObjectID = 0;
  TVEXShortName TableName;
  int32_t TableObjectID = 0;
  // The index that enforces the rule.
  TVEXShortName IndexName;
  int32_t IndexObjectID = 0;
  std::vector<TVEXConstraintColumn> Columns;

 protected:
  explicit TVEXConstraintDefUnique(TVEXConstraintType Type) : TVEXConstraintDef(Type) {}
};

class TVEXConstraintDefPrimary : public TVEXConstraintDefUnique {
 public:
  TVEXConstraintDefPrimary();
};

// Little-endian items of the metadata stream form, each raising its code when
// the stream falls short (the message of ReadStreamChecked / WriteStreamChecked).
namespace metastream {
void WriteU8(TVEXStream& Stream, uint8_t Value, int32_t Code);
uint8_t ReadU8(TVEXStream& Stream, int32_t Code);
void WriteI32(TVEXStream& Stream, int32_t Value, int32_t Code);
int32_t ReadI32(TVEXStream& Stream, int32_t Code);
void WriteI64(TVEXStream& Stream, int64_t Value, int32_t Code);
int64_t ReadI64(TVEXStream& Stream, int32_t Code);
// Raises Code when Count is negative or Count items of at least MinItemSize
// bytes each cannot fit in what the stream holds after its position: a count
// that no sound stream can carry.
void CheckCount(TVEXStream& Stream, int64_t Count, int64_t MinItemSize, int32_t Code);
}  // namespace metastream

}  // namespace vex
