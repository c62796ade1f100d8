// The "TEMP" database and its tables: records past the RAM cache spilled to a
// temporary file one record behind and read back both ways, the file's life,
// appends that advance the table state, refused updates and deletes,
// append-only BLOB values, and index pages past the RAM limit in a page file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "../VEXDatabaseFakes.h"
#include "os/MemoryStatus.h"
#include "os/TempFile.h"
#include "rtl/Lists.h"
#include "storage/btree/VEXBTreeRecordIndex.h"
#include "storage/temp/VEXTempEngine.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::AddField;
using testing::GetField;
using testing::NullRecord;
using testing::SetField;
using testing::TestCursor;
using testing::TestSession;
using testsupport::RaisesNativeError;

// Open handles of this process on "VEX..." files of the temporary folder:
// the temporary files are unlinked at once, so their handles are all there is.
int OpenTempFiles() {
  const std::string prefix = os::TempDirectory() + "/VEX";
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (dirent* entry = ::readdir(dir)) {
    char target[4096];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)).rfind(prefix, 0) == 0) ++count;
  }
  ::closedir(dir);
  return count;
}

// Fields Id (integer), Name (string 40) and, when asked, Data (BLOB).
void ItemFields(TVEXFieldDefs& fields, bool withBlob) {
  AddField(fields, "Id", aftInteger);
  AddField(fields, "Name", aftString, 40);
  if (withBlob) AddField(fields, "Data", aftBlob);
}

class TempTableTest : public ::testing::Test {
 protected:
  // Creates the table with free memory set so that the record cache holds
  // CachedRecords records (and index pages a tenth of the free memory).
  void Create(int64_t CachedRecords, bool withBlob = false, bool disableTempFiles = false) {
    session.SetConnected(true);
    TVEXFieldDefs fields;
    ItemFields(fields, withBlob);
    const int64_t recordSize = fields.GetMemoryRecordBufferSize();
    os::ScopedAvailableMemory memory(CachedRecords * recordSize * 10);
    TVEXLockGuard lock(db.DatabaseLock());
    table = static_cast<TVEXTemporaryTableData*>(db.FindOrCreateTableData(cursor));
    TVEXLockGuard tableLock(table->DatabaseLock());
    cursor.SetDisableTempFiles(disableTempFiles);
    TVEXIndexDefs indexes;
    TVEXConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    cursor.FieldDefs().Assign(table->FieldManager()->FieldDefs());
    table->OpenTable(cursor);
    cursor.Record = NullRecord(Fields());
    cursor.SetCurrentRecordBuffer(cursor.Record.data());
  }

  const TVEXFieldDefs& Fields() { return table->FieldManager()->FieldDefs(); }
  TVEXTemporaryRecordManager& Records() { return *table->TemporaryRecordManager(); }

  bool Append(int32_t id) VEX_NO_THREAD_SAFETY_ANALYSIS {
    cursor.Record = NullRecord(Fields());
    cursor.SetCurrentRecordBuffer(cursor.Record.data());
    SetField<int32_t>(Fields(), cursor.Record, 0, id);
    const std::string name = "row " + std::to_string(id);
    std::memcpy(cursor.Record.data() + Fields().GetDef(1)->MemoryOffset, name.c_str(),
                name.size() + 1);
    SetBitInBuffer(false, 1, cursor.Record.data());
    return table->InsertRecord(cursor);
  }

  std::vector<int32_t> Walk(bool forward) VEX_NO_THREAD_SAFETY_ANALYSIS {
    std::vector<int32_t> ids;
    cursor.FirstPosition = forward;
    cursor.LastPosition = !forward;
    while (table->GetRecordBuffer(cursor, forward ? grmNext : grmPrior) == grrOK) {
      const int32_t id = GetField<int32_t>(Fields(), cursor.Record, 0);
      const std::string name(reinterpret_cast<const char*>(cursor.Record.data()) +
                             Fields().GetDef(1)->MemoryOffset);
      if (name != "row " + std::to_string(id)) ADD_FAILURE() << "record " << id << ": " << name;
      ids.push_back(id);
    }
    return ids;
  }

  TVEXTemporaryDatabaseData db;
  TestSession session{&db};
  TestCursor cursor{session, "Result"};
  TVEXTemporaryTableData* table = nullptr;
};

