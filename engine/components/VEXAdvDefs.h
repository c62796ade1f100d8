// The component layer's own description of a table's structure: richer than
// the dataset framework's field and index definitions (defaults, bounds,
// autoincrement and BLOB settings, per-column order, case and key size) and
// simpler than the storage engine's metadata definitions (no constraint
// objects: NOT NULL is Required, CHECK is MinValue/MaxValue, UNIQUE and
// PRIMARY KEY are index options). Datasets expose them, the table component
// creates and restructures tables from them and the SQL DDL fills them;
// VEXDefConversions.h converts them to and from the other two forms.
//
// Name look-ups do not all compare alike, and callers rely on each:
//   TVEXAdvFieldDefs::Find            upper-cases Latin letters only (an
//                                     accented letter must match exactly);
//   TVEXAdvFieldDefs::DeleteFieldDef  locale comparison ignoring case;
//   TVEXAdvIndexDefs::Find, DeleteIndexDef  locale comparison ignoring case.
//
// Not synchronised: the owning dataset or statement serialises every access.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/DBCommon.h"
#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXVariant.h"

namespace db {
class TDataSet;
}

namespace vex {

// Numbered as the engine's TVEXCompressionAlgorithm.
enum TCompressionAlgorithm : uint8_t { caNone = 0, caZLIB = 1, caBZIP = 2, caPPM = 3 };

class TVEXAdvFieldDef {
 public:
  TVEXAdvFieldDef();
  TVEXAdvFieldDef(const TVEXAdvFieldDef&) = delete;
  TVEXAdvFieldDef& operator=(const TVEXAdvFieldDef&) = delete;

  // Copies every setting; the three values get data of their own.
  void Assign(const TVEXAdvFieldDef& Source);

  std::string Name;
  // The engine field's object id when read from a table, else -1.
  int32_t ObjectID = -1;
  TVEXAdvancedFieldType DataType = aftUnknown;
  // NOT NULL.
  bool Required = false;
  // Characters or bytes of a sized type, else 0.
  int32_t Size = 0;
  // Null means none. Changed in place, never replaced.
  TVEXVariant DefaultValue;
  TVEXVariant MinValue;
  TVEXVariant MaxValue;
  int64_t AutoincIncrement = 1;
  int64_t AutoincInitialValue = 0;
  int64_t AutoincMinValue = 0;
  int64_t AutoincMaxValue = INT64_MAX;
  bool AutoincCycled = false;
  TCompressionAlgorithm BLOBCompressionAlgorithm = caNone;
  uint8_t BLOBCompressionMode = 0;
  int32_t BLOBBlockSize = 102400;
};

class TVEXAdvFieldDefs {
 public:
  TVEXAdvFieldDefs() = default;
  TVEXAdvFieldDefs(const TVEXAdvFieldDefs&) = delete;
  TVEXAdvFieldDefs& operator=(const TVEXAdvFieldDefs&) = delete;

  int32_t Count() const { return static_cast<int32_t>(FDefsList.size()); }
  // Positions outside the list raise rtl::EListError.
  TVEXAdvFieldDef* GetDef(int32_t Index) const;
  // Destroys the item at Index and puts Value in its place.
  void SetDef(int32_t Index, std::unique_ptr<TVEXAdvFieldDef> Value);

  // Appends an item with the constructor's settings.
  TVEXAdvFieldDef* AddFieldDef();
  // AddFieldDef with these six settings; the others keep their defaults.
  TVEXAdvFieldDef* Add(std::string_view Name, TVEXAdvancedFieldType DataType, int32_t Size,
                       bool Required, TCompressionAlgorithm BLOBCompressionAlgorithm = caNone,
                       uint8_t BLOBCompressionMode = 0);
  // Removes the first item named FieldName (locale comparison ignoring case).
  // Raises 30349 "Field '%s' not found", the list unchanged, when none is.
  void DeleteFieldDef(std::string_view FieldName);
  // The first item whose name equals Name with the Latin letters of both
  // upper-cased; nullptr when none.
  TVEXAdvFieldDef* Find(std::string_view Name) const;
  void Clear();
  // Clear, then a copy of every item of Source in order.
  void Assign(const TVEXAdvFieldDefs& Source);

 private:
  std::vector<std::unique_ptr<TVEXAdvFieldDef>> FDefsList;
};

class TVEXAdvIndexDef {
 public:
  TVEXAdvIndexDef() = default;
  TVEXAdvIndexDef(const TVEXAdvIndexDef&) = delete;
  TVEXAdvIndexDef& operator=(const TVEXAdvIndexDef&) = delete;

  void Assign(const TVEXAdvIndexDef& ASource);

  std::string Name;
  // Field names separated by ";".
  std::string Fields;
  // Those of Fields in descending order; same form.
  std::string DescFields;
  // Those of Fields compared ignoring case; same form.
  std::string CaseInsFields;
  db::TIndexOptions Options;
  // One decimal number per field, separated by ";": the longest value of the
  // column that the key holds.
  std::string MaxIndexedSizes;
  // Made for one search or order of one session.
  bool Temporary = false;
};

class TVEXAdvIndexDefs {
 public:
  // ADataSet (not owned, may be nullptr) is the dataset the list describes.
  explicit TVEXAdvIndexDefs(db::TDataSet* ADataSet = nullptr) : FDataset(ADataSet) {}
  TVEXAdvIndexDefs(const TVEXAdvIndexDefs&) = delete;
  TVEXAdvIndexDefs& operator=(const TVEXAdvIndexDefs&) = delete;

  int32_t Count() const { return static_cast<int32_t>(FDefsList.size()); }
  // Positions outside the list raise rtl::EListError.
  TVEXAdvIndexDef* GetDef(int32_t Index) const;
  void SetDef(int32_t Index, std::unique_ptr<TVEXAdvIndexDef> Value);

  TVEXAdvIndexDef* AddIndexDef();
  TVEXAdvIndexDef* Add(std::string_view Name, std::string_view Fields, db::TIndexOptions Options,
                       bool Temporary = false, std::string_view DescFields = {},
                       std::string_view CaseInsFields = {}, std::string_view MaxIndexedSizes = {});
  // Removes the first item named IndexName (locale comparison ignoring case).
  // Raises 20190 "Index '%s' not found", the list unchanged, when none is.
  void DeleteIndexDef(std::string_view IndexName);
  // The first item named Name (locale comparison ignoring case); nullptr when none.
  TVEXAdvIndexDef* Find(std::string_view Name) const;
  void Clear();
  // Has the dataset, when there is one, refresh its index definitions.
  void Update();
  // Clear, then a copy of every item of Source in order. With
  // SkipTemporaryIndexes, items marked Temporary and items whose name holds
  // "TEMPORARY" (Latin letters compared in upper case) are left out.
  void Assign(const TVEXAdvIndexDefs& Source, bool SkipTemporaryIndexes);

 private:
  std::vector<std::unique_ptr<TVEXAdvIndexDef>> FDefsList;
  db::TDataSet* FDataset;
};

}  // namespace vex
