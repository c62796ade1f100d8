// The dataset's field access: date and time forms, calculated fields, engine
// values, BLOB streams, filters, Locate and Lookup, the projection and the
// record copy, on a multi-user database file of the disk engine.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "components/VEXBLOBStream.h"
#include "components/VEXDataSet.h"
#include "components/VEXDataSetFields.h"
#include "components/VEXEngineState.h"
#include "components/VEXSession.h"
#include "db/Fields.h"
#include "engine/components/DataSetFixture.h"
#include "engine/components/ScriptedUi.h"
#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXVariant.h"
#include "rtl/Lists.h"
#include "storage/disk/VEXTableLocks.h"
#include "support/FakeClock.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace {

using namespace vex;

TEST(DateTimeForms, NativeAndEngineFormsOfDatesAndTimes) {
  // 2000-01-01 is day 730120; 12:00 is 43 200 000 ms.
  int32_t date = 730120;
  ConvertDateTimeForm(db::ftDate, &date, true);
  EXPECT_EQ(date, 730120);
  ConvertDateTimeForm(db::ftDate, &date, false);
  EXPECT_EQ(date, 730120);

  int32_t time = 43200000;
  ConvertDateTimeForm(db::ftTime, &time, true);
  EXPECT_EQ(time, 43200000);

  double native = 63082411200000.0;  // 2000-01-01 12:00
  uint8_t buffer[8];
  std::memcpy(buffer, &native, 8);
  ConvertDateTimeForm(db::ftDateTime, buffer, true);
  TVEXDateTime engine;
  std::memcpy(&engine, buffer, 8);
  EXPECT_EQ(engine.Date, 730120);
  EXPECT_EQ(engine.Time, 43200000);
  ConvertDateTimeForm(db::ftDateTime, buffer, false);
  double back;
  std::memcpy(&back, buffer, 8);
  EXPECT_EQ(back, native);

  // Through date-time values: 36526.5 is 2000-01-01 12:00.
  const double value = 36526.5;
  DateTimeDataConvert(db::ftDateTime, &value, &engine, true);
  EXPECT_EQ(engine.Date, 730120);
  EXPECT_EQ(engine.Time, 43200000);
  DateTimeDataConvert(db::ftDate, &value, &date, true);
  EXPECT_EQ(date, 730120);
  DateTimeDataConvert(db::ftTime, &value, &time, true);
  EXPECT_EQ(time, 43200000);
  double read = 0;
  DateTimeDataConvert(db::ftDateTime, &engine, &read, false);
  EXPECT_EQ(read, value);

  // A time stamp: the platform's record to the engine form and back.
  db::TSQLTimeStamp ts{2000, 1, 1, 12, 30, 15, 250};
  DateTimeDataConvert(db::ftTimeStamp, &ts, &engine, true);
  EXPECT_EQ(engine.Date, 730120);
  EXPECT_EQ(engine.Time, 45015250);
  db::TSQLTimeStamp again{};
  DateTimeDataConvert(db::ftTimeStamp, &engine, &again, false);
  EXPECT_EQ(again.Year, 2000);
  EXPECT_EQ(again.Hour, 12);
  EXPECT_EQ(again.Minute, 30);
  EXPECT_EQ(again.Second, 15);
  EXPECT_EQ(again.Fractions, 250u);
}

// ---- the dataset's fields, filters, searches and BLOBs on a multi-user file

using testsupport::RaisesNativeError;

// The dataset with its own field access (the fixture's reads the cursor
// straight), the projection's external cursor, records that read as damaged,
// and a count of refreshes.
class FieldsDataSet : public vextest::TableDataSet {
 public:
  using db::TDataSet::RestoreState;
  using db::TDataSet::SetTempState;
  using TableDataSet::TableDataSet;
  using vex::TVEXDataSet::ClearCalcFields;

