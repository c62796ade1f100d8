#include "db/FieldDefs.h"

#include "db/DataSet.h"
#include "rtl/CodePage.h"
#include "rtl/Format.h"

namespace db {

namespace {
bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && rtl::AnsiUpperCase(a) == rtl::AnsiUpperCase(b);
}
}  // namespace

// --- TFieldDef ---

TFieldDef::TFieldDef(TFieldDefs* Owner, std::string Name, TFieldType DataType, int32_t Size,
                     bool Required, int32_t FieldNo)
    : FOwner(Owner),
      FName(std::move(Name)),
      FDataType(DataType),
      FSize(Size),
      FRequired(Required),
      FFieldNo(FieldNo) {}

void TFieldDef::Changed() {
  if (FOwner) FOwner->Changed();
}
void TFieldDef::SetName(const std::string& Value) {
  FName = Value;
  Changed();
}
void TFieldDef::SetDataType(TFieldType Value) {
  FDataType = Value;
  Changed();
}
void TFieldDef::SetSize(int32_t Value) {
  FSize = Value;
  Changed();
}
void TFieldDef::SetRequired(bool Value) {
  FRequired = Value;
  Changed();
}
void TFieldDef::SetPrecision(int32_t Value) {
  FPrecision = Value;
  Changed();
}

int32_t TFieldDef::Index() const {
  if (!FOwner) return -1;
  for (int32_t i = 0; i < FOwner->Count(); ++i)
    if ((*FOwner)[i] == this) return i;
  return -1;
}

TField* TFieldDef::CreateField(rtl::TComponent* Owner) {
  TField* field = CreateDefaultField(FDataType, Owner);
  if (field == nullptr) DatabaseError(rtl::Format(msg::UnknownFieldType, FName));
  try {
    field->SetSize(FSize);
    field->SetFieldName(FName);
    field->SetRequired(FRequired);
    if (FDataType == ftFixedChar) static_cast<TStringField*>(field)->SetFixedChar(true);
    if (FDataType == ftBCD) static_cast<TBCDField*>(field)->SetPrecision(FPrecision);
    field->SetDataSet(FOwner ? FOwner->DataSet() : nullptr);
  } catch (...) {
    delete field;
    throw;
  }
  return field;
}

void TFieldDef::Assign(const TFieldDef& Source) {
  FName = Source.FName;
  FDataType = Source.FDataType;
  FSize = Source.FSize;
  FRequired = Source.FRequired;
  FPrecision = Source.FPrecision;
  FFieldNo = Source.FFieldNo;
  Changed();
}

// --- TFieldDefs ---

// A change does not make the list stale: the dataset's own adjustments after
// reading it (sizes, for one) must not cause it to be read again.
void TFieldDefs::Changed() {
  if (FInternalUpdate == 0 && FDataSet) FDataSet->DefChanged(this);
}

TFieldDef* TFieldDefs::Add(const std::string& Name, TFieldType DataType, int32_t Size,
                           bool Required) {
  if (Name.empty()) DatabaseError("Field name missing", FDataSet);
  if (IndexOf(Name) >= 0) DatabaseError(rtl::Format(msg::DuplicateFieldName, Name), FDataSet);
  FItems.push_back(std::make_unique<TFieldDef>(this, Name, DataType, Size, Required, Count() + 1));
  Changed();
  return FItems.back().get();
}

TFieldDef* TFieldDefs::AddFieldDef() {
  FItems.push_back(std::make_unique<TFieldDef>(this, "", ftUnknown, 0, false, Count() + 1));
  Changed();
  return FItems.back().get();
}

void TFieldDefs::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", Index));
  FItems.erase(FItems.begin() + Index);
  Changed();
}

void TFieldDefs::Clear() {
  FItems.clear();
  Changed();
}

int32_t TFieldDefs::IndexOf(std::string_view Name) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (SameText(FItems[static_cast<size_t>(i)]->Name(), Name)) return i;
  return -1;
}

TFieldDef* TFieldDefs::FindDef(std::string_view Name) const {
  int32_t i = IndexOf(Name);
  return i < 0 ? nullptr : FItems[static_cast<size_t>(i)].get();
}

