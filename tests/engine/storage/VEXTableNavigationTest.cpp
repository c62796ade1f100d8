// Table navigation over the fake engine: the moves of a cursor through its
// view, record numbers and counts, searches that find nothing, and the field
// data routines between record buffers and the dataset framework's format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "FakePageStore.h"
#include "VEXDatabaseFakes.h"
#include "VEXManagerFakes.h"
#include "rtl/Lists.h"
#include "search/VEXSearchFakes.h"
#include "search/VEXSearchTableFakes.h"
#include "storage/VEXTableData.h"

namespace vex {
namespace {

using testing::AddField;
using testing::AddIndexDef;
using testing::AndFilter;
using testing::ExpectVEXError;
using testing::FakeDatabaseData;
using testing::FakePageStore;
using testing::FakeTableData;
using testing::GetField;
using testing::NullRecord;
using testing::SearchDatabase;
using testing::SearchTable;
using testing::SetField;
using testing::TestCursor;
using testing::TestSession;

rtl::TStringList List(std::initializer_list<const char*> items) {
  rtl::TStringList list;
  for (const char* item : items) list.Add(item);
  return list;
}

// A record id as text, to compare and print.
std::string Id(TVEXPageItemID id) {
  return std::to_string(id.PageNo) + ":" + std::to_string(id.PageItemNo);
}

const char* ModeName(TVEXGetRecordMode mode) {
  return mode == grmCurrent ? "current" : mode == grmNext ? "next" : "prior";
}

// A "Guests" table (Id, Name) with a non-unique index on Name; `cursor`
// navigates, `writer` stores records.
class NavigationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session.SetConnected(true);
    table = static_cast<FakeTableData*>(db.FindOrCreateTableData(cursor));
    TVEXFieldDefs fields;
    AddField(fields, "Id", aftInteger);
    AddField(fields, "Name", aftString, 10);
    TVEXIndexDefs indexes;
    TVEXIndexDef* byName = indexes.AddCreated();
    byName->Name = "ByName";
    byName->AssignByNames(List({"Name"}), List({"ASC"}), List({"CASE"}));
    TVEXConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    for (TestCursor* c : {&cursor, &writer}) {
      c->FieldDefs().Assign(Fields());
      c->SetRecordBufferSize(Fields().GetMemoryRecordBufferSize() + 7);
      table->OpenTable(*c);
    }
    buffer.assign(static_cast<size_t>(cursor.RecordBufferSize()), 0);
    cursor.SetCurrentRecordBuffer(buffer.data());
  }

  TVEXFieldDefs& Fields() { return table->FieldManager()->FieldDefs(); }
  int32_t IndexID() {
    return table->IndexManager()->IndexDefs().GetIndexDefByName("ByName")->ObjectID;
  }

  TVEXPageItemID Insert(int32_t id, const std::string& name) {
    writer.Record = NullRecord(Fields());
    SetField(Fields(), writer.Record, 0, id);
    std::memcpy(writer.Record.data() + Fields().GetDef(1)->MemoryOffset, name.c_str(),
                name.size() + 1);
    SetBitInBuffer(false, 1, writer.Record.data());
    table->Insert(writer);
    return writer.CurrentRecordID;
  }
  int32_t CurrentId() const {
    return GetField<int32_t>(table->FieldManager()->FieldDefs(), buffer, 0);
  }

  TVEXGetRecordResult Move(TVEXGetRecordMode mode) { return table->GetRecordBuffer(cursor, mode); }
  std::string Where() const {
    std::ostringstream s;
    s << "first=" << cursor.FirstPosition << " last=" << cursor.LastPosition
      << " id=" << cursor.CurrentRecordID.PageNo;
    return s.str();
  }

  FakeDatabaseData db;
  TestSession session{&db};
  TestCursor cursor{session, "Guests"};
  TestCursor writer{session, "Guests"};
  FakeTableData* table = nullptr;
  std::vector<uint8_t> buffer;
};

