// A page manager over an in-memory page store that counts its calls, for the
// tests of the page cache and change sets. It can be told to fail reads and
// writes, to give no page number, and to behave as a store shared with other
// connections (cached pages are then checked against its State words).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/VEXExcept.h"
#include "storage/VEXPage.h"
#include "support/NativeError.h"

namespace vex::testing {

class FakePageStore : public TVEXPageManager {
 public:
  explicit FakePageStore(uint16_t pageSize = 64, uint16_t headerSize = 40) {
    FPageSize = pageSize;
    FPageHeaderSize = headerSize;
    FPageDataSize = static_cast<uint16_t>(pageSize - headerSize);
  }

  // --- the store
  std::map<int32_t, std::vector<uint8_t>> Images;  // written images
  std::set<int32_t> Allocated;                     // numbers in use
  std::set<int32_t> FreeNumbers;                   // freed numbers, reused lowest first
  int32_t NextNumber = 0;

  // --- call counts
  int Adds = 0;
  int Removes = 0;
  int Reads = 0;
  int Writes = 0;
  int TableStateUpdates = 0;
  std::map<int32_t, int> WritesOf;
  std::vector<int32_t> RemovedNumbers;
  // Writes or frees of numbers that are not in use: a store pointed at freed
  // pages.
  int Violations = 0;

  // --- faults and modes
  std::set<int32_t> FailReads;    // InternalReadPage answers false
  std::set<int32_t> ThrowWrites;  // InternalWritePage raises
  bool GiveNoNumber = false;
  bool Shared = false;            // other connections write to the store
  bool TableStateCurrent = true;  // answer of IsPageTableStateCurrent

  void InternalAddPage(TVEXPage* aPage) override {
    ++Adds;
    aPage->AllocPageBuffer();
    if (GiveNoNumber) return;
    int32_t number;
    if (!FreeNumbers.empty()) {
      number = *FreeNumbers.begin();
      FreeNumbers.erase(FreeNumbers.begin());
    } else {
      number = NextNumber++;
    }
    Allocated.insert(number);
    aPage->SetPageNo(number);
  }

  void InternalRemovePage(int32_t PageNo) override {
    ++Removes;
    RemovedNumbers.push_back(PageNo);
    if (Allocated.erase(PageNo) == 0) ++Violations;
    FreeNumbers.insert(PageNo);
    Images.erase(PageNo);
  }

  bool InternalReadPage(TVEXPage* aPage) override {
    ++Reads;
    if (aPage->PageBuffer() == nullptr) aPage->AllocPageBuffer();
    if (FailReads.count(aPage->PageNo()) != 0) return false;
    const auto it = Images.find(aPage->PageNo());
    if (it != Images.end()) std::memcpy(aPage->PageBuffer(), it->second.data(), it->second.size());
    aPage->SetReloaded(true);
    return true;
  }

  void InternalWritePage(TVEXPage* aPage) override {
    if (ThrowWrites.count(aPage->PageNo()) != 0) throw EVEXException(10469, "Cannot write page");
    ++Writes;
    ++WritesOf[aPage->PageNo()];
    if (Allocated.count(aPage->PageNo()) == 0) ++Violations;
    Images[aPage->PageNo()].assign(aPage->PageBuffer(), aPage->PageBuffer() + PageSize());
  }

  bool IsPageStateCheckNeeded() const override { return Shared; }
  int32_t InternalReadPageState(int32_t PageNo) override {
    const auto it = Images.find(PageNo);
    if (it == Images.end()) return kRemovedPageState;
    int32_t state;
    std::memcpy(&state, it->second.data() + offsetof(TVEXDiskPageHeader, State), sizeof(state));
    return state;
  }
  bool IsPageTableStateCurrent(int32_t, TVEXPage*) override { return TableStateCurrent; }
  void UpdatePageTableState(int32_t, TVEXPage*) override { ++TableStateUpdates; }

  // What another connection does: changes the first data byte of a stored
  // page and advances its State (or sets State to `state`).
  void ExternalWrite(int32_t pageNo, uint8_t firstDataByte) {
    std::vector<uint8_t>& image = Images.at(pageNo);
    image[PageHeaderSize()] = firstDataByte;
    int32_t state;
    std::memcpy(&state, image.data() + offsetof(TVEXDiskPageHeader, State), sizeof(state));
    ++state;
    std::memcpy(image.data() + offsetof(TVEXDiskPageHeader, State), &state, sizeof(state));
  }
  uint8_t StoredByte(int32_t pageNo) const { return Images.at(pageNo)[PageHeaderSize()]; }

  void ResetCounts() {
    Adds = Removes = Reads = Writes = TableStateUpdates = 0;
    WritesOf.clear();
    RemovedNumbers.clear();
  }

  // --- inspection of the page manager's lists
  const TVEXSortedPageList& SharedPages() const { return *FSharedPages; }
  const TVEXSessionPageInfo* ChangeSet(int32_t sessionID) const {
    int32_t index;
    return FindSessionIndex(sessionID, index) ? FSessions[static_cast<size_t>(index)].get()
                                              : nullptr;
  }
  int32_t DirtyCount(int32_t sessionID) const {
    const TVEXSessionPageInfo* info = ChangeSet(sessionID);
    return info == nullptr ? 0 : info->DirtyPages->Count();
  }
  size_t DisplacedCount() const { return FDisplacedPages.size(); }

  // Breaks the page manager's bookkeeping on purpose, for the test of its
  // integrity walk.
  void PlantInCache(TVEXPage* page) { FSharedPages->Insert(page); }
  void PlantDisplaced(TVEXPage* page) { FDisplacedPages.push_back(page); }
  void Unplant(int32_t pageNo) { FSharedPages->Delete(pageNo); }
  void UnplantDisplaced() { FDisplacedPages.pop_back(); }
};

using testsupport::ExpectVEXError;

}  // namespace vex::testing
