#include "storage/VEXMetaDefCollections.h"

#include "foundation/VEXConst.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "rtl/Lists.h"

namespace vex {

using namespace metastream;

namespace {

// The fewest bytes of each stored definition, for bounding counts read from a
// stream. Header: an empty name's length byte and the object id.
constexpr int64_t kMinHeaderSize = 1 + 4;
// Types, size, the autoincrement settings and a null default (type and flag).
constexpr int64_t kMinFieldDefSize = kMinHeaderSize + 1 + 1 + 4 + 4 * 8 + 1 + 2;
// Type, flags, column count and root page.
constexpr int64_t kMinIndexDefSize = kMinHeaderSize + 1 + 1 + 1 + 4 + 4;
// The type byte, then the smallest form, a NOT NULL's three ids and three
// empty names (count and length byte each).
constexpr int64_t kMinConstraintSize = 1 + kMinHeaderSize + 3 * 4 + 3 * 2;

}  // namespace

// --- Root collection ---------------------------------------------------------

TVEXMetaObjectDefs::~TVEXMetaObjectDefs() { FDefsList.clear(); }

void TVEXMetaObjectDefs::CheckIndex(int32_t Index) const {
  if (Index < 0 || Index >= Count()) rtl::RaiseListIndexError(Index);
}

void TVEXMetaObjectDefs::CheckDef(const TVEXMetaObjectDef* Def) const {
  if (Def == nullptr || !AcceptsDef(*Def)) {
    throw rtl::EInvalidOperation(sInvalidClassTypecast);
  }
}

void TVEXMetaObjectDefs::InternalAdd(std::unique_ptr<TVEXMetaObjectDef> Def) {
  CheckDef(Def.get());
  FDefsList.push_back(std::move(Def));
}

TVEXMetaObjectDef* TVEXMetaObjectDefs::InternalAddCreated() {
  throw EVEXException(30339, "The method '%s' not overrided in class '%s'", "InternalAddCreated",
                      ClassName());
}

void TVEXMetaObjectDefs::LoadFromStream(TVEXStream& Stream) {
  Clear();
  FLoadedItemCount = ReadI32(Stream, 10159);
  CheckCount(Stream, FLoadedItemCount, MinStoredItemSize(), 10159);
  for (int32_t i = 0; i < FLoadedItemCount; ++i) InternalAddCreated()->LoadFromStream(Stream);
}

void TVEXMetaObjectDefs::SaveToStream(TVEXStream& Stream) const {
  WriteI32(Stream, Count(), 10158);
  for (const auto& def : FDefsList) def->SaveToStream(Stream);
}

void TVEXMetaObjectDefs::Assign(const TVEXMetaObjectDefs& Source) {
  if (&Source == this) return;
  Clear();
  for (const auto& def : Source.FDefsList) {
    if (GetDefNumberByName(def->Name) != -1) {
      throw EVEXException(10424, "Duplicate field name %s", def->Name.str());
    }
    InternalAddCreated()->Assign(*def);
  }
}

void TVEXMetaObjectDefs::Delete(int32_t Index) {
  CheckIndex(Index);
  FDefsList.erase(FDefsList.begin() + Index);
}

void TVEXMetaObjectDefs::Insert(int32_t Index, std::unique_ptr<TVEXMetaObjectDef> Def) {
  if (Index < 0 || Index > Count()) rtl::RaiseListIndexError(Index);
  CheckDef(Def.get());
  FDefsList.insert(FDefsList.begin() + Index, std::move(Def));
}

void TVEXMetaObjectDefs::Move(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex == NewIndex) return;
  CheckIndex(CurIndex);
  CheckIndex(NewIndex);
  std::unique_ptr<TVEXMetaObjectDef> def = std::move(FDefsList[CurIndex]);
  FDefsList.erase(FDefsList.begin() + CurIndex);
  FDefsList.insert(FDefsList.begin() + NewIndex, std::move(def));
}

void TVEXMetaObjectDefs::Clear() {
  while (Count() > 0) Delete(0);
}

TVEXMetaObjectDef* TVEXMetaObjectDefs::GetDef(int32_t Index) const {
  CheckIndex(Index);
  return FDefsList[Index].get();
}

void TVEXMetaObjectDefs::SetDef(int32_t Index, std::unique_ptr<TVEXMetaObjectDef> Def) {
  CheckIndex(Index);
  // Putting a definition back where it already is must not destroy it.
  if (FDefsList[Index].get() == Def.get()) {
    (void)Def.release();
    return;
  }
  CheckDef(Def.get());
  FDefsList[Index] = std::move(Def);
}

