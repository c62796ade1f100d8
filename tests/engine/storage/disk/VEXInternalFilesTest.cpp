#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "DiskDatabaseFixture.h"
#include "storage/disk/VEXDiskPageManager.h"
#include "storage/disk/VEXInternalFiles.h"

namespace vex::testing {
namespace {

using testsupport::CodeOf;

constexpr int32_t kSystem = -2;
constexpr int64_t kPage0 = 380;
constexpr int64_t kPageSize = 4096;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 7) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + seed) % 251);
  return bytes;
}

class InternalFileTest : public DiskDatabaseTest {
 protected:
  // The chain of a file as the page headers in the file link it.
  std::vector<int32_t> ChainOf(int32_t startPageNo) {
    std::vector<int32_t> chain;
    for (int32_t pageNo = startPageNo; pageNo != -1 && chain.size() < 100;) {
      chain.push_back(pageNo);
      FManager->ReadPageRegion(&pageNo, pageNo, 10, 4);
    }
    return chain;
  }

  std::vector<uint8_t> ReadContent(TVEXInternalDBTransactedAccessFile& file, int32_t count,
                                   int32_t session = 0) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    file.ReadFile(session, bytes.data(), count, true);
    return bytes;
  }

  std::unique_ptr<TVEXDiskPageManager> FManager;
};

// ---------------------------------------------------------------------------
// Transacted files

TEST_F(InternalFileTest, ATransactedFileSpansPagesAndKeepsItsChainWhenItShrinks) {
  FManager = Create();
  TVEXInternalDBTransactedAccessFile file(FManager.get(), ptTableMetaData);
  file.CreateFile(0);
  FManager->ApplyChanges(0);
  const int32_t start = file.StartPageNo();
  uint8_t header[10];
  FManager->ReadPageRegion(header, start, 40, 10);
  const uint8_t emptyHeader[10] = {10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(header, emptyHeader, 10), 0);
  EXPECT_EQ(file.GetSize(0), 0);

  struct Step {
    int32_t size;
    size_t chainPages;
  };
  std::vector<int32_t> chain;
  for (const Step& s : {Step{5000, 2}, Step{100, 2}, Step{9000, 3}}) {
    SCOPED_TRACE(s.size);
    const std::vector<uint8_t> content = Pattern(static_cast<size_t>(s.size), s.size);
    file.WriteFile(0, content.data(), s.size, acaNone, 0);
    FManager->ApplyChanges(0);
    const std::vector<int32_t> now = ChainOf(start);
    EXPECT_EQ(now.size(), s.chainPages);
    // Pages the shrink left in the chain serve again.
    EXPECT_TRUE(std::equal(chain.begin(), chain.end(), now.begin()));
    chain = now;
    int32_t stored = 0, contentSize = 0;
    TVEXCompressionAlgorithm algorithm;
    bool changed;
    file.GetFileSize(0, stored, contentSize, algorithm, changed, true);
    EXPECT_EQ(stored, s.size);
    EXPECT_EQ(contentSize, s.size);
    EXPECT_EQ(ReadContent(file, s.size), content);
  }
  EXPECT_EQ(CodeOf([&] { ReadContent(file, 9001); }), 30387);
  const std::vector<uint8_t> last = Pattern(9000, 9000);
  EXPECT_EQ(ReadContent(file, 10), std::vector<uint8_t>(last.begin(), last.begin() + 10));
  file.OpenFile(-1);
  EXPECT_EQ(file.StartPageNo(), start);

  // Another connection reads it from the file.
  FManager.reset();
  FManager = Open().Manager;
  TVEXInternalDBTransactedAccessFile again(FManager.get(), ptTableMetaData);
  again.OpenFile(start);
  EXPECT_EQ(ReadContent(again, 9000), Pattern(9000, 9000));
}

