// The dataset framework driven through its public interface over the vector
// dataset: opening, navigation and the buffer ring, editing, error events,
// bookmarks, events and data links.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VectorDataSet.h"

using namespace db;
using dbtest::TVectorDataSet;

namespace {

// A link that records what it is told and can widen the dataset's window.
class TRecordingLink : public TDataLink {
 public:
  std::vector<std::string> Log;
  int Changes = 0;

 protected:
  void ActiveChanged() override { Log.push_back(Active() ? "active" : "inactive"); }
  void DataSetChanged() override { ++Changes; }
  void DataSetScrolled(int32_t Distance) override {
    Log.push_back("scroll " + std::to_string(Distance));
    ++Changes;
  }
  void RecordChanged(TField* Field) override {
    Log.push_back(Field ? "field " + Field->FieldName() : "record");
  }
  void EditingChanged() override { Log.push_back(Editing() ? "editing" : "not editing"); }
};

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.SetName("People");
    ds.AddColumn("ID", ftInteger);
    ds.AddColumn("NAME", ftString, 10);
  }
  void Fill(int count) {
    ds.Open();
    for (int i = 1; i <= count; ++i) {
      ds.Append();
      ds.FieldByName("ID")->SetAsInteger(i);
      ds.FieldByName("NAME")->SetAsString("n" + std::to_string(i));
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

TEST_F(DataSetTest, OpensOnTheFirstRecordAndWalksBothWays) {
  Fill(5);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(AllIds(), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(Id(), 5);  // Next past the end stays on the last record

  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_FALSE(ds.Bof());
  std::vector<int> back;
  for (; !ds.Bof(); ds.Prior()) back.push_back(Id());
  EXPECT_EQ(back, (std::vector<int>{5, 4, 3, 2, 1}));

  ds.First();
  EXPECT_EQ(ds.MoveBy(3), 3);
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(ds.MoveBy(10), 1);  // only one more record
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.MoveBy(-10), -4);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecordCount(), 5);
  ds.SetRecNo(3);
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(Id(), 3);
}

TEST_F(DataSetTest, EmptyDatasetIsBothBofAndEof) {
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.FieldByName("NAME")->IsNull());
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "");
  EXPECT_THROW(ds.Delete(), EDatabaseError);
  ds.Close();
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.Allocated(), 0);
}

TEST_F(DataSetTest, OperationsOnAClosedDatasetRaiseWithTheDatasetName) {
  try {
    ds.First();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "People: Cannot perform this operation on a closed dataset");
  }
  ds.Open();
  try {
    ds.FieldByName("NOPE");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "People: Field 'NOPE' not found");
  }
}

TEST_F(DataSetTest, AFailedOpenClosesTheCursorAgainAndLeaksNothing) {
  ds.FailOpens = 1;
  int afterOpen = 0;
  ds.AfterOpen = [&](TDataSet&) { ++afterOpen; };
  EXPECT_THROW(ds.Open(), EDatabaseError);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.State(), dsInactive);
  EXPECT_EQ(ds.Allocated(), 0);
  EXPECT_EQ(afterOpen, 0);
  ds.Open();
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(afterOpen, 1);
}

