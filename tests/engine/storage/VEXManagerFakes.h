// Fakes and helpers for the manager tests: a session that keeps sequence
// values in a map, and field definitions and memory records built by hand.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXTypes.h"
#include "storage/VEXFieldManager.h"

namespace vex::testing {

class FakeSession : public TVEXManagerSession {
 public:
  explicit FakeSession(bool MultiUser = false) : FMultiUser(MultiUser) {}
  bool GetMultiUser() const override { return FMultiUser; }
  void SetSequenceValue(int32_t ObjectID, int64_t Value) override { Values[ObjectID] = Value; }
  bool GetSequenceValue(int32_t ObjectID, int64_t& Value) const override {
    auto it = Values.find(ObjectID);
    if (it == Values.end()) return false;
    Value = it->second;
    return true;
  }

  std::map<int32_t, int64_t> Values;

 private:
  bool FMultiUser;
};

// Appends a field to Defs with a fresh object id (100, 101, ...).
inline TVEXFieldDef* AddField(TVEXFieldDefs& Defs, const std::string& Name,
                              TVEXAdvancedFieldType Type, int32_t Size = 0) {
  TVEXFieldDef* def = Defs.AddCreated();
  def->Name = Name;
  def->ObjectID = 100 + Defs.Count() - 1;
  def->SetFieldDefDataType(Type, Size);
  return def;
}

// A memory record of the layout: every field null, data zero.
inline std::vector<uint8_t> NullRecord(const TVEXFieldDefs& Defs) {
  std::vector<uint8_t> record(static_cast<size_t>(Defs.GetMemoryRecordBufferSize()), 0);
  for (int32_t i = 0; i < Defs.Count(); ++i) SetBitInBuffer(true, i, record.data());
  return record;
}

template <class T>
void SetField(const TVEXFieldDefs& Defs, std::vector<uint8_t>& Record, int32_t FieldNo, T Value) {
  std::memcpy(Record.data() + Defs.GetDef(FieldNo)->MemoryOffset, &Value, sizeof(T));
  SetBitInBuffer(false, FieldNo, Record.data());
}

template <class T>
T GetField(const TVEXFieldDefs& Defs, const std::vector<uint8_t>& Record, int32_t FieldNo) {
  T value;
  std::memcpy(&value, Record.data() + Defs.GetDef(FieldNo)->MemoryOffset, sizeof(T));
  return value;
}

inline bool IsFieldNull(const std::vector<uint8_t>& Record, int32_t FieldNo) {
  return GetBitFromBuffer(FieldNo, Record.data());
}

}  // namespace vex::testing
