#include "db/Fields.h"

#include <cmath>
#include <cstring>

#include "db/DataSet.h"
#include "rtl/CodePage.h"
#include "rtl/DateText.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/NumberText.h"
#include "rtl/ScopeGuard.h"
#include "rtl/Stream.h"

namespace db {

namespace {
bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && rtl::AnsiUpperCase(a) == rtl::AnsiUpperCase(b);
}

template <class T>
T ReadAs(const std::vector<uint8_t>& b) {
  T v;
  std::memcpy(&v, b.data(), sizeof v);
  return v;
}
}  // namespace

TSQLTimeStamp DateTimeToSQLTimeStamp(double dateTime) {
  TSQLTimeStamp ts;
  int y, m, d, h, n, s, ms;
  rtl::DecodeDate(dateTime, y, m, d);
  rtl::DecodeTime(dateTime, h, n, s, ms);
  ts.Year = static_cast<int16_t>(y);
  ts.Month = static_cast<uint16_t>(m);
  ts.Day = static_cast<uint16_t>(d);
  ts.Hour = static_cast<uint16_t>(h);
  ts.Minute = static_cast<uint16_t>(n);
  ts.Second = static_cast<uint16_t>(s);
  ts.Fractions = static_cast<uint32_t>(ms);
  return ts;
}

double SQLTimeStampToDateTime(const TSQLTimeStamp& ts) {
  if (ts.Year == 0 && ts.Month == 0 && ts.Day == 0) return 0;
  double date = rtl::EncodeDate(ts.Year, ts.Month, ts.Day);
  double time = rtl::EncodeTime(ts.Hour, ts.Minute, ts.Second, static_cast<int>(ts.Fractions));
  return date >= 0 ? date + time : date - time;
}

// ========================================================================= TField

TField::TField(rtl::TComponent* AOwner) : rtl::TComponent(AOwner) {}

TField::~TField() {
  if (FDataSet) FDataSet->FFields.Remove(this);
}

void TField::CheckDataSet() const {
  if (FDataSet == nullptr) DatabaseError(rtl::Format(msg::DataSetMissing, DisplayName()));
}

void TField::SetDataSet(TDataSet* ADataSet) {
  if (ADataSet == FDataSet) return;
  if (FDataSet) FDataSet->CheckInactive();
  if (ADataSet) {
    ADataSet->CheckInactive();
    if (!FFieldName.empty() && ADataSet->FindField(FFieldName))
      DatabaseError(rtl::Format(msg::DuplicateFieldName, FFieldName), ADataSet);
  }
  if (FDataSet) FDataSet->FFields.Remove(this);
  FDataSet = ADataSet;
  if (FDataSet) FDataSet->FFields.Add(this);
}

void TField::SetFieldName(const std::string& Value) {
  if (FDataSet && !SameText(Value, FFieldName) && FDataSet->FindField(Value))
    DatabaseError(rtl::Format(msg::DuplicateFieldName, Value), FDataSet);
  FFieldName = Value;
}

const std::string& TField::DisplayName() const {
  return FDisplayLabel.empty() ? FFieldName : FDisplayLabel;
}

void TField::SetFieldKind(TFieldKind Value) {
  if (FDataSet) FDataSet->CheckInactive();
  FFieldKind = Value;
}

void TField::SetSize(int32_t Value) {
  if (FDataSet) FDataSet->CheckInactive();
  FSize = Value;
}

int32_t TField::Index() const { return FDataSet ? FDataSet->FFields.IndexOf(this) : -1; }

bool TField::GetData(void* Buffer, bool NativeFormat) {
  CheckDataSet();
  if (FValidating) {
    // OnValidate reads the value about to be stored.
    if (FValueBuffer == nullptr) return false;
    if (Buffer) {
      if (NativeFormat)
        std::memcpy(Buffer, FValueBuffer, static_cast<size_t>(DataSize()));
      else
        FDataSet->DataConvert(this, FValueBuffer, Buffer, false);
    }
    return true;
  }
  return FDataSet->GetFieldData(this, Buffer, NativeFormat);
}

void TField::SetData(const void* Buffer, bool NativeFormat) {
  CheckDataSet();
  FDataSet->SetFieldData(this, Buffer, NativeFormat);
}

