// A filter of comparisons joined by AND, standing in for the SQL layer's
// expression object in tests of the table search: it derives one index
// condition per comparison on an index's first column, extends them by
// equalities on the following columns, and gives its comparisons up to the
// chosen conditions and takes them back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

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
  explicit AndFilter(std::vector<Comparison> comparisons) : All(std::move(comparisons)) {
    for (Comparison& c : All) Present.push_back(&c);
  }

  TVEXVariant* GetValue(bool) override { return nullptr; }
  bool GetResult() override { return true; }
  bool IsEmpty() const override { return Present.empty(); }
  void AssignCursorBuffer(const uint8_t*, bool) override {}

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
        Key.assign(1, c->Value);
        condition.KeyRecordBuffer = reinterpret_cast<uint8_t*>(Key.data());
        condition.KeyRecordBufferSize = sizeof(int32_t);
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
      std::vector<int32_t> key(Condition.KeyFieldCount + 1);
      std::memcpy(key.data(), Condition.KeyRecordBuffer, Condition.KeyRecordBufferSize);
      key.back() = c->Value;
      Condition.SetOwnKeyRecordBuffer(reinterpret_cast<uint8_t*>(key.data()),
                                      static_cast<int32_t>(key.size() * sizeof(int32_t)));
      Condition.KeyRecordBufferSize = static_cast<int32_t>(key.size() * sizeof(int32_t));
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
  std::vector<int32_t> Key;
};

}  // namespace vex::testing