  bool GetFieldData(db::TField* Field, void* Buffer) override {
    return vex::TVEXDataSet::GetFieldData(Field, Buffer);
  }
  void SetFieldData(db::TField* Field, const void* Buffer) override {
    vex::TVEXDataSet::SetFieldData(Field, Buffer);
  }

  std::set<int32_t> Damaged;  // IDs of records that cannot be read
  int Refreshes = 0;

 protected:
  vex::TVEXCursor* CreateHandle() override {
    return FExternalHandle != nullptr ? FExternalHandle : TableDataSet::CreateHandle();
  }
  db::TGetResult GetRecord(db::TRecordBuffer Buffer, db::TGetMode GetMode, bool DoCheck) override {
    const db::TGetResult result = vex::TVEXDataSet::GetRecord(Buffer, GetMode, DoCheck);
    int32_t id = 0;
    if (result != db::grOK || Damaged.empty() || !Handle()->GetFieldData(0, &id, Buffer) ||
        Damaged.count(id) == 0)
      return result;
    if (DoCheck) throw vex::EVEXException(10026, "Cannot retrieve record");
    return db::grError;
  }
  void InternalRefresh() override {
    ++Refreshes;
    vex::TVEXDataSet::InternalRefresh();
  }
};

// Tables Stay (ID, NAME Varchar(10), ARRIVAL Date, CHECKIN Time, STAMP
// DateTime, TS TimeStamp, NOTE Blob; index BYNAME) and Copy (ID, NAME), on a
// multi-user file reached by the sessions S1 and S2.
class DataSetFields : public ::testing::Test {
 protected:
  void SetUp() override {
    File = Dir / "hotel.vdb";
    {
      vex::TVEXLocalSession creator;
      creator.SetDatabaseName("New");
      creator.SetDatabaseFileName(File);
      creator.SetPageSize(8192);
      creator.SetPageCountInExtent(4);
      creator.SetMaxSessionCount(16);
      creator.CreateDatabase();
    }
    vex::TVEXLocalSession session;
    session.SetDatabaseName("Maker");
    session.SetDatabaseFileName(File);
    session.SetMultiUser(true);
    session.SetConnected(true);
    auto make = [&](const std::string& Name, bool Full) {
      vex::TVEXFieldDefs f;
      vex::testing::AddField(f, "ID", vex::aftInteger);
      vex::testing::AddField(f, "NAME", vex::aftString, 10);
      vex::TVEXIndexDefs i;
      if (Full) {
        vex::testing::AddField(f, "ARRIVAL", vex::aftDate);
        vex::testing::AddField(f, "CHECKIN", vex::aftTime);
        vex::testing::AddField(f, "STAMP", vex::aftDateTime);
        vex::testing::AddField(f, "TS", vex::aftTimeStamp);
        vex::testing::AddField(f, "NOTE", vex::aftBlob);
        vex::TVEXIndexDef* idx = i.AddCreated();
        idx->Name = "BYNAME";
        idx->SetColumnCount(1);
        idx->GetIndexColumn(0)->FieldName = "NAME";
      }
      vex::TVEXConstraintDefs c;
      vex::TVEXLocalCursor maker;
      maker.SetSession(&session);
      maker.SetTableName(Name);
      maker.CreateTable(f, i, c);
    };
    make("Stay", true);
    make("Copy", false);
    session.SetConnected(false);
    S1.SetSessionName("S1");
    S2.SetSessionName("S2");
    vextest::AddHotel(S1, File);
    vextest::AddHotel(S2, File);
  }
  std::unique_ptr<FieldsDataSet> Open(const std::string& Table, const std::string& Session = "S1") {
    auto ds = std::make_unique<FieldsDataSet>();
    ds->SetSessionName(Session);
    ds->SetDatabaseName("Hotel");
    ds->TableName = Table;
    ds->Open();
    return ds;
  }
  static void Add(db::TDataSet& ds, int32_t Id, const std::string& Name) {
    ds.Insert();
    ds.FieldByName("ID")->SetAsInteger(Id);
    ds.FieldByName("NAME")->SetAsString(Name);
    ds.Post();
  }
  static std::vector<int32_t> Ids(db::TDataSet& ds) {
    std::vector<int32_t> ids;
    for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("ID")->AsInteger());
    return ids;
  }

  testsupport::ScratchDir Dir;
  testsupport::FakeClockScope Clock;
  vextest::ScriptedUi Ui;
  ui::ScopedUi UiScope{Ui};
  std::string File;
  vex::TVEXSession S1{nullptr};
  vex::TVEXSession S2{nullptr};
};

