// The local cursor on the in-memory database of the running engine: table
// operations, editing with change detection, views and searches through the
// real expression object, BLOB streams and field copies.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "components/VEXLocalCursor.h"
#include "components/VEXLocalEngine.h"
#include "engine/storage/VEXManagerFakes.h"
#include "foundation/VEXVariant.h"
#include "rtl/Exception.h"
#include "rtl/Lists.h"
#include "rtl/Variant.h"
#include "storage/VEXConstraintManager.h"
#include "storage/VEXDatabaseData.h"
#include "storage/disk/VEXTableLocks.h"
#include "support/FakeClock.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace {

using testsupport::RaisesNativeError;
using namespace vex;

// A cursor with a current and an edit record buffer of its own, as the
// dataset gives one.
struct Cursor {
  explicit Cursor(TVEXLocalSession& Session, const std::string& Table, bool InMemory = true) {
    C.SetSession(&Session);
    C.SetTableName(Table);
    C.SetInMemory(InMemory);
  }
  void Open() {
    TVEXFieldDefs f;
    TVEXIndexDefs i;
    TVEXConstraintDefs c;
    C.OpenTableByFieldDefs(f, i, c);
    C.InternalInitFieldDefs();
    Current = C.AllocateRecordBuffer();
    Edit = C.AllocateRecordBuffer();
    C.SetCurrentRecordBuffer(Buf());
  }
  uint8_t* Buf() { return static_cast<uint8_t*>(Current.Get()); }
  // Reads a record as the dataset does: the record id goes to the bookmark.
  bool Read(TVEXGetRecordMode Mode) {
    if (C.GetRecordBuffer(Mode) != grrOK) return false;
    std::memcpy(Buf() + C.BookmarkOffset(), &C.CurrentRecordID.PageNo, 4);
    std::memcpy(Buf() + C.BookmarkOffset() + 4, &C.CurrentRecordID.PageItemNo, 2);
    Buf()[C.BookmarkOffset() + 6] = 0;
    return true;
  }
  bool First() {
    C.InternalFirst();
    return Read(grmNext);
  }
  // The record with ID (field 0), read afresh.
  void Seek(int32_t Id) {
    ASSERT_TRUE(C.Locate("ID", rtl::Variant(Id), false, false)) << Id;
    ASSERT_TRUE(Read(grmCurrent));
  }
  void SetInt(int32_t Field, int32_t Value) {
    TVEXVariant v;
    v.SetAsInteger(Value);
    C.SetFieldValue(v, Field, false);
  }
  void SetText(int32_t Field, const std::string& Value) {
    TVEXVariant v;
    v.SetAsAnsiString(Value);
    C.SetFieldValue(v, Field, false);
  }
  int32_t Int(int32_t Field) {
    TVEXVariant v;
    C.GetFieldValue(v, Field, false);
    return v.IsNull() ? -999 : v.AsInteger();
  }
  int32_t Insert(int32_t Id, const std::string& Name) {
    C.InternalInitRecord(Buf(), true);
    SetInt(0, Id);
    SetText(1, Name);
    C.InternalInsert();
    C.InternalPost(true);
    return C.ErrorCode();
  }
  void BeginEdit() {
    std::memcpy(Edit.Get(), Buf(), static_cast<size_t>(C.RecordBufferSize()));
    C.SetEditRecordBuffer(static_cast<uint8_t*>(Edit.Get()));
    C.InternalEdit();
  }
  TVEXLocalCursor C;
  TVEXMemBlock Current;
  TVEXMemBlock Edit;
};

std::string ReadAll(TVEXStream& s) {
  std::string out(static_cast<size_t>(s.GetSize()), '\0');
  s.Seek(0, rtl::soFromBeginning);
  if (!out.empty()) s.Read(out.data(), static_cast<int32_t>(out.size()));
  return out;
}

class LocalCursor : public ::testing::Test {
 protected:
  void SetUp() override {
    Session.SetDatabaseName("MEMORY");
    Session.SetConnected(true);
  }
  void TearDown() override {
    for (const char* name : {"Guest", "Other", "Blobs", "Copy"}) {
      TVEXLocalCursor c;
      c.SetSession(&Session);
      c.SetTableName(name);
      if (Session.DatabaseData()->TableExists(name)) c.DeleteTable();
    }
  }
  // (ID Integer, NAME Varchar(10)) with the given indexes.
  void MakeGuest(const std::string& Table = "Guest", bool NameIndex = false) {
    TVEXFieldDefs f;
    vex::testing::AddField(f, "ID", aftInteger);
    vex::testing::AddField(f, "NAME", aftString, 10);
    TVEXIndexDefs i;
    if (NameIndex) {
      TVEXIndexDef* idx = i.AddCreated();
      idx->Name = "BYNAME";
      idx->SetColumnCount(1);
      idx->GetIndexColumn(0)->FieldName = "NAME";
    }
    TVEXConstraintDefs c;
    TVEXLocalCursor maker;
    maker.SetSession(&Session);
    maker.SetTableName(Table);
    maker.CreateTable(f, i, c);
  }
  TVEXLocalSession Session;
};

