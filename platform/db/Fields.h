// Fields: the typed view of one column of a dataset's current record.
//
// A field never holds a value itself. Reading asks the dataset for the field's
// bytes in the active record buffer (TDataSet::GetFieldData) in the field's
// native form; writing hands native bytes to the dataset (SetFieldData), which
// checks the state and stores them. Native forms, and so DataSize:
//   string, fixed char, GUID   Size + 1 bytes of 8-bit text with a zero terminator
//   wide string                (Size + 1) * 2 bytes of UTF-16 with a zero unit
//   smallint, word, boolean    2 bytes (boolean: 0 false, anything else true)
//   integer, autoinc, date, time  4 bytes (date: day number with 0001-01-01 = 1;
//                              time: milliseconds since midnight)
//   largeint, float, currency, BCD, date-time  8 bytes (currency and BCD as a
//                              double amount; date-time as a double count of
//                              milliseconds from the start of the day before
//                              0001-01-01)
//   time stamp                 16 bytes, the TSQLTimeStamp record
//   bytes                      Size + 1 bytes
//   var bytes                  Size + 1 bytes: a 2-byte length, then at most
//                              Size - 1 bytes (the engine's slot of the field is
//                              Size + 1 bytes, and the length travels in it)
//   BLOB kinds                 none: their data go through BLOB streams
// Getters zero their native buffer before asking the dataset, so a dataset that
// delivers a narrower value into a wider slot leaves no garbage behind.
//
// A null field reads as the empty text, 0, False or the zero date-time through
// the typed getters; AsVariant reads it as Null.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/DBCommon.h"
#include "rtl/Component.h"
#include "rtl/Currency.h"
#include "rtl/Variant.h"

namespace rtl {
class TStream;
}

namespace db {

class TDataSet;
class TField;

using TFieldNotifyEvent = std::function<void(TField& Sender)>;

// The platform's SQL time stamp.
struct TSQLTimeStamp {
  int16_t Year = 0;
  uint16_t Month = 0;
  uint16_t Day = 0;
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint32_t Fractions = 0;  // milliseconds
};
static_assert(sizeof(TSQLTimeStamp) == 16);

TSQLTimeStamp DateTimeToSQLTimeStamp(double dateTime);
double SQLTimeStampToDateTime(const TSQLTimeStamp& ts);

class TField : public rtl::TComponent {
 public:
  explicit TField(rtl::TComponent* AOwner);
  ~TField() override;

  // The dataset the field belongs to; setting it appends the field to that
  // dataset's Fields (which must be closed) and removes it from the former one.
  TDataSet* DataSet() const { return FDataSet; }
  void SetDataSet(TDataSet* ADataSet);

  const std::string& FieldName() const { return FFieldName; }
  void SetFieldName(const std::string& Value);
  const std::string& DisplayLabel() const { return FDisplayLabel; }
  void SetDisplayLabel(const std::string& Value) { FDisplayLabel = Value; }
  // DisplayLabel when set, else FieldName.
  const std::string& DisplayName() const;

  TFieldType DataType() const { return FDataType; }
  TFieldKind FieldKind() const { return FFieldKind; }
  void SetFieldKind(TFieldKind Value);
  bool Calculated() const { return FFieldKind == fkCalculated; }
  bool Lookup() const { return FFieldKind == fkLookup; }
  // 1-based number of the field's definition while bound; -1 for calculated and
  // lookup fields; 0 while not bound.
  int32_t FieldNo() const { return FFieldNo; }
  // Position of a calculated or lookup field's slot (flag byte, then value) in
  // the calculated-field area of a record buffer.
  int32_t Offset() const { return FOffset; }
  int32_t Size() const { return FSize; }
  void SetSize(int32_t Value);
  // Bytes of the native form (see the top of this file).
  virtual int32_t DataSize() const { return 0; }
  bool Required() const { return FRequired; }
  void SetRequired(bool Value) { FRequired = Value; }
  virtual bool IsBlob() const { return false; }
  // Position among the dataset's fields, -1 without a dataset.
  int32_t Index() const;

