// Disk BLOB storage: the small-item page layout and its ids, the split between
// small and large values and the large layout at the page boundaries, the
// cache handles in record buffers, and a seeded model test of stored values
// against a map.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "../VEXManagerFakes.h"
#include "DiskDatabaseFixture.h"
#include "foundation/VEXTypes.h"
#include "storage/VEXFieldManager.h"
#include "storage/disk/VEXDiskBlobManager.h"
#include "storage/disk/VEXDiskRecordManager.h"

namespace vex {
namespace {

using testing::AddField;
using testing::DiskDatabaseTest;
using testing::NullRecord;
using testing::ValueAt;
using testsupport::CodeOf;

std::vector<uint8_t> Bytes(int64_t n, uint32_t seed) {
  std::vector<uint8_t> out(static_cast<size_t>(n));
  std::mt19937 rng(seed);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

class DiskBlobManagerTest : public DiskDatabaseTest {
 protected:
  void SetUp() override {
    FManager = Create();
    AddField(FFields.FieldDefs(), "B", aftBlob);
    FFields.RecalcFieldOffsets();
    FRecords = std::make_unique<TVEXDiskRecordManager>(FManager.get(), &FFields, 5);
    FRecords->Init(FFields.FieldDefs().GetMemoryRecordBufferSize(),
                   FFields.FieldDefs().GetDiskRecordBufferSize(), 1);
    FRecords->CreateRecordPageIndex();
    FBlobs = std::make_unique<TVEXDiskBlobManager>(FManager.get(), &FFields, FRecords.get());
    FBlobs->CreateBlobPageIndex();
    FManager->ApplyChanges(-2);
  }

  // A record whose BLOB field is stored with the value; gives the record.
  std::vector<uint8_t> Store(const std::vector<uint8_t>& value, int64_t uncompressed = -1) {
    std::vector<uint8_t> record = NullRecord(FFields.FieldDefs());
    SetValue(record, value, uncompressed);
    FBlobs->WriteBlob(0, record.data(), 0);
    return record;
  }
  void SetValue(std::vector<uint8_t>& record, const std::vector<uint8_t>& value,
                int64_t uncompressed = -1) {
    TVEXBLOBDescriptor d{};
    d.NumBlocks = 1;
    d.UncompressedSize = uncompressed >= 0 ? uncompressed : static_cast<int64_t>(value.size());
    FBlobs->SetDirectBlobInfoFromRecordBuffer(record.data(), 0, d, value.data(),
                                              static_cast<int64_t>(value.size()));
  }
  std::vector<uint8_t> Load(std::vector<uint8_t>& record) {
    TVEXBLOBDescriptor d{};
    const uint8_t* data = nullptr;
    int64_t size = 0;
    FBlobs->GetDirectBlobInfoFromRecordBuffer(0, record.data(), 0, d, data, size);
    std::vector<uint8_t> out(data, data + size);
    FBlobs->ClearBlobInRecordBuffer(record.data(), 0, false);
    return out;
  }
  TVEXPageItemID IdOf(const std::vector<uint8_t>& record) {
    return TVEXDiskBlobManager::BlobIDOf(record.data(),
                                         FFields.FieldDefs().GetDef(0)->MemoryOffset);
  }
  std::vector<uint8_t> PageImage(int32_t pageNo) {
    FManager->ApplyChanges(0);
    std::vector<uint8_t> page(FManager->PageSize());
    FManager->ReadPageRegion(page.data(), pageNo, 0, static_cast<uint16_t>(page.size()));
    return page;
  }

  std::unique_ptr<TVEXDiskPageManager> FManager;
  TVEXBaseFieldManager FFields{nullptr};
  std::unique_ptr<TVEXDiskRecordManager> FRecords;
  std::unique_ptr<TVEXDiskBlobManager> FBlobs;
};

TEST_F(DiskBlobManagerTest, ValueOf4031BytesIsSmallAndFillsAFreshPage) {
  const std::vector<uint8_t> value = Bytes(4031, 1);
  std::vector<uint8_t> record = Store(value, 9999);
  const TVEXPageItemID id = IdOf(record);
  EXPECT_EQ(id.PageItemNo, 0);
  const std::vector<uint8_t> page = PageImage(id.PageNo);
  const size_t d = 40;
  EXPECT_EQ(ValueAt<uint16_t>(page, 8), ptTableBlob);
  EXPECT_EQ(ValueAt<uint16_t>(page, d + 0), 1);     // BlobCount
  EXPECT_EQ(ValueAt<uint16_t>(page, d + 2), 0);     // item id
  EXPECT_EQ(ValueAt<int32_t>(page, d + 4), 1);      // NumBlocks
  EXPECT_EQ(ValueAt<int64_t>(page, d + 8), 4031);   // S
  EXPECT_EQ(ValueAt<int64_t>(page, d + 16), 9999);  // UncompressedSize
  EXPECT_EQ(std::vector<uint8_t>(page.begin() + d + 24, page.begin() + d + 24 + 4031), value);
  EXPECT_EQ(FBlobs->BlobPageIndex().GetBlobPageAllocatedSpace(0, id.PageNo), 4053);
  EXPECT_EQ(Load(record), value);
  EXPECT_EQ(FBlobs->CacheCount(), 0u);
}

struct LargeCase {
  int64_t Size;
  int32_t DataPages;
  // Where the page list starts: in the last data page (at this offset) or,
  // with -1, at offset 0 of a page of its own.
  int32_t ListOffset;
};

TEST_F(DiskBlobManagerTest, LargeValuesListTheirPagesBehindTheData) {
  const LargeCase cases[] = {{4032, 2, 8}, {8080, 2, -1}, {8078, 2, 4054}, {100000, 25, -2}};
  for (const LargeCase& c : cases) {
    SCOPED_TRACE(c.Size);
    const std::vector<uint8_t> value = Bytes(c.Size, static_cast<uint32_t>(c.Size));
    std::vector<uint8_t> record = Store(value);
    const TVEXPageItemID id = IdOf(record);
    EXPECT_EQ(id.PageItemNo, 0xFFFF);
    const std::vector<uint8_t> first = PageImage(id.PageNo);
    EXPECT_EQ(ValueAt<int64_t>(first, 40 + 6), c.Size);
    const int32_t listPage = ValueAt<int32_t>(first, 40 + 22);
    const uint16_t listOffset = ValueAt<uint16_t>(first, 40 + 26);
    EXPECT_EQ(ValueAt<int32_t>(first, 40 + 28), c.DataPages);
    EXPECT_EQ(std::vector<uint8_t>(first.begin() + 72, first.begin() + 72 + 100),
              std::vector<uint8_t>(value.begin(), value.begin() + 100));
    std::vector<uint8_t> list = PageImage(listPage);
    if (c.ListOffset == -1) {
      EXPECT_EQ(listOffset, 0);
      EXPECT_EQ(ValueAt<int32_t>(list, 40), id.PageNo);
    } else if (c.ListOffset >= 0) {
      EXPECT_EQ(listOffset, c.ListOffset);
      if (c.ListOffset + 4 > 4056) {
        // No entry fits: they all go to the next page of the chain.
        const int32_t next = ValueAt<int32_t>(list, 10);
        ASSERT_GT(next, 0);
        list = PageImage(next);
        EXPECT_EQ(ValueAt<int32_t>(list, 40), id.PageNo);
      } else {
        EXPECT_EQ(ValueAt<int32_t>(list, 40 + c.ListOffset), id.PageNo);
      }
    }
    EXPECT_EQ(Load(record), value);
    // Deleting the value frees every page it took.
    std::set<int32_t> used;
    FBlobs->DeleteBlob(0, record.data(), 0);
    FManager->ApplyChanges(0);
    for (int32_t p = 1; p < FManager->PageCount(); ++p) {
      if (FManager->IsSystemPage(p)) continue;
      if (FManager->FreeSpaceManager()->GetPageUsageFromPFS(p)) used.insert(p);
    }
    // Only the two index roots stay.
    EXPECT_EQ(used.size(), 2u);
  }
}

TEST_F(DiskBlobManagerTest, ItemIdsAfterDeleteAndAddNeverTake255) {
  std::vector<std::vector<uint8_t>> records;
  for (int i = 0; i < 3; ++i) records.push_back(Store(Bytes(10, i)));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(IdOf(records[i]).PageItemNo, i);
  FBlobs->DeleteBlob(0, records[0].data(), 0);
  const std::vector<uint8_t> added = Store(Bytes(10, 9));
  EXPECT_EQ(IdOf(added).PageItemNo, 3);  // the candidate 2 (the count) is taken
  EXPECT_EQ(IdOf(added).PageNo, IdOf(records[1]).PageNo);
  EXPECT_EQ(Load(records[1]), Bytes(10, 1));
  EXPECT_EQ(Load(records[2]), Bytes(10, 2));
}

// A page as an older writer may have left it: 128 empty items with the ids
// 128 .. 254 and 256, then one 3-byte item with the id 255.
TEST_F(DiskBlobManagerTest, NewItemIdSkips255AndOldItem255StaysReadable) {
  TVEXPage* page = FManager->AddPage(0, ptTableBlob);
  const int32_t pageNo = page->PageNo();
  uint8_t* data = page->PageData();
  int32_t offset = 2;
  auto put = [&](uint16_t id, const std::vector<uint8_t>& bytes) {
    const int64_t size = static_cast<int64_t>(bytes.size());
    const int32_t blocks = 1;
    std::memcpy(data + offset, &id, 2);
    std::memcpy(data + offset + 2, &blocks, 4);
    std::memcpy(data + offset + 6, &size, 8);
    std::memcpy(data + offset + 14, &size, 8);
    if (!bytes.empty()) std::memcpy(data + offset + 22, bytes.data(), bytes.size());
    offset += 22 + static_cast<int32_t>(size);
  };
  for (uint16_t id = 128; id <= 254; ++id) put(id, {});
  put(256, {});
  put(255, {7, 8, 9});
  const uint16_t count = 129;
  std::memcpy(data, &count, 2);
  page->SetIsDirty(true);
  TVEXSmallBlobPage view(page);
  EXPECT_EQ(view.NewItemID(), 257);
  FManager->PutPage(page);
  FBlobs->BlobPageIndex().AddBlob(0, offset - 2, pageNo);
  FManager->ApplyChanges(0);

  std::vector<uint8_t> record = NullRecord(FFields.FieldDefs());
  SetBitInBuffer(false, 0, record.data());
  const TVEXPageItemID old{pageNo, 255};
  std::memcpy(record.data() + FFields.FieldDefs().GetDef(0)->MemoryOffset, &old.PageNo, 4);
  std::memcpy(record.data() + FFields.FieldDefs().GetDef(0)->MemoryOffset + 4, &old.PageItemNo, 2);
  EXPECT_EQ(Load(record), (std::vector<uint8_t>{7, 8, 9}));
  FBlobs->DeleteBlob(0, record.data(), 0);
  FManager->ApplyChanges(0);
  page = FManager->GetPage(0, pageNo, ptTableBlob, true);
  EXPECT_EQ(TVEXSmallBlobPage(page).BlobCount(), 128);
  FManager->PutPage(page);
}

TEST_F(DiskBlobManagerTest, EmptyValueOverAStoredOneLeavesTheFieldNull) {
  std::vector<uint8_t> record = Store(Bytes(50, 3));
  EXPECT_FALSE(GetBitFromBuffer(0, record.data()));
  SetValue(record, {}, 0);
  EXPECT_TRUE(GetBitFromBuffer(0, record.data()));
  FBlobs->WriteBlob(0, record.data(), 0);
  EXPECT_EQ(IdOf(record).PageNo, -1);
  EXPECT_EQ(IdOf(record).PageItemNo, 0xFFFF);
  EXPECT_TRUE(GetBitFromBuffer(0, record.data()));
  EXPECT_EQ(FBlobs->BlobPageIndex().GetBlobPageAllocatedSpace(0, 1), -1);
}

TEST_F(DiskBlobManagerTest, CacheHandlesAreCheckedAndReleased) {
  std::vector<uint8_t> record = NullRecord(FFields.FieldDefs());
  SetValue(record, Bytes(20, 4));
  // A copy of the buffer made before the entry was freed does not adopt
  // another field's later entry.
  std::vector<uint8_t> stale = record;
  EXPECT_EQ(CodeOf([&] { FBlobs->CheckReleased(); }), 20150);
  FBlobs->ClearBlobInRecordBuffer(record.data(), 0, false);  // modified: stays
  EXPECT_EQ(FBlobs->CacheCount(), 1u);
  FBlobs->ClearBlobInRecordBuffer(record.data(), 0, true);
  EXPECT_EQ(FBlobs->CacheCount(), 0u);
  std::vector<uint8_t> other = NullRecord(FFields.FieldDefs());
  SetValue(other, Bytes(20, 5));
  EXPECT_EQ(FBlobs->CacheOf(stale.data(), 0), nullptr);
  FBlobs->ClearBlobInRecordBuffer(other.data(), 0, true);
  EXPECT_NO_THROW(FBlobs->CheckReleased());

  // A non-null field without a stored value cannot be read.
  std::vector<uint8_t> broken = NullRecord(FFields.FieldDefs());
  SetBitInBuffer(false, 0, broken.data());
  TVEXBLOBDescriptor d{};
  const uint8_t* data = nullptr;
  int64_t size = 0;
  EXPECT_EQ(CodeOf([&] {
              FBlobs->GetDirectBlobInfoFromRecordBuffer(0, broken.data(), 0, d, data, size);
            }),
            20291);
}

TEST_F(DiskBlobManagerTest, SeededModelOfStoredValues) {
  std::mt19937 rng(108);
  std::map<int, std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> model;
  const int64_t sizes[] = {1, 30, 500, 2000, 4031, 4032, 5000, 9000};
  for (int step = 0; step < 300; ++step) {
    const int key = static_cast<int>(rng() % 20);
    auto it = model.find(key);
    if (it != model.end() && rng() % 3 == 0) {
      FBlobs->DeleteBlob(0, it->second.first.data(), 0);
      model.erase(it);
    } else {
      const std::vector<uint8_t> value = Bytes(sizes[rng() % 8], static_cast<uint32_t>(step));
      if (it == model.end()) {
        model[key] = {Store(value), value};
      } else {
        SetValue(it->second.first, value);
        FBlobs->WriteBlob(0, it->second.first.data(), 0);
        it->second.second = value;
      }
    }
    if (step % 25 != 24) continue;
    FManager->ApplyChanges(0);
    FBlobs->BlobPageIndex().CheckIntegrity(0);
    for (auto& [k, entry] : model) ASSERT_EQ(Load(entry.first), entry.second) << "key " << k;
  }
  for (auto& [k, entry] : model) FBlobs->DeleteBlob(0, entry.first.data(), 0);
  FManager->ApplyChanges(0);
  int used = 0;
  for (int32_t p = 1; p < FManager->PageCount(); ++p) {
    if (!FManager->IsSystemPage(p) && FManager->FreeSpaceManager()->GetPageUsageFromPFS(p)) ++used;
  }
  EXPECT_EQ(used, 2);  // the two index roots
  EXPECT_NO_THROW(FBlobs->CheckReleased());
}

}  // namespace
}  // namespace vex