void TField::Validate(const void* Buffer) {
  if (!OnValidate) return;
  FValueBuffer = Buffer;
  FValidating = true;
  rtl::ScopeExit reset([this] {
    FValidating = false;
    FValueBuffer = nullptr;
  });
  OnValidate(*this);
}

bool TField::GetNative(std::vector<uint8_t>& Buffer) {
  Buffer.assign(static_cast<size_t>(std::max(DataSize(), 1)), 0);
  return GetData(Buffer.data());
}

bool TField::IsNull() { return !GetData(nullptr); }

rtl::Variant TField::OldValue() {
  CheckDataSet();
  TDataSetState saved = FDataSet->SetTempState(dsOldValue);
  rtl::ScopeExit restore([dataSet = FDataSet, saved] { dataSet->RestoreState(saved); });
  return AsVariant();
}

void TField::AccessError(const char* TypeName) {
  DatabaseError(rtl::Format(msg::FieldAccessError, DisplayName(), TypeName));
}

std::string TField::AsString() { AccessError("String"); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
std::u16string TField::AsWideString() { return rtl::Win1252ToUtf16(AsString()); }
void TField::SetAsWideString(const std::u16string& Value) {
  SetAsString(rtl::Utf16ToWin1252(Value));
}
int32_t TField::AsInteger() { AccessError("Integer"); }
void TField::SetAsInteger(int32_t) { AccessError("Integer"); }
int64_t TField::AsLargeInt() { AccessError("LargeInt"); }
void TField::SetAsLargeInt(int64_t) { AccessError("LargeInt"); }
double TField::AsFloat() { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::AsBoolean() { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
double TField::AsDateTime() { AccessError("DateTime"); }
void TField::SetAsDateTime(double) { AccessError("DateTime"); }
rtl::Currency TField::AsCurrency() { return rtl::Currency::FromDouble(AsFloat()); }
void TField::SetAsCurrency(rtl::Currency Value) { SetAsFloat(Value.ToDouble()); }
rtl::Variant TField::AsVariant() { AccessError("Variant"); }
void TField::SetVarValue(const rtl::Variant&) { AccessError("Variant"); }

void TField::SetAsVariant(const rtl::Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty())
    Clear();
  else
    SetVarValue(Value);
}

void TField::Assign(TField* Source) {
  if (Source == nullptr)
    Clear();
  else
    SetAsVariant(Source->AsVariant());
}

void TField::CalcLookupValue() {
  if (FLookupDataSet == nullptr || FLookupKeyFields.empty() || FLookupResultField.empty() ||
      FKeyFields.empty())
    DatabaseError(rtl::Format(msg::LookupInfoError, DisplayName()), FDataSet);
  if (FLookupDataSet->Active())
    SetAsVariant(FLookupDataSet->Lookup(FLookupKeyFields, FDataSet->FieldValues(FKeyFields),
                                        FLookupResultField));
}

// ========================================================================= TFields

TField* TFields::FindField(std::string_view FieldName) const {
  for (TField* f : FList)
    if (SameText(f->FieldName(), FieldName)) return f;
  return nullptr;
}

TField* TFields::FieldByName(std::string_view FieldName) const {
  TField* f = FindField(FieldName);
  if (f == nullptr) DatabaseError(rtl::Format(msg::FieldNotFound, FieldName), FDataSet);
  return f;
}

int32_t TFields::IndexOf(const TField* Field) const {
  for (size_t i = 0; i < FList.size(); ++i)
    if (FList[i] == Field) return static_cast<int32_t>(i);
  return -1;
}

void TFields::Add(TField* Field) { FList.push_back(Field); }

void TFields::Remove(TField* Field) {
  for (auto it = FList.begin(); it != FList.end(); ++it)
    if (*it == Field) {
      FList.erase(it);
      return;
    }
}

// =================================================================== TStringField

TStringField::TStringField(rtl::TComponent* AOwner) : TField(AOwner) {
  SetDataType(ftString);
  SetSize(20);
}

bool TStringField::GetValue(std::string& Value) {
  std::vector<uint8_t> b;
  if (!GetNative(b)) {
    Value.clear();
    return false;
  }
  b.back() = 0;  // a full slot still ends the text
  Value.assign(reinterpret_cast<const char*>(b.data()));
  return true;
}

std::string TStringField::AsString() {
  std::string v;
  GetValue(v);
  return v;
}

void TStringField::SetAsString(const std::string& Value) {
  std::vector<uint8_t> b(static_cast<size_t>(DataSize()), 0);
  // Longer text is cut to the field's size, as the platform does.
  size_t n = std::min(Value.size(), static_cast<size_t>(Size()));
  std::memcpy(b.data(), Value.data(), n);
  SetData(b.data());
}

int32_t TStringField::AsInteger() { return rtl::StrToInt(AsString()); }
void TStringField::SetAsInteger(int32_t Value) { SetAsString(rtl::IntToStr(Value)); }
int64_t TStringField::AsLargeInt() { return rtl::StrToInt64(AsString()); }
void TStringField::SetAsLargeInt(int64_t Value) { SetAsString(rtl::IntToStr(Value)); }
double TStringField::AsFloat() { return static_cast<double>(rtl::StrToFloat(AsString())); }
void TStringField::SetAsFloat(double Value) { SetAsString(rtl::FloatToStr(Value)); }
double TStringField::AsDateTime() { return rtl::StrToDateTime(AsString()); }
void TStringField::SetAsDateTime(double Value) { SetAsString(rtl::DateTimeToStr(Value)); }
rtl::Currency TStringField::AsCurrency() { return rtl::StrToCurr(AsString()); }
void TStringField::SetAsCurrency(rtl::Currency Value) { SetAsString(rtl::CurrToStr(Value)); }
std::u16string TStringField::AsWideString() { return rtl::Win1252ToUtf16(AsString()); }
void TStringField::SetAsWideString(const std::u16string& Value) {
  SetAsString(rtl::Utf16ToWin1252(Value));
}

bool TStringField::AsBoolean() {
  std::string s = AsString();
  if (s.empty()) return false;
  char c = rtl::AnsiUpperChar(s[0]);
  return c == 'T' || c == 'Y';
}

void TStringField::SetAsBoolean(bool Value) { SetAsString(Value ? "T" : "F"); }

rtl::Variant TStringField::AsVariant() {
  std::string v;
  if (!GetValue(v)) return rtl::Variant::Null();
  return rtl::Variant(v);
}

void TStringField::SetVarValue(const rtl::Variant& Value) { SetAsString(Value.AsString()); }

TGuidField::TGuidField(rtl::TComponent* AOwner) : TStringField(AOwner) {
  SetDataType(ftGuid);
  SetSize(38);
}

// =============================================================== TWideStringField

TWideStringField::TWideStringField(rtl::TComponent* AOwner) : TStringField(AOwner) {
  SetDataType(ftWideString);
}

bool TWideStringField::GetWide(std::u16string& Value) {
  std::vector<uint8_t> b;
  Value.clear();
  if (!GetNative(b)) return false;
  size_t units = b.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    char16_t c;
    std::memcpy(&c, b.data() + i * 2, 2);
    if (c == 0) break;
    Value.push_back(c);
  }
  return true;
}

std::u16string TWideStringField::AsWideString() {
  std::u16string v;
  GetWide(v);
  return v;
}

void TWideStringField::SetAsWideString(const std::u16string& Value) {
  std::vector<uint8_t> b(static_cast<size_t>(DataSize()), 0);
  size_t n = std::min(Value.size(), static_cast<size_t>(Size()));
  std::memcpy(b.data(), Value.data(), n * 2);
  SetData(b.data());
}

std::string TWideStringField::AsString() { return rtl::Utf16ToWin1252(AsWideString()); }
void TWideStringField::SetAsString(const std::string& Value) {
  SetAsWideString(rtl::Win1252ToUtf16(Value));
}

rtl::Variant TWideStringField::AsVariant() {
  std::u16string v;
  if (!GetWide(v)) return rtl::Variant::Null();
  return rtl::Variant(v);
}

void TWideStringField::SetVarValue(const rtl::Variant& Value) {
  SetAsWideString(Value.AsWideString());
}

// ================================================================== TIntegerField

TIntegerField::TIntegerField(rtl::TComponent* AOwner) : TNumericField(AOwner) {
  SetDataType(ftInteger);
}

bool TIntegerField::GetValue(int32_t& Value) {
  std::vector<uint8_t> b;
  bool ok = GetNative(b);
  Value = ok ? ReadAs<int32_t>(b) : 0;
  return ok;
}

void TIntegerField::StoreValue(int32_t Value) { SetData(&Value); }

void TIntegerField::CheckRange(int64_t Value, int64_t Min, int64_t Max) {
  if (FMinValue != 0 || FMaxValue != 0) {
    Min = FMinValue;
    Max = FMaxValue;
  }
  if (Value < Min || Value > Max)
    DatabaseError(rtl::Format(msg::FieldRangeError, rtl::IntToStr(Value), DisplayName(),
                              rtl::IntToStr(Min), rtl::IntToStr(Max)));
}

int32_t TIntegerField::AsInteger() {
  int32_t v;
  GetValue(v);
  return v;
}

void TIntegerField::SetAsInteger(int32_t Value) {
  int64_t min = INT32_MIN, max = INT32_MAX;
  if (DataType() == ftSmallint) min = INT16_MIN, max = INT16_MAX;
  if (DataType() == ftWord) min = 0, max = UINT16_MAX;
  CheckRange(Value, min, max);
  StoreValue(Value);
}

void TIntegerField::SetAsLargeInt(int64_t Value) {
  CheckRange(Value, INT32_MIN, INT32_MAX);
  SetAsInteger(static_cast<int32_t>(Value));
}

void TIntegerField::SetAsFloat(double Value) {
  double r = std::nearbyint(Value);
  if (!(r >= INT32_MIN && r <= INT32_MAX))
    DatabaseError(rtl::Format(msg::FieldRangeError, rtl::FloatToStr(Value), DisplayName(),
                              rtl::IntToStr(INT32_MIN), rtl::IntToStr(INT32_MAX)));
  SetAsInteger(static_cast<int32_t>(r));
}

std::string TIntegerField::AsString() {
  int32_t v;
  return GetValue(v) ? rtl::IntToStr(v) : std::string();
}

void TIntegerField::SetAsString(const std::string& Value) {
  if (Value.empty())
    Clear();
  else
    SetAsLargeInt(rtl::StrToInt64(Value));
}

rtl::Variant TIntegerField::AsVariant() {
  int32_t v;
  if (!GetValue(v)) return rtl::Variant::Null();
  return rtl::Variant(v);
}

void TIntegerField::SetVarValue(const rtl::Variant& Value) { SetAsLargeInt(Value.AsInt64()); }

TSmallintField::TSmallintField(rtl::TComponent* AOwner) : TIntegerField(AOwner) {
  SetDataType(ftSmallint);
}

bool TSmallintField::GetValue(int32_t& Value) {
  std::vector<uint8_t> b;
  bool ok = GetNative(b);
  Value = ok ? ReadAs<int16_t>(b) : 0;
  return ok;
}

void TSmallintField::StoreValue(int32_t Value) {
  int16_t v = static_cast<int16_t>(Value);
  SetData(&v);
}

TWordField::TWordField(rtl::TComponent* AOwner) : TIntegerField(AOwner) { SetDataType(ftWord); }

bool TWordField::GetValue(int32_t& Value) {
  std::vector<uint8_t> b;
  bool ok = GetNative(b);
  Value = ok ? ReadAs<uint16_t>(b) : 0;
  return ok;
}

void TWordField::StoreValue(int32_t Value) {
  uint16_t v = static_cast<uint16_t>(Value);
  SetData(&v);
}

TAutoIncField::TAutoIncField(rtl::TComponent* AOwner) : TIntegerField(AOwner) {
  SetDataType(ftAutoInc);
}

// ================================================================= TLargeintField

TLargeintField::TLargeintField(rtl::TComponent* AOwner) : TNumericField(AOwner) {
  SetDataType(ftLargeint);
}

bool TLargeintField::GetValue(int64_t& Value) {
  std::vector<uint8_t> b;
  bool ok = GetNative(b);
  Value = ok ? ReadAs<int64_t>(b) : 0;
  return ok;
}

int64_t TLargeintField::AsLargeInt() {
  int64_t v;
  GetValue(v);
  return v;
}

int32_t TLargeintField::AsInteger() {
  int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX)
    DatabaseError(rtl::Format(msg::FieldRangeError, rtl::IntToStr(v), DisplayName(),
                              rtl::IntToStr(INT32_MIN), rtl::IntToStr(INT32_MAX)));
  return static_cast<int32_t>(v);
}

