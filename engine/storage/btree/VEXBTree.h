// The B+-tree of the storage engine: tree pages and the operations on a tree.
//
// One code serves every B-tree: the table indexes (VEXBTreeRecordIndex.h) and
// the page indexes of a disk table (VEXBTreePageIndex.h). What differs is the
// key reference (VEXBTreeKeys.h) and the size of the reference a leaf entry
// carries. Pages are pages of type 12 of a page manager, read, changed and
// committed in the caller's session change set; the tree owns no pages of its
// own and keeps no state between calls.
//
// What each page kind holds (layout in docs/file-formats.md, "B-tree pages";
// read and written only through TVEXBTreePage's accessors):
//   - a leaf holds entries (short key, reference), sorted by key and, among
//     equal keys, by reference;
//   - an inner page holds one entry per child: a separator key and the child's
//     page number. Entry 0's key is never compared (zero after a root split).
//
// Invariants (CheckIntegrity tests every one of them):
//   1. All leaves are on one level. Read along the right links, the leaves
//      give every entry in (key, reference) order; (key, reference) pairs are
//      unique.
//   2. The pages of each level form one doubly linked list (LeftPageNo,
//      RightPageNo, -1 at the ends) in the order of an in-order walk, across
//      parent boundaries.
//   3. For every inner entry i >= 1: every key below child i - 1 <= separator
//      i <= every key below child i. Separators may lag behind the true first
//      key of their child after deletes; searches tolerate that by visiting
//      neighbouring children and by settling a tie with a separator on the
//      child's real first entry.
//   4. The root keeps its page number for the life of the tree. It is the only
//      page that may be empty (an empty tree is a root leaf without entries),
//      and it is never an inner page with a single entry once an operation has
//      completed.
//   5. Every non-root page holds at least one entry; no entry at or beyond
//      EntryCount is ever read. Every page holds at most
//      (page data size - 18) div EntrySize entries after an operation.
//
// How the operations keep them:
//   - Insert goes down to the leaf that the separators choose, inserts in
//     order and, when the page overflows (the buffer grows by one entry to
//     take it), splits it: the lower half stays, the upper half moves to a new
//     right neighbour, and the parent gets the new page's first key. A split
//     climbs as far as it must; the root splits by moving its entries into two
//     new children and becoming their parent, so the tree grows at the top.
//   - Delete removes the entry; a page below half its capacity merges whole
//     into a neighbour that can take all its entries (left first), the
//     parent's entry for it goes, and the separators that named the moved
//     entries are brought up to date. A page left with no entries always
//     merges (it needs no room), so no empty page stays in the tree. A root
//     left with a single child takes that child's entries (repeatedly), so the
//     tree shrinks at the top.
//
// Calling convention: the owner fetches the root (GetIndexPage), calls the
// operation on it with an empty key path and lets the root go on every way
// out. Every page fetched inside an operation is given back on every way out
// (TVEXBTreePage owns a TVEXPageHold). After a split or merge the key path is
// working state, not a position.
//
// Threads: no locks. REQUIRES: the caller holds the lock of the database that
// owns the page manager for the whole operation.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "storage/VEXPageHold.h"
#include "storage/search/VEXScanConditions.h"
#include "storage/btree/VEXBTreeKeys.h"

namespace vex {

// The page type of tree pages.
inline constexpr uint16_t kIndexPageType = 12;


class TVEXBTreePage;
using TVEXBTreePagePtr = std::unique_ptr<TVEXBTreePage>;

// One tree page of a tree, held while the object lives.
class TVEXBTreePage : public TVEXPageController {
 public:
  static constexpr int32_t kHeaderSize = 18;
  static constexpr int32_t kSuffixPtrSize = 6;

  TVEXBTreePage(TVEXPageManager& PageManager, TVEXBTreeKeyRef& KeyRef, TVEXPageHold Hold);
  ~TVEXBTreePage() override = default;

  // These three are the tree's only doors to the page manager. REQUIRES:
  // PageManager.DatabaseLock(), held by the caller of the index operation.
  // A page object cannot name its manager's lock in a form the analysis can
  // follow from page to page, so the contract is stated here and the
  // analysis is told to trust it.
  //
  // A new page of type 12 in the session, initialised by Init.
  static TVEXBTreePagePtr AddIndexPage(TVEXPageManager& PageManager, TVEXBTreeKeyRef& KeyRef,
                                       int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS;
  // The page of that number; a page of another type fails in GetPage (20153),
  // a page whose header cannot be a tree page of this tree raises 20035.
  static TVEXBTreePagePtr GetIndexPage(TVEXPageManager& PageManager, TVEXBTreeKeyRef& KeyRef,
                                       int32_t SessionID,
                                       int32_t PageNo) VEX_NO_THREAD_SAFETY_ANALYSIS;
  // Frees the page number at the session's commit.
  static void RemoveIndexPage(TVEXPageManager& PageManager, int32_t SessionID, int32_t PageNo)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    PageManager.RemovePage(SessionID, PageNo);
  }
  // Gives the page back now (the object is unusable afterwards).
  void PutIndexPage() { FHold.Put(); }

