#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ExprCursorFixture.h"
#include "ExprNodeTestSupport.h"
#include "engine/storage/search/VEXSearchTableFakes.h"
#include "storage/VEXMetaDefs.h"
#include "storage/search/VEXScanConditions.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using namespace exprtest;
using testsupport::RaisesNativeError;

// Field numbers of the fixture's table.
constexpr int32_t kID = 0, kCODE = 5;

struct IndexSpec {
  std::vector<std::string> columns;
  bool descending = false;
  bool caseInsensitive = false;
};

// Index definitions with object ids 1, 2, ...
struct Indexes {
  explicit Indexes(const std::vector<IndexSpec>& specs) {
    for (const IndexSpec& s : specs) {
      TVEXIndexDef* def = Defs.AddCreated();
      def->Name = "I" + std::to_string(Defs.Count());
      def->ObjectID = Defs.Count();
      def->SetColumnCount(static_cast<int32_t>(s.columns.size()));
      for (size_t i = 0; i < s.columns.size(); ++i) {
        TVEXIndexColumn* c = def->GetIndexColumn(static_cast<int32_t>(i));
        c->FieldName = s.columns[i];
        c->Descending = i == 0 && s.descending;
        c->CaseInsensitive = s.caseInsensitive;
      }
    }
  }
  const TVEXIndexDef* operator[](int32_t i) const { return Defs.GetIndexDef(i); }
  TVEXIndexDefs Defs;
};

// The expression object's part in a search, over a tree whose root is an
// AND: it offers its comparisons and IS [NOT] NULL nodes to the indexes,
// gives up the nodes that chosen conditions guarantee and takes them back.
class NodeFilter : public TVEXBaseExpression {
 public:
  explicit NodeFilter(TVEXExprNodePtr andRoot) : Root(std::move(andRoot)) {}

  TVEXVariant* GetValue(bool) override { return &Root->GetDataValue(); }
  bool GetResult() override {
    const TVEXVariant& v = Root->GetDataValue();
    return !v.IsNull() && v.AsBoolean();
  }
  bool IsEmpty() const override { return Root->Children.empty(); }
  void AssignCursorBuffer(const uint8_t* buffer, bool parent) override {
    Root->AssignCursorBuffer(const_cast<uint8_t*>(buffer), parent);
  }
  void CreateIndexScanConditions(const TVEXIndexDefs& defs, TVEXScanSearchConditionArray& array,
                                 int32_t sessionID) override {
    for (auto& node : Root->Children)
      for (int32_t i = 0; i < defs.Count(); ++i)
        if (node->CanUseIndex(0, scNone, defs.GetIndexDef(i), sessionID))
          node->AddAsIndexScanCondition(array, defs.GetIndexDef(i), this);
  }
  bool ExtendMultiFieldIndexCondition(TVEXScanSearchCondition& condition,
                                      const TVEXIndexDef& def) override {
    if (condition.KeyFieldCount >= def.ColumnCount()) return false;
    for (auto& node : Root->Children)
      if (node->CanUseIndex(condition.KeyFieldCount, condition.Condition, &def, -1)) {
        node->ExtendIndexScanCondition(condition, &def, this);
        return true;
      }
    return false;
  }
  void RemoveExtractedNodes(TVEXScanSearchConditionArray& array, int32_t start,
                            int32_t end) override {
    for (int32_t no : {start, end}) {
      if (no < 0 || no >= array.Count()) continue;
      const TVEXScanSearchCondition& c = array[no];
      for (size_t k = 0; k < c.ParentExpressions.size(); ++k) {
        if (c.ParentExpressions[k] != this) continue;
        auto& kids = Root->Children;
        auto it = std::find_if(kids.begin(), kids.end(), [&](const TVEXExprNodePtr& p) {
          return p.get() == c.ParentExpressionNodes[k];
        });
        if (it == kids.end()) continue;
        Detached.push_back(std::move(*it));
        kids.erase(it);
      }
    }
  }
  void AddNode(TVEXExprNode* node) override {
    auto it = std::find_if(Detached.begin(), Detached.end(),
                           [&](const TVEXExprNodePtr& p) { return p.get() == node; });
    ASSERT_NE(it, Detached.end()) << "a node given back twice or never taken";
    Root->Children.push_back(std::move(*it));
    Detached.erase(it);
  }