TEST_F(TempTableTest, RecordsPastTheCacheSpillToAFileReadBothWaysAndGoWhenEmptied) {
  Create(1000);
  TVEXLockGuard lock(table->DatabaseLock());
  ASSERT_EQ(Records().MaxCachedRecordCount(), 1000);
  const int32_t stateBefore = Records().TableState();
  for (int32_t id = 0; id < 2500; ++id) {
    ASSERT_TRUE(Append(id));
    ASSERT_EQ(Records().HasTempFile(), id >= 1000) << "the file appears at the first spilled record";
    ASSERT_EQ(OpenTempFiles(), id >= 1000 ? 1 : 0);
    ASSERT_LE(Records().TempPageRecordCount(), 1) << "the file is written one record behind";
  }
  EXPECT_EQ(Records().TableState(), stateBefore + 2500) << "every append advances the state";
  EXPECT_NO_THROW(Records().CheckIntegrity());
  std::vector<int32_t> expected;
  for (int32_t id = 0; id < 2500; ++id) expected.push_back(id);
  EXPECT_EQ(Walk(true), expected);
  EXPECT_EQ(Walk(false), std::vector(expected.rbegin(), expected.rend()));
  for (int64_t recNo : {1, 1000, 1001, 2500}) {
    table->SetRecNo(cursor, recNo);
    ASSERT_EQ(table->GetRecordBuffer(cursor, grmCurrent), grrOK);
    EXPECT_EQ(GetField<int32_t>(Fields(), cursor.Record, 0), recNo - 1);
    EXPECT_EQ(table->GetRecNo(cursor), recNo);
  }
  table->EmptyTable(&cursor);
  EXPECT_FALSE(Records().HasTempFile());
  EXPECT_EQ(OpenTempFiles(), 0) << "emptying deletes the file";
  EXPECT_EQ(table->InternalGetRecordCount(cursor), 0);
  ASSERT_TRUE(Append(7));
  EXPECT_EQ(Walk(true), std::vector<int32_t>{7});
}

TEST_F(TempTableTest, ReadingTheLastSpilledRecordWritesItOutFirst) {
  Create(0);
  TVEXLockGuard lock(table->DatabaseLock());
  ASSERT_TRUE(Append(10));
  ASSERT_TRUE(Records().HasTempFile()) << "without cache room record 0 goes to the file";
  EXPECT_EQ(Records().TempPageRecordCount(), 1);
  cursor.LastPosition = true;
  ASSERT_EQ(table->GetRecordBuffer(cursor, grmPrior), grrOK);
  EXPECT_EQ(GetField<int32_t>(Fields(), cursor.Record, 0), 10);
  EXPECT_EQ(Records().TempPageRecordCount(), 0);
  EXPECT_NO_THROW(Records().CheckIntegrity());
}

TEST_F(TempTableTest, WithTempFilesDisabledEverythingStaysInMemory) {
  Create(0, true, true);
  TVEXLockGuard lock(table->DatabaseLock());
  for (int32_t id = 0; id < 50; ++id) ASSERT_TRUE(Append(id));
  EXPECT_FALSE(Records().HasTempFile());
  EXPECT_EQ(Records().CachedRecordCount(), 50);
  EXPECT_EQ(OpenTempFiles(), 0);
  EXPECT_EQ(Walk(true).size(), 50u);
}