void TLargeintField::SetAsLargeInt(int64_t Value) { SetData(&Value); }

void TLargeintField::SetAsFloat(double Value) {
  double r = std::nearbyint(Value);
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
    DatabaseError(rtl::Format(msg::FieldRangeError, rtl::FloatToStr(Value), DisplayName(),
                              rtl::IntToStr(INT64_MIN), rtl::IntToStr(INT64_MAX)));
  SetAsLargeInt(static_cast<int64_t>(r));
}

std::string TLargeintField::AsString() {
  int64_t v;
  return GetValue(v) ? rtl::IntToStr(v) : std::string();
}

void TLargeintField::SetAsString(const std::string& Value) {
  if (Value.empty())
    Clear();
  else
    SetAsLargeInt(rtl::StrToInt64(Value));
}

rtl::Variant TLargeintField::AsVariant() {
  int64_t v;
  if (!GetValue(v)) return rtl::Variant::Null();
  return rtl::Variant(v);
}

void TLargeintField::SetVarValue(const rtl::Variant& Value) { SetAsLargeInt(Value.AsInt64()); }

// ==================================================================== TFloatField

TFloatField::TFloatField(rtl::TComponent* AOwner) : TNumericField(AOwner) { SetDataType(ftFloat); }

bool TFloatField::GetValue(double& Value) {
  std::vector<uint8_t> b;
  bool ok = GetNative(b);
  Value = ok ? ReadAs<double>(b) : 0;
  return ok;
}