TEST_F(InternalFileTest, CompressedContentOfAnEncryptedDatabaseReadsBackWhole) {
  FManager = Create("db.vex", {"pw", craTwofish_256});
  std::vector<uint8_t> content(20000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>("table "[i % 6]);
  struct Case {
    TVEXCompressionAlgorithm algorithm;
    uint8_t mode;
  };
  for (const Case& c : {Case{acaZLIB, 6}, Case{acaBZIP, 5}, Case{acaPPM, 6}}) {
    SCOPED_TRACE(static_cast<int>(c.algorithm));
    TVEXInternalDBTransactedAccessFile file(FManager.get(), ptTableMostUpdated);
    file.CreateFile(0);
    file.WriteFile(0, content.data(), static_cast<int32_t>(content.size()), c.algorithm, c.mode);
    FManager->ApplyChanges(0);
    int32_t stored = 0, contentSize = 0;
    TVEXCompressionAlgorithm algorithm;
    bool changed;
    file.GetFileSize(0, stored, contentSize, algorithm, changed, true);
    EXPECT_LT(stored, 4000);
    EXPECT_EQ(contentSize, 20000);
    EXPECT_EQ(algorithm, c.algorithm);
    EXPECT_EQ(ReadContent(file, 20000), content);
    EXPECT_EQ(ReadContent(file, 50), std::vector<uint8_t>(content.begin(), content.begin() + 50));
    EXPECT_EQ(CodeOf([&] { ReadContent(file, 20001); }), 30387);

    // Stored bytes that do not decompress are reported, not handed out.
    const uint8_t junk[16] = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    TVEXPage* page = FManager->GetPage(0, file.StartPageNo(), ptTableMostUpdated, true);
    std::memcpy(page->PageData() + 10 + stored / 2, junk, sizeof(junk));
    page->SetIsDirty(true);
    FManager->PutPage(page);
    FManager->ApplyChanges(0);
    EXPECT_EQ(CodeOf([&] { ReadContent(file, 20000); }), 20189);
  }
}

TEST_F(InternalFileTest, EmptyContentIsStoredPlainButCannotBeCompressed) {
  FManager = Create();
  TVEXInternalDBTransactedAccessFile file(FManager.get(), ptTableList);
  file.CreateFile(0);
  EXPECT_EQ(CodeOf([&] { file.WriteFile(0, "", 0, acaZLIB, 6); }), 20187);
  file.WriteFile(0, "", 0, acaNone, 0);
  EXPECT_EQ(file.GetSize(0), 0);
}

TEST_F(InternalFileTest, ARollbackDropsTheUncommittedContent) {
  FManager = Create();
  TVEXInternalDBTransactedAccessFile file(FManager.get(), ptTableList);
  file.CreateFile(0);
  file.WriteFile(0, "abc", 3, acaNone, 0);
  FManager->ApplyChanges(0);
  file.WriteFile(0, "defgh", 5, acaNone, 0);
  EXPECT_EQ(file.GetSize(0), 5);
  FManager->CancelChanges(0);
  EXPECT_EQ(file.GetSize(0), 3);
  const std::vector<uint8_t> expected = {'a', 'b', 'c'};
  EXPECT_EQ(ReadContent(file, 3), expected);
}

TEST_F(InternalFileTest, DamagedChainsRaiseAndNeverLoop) {
  FManager = Create();
  TVEXInternalDBTransactedAccessFile file(FManager.get(), ptTableMetaData);
  file.CreateFile(0);
  const std::vector<uint8_t> content = Pattern(9000);
  file.WriteFile(0, content.data(), 9000, acaNone, 0);
  FManager->ApplyChanges(0);
  const std::vector<int32_t> chain = ChainOf(file.StartPageNo());
  ASSERT_EQ(chain.size(), 3u);
  FManager.reset();

  struct Case {
    const char* what;
    int32_t pageIndex;  // whose NextPageNo is damaged
    int32_t next;
    std::function<void(TVEXInternalDBTransactedAccessFile&)> act;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"cut short, read", 1, -1, [&](auto& f) { ReadContent(f, 9000); }, 30388},
      {"cut short, grown", 0, -1,
       [&](auto& f) {
         const std::vector<uint8_t> more = Pattern(13000);
         f.WriteFile(0, more.data(), 13000, acaNone, 0);
       },
       20300},
      {"loops back, deleted", 2, chain[0], [&](auto& f) { f.DeleteFile(0); }, 20300},
  };
  const std::string clean = PathOf("clean.vex");
  WriteWholeFile(clean, ReadWholeFile(PathOf()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteWholeFile(PathOf(), ReadWholeFile(clean));
    const int64_t at = kPage0 + chain[static_cast<size_t>(c.pageIndex)] * kPageSize + 10;
    PatchFile(PathOf(), at, &c.next, 4);
    FManager = Open().Manager;
    TVEXInternalDBTransactedAccessFile damaged(FManager.get(), ptTableMetaData);
    damaged.OpenFile(chain[0]);
    EXPECT_EQ(CodeOf([&] { c.act(damaged); }), c.code);
    FManager->CancelChanges(0);
    FManager.reset();
  }
}

TEST_F(InternalFileTest, InitFileHeaderResetsADamagedFirstPage) {
  FManager = Create("db.vex", {"pw", craRijndael_256});
  TVEXInternalDBTransactedAccessFile file(FManager.get(), ptTableMostUpdated);
  EXPECT_EQ(CodeOf([&] { file.InitFileHeader(0); }), 20301);
  file.CreateFile(0);
  file.WriteFile(0, "state", 5, acaNone, 0);
  FManager->ApplyChanges(0);
  const int32_t start = file.StartPageNo();
  FManager.reset();
  const uint8_t flipped = 0x55;
  PatchFile(PathOf(), kPage0 + start * kPageSize + 40 + 2, &flipped, 1);

  FManager = Open("db.vex", {"pw", craRijndael_256}).Manager;
  TVEXInternalDBTransactedAccessFile damaged(FManager.get(), ptTableMostUpdated);
  damaged.OpenFile(start);
  EXPECT_EQ(CodeOf([&] { damaged.GetSize(0); }), 30446);
  damaged.InitFileHeader(0);
  EXPECT_FALSE(FManager->IgnoreCRCErrors());
  EXPECT_EQ(damaged.GetSize(0), 0);
}

TEST_F(InternalFileTest, OperationsOnAClosedFileNameThemselves) {
  FManager = Create();
  TVEXInternalDBTransactedAccessFile transacted(FManager.get(), ptTableList);
  TVEXInternalDBDirectAccessFile direct(FManager.get(), ptTableLocks);
  uint8_t byte = 0;
  struct Case {
    const char* operation;
    std::function<void()> act;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"SetSize", [&] { transacted.SetFileSize(0, 1, 1, acaNone); }, 30389},
      {"GetSize", [&] { transacted.GetSize(0); }, 30389},
      {"ReadFile", [&] { transacted.ReadFile(0, &byte, 1, true); }, 30389},
      {"WriteFile", [&] { transacted.WriteFile(0, &byte, 1, acaNone, 0); }, 30389},
      {"LockFile", [&] { transacted.LockFile(); }, 30389},
      {"UnlockFile", [&] { transacted.UnlockFile(); }, 30389},
      {"GetSize", [&] { direct.GetSize(); }, 20156},
      {"DirectReadBuffer", [&] { direct.ReadBuffer(&byte, 1, 0); }, 20156},
      {"DirectWriteBuffer", [&] { direct.WriteBuffer(&byte, 1, 0); }, 20156},
      {"LockFile", [&] { direct.LockFile(); }, 20156},
      {"UnlockFile", [&] { direct.UnlockFile(); }, 20156},
      {"LockByte", [&] { direct.LockByte(0); }, 20156},
      {"UnlockByte", [&] { direct.UnlockByte(0); }, 20156},
      {"IsByteLocked", [&] { direct.IsByteLocked(0); }, 20156},
      {"IsRegionLocked", [&] { direct.IsRegionLocked(0, 1); }, 20156},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    std::string message;
    EXPECT_EQ(CodeOf(c.act, &message), c.code);
    EXPECT_NE(message.find(std::string("(") + c.operation + ")"), std::string::npos) << message;
  }
  transacted.CreateFile(0);
  EXPECT_EQ(CodeOf([&] { transacted.CreateFile(0); }), 30383);
}

