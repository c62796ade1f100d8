// The ordered, owning collections of schema definitions: the fields of a table
// (or of a cursor's visible projection), its indexes and its constraints. A
// collection finds definitions by name and by object id, copies itself from
// another, and reads and writes itself as part of a disk table's metadata file:
// an int32 count, then the definitions in list order (for constraints each
// preceded by its type byte; temporary indexes are never written).
//
// The field collection also lays out a table's records. A memory record and a
// disk record both start with a null bitmap of ceil(field count / 8) bytes (bit
// n, byte n / 8 and bit n % 8 least significant first, set when field n is
// null), then the fields in list order without gaps. They differ only in BLOB
// fields: 10 bytes in memory, 6 on disk.
//
// Not synchronised: the owning manager or cursor serialises every access.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "storage/VEXMetaDefs.h"

namespace rtl {
class TStringList;
}

namespace vex {

class TVEXMetaObjectDefs {
 public:
  TVEXMetaObjectDefs() = default;
  virtual ~TVEXMetaObjectDefs();
  TVEXMetaObjectDefs(const TVEXMetaObjectDefs&) = delete;
  TVEXMetaObjectDefs& operator=(const TVEXMetaObjectDefs&) = delete;

  virtual int32_t Count() const { return static_cast<int32_t>(FDefsList.size()); }
  // Appends Def, taking it over. A definition of a class the collection does
  // not hold raises rtl::EInvalidOperation.
  virtual void InternalAdd(std::unique_ptr<TVEXMetaObjectDef> Def);
  // Creates a definition of the collection's element class, appends and
  // returns it. Raises 30339 in a collection that has no single element class.
  virtual TVEXMetaObjectDef* InternalAddCreated();
  // Clears the collection, reads the count (10159; also for a count that the
  // rest of the stream cannot hold) into LoadedItemCount, then loads each
  // definition into a new element.
  virtual void LoadFromStream(TVEXStream& Stream);
  // The count (10158), then each definition.
  virtual void SaveToStream(TVEXStream& Stream) const;
  // Clears, then copies each of Source's definitions into a new element.
  // Raises 10424 "Duplicate field name %s" at the second definition of a name
  // (compared ignoring case), keeping those copied before it.
  virtual void Assign(const TVEXMetaObjectDefs& Source);
  virtual void Delete(int32_t Index);
  // Inserts Def before position Index (Count appends), taking it over.
  virtual void Insert(int32_t Index, std::unique_ptr<TVEXMetaObjectDef> Def);
  virtual void Move(int32_t CurIndex, int32_t NewIndex);
  virtual void Clear();

  // Positions outside the list raise rtl::EListError.
  TVEXMetaObjectDef* GetDef(int32_t Index) const;
  // Destroys the definition at Index and puts Def in its place.
  void SetDef(int32_t Index, std::unique_ptr<TVEXMetaObjectDef> Def);

  // The first definition whose name equals Name when both are upper-cased by
  // the locale's rules; -1 or nullptr when none.
  int32_t GetDefNumberByName(std::string_view Name) const;
  TVEXMetaObjectDef* GetDefByName(std::string_view Name) const;
  int32_t GetDefNumberByObjectId(int32_t ObjectId) const;
  TVEXMetaObjectDef* GetDefByObjectId(int32_t ObjectId) const;

  // The count read by the last LoadFromStream.
  int32_t LoadedItemCount() const { return FLoadedItemCount; }

 protected:
  // For messages: the collection's class name.
  virtual const char* ClassName() const { return "TVEXMetaObjectDefs"; }
  // Whether a definition may join the collection.
  virtual bool AcceptsDef(const TVEXMetaObjectDef& /*Def*/) const { return true; }
  // The fewest stream bytes one stored element takes, to bound a count read
  // from a stream.
  virtual int64_t MinStoredItemSize() const { return 1; }
  void CheckIndex(int32_t Index) const;
  void CheckDef(const TVEXMetaObjectDef* Def) const;

  std::vector<std::unique_ptr<TVEXMetaObjectDef>> FDefsList;
  int32_t FLoadedItemCount = 0;
};

class TVEXFieldDefs : public TVEXMetaObjectDefs {
 public:
  TVEXMetaObjectDef* InternalAddCreated() override;
  TVEXFieldDef* AddCreated() { return static_cast<TVEXFieldDef*>(InternalAddCreated()); }

  TVEXFieldDef* GetDef(int32_t Index) const {
    return static_cast<TVEXFieldDef*>(TVEXMetaObjectDefs::GetDef(Index));
  }
  void SetDef(int32_t Index, std::unique_ptr<TVEXFieldDef> Def) {
    TVEXMetaObjectDefs::SetDef(Index, std::move(Def));
  }
  // Ignoring case as GetDefNumberByName does; nullptr when absent.
  TVEXFieldDef* GetFieldDefByName(std::string_view Name) const {
    return static_cast<TVEXFieldDef*>(GetDefByName(Name));
  }