  // Lookup fields: the value of LookupResultField of the LookupDataSet record
  // whose LookupKeyFields equal this dataset's KeyFields.
  TDataSet* LookupDataSet() const { return FLookupDataSet; }
  void SetLookupDataSet(TDataSet* Value) { FLookupDataSet = Value; }
  const std::string& KeyFields() const { return FKeyFields; }
  void SetKeyFields(const std::string& Value) { FKeyFields = Value; }
  const std::string& LookupKeyFields() const { return FLookupKeyFields; }
  void SetLookupKeyFields(const std::string& Value) { FLookupKeyFields = Value; }
  const std::string& LookupResultField() const { return FLookupResultField; }
  void SetLookupResultField(const std::string& Value) { FLookupResultField = Value; }

  TFieldNotifyEvent OnValidate;

  // The field's bytes in the active buffer in native form (or, with
  // NativeFormat False, in the form the dataset's DataConvert gives); False when
  // the field is null. A nil Buffer only asks whether there is a value.
  bool GetData(void* Buffer, bool NativeFormat = true);
  // Stores native bytes (nil: null) through the dataset.
  void SetData(const void* Buffer, bool NativeFormat = true);
  // Runs OnValidate with the value about to be stored in Buffer; while it runs
  // the field reads that value.
  void Validate(const void* Buffer);

  bool IsNull();
  void Clear() { SetData(nullptr); }
  // The value before the current edit began (the dataset's dsOldValue buffer).
  rtl::Variant OldValue();

  virtual std::string AsString();
  virtual void SetAsString(const std::string& Value);
  virtual std::u16string AsWideString();
  virtual void SetAsWideString(const std::u16string& Value);
  virtual int32_t AsInteger();
  virtual void SetAsInteger(int32_t Value);
  virtual int64_t AsLargeInt();
  virtual void SetAsLargeInt(int64_t Value);
  virtual double AsFloat();
  virtual void SetAsFloat(double Value);
  virtual bool AsBoolean();
  virtual void SetAsBoolean(bool Value);
  virtual double AsDateTime();
  virtual void SetAsDateTime(double Value);
  virtual rtl::Currency AsCurrency();
  virtual void SetAsCurrency(rtl::Currency Value);
  // Null for a null field.
  virtual rtl::Variant AsVariant();
  // Null or Empty clears the field.
  void SetAsVariant(const rtl::Variant& Value);
  rtl::Variant Value() { return AsVariant(); }
  void SetValue(const rtl::Variant& Value) { SetAsVariant(Value); }

  // The platform's field assignment: nil clears, a field copies its value.
  virtual void Assign(TField* Source);

  // Lookup fields: fetch the value from the lookup dataset (in dsCalcFields).
  void CalcLookupValue();

 protected:
  friend class TDataSet;
  friend class TFields;
  friend TField* CreateDefaultField(TFieldType Type, rtl::TComponent* Owner);
  void SetDataType(TFieldType Value) { FDataType = Value; }
  [[noreturn]] void AccessError(const char* TypeName);
  virtual void SetVarValue(const rtl::Variant& Value);
  // Reads the native form into a zeroed buffer of DataSize bytes.
  bool GetNative(std::vector<uint8_t>& Buffer);
  void CheckDataSet() const;

 private:
  TDataSet* FDataSet = nullptr;
  std::string FFieldName;
  std::string FDisplayLabel;
  TFieldType FDataType = ftUnknown;
  TFieldKind FFieldKind = fkData;
  int32_t FFieldNo = 0;
  int32_t FOffset = 0;
  int32_t FSize = 0;
  bool FRequired = false;
  TDataSet* FLookupDataSet = nullptr;
  std::string FKeyFields;
  std::string FLookupKeyFields;
  std::string FLookupResultField;
  const void* FValueBuffer = nullptr;  // the value being validated
  bool FValidating = false;
};

// 8-bit text: ftString, ftFixedChar (FixedChar), and the base of GUID fields.
class TStringField : public TField {
 public:
  explicit TStringField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return Size() + 1; }
  bool FixedChar() const { return DataType() == ftFixedChar; }
  void SetFixedChar(bool Value) { SetDataType(Value ? ftFixedChar : ftString); }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t Value) override;
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t Value) override;
  double AsFloat() override;
  void SetAsFloat(double Value) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool Value) override;
  double AsDateTime() override;
  void SetAsDateTime(double Value) override;
  rtl::Currency AsCurrency() override;
  void SetAsCurrency(rtl::Currency Value) override;
  std::u16string AsWideString() override;
  void SetAsWideString(const std::u16string& Value) override;
  rtl::Variant AsVariant() override;

 protected:
  void SetVarValue(const rtl::Variant& Value) override;
  bool GetValue(std::string& Value);
};