TEST_F(NavigationTest, AnEmptyTableAnswersEOFInEveryModeAndLeavesTheCursor) {
  for (bool indexed : {false, true}) {
    cursor.SetIndexID(indexed ? IndexID() : -1);
    for (bool atEnd : {false, true}) {
      for (TVEXGetRecordMode mode : {grmCurrent, grmNext, grmPrior}) {
        SCOPED_TRACE(std::string(indexed ? "index order, " : "physical order, ") +
                     (atEnd ? "after the last, " : "before the first, ") + ModeName(mode));
        cursor.FirstPosition = !atEnd;
        cursor.LastPosition = atEnd;
        EXPECT_EQ(Move(mode), grrEOF);
        EXPECT_EQ(cursor.FirstPosition, !atEnd);
        EXPECT_EQ(cursor.LastPosition, atEnd);
      }
    }
    EXPECT_EQ(table->GetRecordCount(cursor), 0);
    EXPECT_EQ(table->GetRecNo(cursor), -1);
    table->SetRecNo(cursor, 1);
    EXPECT_TRUE(cursor.LastPosition) << "an empty view changes nothing";
  }
}

// The view in the cursor's order as a list of ids, and a position in it from
// -1 (before the first) to n (after the last): every step of the cursor is
// checked against the same step of the list.
struct ViewModel {
  std::vector<TVEXPageItemID> Ids;
  std::vector<int32_t> Values;
  int64_t Pos = -1;
  int64_t Size() const { return static_cast<int64_t>(Ids.size()); }
};

TEST_F(NavigationTest, ARandomWalkMovesAsAListOfTheViewWould) {
  std::mt19937 random(27u);
  struct Row {
    std::string Name;
    int32_t Id;
    TVEXPageItemID RecordID;
  };
  std::vector<Row> rows;
  const int count = 12 + static_cast<int>(random() % 10);
  for (int i = 0; i < count; ++i) {
    // Few names, so that equal keys meet in the index.
    const std::string name(1, static_cast<char>('a' + random() % 5));
    const int32_t id = static_cast<int32_t>(rows.size());
    rows.push_back({name, id, Insert(id, name)});
  }
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "index order" : "physical order");
    if (indexed) {
      std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.Name != b.Name ? a.Name < b.Name : a.RecordID.PageNo < b.RecordID.PageNo;
      });
    }
    ViewModel model;
    for (const Row& r : rows) {
      model.Ids.push_back(r.RecordID);
      model.Values.push_back(r.Id);
    }
    cursor.SetIndexID(indexed ? IndexID() : -1);
    cursor.FirstPosition = true;
    cursor.LastPosition = false;
    const int64_t n = model.Size();

    for (int step = 0; step < 400; ++step) {
      const int op = static_cast<int>(random() % 7);
      std::ostringstream what;
      what << "step " << step << " op " << op << " from " << model.Pos << " (" << Where() << ")";
      SCOPED_TRACE(what.str());
      switch (op) {
        case 0:
        case 1: {
          const TVEXGetRecordResult r = Move(grmNext);
          if (model.Pos + 1 < n) {
            ++model.Pos;
            ASSERT_EQ(r, grrOK);
          } else {
            model.Pos = n;
            ASSERT_EQ(r, grrEOF);
          }
          break;
        }
        case 2:
        case 3: {
          const TVEXGetRecordResult r = Move(grmPrior);
          if (model.Pos - 1 >= 0 && model.Pos <= n) {
            --model.Pos;
            ASSERT_EQ(r, grrOK);
          } else {
            model.Pos = -1;
            ASSERT_EQ(r, grrBOF);
          }
          break;
        }
        case 4: {
          const TVEXGetRecordResult r = Move(grmCurrent);
          ASSERT_EQ(r, model.Pos >= 0 && model.Pos < n ? grrOK : grrError);
          break;
        }
        case 5: {
          // Numbers around and beyond both ends.
          const int64_t recNo = static_cast<int64_t>(random() % (n + 5)) - 2;
          table->SetRecNo(cursor, recNo);
          model.Pos = std::clamp<int64_t>(recNo, 1, n) - 1;
          ASSERT_EQ(Id(cursor.CurrentRecordID), Id(model.Ids[model.Pos]))
              << "record number " << recNo;
          // The record is not read by SetRecNo: read it for the checks below.
          ASSERT_EQ(Move(grmCurrent), grrOK);
          break;
        }
        case 6: {
          if (random() % 2 == 0) {
            cursor.FirstPosition = true;
            cursor.LastPosition = false;
            model.Pos = -1;
          } else {
            cursor.FirstPosition = false;
            cursor.LastPosition = true;
            model.Pos = n;
          }
          break;
        }
      }
      ASSERT_EQ(cursor.FirstPosition, model.Pos == -1);
      ASSERT_EQ(cursor.LastPosition, model.Pos == n);
      const bool onRecord = model.Pos >= 0 && model.Pos < n;
      ASSERT_EQ(table->GetRecNo(cursor), onRecord ? model.Pos + 1 : -1);
      ASSERT_EQ(table->GetRecordCount(cursor), n);
      if (onRecord) {
        ASSERT_EQ(Id(cursor.CurrentRecordID), Id(model.Ids[model.Pos]));
        if (op != 6) {
          ASSERT_EQ(CurrentId(), model.Values[model.Pos]);
        }
      }
    }
  }
}

