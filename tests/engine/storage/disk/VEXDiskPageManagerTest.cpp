#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "DiskDatabaseFixture.h"
#include "foundation/VEXStream.h"
#include "os/File.h"
#include "storage/disk/VEXDiskPageManager.h"
#include "storage/disk/VEXFreeSpaceManager.h"

namespace vex::testing {
namespace {

using testsupport::CodeOf;

constexpr int64_t kPage0 = 380;
constexpr int64_t kPageSize = 4096;

int64_t PageOffset(int32_t pageNo) { return kPage0 + pageNo * kPageSize; }

class DiskPageManagerTest : public DiskDatabaseTest {};

// ---------------------------------------------------------------------------
// The file's bytes

TEST_F(DiskPageManagerTest, NewFileIsItsPrologueThenTheFirstPageBringsThreePages) {
  Create().reset();
  const std::vector<uint8_t> prologue = ReadWholeFile(PathOf());
  ASSERT_EQ(prologue.size(), 380u);

  std::vector<uint8_t> expected(380, 0);
  const auto put = [&expected](size_t offset, const void* bytes, size_t count) {
    std::memcpy(expected.data() + offset, bytes, count);
  };
  put(0, "VEX0LITEDATABASE", 16);
  const int16_t headerSize = 76, cryptoSize = 280, lockedSize = 20;
  const double version = 7.5;
  const uint16_t pageSize = 4096, extent = 8;
  const int32_t lastUsed = -1;
  put(16, &headerSize, 2);
  put(18, &version, 8);
  put(26, &pageSize, 2);
  put(28, &extent, 2);
  put(34, &lastUsed, 4);  // TotalPageCount 0 at 30, State 0 at 38
  expected[42] = 2;       // WriteChangesState; Encrypted 0 at 43
  put(76, &cryptoSize, 2);
  put(356, &lockedSize, 2);  // the object-id counter at 376 is 0
  EXPECT_EQ(prologue, expected);

  auto manager = Open().Manager;
  const int32_t first = AddPageWith(*manager, 0xAB);
  EXPECT_EQ(first, 2);
  manager.reset();

  const std::vector<uint8_t> file = ReadWholeFile(PathOf());
  ASSERT_EQ(file.size(), 380u + 6 * 4096);
  EXPECT_EQ(ValueAt<int32_t>(file, 30), 6);  // TotalPageCount
  EXPECT_EQ(ValueAt<int32_t>(file, 34), 2);  // LastUsedPageNo
  EXPECT_EQ(ValueAt<int32_t>(file, 38), 1);  // State: one commit
  EXPECT_EQ(file[42], 2);

  struct PageCase {
    int32_t pageNo;
    uint16_t type;
    uint8_t firstData;
    uint8_t restData;
  };
  for (const PageCase& c : {PageCase{0, ptPFS, 0x07, 0}, PageCase{1, ptEAM, 0x01, 0},
                            PageCase{2, ptTableRecord, 0xAB, 0xAB}}) {
    SCOPED_TRACE(c.pageNo);
    const int64_t at = PageOffset(c.pageNo);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[at]), 4), "VEXP");
    EXPECT_EQ(ValueAt<uint16_t>(file, at + 8), c.type);
    EXPECT_EQ(ValueAt<int32_t>(file, at + 10), -1);   // NextPageNo
    EXPECT_EQ(ValueAt<uint32_t>(file, at + 14), 0u);  // no CRC without encryption
    EXPECT_EQ(file[at + 20], 0);                      // Cipherype
    EXPECT_EQ(ValueAt<int32_t>(file, at + 22), -1);   // ObjectID
    EXPECT_EQ(file[at + 40], c.firstData);
    for (int64_t i = at + 41; i < at + kPageSize; ++i) ASSERT_EQ(file[i], c.restData) << i;
  }
  for (int64_t i = PageOffset(3); i < PageOffset(6); ++i) ASSERT_EQ(file[i], 0) << i;
}

// ---------------------------------------------------------------------------
// Password and page encryption

