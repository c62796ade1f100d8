#include "components/VEXAdvDefs.h"

#include "db/DataSet.h"
#include "db/FieldDefs.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "rtl/Lists.h"
#include "text/Text.h"

namespace vex {
namespace {

bool SameTextLocale(std::string_view A, std::string_view B) {
  return text::CompareAnsi(A, B, true) == text::Order::Equal;
}

template <class T>
void CheckListIndex(const std::vector<std::unique_ptr<T>>& List, int32_t Index) {
  if (Index < 0 || Index >= static_cast<int32_t>(List.size())) rtl::RaiseListIndexError(Index);
}

}  // namespace

// ---- TVEXAdvFieldDef -------------------------------------------------------

TVEXAdvFieldDef::TVEXAdvFieldDef()
    : DefaultValue(bftUnknown), MinValue(bftUnknown), MaxValue(bftUnknown) {}

void TVEXAdvFieldDef::Assign(const TVEXAdvFieldDef& Source) {
  if (&Source == this) return;
  Name = Source.Name;
  ObjectID = Source.ObjectID;
  DataType = Source.DataType;
  Required = Source.Required;
  Size = Source.Size;
  DefaultValue.Assign(Source.DefaultValue, true);
  MinValue.Assign(Source.MinValue, true);
  MaxValue.Assign(Source.MaxValue, true);
  AutoincIncrement = Source.AutoincIncrement;
  AutoincInitialValue = Source.AutoincInitialValue;
  AutoincMinValue = Source.AutoincMinValue;
  AutoincMaxValue = Source.AutoincMaxValue;
  AutoincCycled = Source.AutoincCycled;
  BLOBCompressionAlgorithm = Source.BLOBCompressionAlgorithm;
  BLOBCompressionMode = Source.BLOBCompressionMode;
  BLOBBlockSize = Source.BLOBBlockSize;
}

// ---- TVEXAdvFieldDefs ------------------------------------------------------

TVEXAdvFieldDef* TVEXAdvFieldDefs::GetDef(int32_t Index) const {
  CheckListIndex(FDefsList, Index);
  return FDefsList[static_cast<size_t>(Index)].get();
}

void TVEXAdvFieldDefs::SetDef(int32_t Index, std::unique_ptr<TVEXAdvFieldDef> Value) {
  CheckListIndex(FDefsList, Index);
  FDefsList[static_cast<size_t>(Index)] = std::move(Value);
}

TVEXAdvFieldDef* TVEXAdvFieldDefs::AddFieldDef() {
  FDefsList.push_back(std::make_unique<TVEXAdvFieldDef>());
  return FDefsList.back().get();
}

TVEXAdvFieldDef* TVEXAdvFieldDefs::Add(std::string_view Name, TVEXAdvancedFieldType DataType,
                                       int32_t Size, bool Required,
                                       TCompressionAlgorithm BLOBCompressionAlgorithm,
                                       uint8_t BLOBCompressionMode) {
  TVEXAdvFieldDef* def = AddFieldDef();
  def->Name = Name;
  def->DataType = DataType;
  def->Size = Size;
  def->Required = Required;
  def->BLOBCompressionAlgorithm = BLOBCompressionAlgorithm;
  def->BLOBCompressionMode = BLOBCompressionMode;
  return def;
}

void TVEXAdvFieldDefs::DeleteFieldDef(std::string_view FieldName) {
  for (auto it = FDefsList.begin(); it != FDefsList.end(); ++it) {
    if (SameTextLocale((*it)->Name, FieldName)) {
      FDefsList.erase(it);
      return;
    }
  }
  throw EVEXException(30349, "Field '%s' not found", FieldName);
}

TVEXAdvFieldDef* TVEXAdvFieldDefs::Find(std::string_view Name) const {
  const std::string wanted = rtl::UpperCase(Name);
  for (const auto& def : FDefsList) {
    if (rtl::UpperCase(def->Name) == wanted) return def.get();
  }
  return nullptr;
}

void TVEXAdvFieldDefs::Clear() { FDefsList.clear(); }

void TVEXAdvFieldDefs::Assign(const TVEXAdvFieldDefs& Source) {
  if (&Source == this) return;
  Clear();
  for (const auto& def : Source.FDefsList) AddFieldDef()->Assign(*def);
}

// ---- TVEXAdvIndexDef -------------------------------------------------------

void TVEXAdvIndexDef::Assign(const TVEXAdvIndexDef& ASource) {
  Name = ASource.Name;
  Fields = ASource.Fields;
  DescFields = ASource.DescFields;
  CaseInsFields = ASource.CaseInsFields;
  Options = ASource.Options;
  MaxIndexedSizes = ASource.MaxIndexedSizes;
  Temporary = ASource.Temporary;
}

// ---- TVEXAdvIndexDefs ------------------------------------------------------

TVEXAdvIndexDef* TVEXAdvIndexDefs::GetDef(int32_t Index) const {
  CheckListIndex(FDefsList, Index);
  return FDefsList[static_cast<size_t>(Index)].get();
}

void TVEXAdvIndexDefs::SetDef(int32_t Index, std::unique_ptr<TVEXAdvIndexDef> Value) {
  CheckListIndex(FDefsList, Index);
  FDefsList[static_cast<size_t>(Index)] = std::move(Value);
}

TVEXAdvIndexDef* TVEXAdvIndexDefs::AddIndexDef() {
  FDefsList.push_back(std::make_unique<TVEXAdvIndexDef>());
  return FDefsList.back().get();
}

TVEXAdvIndexDef* TVEXAdvIndexDefs::Add(std::string_view Name, std::string_view Fields,
                                       db::TIndexOptions Options, bool Temporary,
                                       std::string_view DescFields, std::string_view CaseInsFields,
                                       std::string_view MaxIndexedSizes) {
  TVEXAdvIndexDef* def = AddIndexDef();
  def->Name = Name;
  def->Fields = Fields;
  def->Options = Options;
  def->Temporary = Temporary;
  def->DescFields = DescFields;
  def->CaseInsFields = CaseInsFields;
  def->MaxIndexedSizes = MaxIndexedSizes;
  return def;
}

void TVEXAdvIndexDefs::DeleteIndexDef(std::string_view IndexName) {
  for (auto it = FDefsList.begin(); it != FDefsList.end(); ++it) {
    if (SameTextLocale((*it)->Name, IndexName)) {
      FDefsList.erase(it);
      return;
    }
  }
  throw EVEXException(20190, "Index '%s' not found", IndexName);
}

TVEXAdvIndexDef* TVEXAdvIndexDefs::Find(std::string_view Name) const {
  for (const auto& def : FDefsList) {
    if (SameTextLocale(def->Name, Name)) return def.get();
  }
  return nullptr;
}

void TVEXAdvIndexDefs::Clear() { FDefsList.clear(); }

void TVEXAdvIndexDefs::Update() {
  if (FDataset == nullptr) return;
  // The framework refreshes only definitions it holds for stale; asking for
  // an update means they are.
  FDataset->IndexDefs().SetUpdated(false);
  FDataset->IndexDefs().Update();
}

void TVEXAdvIndexDefs::Assign(const TVEXAdvIndexDefs& Source, bool SkipTemporaryIndexes) {
  // Copied aside first, so that a list assigned from itself keeps its items.
  std::vector<std::unique_ptr<TVEXAdvIndexDef>> copies;
  for (const auto& def : Source.FDefsList) {
    if (SkipTemporaryIndexes &&
        (def->Temporary || rtl::UpperCase(def->Name).find("TEMPORARY") != std::string::npos)) {
      continue;
    }
    copies.push_back(std::make_unique<TVEXAdvIndexDef>());
    copies.back()->Assign(*def);
  }
  FDefsList = std::move(copies);
}

}  // namespace vex