class TGuidField : public TStringField {
 public:
  explicit TGuidField(rtl::TComponent* AOwner);
};

class TWideStringField : public TStringField {
 public:
  explicit TWideStringField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return (Size() + 1) * 2; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  std::u16string AsWideString() override;
  void SetAsWideString(const std::u16string& Value) override;
  rtl::Variant AsVariant() override;

 protected:
  void SetVarValue(const rtl::Variant& Value) override;
  bool GetWide(std::u16string& Value);
};

class TNumericField : public TField {
 public:
  using TField::TField;
};

// Signed 32-bit integers, and the base of the smaller kinds.
class TIntegerField : public TNumericField {
 public:
  explicit TIntegerField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return 4; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t Value) override;
  int64_t AsLargeInt() override { return AsInteger(); }
  void SetAsLargeInt(int64_t Value) override;
  double AsFloat() override { return AsInteger(); }
  void SetAsFloat(double Value) override;
  rtl::Variant AsVariant() override;
  // The range a value must lie in; both 0 means the type's own range.
  int32_t MinValue() const { return FMinValue; }
  int32_t MaxValue() const { return FMaxValue; }
  void SetMinValue(int32_t Value) { FMinValue = Value; }
  void SetMaxValue(int32_t Value) { FMaxValue = Value; }

 protected:
  void SetVarValue(const rtl::Variant& Value) override;
  virtual bool GetValue(int32_t& Value);
  virtual void StoreValue(int32_t Value);
  void CheckRange(int64_t Value, int64_t Min, int64_t Max);

 private:
  int32_t FMinValue = 0;
  int32_t FMaxValue = 0;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return 2; }

 protected:
  bool GetValue(int32_t& Value) override;
  void StoreValue(int32_t Value) override;
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return 2; }

 protected:
  bool GetValue(int32_t& Value) override;
  void StoreValue(int32_t Value) override;
};

class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(rtl::TComponent* AOwner);
};

class TLargeintField : public TNumericField {
 public:
  explicit TLargeintField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return 8; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t Value) override { SetAsLargeInt(Value); }
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t Value) override;
  double AsFloat() override { return static_cast<double>(AsLargeInt()); }
  void SetAsFloat(double Value) override;
  rtl::Variant AsVariant() override;

 protected:
  void SetVarValue(const rtl::Variant& Value) override;
  bool GetValue(int64_t& Value);
};

// Doubles; TCurrencyField and TBCDField keep a double amount too.
class TFloatField : public TNumericField {
 public:
  explicit TFloatField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return 8; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t Value) override { SetAsFloat(Value); }
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t Value) override { SetAsFloat(static_cast<double>(Value)); }
  double AsFloat() override;
  void SetAsFloat(double Value) override;
  rtl::Currency AsCurrency() override;
  void SetAsCurrency(rtl::Currency Value) override { SetAsFloat(Value.ToDouble()); }
  rtl::Variant AsVariant() override;
  bool Currency() const { return FCurrency; }
  void SetCurrency(bool Value) { FCurrency = Value; }

 protected:
  void SetVarValue(const rtl::Variant& Value) override;
  bool GetValue(double& Value);

 private:
  bool FCurrency = false;
};

class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(rtl::TComponent* AOwner);
  rtl::Variant AsVariant() override;
};

// Decimal numbers; stored as the engine stores them, a double amount, and read
// as money.
class TBCDField : public TFloatField {
 public:
  explicit TBCDField(rtl::TComponent* AOwner);
  int32_t Precision() const { return FPrecision; }
  void SetPrecision(int32_t Value) { FPrecision = Value; }
  rtl::Variant AsVariant() override;

 private:
  int32_t FPrecision = 0;
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return 2; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool Value) override;
  int32_t AsInteger() override { return AsBoolean() ? 1 : 0; }
  void SetAsInteger(int32_t Value) override { SetAsBoolean(Value != 0); }
  rtl::Variant AsVariant() override;

 protected:
  void SetVarValue(const rtl::Variant& Value) override;
  bool GetValue(bool& Value);
};

