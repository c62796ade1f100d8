// A scratch folder, a fake clock (the header lock's 4500 x 20 ms waits run in
// virtual time) and helpers that build and reopen database files with the
// disk page manager, for the tests of the disk layer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "storage/disk/VEXDiskPageManager.h"
#include "storage/disk/VEXFreeSpaceManager.h"
#include "support/FakeClock.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"
#include "support/WriteFault.h"

namespace vex::testing {

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Overwrites bytes of a closed file in place.
inline void PatchFile(const std::string& path, int64_t offset, const void* bytes, size_t count) {
  std::vector<uint8_t> image = ReadWholeFile(path);
  ASSERT_LE(static_cast<size_t>(offset) + count, image.size());
  std::memcpy(image.data() + offset, bytes, count);
  WriteWholeFile(path, image);
}

template <class T>
T ValueAt(const std::vector<uint8_t>& bytes, size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

// A map page's header and data, read straight from the file.
inline std::vector<uint8_t> MapPage(TVEXDiskPageManager& manager, int64_t pageNo, uint16_t type) {
  std::vector<uint8_t> page(manager.PageSize());
  manager.ReadPageRegion(page.data(), static_cast<int32_t>(pageNo), 0,
                         static_cast<uint16_t>(page.size()));
  EXPECT_EQ(ValueAt<uint16_t>(page, 8), type) << "map page " << pageNo;
  return page;
}

// The integrity walk of the free-space maps against the set of pages in use:
// file size, last used page, every PFS bit, and no EAM extent marked full that
// has a free page.
inline void CheckFreeSpaceMaps(TVEXDiskPageManager& manager, const std::set<int32_t>& inUse) {
  TVEXDatabaseFreeSpaceManager& space = *manager.FreeSpaceManager();
  manager.ReadDBHeader();
  const int64_t total = manager.DBHeader()->TotalPageCount;
  const int64_t ppp = space.PFSPagesAddressed();
  const int64_t epe = space.EAMExtentsAddressed();
  const int64_t pce = manager.DBHeader()->PageCountInExtent;
  ASSERT_EQ(manager.DatabaseFile().GetSize(),
            manager.OffsetToFirstPage() + total * manager.PageSize());
  const int32_t lastUsed = manager.DBHeader()->LastUsedPageNo;
  ASSERT_EQ(lastUsed, inUse.empty() ? -1 : *inUse.rbegin());
  if (total == 0) return;

  std::vector<bool> used(static_cast<size_t>(total));
  for (int64_t k = 0; k * ppp < total; ++k) {
    const std::vector<uint8_t> pfs = MapPage(manager, space.PFSPageNo(k), ptPFS);
    for (int64_t bit = 0; bit < ppp; ++bit) {
      const int64_t pageNo = k * ppp + bit;
      const bool set = (pfs[40 + bit / 8] >> (bit % 8)) & 1;
      if (pageNo >= total) {
        ASSERT_FALSE(set) << "bit beyond the file: " << pageNo;
        continue;
      }
      const bool expected = space.IsSystemPage(pageNo) || inUse.count(static_cast<int32_t>(pageNo));
      ASSERT_EQ(set, expected) << "PFS bit of page " << pageNo;
      used[static_cast<size_t>(pageNo)] = set;
    }
  }
  for (int64_t k = 0; k * space.EAMPagesAddressed() < total; ++k) {
    const std::vector<uint8_t> eam = MapPage(manager, space.EAMPageNo(k), ptEAM);
    for (int64_t x = 0; x < epe && (k * epe + x) * pce < total; ++x) {
      const int64_t extent = k * epe + x;
      const int entry = (eam[40 + x / 4] >> (2 * (x % 4))) & 3;
      bool allUsed = true;
      for (int64_t p = extent * pce; p < (extent + 1) * pce; ++p) {
        if (p >= total || !used[static_cast<size_t>(p)]) allUsed = false;
      }
      ASSERT_NE(entry, 2) << "extent " << extent;
      // 1 and 0 are hints that a search may look there; 3 must be true, or
      // free pages would be lost to every search.
      if (entry == 3) {
        ASSERT_TRUE(allUsed) << "extent " << extent << " marked full";
      }
    }
  }
}

struct OpenResult {
  std::unique_ptr<TVEXDiskPageManager> Manager;
  bool ReadOnly = false;
  bool RepairNeeded = false;
  bool MultiUser = false;
};

class DiskDatabaseTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name = "db.vex") const { return FDir / name; }

  std::unique_ptr<TVEXDiskPageManager> Create(const std::string& name = "db.vex",
                                              const TVEXPassword& password = {},
                                              uint16_t pageSize = 4096, uint16_t extentPages = 8) {
    auto manager = std::make_unique<TVEXDiskPageManager>();
    manager->CreateAndOpenDatabase(PathOf(name), password, pageSize, extentPages);
    return manager;
  }

  OpenResult Open(const std::string& name = "db.vex", const TVEXPassword& password = {},
                  bool multiUser = false, bool readOnly = false, bool exclusive = false) {
    OpenResult result;
    result.Manager = std::make_unique<TVEXDiskPageManager>();
    result.ReadOnly = readOnly;
    result.MultiUser = multiUser;
    result.Manager->OpenDatabase(PathOf(name), password, result.ReadOnly, result.RepairNeeded,
                                 exclusive, result.MultiUser);
    return result;
  }

  // A new committed page of session 0 whose data bytes are all `fill`.
  static int32_t AddPageWith(TVEXDiskPageManager& manager, uint8_t fill,
                             uint16_t type = ptTableRecord, int32_t session = 0) {
    TVEXPage* page = manager.AddPage(session, type);
    std::memset(page->PageData(), fill, static_cast<size_t>(manager.PageDataSize()));
    const int32_t pageNo = page->PageNo();
    manager.PutPage(page);
    manager.ApplyChanges(session);
    return pageNo;
  }

  // Changes every data byte of a committed page to `fill` and commits.
  static void RewritePage(TVEXDiskPageManager& manager, int32_t pageNo, uint8_t fill,
                          uint16_t type = ptTableRecord, int32_t session = 0) {
    TVEXPage* page = manager.GetPage(session, pageNo, type, true);
    std::memset(page->PageData(), fill, static_cast<size_t>(manager.PageDataSize()));
    page->SetIsDirty(true);
    manager.PutPage(page);
    manager.ApplyChanges(session);
  }

  // The first data byte of a page as a session reads it.
  static uint8_t FirstDataByte(TVEXDiskPageManager& manager, int32_t pageNo,
                               uint16_t type = ptTableRecord, int32_t session = 0) {
    TVEXPage* page = manager.GetPage(session, pageNo, type, true);
    const uint8_t value = page->PageData()[0];
    manager.PutPage(page);
    return value;
  }

  testsupport::FakeClockScope FClock;
  testsupport::ScratchDir FDir;
};

}  // namespace vex::testing