TEST_F(NavigationTest, RecordNumbersAreClampedToTheView) {
  const TVEXPageItemID first = Insert(1, "Ann");
  Insert(2, "Bob");
  const TVEXPageItemID last = Insert(3, "Cid");
  struct Case {
    int64_t RecNo;
    TVEXPageItemID Expected;
    int64_t ExpectedRecNo;
  } cases[] = {{0, first, 1}, {-7, first, 1}, {1, first, 1}, {3, last, 3}, {99, last, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE("SetRecNo " + std::to_string(c.RecNo));
    cursor.FirstPosition = true;
    table->SetRecNo(cursor, c.RecNo);
    EXPECT_EQ(Id(cursor.CurrentRecordID), Id(c.Expected));
    EXPECT_FALSE(cursor.FirstPosition);
    EXPECT_FALSE(cursor.LastPosition);
    EXPECT_EQ(table->GetRecNo(cursor), c.ExpectedRecNo);
  }
  EXPECT_EQ(table->GetRecordCount(cursor), 3);
}

TEST_F(NavigationTest, AMoveOfAGoneRecordIsAnErrorAndReadsNeedABuffer) {
  const TVEXPageItemID id = Insert(1, "Ann");
  table->SetRecNo(cursor, 1);
  TVEXPageItemID gone = id;
  table->Records()->DeleteRecord(session.SessionID(), gone);
  Insert(2, "Bob");
  EXPECT_EQ(Move(grmCurrent), grrError);
  EXPECT_EQ(Id(cursor.CurrentRecordID), Id(id)) << "the cursor stays where it stood";
  EXPECT_EQ(table->GetRecNo(cursor), -1);

  cursor.SetCurrentRecordBuffer(nullptr);
  ExpectVEXError(10016, [&] { Move(grmNext); });
  TestCursor other(session, "Unmade");
  TVEXTableData* unmade = db.FindOrCreateTableData(other);
  ExpectVEXError(10015, [&] { unmade->GetRecordBuffer(other, grmNext); });
  ExpectVEXError(10272, [&] { table->Locate(cursor, nullptr); });
}

// ---- restricted views

// A table of integer columns ID and A with an index on A, searched through the
// table search; the cursor's view is filtered or DISTINCT.
class RestrictedViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session.SetConnected(true);
    table = static_cast<SearchTable*>(db.FindOrCreateTableData(cursor));
    TVEXFieldDefs fields;
    AddField(fields, "ID", aftInteger);
    AddField(fields, "A", aftInteger);
    TVEXIndexDefs indexes;
    AddIndexDef(indexes, "ByA", {"A"});
    TVEXConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    cursor.SetRecordBufferSize(table->Fields().GetMemoryRecordBufferSize() + 7);
    cursor.SetKeyBufferSize(table->Fields().GetMemoryRecordBufferSize());
    buffer.assign(static_cast<size_t>(cursor.RecordBufferSize()), 0);
    cursor.SetCurrentRecordBuffer(buffer.data());
  }

  int32_t Value(const char* field) const {
    return AndFilter::FieldValue(table->Fields(), buffer.data(), field);
  }
  TVEXGetRecordResult Move(TVEXGetRecordMode mode) { return table->GetRecordBuffer(cursor, mode); }
  void ToEnd(bool last) {
    cursor.CurrentRecordID = {-1, 0};
    cursor.FirstPosition = !last;
    cursor.LastPosition = last;
  }

  FakePageStore pages{4096, 40};
  SearchDatabase db{&pages};
  TestSession session{&db};
  TestCursor cursor{session, "Stays"};
  SearchTable* table = nullptr;
  std::vector<uint8_t> buffer;
};