TEST_F(TempTableTest, UpdateAndDeleteAreRefusedAndChangeNothing) {
  Create(100);
  TVEXLockGuard lock(table->DatabaseLock());
  for (int32_t id = 1; id <= 3; ++id) ASSERT_TRUE(Append(id));
  table->InternalSetRecNo(cursor, 2);
  ASSERT_EQ(table->GetRecordBuffer(cursor, grmCurrent), grrOK);
  const int32_t state = Records().TableState();
  SetField<int32_t>(Fields(), cursor.Record, 0, 99);
  EXPECT_FALSE(table->UpdateRecord(cursor));
  EXPECT_FALSE(table->DeleteRecord(cursor));
  EXPECT_EQ(Records().TableState(), state);
  EXPECT_EQ(Walk(true), (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(TempTableTest, BlobWrittenTwiceAppendsTwoCopiesAndTheFieldNamesTheSecond) {
  Create(100, true);
  TVEXLockGuard lock(table->DatabaseLock());
  cursor.Record = NullRecord(Fields());
  cursor.SetCurrentRecordBuffer(cursor.Record.data());
  auto write = [&](const std::string& value) VEX_NO_THREAD_SAFETY_ANALYSIS {
    std::unique_ptr<TVEXStream> s = table->InternalCreateBlobStream(cursor, true, 2, bomWrite);
    s->Write(value.data(), static_cast<int32_t>(value.size()));
    s->SetModified(true);
    table->WriteBLOBFieldToRecordBuffer(cursor, 2, *s);
  };
  const std::string first(300, 'a');
  const std::string second = "the second value";
  write(first);
  const int64_t afterFirst = table->BLOBFile()->GetSize();
  EXPECT_EQ(afterFirst, TVEXTemporaryTableData::kBLOBDescriptorSize + 300);
  write(second);
  EXPECT_EQ(table->BLOBFile()->GetSize(),
            afterFirst + TVEXTemporaryTableData::kBLOBDescriptorSize + int64_t(second.size()));
  EXPECT_EQ(GetField<int64_t>(Fields(), cursor.Record, 2), afterFirst);
  SetField<int32_t>(Fields(), cursor.Record, 0, 1);
  ASSERT_TRUE(table->InsertRecord(cursor));
  cursor.Record = NullRecord(Fields());
  cursor.SetCurrentRecordBuffer(cursor.Record.data());
  cursor.FirstPosition = true;
  ASSERT_EQ(table->GetRecordBuffer(cursor, grmNext), grrOK);
  std::unique_ptr<TVEXStream> s = table->InternalCreateBlobStream(cursor, false, 2, bomRead);
  std::string read(static_cast<size_t>(s->GetSize()), '\0');
  s->Read(read.data(), static_cast<int32_t>(read.size()));
  EXPECT_EQ(read, second);

  // The same bytes directly, and copied into another record without
  // decompressing.
  TVEXPartialTemporaryBLOBDescriptor descriptor;
  uint8_t* data = nullptr;
  table->GetDirectBlobData(cursor, 2, cursor.Record.data(), descriptor, data);
  EXPECT_EQ(descriptor.UncompressedSize, int64_t(second.size()));
  std::vector<uint8_t> copy = NullRecord(Fields());
  table->SetDirectBlobData(cursor, 2, copy.data(), descriptor, data);
  table->FreeDirectBlobData(cursor, 2, cursor.Record.data(), descriptor, data);
  EXPECT_EQ(data, nullptr);
  EXPECT_FALSE(testing::IsFieldNull(copy, 2));
  EXPECT_GT(GetField<int64_t>(Fields(), copy, 2), afterFirst);

  // A damaged offset is refused, not followed.
  SetField<int64_t>(Fields(), cursor.Record, 2, int64_t{1} << 40);
  EXPECT_THAT([&] { table->InternalCreateBlobStream(cursor, false, 2, bomRead); },
              RaisesNativeError(10141));
}

TEST(TempTable, AnIndexPastTheRamLimitLivesInThePageFileAndStaysWhole) {
  TVEXTemporaryDatabaseData db;
  TestSession session{&db};
  session.SetConnected(true);
  TestCursor cursor{session, "Sorted"};
  TVEXLockGuard lock(db.DatabaseLock());
  auto* table = static_cast<TVEXTemporaryTableData*>(db.FindOrCreateTableData(cursor));
  TVEXLockGuard tableLock(table->DatabaseLock());
  TVEXFieldDefs fields;
  ItemFields(fields, false);
  TVEXIndexDefs indexes;
  TVEXIndexDef* byName = indexes.AddCreated();
  byName->Name = "ByName";
  rtl::TStringList names, dirs, cases;
  names.Add("Name");
  dirs.Add("DESC");
  cases.Add("CASE");
  byName->AssignByNames(names, dirs, cases);
  TVEXConstraintDefs constraints;
  {
    // Two RAM pages; the rest of the index goes to the file.
    os::ScopedAvailableMemory memory(2 * 4096 * 10);
    table->CreateTable(&cursor, fields, indexes, constraints);
  }
  ASSERT_EQ(table->TemporaryPageManager()->MaxMemoryPageCount(), 2);
  cursor.FieldDefs().Assign(table->FieldManager()->FieldDefs());
  const TVEXFieldDefs& defs = table->FieldManager()->FieldDefs();
  for (int32_t id = 0; id < 3000; ++id) {
    cursor.Record = NullRecord(defs);
    cursor.SetCurrentRecordBuffer(cursor.Record.data());
    SetField<int32_t>(defs, cursor.Record, 0, id);
    const std::string name = "name " + std::to_string(id * 7919 % 3000);
    std::memcpy(cursor.Record.data() + defs.GetDef(1)->MemoryOffset, name.c_str(), name.size() + 1);
    SetBitInBuffer(false, 1, cursor.Record.data());
    ASSERT_TRUE(table->InsertRecord(cursor));
  }
  EXPECT_TRUE(table->TemporaryPageManager()->HasPageFile());
  auto* index = static_cast<TVEXBTreeRecordIndex*>(
      table->IndexManager()->OpenIndex(table->IndexManager()->IndexDefs().GetDef(0)->ObjectID));
  EXPECT_NO_THROW(index->CheckIntegrity(0));
  std::vector<uint8_t> first(cursor.Record.size());
  TVEXNavigationInfo info;
  info.RecordID = TVEXTemporaryRecordManager::IDOf(0);
  info.RecordBuffer = first.data();
  table->RecordManager()->GetRecordBuffer(0, info);
  ASSERT_EQ(info.GetRecordResult, grrOK);
  EXPECT_EQ(index->GetRecNoByRecordID(0, info.RecordID, first.data()), 3000)
      << "descending by name, \"name 0\" comes last";
}

TEST(TempPageManager, PagesPastTheRamLimitLiveInAPageFile) {
  os::ScopedAvailableMemory memory(3 * 4096 * 10);
  TVEXTemporaryPageManager pm(false);
  ASSERT_EQ(pm.MaxMemoryPageCount(), 3);
  TVEXLockGuard lock(pm.DatabaseLock());
  for (int i = 0; i < 5; ++i) {
    TVEXPage* p = pm.AddPage(0, 12);
    EXPECT_EQ(p->PageNo(), i);
    EXPECT_EQ(pm.IsMemoryPage(i), i < 3);
    p->PageData()[100] = static_cast<uint8_t>(i + 1);
    pm.PutPage(p);
  }
  EXPECT_TRUE(pm.HasPageFile()) << "the first page past the limit makes the file";
  pm.ApplyChanges(0);
  pm.Close();
  for (int i = 0; i < 5; ++i) {
    TVEXPage* p = pm.GetPage(0, i, kAnyPageType, false);
    EXPECT_EQ(p->PageData()[100], i + 1);
    pm.PutPage(p);
  }
  // RAM numbers are reused, file numbers are not.
  pm.RemovePage(0, 1);
  pm.RemovePage(0, 4);
  pm.ApplyChanges(0);
  TVEXPage* p = pm.AddPage(0, 12);
  EXPECT_EQ(p->PageNo(), 5);
  pm.PutPage(p);
  pm.ApplyChanges(0);
  EXPECT_EQ(pm.PageCount(), 4);
  TVEXPage missing(&pm);
  missing.SetPageNo(4);
  EXPECT_THAT([&] { pm.InternalReadPage(&missing); }, RaisesNativeError(10396));
}

TEST(TempDatabase, IsNamedTempAndHandsOutObjectIds) {
  TVEXTemporaryDatabaseData db;
  EXPECT_EQ(db.DatabaseName(), "TEMP");
  EXPECT_EQ(db.GetNewObjectId(), 1);
  EXPECT_EQ(db.GetNewObjectId(), 2);
  TestSession session{&db};
  session.SetConnected(true);
  TestCursor cursor{session, "Empty"};
  TVEXLockGuard lock(db.DatabaseLock());
  auto* table = static_cast<TVEXTemporaryTableData*>(db.FindOrCreateTableData(cursor));
  TVEXLockGuard tableLock(table->DatabaseLock());
  TVEXFieldDefs none;
  TVEXIndexDefs indexes;
  TVEXConstraintDefs constraints;
  EXPECT_THAT([&] { table->CreateTable(&cursor, none, indexes, constraints); },
              RaisesNativeError(10132));
  EXPECT_THAT([&] { table->InternalGetRecordCount(cursor); }, RaisesNativeError(10133));
}

}  // namespace
}  // namespace vex