TEST_F(LocalCursor, GeometryTableOperationsAndDesignModeTables) {
  MakeGuest();
  Cursor g(Session, "Guest");
  g.Open();
  EXPECT_EQ(g.C.BookmarkOffset(), 16);
  EXPECT_EQ(g.C.KeyOffset(), 16);
  EXPECT_EQ(g.C.KeyBufferSize(), 22);
  EXPECT_EQ(g.C.RecordSize(), 23);
  EXPECT_EQ(g.C.RecordBufferSize(), 23);
  EXPECT_EQ(g.C.CalculatedFieldsOffset(), 23);
  EXPECT_EQ(g.Insert(1, "Ann"), 0);
  g.C.CloseTable();
  EXPECT_FALSE(g.C.IsOpen());

  // Creating over an existing table replaces it.
  MakeGuest();
  g.Open();
  EXPECT_EQ(g.C.GetRecordCount(), 0);
  g.C.CloseTable();

  MakeGuest("Other");
  TVEXLocalCursor r;
  r.SetSession(&Session);
  r.SetTableName("Guest");
  EXPECT_THAT([&] { r.RenameTable("Guest"); }, RaisesNativeError(30452));
  EXPECT_THAT([&] { r.RenameTable("other"); }, RaisesNativeError(30451));
  r.RenameTable("GUEST");
  EXPECT_EQ(r.TableName(), "GUEST");
  EXPECT_EQ(r.TableData(), nullptr);
  r.SetTableName("Nobody");
  EXPECT_THAT([&] { r.RenameTable("X"); }, RaisesNativeError(20134));
  EXPECT_THAT([&] { r.EmptyTable(); }, RaisesNativeError(20133));
  EXPECT_THAT([&] { r.DeleteTable(); }, RaisesNativeError(20132));

  // A missing in-memory table: refused, except in design mode where it lives
  // as long as the cursor has it open.
  TVEXFieldDefs f;
  vex::testing::AddField(f, "ID", aftInteger);
  TVEXIndexDefs i;
  TVEXConstraintDefs c;
  TVEXLocalCursor d;
  d.SetSession(&Session);
  d.SetTableName("Draft");
  d.SetInMemory(true);
  EXPECT_THAT([&] { d.OpenTableByFieldDefs(f, i, c); }, RaisesNativeError(10028));
  EXPECT_FALSE(d.IsOpen());
  d.SetIsDesignMode(true);
  d.OpenTableByFieldDefs(f, i, c);
  EXPECT_TRUE(Session.DatabaseData()->TableExists("Draft"));
  d.CloseTable();
  EXPECT_FALSE(Session.DatabaseData()->TableExists("Draft"));
}

TEST_F(LocalCursor, EditingRoundTripAndChangesByAnotherCursor) {
  MakeGuest("Guest", true);
  Cursor a(Session, "Guest");
  Cursor b(Session, "Guest");
  a.Open();
  b.Open();
  ASSERT_EQ(a.Insert(1, "Ann"), 0);
  ASSERT_EQ(a.Insert(2, "Bob"), 0);

  // A plain edit round trip.
  a.Seek(1);
  a.BeginEdit();
  EXPECT_EQ(a.C.ErrorCode(), 0);
  a.SetInt(0, 10);
  a.C.InternalPost(false);
  EXPECT_EQ(a.C.ErrorCode(), 0);
  b.Seek(10);
  EXPECT_EQ(b.Int(0), 10);

  // The other cursor changes the record after the edit began: -4; it deletes
  // it: -6. The new values stay in the buffer for the user to see.
  a.Seek(10);
  a.BeginEdit();
  b.Seek(10);
  b.BeginEdit();
  b.SetText(1, "Changed");
  b.C.InternalPost(false);
  ASSERT_EQ(b.C.ErrorCode(), 0);
  a.SetInt(0, 11);
  a.C.InternalPost(false);
  EXPECT_EQ(a.C.ErrorCode(), -4);
  EXPECT_EQ(a.Int(0), 11);

  a.Seek(2);
  a.BeginEdit();
  b.Seek(2);
  b.C.InternalDelete();
  ASSERT_EQ(b.C.ErrorCode(), 0);
  a.C.InternalPost(false);
  EXPECT_EQ(a.C.ErrorCode(), -6);

  // Delete: -5 when the stored bytes differ, -7 when the record is gone.
  ASSERT_EQ(a.Insert(3, "Cy"), 0);
  a.Seek(3);
  b.Seek(3);
  b.BeginEdit();
  b.SetText(1, "Cyd");
  b.C.InternalPost(false);
  a.C.InternalDelete();
  EXPECT_EQ(a.C.ErrorCode(), -5);
  a.Seek(3);
  b.Seek(3);
  b.C.InternalDelete();
  a.C.InternalDelete();
  EXPECT_EQ(a.C.ErrorCode(), -7);
  EXPECT_EQ(a.C.GetRecordCount(), 1);
  // Single-user memory tables take no record lock.
  a.First();
  EXPECT_FALSE(a.C.IsRecordLocked());
}