TEST_F(RestrictedViewTest, EveryModeOnAFilteredViewStaysOnTheLastVisibleRecord) {
  AndFilter filter({{"A", scLower, 5}}, &table->Fields());
  cursor.FilterExpression = &filter;
  for (TVEXGetRecordMode mode : {grmCurrent, grmNext, grmPrior}) {
    SCOPED_TRACE(std::string("empty table, ") + ModeName(mode));
    ToEnd(false);
    EXPECT_EQ(Move(mode), grrEOF);
    EXPECT_TRUE(cursor.FirstPosition);
  }

  // IDs 1..6 with A 9, 1, 7, 3, 8, 2: the view is 2, 4, 6 (A 1, 3, 2).
  const int32_t as[] = {9, 1, 7, 3, 8, 2};
  for (int32_t i = 0; i < 6; ++i) table->Add({i + 1, as[i]});
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "index order" : "physical order");
    cursor.SetIndexID(indexed ? table->IndexIdOf("ByA") : -1);
    cursor.RecordBitmap.reset();
    const std::vector<int32_t> view =
        indexed ? std::vector<int32_t>{2, 6, 4} : std::vector<int32_t>{2, 4, 6};
    ToEnd(false);
    EXPECT_EQ(Move(grmPrior), grrBOF);
    EXPECT_TRUE(cursor.FirstPosition);
    for (int32_t id : view) {
      ASSERT_EQ(Move(grmNext), grrOK);
      EXPECT_EQ(Value("ID"), id);
    }
    const TVEXPageItemID last = cursor.CurrentRecordID;
    EXPECT_EQ(Move(grmNext), grrEOF);
    EXPECT_EQ(Id(cursor.CurrentRecordID), Id(last)) << "past the last visible record it stays";
    EXPECT_FALSE(cursor.LastPosition);
    EXPECT_EQ(Move(grmCurrent), grrOK);
    EXPECT_EQ(Value("ID"), view.back());
    EXPECT_EQ(table->GetRecordCount(cursor), 3);
    EXPECT_EQ(table->GetRecNo(cursor), 3);
    for (auto it = view.rbegin() + 1; it != view.rend(); ++it) {
      ASSERT_EQ(Move(grmPrior), grrOK);
      EXPECT_EQ(Value("ID"), *it);
    }
    EXPECT_EQ(Move(grmPrior), grrBOF);
    EXPECT_EQ(Value("ID"), view.front()) << "before the first visible record it stays";
    EXPECT_EQ(table->GetRecNo(cursor), 1);
    ToEnd(true);
    EXPECT_EQ(Move(grmNext), grrEOF) << "after the last there is nothing further";
    EXPECT_TRUE(cursor.LastPosition);
    EXPECT_EQ(table->GetRecNo(cursor), -1);
    table->SetRecNo(cursor, 2);
    EXPECT_EQ(table->GetRecNo(cursor), 2);
    ASSERT_EQ(Move(grmCurrent), grrOK);
    EXPECT_EQ(Value("ID"), view[1]);
    table->SetRecNo(cursor, 0);
    EXPECT_EQ(table->GetRecNo(cursor), 1) << "a number below 1 names the first record";
  }
}

