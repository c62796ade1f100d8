// A filter of comparisons joined by AND, standing in for the SQL layer's
// expression object in tests of the table search: it derives one index
// condition per comparison on an index's first column, extends them by
// equalities on the following columns, and gives its comparisons up to the
// chosen conditions and takes them back.
//
// Without field definitions its keys are bare arrays of int32 values and
// every record passes; with them (integer fields) its keys are memory records
// of that layout and it tests the comparisons still in it on the record
// buffer it was pointed at.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "foundation/VEXExcept.h"
#include "foundation/VEXTypes.h"
#include "foundation/VEXVariant.h"
#include "storage/VEXMetaDefCollections.h"
#include "storage/search/VEXScanConditions.h"
#include "storage/VEXSeams.h"

namespace vex::testing {

struct Comparison {
  std::string Field;
  TVEXSearchCondition Op;
  int32_t Value;
};

class AndFilter : public TVEXBaseExpression {
 public:
  explicit AndFilter(std::vector<Comparison> comparisons, const TVEXFieldDefs* fields = nullptr)
      : All(std::move(comparisons)), Fields(fields) {
    for (Comparison& c : All) Present.push_back(&c);
  }

  TVEXVariant* GetValue(bool) override { return nullptr; }
  bool GetResult() override {
    ++Evaluations;
    if (Fields == nullptr) return true;
    for (const Comparison* c : Present)
      if (!Holds(FieldValue(*Fields, Buffer, c->Field), c->Op, c->Value)) return false;
    return true;
  }
  bool IsEmpty() const override { return Present.empty(); }
  void AssignCursorBuffer(const uint8_t* buffer, bool) override { Buffer = buffer; }

  static bool Holds(int32_t v, TVEXSearchCondition op, int32_t value) {
    switch (op) {
      case scEqual: return v == value;
      case scLower: return v < value;
      case scGreater: return v > value;
      case scLowerEqual: return v <= value;
      case scGreaterEqual: return v >= value;
      default: return false;
    }
  }
  static int32_t FieldValue(const TVEXFieldDefs& fields, const uint8_t* record,
                            const std::string& name) {
    int32_t v = 0;
    std::memcpy(&v, record + fields.GetDef(fields.GetDefNumberByName(name))->MemoryOffset, sizeof v);
    return v;
  }

  void CreateIndexScanConditions(const TVEXIndexDefs& IndexDefs,
                                 TVEXScanSearchConditionArray& ScanConditions, int32_t) override {
    for (Comparison* c : Present)
      for (int32_t i = 0; i < IndexDefs.Count(); ++i) {
        const TVEXIndexDef& def = *IndexDefs.GetIndexDef(i);
        if (def.ColumnCount() == 0 || def.GetIndexColumn(0)->FieldName != c->Field) continue;
        TVEXScanSearchCondition condition;
        condition.Condition = c->Op;
        condition.IndexID = def.ObjectID;
        condition.KeyFieldCount = 1;
        Key.clear();
        SetKeyValue(Key, def, 0, c->Value);
        condition.KeyRecordBuffer = Key.data();
        condition.KeyRecordBufferSize = static_cast<int32_t>(Key.size());
        condition.CreatedFromExpression = true;
        condition.ParentExpressions = {this};
        condition.ParentExpressionNodes = {Node(c)};
        ScanConditions.AddCondition(condition);
      }
  }
  bool ExtendMultiFieldIndexCondition(TVEXScanSearchCondition& Condition,
                                      const TVEXIndexDef& IndexDef) override {
    if (Condition.Condition != scEqual || Condition.KeyFieldCount >= IndexDef.ColumnCount())
      return false;
    const std::string& next = IndexDef.GetIndexColumn(Condition.KeyFieldCount)->FieldName;
    for (Comparison* c : Present) {
      if (c->Op != scEqual || c->Field != next) continue;
      std::vector<uint8_t> key(Condition.KeyRecordBuffer,
                               Condition.KeyRecordBuffer + Condition.KeyRecordBufferSize);
      SetKeyValue(key, IndexDef, Condition.KeyFieldCount, c->Value);
      Condition.SetOwnKeyRecordBuffer(key.data(), static_cast<int32_t>(key.size()));
      Condition.KeyRecordBufferSize = static_cast<int32_t>(key.size());
      ++Condition.KeyFieldCount;
      Condition.ParentExpressions.push_back(this);
      Condition.ParentExpressionNodes.push_back(Node(c));
      return true;
    }
    return false;
  }
  void RemoveExtractedNodes(TVEXScanSearchConditionArray& ScanConditions, int32_t Start,
                            int32_t End) override {
    for (int32_t no : {Start, End}) {
      if (no < 0 || no > 255 || no >= ScanConditions.Count()) continue;
      const TVEXScanSearchCondition& condition = ScanConditions[no];
      for (size_t k = 0; k < condition.ParentExpressions.size(); ++k)
        if (condition.ParentExpressions[k] == this)
          std::erase(Present, reinterpret_cast<Comparison*>(condition.ParentExpressionNodes[k]));
    }
    if (FailRemoval) throw EVEXException(12346, "the expression could not give up its nodes");
  }
  void AddNode(TVEXExprNode* node) override {
    auto* c = reinterpret_cast<Comparison*>(node);
    if (std::find(Present.begin(), Present.end(), c) == Present.end()) Present.push_back(c);
  }

  static TVEXExprNode* Node(Comparison* c) { return reinterpret_cast<TVEXExprNode*>(c); }

  std::vector<Comparison> All;
  // The comparisons still tested per record.
  std::vector<Comparison*> Present;

 private:
  // The value of column Column of an index in a key buffer.
  void SetKeyValue(std::vector<uint8_t>& key, const TVEXIndexDef& def, int32_t column,
                   int32_t value) const {
    if (Fields == nullptr) {
      key.resize(std::max(key.size(), (column + 1) * sizeof(int32_t)));
      std::memcpy(key.data() + column * sizeof(int32_t), &value, sizeof value);
      return;
    }
    key.resize(std::max(key.size(), static_cast<size_t>(Fields->GetMemoryRecordBufferSize())));
    const int32_t fieldNo = Fields->GetDefNumberByName(def.GetIndexColumn(column)->FieldName);
    std::memcpy(key.data() + Fields->GetDef(fieldNo)->MemoryOffset, &value, sizeof value);
    SetBitInBuffer(false, fieldNo, key.data());
  }

  std::vector<uint8_t> Key;
  const TVEXFieldDefs* Fields;
  const uint8_t* Buffer = nullptr;

 public:
  int32_t Evaluations = 0;
  // RemoveExtractedNodes raises after taking the nodes out.
  bool FailRemoval = false;
};

}  // namespace vex::testing