// A table of cases: physical order by page, then item; the index decides
// first; an unreadable record is lower as the first and higher as the second.
TEST_F(LocalCursor, CompareRecordsOrder) {
  MakeGuest("Guest", true);
  Cursor g(Session, "Guest");
  g.Open();
  ASSERT_EQ(g.Insert(1, "Zoe"), 0);
  const TVEXPageItemID zoe = g.C.CurrentRecordID;
  ASSERT_EQ(g.Insert(2, "Ann"), 0);
  const TVEXPageItemID ann = g.C.CurrentRecordID;
  const TVEXPageItemID gone{zoe.PageNo + 1000, 7};
  struct Case {
    const char* What;
    bool ByName;
    TVEXPageItemID A, B;
    int32_t Expected;
  };
  const Case cases[] = {
      {"lower page", false, {1, 9}, {2, 0}, -1},
      {"negative page", false, {-1, 0}, {0, 0}, -1},
      {"same page, items", false, {3, 65535}, {3, 1}, 1},
      {"equal ids", false, {4, 4}, {4, 4}, 0},
      {"physical order", false, zoe, ann, zoe.PageNo < ann.PageNo || zoe.PageItemNo < ann.PageItemNo ? -1 : 1},
      {"index says Ann first", true, zoe, ann, 1},
      {"index says Ann first, reversed", true, ann, zoe, -1},
      {"equal key falls back to the ids", true, zoe, zoe, 0},
      {"unreadable first", true, gone, ann, -1},
      {"unreadable second", true, ann, gone, 1},
  };
  g.C.InternalFirst();
  for (const Case& c : cases) {
    g.C.SetIndexName(c.ByName ? "BYNAME" : "");
    const TVEXPageItemID before = g.C.CurrentRecordID;
    EXPECT_EQ(g.C.CompareRecordsOrder(c.A, c.B), c.Expected) << c.What;
    EXPECT_EQ(g.C.CurrentRecordID.PageNo, before.PageNo) << c.What;
    EXPECT_EQ(g.C.CurrentRecordBuffer(), g.Buf()) << c.What;
  }
}