TEST_F(RestrictedViewTest, TheCurrentRecordOutsideTheFilterIsAnErrorAndTheCursorStays) {
  const TVEXPageItemID inView = table->Add({1, 1});
  const TVEXPageItemID outside = table->Add({2, 9});
  AndFilter filter({{"A", scLower, 5}}, &table->Fields());
  cursor.FilterExpression = &filter;
  cursor.CurrentRecordID = inView;
  cursor.FirstPosition = false;
  ASSERT_EQ(Move(grmCurrent), grrOK);
  cursor.CurrentRecordID = outside;
  EXPECT_EQ(Move(grmCurrent), grrError);
  EXPECT_EQ(Id(cursor.CurrentRecordID), Id(outside));
  EXPECT_FALSE(cursor.FirstPosition);
}

TEST_F(RestrictedViewTest, LocateAndFindKeyLeaveTheCursorWhereItStoodWhenNothingMatches) {
  for (int32_t i = 1; i <= 5; ++i) table->Add({i, i * 10});
  const TVEXPageItemID third = {3, 0};
  for (bool first : {false, true}) {
    cursor.CurrentRecordID = third;
    cursor.FirstPosition = first;
    cursor.LastPosition = !first;
    AndFilter none({{"A", scGreater, 100}}, &table->Fields());
    EXPECT_FALSE(table->Locate(cursor, &none));
    EXPECT_EQ(Id(cursor.CurrentRecordID), Id(third));
    EXPECT_EQ(cursor.FirstPosition, first);
    EXPECT_EQ(cursor.LastPosition, !first);
  }

  AndFilter forty({{"A", scEqual, 40}}, &table->Fields());
  EXPECT_TRUE(table->Locate(cursor, &forty));
  EXPECT_FALSE(cursor.FirstPosition || cursor.LastPosition);
  EXPECT_EQ(Value("ID"), 4) << "a record found is read";

  // A key search on A: the key buffer holds the values of a record.
  std::vector<uint8_t> key = table->Row({0, 20});
  cursor.SetKeyBuffer(key.data());
  cursor.SetKeyFieldCount(1);
  ExpectVEXError(20258, [&] { table->FindKey(cursor, scEqual); });
  EXPECT_EQ(Id(cursor.CurrentRecordID), Id({4, 0}));
  cursor.SetIndexID(table->IndexIdOf("ByA"));
  std::fill(buffer.begin(), buffer.end(), 0);
  EXPECT_TRUE(table->FindKey(cursor, scEqual));
  EXPECT_EQ(Id(cursor.CurrentRecordID), Id({2, 0}));
  EXPECT_EQ(Value("ID"), 0) << "FindKey positions without reading";
  key = table->Row({0, 25});
  cursor.SetKeyBuffer(key.data());
  EXPECT_FALSE(table->FindKey(cursor, scEqual));
  EXPECT_EQ(Id(cursor.CurrentRecordID), Id({2, 0}));
}

