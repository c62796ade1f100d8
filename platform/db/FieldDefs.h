// Field and index definitions: what a dataset's source says its columns and
// indexes are, independent of the field objects that show them.
//
// TFieldDefs is filled by the dataset (InitFieldDefs / InternalInitFieldDefs)
// or by the application before a table is created. Update() asks the dataset
// to refill the list once until it is marked not updated again. Changes made
// outside such an update tell the dataset (DefChanged).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/DBCommon.h"

namespace rtl {
class TComponent;
}

namespace db {

class TDataSet;
class TField;
class TFieldDefs;

class TFieldDef {
 public:
  TFieldDef(TFieldDefs* Owner, std::string Name, TFieldType DataType, int32_t Size, bool Required,
            int32_t FieldNo);

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value);
  TFieldType DataType() const { return FDataType; }
  void SetDataType(TFieldType Value);
  int32_t Size() const { return FSize; }
  void SetSize(int32_t Value);
  bool Required() const { return FRequired; }
  void SetRequired(bool Value);
  int32_t Precision() const { return FPrecision; }
  void SetPrecision(int32_t Value);
  // 1-based number of the definition in the dataset's source.
  int32_t FieldNo() const { return FFieldNo; }
  void SetFieldNo(int32_t Value) { FFieldNo = Value; }
  int32_t Index() const;

  // Creates the field object of the definition's type (owned by Owner) and
  // attaches it to the dataset; "Field '%s' is of an unknown type" when the
  // type has no field class.
  TField* CreateField(rtl::TComponent* Owner);

  void Assign(const TFieldDef& Source);

 private:
  void Changed();
  TFieldDefs* FOwner;
  std::string FName;
  TFieldType FDataType;
  int32_t FSize;
  bool FRequired;
  int32_t FPrecision = 0;
  int32_t FFieldNo;
};

class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* ADataSet) : FDataSet(ADataSet) {}
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  TDataSet* DataSet() const { return FDataSet; }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TFieldDef* operator[](int32_t Index) const { return FItems.at(static_cast<size_t>(Index)).get(); }
  TFieldDef* Items(int32_t Index) const { return (*this)[Index]; }

  // Appends a definition numbered after the last (FieldNo = Count).
  TFieldDef* Add(const std::string& Name, TFieldType DataType, int32_t Size = 0,
                 bool Required = false);
  TFieldDef* AddFieldDef();
  void Delete(int32_t Index);
  void Clear();
  // Case-insensitive (8-bit locale rules); -1 / nil when absent.
  int32_t IndexOf(std::string_view Name) const;
  TFieldDef* FindDef(std::string_view Name) const;
  // Raises "Field '%s' not found".
  TFieldDef* Find(std::string_view Name) const;
  void Assign(const TFieldDefs& Source);

  bool Updated() const { return FUpdated; }
  void SetUpdated(bool Value) { FUpdated = Value; }
  // Refills from the dataset unless already updated.
  void Update();

 private:
  friend class TFieldDef;
  void Changed();
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TFieldDef>> FItems;
  bool FUpdated = false;
  int32_t FInternalUpdate = 0;
};

class TIndexDef {
 public:
  TIndexDef() = default;
  TIndexDef(std::string Name, std::string Fields, TIndexOptions Options)
      : FName(std::move(Name)), FFields(std::move(Fields)), FOptions(Options) {}

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value) { FName = Value; }
  // ";"-separated field names.
  const std::string& Fields() const { return FFields; }
  void SetFields(const std::string& Value) { FFields = Value; }
  const std::string& DescFields() const { return FDescFields; }
  void SetDescFields(const std::string& Value) { FDescFields = Value; }
  const std::string& CaseInsFields() const { return FCaseInsFields; }
  void SetCaseInsFields(const std::string& Value) { FCaseInsFields = Value; }
  const std::string& Expression() const { return FExpression; }
  void SetExpression(const std::string& Value) { FExpression = Value; }
  TIndexOptions Options() const { return FOptions; }
  void SetOptions(TIndexOptions Value) { FOptions = Value; }

  void Assign(const TIndexDef& Source) { *this = Source; }

 private:
  std::string FName;
  std::string FFields;
  std::string FDescFields;
  std::string FCaseInsFields;
  std::string FExpression;
  TIndexOptions FOptions;
};

class TIndexDefs {
 public:
  explicit TIndexDefs(TDataSet* ADataSet) : FDataSet(ADataSet) {}
  TIndexDefs(const TIndexDefs&) = delete;
  TIndexDefs& operator=(const TIndexDefs&) = delete;

  TDataSet* DataSet() const { return FDataSet; }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TIndexDef* operator[](int32_t Index) const { return FItems.at(static_cast<size_t>(Index)).get(); }
  TIndexDef* Items(int32_t Index) const { return (*this)[Index]; }

  TIndexDef* Add(const std::string& Name, const std::string& Fields, TIndexOptions Options);
  TIndexDef* AddIndexDef();
  void Delete(int32_t Index);
  void Clear();
  int32_t IndexOf(std::string_view Name) const;
  TIndexDef* FindDef(std::string_view Name) const;
  // Raises "Index '%s' not found".
  TIndexDef* Find(std::string_view Name) const;
  // The first index (neither descending nor an expression, case-insensitive
  // when asked) whose fields are exactly Fields, else the first whose leading
  // fields are Fields; nil when none.
  TIndexDef* GetIndexForFields(std::string_view Fields, bool CaseInsensitive);
  // As GetIndexForFields (case-sensitive); raises "No index for fields '%s'".
  TIndexDef* FindIndexForFields(std::string_view Fields);
  void Assign(const TIndexDefs& Source);

  bool Updated() const { return FUpdated; }
  void SetUpdated(bool Value) { FUpdated = Value; }
  // Asks the dataset to refresh the definitions (UpdateIndexDefs) unless updated.
  void Update();

 private:
  // Tells the dataset (DefChanged) about a change made by others than its own
  // refresh.
  void Changed();
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TIndexDef>> FItems;
  bool FUpdated = false;
  int32_t FInternalUpdate = 0;
};

}  // namespace db