TEST_F(DataSetFields, DatesAndTimesAreStoredInTheEngineFormAndReadBackNatively) {
  auto ds = Open("Stay");
  ds->Insert();
  ds->FieldByName("ID")->SetAsInteger(1);
  const double noon = 36526.5;  // 2000-01-01 12:00
  ds->FieldByName("ARRIVAL")->SetAsDateTime(36526);
  ds->FieldByName("CHECKIN")->SetAsDateTime(0.5);
  ds->FieldByName("STAMP")->SetAsDateTime(noon);
  ds->FieldByName("TS")->SetAsDateTime(noon);
  ds->Post();
  ds->First();

  vex::TVEXVariant v;
  auto engineInt = [&](int32_t FieldNo) {
    ds->GetFieldValue(v, FieldNo, false);
    int32_t n = 0;
    std::memcpy(&n, v.pData(), 4);
    return n;
  };
  EXPECT_EQ(engineInt(2), 730120);
  EXPECT_EQ(engineInt(3), 43200000);
  ds->GetFieldValue(v, 4, false);
  vex::TVEXDateTime stamp{};
  std::memcpy(&stamp, v.pData(), 8);
  EXPECT_EQ(stamp.Date, 730120);
  EXPECT_EQ(stamp.Time, 43200000);

  double native = 0;
  ASSERT_TRUE(ds->FieldByName("STAMP")->GetData(&native));
  EXPECT_EQ(native, 63082411200000.0);
  int32_t day = 0;
  ASSERT_TRUE(ds->FieldByName("ARRIVAL")->GetData(&day));
  EXPECT_EQ(day, 730120);
  EXPECT_EQ(ds->FieldByName("ARRIVAL")->AsDateTime(), 36526);
  EXPECT_EQ(ds->FieldByName("CHECKIN")->AsDateTime(), 0.5);
  EXPECT_EQ(ds->FieldByName("STAMP")->AsDateTime(), noon);
  // The time stamp travels in the engine form and DataConvert makes the
  // platform's record of it.
  auto* ts = static_cast<db::TSQLTimeStampField*>(ds->FieldByName("TS"));
  const db::TSQLTimeStamp read = ts->AsSQLTimeStamp();
  EXPECT_EQ(read.Year, 2000);
  EXPECT_EQ(read.Day, 1);
  EXPECT_EQ(read.Hour, 12);
  EXPECT_EQ(ts->AsDateTime(), noon);

  // Outside the editing states, and outside the selected index in dsSetKey.
  EXPECT_THAT([&] { ds->FieldByName("ID")->SetAsInteger(2); }, RaisesNativeError(10007));
  ds->SwitchToIndex("BYNAME");
  const db::TDataSetState saved = ds->SetTempState(db::dsSetKey);
  EXPECT_THAT([&] { ds->FieldByName("ID")->SetAsInteger(2); }, RaisesNativeError(20019));
  ds->RestoreState(saved);
}