  // Sets every field's MemoryOffset and DiskOffset for the record layout.
  virtual void RecalcFieldOffsets();
  // Null bitmap plus the data sizes of all fields.
  int32_t GetMemoryRecordBufferSize() const;
  int32_t GetDiskRecordBufferSize() const;
  // ceil(Count / 8).
  int32_t GetNullBitmapSize() const { return (Count() + 7) / 8; }

 protected:
  const char* ClassName() const override { return "TVEXFieldDefs"; }
  bool AcceptsDef(const TVEXMetaObjectDef& Def) const override;
  int64_t MinStoredItemSize() const override;
};

class TVEXIndexDefs : public TVEXMetaObjectDefs {
 public:
  TVEXMetaObjectDef* InternalAddCreated() override;
  TVEXIndexDef* AddCreated() { return static_cast<TVEXIndexDef*>(InternalAddCreated()); }
  // Only the definitions that are not temporary: their count (10343), then
  // each in list order.
  void SaveToStream(TVEXStream& Stream) const override;

  virtual TVEXIndexDef* GetIndexDef(int32_t Index) const {
    return static_cast<TVEXIndexDef*>(GetDef(Index));
  }
  virtual void SetIndexDef(int32_t Index, std::unique_ptr<TVEXIndexDef> Def) {
    SetDef(Index, std::move(Def));
  }
  TVEXIndexDef* GetIndexDefByName(std::string_view Name) const {
    return static_cast<TVEXIndexDef*>(GetDefByName(Name));
  }

  // The ObjectID of the first index that serves the requested fields in list
  // order, -1 when none does. The three lists are parallel: entry i names the
  // i-th field, its direction ("ASC", "DESC", anything else: either) and its
  // case ("CASE": a case-sensitive column, for text fields only; "NO_CASE": a
  // case-insensitive column, for any field), compared exactly. An index serves
  // when its first columns name the fields (ignoring the case of Latin letters)
  // and satisfy their entries; a temporary index serves only its own session.
  // A field missing from FieldDefs counts as not being text. A missing list
  // raises 10389, 10390 or 10391 "Nil pointer occured"; lists of different
  // lengths 10276 (directions) or 10277 (case entries).
  int32_t FindIndex(const rtl::TStringList* FieldNames, const rtl::TStringList* AscDescList,
                    const rtl::TStringList* CaseSensitivityList, int32_t SessionID,
                    const TVEXFieldDefs& FieldDefs) const;
  bool IsIndexExists(const rtl::TStringList* FieldNames, const rtl::TStringList* AscDescList,
                     const rtl::TStringList* CaseSensitivityList, int32_t SessionID,
                     const TVEXFieldDefs& FieldDefs) const {
    return FindIndex(FieldNames, AscDescList, CaseSensitivityList, SessionID, FieldDefs) != -1;
  }

 protected:
  const char* ClassName() const override { return "TVEXIndexDefs"; }
  bool AcceptsDef(const TVEXMetaObjectDef& Def) const override;
  int64_t MinStoredItemSize() const override;
};

class TVEXConstraintDefs : public TVEXMetaObjectDefs {
 public:
  TVEXConstraintDefNotNull* AddNotNull();
  TVEXConstraintDefCheck* AddCheck();
  TVEXConstraintDefPrimary* AddPK();
  TVEXConstraintDefUnique* AddUnique();
  // A new definition of the class for Type, appended; nullptr (nothing added)
  // for a type without a class.
  TVEXConstraintDef* AddOfType(TVEXConstraintType Type);

  TVEXConstraintDef* GetDef(int32_t Index) const {
    return static_cast<TVEXConstraintDef*>(TVEXMetaObjectDefs::GetDef(Index));
  }
  void SetDef(int32_t Index, std::unique_ptr<TVEXConstraintDef> Def) {
    TVEXMetaObjectDefs::SetDef(Index, std::move(Def));
  }

  // Per constraint: a new definition of the class its type byte (10220) names,
  // appended and then loaded. A type without a class (a foreign key) or beyond
  // the known ones raises 30316 "Unknown Constraint Type: '%d'".
  void LoadFromStream(TVEXStream& Stream) override;
  // The count (10158), then per constraint its type byte (10219) and its form.
  void SaveToStream(TVEXStream& Stream) const override;
  // Clears, then copies each constraint into a new one of the class its type
  // names; a foreign key raises 30035 "Not implemented yet". Names are not
  // checked for duplicates.
  void Assign(const TVEXMetaObjectDefs& Source) override;

 protected:
  const char* ClassName() const override { return "TVEXConstraintDefs"; }
  bool AcceptsDef(const TVEXMetaObjectDef& Def) const override;
  int64_t MinStoredItemSize() const override;

 private:
  template <class T>
  T* AddNew();
};

}  // namespace vex