double TFloatField::AsFloat() {
  double v;
  GetValue(v);
  return v;
}

void TFloatField::SetAsFloat(double Value) { SetData(&Value); }

int32_t TFloatField::AsInteger() {
  double r = std::nearbyint(AsFloat());
  if (!(r >= INT32_MIN && r <= INT32_MAX))
    DatabaseError(rtl::Format(msg::FieldRangeError, rtl::FloatToStr(r), DisplayName(),
                              rtl::IntToStr(INT32_MIN), rtl::IntToStr(INT32_MAX)));
  return static_cast<int32_t>(r);
}

int64_t TFloatField::AsLargeInt() {
  double r = std::nearbyint(AsFloat());
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
    DatabaseError(rtl::Format(msg::FieldRangeError, rtl::FloatToStr(r), DisplayName(),
                              rtl::IntToStr(INT64_MIN), rtl::IntToStr(INT64_MAX)));
  return static_cast<int64_t>(r);
}

rtl::Currency TFloatField::AsCurrency() { return rtl::Currency::FromDouble(AsFloat()); }

std::string TFloatField::AsString() {
  double v;
  return GetValue(v) ? rtl::FloatToStr(v) : std::string();
}

void TFloatField::SetAsString(const std::string& Value) {
  if (Value.empty())
    Clear();
  else
    SetAsFloat(static_cast<double>(rtl::StrToFloat(Value)));
}

