// Dataset filters parsed by the expression object and run by the storage
// table search over a fake table of integer columns: the search asks the
// filter for index-scan conditions, takes the nodes an index guarantees out
// of the tree, evaluates the rest per record and gives the nodes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ExprDump.h"
#include "engine/storage/search/VEXSearchTableFakes.h"
#include "rtl/CodePage.h"
#include "sql/expression/VEXExpression.h"

namespace vex {
namespace {

using testing::AddField;
using testing::AddIndexDef;
using testing::FakePageStore;
using testing::SearchDatabase;
using testing::SearchTable;
using testing::TestCursor;
using testing::TestSession;

class ExpressionSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session.SetConnected(true);
    table = static_cast<SearchTable*>(db.FindOrCreateTableData(cursor));
    TVEXFieldDefs fields;
    for (const char* name : {"ID", "A", "B", "C"}) AddField(fields, name, aftInteger);
    TVEXIndexDefs indexes;
    AddIndexDef(indexes, "ByA", {"A"});
    AddIndexDef(indexes, "ByBC", {"B", "C"});
    TVEXConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    cursor.SetRecordBufferSize(table->Fields().GetMemoryRecordBufferSize());
    cursor.SetKeyBufferSize(table->Fields().GetMemoryRecordBufferSize());
    // The filter's columns bind to the cursor's copy of the definitions.
    for (const char* name : {"ID", "A", "B", "C"}) AddField(cursor.FieldDefs(), name, aftInteger);
    cursor.FieldDefs().RecalcFieldOffsets();
    record = table->Row({0, 0, 0, 0});
    cursor.SetCurrentRecordBuffer(record.data());
  }

  // The page numbers the search finds, forward from the start.
  std::vector<int32_t> Walk() {
    std::vector<int32_t> ids;
    cursor.CurrentRecordID = {-1, 0};
    cursor.FirstPosition = true;
    cursor.LastPosition = false;
    bool restart = true;
    for (;;) {
      TVEXPageItemID found{-1, 0};
      if (!table->FindRecordInView(cursor, nullptr, nullptr, restart, true, found, nullptr, false))
        break;
      ids.push_back(found.PageNo);
      cursor.CurrentRecordID = found;
      cursor.FirstPosition = cursor.LastPosition = false;
      restart = false;
      if (ids.size() > table->Rows()->Records.size()) {
        ADD_FAILURE() << "the walk does not end";
        break;
      }
    }
    return ids;
  }

  // The conjuncts of a filter, in sorted order: the tree is equivalent when
  // its root's children come back in another order.
  static std::vector<std::string> Conjuncts(const TVEXExpression& filter) {
    std::vector<std::string> parts;
    const TVEXExprNode* root = filter.RootNode();
    if (root && root->Operator == doAND)
      for (const TVEXExprNodePtr& child : root->Children)
        parts.push_back(exprtest::Dump(child.get()));
    else
      parts.push_back(exprtest::Dump(root));
    std::sort(parts.begin(), parts.end());
    return parts;
  }

  // The records the filter accepts, each evaluated on its own.
  std::vector<int32_t> BruteForce(TVEXExpression& filter) {
    std::vector<int32_t> ids;
    for (auto& [page, bytes] : table->Rows()->Records) {
      filter.AssignCursorBuffer(bytes.data(), false);
      if (filter.GetResult()) ids.push_back(page);
    }
    return ids;
  }

  FakePageStore pages{4096, 40};
  SearchDatabase db{&pages};
  TestSession session{&db};
  TestCursor cursor{session, "Stays"};
  SearchTable* table = nullptr;
  std::vector<uint8_t> record;
};

TEST_F(ExpressionSearchTest, IndexConditionsFromAParsedFilterFindExactlyItsRecords) {
  std::mt19937 random(46);
  for (int32_t i = 0; i < 400; ++i)
    table->Add({i, static_cast<int32_t>(random() % 40), static_cast<int32_t>(random() % 4),
                static_cast<int32_t>(random() % 5)});
  for (const char* text :
       {"A >= 10 AND A < 20", "b = 1 AND c = 2 AND a > 5", "B = 2 AND (A = 3 OR C = 1)",
        "A BETWEEN 3 AND 6 OR B = 0", "NOT A > 2 AND C IS NOT NULL", "a = 7"}) {
    TVEXExpression filter;
    filter.ParseForFilter(&cursor, rtl::Utf8ToUtf16(text), false, false);
    const std::vector<std::string> tree = Conjuncts(filter);
    const std::vector<int32_t> want = BruteForce(filter);
    cursor.FilterExpression = &filter;
    table->Rows()->Reads = 0;
    EXPECT_EQ(Walk(), want) << text;
    // Every node the index conditions took is back in the tree.
    EXPECT_EQ(Conjuncts(filter), tree) << text;
    cursor.FilterExpression = nullptr;
  }
  EXPECT_GT(table->Stats.RangeSteps, 0) << "the indexes served some of the filters";
}

TEST_F(ExpressionSearchTest, AnIndexEqualityOnTwoColumnsReadsOnlyItsRecords) {
  for (int32_t i = 0; i < 500; ++i) table->Add({i, i % 50, i % 10, i % 7});
  TVEXExpression filter;
  filter.ParseForFilter(&cursor, u"C = 3 AND B = 4", false, false);
  cursor.FilterExpression = &filter;
  table->Rows()->Reads = 0;
  const std::vector<int32_t> found = Walk();
  EXPECT_EQ(found.size(), 7u);  // i % 10 == 4 and i % 7 == 3: one i in 70
  EXPECT_LE(table->Rows()->Reads, 3 * static_cast<int32_t>(found.size()) + 3)
      << "the two-column index decides the whole filter";
  cursor.FilterExpression = nullptr;
}

}  // namespace
}  // namespace vex
