// The dataset component on a multi-user database file of the disk engine, with
// two connections (two sessions) and lock waits in virtual time: record
// buffers and bookmarks, the database flags, editing through the framework's
// error-event loop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "components/VEXDataSet.h"
#include "components/VEXDatabase.h"
#include "components/VEXEngineError.h"
#include "components/VEXEngineState.h"
#include "components/VEXSession.h"
#include "db/DBCommon.h"
#include "engine/components/DataSetFixture.h"
#include "engine/components/ScriptedUi.h"
#include "support/FakeClock.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace {

using testsupport::RaisesNativeError;
using vextest::TableDataSet;

std::string DatabaseErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const db::EDatabaseError& e) {
    return e.what();
  }
  return "<no database error>";
}

int32_t EngineErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const vex::EVEXEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

class DataSet : public ::testing::Test {
 protected:
  void SetUp() override {
    File = Dir / "hotel.vdb";
    vextest::CreateCounterFile(File);
    S1.SetSessionName("S1");
    S2.SetSessionName("S2");
    vextest::AddHotel(S1, File);
    vextest::AddHotel(S2, File);
    A = NewDataSet("S1");
    B = NewDataSet("S2");
    A->Open();
    for (int32_t id = 1; id <= 3; ++id) AddRow(*A, id, "Row" + std::to_string(id));
    B->Open();
  }
  std::unique_ptr<TableDataSet> NewDataSet(const std::string& Session) {
    auto ds = std::make_unique<TableDataSet>();
    ds->SetSessionName(Session);
    ds->SetDatabaseName("Hotel");
    ds->TableName = "Counter";
    return ds;
  }
  static void AddRow(TableDataSet& ds, int32_t Id, const std::string& Name) {
    ds.Insert();
    ds.FieldByName("ID")->SetAsInteger(Id);
    ds.FieldByName("NAME")->SetAsString(Name);
    ds.FieldByName("N")->SetAsInteger(0);
    ds.Post();
  }
  static void Seek(TableDataSet& ds, int32_t Id) {
    ds.First();
    while (!ds.Eof() && ds.FieldByName("ID")->AsInteger() != Id) ds.Next();
    ASSERT_FALSE(ds.Eof()) << Id;
  }

  testsupport::ScratchDir Dir;
  testsupport::FakeClockScope Clock;
  vextest::ScriptedUi Ui;
  ui::ScopedUi UiScope{Ui};
  std::string File;
  vex::TVEXSession S1{nullptr};
  vex::TVEXSession S2{nullptr};
  std::unique_ptr<TableDataSet> A;
  std::unique_ptr<TableDataSet> B;
};

TEST_F(DataSet, NewRecordsCarryTheInsertedFlagUntilPostedAndBookmarksCompareInTableOrder) {
  // The framework marks the new buffer with the record it was inserted
  // before; the record itself is initialised with no id.
  A->Insert();
  uint8_t* buffer = A->ActiveBuffer();
  EXPECT_EQ(A->FlagOf(buffer), 3);
  A->InitRecord(buffer);
  EXPECT_EQ(A->FlagOf(buffer), 3);
  EXPECT_EQ(A->IdOf(buffer).PageNo, -1);
  EXPECT_EQ(A->IdOf(buffer).PageItemNo, 0xFFFF);
  EXPECT_EQ(A->RecNo(), -1);
  A->FieldByName("ID")->SetAsInteger(4);
  A->FieldByName("NAME")->SetAsString("Four");
  A->Post();
  EXPECT_EQ(A->FieldByName("ID")->AsInteger(), 4);
  EXPECT_EQ(A->FlagOf(A->ActiveBuffer()), 0);
  const db::TBookmark fourth = A->GetBookmark();
  vex::TVEXPageItemID id{};
  std::memcpy(&id, fourth.data(), 6);
  EXPECT_GE(id.PageNo, 0);
  EXPECT_EQ(A->RecordCount(), 4);

  Seek(*A, 1);
  EXPECT_EQ(A->RecNo(), 1);
  const db::TBookmark first = A->GetBookmark();
  A->GotoBookmark(fourth);
  EXPECT_EQ(A->FieldByName("ID")->AsInteger(), 4);
  EXPECT_EQ(A->CompareBookmarks(first, fourth), -1);
  EXPECT_EQ(A->CompareBookmarks(fourth, first), 1);
  EXPECT_EQ(A->CompareBookmarks(first, first), 0);
  EXPECT_EQ(A->CompareBookmarks({}, first), 1);
  EXPECT_EQ(A->CompareBookmarks(first, {}), -1);
  EXPECT_EQ(A->CompareBookmarks({}, {}), 0);

  // A record another connection deleted leaves its bookmark invalid.
  Seek(*A, 2);
  const db::TBookmark second = A->GetBookmark();
  Seek(*B, 2);
  B->Delete();
  EXPECT_FALSE(A->BookmarkValid(second));
  EXPECT_TRUE(A->BookmarkValid(first));
  EXPECT_FALSE(A->BookmarkValid({}));

  A->Close();
  EXPECT_EQ(A->RecordCount(), 0);
  EXPECT_FALSE(A->BookmarkValid(first));
}