TEST_F(RestrictedViewTest, ADistinctStepSkipsEveryRecordEqualOnTheDistinctFields) {
  const int32_t as[] = {2, 1, 3, 1, 2, 2};
  for (int32_t i = 0; i < 6; ++i) table->Add({i + 1, as[i]});
  cursor.SetIndexID(table->IndexIdOf("ByA"));
  cursor.DistinctFieldCount = 1;
  ToEnd(false);
  std::vector<int32_t> seen;
  while (Move(grmNext) == grrOK) {
    seen.push_back(Value("A"));
    ASSERT_EQ(cursor.DistinctRecordBuffer, nullptr) << "the step's copy is freed";
    ASSERT_LE(seen.size(), 6u);
  }
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3}));
  seen.clear();
  while (Move(grmPrior) == grrOK) seen.push_back(Value("A"));
  EXPECT_EQ(seen, (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(table->GetRecordCount(cursor), 3);
}

TEST_F(RestrictedViewTest, ARangeOnTheIndexBoundsTheViewAndResettingItShowsAll) {
  for (int32_t i = 1; i <= 10; ++i) table->Add({i, (i * 7) % 10});
  cursor.SetIndexID(table->IndexIdOf("ByA"));
  // 3 <= A < 7.
  std::vector<uint8_t> from = table->Row({0, 3}), to = table->Row({0, 7});
  cursor.ApplyRange(from.data(), to.data(), 1, 1, false, true);
  EXPECT_EQ(table->GetRecordCount(cursor), 4);
  ToEnd(false);
  std::vector<int32_t> seen;
  while (Move(grmNext) == grrOK) seen.push_back(Value("A"));
  EXPECT_EQ(seen, (std::vector<int32_t>{3, 4, 5, 6}));
  EXPECT_EQ(table->GetRecNo(cursor), 4);
  cursor.ResetRange();
  EXPECT_EQ(table->GetRecordCount(cursor), 10);
  EXPECT_EQ(table->GetRecNo(cursor), 7) << "A = 6 is the seventh in index order";
  EXPECT_EQ(from, table->Row({0, 3})) << "the caller's buffers are not touched";
}

// A random walk over a filtered view against the list of its records, in
// both orders, with records added now and then (the view bitmap then goes
// out of date and is built again).
TEST_F(RestrictedViewTest, ARandomWalkMovesAsTheFilteredListWould) {
  std::mt19937 random(270u);
  AndFilter filter({{"A", scLower, 6}}, &table->Fields());
  cursor.FilterExpression = &filter;
  std::vector<std::pair<int32_t, int32_t>> rows;  // (A, page number)
  auto add = [&] {
    const int32_t a = static_cast<int32_t>(random() % 10);
    const TVEXPageItemID id = table->Add({static_cast<int32_t>(rows.size()) + 1, a});
    rows.push_back({a, id.PageNo});
  };
  for (int i = 0; i < 15; ++i) add();
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "index order" : "physical order");
    cursor.SetIndexID(indexed ? table->IndexIdOf("ByA") : -1);
    cursor.RecordBitmap.reset();
    ToEnd(false);
    int64_t pos = -1;  // in the view; -1 before the first, n after the last
    auto view = [&] {
      std::vector<std::pair<int32_t, int32_t>> v;
      for (const auto& r : rows)
        if (r.first < 6) v.push_back(r);
      if (indexed) std::stable_sort(v.begin(), v.end());
      std::vector<int32_t> pages;
      for (const auto& r : v) pages.push_back(r.second);
      return pages;
    };
    std::vector<int32_t> list = view();
    for (int step = 0; step < 300; ++step) {
      const int64_t n = static_cast<int64_t>(list.size());
      const int op = static_cast<int>(random() % 8);
      SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op) + " at " +
                   std::to_string(pos) + " of " + std::to_string(n));
      switch (op) {
        case 0:
        case 1: {
          const TVEXGetRecordResult r = Move(grmNext);
          if (pos + 1 < n && pos < n) {
            ++pos;
            ASSERT_EQ(r, grrOK);
          } else {
            ASSERT_EQ(r, grrEOF);
          }
          break;
        }
        case 2:
        case 3: {
          const TVEXGetRecordResult r = Move(grmPrior);
          if (pos - 1 >= 0) {
            --pos;
            ASSERT_EQ(r, grrOK);
          } else {
            ASSERT_EQ(r, grrBOF);
          }
          break;
        }
        case 4: {
          const int64_t recNo = static_cast<int64_t>(random() % (n + 4)) - 1;
          table->SetRecNo(cursor, recNo);
          if (n > 0) {
            pos = std::clamp<int64_t>(recNo, 1, n) - 1;
            ASSERT_EQ(Move(grmCurrent), grrOK);
          }
          break;
        }
        case 5: {
          const bool last = random() % 2 == 1;
          ToEnd(last);
          pos = last ? n : -1;
          break;
        }
        case 6: {
          // A record added by another connection: the cursor stays on its
          // record, whose place in the view may move.
          const int32_t page = pos >= 0 && pos < n ? list[static_cast<size_t>(pos)] : 0;
          add();
          list = view();
          if (page != 0)
            pos = std::find(list.begin(), list.end(), page) - list.begin();
          else if (pos > 0)
            pos = static_cast<int64_t>(list.size());
          break;
        }
        case 7:
          ASSERT_EQ(table->GetRecordCount(cursor), n);
          break;
      }
      const int64_t size = static_cast<int64_t>(list.size());
      const bool onRecord = pos >= 0 && pos < size;
      ASSERT_EQ(table->GetRecNo(cursor), onRecord ? pos + 1 : -1);
      if (onRecord) {
        ASSERT_EQ(cursor.CurrentRecordID.PageNo, list[static_cast<size_t>(pos)]);
        ASSERT_LT(Value("A"), 6);
      } else {
        ASSERT_EQ(cursor.FirstPosition, pos == -1);
        ASSERT_EQ(cursor.LastPosition, pos == size);
      }
    }
  }
}