TEST_F(LocalCursor, FiltersLocateFindKeyAndDistinct) {
  MakeGuest("Guest", true);
  Cursor g(Session, "Guest");
  g.Open();
  ASSERT_EQ(g.Insert(1, "Ann"), 0);
  ASSERT_EQ(g.Insert(2, "Bob"), 0);
  ASSERT_EQ(g.Insert(3, "Ann"), 0);
  ASSERT_EQ(g.Insert(4, "Cy"), 0);

  g.C.ActivateFilters("ID > 1 AND NAME <> 'Cy'", false, false);
  EXPECT_EQ(g.C.GetRecordCount(), 2);
  // A bad filter raises the parser's error and keeps the filter in force.
  EXPECT_ANY_THROW(g.C.ActivateFilters("ID >", false, false));
  EXPECT_EQ(g.C.GetRecordCount(), 2);
  g.C.DeactivateFilters();
  EXPECT_EQ(g.C.GetRecordCount(), 4);

  EXPECT_TRUE(g.C.Locate("NAME;ID", rtl::Variant::ArrayOf({rtl::Variant("Ann"), rtl::Variant(3)}),
                         false, false));
  ASSERT_TRUE(g.Read(grmCurrent));
  EXPECT_EQ(g.Int(0), 3);
  EXPECT_FALSE(g.C.Locate("NAME", rtl::Variant("Dee"), false, false));
  TVEXVariant bob;
  bob.SetAsAnsiString("Bob");
  EXPECT_TRUE(g.C.IsAnyRecordMatchCondition("NAME", doEQ, bob));

  // FindKey on the name index.
  g.C.SetIndexName("BYNAME");
  TVEXMemBlock key = g.C.AllocateRecordBuffer();
  g.C.InternalInitKeyBuffer(static_cast<uint8_t*>(key.Get()));
  TVEXVariant cy;
  cy.SetAsAnsiString("Cy");
  g.C.SetFieldValue(cy, 1, false, static_cast<uint8_t*>(key.Get()));
  g.C.SetKeyBuffer(static_cast<uint8_t*>(key.Get()));
  g.C.SetKeyFieldCount(1);
  EXPECT_TRUE(g.C.FindKey(scEqual));
  ASSERT_TRUE(g.Read(grmCurrent));
  EXPECT_EQ(g.Int(0), 4);
  g.C.SetKeyBuffer(nullptr);
  g.C.SetIndexName("");

  // DISTINCT on ID builds a temporary index; on NAME it finds BYNAME.
  rtl::TStringList names, dirs, cases;
  names.Add("ID");
  dirs.Add("ASC");
  cases.Add("1");
  g.C.ApplyDistinct(names, dirs, cases);
  EXPECT_NE(g.C.IndexID(), -1);
  EXPECT_NE(g.C.IndexName(), "BYNAME");
  EXPECT_EQ(g.C.DistinctFieldCount, 1);
  EXPECT_EQ(g.C.GetRecordCount(), 4);
  names.SetStrings(0, "NAME");
  g.C.ApplyDistinct(names, dirs, cases);
  EXPECT_EQ(g.C.IndexName(), "BYNAME");
  EXPECT_EQ(g.C.GetRecordCount(), 3);
}

TEST_F(LocalCursor, FindOrCreateIndexRewritesAProjectedAlias) {
  MakeGuest("Guest", true);
  Cursor g(Session, "Guest");
  g.Open();
  rtl::TStringList fields, aliases;
  fields.Add("NAME");
  aliases.Add("GUESTNAME");
  g.C.SetSettingProjection(true);
  g.C.ApplyProjection(fields, aliases);
  rtl::TStringList names, dirs, cases;
  names.Add("GUESTNAME");
  dirs.Add("ASC");
  cases.Add("1");
  bool created = true;
  EXPECT_EQ(g.C.FindOrCreateIndex(names, dirs, cases, created), "BYNAME");
  EXPECT_FALSE(created);
  EXPECT_EQ(names.Strings(0), "NAME");
}

class LocalCursorBlobs : public LocalCursor {
 protected:
  void SetUp() override {
    LocalCursor::SetUp();
    TVEXFieldDefs f;
    vex::testing::AddField(f, "ID", aftInteger);
    vex::testing::AddField(f, "NAME", aftString, 10);
    vex::testing::AddField(f, "DATA", aftBlob);
    TVEXIndexDefs i;
    TVEXConstraintDefs c;
    TVEXLocalCursor maker;
    maker.SetSession(&Session);
    maker.SetTableName("Blobs");
    maker.CreateTable(f, i, c);
  }
};

TEST_F(LocalCursorBlobs, StreamsWrittenByThePostAndReadBack) {
  Cursor g(Session, "Blobs");
  g.Open();
  g.C.InternalInitRecord(g.Buf(), true);
  g.SetInt(0, 1);
  TVEXStream* w = g.C.InternalCreateBlobStream(true, false, 2, bomWrite, false);
  ASSERT_NE(w, nullptr);
  EXPECT_THAT([&] { g.C.InternalCreateBlobStream(true, false, 2, bomReadWrite, false); },
              RaisesNativeError(10115));
  TVEXStream* beside = g.C.InternalCreateBlobStream(true, false, 2, bomRead, false);
  EXPECT_NE(beside, nullptr);
  EXPECT_THAT([&] { beside->Write("x", 1); }, RaisesNativeError(10115));
  EXPECT_THAT([&] { beside->SetSize(0); }, RaisesNativeError(10116));
  EXPECT_THAT([&] { g.C.InternalCreateBlobStream(true, false, 3, bomRead, false); },
              RaisesNativeError(10110));
  const std::string text = "Sea view, late arrival";
  w->Write(text.data(), static_cast<int32_t>(text.size()));
  w->SetModified(true);
  g.C.InternalPost(true);
  ASSERT_EQ(g.C.ErrorCode(), 0);
  // The post closed the writer; the reader stays open until cleared.
  ASSERT_EQ(g.C.BLOBStreams().size(), 1u);
  g.C.ClearBLOBStreams(false);

  Cursor r(Session, "Blobs");
  r.Open();
  ASSERT_TRUE(r.First());
  TVEXStream* s = r.C.InternalCreateBlobStream(false, false, 2, bomRead, true);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(ReadAll(*s), text);
  r.C.InternalCloseBLOB(2);
  EXPECT_TRUE(r.C.BLOBStreams().empty());

  // An edit whose stream is cancelled leaves the stored BLOB alone.
  r.BeginEdit();
  TVEXStream* e = r.C.InternalCreateBlobStream(false, true, 2, bomReadWrite, false);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(ReadAll(*e), text);
  e->Write("!", 1);
  e->SetModified(true);
  r.C.InternalCancel(false);
  EXPECT_TRUE(r.C.BLOBStreams().empty());
  ASSERT_TRUE(r.First());
  s = r.C.InternalCreateBlobStream(false, false, 2, bomRead, true);
  EXPECT_EQ(ReadAll(*s), text);
  // Read streams survive a write-only clear; a full clear closes them.
  r.C.ClearBLOBStreams(true);
  EXPECT_EQ(r.C.BLOBStreams().size(), 1u);
  r.C.ClearBLOBStreams(false);
  EXPECT_TRUE(r.C.BLOBStreams().empty());
  EXPECT_THAT([&] { r.C.InternalCloseBLOB(7); }, RaisesNativeError(10118));
}

