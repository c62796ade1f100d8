#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DiskDatabaseFixture.h"
#include "rtl/CodePage.h"
#include "storage/disk/VEXInternalFiles.h"
#include "storage/disk/VEXSystemFiles.h"
#include "text/Text.h"

namespace vex::testing {
namespace {

using testsupport::CodeOf;

constexpr int32_t kSystem = -2;
// Content byte 0 of an internal file: past the page header and the file
// header.
constexpr uint16_t kContent = 50;

// A database with its three system files, as a new database gets them.
class SystemFilesTest : public DiskDatabaseTest {
 protected:
  void SetUp() override {
    auto manager = Create();
    TVEXSystemDirectory directory(manager.get());
    directory.CreateDirectory();
    TVEXActiveSessionsFile sessions(manager.get());
    FSessionsPage = sessions.CreateFile(5);
    directory.CreateFile(dbftActiveSessionsList, FSessionsPage);
    TVEXTableListFile tables(manager.get());
    FTablesPage = tables.CreateFile();
    directory.CreateFile(dbftTablesList, FTablesPage);
    directory.SaveDirectory();
    manager->ApplyChanges(kSystem);
  }

  // One connection: its page manager and its sessions file.
  struct Connection {
    std::unique_ptr<TVEXDiskPageManager> Manager;
    std::unique_ptr<TVEXActiveSessionsFile> Sessions;
  };
  Connection Connect(bool multiUser = true) {
    Connection c{Open("db.vex", {}, multiUser).Manager, nullptr};
    c.Sessions = std::make_unique<TVEXActiveSessionsFile>(c.Manager.get());
    c.Sessions->OpenFile(FSessionsPage);
    return c;
  }