// ---------------------------------------------------------------------------
// Direct files

TEST_F(InternalFileTest, AOnePageDirectFileIsUsableToTheEndOfItsPage) {
  FManager = Create();
  TVEXInternalDBDirectAccessFile file(FManager.get(), ptActiveSessionList);
  file.CreateFile(500);
  EXPECT_EQ(CodeOf([&] { file.CreateFile(500); }), 20157);
  FManager->ApplyChanges(kSystem);
  const int32_t start = file.StartPageNo();

  TVEXInternalDBDirectAccessFile opened(FManager.get(), ptActiveSessionList);
  opened.OpenFile(start);
  EXPECT_EQ(opened.FilePages().size(), 1u);
  EXPECT_EQ(opened.FileSize(), 4046);
  EXPECT_EQ(opened.GetSize(), 500);
  const std::vector<uint8_t> content = Pattern(500);
  struct WriteCase {
    int32_t position, count, code;
  };
  for (const WriteCase& c : {WriteCase{0, 500, 0}, WriteCase{499, 1, 0}, WriteCase{0, 501, 20158},
                             WriteCase{500, 1, 20158}}) {
    SCOPED_TRACE(c.position + c.count);
    EXPECT_EQ(CodeOf([&] { opened.WriteBuffer(content.data() + c.position, c.count, c.position); }),
              c.code);
  }
  std::vector<uint8_t> back(500);
  opened.ReadBuffer(back.data(), 500, 0);
  EXPECT_EQ(back, content);
  // Bytes past the stored size still serve as lock targets.
  EXPECT_TRUE(opened.LockByte(4045));
  EXPECT_TRUE(opened.IsByteLocked(4045));
  EXPECT_TRUE(opened.UnlockByte(4045));
  EXPECT_EQ(CodeOf([&] { opened.LockByte(4047); }), 20159);
}