// ftDateTime, and the base of the date and time kinds; the value is a
// date-time (days since 1899-12-30, time as the fraction).
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return 8; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  double AsDateTime() override;
  void SetAsDateTime(double Value) override;
  double AsFloat() override { return AsDateTime(); }
  void SetAsFloat(double Value) override { SetAsDateTime(Value); }
  rtl::Variant AsVariant() override;

 protected:
  void SetVarValue(const rtl::Variant& Value) override;
  virtual bool GetValue(double& Value);
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return 4; }
  std::string AsString() override;
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return 4; }
  std::string AsString() override;
};

// ftTimeStamp: the non-native value is a TSQLTimeStamp; the dataset's
// DataConvert turns its own form into one.
class TSQLTimeStampField : public TDateTimeField {
 public:
  explicit TSQLTimeStampField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return sizeof(TSQLTimeStamp); }
  double AsDateTime() override;
  void SetAsDateTime(double Value) override;
  TSQLTimeStamp AsSQLTimeStamp();
  void SetAsSQLTimeStamp(const TSQLTimeStamp& Value);

 protected:
  bool GetValue(double& Value) override;
};

// Raw bytes; the value is the bytes as an 8-bit string.
class TBinaryField : public TField {
 public:
  using TField::TField;
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  rtl::Variant AsVariant() override;

 protected:
  void SetVarValue(const rtl::Variant& Value) override;
  virtual std::string ReadBytes(const std::vector<uint8_t>& Native) = 0;
  virtual void WriteBytes(const std::string& Value, std::vector<uint8_t>& Native) = 0;
};

class TBytesField : public TBinaryField {
 public:
  explicit TBytesField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return Size() + 1; }

 protected:
  std::string ReadBytes(const std::vector<uint8_t>& Native) override;
  void WriteBytes(const std::string& Value, std::vector<uint8_t>& Native) override;
};

class TVarBytesField : public TBinaryField {
 public:
  explicit TVarBytesField(rtl::TComponent* AOwner);
  int32_t DataSize() const override { return Size() + 1; }
  // The most bytes a value keeps; longer values are cut to it.
  int32_t Capacity() const { return Size() > 1 ? Size() - 1 : 0; }

 protected:
  std::string ReadBytes(const std::vector<uint8_t>& Native) override;
  void WriteBytes(const std::string& Value, std::vector<uint8_t>& Native) override;
};

// BLOB kinds: the value travels through the dataset's BLOB streams.
class TBlobField : public TField {
 public:
  explicit TBlobField(rtl::TComponent* AOwner);
  bool IsBlob() const override { return true; }
  // Set when data were written through a BLOB stream of the field.
  bool Modified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }
  int64_t BlobSize();
  void LoadFromStream(rtl::TStream& Stream);
  void SaveToStream(rtl::TStream& Stream);
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  std::u16string AsWideString() override;
  void SetAsWideString(const std::u16string& Value) override;
  rtl::Variant AsVariant() override;
  void Assign(TField* Source) override;

 protected:
  void SetVarValue(const rtl::Variant& Value) override;
  std::string ReadAll();
  void WriteAll(const void* Data, size_t Count);

 private:
  bool FModified = false;
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(rtl::TComponent* AOwner);
};

// UTF-16 text in its BLOB stream (2 bytes a character, no terminator).
class TWideMemoField : public TBlobField {
 public:
  explicit TWideMemoField(rtl::TComponent* AOwner);
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  std::u16string AsWideString() override;
  void SetAsWideString(const std::u16string& Value) override;
  rtl::Variant AsVariant() override;

 protected:
  void SetVarValue(const rtl::Variant& Value) override;
};

class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(rtl::TComponent* AOwner);
};

// The field class a dataset creates for a field type by default; nil for a
// type without one.
TField* CreateDefaultField(TFieldType Type, rtl::TComponent* Owner);

// The fields of one dataset, in order.
class TFields {
 public:
  explicit TFields(TDataSet* ADataSet) : FDataSet(ADataSet) {}
  int32_t Count() const { return static_cast<int32_t>(FList.size()); }
  TField* operator[](int32_t Index) const { return FList.at(static_cast<size_t>(Index)); }
  TField* FindField(std::string_view FieldName) const;
  TField* FieldByName(std::string_view FieldName) const;
  int32_t IndexOf(const TField* Field) const;
  const std::vector<TField*>& List() const { return FList; }

 private:
  friend class TField;
  friend class TDataSet;
  void Add(TField* Field);
  void Remove(TField* Field);
  TDataSet* FDataSet;
  std::vector<TField*> FList;
};

}  // namespace db