  TVEXBTreeKeyRef& KeyRef() const { return *LKeyRef; }

  // --- header fields
  bool IsRoot() const { return GetU8(0) != 0; }
  void SetIsRoot(bool Value) { SetU8(0, Value ? 1 : 0); }
  bool IsLeaf() const { return GetU8(1) != 0; }
  void SetIsLeaf(bool Value) { SetU8(1, Value ? 1 : 0); }
  int32_t LeftPageNo() const { return GetI32(2); }
  void SetLeftPageNo(int32_t Value) { SetI32(2, Value); }
  int32_t RightPageNo() const { return GetI32(6); }
  void SetRightPageNo(int32_t Value) { SetI32(6, Value); }
  bool HasKeys() const { return GetU8(10) != 0; }
  void SetHasKeys(bool Value) { SetU8(10, Value ? 1 : 0); }
  bool HasSuffixes() const { return GetU8(11) != 0; }
  void SetHasSuffixes(bool Value) { SetU8(11, Value ? 1 : 0); }
  int32_t KeyPrefixSize() const { return GetU16(12); }
  void SetKeyPrefixSize(int32_t Value) { SetU16(12, Value); }
  int32_t EntryCount() const { return GetU16(14); }
  void SetEntryCount(int32_t Value) { SetU16(14, Value); }
  int32_t PagePrefixSize() const { return GetU16(16); }
  void SetPagePrefixSize(int32_t Value) { SetU16(16, Value); }
  // Derived.
  int32_t ReferenceSize() const { return IsLeaf() ? LKeyRef->ReferenceSize() : 4; }
  int32_t SuffixPtrSize() const { return HasSuffixes() ? kSuffixPtrSize : 0; }
  int32_t EntrySize() const { return KeyPrefixSize() + ReferenceSize() + SuffixPtrSize(); }
  int32_t EntriesOffset() const { return kHeaderSize + PagePrefixSize(); }

  // Entry addresses; valid until the buffer grows.
  // Inline: the binary searches call it for every probe.
  uint8_t* GetPKey(int32_t Position) const {
    return PageData() + EntriesOffset() + Position * EntrySize();
  }
  uint8_t* GetPReference(int32_t Position) const { return GetPKey(Position) + KeyPrefixSize(); }
  int32_t ChildPageNo(int32_t Position) const;

  void Init();
  void InitAsRoot();
  // The header bytes [0, EntriesOffset) of Source, then Count of its entries
  // from StartNo.
  void CopyFrom(const TVEXBTreePage& Source, int32_t StartNo, int32_t Count);
  void AppendFrom(const TVEXBTreePage& Source, int32_t StartNo, int32_t Count);
  void InsertFrom(const TVEXBTreePage& Source, int32_t StartNo, int32_t Count);
  void UpdateKey(int32_t Position, const uint8_t* Key);
  void UpdateReference(int32_t Position, const uint8_t* Reference);

  // --- tree operations (from the root, or any page of the tree)
  void InsertLeafEntry(int32_t SessionID, const uint8_t* Key, const uint8_t* Reference,
                       TVEXKeyPath& KeyPath);
  // False when no such entry. A nil Key matches by reference alone.
  bool DeleteLeafEntry(int32_t SessionID, const uint8_t* Key, const uint8_t* Reference,
                       TVEXKeyPath& KeyPath);
  bool FindEntry(int32_t SessionID, const uint8_t* Key, const uint8_t* Reference,
                 TVEXKeyPath& Position);
  bool GetFirstPosition(int32_t SessionID, TVEXKeyPath& Position);
  bool GetLastPosition(int32_t SessionID, TVEXKeyPath& Position);
  // The first (First) or last entry whose key stands in the relation Operator
  // to Key (scLower: entry key < Key).
  bool FindByCondition(int32_t SessionID, bool First, const uint8_t* Key,
                       TVEXSearchCondition Operator, TVEXKeyPath& Position);
  void FreeAllPages(int32_t SessionID, bool KeepRootPage);
  // Called on the root: raises 20028-20035 ("Index integrity error. ...") at
  // the first broken invariant of the tree (the numbered list above).
  void CheckIntegrity(int32_t SessionID, TVEXKeyPath& KeyPath);
  // The key (and reference) of the first or last leaf entry below this page;
  // false when there is none.
  bool GetFirstKey(int32_t SessionID, uint8_t* Key);
  bool GetLastKey(int32_t SessionID, uint8_t* Key);
  bool GetFirstEntry(int32_t SessionID, uint8_t* Key, uint8_t* Reference);
  bool GetLastEntry(int32_t SessionID, uint8_t* Key, uint8_t* Reference);
  // Inner pages only (20020 / 20024 "Internal index error" on a leaf).
  void InsertNodeEntry(int32_t SessionID, const uint8_t* Key, const uint8_t* Reference,
                       TVEXKeyPath& KeyPath);
  // MovedFirstKey: the first key of the entries a merge moved into the right
  // neighbour, when known.
  void DeleteNodeEntry(int32_t SessionID, TVEXKeyPath& KeyPath, bool MergeWithLeft,
                       const uint8_t* MovedFirstKey = nullptr);