  TVEXExprNodePtr Root;
  std::vector<TVEXExprNodePtr> Detached;
};

// The index's comparison of two record buffers over the first count
// columns: integer or text columns, nulls before every value, a descending
// column inverted.
int32_t CompareByIndex(const TVEXFieldDefs& fields, const TVEXIndexDef& index, const uint8_t* a,
                       const uint8_t* b, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const TVEXIndexColumn& column = *index.GetIndexColumn(i);
    const int32_t no = fields.GetDefNumberByName(column.FieldName);
    const TVEXFieldDef& def = *fields.GetDef(no);
    const bool nullA = GetBitFromBuffer(no, a), nullB = GetBitFromBuffer(no, b);
    int32_t c = 0;
    if (nullA || nullB) {
      c = nullA == nullB ? 0 : nullA ? -1 : 1;
    } else if (def.BaseFieldType == bftSignedInt32) {
      int32_t x, y;
      std::memcpy(&x, a + def.MemoryOffset, 4);
      std::memcpy(&y, b + def.MemoryOffset, 4);
      c = x < y ? -1 : x > y ? 1 : 0;
    } else {
      c = std::strncmp(reinterpret_cast<const char*>(a + def.MemoryOffset),
                       reinterpret_cast<const char*>(b + def.MemoryOffset), def.MemoryDataSize);
      c = c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    if (column.Descending) c = -c;
    if (c != 0) return c;
  }
  return 0;
}

bool TestCondition(const TVEXFieldDefs& fields, const Indexes& indexes,
                   const TVEXScanSearchCondition& condition, const uint8_t* record) {
  const auto* def =
      static_cast<const TVEXIndexDef*>(indexes.Defs.GetDefByObjectId(condition.IndexID));
  const int32_t c =
      CompareByIndex(fields, *def, record, condition.KeyRecordBuffer, condition.KeyFieldCount);
  switch (condition.Condition) {
    case scEqual:
      return c == 0;
    case scLower:
      return c < 0;
    case scGreater:
      return c > 0;
    case scLowerEqual:
      return c <= 0;
    case scGreaterEqual:
      return c >= 0;
    default:
      return false;
  }
}

// The table search in small: derive and optimise the conditions, take the
// first index's first two conditions as the range (a pair, as the cost
// choice pairs them), take their nodes out, and return the records of the
// range that pass what is left of the filter. The filter holds all its nodes
// again afterwards.
std::vector<int32_t> SearchThroughIndex(CursorFixture& f, const Indexes& indexes,
                                        NodeFilter& filter,
                                        const std::vector<std::vector<uint8_t>>& records) {
  const TVEXFieldDefs& fields = f.Cursor.FieldDefs();
  TVEXScanSearchConditionArray array;
  array.AddExpression(&filter);
  array.CreateIndexScanConditionsFromExpressions(indexes.Defs, 1);
  const bool possible =
      array.OptimizeScanConditions([&](int32_t id, const uint8_t* a, const uint8_t* b, int32_t n) {
        return CompareByIndex(
            fields, *static_cast<const TVEXIndexDef*>(indexes.Defs.GetDefByObjectId(id)), a, b, n);
      });
  if (!possible) return {};
  int32_t start = -1, end = -1;
  for (int32_t i = 0; i < array.Count(); ++i)
    if (array[i].Expression == nullptr) {
      start = i;
      if (i + 1 < array.Count() && array[i + 1].Expression == nullptr &&
          array[i + 1].IndexID == array[i].IndexID)
        end = i + 1;
      break;
    }
  array.RemoveUnusedConditionsCreatedFromExpressions(start, end);
  array.ExtractChosenConditionsFromExpressions(start, end);
  std::vector<int32_t> found;
  for (size_t r = 0; r < records.size(); ++r) {
    const uint8_t* record = records[r].data();
    if (start >= 0 && !TestCondition(fields, indexes, array[start], record)) continue;
    if (end >= 0 && !TestCondition(fields, indexes, array[end], record)) continue;
    filter.AssignCursorBuffer(record, false);
    if (!filter.IsEmpty() && !filter.GetResult()) continue;
    found.push_back(static_cast<int32_t>(r));
  }
  array.ReturnExtractedConditionsToExpressions(start, end);
  return found;
}

