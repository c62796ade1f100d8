// The file checker against files it must pass and files damaged in the ways
// it must see: a database with two tables, rows inserted, changed and deleted,
// BLOBs small and large and a second index passes, plain and encrypted; each
// damage of a table of them is reported with the fault it makes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../disk/DiskTableFixture.h"
#include "VEXFileCheck.h"
#include "storage/disk/VEXFreeSpaceManager.h"

namespace vex {
namespace {

using testing::DiskCursor;
using testing::DiskSession;
using testing::DiskTableTest;

std::string Faults(const TVEXFileCheckReport& report) {
  std::string text;
  for (const std::string& f : report.Faults) text += f + "\n";
  if (!report.LeakedPages.empty()) text += "pages leaked\n";
  return text;
}

class FileCheckTest : public DiskTableTest {
 protected:
  // Table "T" (key, value, BLOB; 400 rows, every third deleted, every fifth
  // changed, a BLOB on every seventh of 100, 5,000 or 20,000 bytes) and table
  // "U" without BLOBs.
  void Build(const std::string& password = {}) VEX_NO_THREAD_SAFETY_ANALYSIS {
    auto db = NewDatabase();
    db->Password()->Password = password;
    db->CreateDatabase();
    DiskSession session(*db);
    session.SetConnected(true);
    CreateTable(*db, session, "T", true);
    CreateTable(*db, session, "U", false);
    {
      DiskCursor cursor(session, "T");
      TVEXDiskTableData& table = Open(*db, cursor);
      for (int32_t key = 1; key <= 400; ++key) {
        SetRecord(table, cursor, key, key * 10);
        TVEXLockGuard lock(db->DatabaseLock());
        if (key % 7 == 0) {
          const std::string text(static_cast<size_t>(key % 3 == 0 ? 100 : key % 3 == 1 ? 5000 : 20000),
                                 static_cast<char>('a' + key % 26));
          std::unique_ptr<TVEXStream> writer = table.InternalCreateBlobStream(cursor, true, 2, bomWrite);
          writer->Write(text.data(), static_cast<int32_t>(text.size()));
          writer->SetModified(true);
          table.WriteBLOBFieldToRecordBuffer(cursor, 2, *writer);
        }
        ASSERT_TRUE(table.InsertRecord(cursor));
      }
      for (int32_t key = 3; key <= 400; key += 3) ASSERT_TRUE(Delete(table, cursor, key));
      for (int32_t key = 5; key <= 400; key += 15) ASSERT_TRUE(Update(table, cursor, key, -key));
      Close(*db, table, cursor);
    }
    {
      DiskCursor cursor(session, "U");
      TVEXDiskTableData& table = Open(*db, cursor);
      for (int32_t key = 1; key <= 50; ++key) ASSERT_TRUE(Insert(table, cursor, key, key));
      Close(*db, table, cursor);
    }
    session.SetConnected(false);
  }
};

TEST_F(FileCheckTest, ASoundFilePassesPlainAndEncrypted) {
  for (const std::string password : {"", "secret"}) {
    SCOPED_TRACE(password);
    FFilePassword = password;
    Build(password);
    const TVEXFileCheckReport report = CheckDatabaseFile(PathOf(), password);
    EXPECT_TRUE(report.Sound() && report.LeakedPages.empty()) << FormatFileCheckReport(PathOf(), report);
    EXPECT_EQ(report.TableCount, 2);
    EXPECT_EQ(report.RecordCount, 400 - 133 + 50);
    EXPECT_EQ(report.IndexCount, 2);
    EXPECT_GT(report.BlobCount, 20);
  }
}

TEST_F(FileCheckTest, EveryDamageIsReportedWithItsFault) VEX_NO_THREAD_SAFETY_ANALYSIS {
  FCheckFilesAtEnd = false;
  Build();
  const std::vector<uint8_t> valid = testing::ReadWholeFile(PathOf());
  int64_t firstPage = 0;
  int64_t pageSize = 0;
  int64_t total = 0;
  std::vector<int64_t> recordPages;
  {
    auto db = NewDatabase();
    DiskSession session(*db);
    session.SetConnected(true);
    firstPage = db->DiskPageManager()->OffsetToFirstPage();
    pageSize = db->DiskPageManager()->PageSize();
    total = db->DiskPageManager()->DBHeader()->TotalPageCount;
    session.SetConnected(false);
  }
  for (int64_t p = 0; p < total; ++p) {
    if (testing::ValueAt<uint16_t>(valid, static_cast<size_t>(firstPage + p * pageSize + 8)) == ptTableRecord)
      recordPages.push_back(p);
  }
  ASSERT_FALSE(recordPages.empty());
  const auto pageAt = [&](int64_t p) { return static_cast<size_t>(firstPage + p * pageSize); };
  // PFS page 0's data: bit p for page p.
  const auto pfsBit = [&](std::vector<uint8_t>& f, int64_t p, bool set) {
    uint8_t& byte = f[pageAt(0) + 40 + static_cast<size_t>(p / 8)];
    byte = set ? static_cast<uint8_t>(byte | (1 << (p % 8))) : static_cast<uint8_t>(byte & ~(1 << (p % 8)));
  };
  struct Damage {
    const char* Name;
    const char* Fault;
    std::function<void(std::vector<uint8_t>&)> Apply;
  };
  const int32_t lastUsed = testing::ValueAt<int32_t>(valid, 34);
  const std::vector<Damage> cases = {
      {"crash marker set", "asks for repair", [](auto& f) { f[42] = 1; }},
      {"a free page marked used", "pages leaked",
       [&](auto& f) {
         // A page past the last used one, or the file grown by one.
         if (lastUsed + 1 < total) {
           pfsBit(f, lastUsed + 1, true);
         } else {
           f.resize(f.size() + static_cast<size_t>(pageSize), 0);
           std::memcpy(f.data() + 30, &(total), 4);
           pfsBit(f, total, true);
         }
       }},
      {"a record page marked free", "is free in the PFS", [&](auto& f) { pfsBit(f, recordPages[0], false); }},
      {"last used page wrong", "last used page", [&](auto& f) {
         const int32_t wrong = lastUsed - 1;
         std::memcpy(f.data() + 34, &wrong, 4);
       }},
      {"object-id counter reset", "object-id counter", [](auto& f) {
         const int32_t zero = 0;
         std::memcpy(f.data() + 376, &zero, 4);
       }},
      {"a record slot cleared", "records walked", [&](auto& f) { f[pageAt(recordPages[0]) + 40] &= 0xFE; }},
      {"a record page freed in place", "marked freed", [&](auto& f) {
         const int32_t freed = 0x7FFFFFFF;
         std::memcpy(f.data() + pageAt(recordPages.back()) + 4, &freed, 4);
       }},
      {"file cut by a page", "bytes, its header", [&](auto& f) { f.resize(f.size() - static_cast<size_t>(pageSize)); }},
  };
  for (const Damage& d : cases) {
    SCOPED_TRACE(d.Name);
    std::vector<uint8_t> image = valid;
    d.Apply(image);
    testing::WriteWholeFile(PathOf(), image);
    const TVEXFileCheckReport report = CheckDatabaseFile(PathOf());
    EXPECT_NE(Faults(report).find(d.Fault), std::string::npos) << FormatFileCheckReport(PathOf(), report);
  }
}

}  // namespace
}  // namespace vex
