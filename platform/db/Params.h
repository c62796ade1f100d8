// Parameters of a query: named values with a data type, and the parser that
// finds the named parameters of an SQL text.
//
// Names are compared without regard to case. Setting a value through one of the
// typed setters also sets the data type and marks the parameter bound (set by
// the application rather than taken from a master dataset).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/DBCommon.h"
#include "rtl/Currency.h"
#include "rtl/Variant.h"

namespace rtl {
class TComponent;
}

namespace db {

class TField;
class TParams;

class TParam {
 public:
  explicit TParam(TParams* Owner = nullptr) : FOwner(Owner) {}

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value) { FName = Value; }
  TFieldType DataType() const { return FDataType; }
  void SetDataType(TFieldType Value) { FDataType = Value; }
  TParamType ParamType() const { return FParamType; }
  void SetParamType(TParamType Value) { FParamType = Value; }
  bool Bound() const { return FBound; }
  void SetBound(bool Value) { FBound = Value; }
  bool IsNull() const { return FData.IsNull() || FData.IsEmpty(); }

  // The value; Null or Empty when there is none.
  const rtl::Variant& Value() const { return FData; }
  // Sets the value; a parameter without a data type takes the variant's.
  void SetValue(const rtl::Variant& Value);
  // Null value, data type kept, not bound.
  void Clear();

  std::string AsString() const;
  void SetAsString(const std::string& Value);
  std::u16string AsWideString() const;
  void SetAsWideString(const std::u16string& Value);
  int32_t AsInteger() const;
  void SetAsInteger(int32_t Value);
  void SetAsSmallInt(int32_t Value);
  void SetAsWord(int32_t Value);
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t Value);
  double AsFloat() const;
  void SetAsFloat(double Value);
  rtl::Currency AsCurrency() const;
  void SetAsCurrency(rtl::Currency Value);
  bool AsBoolean() const;
  void SetAsBoolean(bool Value);
  double AsDateTime() const;
  void SetAsDateTime(double Value);
  double AsDate() const { return AsDateTime(); }
  void SetAsDate(double Value);
  double AsTime() const { return AsDateTime(); }
  void SetAsTime(double Value);
  // 8-bit text of a memo.
  std::string AsMemo() const { return AsString(); }
  void SetAsMemo(const std::string& Value);
  // Raw bytes.
  std::string AsBlob() const { return AsString(); }
  void SetAsBlob(const std::string& Value);

  // Name, types, value and Bound of Source.
  void Assign(const TParam& Source);
  // The field's name, type and value.
  void AssignField(TField* Field);
  // The field's type and the given value; bound.
  void AssignFieldValue(TField* Field, const rtl::Variant& Value);

  // The collection the parameter belongs to, or nil; not owned.
  TParams* Owner() const { return FOwner; }

 private:
  void Set(TFieldType Type, rtl::Variant Value);
  TParams* FOwner;
  std::string FName;
  TFieldType FDataType = ftUnknown;
  TParamType FParamType = ptUnknown;
  bool FBound = false;
  rtl::Variant FData;
};

class TParams {
 public:
  // Owner names the component in error messages; not owned.
  explicit TParams(rtl::TComponent* Owner = nullptr) : FOwner(Owner) {}
  TParams(const TParams&) = delete;
  TParams& operator=(const TParams&) = delete;

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TParam* operator[](int32_t Index) const { return FItems.at(static_cast<size_t>(Index)).get(); }
  TParam* Items(int32_t Index) const { return (*this)[Index]; }

  TParam* AddParam();
  TParam* CreateParam(TFieldType DataType, const std::string& Name, TParamType ParamType);
  void Clear() { FItems.clear(); }
  void Delete(int32_t Index);
  TParam* FindParam(std::string_view Name) const;
  // Raises "Parameter '%s' not found".
  TParam* ParamByName(std::string_view Name) const;
  // A copy of every parameter of Source, in order.
  void Assign(const TParams& Source);
  // For each parameter of Source, the one of the same name here takes its value.
  void AssignValues(const TParams& Source);

  // Finds the named parameters of an SQL text (":name", or a colon before a
  // quoted or bracketed name, outside quoted texts and comments; a name ends
  // where the SQL lexer ends a name token) and returns the text with each of
  // them replaced by "?". With DoCreate the list is cleared first and gets one
  // parameter per name, in order of first appearance.
  std::string ParseSQL(std::string_view SQL, bool DoCreate);

 private:
  rtl::TComponent* FOwner;
  std::vector<std::unique_ptr<TParam>> FItems;
};

}  // namespace db