  int32_t FSessionsPage = -1;
  int32_t FTablesPage = -1;
};

TEST_F(SystemFilesTest, TheDirectoryListsTheSystemFilesInFiveByteItemsAtPageTwo) {
  auto manager = Open().Manager;
  TVEXSystemDirectory directory(manager.get());
  directory.LoadDirectory();
  EXPECT_EQ(directory.GetFileFirstPageNo(dbftActiveSessionsList), FSessionsPage);
  EXPECT_EQ(directory.GetFileFirstPageNo(dbftTablesList), FTablesPage);
  EXPECT_EQ(directory.GetFileFirstPageNo(dbftUnknown), -1);

  uint8_t bytes[10];
  manager->ReadPageRegion(bytes, kSystemDirectoryPageNo, kContent, sizeof(bytes));
  EXPECT_EQ(bytes[0], dbftActiveSessionsList);
  EXPECT_EQ(ValueAt<int32_t>({bytes, bytes + 10}, 1), FSessionsPage);
  EXPECT_EQ(bytes[5], dbftTablesList);
  EXPECT_EQ(ValueAt<int32_t>({bytes, bytes + 10}, 6), FTablesPage);

  // A database that is not empty cannot take a directory at page 2.
  TVEXSystemDirectory another(manager.get());
  EXPECT_EQ(CodeOf([&] { another.CreateDirectory(); }), 30392);
}

TEST_F(SystemFilesTest, TheTableListStoresItemsInOrderAndAnotherConnectionLoadsThem) {
  auto writer = Open().Manager;
  TVEXTableListFile tables(writer.get());
  tables.OpenFile(FTablesPage);
  EXPECT_EQ(CodeOf([&] { tables.OpenFile(FTablesPage); }), 30393);
  tables.Load();
  EXPECT_TRUE(tables.TableList().empty());
  tables.AddTable(11, "Guests", 20, 21, 22);
  tables.AddTable(12, "Orders", 30, 31, 32);
  tables.AddTable(13, "Rooms", 40, 41, 42);
  tables.Save();
  writer->ApplyChanges(kSystem);

  // Item 1 as stored: length byte and name, the four numbers at 256.
  std::vector<uint8_t> item(272);
  writer->ReadPageRegion(item.data(), FTablesPage, kContent + 272, 272);
  EXPECT_EQ(item[0], 6);
  EXPECT_EQ(std::string(item.begin() + 1, item.begin() + 7), "Orders");
  EXPECT_EQ(ValueAt<int32_t>(item, 256), 12);
  EXPECT_EQ(ValueAt<int32_t>(item, 260), 30);
  EXPECT_EQ(ValueAt<int32_t>(item, 264), 31);
  EXPECT_EQ(ValueAt<int32_t>(item, 268), 32);

  tables.RemoveTable("guests");
  tables.Save();
  writer->ApplyChanges(kSystem);

  auto reader = Open().Manager;
  TVEXTableListFile seen(reader.get());
  seen.OpenFile(FTablesPage);
  std::vector<std::u16string> names{u"stale"};
  seen.GetTablesList(names);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Orders", u"Rooms"}));
  int32_t id = 0, meta = 0, state = 0, locks = 0;
  seen.OpenTable("ROOMS", id, meta, state, locks);
  EXPECT_EQ((std::vector<int32_t>{id, meta, state, locks}), (std::vector<int32_t>{13, 40, 41, 42}));
}

TEST_F(SystemFilesTest, TableNamesFoldAsciiLettersOnlyAndRefuseWhatCannotBeStored) {
  auto manager = Open().Manager;
  TVEXTableListFile tables(manager.get());
  tables.OpenFile(FTablesPage);
  tables.Load();
  const std::string upperU = rtl::Utf16ToWin1252(u"\u00DCber");
  const std::string lowerU = rtl::Utf16ToWin1252(u"\u00FCber");
  tables.AddTable(1, "Orders", 1, 2, 3);
  tables.AddTable(2, upperU, 1, 2, 3);
  tables.AddTable(3, std::string(255, 'n'), 1, 2, 3);

  struct Case {
    const char* what;
    std::function<void()> call;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"ASCII case differs only", [&] { tables.AddTable(9, "ORDERS", 1, 2, 3); }, 30395},
      {"non-ASCII case differs", [&] { tables.AddTable(9, lowerU, 1, 2, 3); }, 0},
      {"256 bytes", [&] { tables.AddTable(9, std::string(256, 'm'), 1, 2, 3); }, 30394},
      {"rename to 256 bytes", [&] { tables.RenameTable("orders", std::string(256, 'm')); }, 30398},
      {"open a missing table",
       [&] {
         int32_t a, b, c, d;
         tables.OpenTable("Nothing", a, b, c, d);
       },
       30396},
      {"remove a missing table", [&] { tables.RemoveTable("Nothing"); }, 30405},
      {"rename a missing table", [&] { tables.RenameTable("Nothing", "x"); }, 30397},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CodeOf(c.call), c.code);
  }
  // The objects above the table list fold by the locale, which takes the two
  // names for one: the table list keeps them apart, as it always stored them.
  EXPECT_EQ(text::UpperCase(u"\u00DCber"), text::UpperCase(u"\u00FCber"));
  EXPECT_TRUE(tables.TableExists(upperU));
  EXPECT_TRUE(tables.TableExists(lowerU));
  EXPECT_EQ(tables.TableList().size(), 4u);
  EXPECT_TRUE(tables.TableExists(std::string(255, 'N')));

  tables.RenameTable("orders", "Bookings");
  EXPECT_FALSE(tables.TableExists("Orders"));
  EXPECT_TRUE(tables.TableExists("BOOKINGS"));
}