TEST_F(InternalFileTest, ADirectFileAddressesBytesAcrossItsPagesAndLocksThem) {
  FManager = Create("db.vex", {"pw", craBlowfish});
  int32_t start;
  {
    TVEXInternalDBDirectAccessFile file(FManager.get(), ptTableLocks);
    file.CreateFile(6000);
    FManager->ApplyChanges(kSystem);
    start = file.StartPageNo();
  }
  FManager.reset();
  OpenResult first = Open("db.vex", {"pw", craBlowfish}, true);
  OpenResult second = Open("db.vex", {"pw", craBlowfish}, true);
  TVEXInternalDBDirectAccessFile mine(first.Manager.get(), ptTableLocks);
  TVEXInternalDBDirectAccessFile theirs(second.Manager.get(), ptTableLocks);
  mine.OpenFile(start);
  theirs.OpenFile(start);
  ASSERT_EQ(mine.FilePages().size(), 2u);
  EXPECT_EQ(mine.FileSize(), 6000);
  const int32_t page0 = mine.FilePages()[0], page1 = mine.FilePages()[1];

  // Content byte 4045 is the last byte of the first page, 4046 the first data
  // byte of the second.
  struct ByteCase {
    int32_t byteNo, pageNo;
    uint16_t offset;
  };
  for (const ByteCase& c : {ByteCase{4045, page0, 4095}, ByteCase{4046, page1, 40}}) {
    SCOPED_TRACE(c.byteNo);
    ASSERT_TRUE(mine.LockByte(c.byteNo));
    EXPECT_TRUE(second.Manager->IsPageByteLocked(c.pageNo, c.offset));
    EXPECT_TRUE(mine.UnlockByte(c.byteNo));
  }

  // A region across the page boundary sees another connection's lock on its
  // last byte, and only then.
  EXPECT_FALSE(mine.IsRegionLocked(4000, 100));
  ASSERT_TRUE(theirs.LockByte(4099));
  EXPECT_TRUE(mine.IsRegionLocked(4000, 100));
  EXPECT_FALSE(mine.IsRegionLocked(4000, 99));
  EXPECT_TRUE(theirs.UnlockByte(4099));

  // Writes go straight to the file, plain in an encrypted database.
  const std::vector<uint8_t> content = Pattern(6000, 3);
  mine.WriteBuffer(content.data(), 6000, 0);
  std::vector<uint8_t> back(6000);
  theirs.ReadBuffer(back.data(), 6000, 0);
  EXPECT_EQ(back, content);
  const std::vector<uint8_t> file = ReadWholeFile(PathOf());
  EXPECT_EQ(file[kPage0 + page0 * kPageSize + 4095], content[4045]);
  EXPECT_EQ(file[kPage0 + page1 * kPageSize + 40], content[4046]);
  EXPECT_EQ(CodeOf([&] { mine.ReadBuffer(back.data(), 1, 6001); }), 20159);

  // A page of another type is refused.
  TVEXInternalDBDirectAccessFile wrongType(first.Manager.get(), ptActiveSessionList);
  EXPECT_EQ(CodeOf([&] { wrongType.OpenFile(start); }), 20155);

  mine.DeleteFile();
  first.Manager->ApplyChanges(kSystem);
  EXPECT_EQ(mine.StartPageNo(), -1);
  int32_t state = 0;
  first.Manager->ReadPageRegion(&state, page1, 4, 4);
  EXPECT_EQ(state, kRemovedPageState);
}

}  // namespace
}  // namespace vex::testing