int32_t TVEXMetaObjectDefs::GetDefNumberByName(std::string_view Name) const {
  const std::string upper = rtl::AnsiUpperCase(Name);
  for (int32_t i = 0; i < Count(); ++i) {
    if (rtl::AnsiUpperCase(FDefsList[i]->Name) == upper) return i;
  }
  return -1;
}

TVEXMetaObjectDef* TVEXMetaObjectDefs::GetDefByName(std::string_view Name) const {
  const int32_t i = GetDefNumberByName(Name);
  return i == -1 ? nullptr : FDefsList[i].get();
}

int32_t TVEXMetaObjectDefs::GetDefNumberByObjectId(int32_t ObjectId) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (FDefsList[i]->ObjectID == ObjectId) return i;
  }
  return -1;
}

TVEXMetaObjectDef* TVEXMetaObjectDefs::GetDefByObjectId(int32_t ObjectId) const {
  const int32_t i = GetDefNumberByObjectId(ObjectId);
  return i == -1 ? nullptr : FDefsList[i].get();
}

// --- Fields ------------------------------------------------------------------

TVEXMetaObjectDef* TVEXFieldDefs::InternalAddCreated() {
  FDefsList.push_back(std::make_unique<TVEXFieldDef>());
  return FDefsList.back().get();
}

bool TVEXFieldDefs::AcceptsDef(const TVEXMetaObjectDef& Def) const {
  return dynamic_cast<const TVEXFieldDef*>(&Def) != nullptr;
}

int64_t TVEXFieldDefs::MinStoredItemSize() const { return kMinFieldDefSize; }

void TVEXFieldDefs::RecalcFieldOffsets() {
  int32_t memoryOffset = GetNullBitmapSize();
  int32_t diskOffset = memoryOffset;
  for (int32_t i = 0; i < Count(); ++i) {
    TVEXFieldDef* def = GetDef(i);
    def->MemoryOffset = memoryOffset;
    def->DiskOffset = diskOffset;
    memoryOffset += def->MemoryDataSize;
    diskOffset += def->DiskDataSize;
  }
}

int32_t TVEXFieldDefs::GetMemoryRecordBufferSize() const {
  int32_t size = GetNullBitmapSize();
  for (int32_t i = 0; i < Count(); ++i) size += GetDef(i)->MemoryDataSize;
  return size;
}

int32_t TVEXFieldDefs::GetDiskRecordBufferSize() const {
  int32_t size = GetNullBitmapSize();
  for (int32_t i = 0; i < Count(); ++i) size += GetDef(i)->DiskDataSize;
  return size;
}

// --- Indexes -----------------------------------------------------------------

TVEXMetaObjectDef* TVEXIndexDefs::InternalAddCreated() {
  FDefsList.push_back(std::make_unique<TVEXIndexDef>());
  return FDefsList.back().get();
}

bool TVEXIndexDefs::AcceptsDef(const TVEXMetaObjectDef& Def) const {
  return dynamic_cast<const TVEXIndexDef*>(&Def) != nullptr;
}

int64_t TVEXIndexDefs::MinStoredItemSize() const { return kMinIndexDefSize; }

void TVEXIndexDefs::SaveToStream(TVEXStream& Stream) const {
  int32_t count = 0;
  for (int32_t i = 0; i < Count(); ++i) {
    if (!GetIndexDef(i)->Temporary) ++count;
  }
  WriteI32(Stream, count, 10343);
  for (int32_t i = 0; i < Count(); ++i) {
    const TVEXIndexDef* def = GetIndexDef(i);
    if (!def->Temporary) def->SaveToStream(Stream);
  }
}