TEST_F(DiskPageManagerTest, EveryCipherPairChecksThePasswordAndEncryptsPagesAsAFreshCipher) {
  for (int algorithm = 0; algorithm < kCryptoAlgorithmCount; ++algorithm) {
    SCOPED_TRACE(algorithm);
    const auto pair = static_cast<TVEXCryptoAlgorithm>(algorithm);
    const std::string name = "enc" + std::to_string(algorithm) + ".vex";
    auto manager = Create(name, {"Secret", pair});
    AddPageWith(*manager, 0x5A);
    AddPageWith(*manager, 0xC3);
    manager.reset();

    const std::vector<uint8_t> file = ReadWholeFile(PathOf(name));
    EXPECT_EQ(file[43], 0xFF);
    EXPECT_EQ(file[78], algorithm);
    // The control block decrypts to bytes whose CRC is stored beside it.
    std::vector<uint8_t> block(file.begin() + 80, file.begin() + 336);
    ASSERT_TRUE(DecryptPageBuffer(pair, block.data(), 256, "Secret"));
    EXPECT_EQ(UpdateCrc32(0, block.data(), 256), ValueAt<uint32_t>(file, 336));
    // Each page is what a cipher built for it alone makes of the plain data.
    for (const auto& [pageNo, fill] : {std::pair{2, 0x5A}, std::pair{3, 0xC3}}) {
      std::vector<uint8_t> plain(kPageSize - 40, static_cast<uint8_t>(fill));
      const uint32_t crc = UpdateCrc32(0, plain.data(), static_cast<int32_t>(plain.size()));
      ASSERT_TRUE(
          EncryptPageBuffer(pair, plain.data(), static_cast<int32_t>(plain.size()), "Secret"));
      const int64_t at = PageOffset(pageNo);
      EXPECT_EQ(file[at + 20], algorithm);
      EXPECT_EQ(ValueAt<uint32_t>(file, at + 14), crc);
      EXPECT_TRUE(std::equal(plain.begin(), plain.end(), file.begin() + at + 40));
    }
    // Map pages are never encrypted.
    EXPECT_EQ(file[PageOffset(0) + 40], 0x0F);

    // The file chooses the pair: another one from the caller still opens.
    const auto other = static_cast<TVEXCryptoAlgorithm>((algorithm + 1) % kCryptoAlgorithmCount);
    OpenResult right = Open(name, {"Secret", other});
    EXPECT_EQ(right.Manager->Password()->CryptoAlgorithm, pair);
    EXPECT_EQ(FirstDataByte(*right.Manager, 2), 0x5A);
    EXPECT_EQ(FirstDataByte(*right.Manager, 3), 0xC3);
    right.Manager.reset();

    TVEXDiskPageManager wrong;
    bool readOnly = false, repair = false, multiUser = false;
    EXPECT_EQ(
        CodeOf([&] {
          wrong.OpenDatabase(PathOf(name), {"secret", pair}, readOnly, repair, false, multiUser);
        }),
        30445);
    EXPECT_FALSE(wrong.IsOpened());
  }
}

TEST_F(DiskPageManagerTest, AFlippedDataByteOfAnEncryptedPageFailsItsCRC) {
  auto manager = Create("db.vex", {"pw", craRijndael_128});
  const int32_t pageNo = AddPageWith(*manager, 0x11);
  manager.reset();
  uint8_t byte = ReadWholeFile(PathOf())[PageOffset(pageNo) + 1000] ^ 0x01;
  PatchFile(PathOf(), PageOffset(pageNo) + 1000, &byte, 1);

  OpenResult opened = Open("db.vex", {"pw", craRijndael_128});
  std::string message;
  EXPECT_EQ(CodeOf([&] { FirstDataByte(*opened.Manager, pageNo); }, &message), 30446);
  EXPECT_NE(message.find("PageNo: 2"), std::string::npos) << message;
  // A repair reads what is there.
  opened.Manager->SetIgnoreCRCErrors(true);
  EXPECT_EQ(FirstDataByte(*opened.Manager, pageNo), 0x11);
}