// A link with a window of three records makes the ring rotate: every position
// must still show the right record in the right slot.
TEST_F(DataSetTest, RingOfBuffersKeepsTheWindowInOrder) {
  Fill(10);
  TDataSource source(nullptr);
  source.SetDataSet(&ds);
  TRecordingLink link;
  link.SetBufferCount(3);
  link.SetDataSource(&source);
  EXPECT_EQ(ds.BufferCount(), 3);

  auto window = [&] {
    // The ids of the link's window, read by moving the active record.
    std::vector<int> ids;
    int32_t saved = link.ActiveRecord();
    for (int32_t i = 0; i < link.RecordCount(); ++i) {
      link.SetActiveRecord(i);
      ids.push_back(Id());
    }
    link.SetActiveRecord(saved);
    return ids;
  };

  ds.First();
  EXPECT_EQ(window(), (std::vector<int>{1, 2, 3}));
  for (int i = 0; i < 4; ++i) ds.Next();
  EXPECT_EQ(Id(), 5);
  EXPECT_EQ(window(), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(link.ActiveRecord(), 2);
  ds.Prior();
  ds.Prior();
  ds.Prior();
  EXPECT_EQ(Id(), 2);
  EXPECT_EQ(window(), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(link.ActiveRecord(), 0);

  ds.Last();
  EXPECT_EQ(window(), (std::vector<int>{8, 9, 10}));
  ASSERT_TRUE(ds.Locate("ID", rtl::Variant(int32_t{6}), TLocateOptions{}));
  // Centred on the found record.
  EXPECT_EQ(window(), (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(Id(), 6);

  // Editing inside the window and posting keeps the neighbours.
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("six");
  ds.Post();
  EXPECT_EQ(window(), (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "six");

  link.SetDataSource(nullptr);
  EXPECT_EQ(ds.BufferCount(), 1);
  EXPECT_EQ(Id(), 6);
}

TEST_F(DataSetTest, EditPostAndCancel) {
  Fill(3);
  ds.Next();
  ds.Edit();
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_FALSE(ds.Modified());
  ds.FieldByName("NAME")->SetAsString("changed");
  EXPECT_TRUE(ds.Modified());
  EXPECT_EQ(ds.FieldByName("NAME")->OldValue().AsString(), "n2");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "n2");

  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("changed");
  ds.Next();  // leaving the record posts a modified edit
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(Id(), 3);
  ds.Prior();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "changed");

  // Setting a field outside an edit is refused by the dataset.
  try {
    ds.FieldByName("NAME")->SetAsString("x");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "People: Dataset not in edit or insert mode");
  }
}

TEST_F(DataSetTest, InsertGoesBeforeTheCurrentRecordAndCancelReturnsToIt) {
  Fill(3);
  ds.Next();  // on 2
  ds.Insert();
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(ds.RecNo(), -1);
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
  ds.Cancel();
  EXPECT_EQ(Id(), 2);
  EXPECT_EQ(ds.RecordCount(), 3);

  ds.Insert();
  ds.FieldByName("ID")->SetAsInteger(9);
  ds.Post();
  EXPECT_EQ(Id(), 9);
  EXPECT_EQ(AllIds(), (std::vector<int>{1, 9, 2, 3}));

  // Append goes to the end; Edit of an empty dataset inserts.
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(7);
  ds.Post();
  EXPECT_EQ(AllIds(), (std::vector<int>{1, 9, 2, 3, 7}));
}

TEST_F(DataSetTest, EditOfAnEmptyDatasetInserts) {
  ds.Open();
  ds.Edit();
  EXPECT_EQ(ds.State(), dsInsert);
  ds.FieldByName("ID")->SetAsInteger(1);
  ds.Post();
  EXPECT_EQ(ds.RecordCount(), 1);
}

TEST_F(DataSetTest, DeleteMovesToTheNextRecordOrThePriorAtTheEnd) {
  Fill(3);
  ds.Next();
  ds.Delete();
  EXPECT_EQ(Id(), 3);
  ds.Delete();
  EXPECT_EQ(Id(), 1);
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
}

TEST_F(DataSetTest, ANewRecordHandlerFailureLeavesTheDatasetBrowsing) {
  Fill(2);
  ds.OnNewRecord = [](TDataSet&) { throw EDatabaseError("no"); };
  EXPECT_THROW(ds.Append(), EDatabaseError);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.RecordCount(), 2);
}

struct ErrorCase {
  const char* name;
  void (*arrange)(TVectorDataSet&, int);
  void (*act)(TVectorDataSet&);
  TDataSetErrorEvent TVectorDataSet::*event;
};

class ErrorEventTest : public DataSetTest, public ::testing::WithParamInterface<ErrorCase> {};

// A lock conflict reaches the error event; retry repeats the operation with the
// cursor positioned again, fail re-raises, abort ends silently.
TEST_P(ErrorEventTest, RetryFailAndAbort) {
  const ErrorCase& c = GetParam();
  Fill(3);
  ds.Next();
  int calls = 0;
  (ds.*c.event) = [&](TDataSet&, EDatabaseError& e, TDataAction& action) {
    EXPECT_STREQ(e.what(), "People: Record is locked");
    ++calls;
    action = daRetry;
  };
  c.arrange(ds, 2);
  c.act(ds);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(ds.State(), dsBrowse);

  ds.First();
  (ds.*c.event) = [&](TDataSet&, EDatabaseError&, TDataAction&) {};  // daFail
  c.arrange(ds, 1);
  EXPECT_THROW(c.act(ds), EDatabaseError);
  ds.Cancel();

  ds.First();
  (ds.*c.event) = [&](TDataSet&, EDatabaseError&, TDataAction& a) { a = daAbort; };
  c.arrange(ds, 1);
  EXPECT_THROW(c.act(ds), EAbort);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ErrorEventTest,
    ::testing::Values(ErrorCase{"Post", [](TVectorDataSet& d, int n) { d.FailPosts = n; },
                                [](TVectorDataSet& d) {
                                  if (d.State() == dsBrowse) d.Edit();
                                  d.FieldByName("NAME")->SetAsString("p");
                                  d.Post();
                                },
                                &TVectorDataSet::OnPostError},
                      ErrorCase{"Edit", [](TVectorDataSet& d, int n) { d.FailEdits = n; },
                                [](TVectorDataSet& d) {
                                  d.Edit();
                                  d.Post();
                                },
                                &TVectorDataSet::OnEditError},
                      ErrorCase{"Insert", [](TVectorDataSet& d, int n) { d.FailInserts = n; },
                                [](TVectorDataSet& d) {
                                  d.Insert();
                                  d.FieldByName("ID")->SetAsInteger(99);
                                  d.Post();
                                },
                                &TVectorDataSet::OnEditError},
                      ErrorCase{"Delete", [](TVectorDataSet& d, int n) { d.FailDeletes = n; },
                                [](TVectorDataSet& d) { d.Delete(); },
                                &TVectorDataSet::OnDeleteError}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DataSetTest, AFailedPostKeepsTheEditSoItCanBeTriedAgain) {
  Fill(2);
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("kept");
  ds.FailPosts = 1;
  EXPECT_THROW(ds.Post(), EDatabaseError);
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "kept");
  ds.Post();
  ds.First();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "kept");
}