rtl::Variant TFloatField::AsVariant() {
  double v;
  if (!GetValue(v)) return rtl::Variant::Null();
  return rtl::Variant(v);
}

void TFloatField::SetVarValue(const rtl::Variant& Value) { SetAsFloat(Value.AsDouble()); }

TCurrencyField::TCurrencyField(rtl::TComponent* AOwner) : TFloatField(AOwner) {
  SetDataType(ftCurrency);
  SetCurrency(true);
}

rtl::Variant TCurrencyField::AsVariant() {
  if (IsNull()) return rtl::Variant::Null();
  return rtl::Variant(AsCurrency());
}

TBCDField::TBCDField(rtl::TComponent* AOwner) : TFloatField(AOwner) {
  SetDataType(ftBCD);
  SetSize(4);
}

rtl::Variant TBCDField::AsVariant() {
  if (IsNull()) return rtl::Variant::Null();
  return rtl::Variant(AsCurrency());
}

// ================================================================== TBooleanField

TBooleanField::TBooleanField(rtl::TComponent* AOwner) : TField(AOwner) { SetDataType(ftBoolean); }

bool TBooleanField::GetValue(bool& Value) {
  std::vector<uint8_t> b;
  bool ok = GetNative(b);
  Value = ok && ReadAs<uint16_t>(b) != 0;
  return ok;
}

