// Filters, FindFirst/FindNext, Locate and Lookup over the vector dataset.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VectorDataSet.h"

using namespace db;
using dbtest::TVectorDataSet;

namespace {

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.AddColumn("ID", ftInteger);
    ds.AddColumn("NAME", ftString, 10);
    ds.AddColumn("CITY", ftString, 10);
    ds.Open();
    const char* rows[][2] = {
        {"ann", "Paris"}, {"bob", "Rome"}, {"Cid", "Paris"}, {"dan", "Oslo"}, {"eve", "Rome"}};
    int id = 1;
    for (auto& r : rows) {
      ds.Append();
      ds.FieldByName("ID")->SetAsInteger(id++);
      ds.FieldByName("NAME")->SetAsString(r[0]);
      ds.FieldByName("CITY")->SetAsString(r[1]);
      ds.Post();
    }
    ds.First();
  }
  int Id() { return ds.FieldByName("ID")->AsInteger(); }
  std::vector<int> AllIds() {
    std::vector<int> ids;
    for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(Id());
    return ids;
  }

  TVectorDataSet ds;
};

TEST_F(SearchTest, FilterEventHidesRecordsWhileFiltered) {
  int calls = 0;
  ds.SetOnFilterRecord([&](TDataSet& d, bool& accept) {
    ++calls;
    EXPECT_EQ(d.State(), dsFilter);
    accept = d.FieldByName("ID")->AsInteger() % 2 == 0;
  });
  EXPECT_EQ(AllIds(), (std::vector<int>{1, 2, 3, 4, 5}));  // not filtered yet
  EXPECT_EQ(calls, 0);
  ds.SetFiltered(true);
  EXPECT_EQ(Id(), 2);  // filtering moves to the first accepted record
  EXPECT_EQ(AllIds(), (std::vector<int>{2, 4}));
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_GT(calls, 0);

  // A handler that leaves Accept alone accepts everything.
  ds.SetOnFilterRecord([](TDataSet&, bool&) {});
  EXPECT_EQ(AllIds(), (std::vector<int>{1, 2, 3, 4, 5}));

  ds.SetOnFilterRecord(
      [](TDataSet& d, bool& accept) { accept = d.FieldByName("CITY")->AsString() == "Rome"; });
  EXPECT_EQ(Id(), 2);  // applied at once on an open, filtered dataset
  EXPECT_EQ(AllIds(), (std::vector<int>{2, 5}));
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 5);
}

TEST_F(SearchTest, FindHonoursTheFilterTextWithoutFilteringTheDataset) {
  ds.SetFilter("CITY=Paris");
  EXPECT_FALSE(ds.Filtered());
  ds.Last();
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_TRUE(ds.Found());
  EXPECT_EQ(Id(), 1);
  EXPECT_TRUE(ds.FindNext());
  EXPECT_EQ(Id(), 3);
  EXPECT_FALSE(ds.FindNext());
  EXPECT_FALSE(ds.Found());
  EXPECT_EQ(Id(), 3);  // a failed search does not move
  EXPECT_TRUE(ds.FindPrior());
  EXPECT_EQ(Id(), 1);
  EXPECT_TRUE(ds.FindLast());
  EXPECT_EQ(Id(), 3);
  EXPECT_FALSE(ds.Filtered());
  EXPECT_EQ(AllIds(), (std::vector<int>{1, 2, 3, 4, 5}));

  ds.SetFilterOptions(TFilterOptions{foCaseInsensitive});
  ds.SetFilter("NAME=CID");
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(Id(), 3);
}

TEST_F(SearchTest, LocateMovesOnlyWhenItFinds) {
  int scrolls = 0;
  ds.AfterScroll = [&](TDataSet&) { ++scrolls; };
  EXPECT_TRUE(ds.Locate("NAME", rtl::Variant("dan"), TLocateOptions{}));
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(scrolls, 1);

  EXPECT_FALSE(ds.Locate("NAME", rtl::Variant("DAN"), TLocateOptions{}));  // case matters
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(scrolls, 1);
  EXPECT_TRUE(ds.Locate("NAME", rtl::Variant("cid"), TLocateOptions{loCaseInsensitive}));
  EXPECT_EQ(Id(), 3);
  EXPECT_TRUE(ds.Locate("NAME", rtl::Variant("e"), TLocateOptions{loPartialKey}));
  EXPECT_EQ(Id(), 5);

  rtl::Variant keys = rtl::Variant::ArrayOf({rtl::Variant("Rome"), rtl::Variant("bob")});
  EXPECT_TRUE(ds.Locate("CITY;NAME", keys, TLocateOptions{}));
  EXPECT_EQ(Id(), 2);
  EXPECT_THROW(ds.Locate("NOPE", rtl::Variant(1), TLocateOptions{}), EDatabaseError);
}

TEST_F(SearchTest, LookupReadsAnotherRecordWithoutMoving) {
  ds.Next();
  EXPECT_EQ(ds.Lookup("NAME", rtl::Variant("dan"), "CITY").AsString(), "Oslo");
  rtl::Variant both = ds.Lookup("ID", rtl::Variant(5), "NAME;CITY");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(both.Element(0).AsString(), "eve");
  EXPECT_EQ(both.Element(1).AsString(), "Rome");
  EXPECT_TRUE(ds.Lookup("NAME", rtl::Variant("zed"), "CITY").IsNull());
  EXPECT_EQ(Id(), 2);
  EXPECT_EQ(ds.State(), dsBrowse);
}

TEST_F(SearchTest, SearchingPostsAPendingEdit) {
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("zed");
  EXPECT_TRUE(ds.Locate("NAME", rtl::Variant("zed"), TLocateOptions{}));
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(Id(), 1);
}

}  // namespace