std::unique_ptr<TVEXExprNodeField> Col(CursorFixture& f, const std::string& name) {
  return std::make_unique<TVEXExprNodeField>(&f.Cursor, name, "");
}

int32_t KeyInt(CursorFixture& f, const TVEXScanSearchCondition& c, int32_t fieldNo) {
  int32_t v;
  std::memcpy(&v, c.KeyRecordBuffer + f.Def(fieldNo).MemoryOffset, 4);
  return v;
}

TEST(ExprScanConditions, CanUseIndexFollowsEveryRule) {
  CursorFixture f;
  Indexes ix(
      {{{"ID"}}, {{"NAME"}, false, false}, {{"NAME"}, false, true}, {{"DATA"}}, {{"ID", "CODE"}}});
  TVEXIndexDef* temp = ix.Defs.AddCreated();
  temp->ObjectID = 99;
  temp->SetColumnCount(1);
  temp->GetIndexColumn(0)->FieldName = "id";
  temp->Temporary = true;
  temp->SessionID = 7;

  struct Row {
    const char* text;
    std::function<TVEXExprNodePtr()> node;
    const TVEXIndexDef* index;
    int32_t column;
    TVEXSearchCondition sofar;
    int32_t session;
    bool expected;
  };
  auto name = [&] { return Col(f, "NAME"); };
  auto cmpCI = [&](TVEXDataOperator op, TVEXExprNodePtr l, TVEXExprNodePtr r) {
    return Cmp(op, std::move(l), std::move(r), true, true);
  };
  const std::vector<Row> rows = {
      {"ID = 5", [&] { return Cmp(doEQ, Col(f, "ID"), I(5)); }, ix[0], 0, scNone, 1, true},
      {"5 > ID", [&] { return Cmp(doGT, I(5), Col(f, "ID")); }, ix[0], 0, scNone, 1, true},
      {"ID <> 5", [&] { return Cmp(doNE, Col(f, "ID"), I(5)); }, ix[0], 0, scNone, 1, false},
      {"ID = CODE: no constant", [&] { return Cmp(doEQ, Col(f, "ID"), Col(f, "CODE")); }, ix[0], 0,
       scNone, 1, false},
      {"ID + 1 = 5: no column", [&] { return Cmp(doEQ, Ar(doADD, Col(f, "ID"), I(1)), I(5)); },
       ix[0], 0, scNone, 1, false},
      {"CODE = 5 on ID", [&] { return Cmp(doEQ, Col(f, "CODE"), I(5)); }, ix[0], 0, scNone, 1,
       false},
      {"three-valued ID = NULL matches nothing", [&] { return Cmp(doEQ, Col(f, "ID"), Null()); },
       ix[0], 0, scNone, 1, false},
      {"two-valued ID = NULL", [&] { return Cmp(doEQ, Col(f, "ID"), Null(), false); }, ix[0], 0,
       scNone, 1, true},
      {"temporary index of another session", [&] { return Cmp(doEQ, Col(f, "ID"), I(5)); }, temp, 0,
       scNone, 1, false},
      {"temporary index of this session", [&] { return Cmp(doEQ, Col(f, "ID"), I(5)); }, temp, 0,
       scNone, 7, true},
      {"BLOB column", [&] { return Cmp(doEQ, Col(f, "DATA"), S("a")); }, ix[3], 0, scNone, 1,
       false},
      {"case-sensitive text on case-sensitive index", [&] { return Cmp(doEQ, name(), S("abc")); },
       ix[1], 0, scNone, 1, true},
      {"case-insensitive text on case-sensitive index",
       [&] { return cmpCI(doEQ, name(), S("abc")); }, ix[1], 0, scNone, 1, false},
      {"case-insensitive text on case-insensitive index",
       [&] { return cmpCI(doEQ, name(), S("abc")); }, ix[2], 0, scNone, 1, true},
      {"UPPER(NAME) = 'ABC' ignores case",
       [&] { return Cmp(doEQ, Str(doUPPER, name()), S("ABC")); }, ix[2], 0, scNone, 1, true},
      {"UPPER(NAME) = 'Abc' uses no index",
       [&] { return Cmp(doEQ, Str(doUPPER, name()), S("Abc")); }, ix[2], 0, scNone, 1, false},
      {"LOWER(NAME) = 'abc'", [&] { return Cmp(doEQ, Str(doLOWER, name()), S("abc")); }, ix[2], 0,
       scNone, 1, true},
      {"partial key",
       [&] {
         return std::make_unique<TVEXExprNodeComparison>(doEQ, name(), S("ab"), false, false, true);
       },
       ix[1], 0, scNone, 1, false},
      {"text of 9 characters in a column of 10", [&] { return Cmp(doEQ, name(), S("123456789")); },
       ix[1], 0, scNone, 1, true},
      {"text as long as the column", [&] { return Cmp(doEQ, name(), S("1234567890A")); }, ix[1], 0,
       scNone, 1, false},
      {"second column after an equality", [&] { return Cmp(doEQ, Col(f, "CODE"), I(2)); }, ix[4], 1,
       scEqual, -1, true},
      {"second column after a range", [&] { return Cmp(doEQ, Col(f, "CODE"), I(2)); }, ix[4], 1,
       scGreater, -1, false},
      {"second column, not an equality", [&] { return Cmp(doGT, Col(f, "CODE"), I(2)); }, ix[4], 1,
       scEqual, -1, false},
      {"ID IS NULL", [&] { return Bool(doISNULL, Col(f, "ID")); }, ix[0], 0, scNone, 1, true},
      {"ID IS NOT NULL", [&] { return Bool(doISNOTNULL, Col(f, "ID")); }, ix[0], 0, scNone, 1,
       true},
      {"UPPER(NAME) IS NULL", [&] { return Bool(doISNULL, Str(doUPPER, name())); }, ix[1], 0,
       scNone, 1, false},
      {"CODE IS NULL extends an equality", [&] { return Bool(doISNULL, Col(f, "CODE")); }, ix[4], 1,
       scEqual, -1, true},
      {"CODE IS NOT NULL does not extend", [&] { return Bool(doISNOTNULL, Col(f, "CODE")); }, ix[4],
       1, scEqual, -1, false},
      {"NOT ID = 5", [&] { return Bool(doNOT, Cmp(doEQ, Col(f, "ID"), I(5))); }, ix[0], 0, scNone,
       1, false},
  };
  for (const Row& r : rows) {
    TVEXExprNodePtr n = r.node();
    EXPECT_EQ(n->CanUseIndex(r.column, r.sofar, r.index, r.session), r.expected) << r.text;
  }
}