TEST_F(SystemFilesTest, ConnectionsTakeFreeSlotsUpToTheLimitAndReuseAFreedOne) {
  Connection a = Connect();
  Connection b = Connect();
  EXPECT_EQ(a.Sessions->MaxSessionCount(), 5);
  // Two sessions of one database object share its handle and still get
  // slots of their own.
  EXPECT_EQ(a.Sessions->MultiUserConnect(), 0);
  EXPECT_EQ(a.Sessions->MultiUserConnect(), 1);
  EXPECT_EQ(b.Sessions->MultiUserConnect(), 2);
  EXPECT_EQ(b.Sessions->MultiUserConnect(), 3);
  EXPECT_EQ(a.Sessions->MultiUserConnect(), 4);
  EXPECT_EQ(CodeOf([&] { b.Sessions->MultiUserConnect(); }), 20094);
  EXPECT_EQ(b.Sessions->GetDBFileConnectionsCount(), 5);

  // Slot s is content byte s of the sessions file.
  EXPECT_TRUE(b.Manager->IsPageByteLocked(FSessionsPage, kContent + 2));
  b.Sessions->MultiUserDisconnect(2);
  EXPECT_FALSE(b.Manager->IsPageByteLocked(FSessionsPage, kContent + 2));
  EXPECT_EQ(a.Sessions->GetDBFileConnectionsCount(), 4);
  EXPECT_EQ(a.Sessions->MultiUserConnect(), 2);
  EXPECT_EQ(CodeOf([&] { b.Sessions->MultiUserDisconnect(0); }), 20095);

  // Every slot taken: a single-user connect takes none.
  Connection c = Connect();
  EXPECT_FALSE(c.Sessions->SingleUserConnect());
  for (int32_t s : {0, 1, 2, 4}) a.Sessions->MultiUserDisconnect(s);
  b.Sessions->MultiUserDisconnect(3);
  EXPECT_EQ(a.Sessions->GetDBFileConnectionsCount(), 0);
}

TEST_F(SystemFilesTest, ASingleUserConnectionHoldsEverySlot) {
  Connection a = Connect();
  Connection b = Connect();
  ASSERT_TRUE(a.Sessions->SingleUserConnect());
  EXPECT_EQ(CodeOf([&] { b.Sessions->MultiUserConnect(); }), 20094);
  EXPECT_FALSE(b.Sessions->SingleUserConnect());
  EXPECT_EQ(b.Sessions->GetDBFileConnectionsCount(), 5);
  a.Sessions->SingleUserDisconnect();
  EXPECT_EQ(b.Sessions->MultiUserConnect(), 0);
  EXPECT_FALSE(a.Sessions->SingleUserConnect());

  b.Sessions->MultiUserDisconnect(0);
  a = {};
  b = {};

  // Outside multi-user mode a connect locks nothing.
  Connection single = Connect(false);
  ASSERT_FALSE(single.Manager->MultiUser());
  EXPECT_EQ(single.Sessions->MultiUserConnect(), 0);
  EXPECT_EQ(single.Sessions->GetDBFileConnectionsCount(), 0);
}

TEST_F(SystemFilesTest, AnOperationWithoutTheWholeFileLockChangesNothingAndRaises) {
  Connection a = Connect();
  Connection b = Connect();
  TVEXInternalDBDirectAccessFile holder(b.Manager.get(), ptActiveSessionList);
  holder.OpenFile(FSessionsPage);
  ASSERT_TRUE(holder.LockFile());

  struct Case {
    const char* what;
    std::function<void()> call;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"multi-user connect", [&] { a.Sessions->MultiUserConnect(); }, 20093},
      {"multi-user disconnect", [&] { a.Sessions->MultiUserDisconnect(0); }, 20096},
      {"single-user connect", [&] { a.Sessions->SingleUserConnect(); }, 20240},
      {"single-user disconnect", [&] { a.Sessions->SingleUserDisconnect(); }, 20241},
      {"count", [&] { a.Sessions->GetDBFileConnectionsCount(); }, 30484},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint64_t sleeps = FClock.Clock.SleepCount();
    std::string message;
    EXPECT_EQ(CodeOf(c.call, &message), c.code);
    EXPECT_NE(message.find("Cannot lock sessions file"), std::string::npos) << message;
    EXPECT_EQ(FClock.Clock.SleepCount() - sleeps, 4500u);
  }
  ASSERT_TRUE(holder.UnlockFile());
  EXPECT_EQ(b.Sessions->GetDBFileConnectionsCount(), 0);
}

}  // namespace
}  // namespace vex::testing