TEST_F(DataSetFields, ACalculatedWideTextFieldKeepsItsTextPerBufferInACell) {
  auto ds = std::make_unique<FieldsDataSet>();
  ds->SetSessionName("S1");
  ds->SetDatabaseName("Hotel");
  ds->TableName = "Copy";
  auto* id = db::CreateDefaultField(db::ftInteger, ds.get());
  id->SetFieldName("ID");
  id->SetDataSet(ds.get());
  auto* name = db::CreateDefaultField(db::ftString, ds.get());
  name->SetFieldName("NAME");
  name->SetSize(10);
  name->SetDataSet(ds.get());
  auto* label = db::CreateDefaultField(db::ftWideString, ds.get());
  label->SetFieldName("LABEL");
  label->SetSize(20);
  label->SetFieldKind(db::fkCalculated);
  label->SetDataSet(ds.get());
  ds->OnCalcFields = [&](db::TDataSet& D) {
    D.FieldByName("LABEL")->SetAsWideString(u"Guest " + D.FieldByName("NAME")->AsWideString());
  };
  ds->Open();
  Add(*ds, 1, "Ann");
  Add(*ds, 2, "Bob");
  ds->First();
  EXPECT_EQ(label->AsWideString(), u"Guest Ann");
  ds->Next();
  EXPECT_EQ(label->AsWideString(), u"Guest Bob");
  // Scrolling gives each fetched buffer its cell and takes the old one back.
  const int32_t cells = vex::CalculatedWideTextCellCount();
  for (int i = 0; i < 20; ++i) {
    ds->First();
    ds->Next();
  }
  EXPECT_EQ(vex::CalculatedWideTextCellCount(), cells);
  ds->ClearCalcFields(ds->ActiveBuffer());
  EXPECT_TRUE(label->IsNull());
  ds->Close();
}

TEST_F(DataSetFields, FiltersReachTheCursorAndTheFilterEventAppliesAtOnce) {
  auto ds = Open("Copy");
  Add(*ds, 1, "Ann");
  Add(*ds, 2, "Bob");
  Add(*ds, 3, "Anna");
  ds->SetFilter("NAME = 'an*'");
  ds->SetFilterOptions(db::TFilterOptions{db::foCaseInsensitive});
  ds->SetFiltered(true);
  EXPECT_EQ(Ids(*ds), (std::vector<int32_t>{1, 3}));
  ds->SetFilterOptions(db::TFilterOptions{db::foCaseInsensitive, db::foNoPartialCompare});
  EXPECT_EQ(Ids(*ds), (std::vector<int32_t>{}));
  ds->SetFilterOptions(db::TFilterOptions{});
  EXPECT_EQ(Ids(*ds), (std::vector<int32_t>{}));  // case counts
  ds->SetFilter("");

  // A handler that leaves Accept accepts; one that raises accepts and is
  // shown; a handler given to the open, filtered dataset applies at once.
  ds->SetOnFilterRecord([](db::TDataSet&, bool&) {});
  EXPECT_EQ(Ids(*ds), (std::vector<int32_t>{1, 2, 3}));
  ds->SetOnFilterRecord([](db::TDataSet& D, bool& Accept) {
    if (D.FieldByName("ID")->AsInteger() == 2) throw vex::EVEXException(1, "handler failed");
    Accept = D.FieldByName("ID")->AsInteger() != 3;
  });
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 1);
  EXPECT_EQ(Ids(*ds), (std::vector<int32_t>{1, 2}));
  ds->SetOnFilterRecord(
      [](db::TDataSet& D, bool& Accept) { Accept = D.FieldByName("ID")->AsInteger() == 3; });
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);
  ds->SetOnFilterRecord(nullptr);
  EXPECT_EQ(Ids(*ds), (std::vector<int32_t>{1, 2, 3}));

  // FindNext honours the filter text for the search only; when nothing is
  // found the cursor is left on a live buffer.
  ds->SetFiltered(false);
  ds->SetFilter("NAME = 'Anna'");
  ds->First();
  EXPECT_TRUE(ds->FindNext());
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);
  EXPECT_FALSE(ds->Filtered());
  EXPECT_EQ(Ids(*ds), (std::vector<int32_t>{1, 2, 3}));
  ds->Last();
  EXPECT_FALSE(ds->FindNext());
  EXPECT_FALSE(ds->Handle()->IsRecordLocked());
}