bool TBooleanField::AsBoolean() {
  bool v;
  GetValue(v);
  return v;
}

void TBooleanField::SetAsBoolean(bool Value) {
  // True is stored as all bits set, as the platform's 16-bit boolean.
  uint16_t v = Value ? 0xFFFF : 0;
  SetData(&v);
}

std::string TBooleanField::AsString() {
  bool v;
  if (!GetValue(v)) return std::string();
  return v ? "True" : "False";
}

void TBooleanField::SetAsString(const std::string& Value) {
  if (Value.empty()) {
    Clear();
    return;
  }
  std::string u = rtl::AnsiUpperCase(Value);
  if (u == "TRUE" || u == "T" || u == "YES" || u == "Y" || u == "1")
    SetAsBoolean(true);
  else if (u == "FALSE" || u == "F" || u == "NO" || u == "N" || u == "0")
    SetAsBoolean(false);
  else
    DatabaseError(rtl::Format(msg::InvalidBoolValue, Value, DisplayName()));
}

rtl::Variant TBooleanField::AsVariant() {
  bool v;
  if (!GetValue(v)) return rtl::Variant::Null();
  return rtl::Variant(v);
}

void TBooleanField::SetVarValue(const rtl::Variant& Value) { SetAsBoolean(Value.AsBoolean()); }

// ================================================================= TDateTimeField

TDateTimeField::TDateTimeField(rtl::TComponent* AOwner) : TField(AOwner) {
  SetDataType(ftDateTime);
}

bool TDateTimeField::GetValue(double& Value) {
  Value = 0;
  std::vector<uint8_t> b(16, 0);
  if (!GetData(b.data(), false)) return false;
  Value = ReadAs<double>(b);
  return true;
}

double TDateTimeField::AsDateTime() {
  double v;
  GetValue(v);
  return v;
}

void TDateTimeField::SetAsDateTime(double Value) { SetData(&Value, false); }

std::string TDateTimeField::AsString() {
  double v;
  return GetValue(v) ? rtl::DateTimeToStr(v) : std::string();
}

void TDateTimeField::SetAsString(const std::string& Value) {
  if (Value.empty()) {
    Clear();
    return;
  }
  switch (DataType()) {
    case ftDate:
      SetAsDateTime(rtl::StrToDate(Value));
      break;
    case ftTime:
      SetAsDateTime(rtl::StrToTime(Value));
      break;
    default:
      SetAsDateTime(rtl::StrToDateTime(Value));
      break;
  }
}

rtl::Variant TDateTimeField::AsVariant() {
  double v;
  if (!GetValue(v)) return rtl::Variant::Null();
  return rtl::Variant::FromDate(v);
}

void TDateTimeField::SetVarValue(const rtl::Variant& Value) { SetAsDateTime(Value.AsDateTime()); }

TDateField::TDateField(rtl::TComponent* AOwner) : TDateTimeField(AOwner) { SetDataType(ftDate); }

std::string TDateField::AsString() {
  return IsNull() ? std::string() : rtl::DateToStr(AsDateTime());
}

TTimeField::TTimeField(rtl::TComponent* AOwner) : TDateTimeField(AOwner) { SetDataType(ftTime); }

std::string TTimeField::AsString() {
  return IsNull() ? std::string() : rtl::TimeToStr(AsDateTime());
}

TSQLTimeStampField::TSQLTimeStampField(rtl::TComponent* AOwner) : TDateTimeField(AOwner) {
  SetDataType(ftTimeStamp);
}

TSQLTimeStamp TSQLTimeStampField::AsSQLTimeStamp() {
  TSQLTimeStamp ts;
  GetData(&ts, false);
  return ts;
}

void TSQLTimeStampField::SetAsSQLTimeStamp(const TSQLTimeStamp& Value) { SetData(&Value, false); }

bool TSQLTimeStampField::GetValue(double& Value) {
  TSQLTimeStamp ts;
  Value = 0;
  if (!GetData(&ts, false)) return false;
  Value = SQLTimeStampToDateTime(ts);
  return true;
}