int32_t TVEXIndexDefs::FindIndex(const rtl::TStringList* FieldNames,
                                 const rtl::TStringList* AscDescList,
                                 const rtl::TStringList* CaseSensitivityList, int32_t SessionID,
                                 const TVEXFieldDefs& FieldDefs) const {
  if (FieldNames == nullptr) RaiseNilPointer(10389);
  if (AscDescList == nullptr) RaiseNilPointer(10390);
  if (CaseSensitivityList == nullptr) RaiseNilPointer(10391);
  const int32_t fieldCount = FieldNames->Count();
  if (fieldCount != AscDescList->Count()) {
    throw EVEXException(10276, sDifferentListLengths, fieldCount, AscDescList->Count());
  }
  if (fieldCount != CaseSensitivityList->Count()) {
    throw EVEXException(10277, sDifferentListLengths, fieldCount, CaseSensitivityList->Count());
  }

  for (int32_t d = 0; d < Count(); ++d) {
    const TVEXIndexDef* def = GetIndexDef(d);
    if (def->ColumnCount() < fieldCount) continue;
    if (def->Temporary && def->SessionID != SessionID) continue;
    bool serves = true;
    for (int32_t i = 0; i < fieldCount && serves; ++i) {
      const TVEXIndexColumn& column = *def->GetIndexColumn(i);
      const std::string& fieldName = (*FieldNames)[i];
      const std::string& direction = (*AscDescList)[i];
      const std::string& caseEntry = (*CaseSensitivityList)[i];
      if (rtl::UpperCase(fieldName) != rtl::UpperCase(column.FieldName)) {
        serves = false;
      } else if ((direction == "ASC" && column.Descending) ||
                 (direction == "DESC" && !column.Descending)) {
        serves = false;
      } else if (caseEntry == "NO_CASE") {
        serves = column.CaseInsensitive;
      } else if (caseEntry == "CASE") {
        const TVEXFieldDef* field = FieldDefs.GetFieldDefByName(fieldName);
        if (field != nullptr && IsStringBaseFieldType(field->BaseFieldType)) {
          serves = !column.CaseInsensitive;
        }
      }
    }
    if (serves) return def->ObjectID;
  }
  return -1;
}

// --- Constraints -------------------------------------------------------------

bool TVEXConstraintDefs::AcceptsDef(const TVEXMetaObjectDef& Def) const {
  return dynamic_cast<const TVEXConstraintDef*>(&Def) != nullptr;
}

int64_t TVEXConstraintDefs::MinStoredItemSize() const { return kMinConstraintSize; }

template <class T>
T* TVEXConstraintDefs::AddNew() {
  auto def = std::make_unique<T>();
  T* added = def.get();
  FDefsList.push_back(std::move(def));
  return added;
}

TVEXConstraintDefNotNull* TVEXConstraintDefs::AddNotNull() {
  return AddNew<TVEXConstraintDefNotNull>();
}
TVEXConstraintDefCheck* TVEXConstraintDefs::AddCheck() { return AddNew<TVEXConstraintDefCheck>(); }
TVEXConstraintDefPrimary* TVEXConstraintDefs::AddPK() { return AddNew<TVEXConstraintDefPrimary>(); }
TVEXConstraintDefUnique* TVEXConstraintDefs::AddUnique() {
  return AddNew<TVEXConstraintDefUnique>();
}

void TVEXConstraintDefs::LoadFromStream(TVEXStream& Stream) {
  Clear();
  FLoadedItemCount = ReadI32(Stream, 10159);
  CheckCount(Stream, FLoadedItemCount, MinStoredItemSize(), 10159);
  for (int32_t i = 0; i < FLoadedItemCount; ++i) {
    const uint8_t type = ReadU8(Stream, 10220);
    TVEXConstraintDef* def = AddOfType(static_cast<TVEXConstraintType>(type));
    if (def == nullptr)
      throw EVEXException(30316, "Unknown Constraint Type: '%d'", static_cast<int32_t>(type));
    def->LoadFromStream(Stream);
  }
}

TVEXConstraintDef* TVEXConstraintDefs::AddOfType(TVEXConstraintType Type) {
  switch (Type) {
    case ctPK:
      return AddPK();
    case ctUnique:
      return AddUnique();
    case ctNotNull:
      return AddNotNull();
    case ctCheck:
      return AddCheck();
    default:
      return nullptr;
  }
}

void TVEXConstraintDefs::SaveToStream(TVEXStream& Stream) const {
  WriteI32(Stream, Count(), 10158);
  for (int32_t i = 0; i < Count(); ++i) {
    const TVEXConstraintDef* def = GetDef(i);
    WriteU8(Stream, def->ConstraintType, 10219);
    def->SaveToStream(Stream);
  }
}

void TVEXConstraintDefs::Assign(const TVEXMetaObjectDefs& Source) {
  if (&Source == this) return;
  Clear();
  for (int32_t i = 0; i < Source.Count(); ++i) {
    const auto* source = dynamic_cast<const TVEXConstraintDef*>(Source.GetDef(i));
    if (source == nullptr) throw rtl::EInvalidOperation(sInvalidClassTypecast);
    TVEXConstraintDef* def = AddOfType(source->ConstraintType);
    if (def == nullptr) throw EVEXException(30035, "Not implemented yet");
    def->Assign(*source);
  }
}

}  // namespace vex