// Stands for the dataset's user stream: counts what the engine stream tells it.
struct RecordingUserStream final : TVEXUserBLOBStream {
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t, rtl::TSeekOrigin) override { return 0; }
  void EngineStreamClosed(bool Modified) noexcept override {
    ++Closed;
    WasModified = Modified;
  }
  int Closed = 0;
  bool WasModified = false;
};

TEST_F(LocalCursorBlobs, AnAttachedUserStreamIsToldOnceWhicheverWayTheEngineStreamGoes) {
  auto open = [](Cursor& c, TVEXBLOBOpenMode Mode, RecordingUserStream& User) {
    auto* s = static_cast<TVEXLocalBLOBStream*>(
        c.C.InternalCreateBlobStream(Mode == bomWrite, Mode != bomRead && Mode != bomWrite, 2,
                                     Mode, false));
    EXPECT_NE(s, nullptr);
    if (s != nullptr) s->SetUserBLOBStream(&User);
    return s;
  };
  Cursor g(Session, "Blobs");
  g.Open();
  g.C.InternalInitRecord(g.Buf(), true);
  g.SetInt(0, 1);
  RecordingUserStream byPost, reader;
  TVEXLocalBLOBStream* w = open(g, bomWrite, byPost);
  w->Write("abc", 3);
  w->SetModified(true);
  open(g, bomRead, reader);
  g.C.InternalPost(true);  // closes the writer only
  EXPECT_EQ(byPost.Closed, 1);
  EXPECT_TRUE(byPost.WasModified);
  EXPECT_EQ(reader.Closed, 0);
  // Closing the field closes every stream of it, the reader too.
  g.C.InternalCloseBLOB(2);
  EXPECT_EQ(reader.Closed, 1);
  EXPECT_FALSE(reader.WasModified);

  ASSERT_TRUE(g.First());
  g.BeginEdit();
  RecordingUserStream byCancel;
  open(g, bomReadWrite, byCancel)->SetModified(true);
  g.C.InternalCancel(false);
  EXPECT_EQ(byCancel.Closed, 1);

  // A detached user stream hears nothing; closing the table tells the others.
  RecordingUserStream detached, byClose;
  open(g, bomRead, detached)->SetUserBLOBStream(nullptr);
  open(g, bomRead, byClose);
  g.C.CloseTable();
  EXPECT_EQ(detached.Closed, 0);
  EXPECT_EQ(byClose.Closed, 1);
  EXPECT_EQ(byPost.Closed + reader.Closed + byCancel.Closed, 3);
}