TEST(ExprScanConditions, ConditionFollowsTheFirstColumnsDirection) {
  CursorFixture f;
  Indexes ix({{{"ID"}, false}, {{"ID"}, true}});
  struct Row {
    const char* text;
    TVEXDataOperator op;
    bool columnLeft;
    bool descending;
    TVEXSearchCondition expected;
  };
  const std::vector<Row> rows = {
      {"ID = 5", doEQ, true, false, scEqual},
      {"ID > 5", doGT, true, false, scGreater},
      {"ID >= 5", doGE, true, false, scGreaterEqual},
      {"5 < ID", doLT, false, false, scGreater},
      {"5 >= ID", doGE, false, false, scLowerEqual},
      {"ID > 5 desc", doGT, true, true, scLower},
      {"ID <= 5 desc", doLE, true, true, scGreaterEqual},
      {"5 > ID desc", doGT, false, true, scGreater},
      {"ID = 5 desc", doEQ, true, true, scEqual},
  };
  for (const Row& r : rows) {
    TVEXExprNodePtr n =
        r.columnLeft ? Cmp(r.op, Col(f, "ID"), I(5), false) : Cmp(r.op, I(5), Col(f, "ID"), false);
    TVEXScanSearchConditionArray array;
    n->AddAsIndexScanCondition(array, ix[r.descending ? 1 : 0], nullptr);
    ASSERT_EQ(array.Count(), 1) << r.text;
    EXPECT_EQ(array[0].Condition, r.expected) << r.text;
    EXPECT_EQ(array[0].IndexID, r.descending ? 2 : 1) << r.text;
    EXPECT_EQ(array[0].KeyFieldCount, 1) << r.text;
    EXPECT_TRUE(array[0].CreatedFromExpression) << r.text;
    EXPECT_FALSE(GetBitFromBuffer(kID, array[0].KeyRecordBuffer)) << r.text;
    EXPECT_EQ(KeyInt(f, array[0], kID), 5) << r.text;
    ASSERT_EQ(array[0].ParentExpressionNodes.size(), 1u) << r.text;
    EXPECT_EQ(array[0].ParentExpressionNodes[0], n.get()) << r.text;
  }
}