double TSQLTimeStampField::AsDateTime() {
  double v;
  GetValue(v);
  return v;
}

void TSQLTimeStampField::SetAsDateTime(double Value) {
  SetAsSQLTimeStamp(DateTimeToSQLTimeStamp(Value));
}

// ========================================================== TBytesField, TVarBytes

std::string TBinaryField::AsString() {
  std::vector<uint8_t> b;
  if (!GetNative(b)) return std::string();
  return ReadBytes(b);
}

void TBinaryField::SetAsString(const std::string& Value) {
  std::vector<uint8_t> b(static_cast<size_t>(DataSize()), 0);
  WriteBytes(Value, b);
  SetData(b.data());
}

rtl::Variant TBinaryField::AsVariant() {
  std::vector<uint8_t> b;
  if (!GetNative(b)) return rtl::Variant::Null();
  return rtl::Variant(ReadBytes(b));
}

void TBinaryField::SetVarValue(const rtl::Variant& Value) { SetAsString(Value.AsString()); }

TBytesField::TBytesField(rtl::TComponent* AOwner) : TBinaryField(AOwner) {
  SetDataType(ftBytes);
  SetSize(16);
}

std::string TBytesField::ReadBytes(const std::vector<uint8_t>& Native) {
  return std::string(reinterpret_cast<const char*>(Native.data()), static_cast<size_t>(Size()));
}

void TBytesField::WriteBytes(const std::string& Value, std::vector<uint8_t>& Native) {
  std::memcpy(Native.data(), Value.data(), std::min(Value.size(), static_cast<size_t>(Size())));
}

TVarBytesField::TVarBytesField(rtl::TComponent* AOwner) : TBinaryField(AOwner) {
  SetDataType(ftVarBytes);
  SetSize(16);
}

std::string TVarBytesField::ReadBytes(const std::vector<uint8_t>& Native) {
  if (Native.size() < 2) return std::string();  // a field of size 0 holds nothing
  uint16_t len;
  std::memcpy(&len, Native.data(), 2);
  // A damaged length must not read past the slot.
  len = static_cast<uint16_t>(std::min<size_t>(len, static_cast<size_t>(Capacity())));
  return std::string(reinterpret_cast<const char*>(Native.data()) + 2, len);
}

void TVarBytesField::WriteBytes(const std::string& Value, std::vector<uint8_t>& Native) {
  if (Native.size() < 2) return;
  uint16_t len = static_cast<uint16_t>(std::min(Value.size(), static_cast<size_t>(Capacity())));
  std::memcpy(Native.data(), &len, 2);
  std::memcpy(Native.data() + 2, Value.data(), len);
}

// ===================================================================== TBlobField

TBlobField::TBlobField(rtl::TComponent* AOwner) : TField(AOwner) { SetDataType(ftBlob); }

std::string TBlobField::ReadAll() {
  CheckDataSet();
  std::unique_ptr<rtl::TStream> s = DataSet()->CreateBlobStream(this, bmRead);
  std::string data(static_cast<size_t>(s->Size()), '\0');
  s->SetPosition(0);
  if (!data.empty()) s->ReadBuffer(data.data(), static_cast<int32_t>(data.size()));
  return data;
}

void TBlobField::WriteAll(const void* Data, size_t Count) {
  CheckDataSet();
  std::unique_ptr<rtl::TStream> s = DataSet()->CreateBlobStream(this, bmWrite);
  if (Count > 0) s->WriteBuffer(Data, static_cast<int32_t>(Count));
}

int64_t TBlobField::BlobSize() {
  CheckDataSet();
  return DataSet()->CreateBlobStream(this, bmRead)->Size();
}

void TBlobField::LoadFromStream(rtl::TStream& Stream) {
  CheckDataSet();
  std::unique_ptr<rtl::TStream> s = DataSet()->CreateBlobStream(this, bmWrite);
  s->CopyFrom(Stream, 0);
}

void TBlobField::SaveToStream(rtl::TStream& Stream) {
  CheckDataSet();
  std::unique_ptr<rtl::TStream> s = DataSet()->CreateBlobStream(this, bmRead);
  if (s->Size() > 0) Stream.CopyFrom(*s, 0);
}