// A null required field refuses the post before the record is stored, and the
// refusal reaches OnPostError like any other post error; an autoincrement
// field is numbered by the store, so it may be null.
TEST(RequiredFieldsTest, ANullRequiredFieldRefusesThePost) {
  TVectorDataSet req;
  req.SetName("Guests");
  req.AddColumn("ID", ftAutoInc, 0, true);
  req.AddColumn("CODE", ftString, 6, true);
  req.AddColumn("NOTE", ftString, 10);
  req.Open();
  std::string seen;
  req.OnPostError = [&](TDataSet&, EDatabaseError& e, TDataAction&) { seen = e.what(); };
  req.Append();
  req.FieldByName("NOTE")->SetAsString("x");
  EXPECT_THROW(req.Post(), EDatabaseError);
  EXPECT_EQ(seen, "Guests: Field 'CODE' must have a value");
  EXPECT_EQ(req.State(), dsInsert);
  EXPECT_EQ(req.StoredRows(), 0u);
  req.FieldByName("CODE")->SetAsString("000001");
  req.Post();
  EXPECT_EQ(req.StoredRows(), 1u);
}

TEST_F(DataSetTest, AFailedInsertLeavesTheDatasetOnItsRecord) {
  Fill(3);
  ds.Next();
  ds.FailInserts = 1;
  EXPECT_THROW(ds.Insert(), EDatabaseError);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(Id(), 2);
  EXPECT_EQ(AllIds(), (std::vector<int>{1, 2, 3}));
}

TEST_F(DataSetTest, RefreshAfterTheCurrentRecordWentAwayShowsItsNeighbour) {
  Fill(3);
  ds.Next();
  ds.EraseStoredRow(1);
  EXPECT_EQ(Id(), 2);  // still buffered
  ds.Refresh();
  EXPECT_EQ(Id(), 3);
  ds.EraseStoredRow(1);
  ds.Refresh();
  EXPECT_EQ(Id(), 1);  // no next record: the prior one
  ds.EraseStoredRow(0);
  ds.Refresh();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof());
}

TEST_F(DataSetTest, BookmarksReturnToTheirRecord) {
  Fill(5);
  ds.MoveBy(2);
  TBookmark mark = ds.GetBookmark();
  ASSERT_EQ(mark.size(), 8u);
  ds.Last();
  EXPECT_TRUE(ds.BookmarkValid(mark));
  ds.GotoBookmark(mark);
  EXPECT_EQ(Id(), 3);
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(mark));
  try {
    ds.GotoBookmark(mark);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "People: Record not found");
  }
  ds.FreeBookmark(mark);
  EXPECT_TRUE(mark.empty());
  ds.GotoBookmark(mark);  // an empty bookmark goes nowhere

  ds.Insert();
  EXPECT_TRUE(ds.GetBookmark().empty());  // no bookmark for an unposted record
  ds.Cancel();
}