TEST(ExprScanConditions, IsNullAndIsNotNullUseANullKey) {
  CursorFixture f;
  Indexes ix({{{"ID"}, false}, {{"ID"}, true}});
  struct Row {
    TVEXDataOperator op;
    bool descending;
    TVEXSearchCondition expected;
  };
  for (const Row& r : std::vector<Row>{{doISNULL, false, scEqual},
                                       {doISNULL, true, scEqual},
                                       {doISNOTNULL, false, scGreater},
                                       {doISNOTNULL, true, scLower}}) {
    TVEXExprNodePtr n = Bool(r.op, Col(f, "ID"));
    TVEXScanSearchConditionArray array;
    n->AddAsIndexScanCondition(array, ix[r.descending ? 1 : 0], nullptr);
    ASSERT_EQ(array.Count(), 1);
    EXPECT_EQ(array[0].Condition, r.expected) << GetOperatorName(r.op) << r.descending;
    EXPECT_EQ(array[0].KeyFieldCount, 1);
    EXPECT_TRUE(GetBitFromBuffer(kID, array[0].KeyRecordBuffer));
  }
}

TEST(ExprScanConditions, FailuresRaiseTheirCodes) {
  CursorFixture f;
  Indexes ix({{{"ID"}}, {{}}});
  TVEXScanSearchConditionArray array;
  auto unbound = [] { return std::make_unique<TVEXExprNodeField>(nullptr, "ID", ""); };
  EXPECT_THAT(
      [&] {
        Cmp(doEQ, Col(f, "ID"), Col(f, "CODE"))->AddAsIndexScanCondition(array, ix[0], nullptr);
      },
      RaisesNativeError(20055));
  EXPECT_THAT([&] { Cmp(doEQ, unbound(), I(1))->AddAsIndexScanCondition(array, ix[0], nullptr); },
              RaisesNativeError(20054));
  EXPECT_THAT(
      [&] { Cmp(doEQ, Col(f, "ID"), I(1))->AddAsIndexScanCondition(array, ix[1], nullptr); },
      RaisesNativeError(20057));
  EXPECT_THAT([&] { Bool(doISNULL, unbound())->AddAsIndexScanCondition(array, ix[0], nullptr); },
              RaisesNativeError(20254));
  EXPECT_THAT([&] { Bool(doISNULL, Col(f, "ID"))->AddAsIndexScanCondition(array, ix[1], nullptr); },
              RaisesNativeError(20255));
  EXPECT_EQ(array.Count(), 0);
}