TFieldDef* TFieldDefs::Find(std::string_view Name) const {
  TFieldDef* def = FindDef(Name);
  if (def == nullptr) DatabaseError(rtl::Format(msg::FieldNotFound, Name), FDataSet);
  return def;
}

void TFieldDefs::Assign(const TFieldDefs& Source) {
  if (&Source == this) return;
  FItems.clear();
  for (const auto& item : Source.FItems) {
    FItems.push_back(std::make_unique<TFieldDef>(this, "", ftUnknown, 0, false, 0));
    FItems.back()->Assign(*item);
  }
  Changed();
}

void TFieldDefs::Update() {
  if (FUpdated || FDataSet == nullptr) return;
  ++FInternalUpdate;
  try {
    FDataSet->InitFieldDefs();
  } catch (...) {
    --FInternalUpdate;
    throw;
  }
  --FInternalUpdate;
  FUpdated = true;
}

// --- TIndexDefs ---

void TIndexDefs::Changed() {
  if (FInternalUpdate == 0 && FDataSet) FDataSet->DefChanged(this);
}
TIndexDef* TIndexDefs::Add(const std::string& Name, const std::string& Fields,
                           TIndexOptions Options) {
  FItems.push_back(std::make_unique<TIndexDef>(Name, Fields, Options));
  Changed();
  return FItems.back().get();
}

TIndexDef* TIndexDefs::AddIndexDef() {
  FItems.push_back(std::make_unique<TIndexDef>());
  Changed();
  return FItems.back().get();
}

void TIndexDefs::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", Index));
  FItems.erase(FItems.begin() + Index);
  Changed();
}

void TIndexDefs::Clear() {
  FItems.clear();
  Changed();
}

int32_t TIndexDefs::IndexOf(std::string_view Name) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (SameText(FItems[static_cast<size_t>(i)]->Name(), Name)) return i;
  return -1;
}

TIndexDef* TIndexDefs::FindDef(std::string_view Name) const {
  int32_t i = IndexOf(Name);
  return i < 0 ? nullptr : FItems[static_cast<size_t>(i)].get();
}

TIndexDef* TIndexDefs::Find(std::string_view Name) const {
  TIndexDef* def = FindDef(Name);
  if (def == nullptr) DatabaseError(rtl::Format(msg::IndexNotFound, Name), FDataSet);
  return def;
}

TIndexDef* TIndexDefs::GetIndexForFields(std::string_view Fields, bool CaseInsensitive) {
  Update();
  const size_t len = Fields.size();
  for (int pass = 0; pass < 2; ++pass) {
    const bool exact = pass == 0;
    for (const auto& def : FItems) {
      TIndexOptions opts = def->Options();
      if (opts.Contains(ixDescending) || opts.Contains(ixExpression)) continue;
      if (CaseInsensitive && !opts.Contains(ixCaseInsensitive)) continue;
      const std::string& f = def->Fields();
      if (exact) {
        if (SameText(Fields, f)) return def.get();
      } else if (len > 0 && f.size() > len &&
                 SameText(Fields, std::string_view(f).substr(0, len)) && f[len] == ';') {
        return def.get();
      }
    }
  }
  return nullptr;
}

TIndexDef* TIndexDefs::FindIndexForFields(std::string_view Fields) {
  TIndexDef* def = GetIndexForFields(Fields, false);
  if (def == nullptr) DatabaseError(rtl::Format(msg::NoIndexForFields, Fields), FDataSet);
  return def;
}

void TIndexDefs::Assign(const TIndexDefs& Source) {
  if (&Source == this) return;
  FItems.clear();
  for (const auto& item : Source.FItems) FItems.push_back(std::make_unique<TIndexDef>(*item));
  Changed();
}

void TIndexDefs::Update() {
  if (FUpdated || FDataSet == nullptr) return;
  ++FInternalUpdate;
  try {
    FDataSet->UpdateIndexDefs();
  } catch (...) {
    --FInternalUpdate;
    throw;
  }
  --FInternalUpdate;
  FUpdated = true;
}

}  // namespace db
