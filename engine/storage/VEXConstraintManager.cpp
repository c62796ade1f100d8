#include "storage/VEXConstraintManager.h"

#include <string>
#include <vector>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXTypes.h"
#include "foundation/VEXValueCompare.h"
#include "os/Clock.h"
#include "storage/VEXFieldManager.h"
#include "storage/VEXIndexManager.h"

namespace vex {

namespace {

const TVEXFieldDefs& FieldDefsOf(TVEXManagedTable& Table) {
  return Table.GetFieldManager()->FieldDefs();
}

const TVEXIndexDefs& IndexDefsOf(TVEXManagedTable& Table) {
  return Table.GetIndexManager()->IndexDefs();
}

// The number of the field with that object id; Code "Field #%d not found"
// when there is none.
int32_t FieldNoByObjectId(const TVEXFieldDefs& FieldDefs, int32_t ObjectId, int32_t Code) {
  const int32_t fieldNo = FieldDefs.GetDefNumberByObjectId(ObjectId);
  if (fieldNo == -1) throw EVEXException(Code, "Field #%d not found", ObjectId);
  return fieldNo;
}

int32_t FieldObjectIdByName(const TVEXFieldDefs& FieldDefs, const std::string& Name, int32_t Code) {
  const TVEXFieldDef* field = FieldDefs.GetFieldDefByName(Name);
  if (field == nullptr) throw EVEXException(Code, "Field '%s' not found", Name);
  return field->ObjectID;
}

// The bound compared with the field's value: the bound on the left.
TVEXCompareResult CompareBound(const TVEXVariant& Bound, const TVEXFieldDef& Field,
                               const uint8_t* RecordBuffer) {
  return CompareValues(Bound.pData(), RecordBuffer + Field.MemoryOffset, Bound.DataType(),
                       Field.BaseFieldType, false, false, -1, false, LOCALE_USER_DEFAULT,
                       Bound.DataSize(), Field.MemoryDataSize);
}

}  // namespace

TVEXBaseConstraintManager::TVEXBaseConstraintManager(TVEXManagedTable& aTableData)
    : FTableData(aTableData) {}

TVEXBaseConstraintManager::~TVEXBaseConstraintManager() = default;

void TVEXBaseConstraintManager::LoadMetadata(TVEXStream& Stream) {
  FConstraintDefs.LoadFromStream(Stream);
}

void TVEXBaseConstraintManager::SaveMetadata(TVEXStream& Stream) const {
  FConstraintDefs.SaveToStream(Stream);
}

bool TVEXBaseConstraintManager::CheckConstraints(int32_t SessionID, const uint8_t* NewRecordBuffer,
                                                 const uint8_t* OldRecordBuffer, bool ToInsert,
                                                 TVEXPageItemID CurrentRecordID,
                                                 bool RaiseException, bool CheckUniqueIndexes) {
  const TVEXFieldDefs& fields = FieldDefsOf(FTableData);
  auto isNull = [&](int32_t FieldNo) { return GetBitFromBuffer(FieldNo, NewRecordBuffer); };
  // A violation: raised or reported by the result.
  auto violated = [&](const EVEXException& Error) {
    if (RaiseException) throw Error;
    return false;
  };
  for (int32_t i = 0; i < FConstraintDefs.Count(); ++i) {
    TVEXConstraintDef* constraint = FConstraintDefs.GetDef(i);
    const std::string& name = constraint->Name.str();
    switch (constraint->ConstraintType) {
      case ctNotNull: {
        const auto* c = static_cast<TVEXConstraintDefNotNull*>(constraint);
        const int32_t fieldNo = FieldNoByObjectId(fields, c->ColumnObjectID, 30024);
        if (isNull(fieldNo)) {
          return violated(
              EVEXException(30026, "Constraint '%s' violated. Value in field '%s' cannot be null",
                            name, fields.GetDef(fieldNo)->Name.str()));
        }
        break;
      }
      case ctCheck: {
        const auto* c = static_cast<TVEXConstraintDefCheck*>(constraint);
        const int32_t fieldNo = FieldNoByObjectId(fields, c->ColumnObjectID, 30028);
        if (isNull(fieldNo)) break;
        const TVEXFieldDef& field = *fields.GetDef(fieldNo);
        if (!c->MinValue.IsNull() &&
            CompareBound(c->MinValue, field, NewRecordBuffer) == cmprGreater) {
          return violated(EVEXException(
              30029, "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
              name, field.Name.str(), c->MinValue.AsAnsiString()));
        }
        if (!c->MaxValue.IsNull() &&
            CompareBound(c->MaxValue, field, NewRecordBuffer) == cmprLower) {
          return violated(EVEXException(
              30030, "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
              name, field.Name.str(), c->MaxValue.AsAnsiString()));
        }
        break;
      }
      case ctUnique: {
        if (!CheckUniqueIndexes) break;
        const auto* c = static_cast<TVEXConstraintDefUnique*>(constraint);
        if (FTableData.IsUniqueConstraintFailed(SessionID, c->IndexObjectID, NewRecordBuffer,
                                                OldRecordBuffer, ToInsert, CurrentRecordID)) {
          return violated(
              EVEXException(30320, "Constraint unique '%s' violated. Duplicate found.", name));
        }
        break;
      }
      case ctPK: {
        if (!CheckUniqueIndexes) break;
        const auto* c = static_cast<TVEXConstraintDefUnique*>(constraint);
        // The key may not be all null: one non-null column ends the walk.
        std::string names;
        bool allNull = true;
        for (const TVEXConstraintColumn& column : c->Columns) {
          const int32_t fieldNo = FieldNoByObjectId(fields, column.ColumnObjectID, 30329);
          if (!names.empty()) names += ",";
          names += fields.GetDef(fieldNo)->Name.str();
          if (!isNull(fieldNo)) {
            allNull = false;
            break;
          }
        }
        if (allNull) {
          return violated(EVEXException(
              30330, "Constraint '%s' violated. Value in field '%s' cannot be null", name, names));
        }
        if (FTableData.IsUniqueConstraintFailed(SessionID, c->IndexObjectID, NewRecordBuffer,
                                                OldRecordBuffer, ToInsert, CurrentRecordID)) {
          return violated(
              EVEXException(30319, "Primary Key constraint '%s' violated. Duplicate found.", name));
        }
        break;
      }
      default:
        throw EVEXException(30036, "Not implemented yet");
    }
  }
  return true;
}

void TVEXBaseConstraintManager::LinkObjectId(TVEXConstraintDef& ConstraintDef) {
  const TVEXFieldDefs& fields = FieldDefsOf(FTableData);
  // Every id is found before any is stored, so a constraint that cannot be
  // linked keeps the ids it had.
  switch (ConstraintDef.ConstraintType) {
    case ctPK:
    case ctUnique: {
      auto& c = static_cast<TVEXConstraintDefUnique&>(ConstraintDef);
      const bool primary = c.ConstraintType == ctPK;
      const TVEXIndexDef* index = IndexDefsOf(FTableData).GetIndexDefByName(c.IndexName);
      if (index == nullptr) {
        throw EVEXException(primary ? 30325 : 30326, "Index '%s' not found", c.IndexName.str());
      }
      std::vector<int32_t> columnIds;
      for (const TVEXConstraintColumn& column : c.Columns) {
        columnIds.push_back(
            FieldObjectIdByName(fields, column.ColumnName, primary ? 30331 : 30332));
      }
      c.IndexObjectID = index->ObjectID;
      for (size_t k = 0; k < columnIds.size(); ++k) c.Columns[k].ColumnObjectID = columnIds[k];
      break;
    }
    case ctNotNull: {
      auto& c = static_cast<TVEXConstraintDefNotNull&>(ConstraintDef);
      c.ColumnObjectID = FieldObjectIdByName(fields, c.ColumnName, 30027);
      break;
    }
    case ctCheck: {
      auto& c = static_cast<TVEXConstraintDefCheck&>(ConstraintDef);
      c.ColumnObjectID = FieldObjectIdByName(fields, c.ColumnName, 30027);
      break;
    }
    default:
      throw EVEXException(30037, "Not implemented yet");
  }
}

void TVEXBaseConstraintManager::LinkObjectIds() {
  for (int32_t i = 0; i < FConstraintDefs.Count(); ++i) LinkObjectId(*FConstraintDefs.GetDef(i));
}

void TVEXBaseConstraintManager::FillConstraintAutoNames() {
  for (int32_t i = 0; i < FConstraintDefs.Count(); ++i) {
    TVEXConstraintDef* constraint = FConstraintDefs.GetDef(i);
    if (!constraint->Name.empty()) continue;
    std::string base;
    if (constraint->ConstraintType == ctNotNull) {
      const auto* c = static_cast<TVEXConstraintDefNotNull*>(constraint);
      base = "$C_NotNull$" + c->TableName.str() + "$" + c->ColumnName.str();
    } else if (constraint->ConstraintType == ctCheck) {
      const auto* c = static_cast<TVEXConstraintDefCheck*>(constraint);
      base = "$C_Check$" + c->TableName.str() + "$" + c->ColumnName.str();
    } else {
      throw EVEXException(30038, "Not implemented yet");
    }
    // The number replaces the end of a base too long for it, so that the
    // name that is kept (at most 255 characters) is the one found free.
    std::string candidate = base.substr(0, TVEXShortName::MaxLength);
    while (FConstraintDefs.GetDefNumberByName(candidate) != -1) {
      const std::string number = std::to_string(os::CurrentClock().Random(65535));
      candidate = base.substr(0, TVEXShortName::MaxLength - number.size()) + number;
    }
    constraint->Name = candidate;
  }
}

void TVEXBaseConstraintManager::AddConstraintFromIndex(const TVEXIndexDef& IndexDef) {
  TVEXConstraintDefUnique* constraint = ConstraintDefFromIndexDef(IndexDef, FConstraintDefs);
  if (constraint == nullptr) return;
  // An unlinked constraint would make every later check of the table fail.
  ScopeFailure forget([&] { FConstraintDefs.Delete(FConstraintDefs.Count() - 1); });
  constraint->ObjectID = FTableData.GetNewObjectId();
  LinkObjectId(*constraint);
}

void TVEXBaseConstraintManager::DeleteConstraintForIndexID(int32_t IndexObjectID) {
  for (int32_t i = 0; i < FConstraintDefs.Count(); ++i) {
    const TVEXConstraintDef* constraint = FConstraintDefs.GetDef(i);
    if (constraint->ConstraintType != ctPK && constraint->ConstraintType != ctUnique) continue;
    if (static_cast<const TVEXConstraintDefUnique*>(constraint)->IndexObjectID == IndexObjectID) {
      FConstraintDefs.Delete(i);
      return;
    }
  }
}

TVEXConstraintDefUnique* ConstraintDefFromIndexDef(const TVEXIndexDef& IndexDef,
                                                   TVEXConstraintDefs& ConstraintDefs) {
  TVEXConstraintDefUnique* constraint;
  std::string name;
  if (IndexDef.Primary) {
    constraint = ConstraintDefs.AddPK();
    name = "C_PK";
  } else if (IndexDef.Unique) {
    constraint = ConstraintDefs.AddUnique();
    name = "C_Unique";
  } else {
    return nullptr;
  }
  constraint->IndexName = IndexDef.Name;
  constraint->IndexObjectID = IndexDef.ObjectID;
  for (int32_t i = 0; i < IndexDef.ColumnCount(); ++i) {
    const std::string& fieldName = IndexDef.GetIndexColumn(i)->FieldName;
    TVEXConstraintColumn column;
    column.ColumnName = fieldName;
    constraint->Columns.push_back(column);
    // Past 255 characters the name would only be cut again.
    if (name.size() < TVEXShortName::MaxLength) name += "$" + fieldName;
  }
  constraint->Name = name;
  return constraint;
}

}  // namespace vex