TEST(ExprScanConditions, EqualitiesExtendAMultiColumnCondition) {
  CursorFixture f;
  Indexes ix({{{"ID", "CODE"}}});
  struct Row {
    const char* text;
    std::function<TVEXExprNodePtr()> filter;
    TVEXSearchCondition condition;
    int32_t keyFields;
  };
  const std::vector<Row> rows = {
      {"ID = 1 AND CODE = 2",
       [&] { return Bool(doAND, Cmp(doEQ, Col(f, "ID"), I(1)), Cmp(doEQ, I(2), Col(f, "CODE"))); },
       scEqual, 2},
      {"ID > 1 AND CODE = 2",
       [&] { return Bool(doAND, Cmp(doGT, Col(f, "ID"), I(1)), Cmp(doEQ, Col(f, "CODE"), I(2))); },
       scGreater, 1},
      {"ID = 1 AND CODE IS NULL",
       [&] { return Bool(doAND, Cmp(doEQ, Col(f, "ID"), I(1)), Bool(doISNULL, Col(f, "CODE"))); },
       scEqual, 2},
      {"ID = 1 AND CODE < 2",
       [&] { return Bool(doAND, Cmp(doEQ, Col(f, "ID"), I(1)), Cmp(doLT, Col(f, "CODE"), I(2))); },
       scEqual, 1},
  };
  for (const Row& r : rows) {
    NodeFilter filter(r.filter());
    TVEXScanSearchConditionArray array;
    array.AddExpression(&filter);
    array.CreateIndexScanConditionsFromExpressions(ix.Defs, 1);
    ASSERT_EQ(array.Count(), 2) << r.text;
    EXPECT_EQ(array[1].Condition, r.condition) << r.text;
    EXPECT_EQ(array[1].KeyFieldCount, r.keyFields) << r.text;
    EXPECT_EQ(array[1].ParentExpressionNodes.size(), static_cast<size_t>(r.keyFields)) << r.text;
    EXPECT_EQ(KeyInt(f, array[1], kID), 1) << r.text;
  }
}

// Every range a filter's comparisons make returns exactly the rows the
// filter accepts: three-valued ranges leave the null keys out, two-valued
// ones keep them, as their evaluation does.
TEST(ExprScanConditions, IndexRangesReturnWhatTheFilterAccepts) {
  CursorFixture f;
  std::mt19937 random(45);
  std::vector<std::vector<uint8_t>> records;
  for (int i = 0; i < 60; ++i) {
    std::vector<uint8_t> r = testing::NullRecord(f.Cursor.FieldDefs());
    const int v = static_cast<int>(random() % 12) - 1;
    if (v >= 0) f.SetInt(r, kID, v);
    f.SetInt(r, kCODE, static_cast<int32_t>(random() % 3));
    records.push_back(std::move(r));
  }
  using Make = std::function<TVEXExprNodePtr()>;
  auto id = [&] { return Col(f, "ID"); };
  struct Row {
    const char* text;
    Make filter;
  };
  const std::vector<Row> rows = {
      {"ID < 5", [&] { return Bool(doAND, Cmp(doLT, id(), I(5))); }},
      {"ID <= 5", [&] { return Bool(doAND, Cmp(doLE, id(), I(5))); }},
      {"5 > ID", [&] { return Bool(doAND, Cmp(doGT, I(5), id())); }},
      {"ID > 5", [&] { return Bool(doAND, Cmp(doGT, id(), I(5))); }},
      {"ID >= 5", [&] { return Bool(doAND, Cmp(doGE, id(), I(5))); }},
      {"ID = 5", [&] { return Bool(doAND, Cmp(doEQ, id(), I(5))); }},
      {"ID < 5 AND ID > 1",
       [&] { return Bool(doAND, Cmp(doLT, id(), I(5)), Cmp(doGT, id(), I(1))); }},
      {"ID < 5 AND CODE = 1",
       [&] { return Bool(doAND, Cmp(doLT, id(), I(5)), Cmp(doEQ, Col(f, "CODE"), I(1))); }},
      {"ID < 5 two-valued", [&] { return Bool(doAND, Cmp(doLT, id(), I(5), false)); }},
      {"ID >= 5 two-valued", [&] { return Bool(doAND, Cmp(doGE, id(), I(5), false)); }},
      {"ID IS NULL", [&] { return Bool(doAND, Bool(doISNULL, id())); }},
      {"ID IS NOT NULL", [&] { return Bool(doAND, Bool(doISNOTNULL, id())); }},
      {"ID IS NOT NULL AND ID <= 3",
       [&] { return Bool(doAND, Bool(doISNOTNULL, id()), Cmp(doLE, id(), I(3))); }},
  };
  for (bool descending : {false, true}) {
    Indexes ix({{{"ID"}, descending}});
    for (const Row& r : rows) {
      NodeFilter reference(r.filter());
      std::vector<int32_t> expected;
      for (size_t i = 0; i < records.size(); ++i) {
        reference.AssignCursorBuffer(records[i].data(), false);
        if (reference.GetResult()) expected.push_back(static_cast<int32_t>(i));
      }
      NodeFilter filter(r.filter());
      const size_t nodes = filter.Root->Children.size();
      EXPECT_EQ(SearchThroughIndex(f, ix, filter, records), expected)
          << r.text << (descending ? " (descending)" : "");
      EXPECT_EQ(filter.Root->Children.size(), nodes) << r.text;
    }
  }
}