TEST_F(DataSet, DatabaseNamesAndFlagsDecideWhenTheDatabaseIsHeldAndGivenBack) {
  vex::TVEXSession& defaultSession = vex::GetDefaultSession();
  const int32_t databases = defaultSession.DatabaseCount();
  TableDataSet blank;
  blank.TableName = "Counter";
  EXPECT_NE(DatabaseErrorOf([&] { blank.Open(); }).find("DatabaseName property is blank"),
            std::string::npos);
  EXPECT_EQ(blank.Database(), nullptr);
  EXPECT_EQ(blank.DBFlags(), 0);
  EXPECT_EQ(defaultSession.DatabaseCount(), databases);

  blank.SetInMemory(true);
  EXPECT_EQ(blank.DatabaseName(), "MEMORY");
  blank.SetDatabaseName("Hotel");
  EXPECT_FALSE(blank.InMemory());
  blank.SetDatabaseName("memory");
  EXPECT_TRUE(blank.InMemory());

  // Another flag holds the database while the dataset is closed.
  vex::TVEXDatabase* hotel = S1.FindDatabase("Hotel");
  ASSERT_NE(hotel, nullptr);
  auto c = NewDataSet("S1");
  c->SetDBFlag(vex::dbfFieldDefs, true);
  EXPECT_EQ(c->Database(), hotel);
  EXPECT_EQ(hotel->DataSetCount(), 2);
  EXPECT_NE(DatabaseErrorOf([&] {
              c->SetDatabaseName("Other");
            }).find("Cannot perform this operation on an open database"),
            std::string::npos);
  EXPECT_EQ(c->DatabaseName(), "Hotel");
  c->Open();
  c->Close();
  EXPECT_EQ(c->Database(), hotel);
  c->SetDBFlag(vex::dbfFieldDefs, false);
  EXPECT_EQ(c->Database(), nullptr);
  EXPECT_EQ(hotel->DataSetCount(), 1);
  c->SetDatabaseName("Other");
  EXPECT_EQ(c->DatabaseName(), "Other");

  // The database closes its datasets from the last; as they let go of it
  // they do not close it a second time from inside its own close.
  auto d = NewDataSet("S1");
  d->Open();
  hotel->SetKeepConnection(false);
  std::vector<std::string> closed;
  A->AfterClose = [&](db::TDataSet&) { closed.push_back("A"); };
  d->AfterClose = [&](db::TDataSet&) { closed.push_back("D"); };
  hotel->Close();
  EXPECT_EQ(closed, (std::vector<std::string>{"D", "A"}));
  EXPECT_FALSE(A->Active());
  EXPECT_EQ(A->Database(), nullptr);
  EXPECT_EQ(hotel->DataSetCount(), 0);
  EXPECT_EQ(hotel->RefCount(), 0);
  A->Open();
  EXPECT_EQ(A->RecordCount(), 3);
}

TEST_F(DataSet, AnAutomaticSessionNameReachesTheOwnersDataSets) {
  rtl::TComponent form(nullptr);
  auto* before = new TableDataSet(&form);
  before->SetSessionName("Old");
  auto* session = new vex::TVEXSession(&form);
  session->SetName("Session1");
  session->SetAutoSessionName(true);
  EXPECT_EQ(before->SessionName(), session->SessionName());
  auto* after = new TableDataSet(&form);
  EXPECT_EQ(after->SessionName(), session->SessionName());
  EXPECT_FALSE(session->SessionName().empty());
}

TEST_F(DataSet, AFailedPostKeepsTheEditAndClosingWhileEditingReleasesTheLock) {
  Seek(*A, 1);
  A->FieldByName("NAME")->SetRequired(false);
  A->Edit();
  A->FieldByName("NAME")->Clear();
  A->FieldByName("N")->SetAsInteger(7);
  EXPECT_EQ(EngineErrorOf([&] { A->Post(); }), -8);
  EXPECT_EQ(A->State(), db::dsEdit);
  A->FieldByName("NAME")->SetAsString("Fixed");
  A->Post();
  EXPECT_EQ(A->State(), db::dsBrowse);
  Seek(*B, 1);
  B->Refresh();
  EXPECT_EQ(B->FieldByName("N")->AsInteger(), 7);
  EXPECT_EQ(B->FieldByName("NAME")->AsString(), "Fixed");

  // Closing in the middle of an edit lets the other connection in at once.
  Seek(*A, 2);
  A->Edit();
  A->Close();
  Seek(*B, 2);
  const auto sleeps = Clock.Clock.SleepCount();
  B->Edit();
  EXPECT_EQ(Clock.Clock.SleepCount(), sleeps);
  B->Cancel();

  // Edit of a read-only dataset is refused before anything is locked.
  B->SetReadOnly(true);
  EXPECT_FALSE(DatabaseErrorOf([&] { B->Edit(); }).empty());
  EXPECT_EQ(B->State(), db::dsBrowse);
}