TEST_F(LocalCursorBlobs, CopyFieldValue) {
  Cursor src(Session, "Blobs");
  src.Open();
  src.C.InternalInitRecord(src.Buf(), true);
  src.SetInt(0, 42);
  src.SetText(1, "Ann");
  TVEXStream* w = src.C.InternalCreateBlobStream(true, false, 2, bomWrite, false);
  w->Write("abc", 3);
  w->SetModified(true);
  src.C.InternalPost(true);
  ASSERT_EQ(src.C.ErrorCode(), 0);
  ASSERT_TRUE(src.First());

  // Destination: (N Largeint, NAME Varchar(10), DATA Blob).
  TVEXFieldDefs f;
  vex::testing::AddField(f, "N", aftLargeint);
  vex::testing::AddField(f, "NAME", aftString, 10);
  vex::testing::AddField(f, "DATA", aftBlob);
  TVEXIndexDefs i;
  TVEXConstraintDefs c;
  TVEXLocalCursor maker;
  maker.SetSession(&Session);
  maker.SetTableName("Copy");
  maker.CreateTable(f, i, c);
  Cursor dst(Session, "Copy");
  dst.Open();
  dst.C.InternalInitRecord(dst.Buf(), true);

  src.C.CopyFieldValue(0, false, 0, dst.C);  // converted
  src.C.CopyFieldValue(1, false, 1, dst.C);  // same type and size
  src.C.CopyFieldValue(2, false, 2, dst.C);  // BLOB
  dst.C.InternalPost(true);
  ASSERT_EQ(dst.C.ErrorCode(), 0);
  ASSERT_TRUE(dst.First());
  TVEXVariant v;
  dst.C.GetFieldValue(v, 0, false);
  EXPECT_EQ(v.AsInt64(), 42);
  dst.C.GetFieldValue(v, 1, false);
  EXPECT_EQ(v.AsAnsiString(), "Ann");
  TVEXStream* s = dst.C.InternalCreateBlobStream(false, false, 2, bomRead, true);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(ReadAll(*s), "abc");
  dst.C.ClearBLOBStreams(false);

  // A null source makes the destination null.
  TVEXVariant null;
  src.C.SetFieldValue(null, 1, false);
  src.C.CopyFieldValue(1, false, 1, dst.C);
  dst.C.GetFieldValue(v, 1, false);
  EXPECT_TRUE(v.IsNull());
  EXPECT_THAT([&] { src.C.CopyFieldValue(3, false, 0, dst.C); }, RaisesNativeError(10501));
  EXPECT_THAT([&] { src.C.CopyFieldValue(0, false, 3, dst.C); }, RaisesNativeError(10502));
}

TEST_F(LocalCursor, TemporaryTablesRefuseEditAndDelete) {
  TVEXLocalSession temp;
  temp.SetDatabaseName("TEMP");
  temp.SetConnected(true);
  TVEXFieldDefs f;
  vex::testing::AddField(f, "ID", aftInteger);
  vex::testing::AddField(f, "NAME", aftString, 10);
  TVEXIndexDefs i;
  TVEXConstraintDefs c;
  TVEXLocalCursor maker;
  maker.SetSession(&temp);
  maker.SetTableName("Scratch");
  maker.SetTemporary(true);
  maker.CreateTable(f, i, c);
  Cursor t(temp, "Scratch");
  t.C.SetTemporary(true);
  t.Open();
  ASSERT_EQ(t.Insert(1, "Ann"), 0);
  ASSERT_TRUE(t.First());
  t.BeginEdit();
  EXPECT_EQ(t.C.ErrorCode(), -9);
  t.C.InternalDelete();
  EXPECT_EQ(t.C.ErrorCode(), -10);
  t.C.CloseTable();
  maker.DeleteTable();
}

// Two connections (two session names) on one database file, multi-user,
// waits in virtual time.
class LocalCursorMultiUser : public ::testing::Test {
 protected:
  void SetUp() override {
    File = Dir / "hotel.vdb";
    TVEXLocalSession creator;
    creator.SetDatabaseName("New");
    creator.SetDatabaseFileName(File);
    creator.SetPageSize(8192);
    creator.SetPageCountInExtent(4);
    creator.SetMaxSessionCount(5);
    creator.CreateDatabase();
    First = Connect("S1");
    Second = Connect("S2");
    TVEXFieldDefs f;
    vex::testing::AddField(f, "ID", aftInteger);
    vex::testing::AddField(f, "NAME", aftString, 10);
    vex::testing::AddField(f, "NOTE", aftBlob);
    TVEXIndexDefs i;
    TVEXConstraintDefs c;
    auto notNull = std::make_unique<TVEXConstraintDefNotNull>();
    notNull->Name = "NAME_REQUIRED";
    notNull->SetNames("NAME", "Guest", "");
    c.InternalAdd(std::move(notNull));
    TVEXLocalCursor maker;
    maker.SetSession(First.get());
    maker.SetTableName("Guest");
    maker.CreateTable(f, i, c);
  }
  std::unique_ptr<TVEXLocalSession> Connect(const std::string& Name) {
    auto s = std::make_unique<TVEXLocalSession>();
    s->SetDatabaseName("Hotel");
    s->SetDatabaseFileName(File);
    s->SetMultiUser(true);
    s->SetSessionName(Name);
    s->SetConnected(true);
    return s;
  }
  testsupport::ScratchDir Dir;
  testsupport::FakeClockScope Clock;
  std::string File;
  std::unique_ptr<TVEXLocalSession> First;
  std::unique_ptr<TVEXLocalSession> Second;
};