// The table search over B-tree indexes (nulls sort first, a descending
// column inverts), with filters of column nodes: an index range serves each
// filter and never returns a row that the filter rejects.
TEST(ExprScanConditions, TheTableSearchOverBTreeIndexesReturnsWhatTheFilterAccepts) {
  testing::FakePageStore pages{512, 40};
  testing::SearchDatabase db{&pages};
  testing::TestSession session{&db};
  session.SetConnected(true);

  using Make = std::function<TVEXExprNodePtr(TVEXCursor&)>;
  auto id = [](TVEXCursor& c) { return std::make_unique<TVEXExprNodeField>(&c, "ID", ""); };
  struct Row {
    const char* text;
    Make filter;
  };
  const std::vector<Row> rows = {
      {"ID < 5", [&](TVEXCursor& c) { return Bool(doAND, Cmp(doLT, id(c), I(5))); }},
      {"ID <= 5", [&](TVEXCursor& c) { return Bool(doAND, Cmp(doLE, id(c), I(5))); }},
      {"95 < ID", [&](TVEXCursor& c) { return Bool(doAND, Cmp(doLT, I(95), id(c))); }},
      {"ID >= 95", [&](TVEXCursor& c) { return Bool(doAND, Cmp(doGE, id(c), I(95))); }},
      {"ID < 5 two-valued",
       [&](TVEXCursor& c) { return Bool(doAND, Cmp(doLT, id(c), I(5), false)); }},
      {"ID IS NULL", [&](TVEXCursor& c) { return Bool(doAND, Bool(doISNULL, id(c))); }},
      {"ID IS NOT NULL AND ID < 3",
       [&](TVEXCursor& c) {
         return Bool(doAND, Bool(doISNOTNULL, id(c)), Cmp(doLT, id(c), I(3)));
       }},
  };
  for (const char* direction : {"ASC", "DESC"}) {
    testing::TestCursor cursor{session, std::string("T") + direction};
    auto* table = static_cast<testing::SearchTable*>(db.FindOrCreateTableData(cursor));
    table->UseBTree = true;
    TVEXFieldDefs fields;
    for (const char* name : {"ID", "A"}) testing::AddField(fields, name, aftInteger);
    TVEXIndexDefs indexes;
    rtl::TStringList names, order, cases;
    names.Add("ID");
    order.Add(direction);
    cases.Add("CASE");
    TVEXIndexDef* byId = indexes.AddCreated();
    byId->Name = "ByID";
    byId->AssignByNames(names, order, cases);
    TVEXConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    cursor.FieldDefs().Assign(table->Fields());
    cursor.FieldDefs().RecalcFieldOffsets();
    const int32_t size = table->Fields().GetMemoryRecordBufferSize();
    cursor.SetRecordBufferSize(size);
    cursor.SetKeyBufferSize(size);

    // 400 records: every fifth ID null, the others 0..99.
    std::vector<std::vector<uint8_t>> records;
    for (int32_t i = 0; i < 400; ++i) {
      testing::FakeCursor writer(0, table->Fields());
      writer.Record = table->Row({(i * 37) % 100, i});
      if (i % 5 == 0) SetBitInBuffer(true, 0, writer.Record.data());
      table->Rows()->AddRecord(0, writer.Record.data(), writer.RecordID);
      table->IndexManager()->InsertRecord(writer);
      table->Commit(0);
      records.push_back(writer.Record);
    }

    for (const Row& r : rows) {
      NodeFilter reference(r.filter(cursor));
      std::vector<int32_t> expected;
      for (size_t i = 0; i < records.size(); ++i) {
        reference.AssignCursorBuffer(records[i].data(), false);
        if (reference.GetResult()) expected.push_back(static_cast<int32_t>(i) + 1);
      }
      NodeFilter filter(r.filter(cursor));
      const size_t nodes = filter.Root->Children.size();
      cursor.FilterExpression = &filter;
      table->Rows()->Reads = 0;
      std::vector<int32_t> found;
      cursor.CurrentRecordID = {-1, 0};
      cursor.FirstPosition = true;
      cursor.LastPosition = false;
      bool restart = true;
      for (;;) {
        TVEXPageItemID at{-1, 0};
        if (!table->FindRecordInView(cursor, nullptr, nullptr, restart, true, at, nullptr, false))
          break;
        found.push_back(at.PageNo);
        cursor.CurrentRecordID = at;
        cursor.FirstPosition = false;
        restart = false;
        if (found.size() > records.size()) break;
      }
      const std::string what = std::string(r.text) + " " + direction;
      EXPECT_EQ(found, expected) << what;
      EXPECT_EQ(filter.Root->Children.size(), nodes) << what << ": the filter is whole again";
      // The whole view at once: through an index range only the range's
      // records are read, a scan reads them all.
      table->Rows()->Reads = 0;
      table->BuildRecordBitmap(cursor);
      ASSERT_NE(cursor.RecordBitmap, nullptr) << what;
      EXPECT_EQ(cursor.RecordBitmap->GetRecordCount(), static_cast<int64_t>(expected.size()))
          << what;
      EXPECT_LT(table->Rows()->Reads, static_cast<int64_t>(records.size()) / 2) << what;
      cursor.RecordBitmap.reset();
      cursor.FilterExpression = nullptr;
    }
  }
}