  // --- capacity
  bool HasRoomForEntry() const;
  bool IsOverflowed() const;
  bool IsUnderflowed() const;
  bool CanMergeWith(const TVEXBTreePage& Sibling) const;
  // Entries a page of this kind holds at most.
  int32_t Capacity() const { return (PageDataSize() - EntriesOffset()) / EntrySize(); }

 private:
  TVEXBTreePagePtr Fetch(int32_t SessionID, int32_t PageNo) const {
    return GetIndexPage(*LPageManager, *LKeyRef, SessionID, PageNo);
  }
  // A child page one level down. A damaged tree whose child links lead back
  // up would descend for ever: more levels than any tree has raise 20032.
  TVEXBTreePagePtr FetchChild(int32_t SessionID, int32_t ChildNo) const;
  TVEXBTreePagePtr Add(int32_t SessionID) const {
    return AddIndexPage(*LPageManager, *LKeyRef, SessionID);
  }
  void MarkDirty() { SetIsDirty(true); }

  int32_t CompareKeyAt(bool MayUseFullKeys, int32_t SessionID, const uint8_t* Key,
                       int32_t Position);
  int32_t CompareReferenceWith(const uint8_t* Reference, int32_t Position) const;
  int32_t CompareReferenceAt(bool MayUseFullKeys, int32_t SessionID, const uint8_t* Key,
                             const uint8_t* Reference, int32_t Position);
  // Result: 1 found, 2 not found (position = insertion point), 5 empty page.
  // Mode 0 first equal, 1 last equal, 2 any.
  int32_t SearchPosition(bool MayUseFullKeys, int32_t SessionID, const uint8_t* Key,
                         const uint8_t* Reference, int32_t Lo, int32_t& Result, int32_t Mode);
  void InsertEntryAt(const uint8_t* Key, const uint8_t* Reference, int32_t Position);
  void DeleteEntryAt(int32_t Position);
  void EnlargeBufferByEntry();
  bool FindEntryPosition(int32_t SessionID, const uint8_t* Key, const uint8_t* Reference,
                         int32_t& Position);
  void GetChildRange(int32_t SessionID, const uint8_t* Key, TVEXSearchCondition Operator,
                     int32_t& A, int32_t& B);
  bool FindInLeaf(int32_t SessionID, bool First, const uint8_t* Key,
                  TVEXSearchCondition Operator, TVEXKeyPath& Position);
  void ChooseChild(int32_t SessionID, const uint8_t* Key, const uint8_t* Reference,
                   int32_t& Child);
  void Split(int32_t SessionID, TVEXKeyPath& KeyPath);
  void SplitRoot(int32_t SessionID);
  void SplitPage(int32_t SessionID, TVEXKeyPath& KeyPath);
  bool TryMergeWithSiblings(int32_t SessionID, TVEXKeyPath& KeyPath);
  bool MergeWithSibling(int32_t SessionID, int32_t SiblingPageNo, TVEXKeyPath& KeyPath);
  void MergeIntoLeft(int32_t SessionID, TVEXBTreePage& Left, TVEXKeyPath& KeyPath);
  void MergeIntoRight(int32_t SessionID, TVEXBTreePage& Right, TVEXKeyPath& KeyPath);
  void CollapseRoot(int32_t SessionID);
  void CheckPage(int32_t SessionID, TVEXKeyPath& KeyPath, int32_t Depth,
                 std::vector<std::vector<int32_t>>& Levels, int32_t& LeafDepth);

  uint8_t GetU8(int32_t Offset) const { return PageData()[Offset]; }
  void SetU8(int32_t Offset, uint8_t Value) { PageData()[Offset] = Value; }
  uint16_t GetU16(int32_t Offset) const;
  void SetU16(int32_t Offset, int32_t Value);
  int32_t GetI32(int32_t Offset) const;
  void SetI32(int32_t Offset, int32_t Value);

  TVEXPageManager* LPageManager;
  TVEXBTreeKeyRef* LKeyRef;
  TVEXPageHold FHold;
  // Levels below the page the operation started from.
  int32_t FDepth = 0;
};

// Moves a key path to the next (Forward) or prior entry along the level
// links, without descending from the root. False, with the path unchanged, at
// the end. An empty path raises EmptyPathCode, a level link that ends early
// BrokenLinkCode ("Index error: invalid position" / "... invalid page number").
bool MoveKeyPath(TVEXPageManager& PageManager, TVEXBTreeKeyRef& KeyRef, int32_t SessionID,
                 TVEXKeyPath& Position, bool Forward, int32_t EmptyPathCode,
                 int32_t BrokenLinkCode);

// The leaf page that a key path names (its last item), held by the caller.
// An empty path raises EmptyPathCode "Index error: invalid position"; an entry
// number outside the page 20035.
TVEXBTreePagePtr GetLeafAtPosition(TVEXPageManager& PageManager, TVEXBTreeKeyRef& KeyRef,
                                   int32_t SessionID, const TVEXKeyPath& Position,
                                   int32_t EmptyPathCode);

}  // namespace vex