// The committed pages against a map of page number to fill byte: change sets
// of random adds, rewrites and removals, committed or rolled back, with the
// free-space maps walked and every page read back after each one, and the
// database reopened now and then so that the pages come from the file.
TEST_F(DiskPageManagerTest, RandomChangeSetsKeepTheFileInStepWithAModel) {
  const TVEXPassword password{"model", craDES_Triple};
  for (uint32_t seed : {1u, 2u}) {
    SCOPED_TRACE(seed);
    auto manager = Create("db.vex", password, 512, 2);
    const int32_t dataSize = manager->PageDataSize();
    std::map<int32_t, uint8_t> committed;
    std::mt19937 random(seed);
    const auto pick = [&random](size_t n) {
      return std::uniform_int_distribution<size_t>(0, n - 1)(random);
    };
    for (int round = 0; round < 150; ++round) {
      std::map<int32_t, uint8_t> next = committed;
      for (size_t change = 0, count = 1 + pick(6); change < count; ++change) {
        const auto fill = static_cast<uint8_t>(pick(256));
        const size_t kind = next.empty() ? 0 : pick(3);
        if (kind == 0) {
          TVEXPage* page = manager->AddPage(0, ptTableRecord);
          std::memset(page->PageData(), fill, static_cast<size_t>(dataSize));
          next[page->PageNo()] = fill;
          manager->PutPage(page);
          continue;
        }
        auto it = next.begin();
        std::advance(it, static_cast<std::ptrdiff_t>(pick(next.size())));
        if (kind == 1) {
          TVEXPage* page = manager->GetPage(0, it->first, ptTableRecord, true);
          std::memset(page->PageData(), fill, static_cast<size_t>(dataSize));
          page->SetIsDirty(true);
          manager->PutPage(page);
          it->second = fill;
        } else {
          manager->RemovePage(0, it->first);
          next.erase(it);
        }
      }
      if (pick(4) == 0) {
        manager->CancelChanges(0);
      } else {
        manager->ApplyChanges(0);
        committed = next;
      }
      manager->CheckInvariants();
      if (round % 30 == 29) {
        manager.reset();
        manager = Open("db.vex", password).Manager;
      }
      std::set<int32_t> inUse;
      for (const auto& [pageNo, fill] : committed) inUse.insert(pageNo);
      CheckFreeSpaceMaps(*manager, inUse);
      for (const auto& [pageNo, fill] : committed) {
        TVEXPage* page = manager->GetPage(0, pageNo, ptTableRecord, true);
        const uint8_t first = page->PageData()[0], last = page->PageData()[dataSize - 1];
        manager->PutPage(page);
        ASSERT_EQ(first, fill) << "page " << pageNo;
        ASSERT_EQ(last, fill) << "page " << pageNo;
      }
      if (HasFatalFailure()) return;
    }
  }
}

// ---------------------------------------------------------------------------
// Commit and the crash marker

// A database with two committed pages; then a change set that rewrites page 2,
// adds a page and removes page 3, committed with the k-th write from the
// commit's start failing and every write after it (a process that stops
// there). k = 0: no fault.
struct StoppedCommit {
  bool Raised = false;
  uint64_t Writes = 0;
};

class CrashMarkerTest : public DiskDatabaseTest {
 protected:
  StoppedCommit CommitStoppedAt(uint64_t k) {
    auto manager = Create();
    AddPageWith(*manager, 0x01);  // page 2
    AddPageWith(*manager, 0x02);  // page 3
    TVEXPage* page = manager->GetPage(0, 2, ptTableRecord, true);
    std::memset(page->PageData(), 0x77, static_cast<size_t>(manager->PageDataSize()));
    page->SetIsDirty(true);
    manager->PutPage(page);
    manager->PutPage(manager->AddPage(0, ptTableRecord));
    manager->RemovePage(0, 3);

    StoppedCommit result;
    const uint64_t before = os::faults::WritesCounted();
    if (k > 0) {
      testsupport::ArmedWriteFault fault(k, os::faults::WriteFault::FailFromThen);
      result.Raised = CodeOf([&] { manager->ApplyChanges(0, true); }) != 0;
    } else {
      manager->ApplyChanges(0, true);
    }
    result.Writes = os::faults::WritesCounted() - before;
    return result;
  }
};

TEST_F(CrashMarkerTest, ACommitStoppedAtAnyWriteAfterTheMarkerNeedsRepair) {
  const uint64_t writes = CommitStoppedAt(0).Writes;
  // The marker, the removed page's State, the maps, two pages, the header.
  ASSERT_GE(writes, 5u);
  for (uint64_t k = 1; k <= writes + 1; ++k) {
    SCOPED_TRACE(k);
    const StoppedCommit stopped = CommitStoppedAt(k);
    EXPECT_EQ(stopped.Raised, k <= writes);
    OpenResult reopened = Open();
    // Stopped at the marker itself, nothing of the change set reached the
    // file: it is clean and still holds the old page.
    EXPECT_EQ(reopened.RepairNeeded, k >= 2 && k <= writes);
    if (k == 1) {
      EXPECT_EQ(FirstDataByte(*reopened.Manager, 2), 0x01);
    }
    if (k > writes) {
      EXPECT_EQ(FirstDataByte(*reopened.Manager, 2), 0x77);
    }
  }
}