TEST_F(DataSetFields, LocateAndLookup) {
  auto ds = Open("Copy");
  Add(*ds, 1, "Ann");
  Add(*ds, 2, "Bob");
  Add(*ds, 3, "Bob");
  ds->First();
  EXPECT_TRUE(ds->Locate("NAME", rtl::Variant(std::string("bob")),
                         db::TLocateOptions{db::loCaseInsensitive}));
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 2);
  EXPECT_TRUE(ds->Locate("NAME;ID",
                         rtl::Variant::ArrayOf({rtl::Variant(std::string("Bob")), rtl::Variant(3)}),
                         db::TLocateOptions{}));
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);
  EXPECT_FALSE(ds->Locate("NAME", rtl::Variant(std::string("Cid")), db::TLocateOptions{}));
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);

  ds->First();
  EXPECT_EQ(ds->Lookup("ID", rtl::Variant(2), "NAME").AsString(), "Bob");
  EXPECT_TRUE(ds->Lookup("ID", rtl::Variant(9), "NAME").IsNull());
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 1);
  ds->Next();
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 2);
}

std::string ReadAll(rtl::TStream& s) {
  std::string out(static_cast<size_t>(s.GetSize()), '\0');
  s.Seek(0, rtl::soFromBeginning);
  if (!out.empty()) s.Read(out.data(), static_cast<int32_t>(out.size()));
  return out;
}

TEST_F(DataSetFields, BlobStreamsTruncateOrKeepAndMarkTheFieldOnlyWhenWritten) {
  auto ds = Open("Stay");
  auto* note = static_cast<db::TBlobField*>(ds->FieldByName("NOTE"));
  int changes = 0;
  db::TDataSource source(nullptr);
  source.SetDataSet(ds.get());
  source.OnDataChange = [&](db::TDataSource&, db::TField* F) {
    if (F == note) ++changes;
  };
  ds->Insert();
  ds->FieldByName("ID")->SetAsInteger(1);
  note->SetAsString("sea view");
  ds->Post();
  ds->First();
  EXPECT_EQ(note->AsString(), "sea view");

  // A read stream refuses writes and size changes; freeing it says nothing.
  changes = 0;
  {
    auto reader = ds->CreateBlobStream(note, db::bmRead);
    EXPECT_EQ(ReadAll(*reader), "sea view");
    EXPECT_THAT([&] { reader->Write("x", 1); }, RaisesNativeError(10115));
    EXPECT_THAT([&] { reader->SetSize(0); }, RaisesNativeError(10116));
    EXPECT_THAT([&] { ds->CreateBlobStream(note, db::bmWrite); }, RaisesNativeError(10111));
  }
  EXPECT_EQ(changes, 0);
  EXPECT_FALSE(note->Modified());

  ds->Edit();
  {
    auto keep = ds->CreateBlobStream(note, db::bmReadWrite);
    EXPECT_EQ(ReadAll(*keep), "sea view");
    EXPECT_EQ(keep->Write("", 0), 0);
  }
  EXPECT_EQ(changes, 0);  // nothing written
  {
    auto keep = ds->CreateBlobStream(note, db::bmReadWrite);
    keep->SetSize(8);  // the size it had: still a change
  }
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(note->Modified());
  {
    auto truncated = ds->CreateBlobStream(note, db::bmWrite);
    EXPECT_EQ(truncated->GetSize(), 0);
    truncated->Write("garden", 6);
    // The post closes the engine stream first: the user stream is detached,
    // the change told once.
    ds->Post();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(truncated->Write("!", 1), 0);
    EXPECT_EQ(truncated->GetSize(), 0);
  }
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(note->AsString(), "garden");
  EXPECT_EQ(note->AsString(), "garden");

  // BLOB values: a copy of their own in, the value's own size out.
  vex::TVEXVariant v;
  ds->GetFieldValue(v, 6, false);
  ASSERT_FALSE(v.IsNull());
  EXPECT_FALSE(v.IsDataLinked());
  EXPECT_EQ(std::string(static_cast<const char*>(v.pData()), 6), "garden");
  const char text[] = "porch";
  vex::TVEXVariant linked;
  linked.SetData(text, 5, vex::bftBlob, false);
  ds->Edit();
  ds->SetFieldValue(linked, 6, false);
  ds->Post();
  EXPECT_EQ(note->AsString(), "porch");
  source.SetDataSet(nullptr);
}