// ---- field data

std::vector<uint8_t> Bytes(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(p, p + size);
}
template <class T>
std::vector<uint8_t> Bytes(T value) {
  return Bytes(&value, sizeof(T));
}
std::string Hex(const std::vector<uint8_t>& bytes) {
  std::ostringstream s;
  for (uint8_t b : bytes) s << std::hex << (b < 16 ? "0" : "") << static_cast<int>(b) << ' ';
  return s.str();
}

TEST(FieldDataTest, EveryTypeRoundTripsThroughARecordBuffer) {
  struct Case {
    const char* Name;
    TVEXAdvancedFieldType Type;
    int32_t Size;
    // In the dataset framework's format.
    std::vector<uint8_t> Value;
    // The bytes the record holds, when the format differs.
    std::vector<uint8_t> Stored;
  };
  const std::u16string wide = u"h\u00e9";
  const Case cases[] = {
      {"Char", aftChar, 5, Bytes("abc", 4), {}},
      {"String", aftString, 10, Bytes("hello", 6), {}},
      {"WideChar", aftWideChar, 4, Bytes(wide.c_str(), 6), {}},
      {"WideString", aftWideString, 8, Bytes(wide.c_str(), 6), {}},
      {"Shortint -5 as 16 bits", aftShortint, 0, Bytes<int16_t>(-5), Bytes<int8_t>(-5)},
      {"Smallint", aftSmallint, 0, Bytes<int16_t>(-300), {}},
      {"Integer", aftInteger, 0, Bytes<int32_t>(-70000), {}},
      {"Largeint", aftLargeint, 0, Bytes<int64_t>(-5000000000), {}},
      {"Byte", aftByte, 0, Bytes<uint8_t>(200), {}},
      {"Word", aftWord, 0, Bytes<uint16_t>(65000), {}},
      {"Cardinal 4294967295 as 64 bits", aftCardinal, 0, Bytes<int64_t>(4294967295),
       Bytes<uint32_t>(4294967295u)},
      {"AutoInc", aftAutoInc, 0, Bytes<int32_t>(7), {}},
      {"Single as double", aftSingle, 0, Bytes<double>(1.5), Bytes<float>(1.5f)},
      {"Double", aftDouble, 0, Bytes<double>(-2.75), {}},
      {"Extended as double", aftExtended, 0, Bytes<double>(2.25), {}},
      {"Boolean", aftBoolean, 0, Bytes<uint16_t>(1), {}},
      {"Currency", aftCurrency, 0, Bytes<double>(12.5), {}},
      {"Date", aftDate, 0, Bytes<int32_t>(738000), {}},
      {"Time", aftTime, 0, Bytes<int32_t>(3600000), {}},
      {"DateTime", aftDateTime, 0, Bytes<double>(45000.5), {}},
      {"TimeStamp", aftTimeStamp, 0, Bytes<double>(45000.25), {}},
      {"Bytes", aftBytes, 3, Bytes("\x01\x02\x03", 3), {}},
      {"Guid", aftGuid, 38, Bytes("{00000000-0000-0000-0000-000000000001}", 39), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TVEXFieldDefs defs;
    AddField(defs, "Before", aftInteger);
    AddField(defs, "F", c.Type, c.Size);
    defs.RecalcFieldOffsets();
    const TVEXFieldDef& def = *defs.GetDef(1);
    std::vector<uint8_t> record = NullRecord(defs);
    // The dataset's buffer is at least as wide as the record's field.
    std::vector<uint8_t> in = c.Value;
    in.resize(std::max(in.size(), static_cast<size_t>(def.MemoryDataSize)), 0);
    SetFieldDataToRecordBuffer(1, defs, in.data(), record.data());
    EXPECT_FALSE(GetBitFromBuffer(1, record.data()));
    EXPECT_TRUE(GetBitFromBuffer(0, record.data())) << "the other field stays null";
    if (!c.Stored.empty()) {
      EXPECT_EQ(Hex(Bytes(record.data() + def.MemoryOffset, c.Stored.size())), Hex(c.Stored));
    }
    std::vector<uint8_t> out(in.size(), 0);
    ASSERT_TRUE(GetFieldDataFromRecordBuffer(1, defs, out.data(), record.data()));
    EXPECT_EQ(Hex(out), Hex(in));
  }
}

TEST(FieldDataTest, NullsEmptyTextsBlobsAndBadArgumentsAreHandledBeforeAnyRead) {
  TVEXFieldDefs defs;
  AddField(defs, "Name", aftString, 10);
  AddField(defs, "Wide", aftWideString, 10);
  AddField(defs, "Photo", aftBlob);
  AddField(defs, "N", aftInteger);
  defs.RecalcFieldOffsets();
  std::vector<uint8_t> record = NullRecord(defs);
  std::vector<uint8_t> out(64, 0xAA);

  const int32_t n = 42;
  SetFieldDataToRecordBuffer(3, defs, &n, record.data());
  EXPECT_TRUE(GetFieldDataFromRecordBuffer(3, defs, nullptr, record.data()))
      << "without a buffer only whether the field is not null";
  SetFieldDataToRecordBuffer(3, defs, nullptr, record.data());
  EXPECT_FALSE(GetFieldDataFromRecordBuffer(3, defs, out.data(), record.data()));
  EXPECT_EQ(out[0], 0xAA) << "nothing copied for a null field";

  // An empty text is stored as null.
  const char ansi[11] = "";
  const char16_t wide[11] = u"";
  SetFieldDataToRecordBuffer(0, defs, ansi, record.data());
  SetFieldDataToRecordBuffer(1, defs, wide, record.data());
  EXPECT_FALSE(GetFieldDataFromRecordBuffer(0, defs, out.data(), record.data()));
  EXPECT_FALSE(GetFieldDataFromRecordBuffer(1, defs, out.data(), record.data()));

  // A BLOB field reports not null and copies nothing: its data go through streams.
  SetBitInBuffer(false, 2, record.data());
  EXPECT_TRUE(GetFieldDataFromRecordBuffer(2, defs, out.data(), record.data()));
  EXPECT_EQ(out[0], 0xAA);

  struct Case {
    const char* What;
    int32_t Code;
    std::function<void()> Run;
  } cases[] = {
      {"read field = count", 10000,
       [&] { GetFieldDataFromRecordBuffer(4, defs, nullptr, record.data()); }},
      {"read field -1", 10000,
       [&] { GetFieldDataFromRecordBuffer(-1, defs, out.data(), record.data()); }},
      {"read without a record", 10003,
       [&] { GetFieldDataFromRecordBuffer(3, defs, out.data(), nullptr); }},
      {"write field = count", 10004,
       [&] { SetFieldDataToRecordBuffer(4, defs, &n, record.data()); }},
      {"write without a record", 10001, [&] { SetFieldDataToRecordBuffer(3, defs, &n, nullptr); }},
      {"compare without a first buffer", 10122,
       [&] { RecordBuffersEqual(nullptr, out.data(), 1); }},
      {"compare without a second buffer", 10123,
       [&] { RecordBuffersEqual(out.data(), nullptr, 1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ExpectVEXError(c.Code, c.Run);
  }

  // A definition whose place lies outside the record layout.
  SetFieldDataToRecordBuffer(3, defs, &n, record.data());
  defs.GetDef(3)->MemoryOffset = defs.GetMemoryRecordBufferSize();
  ExpectVEXError(10002, [&] { GetFieldDataFromRecordBuffer(3, defs, out.data(), record.data()); });

  const std::vector<uint8_t> a{1, 2, 3}, b{1, 2, 4};
  EXPECT_TRUE(RecordBuffersEqual(a.data(), b.data(), 2));
  EXPECT_FALSE(RecordBuffersEqual(a.data(), b.data(), 3));
}

}  // namespace
}  // namespace vex