std::string TBlobField::AsString() { return ReadAll(); }
void TBlobField::SetAsString(const std::string& Value) { WriteAll(Value.data(), Value.size()); }
std::u16string TBlobField::AsWideString() { return rtl::Win1252ToUtf16(AsString()); }
void TBlobField::SetAsWideString(const std::u16string& Value) {
  SetAsString(rtl::Utf16ToWin1252(Value));
}

rtl::Variant TBlobField::AsVariant() {
  if (IsNull()) return rtl::Variant::Null();
  return rtl::Variant(ReadAll());
}

void TBlobField::SetVarValue(const rtl::Variant& Value) { SetAsString(Value.AsString()); }

void TBlobField::Assign(TField* Source) {
  auto* blob = dynamic_cast<TBlobField*>(Source);
  if (blob == nullptr || blob->DataSet() == nullptr) {
    TField::Assign(Source);
    return;
  }
  std::unique_ptr<rtl::TStream> from = blob->DataSet()->CreateBlobStream(blob, bmRead);
  std::unique_ptr<rtl::TStream> to = DataSet()->CreateBlobStream(this, bmWrite);
  if (from->Size() > 0) to->CopyFrom(*from, 0);
}

TMemoField::TMemoField(rtl::TComponent* AOwner) : TBlobField(AOwner) { SetDataType(ftMemo); }

TGraphicField::TGraphicField(rtl::TComponent* AOwner) : TBlobField(AOwner) {
  SetDataType(ftGraphic);
}

TWideMemoField::TWideMemoField(rtl::TComponent* AOwner) : TBlobField(AOwner) {
  SetDataType(ftWideMemo);
}

std::u16string TWideMemoField::AsWideString() {
  std::string bytes = ReadAll();
  std::u16string text(bytes.size() / 2, u'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * 2);
  return text;
}

void TWideMemoField::SetAsWideString(const std::u16string& Value) {
  WriteAll(Value.data(), Value.size() * 2);
}

std::string TWideMemoField::AsString() { return rtl::Utf16ToWin1252(AsWideString()); }
void TWideMemoField::SetAsString(const std::string& Value) {
  SetAsWideString(rtl::Win1252ToUtf16(Value));
}

rtl::Variant TWideMemoField::AsVariant() {
  if (IsNull()) return rtl::Variant::Null();
  return rtl::Variant(AsWideString());
}

void TWideMemoField::SetVarValue(const rtl::Variant& Value) {
  SetAsWideString(Value.AsWideString());
}

// ================================================================== field classes

TField* CreateDefaultField(TFieldType Type, rtl::TComponent* Owner) {
  switch (Type) {
    case ftString:
    case ftFixedChar:
      return new TStringField(Owner);
    case ftWideString:
      return new TWideStringField(Owner);
    case ftGuid:
      return new TGuidField(Owner);
    case ftSmallint:
      return new TSmallintField(Owner);
    case ftInteger:
      return new TIntegerField(Owner);
    case ftWord:
      return new TWordField(Owner);
    case ftAutoInc:
      return new TAutoIncField(Owner);
    case ftLargeint:
      return new TLargeintField(Owner);
    case ftBoolean:
      return new TBooleanField(Owner);
    case ftFloat:
      return new TFloatField(Owner);
    case ftCurrency:
      return new TCurrencyField(Owner);
    case ftBCD:
      return new TBCDField(Owner);
    case ftDate:
      return new TDateField(Owner);
    case ftTime:
      return new TTimeField(Owner);
    case ftDateTime:
      return new TDateTimeField(Owner);
    case ftTimeStamp:
      return new TSQLTimeStampField(Owner);
    case ftBytes:
      return new TBytesField(Owner);
    case ftVarBytes:
      return new TVarBytesField(Owner);
    case ftMemo:
    case ftOraClob:
      return new TMemoField(Owner);
    case ftWideMemo:
      return new TWideMemoField(Owner);
    case ftGraphic:
      return new TGraphicField(Owner);
    case ftBlob:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob: {
      auto* f = new TBlobField(Owner);
      f->SetDataType(Type);
      return f;
    }
    default:
      return nullptr;
  }
}

}  // namespace db