TEST(ExprScanConditions, JoinConditionIsAnEqualityBetweenTheTwoOperators) {
  FakeAO a({FakeColumn{"A", "ID"}, FakeColumn{"A", "REF"}});
  FakeAO b({FakeColumn{"B", "ID"}});
  auto col = [](const char* table, const char* name) {
    return std::make_unique<TVEXExprNodeField>(nullptr, name, table);
  };
  EXPECT_TRUE(Cmp(doEQ, col("A", "ID"), col("B", "ID"))->IsJoinCondition(&a, &b));
  EXPECT_TRUE(Cmp(doEQ, col("B", "ID"), col("A", "REF"))->IsJoinCondition(&a, &b));
  EXPECT_FALSE(Cmp(doEQ, col("A", "ID"), col("A", "REF"))->IsJoinCondition(&a, &b));
  EXPECT_FALSE(Cmp(doLT, col("A", "ID"), col("B", "ID"))->IsJoinCondition(&a, &b));
  EXPECT_FALSE(Cmp(doEQ, Str(doUPPER, col("A", "ID")), col("B", "ID"))->IsJoinCondition(&a, &b));
  EXPECT_FALSE(Cmp(doEQ, col("A", "ID"), I(1))->IsJoinCondition(&a, &b));
  EXPECT_THAT([&] { Cmp(doEQ, col("", "ID"), col("A", "REF"))->IsJoinCondition(&a, &b); },
              RaisesNativeError(10404));
  EXPECT_THAT([&] { Cmp(doEQ, col("A", "REF"), col("", "ID"))->IsJoinCondition(&a, &b); },
              RaisesNativeError(10405));
}

}  // namespace
}  // namespace vex