TEST_F(CrashMarkerTest, AnotherConnectionsCommitKeepsTheMarker) {
  ASSERT_TRUE(CommitStoppedAt(3).Raised);
  OpenResult second = Open();
  ASSERT_TRUE(second.RepairNeeded);
  RewritePage(*second.Manager, 2, 0x42);
  EXPECT_EQ(second.Manager->DBHeader()->WriteChangesState, 1);
  second.Manager.reset();
  EXPECT_TRUE(Open().RepairNeeded);
}

TEST_F(DiskPageManagerTest, ACommitWithoutChangesLeavesTheFileAlone) {
  auto manager = Create();
  AddPageWith(*manager, 0x01);
  manager->PutPage(manager->GetPage(5, 2, ptTableRecord, true));  // a change set, empty
  const uint64_t before = os::faults::WritesCounted();
  manager->ApplyChanges(5);
  manager->ApplyChanges(6);  // no change set at all
  EXPECT_EQ(os::faults::WritesCounted(), before);
}

// ---------------------------------------------------------------------------
// Opening damaged and old files

// A damaged prologue is refused with the format error (the file is closed
// again); an unfinished commit or the old format opens and asks for repair.
TEST_F(DiskPageManagerTest, DamagedProloguesAreRefusedAndUnfinishedOnesAskForRepair) {
  struct Case {
    const char* what;
    int64_t offset;
    std::vector<uint8_t> bytes;
    int32_t code;
    bool repair;
  };
  const auto le16 = [](int v) {
    return std::vector<uint8_t>{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  };
  const auto le32 = [](int32_t v) {
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
  };
  std::vector<uint8_t> oldVersion(8);
  const double v25 = 2.5;
  std::memcpy(oldVersion.data(), &v25, 8);
  const std::vector<Case> cases = {
      {"signature", 3, {'X'}, 10470, false},
      {"header size", 16, le16(75), 20237, false},
      {"page size 0", 26, le16(0), 20237, false},
      {"page size below the minimum", 26, le16(100), 20237, false},
      {"no pages per extent", 28, le16(0), 20237, false},
      {"negative page count", 30, le32(-5), 20237, false},
      {"last used page past the end", 34, le32(6), 20237, false},
      {"last used page below -1", 34, le32(-7), 20237, false},
      {"crypto header size", 76, le16(100), 20237, false},
      {"unknown cipher of an encrypted file", 78, {9}, 20237, false},
      {"locked byte size", 356, le16(7), 20237, false},
      {"clean", 42, {2}, 0, false},
      {"marker 1", 42, {1}, 0, true},
      {"marker 0", 42, {0}, 0, true},
      {"version 2.5", 18, oldVersion, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto manager = Create("db.vex", {"pw", craSquare});
    AddPageWith(*manager, 0x01);  // TotalPageCount 6
    manager.reset();
    PatchFile(PathOf(), c.offset, c.bytes.data(), c.bytes.size());
    TVEXDiskPageManager opened;
    bool readOnly = false, repair = false, multiUser = false;
    EXPECT_EQ(
        CodeOf([&] {
          opened.OpenDatabase(PathOf(), {"pw", craSquare}, readOnly, repair, false, multiUser);
        }),
        c.code);
    EXPECT_EQ(opened.IsOpened(), c.code == 0);
    if (c.code == 0) {
      EXPECT_EQ(repair, c.repair);
    }
  }
}

TEST_F(DiskPageManagerTest, ADatabaseBehindAStubTakesItsHeaderLockAtItsOwnOffset) {
  auto manager = Create();
  AddPageWith(*manager, 0x3C);
  manager.reset();
  std::vector<uint8_t> image(5000, 0x90);
  std::memcpy(image.data(),
              "\x7f"
              "ELF",
              4);
  const std::vector<uint8_t> database = ReadWholeFile(PathOf());
  image.insert(image.end(), database.begin(), database.end());
  WriteWholeFile(PathOf("stub.vex"), image);

  OpenResult opened = Open("stub.vex");
  EXPECT_EQ(opened.Manager->OffsetToDBHeader(), 5000);
  EXPECT_EQ(opened.Manager->OffsetToFirstPage(), 5380);
  EXPECT_EQ(FirstDataByte(*opened.Manager, 2), 0x3C);
  opened.Manager.reset();

  // Another connection committing holds byte 5360; byte 360 belongs to the stub.
  struct LockCase {
    int64_t byte;
    int32_t code;
  };
  for (const LockCase& c : {LockCase{360, 0}, LockCase{5360, 20230}}) {
    SCOPED_TRACE(c.byte);
    os::File other;
    ASSERT_TRUE(other.Open(PathOf("stub.vex"), os::Access::ReadWrite, os::Share::DenyNone));
    ASSERT_EQ(other.Lock(c.byte, 1), os::LockResult::Granted);
    EXPECT_EQ(CodeOf([&] { Open("stub.vex", {}, true); }), c.code);
  }
}

// ---------------------------------------------------------------------------
// Object ids, page regions, states, map pages

TEST_F(DiskPageManagerTest, ObjectIdsCountUpAndAReadOnlyConnectionNeverRepeatsOne) {
  auto manager = Create();
  EXPECT_EQ(manager->GetNextObjectID(1, 1), 1);
  EXPECT_EQ(manager->GetNextObjectID(1, 1), 2);
  manager.reset();
  EXPECT_EQ(ValueAt<int32_t>(ReadWholeFile(PathOf()), 376), 2);

  OpenResult readOnly = Open("db.vex", {}, false, true);
  ASSERT_TRUE(readOnly.ReadOnly);
  std::set<int32_t> seen;
  for (int i = 0; i < 500; ++i) {
    const int32_t id = readOnly.Manager->GetNextObjectID(1, 1);
    EXPECT_GT(id, 2);
    EXPECT_TRUE(seen.insert(id).second) << "handed out twice: " << id;
  }
  readOnly.Manager.reset();
  EXPECT_EQ(ValueAt<int32_t>(ReadWholeFile(PathOf()), 376), 2);
}

TEST_F(DiskPageManagerTest, PageRegionsEndAtThePageEnd) {
  auto manager = Create();
  const int32_t pageNo = AddPageWith(*manager, 0x21);
  uint8_t buffer[200] = {};
  struct Case {
    uint16_t offset, count;
    int32_t readCode, writeCode;
  };
  for (const Case& c : {Case{4000, 96, 0, 0}, Case{4000, 97, 10476, 10477}}) {
    SCOPED_TRACE(c.count);
    EXPECT_EQ(CodeOf([&] { manager->ReadPageRegion(buffer, pageNo, c.offset, c.count); }),
              c.readCode);
    EXPECT_EQ(CodeOf([&] { manager->WritePageRegion(buffer, pageNo, c.offset, c.count); }),
              c.writeCode);
  }
  EXPECT_EQ(CodeOf([&] { manager->GetPagePosition(-1); }), 10471);
}

TEST_F(DiskPageManagerTest, AClosedDatabaseRefusesHeaderPageAndObjectIdWork) {
  auto manager = Create();
  manager->CloseDatabase();
  struct Case {
    const char* what;
    std::function<void()> act;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"read header", [&] { manager->ReadDBHeader(); }, 10459},
      {"write header", [&] { manager->WriteDBHeader(true); }, 10460},
      {"add page", [&] { manager->AddPage(0, ptTableRecord); }, 10459},
      {"object id", [&] { manager->GetNextObjectID(1, 1); }, 30399},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string message;
    EXPECT_EQ(CodeOf(c.act, &message), c.code);
    EXPECT_NE(message.find("Error - database file is not opened."), std::string::npos) << message;
  }
  bool readOnly = false, repair = false, multiUser = false;
  manager->OpenDatabase(PathOf(), {}, readOnly, repair, false, multiUser);
  EXPECT_EQ(
      CodeOf([&] { manager->OpenDatabase(PathOf(), {}, readOnly, repair, false, multiUser); }),
      10462);
  EXPECT_EQ(CodeOf([&] { manager->CreateAndOpenDatabase(PathOf("other.vex"), {}, 4096, 8); }),
            10461);
}

TEST_F(DiskPageManagerTest, CreatingRefusesAFileItCouldNotOpenAgain) {
  struct Case {
    const char* what;
    TVEXPassword password;
    uint16_t pageSize, extentPages;
  };
  for (const Case& c :
       {Case{"page size below the minimum", {}, 100, 8}, Case{"no pages per extent", {}, 4096, 0},
        Case{"unknown cipher", {"pw", static_cast<TVEXCryptoAlgorithm>(9)}, 4096, 8}}) {
    SCOPED_TRACE(c.what);
    TVEXDiskPageManager manager;
    EXPECT_EQ(CodeOf([&] {
                manager.CreateAndOpenDatabase(PathOf(), c.password, c.pageSize, c.extentPages);
              }),
              20237);
    EXPECT_FALSE(manager.IsOpened());
  }
}

TEST_F(DiskPageManagerTest, PageStatesAdvanceWrapBelowTheRemovedMarkAndMarkRemovedPages) {
  auto manager = Create();
  TVEXPage* page = manager->AddPage(0, ptTableRecord);
  const int32_t pageNo = page->PageNo();
  page->PageHeader()->State = 0x7FFFFFFC;
  manager->PutPage(page);
  manager->ApplyChanges(0);
  int32_t state = -1;
  manager->ReadPageRegion(&state, pageNo, 4, 4);
  EXPECT_EQ(state, 0);
  RewritePage(*manager, pageNo, 0x01);
  manager->ReadPageRegion(&state, pageNo, 4, 4);
  EXPECT_EQ(state, 1);

  manager->RemovePage(0, pageNo);
  manager->ApplyChanges(0);
  manager->ReadPageRegion(&state, pageNo, 4, 4);
  EXPECT_EQ(state, kRemovedPageState);
}

TEST_F(DiskPageManagerTest, MapPagesCannotBeAskedForOrRemoved) {
  auto manager = Create();
  AddPageWith(*manager, 0x01);
  for (int32_t pageNo : {0, 1}) {
    SCOPED_TRACE(pageNo);
    EXPECT_EQ(CodeOf([&] { manager->GetPage(0, pageNo, kAnyPageType, true); }), 30434);
    EXPECT_EQ(CodeOf([&] { manager->RemovePage(0, pageNo); }), 30434);
  }
}

TEST_F(DiskPageManagerTest, AnotherConnectionsCommitIsSeenThroughThePageState) {
  Create().reset();
  OpenResult first = Open("db.vex", {}, true);
  OpenResult second = Open("db.vex", {}, true);
  ASSERT_TRUE(first.MultiUser);
  const int32_t pageNo = AddPageWith(*first.Manager, 0x01);
  EXPECT_EQ(FirstDataByte(*second.Manager, pageNo), 0x01);  // now cached by the second
  RewritePage(*first.Manager, pageNo, 0x02);
  EXPECT_EQ(FirstDataByte(*second.Manager, pageNo), 0x02);
  EXPECT_EQ(second.Manager->PageCount(), 6);
}

// A connection that asks for a page by the page count it read last must meet
// pages another connection has added since, and must be told (not raised at)
// when another connection's commit has cut the page off the end of the file.
TEST_F(DiskPageManagerTest, APageAskedForByAnOldPageCountFollowsAnotherConnectionsGrowthAndCut) {
  Create().reset();
  OpenResult first = Open("db.vex", {}, true);
  OpenResult second = Open("db.vex", {}, true);
  TVEXDiskPageManager& mine = *second.Manager;
  EXPECT_EQ(mine.GetPageIfInFile(0, 2, kAnyPageType, true), nullptr);  // an empty file
  EXPECT_EQ(mine.GetPageIfInFile(0, 0, kAnyPageType, true), nullptr);

  std::vector<int32_t> added;
  for (int i = 0; i < 60; ++i) {
    TVEXPage* page = first.Manager->AddPage(0, ptTableRecord);
    page->PageData()[0] = static_cast<uint8_t>(i);
    added.push_back(page->PageNo());
    first.Manager->PutPage(page);
  }
  first.Manager->ApplyChanges(0);
  const int32_t last = added.back();
  TVEXPage* grown = mine.GetPageIfInFile(0, last, ptTableRecord, true);
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(grown->PageData()[0], 59);
  mine.PutPage(grown);
  const int32_t known = mine.PageCount();

  for (size_t i = 1; i < added.size(); ++i) first.Manager->RemovePage(0, added[i]);
  first.Manager->ApplyChanges(0);
  ASSERT_LT(first.Manager->PageCount(), known - 8) << "the removals cut the file";
  // Below this connection's old count, never read by it: gone with the cut.
  EXPECT_EQ(mine.GetPageIfInFile(0, known - 2, kAnyPageType, true), nullptr);
  EXPECT_EQ(mine.GetPageIfInFile(0, known + 5, kAnyPageType, true), nullptr);
  TVEXPage* kept = mine.GetPageIfInFile(0, added.front(), ptTableRecord, true);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->PageData()[0], 0);
  mine.PutPage(kept);
}

}  // namespace
}  // namespace vex::testing