TEST_F(LocalCursorMultiUser, RecordLocksAreHeldFromEditToPostOrCancel) {
  Cursor a(*First, "Guest", false);
  Cursor b(*Second, "Guest", false);
  a.Open();
  b.Open();
  ASSERT_EQ(a.Insert(1, "Ann"), 0);
  ASSERT_EQ(a.Insert(2, "Bob"), 0);

  a.Seek(1);
  a.BeginEdit();
  ASSERT_EQ(a.C.ErrorCode(), 0);
  b.Seek(1);
  EXPECT_TRUE(b.C.IsRecordLocked());
  EXPECT_FALSE(a.C.IsRecordLocked());
  const auto sleepsBefore = Clock.Clock.SleepCount();
  b.BeginEdit();
  EXPECT_EQ(b.C.ErrorCode(), -12);
  EXPECT_GE(Clock.Clock.SleepCount() - sleepsBefore, 14u);
  a.C.InternalCancel(false);
  EXPECT_FALSE(b.C.IsRecordLocked());
  b.BeginEdit();
  EXPECT_EQ(b.C.ErrorCode(), 0);
  b.SetText(1, "Anna");
  b.C.InternalPost(false);
  EXPECT_EQ(b.C.ErrorCode(), 0);
  EXPECT_FALSE(a.C.IsRecordLocked());

  // A second edit of the table by the same session outside a transaction is
  // refused at once.
  Cursor a2(*First, "Guest", false);
  a2.Open();
  a.Seek(1);
  a.BeginEdit();
  ASSERT_EQ(a.C.ErrorCode(), 0);
  a2.Seek(2);
  a2.BeginEdit();
  EXPECT_EQ(a2.C.ErrorCode(), -13);
  a.C.InternalCancel(false);

  // A post refused by a constraint keeps the locks until the cancel.
  a.Seek(2);
  a.BeginEdit();
  ASSERT_EQ(a.C.ErrorCode(), 0);
  TVEXVariant null;
  a.C.SetFieldValue(null, 1, false);
  a.C.InternalPost(false);
  EXPECT_EQ(a.C.ErrorCode(), -8);
  EXPECT_NE(a.C.ErrorMessage().find("violated"), std::string::npos) << a.C.ErrorMessage();
  b.Seek(2);
  EXPECT_TRUE(b.C.IsRecordLocked());
  a.C.InternalCancel(false);
  EXPECT_FALSE(b.C.IsRecordLocked());
  b.BeginEdit();
  EXPECT_EQ(b.C.ErrorCode(), 0);
  b.C.InternalCancel(false);

  // Deletes lock the record too.
  b.Seek(2);
  a.Seek(2);
  a.BeginEdit();
  b.C.InternalDelete();
  EXPECT_EQ(b.C.ErrorCode(), -12);
  a.C.InternalCancel(false);
  b.C.InternalDelete();
  EXPECT_EQ(b.C.ErrorCode(), 0);
  EXPECT_EQ(a.C.GetRecordCount(), 1);
}