TEST_F(DataSetFields, AStreamOfATableLockedByAnotherConnectionReadsEmptyAndRefreshesOnce) {
  auto a = Open("Stay");
  auto b = Open("Stay", "S2");
  a->Insert();
  a->FieldByName("ID")->SetAsInteger(1);
  a->FieldByName("NOTE")->SetAsString("kept");
  a->Post();
  a->First();
  ASSERT_TRUE(b->Handle()->LockTable(vex::ltRW, 1, 0, false));
  const int refreshes = a->Refreshes;
  auto stream = a->CreateBlobStream(a->FieldByName("NOTE"), db::bmRead);
  EXPECT_EQ(static_cast<vex::TVEXBLOBStream&>(*stream).BLOBStream(), nullptr);
  EXPECT_EQ(stream->GetSize(), 0);
  char c = 0;
  EXPECT_EQ(stream->Read(&c, 1), 0);
  EXPECT_EQ(a->Refreshes, refreshes + 1);
  stream.reset();
  b->Handle()->UnlockTable(vex::ltRW, false);
  EXPECT_EQ(a->FieldByName("NOTE")->AsString(), "kept");
}

TEST_F(DataSetFields, AProjectionRenamesClashingAliasesAndAFailedOpenShowsThePlainView) {
  auto ds = Open("Copy");
  Add(*ds, 7, "Ann");
  rtl::TStringList names, aliases;
  names.Add("NAME");
  names.Add("ID");
  aliases.Add("K");
  aliases.Add("K");
  ds->ApplyProjection(names, aliases);
  ASSERT_EQ(ds->FieldCount(), 2);
  EXPECT_EQ(ds->Fields()[0]->FieldName(), "K");
  EXPECT_EQ(ds->Fields()[1]->FieldName(), "K_1");
  ds->First();
  EXPECT_EQ(ds->FieldByName("K")->AsString(), "Ann");
  EXPECT_EQ(ds->FieldByName("K_1")->AsInteger(), 7);
  ds->Close();
  ds->Open();  // the projection lasted as long as its cursor
  EXPECT_NE(ds->FindField("ID"), nullptr);

  int opens = 0;
  ds->BeforeOpen = [&](db::TDataSet&) {
    if (++opens == 1) throw vex::EVEXException(1, "no open now");
  };
  EXPECT_THAT([&] { ds->ApplyProjection(names, aliases); }, RaisesNativeError(1));
  EXPECT_TRUE(ds->Active());
  EXPECT_EQ(ds->FieldCount(), 2);
  ASSERT_NE(ds->FindField("NAME"), nullptr);
  ds->Close();
}

