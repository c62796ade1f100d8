// Fixtures of the B-tree tests: a tree of page-number keys on a fake page
// store, driven entry by entry, and read back along its leaf links.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/FakePageStore.h"
#include "storage/btree/VEXBTree.h"
#include "support/NativeError.h"

namespace vex::testing {

constexpr int32_t kSession = 1;

// (key, reference) of a page-number tree.
using PageEntry = std::pair<int32_t, uint16_t>;

// A tree of page-number keys whose root the fixture owns, as an index does.
class PageTree {
 public:
  explicit PageTree(uint16_t pageSize, uint16_t headerSize = 40) : Store(pageSize, headerSize) {
    TVEXBTreePagePtr root = TVEXBTreePage::AddIndexPage(Store, Key, kSession);
    root->InitAsRoot();
    root->SetIsDirty(true);
    Root = root->PageNo();
  }

  TVEXBTreePagePtr RootPage() { return TVEXBTreePage::GetIndexPage(Store, Key, kSession, Root); }

  void Insert(int32_t key, uint16_t reference) {
    TVEXKeyPath path;
    RootPage()->InsertLeafEntry(kSession, Bytes(key), reinterpret_cast<uint8_t*>(&reference), path);
  }
  bool Delete(int32_t key, uint16_t reference) {
    TVEXKeyPath path;
    return RootPage()->DeleteLeafEntry(kSession, Bytes(key),
                                       reinterpret_cast<uint8_t*>(&reference), path);
  }
  void CheckIntegrity() {
    TVEXKeyPath path;
    RootPage()->CheckIntegrity(kSession, path);
  }

  // The entry a path names.
  PageEntry At(const TVEXKeyPath& path) {
    TVEXBTreePagePtr leaf = GetLeafAtPosition(Store, Key, kSession, path, 20068);
    const int32_t no = path.Items[static_cast<size_t>(path.Count - 1)].EntryNo;
    int32_t key;
    uint16_t reference;
    std::memcpy(&key, leaf->GetPKey(no), 4);
    std::memcpy(&reference, leaf->GetPReference(no), 2);
    return {key, reference};
  }

  // Every entry, read from the first along the level links.
  std::vector<PageEntry> Entries() {
    std::vector<PageEntry> entries;
    TVEXKeyPath path;
    if (!RootPage()->GetFirstPosition(kSession, path)) return entries;
    do {
      entries.push_back(At(path));
    } while (MoveKeyPath(Store, Key, kSession, path, true, 20069, 20070));
    return entries;
  }

  // Levels from the root down to the leaves.
  int32_t Depth() {
    int32_t depth = 1;
    TVEXBTreePagePtr page = RootPage();
    while (!page->IsLeaf()) {
      page = TVEXBTreePage::GetIndexPage(Store, Key, kSession, page->ChildPageNo(0));
      ++depth;
    }
    return depth;
  }

  const uint8_t* Bytes(int32_t key) {
    std::memcpy(FKey, &key, 4);
    return FKey;
  }

  FakePageStore Store;
  TVEXPageKeyRef Key;
  int32_t Root = -1;

 private:
  uint8_t FKey[4]{};
};

}  // namespace vex::testing