TEST_F(LocalCursorMultiUser, BlobStreamsKeepOrStoreTheBlobAndYieldNothingWhileTheTableIsLocked) {
  Cursor a(*First, "Guest", false);
  Cursor b(*Second, "Guest", false);
  a.Open();
  b.Open();
  a.C.InternalInitRecord(a.Buf(), true);
  a.SetInt(0, 1);
  a.SetText(1, "Ann");
  TVEXStream* w = a.C.InternalCreateBlobStream(true, false, 2, bomWrite, false);
  ASSERT_NE(w, nullptr);
  w->Write("note", 4);
  w->SetModified(true);
  a.C.InternalPost(true);
  ASSERT_EQ(a.C.ErrorCode(), 0);

  // An unmodified read-write stream leaves the stored BLOB.
  a.Seek(1);
  a.BeginEdit();
  ASSERT_EQ(a.C.ErrorCode(), 0);
  TVEXStream* rw = a.C.InternalCreateBlobStream(false, true, 2, bomReadWrite, false);
  ASSERT_NE(rw, nullptr);
  EXPECT_EQ(ReadAll(*rw), "note");
  a.C.InternalCloseBLOB(2);
  a.SetText(1, "Anna");
  a.C.InternalPost(false);
  ASSERT_EQ(a.C.ErrorCode(), 0);
  b.Seek(1);
  TVEXStream* r = b.C.InternalCreateBlobStream(false, false, 2, bomRead, true);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(ReadAll(*r), "note");
  b.C.ClearBLOBStreams(false);

  // A modified one is stored by the post.
  a.Seek(1);
  a.BeginEdit();
  rw = a.C.InternalCreateBlobStream(false, true, 2, bomReadWrite, false);
  rw->Seek(0, rtl::soFromEnd);
  rw->Write("!", 1);
  rw->SetModified(true);
  a.C.InternalCloseBLOB(2);
  a.C.InternalPost(false);
  ASSERT_EQ(a.C.ErrorCode(), 0);
  b.Seek(1);
  r = b.C.InternalCreateBlobStream(false, false, 2, bomRead, true);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(ReadAll(*r), "note!");
  b.C.ClearBLOBStreams(false);

  // While another connection keeps the table from being read: no stream.
  ASSERT_TRUE(b.C.LockTable(ltRW, 1, 0, false));
  EXPECT_EQ(a.C.InternalCreateBlobStream(false, false, 2, bomRead, true), nullptr);
  EXPECT_TRUE(a.C.BLOBStreams().empty());
  b.C.UnlockTable(ltRW, false);
  EXPECT_NE(a.C.InternalCreateBlobStream(false, false, 2, bomRead, true), nullptr);
  a.C.ClearBLOBStreams(false);
}

// Keys that move and records that go on an indexed disk table, shared and
// single-user: the index follows every edit and reads back in its order.
TEST_F(LocalCursorMultiUser, KeyUpdatesAndDeletesKeepTheIndexOfADiskTable) {
  TVEXLocalSession single;
  single.SetDatabaseName("Hotel");
  single.SetDatabaseFileName(File);
  single.SetSessionName("S3");
  for (TVEXLocalSession* session : {First.get(), &single}) {
    SCOPED_TRACE(session == &single ? "single-user" : "multi-user");
    if (session == &single) {
      First->SetConnected(false);
      Second->SetConnected(false);
      single.SetConnected(true);
    }
    TVEXFieldDefs f;
    vex::testing::AddField(f, "ID", aftInteger);
    vex::testing::AddField(f, "NAME", aftString, 10);
    TVEXIndexDefs i;
    TVEXIndexDef* byId = i.AddCreated();
    byId->Name = "BYID";
    byId->Unique = true;
    byId->SetColumnCount(1);
    byId->GetIndexColumn(0)->FieldName = "ID";
    // A cut size below the integer's four bytes must not cut the key.
    byId->GetIndexColumn(0)->MaxIndexedSize = 0;
    TVEXConstraintDefs c;
    TVEXLocalCursor maker;
    maker.SetSession(session);
    maker.SetTableName("Room");
    maker.CreateTable(f, i, c);

    Cursor r(*session, "Room", false);
    r.Open();
    r.C.SetIndexName("BYID");
    ASSERT_EQ(r.Insert(1, "Ann"), 0);
    ASSERT_EQ(r.Insert(2, "Bob"), 0);
    ASSERT_EQ(r.Insert(3, "Cy"), 0);

    r.Seek(2);
    r.BeginEdit();
    ASSERT_EQ(r.C.ErrorCode(), 0);
    r.SetInt(0, 7);
    r.C.InternalPost(false);
    EXPECT_EQ(r.C.ErrorCode(), 0) << r.C.ErrorMessage();
    r.C.SetEditRecordBuffer(nullptr);

    r.Seek(1);
    r.C.InternalDelete();
    EXPECT_EQ(r.C.ErrorCode(), 0);

    std::vector<int32_t> ids;
    for (bool more = r.First(); more; more = r.Read(grmNext)) ids.push_back(r.Int(0));
    EXPECT_EQ(ids, (std::vector<int32_t>{3, 7}));
    r.C.CloseTable();
  }
}

TEST_F(LocalCursor, BatchUpdatesOnlyOutsideATransaction) {
  MakeGuest();
  Cursor g(Session, "Guest");
  g.Open();
  g.C.EndBatchUpdate();
  EXPECT_FALSE(g.C.InBatchUpdate());
  g.C.BeginBatchUpdate();
  EXPECT_TRUE(g.C.InBatchUpdate());
  g.C.CancelBatchUpdate();
  EXPECT_FALSE(g.C.InBatchUpdate());
  Session.StartTransaction();
  g.C.BeginBatchUpdate();
  EXPECT_FALSE(g.C.InBatchUpdate());
  Session.Rollback();
}

}  // namespace