TEST_F(DataSet, LockAndChangeErrorsReachTheErrorEventsAndRetrySucceedsOnceReleased) {
  Seek(*A, 1);
  A->Edit();
  Seek(*B, 1);
  std::vector<int32_t> editErrors;
  B->OnEditError = [&](db::TDataSet&, db::EDatabaseError& E, db::TDataAction& Action) {
    auto* engine = dynamic_cast<vex::EVEXEngineError*>(&E);
    editErrors.push_back(engine != nullptr ? engine->ErrorCode() : 0);
    if (editErrors.size() == 1) {
      A->Cancel();
      Action = db::daRetry;
    }
  };
  B->Edit();
  EXPECT_EQ(editErrors, std::vector<int32_t>{-12});
  EXPECT_EQ(B->State(), db::dsEdit);
  B->FieldByName("N")->SetAsInteger(5);
  B->Post();

  // A's buffer is older than B's change: editing it is refused as changed.
  editErrors.clear();
  A->OnEditError = [&](db::TDataSet&, db::EDatabaseError& E, db::TDataAction&) {
    auto* engine = dynamic_cast<vex::EVEXEngineError*>(&E);
    editErrors.push_back(engine != nullptr ? engine->ErrorCode() : 0);
  };
  EXPECT_EQ(EngineErrorOf([&] { A->Edit(); }), -4);
  EXPECT_EQ(editErrors, std::vector<int32_t>{-4});
  A->Refresh();
  A->Edit();
  EXPECT_EQ(A->FieldByName("N")->AsInteger(), 5);

  int32_t deleteError = 0;
  B->OnDeleteError = [&](db::TDataSet&, db::EDatabaseError& E, db::TDataAction&) {
    auto* engine = dynamic_cast<vex::EVEXEngineError*>(&E);
    deleteError = engine != nullptr ? engine->ErrorCode() : 0;
  };
  EXPECT_EQ(EngineErrorOf([&] { B->Delete(); }), -12);
  EXPECT_EQ(deleteError, -12);

  int32_t postError = 0;
  A->OnPostError = [&](db::TDataSet&, db::EDatabaseError& E, db::TDataAction& Action) {
    auto* engine = dynamic_cast<vex::EVEXEngineError*>(&E);
    postError = engine != nullptr ? engine->ErrorCode() : 0;
    A->FieldByName("NAME")->SetAsString("Again");
    Action = db::daRetry;
  };
  A->FieldByName("NAME")->SetRequired(false);
  A->FieldByName("NAME")->Clear();
  A->Post();
  EXPECT_EQ(postError, -8);
  EXPECT_EQ(A->FieldByName("NAME")->AsString(), "Again");
  B->Refresh();
  B->Delete();
  EXPECT_EQ(B->RecordCount(), 2);
}

TEST_F(DataSet, TheFilterEventHidesRecordsFromOpeningOnAndItsFailureIsShown) {
  A->Close();
  A->SetFiltered(true);
  A->SetOnFilterRecord([](db::TDataSet& ds, bool& Accept) {
    const int32_t id = ds.FieldByName("ID")->AsInteger();
    if (id == 3) throw std::runtime_error("bad row");
    Accept = id != 2;
  });
  A->Open();
  std::vector<int32_t> ids;
  for (A->First(); !A->Eof(); A->Next()) ids.push_back(A->FieldByName("ID")->AsInteger());
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 3}));
  ASSERT_FALSE(Ui.Shown.empty());
  EXPECT_NE(Ui.Shown.back().find("bad row"), std::string::npos) << Ui.Shown.back();
}

TEST_F(DataSet, MisuseWithoutACursorRaisesItsOwnCodes) {
  TableDataSet closed;
  EXPECT_THAT([&] { closed.SwitchToIndex("X"); }, RaisesNativeError(10287));
  EXPECT_FALSE(closed.PSInTransaction());
  EXPECT_EQ(closed.PSGetQuoteChar(), "`");
  EXPECT_EQ(closed.CurrentVersion(), "7.50 ");
  // ReadOnly set in the middle of an edit refuses the post.
  Seek(*A, 1);
  A->Edit();
  A->SetReadOnly(true);
  EXPECT_THAT([&] { A->Post(); }, RaisesNativeError(10032));
  EXPECT_FALSE(A->CanModify());
  A->Cancel();
  EXPECT_EQ(A->State(), db::dsBrowse);
}

}  // namespace