TEST_F(DataSetTest, EventsRunInTheirOrder) {
  std::vector<std::string> log;
  auto on = [&](const char* name) { return [&log, name](TDataSet&) { log.push_back(name); }; };
  ds.BeforeOpen = on("BeforeOpen");
  ds.AfterOpen = on("AfterOpen");
  ds.BeforeInsert = on("BeforeInsert");
  ds.AfterInsert = on("AfterInsert");
  ds.OnNewRecord = on("OnNewRecord");
  ds.BeforePost = on("BeforePost");
  ds.AfterPost = on("AfterPost");
  ds.BeforeEdit = on("BeforeEdit");
  ds.AfterEdit = on("AfterEdit");
  ds.BeforeCancel = on("BeforeCancel");
  ds.AfterCancel = on("AfterCancel");
  ds.BeforeDelete = on("BeforeDelete");
  ds.AfterDelete = on("AfterDelete");
  ds.BeforeScroll = on("BeforeScroll");
  ds.AfterScroll = on("AfterScroll");
  ds.BeforeClose = on("BeforeClose");
  ds.AfterClose = on("AfterClose");

  ds.Open();
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(1);
  ds.Post();
  ds.Edit();
  ds.Cancel();
  ds.Delete();
  ds.Close();
  EXPECT_EQ(log, (std::vector<std::string>{
                     "BeforeOpen", "AfterOpen",                                     //
                     "BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert",  //
                     "AfterScroll", "BeforePost", "AfterPost",                      //
                     "BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel",      //
                     "BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll",  //
                     "BeforeClose", "AfterClose"}));
}

TEST_F(DataSetTest, LinksFollowStateAndStayQuietWhileControlsAreDisabled) {
  Fill(3);
  TDataSource source(nullptr);
  TRecordingLink link;
  link.SetDataSource(&source);
  source.SetDataSet(&ds);
  EXPECT_TRUE(link.Active());
  ds.Edit();
  EXPECT_TRUE(link.Editing());
  ds.FieldByName("NAME")->SetAsString("x");
  ds.Cancel();
  EXPECT_THAT(link.Log,
              ::testing::ElementsAre("active", "editing", "record", "field NAME", "not editing"));

  link.Log.clear();
  link.Changes = 0;
  ds.DisableControls();
  ds.Next();
  ds.Next();
  EXPECT_EQ(link.Changes, 0);
  ds.EnableControls();
  EXPECT_EQ(link.Changes, 1);

  ds.Close();
  EXPECT_FALSE(link.Active());
  source.SetEnabled(false);
  ds.Open();
  EXPECT_FALSE(link.Active());
}

TEST_F(DataSetTest, ActiveSetWhileLoadingOpensWhenLoadingEnds) {
  ds.BeginLoading();
  ds.SetActive(true);
  EXPECT_FALSE(ds.Active());
  ds.EndLoading();
  EXPECT_TRUE(ds.Active());
}

TEST_F(DataSetTest, DataSourceEditsOnlyWhenAutoEditAllowsIt) {
  Fill(1);
  TDataSource source(nullptr);
  source.SetDataSet(&ds);
  int dataChanges = 0;
  source.OnDataChange = [&](TDataSource&, TField*) { ++dataChanges; };
  source.SetAutoEdit(false);
  source.Edit();
  EXPECT_EQ(ds.State(), dsBrowse);
  source.SetAutoEdit(true);
  source.Edit();
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(source.State(), dsEdit);
  ds.Cancel();
  EXPECT_GE(dataChanges, 1);
}

TEST_F(DataSetTest, DataSourceForgetsADestroyedDataSet) {
  TDataSource source(nullptr);
  {
    TVectorDataSet other;
    other.AddColumn("A", ftInteger);
    other.Open();
    source.SetDataSet(&other);
    EXPECT_EQ(source.State(), dsBrowse);
  }
  EXPECT_EQ(source.DataSet(), nullptr);
  EXPECT_EQ(source.State(), dsInactive);
}

}  // namespace