class CopyTableRecords : public DataSetFields {
 protected:
  // Count records (ID 1..Count, NAME "N<ID>") into Copy in one change set.
  void Fill(int32_t Count) {
    vex::TVEXLocalSession session;
    session.SetDatabaseName("Filler");
    session.SetDatabaseFileName(File);
    session.SetMultiUser(true);
    session.SetConnected(true);
    vex::TVEXLocalCursor c;
    c.SetSession(&session);
    c.SetTableName("Copy");
    vex::TVEXFieldDefs f;
    vex::TVEXIndexDefs i;
    vex::TVEXConstraintDefs k;
    c.OpenTableByFieldDefs(f, i, k);
    c.InternalInitFieldDefs();
    vex::TVEXMemBlock buffer = c.AllocateRecordBuffer();
    c.SetCurrentRecordBuffer(static_cast<uint8_t*>(buffer.Get()));
    c.BeginBatchUpdate();
    for (int32_t id = 1; id <= Count; ++id) {
      c.InternalInitRecord(c.CurrentRecordBuffer(), true);
      vex::TVEXVariant idValue;
      idValue.SetAsInteger(id);
      c.SetFieldValue(idValue, 0, false);
      vex::TVEXVariant name;
      name.SetAsAnsiString("N" + std::to_string(id));
      c.SetFieldValue(name, 1, false);
      c.InternalPost(true);
      ASSERT_EQ(c.ErrorCode(), 0);
    }
    c.EndBatchUpdate();
    c.SetCurrentRecordBuffer(nullptr);
    c.CloseTable();
    session.SetConnected(false);
  }
  bool Copy(std::vector<int32_t>* Reports = nullptr, int StopAtReport = 0) {
    bool goOn = true;
    vex::TVEXProgressEvent progress;
    if (Reports != nullptr)
      progress = [=](rtl::TComponent&, int32_t Percent, bool& Continue) {
        Reports->push_back(Percent);
        if (static_cast<int>(Reports->size()) == StopAtReport) Continue = false;
      };
    return vex::CopyTableRecords(*Source, *Source, *Dest, Log, goOn, true, false, progress, 0, 100);
  }
  std::unique_ptr<FieldsDataSet> Source;
  std::unique_ptr<FieldsDataSet> Dest;
  std::string Log;
};

TEST_F(CopyTableRecords, AnEmptySourceCopiesNothingAndReportsNothing) {
  Source = Open("Copy");
  Dest = Open("Stay");
  std::vector<int32_t> reports;
  EXPECT_TRUE(Copy(&reports));
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(Dest->RecordCount(), 0);
  EXPECT_EQ(Log, "");
}

TEST_F(CopyTableRecords, ProgressComesEveryStepOfTheRangeButAtLeastEvery30Records) {
  struct Case {
    int32_t Records;
    int32_t CopiedAtThirdReport;
  };
  for (const Case c : {Case{1000, 23}, Case{10000, 61}}) {
    SCOPED_TRACE(c.Records);
    Fill(c.Records);
    Source = Open("Copy");
    Dest = Open("Stay");
    std::vector<int32_t> reports;
    Log.clear();
    EXPECT_FALSE(Copy(&reports, 3));
    EXPECT_EQ(reports,
              (std::vector<int32_t>{0, c.Records == 1000 ? 1 : 0, c.Records == 1000 ? 2 : 1}));
    EXPECT_EQ(Log, "Terminated by User.\r\n");
    EXPECT_EQ(Dest->RecordCount(), c.CopiedAtThirdReport);
    EXPECT_EQ(Source->FieldByName("ID")->AsInteger(), 1);  // back where it stood
    Source.reset();
    Dest->Close();
    Dest.reset();
    vex::TVEXLocalSession session;
    session.SetDatabaseName("Cleaner");
    session.SetDatabaseFileName(File);
    session.SetMultiUser(true);
    session.SetConnected(true);
    for (const char* table : {"Copy", "Stay"}) {
      vex::TVEXLocalCursor cleaner;
      cleaner.SetSession(&session);
      cleaner.SetTableName(table);
      cleaner.EmptyTable();
    }
    session.SetConnected(false);
  }
}

TEST_F(CopyTableRecords, UnreadableRecordsAreSkippedAndAnUnreadableLastOneEndsTheCopy) {
  Fill(5);
  Source = Open("Copy");
  Source->Damaged = {2, 5};
  Dest = Open("Stay");
  EXPECT_TRUE(Copy());
  EXPECT_EQ(Log,
            "Record #2 corrupted and skipped.\r\n"
            "Record #5 corrupted and skipped.\r\n");
  EXPECT_EQ(Ids(*Dest), (std::vector<int32_t>{1, 3, 4}));
}

}  // namespace
