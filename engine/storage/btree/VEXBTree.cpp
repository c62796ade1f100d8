#include "storage/btree/VEXBTree.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "foundation/VEXExcept.h"

namespace vex {

namespace {

constexpr const char* kIntegrityError = "Index integrity error. PageNo=%d EntryNo=%d";

[[noreturn]] void RaiseIntegrity(int32_t Code, int32_t PageNo, int32_t EntryNo) {
  if (Code == 20033 || Code == 20034)
    throw EVEXException(Code, "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d",
                        PageNo, EntryNo);
  if (Code == 20032)
    throw EVEXException(Code, "Index integrity error. Circular links. PageNo=%d EntryNo=%d",
                        PageNo, EntryNo);
  throw EVEXException(Code, kIntegrityError, PageNo, EntryNo);
}

}  // namespace

// --- Page object ---------------------------------------------------------------

TVEXBTreePage::TVEXBTreePage(TVEXPageManager& PageManager, TVEXBTreeKeyRef& KeyRef,
                             TVEXPageHold Hold)
    : TVEXPageController(Hold.Page()),
      LPageManager(&PageManager),
      LKeyRef(&KeyRef),
      FHold(std::move(Hold)) {}

TVEXBTreePagePtr TVEXBTreePage::AddIndexPage(TVEXPageManager& PageManager,
                                             TVEXBTreeKeyRef& KeyRef, int32_t SessionID) {
  TVEXPageHold hold = TVEXPageHold::Add(PageManager, SessionID, kIndexPageType);
  auto page = std::make_unique<TVEXBTreePage>(PageManager, KeyRef, std::move(hold));
  page->Init();
  return page;
}

TVEXBTreePagePtr TVEXBTreePage::GetIndexPage(TVEXPageManager& PageManager,
                                             TVEXBTreeKeyRef& KeyRef, int32_t SessionID,
                                             int32_t PageNo) {
  TVEXPageHold hold = TVEXPageHold::Get(PageManager, SessionID, PageNo, kIndexPageType, true);
  auto page = std::make_unique<TVEXBTreePage>(PageManager, KeyRef, std::move(hold));
  // A page read from a file may be damaged or belong to another tree: its
  // header must describe entries of this tree that lie inside the page.
  const int32_t data = page->PageDataSize();
  const bool sane = page->GetU8(0) <= 1 && page->GetU8(1) <= 1 && page->GetU8(11) <= 1 &&
                    page->KeyPrefixSize() == KeyRef.ShortKeySize() &&
                    page->EntriesOffset() <= data &&
                    page->EntriesOffset() + page->EntryCount() * page->EntrySize() <= data &&
                    (page->IsLeaf() || page->EntryCount() > 0 || page->IsRoot());
  if (!sane) throw EVEXException(20035, kIntegrityError, PageNo, page->EntryCount());
  return page;
}

TVEXBTreePagePtr TVEXBTreePage::FetchChild(int32_t SessionID, int32_t ChildNo) const {
  if (FDepth + 1 >= TVEXKeyPath::kMaxLevels) RaiseIntegrity(20032, PageNo(), 0);
  TVEXBTreePagePtr child = Fetch(SessionID, ChildNo);
  child->FDepth = FDepth + 1;
  return child;
}

uint16_t TVEXBTreePage::GetU16(int32_t Offset) const {
  uint16_t v;
  std::memcpy(&v, PageData() + Offset, 2);
  return v;
}
void TVEXBTreePage::SetU16(int32_t Offset, int32_t Value) {
  const uint16_t v = static_cast<uint16_t>(Value);
  std::memcpy(PageData() + Offset, &v, 2);
}
int32_t TVEXBTreePage::GetI32(int32_t Offset) const {
  int32_t v;
  std::memcpy(&v, PageData() + Offset, 4);
  return v;
}
void TVEXBTreePage::SetI32(int32_t Offset, int32_t Value) {
  std::memcpy(PageData() + Offset, &Value, 4);
}

int32_t TVEXBTreePage::ChildPageNo(int32_t Position) const {
  int32_t v;
  std::memcpy(&v, GetPReference(Position), 4);
  return v;
}

void TVEXBTreePage::Init() {
  SetIsRoot(false);
  SetIsLeaf(false);
  SetLeftPageNo(-1);
  SetRightPageNo(-1);
  SetHasKeys(false);
  SetHasSuffixes(false);
  SetKeyPrefixSize(0);
  SetEntryCount(0);
  SetPagePrefixSize(0);
}

void TVEXBTreePage::InitAsRoot() {
  Init();
  SetIsRoot(true);
  SetIsLeaf(true);
  SetHasKeys(true);
  SetKeyPrefixSize(LKeyRef->ShortKeySize());
}

void TVEXBTreePage::CopyFrom(const TVEXBTreePage& Source, int32_t StartNo, int32_t Count) {
  std::memmove(PageData(), Source.PageData(), static_cast<size_t>(Source.EntriesOffset()));
  std::memmove(GetPKey(0), Source.GetPKey(StartNo), static_cast<size_t>(Count * EntrySize()));
  SetEntryCount(Count);
}

void TVEXBTreePage::AppendFrom(const TVEXBTreePage& Source, int32_t StartNo, int32_t Count) {
  std::memmove(GetPKey(EntryCount()), Source.GetPKey(StartNo),
               static_cast<size_t>(Count * EntrySize()));
  SetEntryCount(EntryCount() + Count);
}

void TVEXBTreePage::InsertFrom(const TVEXBTreePage& Source, int32_t StartNo, int32_t Count) {
  std::memmove(GetPKey(Count), GetPKey(0), static_cast<size_t>(EntryCount() * EntrySize()));
  std::memmove(GetPKey(0), Source.GetPKey(StartNo), static_cast<size_t>(Count * EntrySize()));
  SetEntryCount(EntryCount() + Count);
}

void TVEXBTreePage::UpdateKey(int32_t Position, const uint8_t* Key) {
  std::memmove(GetPKey(Position), Key, static_cast<size_t>(KeyPrefixSize()));
}

void TVEXBTreePage::UpdateReference(int32_t Position, const uint8_t* Reference) {
  std::memmove(GetPReference(Position), Reference, static_cast<size_t>(ReferenceSize()));
}

// --- Capacity ------------------------------------------------------------------

bool TVEXBTreePage::HasRoomForEntry() const {
  return (EntryCount() + 1) * EntrySize() + PagePrefixSize() + kHeaderSize <= PageDataSize();
}

bool TVEXBTreePage::IsOverflowed() const {
  return EntryCount() * EntrySize() + PagePrefixSize() + kHeaderSize > PageDataSize();
}

bool TVEXBTreePage::IsUnderflowed() const {
  return EntryCount() * EntrySize() < (PageDataSize() - PagePrefixSize() - kHeaderSize) / 2;
}

bool TVEXBTreePage::CanMergeWith(const TVEXBTreePage& Sibling) const {
  // An empty page needs no room: it always goes, so no empty page stays in
  // the tree for later inserts to land in.
  if (EntryCount() == 0) return true;
  return (EntryCount() + Sibling.EntryCount()) * EntrySize() + EntriesOffset() <
         Sibling.PageDataSize();
}

void TVEXBTreePage::EnlargeBufferByEntry() { EnlargePageBuffer(PageSize() + EntrySize()); }

// --- Comparing with entries -----------------------------------------------------

int32_t TVEXBTreePage::CompareKeyAt(bool MayUseFullKeys, int32_t SessionID, const uint8_t* Key,
                                    int32_t Position) {
  // The reference of an inner entry is a child page number, never a record id.
  const bool leaf = IsLeaf();
  return LKeyRef->CompareShortKeys(Key, GetPKey(Position), MayUseFullKeys && leaf, SessionID,
                                   nullptr, leaf ? GetPReference(Position) : nullptr);
}

int32_t TVEXBTreePage::CompareReferenceWith(const uint8_t* Reference, int32_t Position) const {
  return TVEXBTreeKeyRef::CompareReferences(Reference, GetPReference(Position), ReferenceSize());
}

int32_t TVEXBTreePage::CompareReferenceAt(bool /*MayUseFullKeys*/, int32_t SessionID,
                                          const uint8_t* Key, const uint8_t* Reference,
                                          int32_t Position) {
  if (IsLeaf()) return CompareReferenceWith(Reference, Position);
  // A separator is only a hint: the real first entry below it decides.
  TVEXMemBlock key = LKeyRef->AllocShortKeyBuffer();
  std::vector<uint8_t> reference(std::max<size_t>(LKeyRef->ReferenceSize(), 1));
  bool any;
  {
    TVEXBTreePagePtr child = Fetch(SessionID, ChildPageNo(Position));
    any = child->GetFirstEntry(SessionID, key.As<uint8_t>(), reference.data());
  }
  if (!any) return 1;
  int32_t c = LKeyRef->CompareShortKeys(Key, key.As<uint8_t>(), true, SessionID, Reference,
                                        reference.data());
  if (c == 0)
    c = TVEXBTreeKeyRef::CompareReferences(Reference, reference.data(), LKeyRef->ReferenceSize());
  return c;
}

int32_t TVEXBTreePage::SearchPosition(bool MayUseFullKeys, int32_t SessionID, const uint8_t* Key,
                                      const uint8_t* Reference, int32_t Lo, int32_t& Result,
                                      int32_t Mode) {
  const int32_t count = EntryCount();
  if (count == 0) {
    Result = 5;
    return 0;
  }
  int32_t lo = Lo;
  int32_t hi = count - 1;
  while (lo <= hi) {
    const int32_t mid = (lo + hi) / 2;
    int32_t c = CompareKeyAt(MayUseFullKeys, SessionID, Key, mid);
    if (c == 0 && Reference != nullptr)
      c = CompareReferenceAt(MayUseFullKeys, SessionID, Key, Reference, mid);
    if (c < 0) {
      hi = mid - 1;
    } else if (c > 0) {
      lo = mid + 1;
    } else {
      Result = 1;
      int32_t pos = mid;
      if (Mode == 0) {
        while (pos - 1 >= Lo && CompareKeyAt(MayUseFullKeys, SessionID, Key, pos - 1) == 0) --pos;
      } else if (Mode == 1) {
        while (pos + 1 <= count - 1 && CompareKeyAt(MayUseFullKeys, SessionID, Key, pos + 1) == 0)
          ++pos;
      }
      return pos;
    }
  }
  Result = 2;
  return lo;
}

// --- Insert --------------------------------------------------------------------

void TVEXBTreePage::InsertEntryAt(const uint8_t* Key, const uint8_t* Reference,
                                  int32_t Position) {
  if (!HasRoomForEntry()) EnlargeBufferByEntry();
  const int32_t size = EntrySize();
  std::memmove(GetPKey(Position + 1), GetPKey(Position),
               static_cast<size_t>((EntryCount() - Position) * size));
  uint8_t* key = GetPKey(Position);
  std::memset(key, 0, static_cast<size_t>(KeyPrefixSize()));
  if (Key != nullptr) std::memcpy(key, Key, static_cast<size_t>(KeyPrefixSize()));
  std::memcpy(key + KeyPrefixSize(), Reference, static_cast<size_t>(ReferenceSize()));
  SetEntryCount(EntryCount() + 1);
}

void TVEXBTreePage::DeleteEntryAt(int32_t Position) {
  if (EntryCount() == 0) throw EVEXException(20025, "Index error: page is empty");
  const int32_t size = EntrySize();
  std::memmove(GetPKey(Position), GetPKey(Position + 1),
               static_cast<size_t>((EntryCount() - Position - 1) * size));
  SetEntryCount(EntryCount() - 1);
}

void TVEXBTreePage::ChooseChild(int32_t SessionID, const uint8_t* Key, const uint8_t* Reference,
                                int32_t& Child) {
  int32_t result = 0;
  const int32_t pos = SearchPosition(false, SessionID, Key, Reference, 1, result, 2);
  Child = result == 2 ? pos - 1 : pos;
}

void TVEXBTreePage::InsertLeafEntry(int32_t SessionID, const uint8_t* Key,
                                    const uint8_t* Reference, TVEXKeyPath& KeyPath) {
  if (!IsLeaf()) {
    int32_t child = 0;
    ChooseChild(SessionID, Key, Reference, child);
    KeyPath.AddItem(PageNo(), child, EntryCount());
    TVEXBTreePagePtr page = FetchChild(SessionID, ChildPageNo(child));
    page->InsertLeafEntry(SessionID, Key, Reference, KeyPath);
    return;
  }
  int32_t result = 0;
  const int32_t pos = SearchPosition(true, SessionID, Key, Reference, 0, result, 2);
  InsertEntryAt(Key, Reference, pos);
  MarkDirty();
  if (IsOverflowed()) {
    Split(SessionID, KeyPath);
  } else {
    KeyPath.AddItem(PageNo(), pos, EntryCount());
  }
}

void TVEXBTreePage::Split(int32_t SessionID, TVEXKeyPath& KeyPath) {
  if (IsRoot()) {
    SplitRoot(SessionID);
  } else {
    SplitPage(SessionID, KeyPath);
  }
}

void TVEXBTreePage::SplitRoot(int32_t SessionID) {
  const int32_t count = EntryCount();
  const int32_t half = count / 2;
  TVEXBTreePagePtr p1 = Add(SessionID);
  TVEXBTreePagePtr p2 = Add(SessionID);
  p1->CopyFrom(*this, 0, half);
  p2->CopyFrom(*this, half, count - half);
  p1->SetIsRoot(false);
  p2->SetIsRoot(false);
  p1->SetLeftPageNo(-1);
  p2->SetRightPageNo(-1);
  p1->SetRightPageNo(p2->PageNo());
  p2->SetLeftPageNo(p1->PageNo());
  p1->MarkDirty();
  p2->MarkDirty();
  SetIsLeaf(false);
  SetEntryCount(0);
  TVEXMemBlock key = LKeyRef->AllocShortKeyBuffer();
  std::memcpy(key.As<uint8_t>(), p2->GetPKey(0), static_cast<size_t>(KeyPrefixSize()));
  // A fresh path: the root's own entry numbers decide where the two go.
  TVEXKeyPath path;
  path.AddItem(PageNo(), 0, 0);
  path.DecLevel();
  int32_t child = p1->PageNo();
  InsertNodeEntry(SessionID, nullptr, reinterpret_cast<const uint8_t*>(&child), path);
  child = p2->PageNo();
  InsertNodeEntry(SessionID, key.As<uint8_t>(), reinterpret_cast<const uint8_t*>(&child), path);
  MarkDirty();
}

void TVEXBTreePage::SplitPage(int32_t SessionID, TVEXKeyPath& KeyPath) {
  const int32_t count = EntryCount();
  const int32_t half = count / 2;
  TVEXBTreePagePtr p = Add(SessionID);
  p->CopyFrom(*this, half, count - half);
  p->SetRightPageNo(RightPageNo());
  p->SetLeftPageNo(PageNo());
  p->MarkDirty();
  if (RightPageNo() != -1) {
    TVEXBTreePagePtr right = Fetch(SessionID, RightPageNo());
    right->SetLeftPageNo(p->PageNo());
    right->MarkDirty();
  }
  SetRightPageNo(p->PageNo());
  SetEntryCount(half);
  MarkDirty();
  TVEXMemBlock key = LKeyRef->AllocShortKeyBuffer();
  std::memcpy(key.As<uint8_t>(), p->GetPKey(0), static_cast<size_t>(KeyPrefixSize()));
  const int32_t newPageNo = p->PageNo();
  p.reset();
  KeyPath.DecLevel();
  {
    TVEXBTreePagePtr parent = Fetch(SessionID, KeyPath.CurrentPageNo());
    parent->InsertNodeEntry(SessionID, key.As<uint8_t>(),
                            reinterpret_cast<const uint8_t*>(&newPageNo), KeyPath);
    parent->MarkDirty();
  }
  KeyPath.IncLevel();
}

void TVEXBTreePage::InsertNodeEntry(int32_t SessionID, const uint8_t* Key,
                                    const uint8_t* Reference, TVEXKeyPath& KeyPath) {
  if (IsLeaf()) throw EVEXException(20020, "Internal index error");
  const int32_t position = EntryCount() > 1
                               ? KeyPath.Items[static_cast<size_t>(KeyPath.ItemNo)].EntryNo + 1
                               : EntryCount();
  InsertEntryAt(Key, Reference, position);
  MarkDirty();
  if (IsOverflowed()) Split(SessionID, KeyPath);
}

// --- Delete and merge -----------------------------------------------------------

bool TVEXBTreePage::FindEntryPosition(int32_t SessionID, const uint8_t* Key,
                                      const uint8_t* Reference, int32_t& Position) {
  const int32_t count = EntryCount();
  if (Key == nullptr) {
    for (int32_t p = 0; p < count; ++p) {
      if (CompareReferenceWith(Reference, p) == 0) {
        Position = p;
        return true;
      }
    }
    return false;
  }
  int32_t result = 0;
  int32_t p = SearchPosition(true, SessionID, Key, Reference, 0, result, 0);
  if (result != 1) return false;
  for (; p < count; ++p) {
    if (CompareReferenceWith(Reference, p) == 0) {
      Position = p;
      return true;
    }
    if (CompareKeyAt(false, -1, Key, p) != 0) return false;
  }
  return false;
}

bool TVEXBTreePage::DeleteLeafEntry(int32_t SessionID, const uint8_t* Key,
                                    const uint8_t* Reference, TVEXKeyPath& KeyPath) {
  if (!IsLeaf()) {
    if (Key == nullptr) {
      // By reference alone: every child may hold it.
      for (int32_t i = 0; i < EntryCount(); ++i) {
        KeyPath.AddItem(PageNo(), i, EntryCount());
        bool found;
        {
          TVEXBTreePagePtr child = FetchChild(SessionID, ChildPageNo(i));
          found = child->DeleteLeafEntry(SessionID, Key, Reference, KeyPath);
        }
        if (found) return true;
        KeyPath.DeleteLastItem();
      }
      return false;
    }
    int32_t child = 0;
    ChooseChild(SessionID, Key, Reference, child);
    KeyPath.AddItem(PageNo(), child, EntryCount());
    TVEXBTreePagePtr page = FetchChild(SessionID, ChildPageNo(child));
    return page->DeleteLeafEntry(SessionID, Key, Reference, KeyPath);
  }
  int32_t pos = 0;
  if (!FindEntryPosition(SessionID, Key, Reference, pos)) return false;
  DeleteEntryAt(pos);
  MarkDirty();
  if (IsUnderflowed()) TryMergeWithSiblings(SessionID, KeyPath);
  return true;
}

bool TVEXBTreePage::TryMergeWithSiblings(int32_t SessionID, TVEXKeyPath& KeyPath) {
  if (IsRoot()) return false;
  if (LeftPageNo() != -1 && MergeWithSibling(SessionID, LeftPageNo(), KeyPath)) return true;
  if (RightPageNo() != -1 && MergeWithSibling(SessionID, RightPageNo(), KeyPath)) return true;
  return false;
}

bool TVEXBTreePage::MergeWithSibling(int32_t SessionID, int32_t SiblingPageNo,
                                     TVEXKeyPath& KeyPath) {
  TVEXBTreePagePtr sibling = Fetch(SessionID, SiblingPageNo);
  if (!CanMergeWith(*sibling)) return false;
  const int32_t pageNo = PageNo();
  if (SiblingPageNo == LeftPageNo()) {
    MergeIntoLeft(SessionID, *sibling, KeyPath);
  } else {
    MergeIntoRight(SessionID, *sibling, KeyPath);
  }
  RemoveIndexPage(*LPageManager, SessionID, pageNo);
  return true;
}

void TVEXBTreePage::MergeIntoLeft(int32_t SessionID, TVEXBTreePage& Left, TVEXKeyPath& KeyPath) {
  if (RightPageNo() != -1) {
    TVEXBTreePagePtr right = Fetch(SessionID, RightPageNo());
    right->SetLeftPageNo(LeftPageNo());
    right->MarkDirty();
  }
  KeyPath.DecLevel();
  TVEXBTreePagePtr parent = Fetch(SessionID, KeyPath.CurrentPageNo());
  if (!IsLeaf() && EntryCount() > 0) {
    // Entry 0 becomes a compared separator in the left page.
    TVEXMemBlock key = LKeyRef->AllocShortKeyBuffer();
    if (GetFirstKey(SessionID, key.As<uint8_t>())) UpdateKey(0, key.As<uint8_t>());
  }
  Left.AppendFrom(*this, 0, EntryCount());
  Left.SetRightPageNo(RightPageNo());
  Left.MarkDirty();
  SetEntryCount(0);
  MarkDirty();
  parent->DeleteNodeEntry(SessionID, KeyPath, true);
}

void TVEXBTreePage::MergeIntoRight(int32_t SessionID, TVEXBTreePage& Right,
                                   TVEXKeyPath& KeyPath) {
  if (LeftPageNo() != -1) {
    TVEXBTreePagePtr left = Fetch(SessionID, LeftPageNo());
    left->SetRightPageNo(RightPageNo());
    left->MarkDirty();
  }
  KeyPath.DecLevel();
  TVEXBTreePagePtr parent = Fetch(SessionID, KeyPath.CurrentPageNo());
  TVEXMemBlock key = LKeyRef->AllocShortKeyBuffer();
  if (!IsLeaf() && EntryCount() > 0) {
    // The right page's entry 0 becomes a compared separator.
    if (Right.GetFirstKey(SessionID, key.As<uint8_t>())) Right.UpdateKey(0, key.As<uint8_t>());
  }
  const bool moved = EntryCount() > 0 && GetFirstKey(SessionID, key.As<uint8_t>());
  Right.InsertFrom(*this, 0, EntryCount());
  Right.SetLeftPageNo(LeftPageNo());
  Right.MarkDirty();
  SetEntryCount(0);
  MarkDirty();
  parent->DeleteNodeEntry(SessionID, KeyPath, false, moved ? key.As<uint8_t>() : nullptr);
}

void TVEXBTreePage::DeleteNodeEntry(int32_t SessionID, TVEXKeyPath& KeyPath, bool MergeWithLeft,
                                    const uint8_t* MovedFirstKey) {
  if (IsLeaf()) throw EVEXException(20024, "Internal index error");
  const int32_t level = KeyPath.ItemNo;
  const int32_t e = KeyPath.Items[static_cast<size_t>(level)].EntryNo;
  // Separator upkeep along the recorded path.
  if (MergeWithLeft) {
    if (e == 0 && EntryCount() > 1) {
      for (int32_t j = level - 1; j >= 0; --j) {
        const TVEXKeyPath::TItem& item = KeyPath.Items[static_cast<size_t>(j)];
        if (item.EntryNo >= 1) {
          TVEXBTreePagePtr page = Fetch(SessionID, item.PageNo);
          page->UpdateKey(item.EntryNo, GetPKey(1));
          page->MarkDirty();
          break;
        }
      }
    }
  } else {
    for (int32_t j = level; j >= 0; --j) {
      const TVEXKeyPath::TItem& item = KeyPath.Items[static_cast<size_t>(j)];
      if (item.EntryNo < item.EntryCount - 1) {
        if (j == level) {
          if (e + 1 < EntryCount()) UpdateKey(e + 1, GetPKey(e));
        } else {
          // The right neighbour of another parent now begins with the moved
          // entries: its separator becomes their first key.
          TVEXBTreePagePtr page = Fetch(SessionID, item.PageNo);
          page->UpdateKey(item.EntryNo + 1, MovedFirstKey != nullptr ? MovedFirstKey : GetPKey(e));
          page->MarkDirty();
        }
        break;
      }
    }
  }
  DeleteEntryAt(e);
  MarkDirty();
  if (IsRoot()) {
    while (!IsLeaf() && EntryCount() == 1) CollapseRoot(SessionID);
  } else if (IsUnderflowed()) {
    TryMergeWithSiblings(SessionID, KeyPath);
  }
}

void TVEXBTreePage::CollapseRoot(int32_t SessionID) {
  const int32_t childNo = ChildPageNo(0);
  {
    TVEXBTreePagePtr child = FetchChild(SessionID, childNo);
    CopyFrom(*child, 0, child->EntryCount());
  }
  SetIsRoot(true);
  SetLeftPageNo(-1);
  SetRightPageNo(-1);
  MarkDirty();
  RemoveIndexPage(*LPageManager, SessionID, childNo);
}

// --- Searches --------------------------------------------------------------------

bool TVEXBTreePage::FindEntry(int32_t SessionID, const uint8_t* Key, const uint8_t* Reference,
                              TVEXKeyPath& Position) {
  if (IsLeaf()) {
    int32_t pos = 0;
    if (!FindEntryPosition(SessionID, Key, Reference, pos)) return false;
    Position.AddItem(PageNo(), pos, EntryCount());
    return true;
  }
  int32_t a = 0;
  int32_t b = 0;
  GetChildRange(SessionID, Key, scEqual, a, b);
  for (int32_t i = a; i <= b; ++i) {
    Position.AddItem(PageNo(), i, EntryCount());
    bool found;
    {
      TVEXBTreePagePtr child = FetchChild(SessionID, ChildPageNo(i));
      found = child->FindEntry(SessionID, Key, Reference, Position);
    }
    if (found) return true;
    Position.DeleteLastItem();
  }
  return false;
}

void TVEXBTreePage::GetChildRange(int32_t SessionID, const uint8_t* Key,
                                  TVEXSearchCondition Operator, int32_t& A, int32_t& B) {
  const int32_t last = EntryCount() - 1;
  if (Key == nullptr || Operator == scNone) {
    A = 0;
    B = last;
    return;
  }
  int32_t result = 0;
  switch (Operator) {
    case scEqual: {
      const int32_t first = SearchPosition(false, SessionID, Key, nullptr, 1, result, 0);
      if (result == 1) {
        A = std::max(first - 1, 0);
        B = SearchPosition(false, SessionID, Key, nullptr, 1, result, 1);
      } else {
        A = first - 1;
        B = A;
      }
      break;
    }
    case scLower:
      A = 0;
      B = SearchPosition(false, SessionID, Key, nullptr, 1, result, 0) - 1;
      break;
    case scGreater: {
      const int32_t p = SearchPosition(false, SessionID, Key, nullptr, 1, result, 1);
      A = result == 1 ? p : p - 1;
      B = last;
      break;
    }
    case scLowerEqual: {
      const int32_t p = SearchPosition(false, SessionID, Key, nullptr, 1, result, 1);
      A = 0;
      B = result == 1 ? p : p - 1;
      break;
    }
    case scGreaterEqual:
      A = SearchPosition(false, SessionID, Key, nullptr, 1, result, 0) - 1;
      B = last;
      break;
    default:
      A = 0;
      B = last;
  }
  A = std::clamp(A, 0, last);
  B = std::clamp(B, -1, last);
}

bool TVEXBTreePage::FindByCondition(int32_t SessionID, bool First, const uint8_t* Key,
                                    TVEXSearchCondition Operator, TVEXKeyPath& Position) {
  if (EntryCount() == 0) return false;
  if (IsLeaf()) return FindInLeaf(SessionID, First, Key, Operator, Position);
  int32_t a = 0;
  int32_t b = 0;
  GetChildRange(SessionID, Key, Operator, a, b);
  const int32_t step = First ? 1 : -1;
  for (int32_t i = First ? a : b; First ? i <= b : i >= a; i += step) {
    Position.AddItem(PageNo(), i, EntryCount());
    bool found;
    {
      TVEXBTreePagePtr child = FetchChild(SessionID, ChildPageNo(i));
      found = child->FindByCondition(SessionID, First, Key, Operator, Position);
    }
    if (found) return true;
    Position.DeleteLastItem();
  }
  return false;
}

bool TVEXBTreePage::FindInLeaf(int32_t SessionID, bool First, const uint8_t* Key,
                               TVEXSearchCondition Operator, TVEXKeyPath& Position) {
  const int32_t count = EntryCount();
  const int32_t last = count - 1;
  int32_t result = 0;
  int32_t at = -1;
  if (Key == nullptr) Operator = scNone;
  switch (Operator) {
    case scNone:
      at = First ? 0 : last;
      break;
    case scEqual: {
      const int32_t p = SearchPosition(true, SessionID, Key, nullptr, 0, result, First ? 0 : 1);
      if (result == 1) at = p;
      break;
    }
    case scLower: {
      const int32_t p = SearchPosition(true, SessionID, Key, nullptr, 0, result, 0);
      if (p - 1 >= 0) at = First ? 0 : p - 1;
      break;
    }
    case scGreater: {
      int32_t p = SearchPosition(true, SessionID, Key, nullptr, 0, result, 1);
      if (result == 1) ++p;
      if (p < count) at = First ? p : last;
      break;
    }
    case scLowerEqual: {
      int32_t p = SearchPosition(true, SessionID, Key, nullptr, 0, result, First ? 0 : 1);
      if (result != 1) --p;
      if (p >= 0) at = First ? 0 : p;
      break;
    }
    case scGreaterEqual: {
      const int32_t p = SearchPosition(true, SessionID, Key, nullptr, 0, result, First ? 0 : 2);
      if (p < count) at = First ? p : last;
      break;
    }
  }
  if (at < 0 || at > last) return false;
  Position.AddItem(PageNo(), at, count);
  return true;
}

bool TVEXBTreePage::GetFirstPosition(int32_t SessionID, TVEXKeyPath& Position) {
  if (EntryCount() == 0) return false;
  Position.AddItem(PageNo(), 0, EntryCount());
  if (IsLeaf()) return true;
  TVEXBTreePagePtr child = FetchChild(SessionID, ChildPageNo(0));
  return child->GetFirstPosition(SessionID, Position);
}

bool TVEXBTreePage::GetLastPosition(int32_t SessionID, TVEXKeyPath& Position) {
  if (EntryCount() == 0) return false;
  const int32_t last = EntryCount() - 1;
  Position.AddItem(PageNo(), last, EntryCount());
  if (IsLeaf()) return true;
  TVEXBTreePagePtr child = FetchChild(SessionID, ChildPageNo(last));
  return child->GetLastPosition(SessionID, Position);
}

bool TVEXBTreePage::GetFirstEntry(int32_t SessionID, uint8_t* Key, uint8_t* Reference) {
  if (EntryCount() == 0) return false;
  if (!IsLeaf()) {
    TVEXBTreePagePtr child = FetchChild(SessionID, ChildPageNo(0));
    return child->GetFirstEntry(SessionID, Key, Reference);
  }
  std::memcpy(Key, GetPKey(0), static_cast<size_t>(KeyPrefixSize()));
  if (Reference != nullptr)
    std::memcpy(Reference, GetPReference(0), static_cast<size_t>(LKeyRef->ReferenceSize()));
  return true;
}

bool TVEXBTreePage::GetLastEntry(int32_t SessionID, uint8_t* Key, uint8_t* Reference) {
  if (EntryCount() == 0) return false;
  const int32_t last = EntryCount() - 1;
  if (!IsLeaf()) {
    TVEXBTreePagePtr child = FetchChild(SessionID, ChildPageNo(last));
    return child->GetLastEntry(SessionID, Key, Reference);
  }
  std::memcpy(Key, GetPKey(last), static_cast<size_t>(KeyPrefixSize()));
  if (Reference != nullptr)
    std::memcpy(Reference, GetPReference(last), static_cast<size_t>(LKeyRef->ReferenceSize()));
  return true;
}

bool TVEXBTreePage::GetFirstKey(int32_t SessionID, uint8_t* Key) {
  return GetFirstEntry(SessionID, Key, nullptr);
}

bool TVEXBTreePage::GetLastKey(int32_t SessionID, uint8_t* Key) {
  return GetLastEntry(SessionID, Key, nullptr);
}

// --- Freeing -----------------------------------------------------------------------

void TVEXBTreePage::FreeAllPages(int32_t SessionID, bool KeepRootPage) {
  if (!IsLeaf()) {
    for (int32_t i = 0; i < EntryCount(); ++i) {
      const int32_t childNo = ChildPageNo(i);
      if (childNo == -1) continue;
      TVEXBTreePagePtr child = FetchChild(SessionID, childNo);
      child->FreeAllPages(SessionID, false);
    }
  }
  if (!(IsRoot() && KeepRootPage)) RemoveIndexPage(*LPageManager, SessionID, PageNo());
}

// --- Integrity -------------------------------------------------------------------

void TVEXBTreePage::CheckIntegrity(int32_t SessionID, TVEXKeyPath& KeyPath) {
  std::vector<std::vector<int32_t>> levels;
  int32_t leafDepth = -1;
  CheckPage(SessionID, KeyPath, 0, levels, leafDepth);
  // Each level is one list in walk order, and the leaves read along it give
  // every entry in order.
  TVEXMemBlock lastKey = LKeyRef->AllocShortKeyBuffer();
  std::vector<uint8_t> lastRef(std::max<size_t>(LKeyRef->ReferenceSize(), 1));
  bool haveLast = false;
  for (size_t d = 0; d < levels.size(); ++d) {
    const std::vector<int32_t>& pages = levels[d];
    for (size_t k = 0; k < pages.size(); ++k) {
      TVEXBTreePagePtr page = Fetch(SessionID, pages[k]);
      const int32_t left = k == 0 ? -1 : pages[k - 1];
      const int32_t right = k + 1 == pages.size() ? -1 : pages[k + 1];
      if (page->LeftPageNo() != left) RaiseIntegrity(20033, pages[k], 0);
      if (page->RightPageNo() != right) RaiseIntegrity(20034, pages[k], 0);
      if (!page->IsLeaf() || page->EntryCount() == 0) continue;
      if (haveLast) {
        const int32_t c = LKeyRef->CompareShortKeys(lastKey.As<uint8_t>(), page->GetPKey(0), false,
                                                    -1, nullptr, nullptr);
        if (c > 0 || (c == 0 && !LKeyRef->HasTruncatedParts() &&
                      TVEXBTreeKeyRef::CompareReferences(lastRef.data(), page->GetPReference(0),
                                                         LKeyRef->ReferenceSize()) >= 0))
          RaiseIntegrity(20028, pages[k], 0);
      }
      const int32_t lastNo = page->EntryCount() - 1;
      std::memcpy(lastKey.As<uint8_t>(), page->GetPKey(lastNo),
                  static_cast<size_t>(page->KeyPrefixSize()));
      std::memcpy(lastRef.data(), page->GetPReference(lastNo),
                  static_cast<size_t>(LKeyRef->ReferenceSize()));
      haveLast = true;
    }
  }
}

void TVEXBTreePage::CheckPage(int32_t SessionID, TVEXKeyPath& KeyPath, int32_t Depth,
                              std::vector<std::vector<int32_t>>& Levels, int32_t& LeafDepth) {
  const int32_t count = EntryCount();
  const int32_t pageNo = PageNo();
  if (static_cast<int32_t>(Levels.size()) <= Depth) Levels.resize(static_cast<size_t>(Depth) + 1);
  Levels[static_cast<size_t>(Depth)].push_back(pageNo);
  // Shape: the root flag only on the root, entries within the page, no empty
  // page but the root, no inner root with a single child.
  if (IsRoot() != (Depth == 0)) RaiseIntegrity(20035, pageNo, 0);
  if (count > Capacity()) RaiseIntegrity(20035, pageNo, count);
  if (count == 0 && Depth > 0) RaiseIntegrity(20035, pageNo, 0);
  if (Depth == 0 && !IsLeaf() && count < 2) RaiseIntegrity(20035, pageNo, count);
  if (IsLeaf()) {
    if (LeafDepth == -1) LeafDepth = Depth;
    if (LeafDepth != Depth) RaiseIntegrity(20035, pageNo, 0);
    const bool exact = !LKeyRef->HasTruncatedParts();
    for (int32_t i = 0; i + 1 < count; ++i) {
      const int32_t c1 = CompareKeyAt(false, -1, GetPKey(i), i + 1);
      const int32_t c2 = CompareReferenceWith(GetPReference(i), i + 1);
      if (c1 > 0 || (exact && c1 == 0 && c2 >= 0)) RaiseIntegrity(20028, pageNo, i);
    }
    return;
  }
  TVEXMemBlock key = LKeyRef->AllocShortKeyBuffer();
  for (int32_t i = 0; i < count; ++i) {
    if (KeyPath.PageExists(pageNo)) RaiseIntegrity(20032, pageNo, i);
    KeyPath.AddItem(pageNo, i, count);
    {
      TVEXBTreePagePtr child = FetchChild(SessionID, ChildPageNo(i));
      if (i > 0 && child->LeftPageNo() != ChildPageNo(i - 1)) RaiseIntegrity(20033, pageNo, i);
      if (i < count - 1 && child->RightPageNo() != ChildPageNo(i + 1))
        RaiseIntegrity(20034, pageNo, i);
      child->CheckPage(SessionID, KeyPath, Depth + 1, Levels, LeafDepth);
      if (i >= 1) {
        // Every key below child i is at least separator i ...
        if (child->GetFirstKey(SessionID, key.As<uint8_t>()) &&
            LKeyRef->CompareShortKeys(key.As<uint8_t>(), GetPKey(i), false, -1, nullptr,
                                      nullptr) < 0)
          RaiseIntegrity(20031, pageNo, i);
      }
      if (i + 1 < count) {
        // ... and every key below child i is at most separator i + 1.
        if (child->GetLastKey(SessionID, key.As<uint8_t>()) &&
            LKeyRef->CompareShortKeys(key.As<uint8_t>(), GetPKey(i + 1), false, -1, nullptr,
                                      nullptr) > 0)
          RaiseIntegrity(20030, pageNo, i + 1);
      }
    }
    KeyPath.DeleteLastItem();
  }
  for (int32_t i = 1; i + 1 < count; ++i) {
    if (LKeyRef->CompareShortKeys(GetPKey(i), GetPKey(i + 1), false, -1, nullptr, nullptr) > 0)
      RaiseIntegrity(20029, pageNo, i);
  }
}

// --- Moving along a level ------------------------------------------------------------

bool MoveKeyPath(TVEXPageManager& PageManager, TVEXBTreeKeyRef& KeyRef, int32_t SessionID,
                 TVEXKeyPath& Position, bool Forward, int32_t EmptyPathCode,
                 int32_t BrokenLinkCode) {
  if (Position.Count <= 0) throw EVEXException(EmptyPathCode, "Index error: invalid position");
  int32_t i = Position.Count - 1;
  for (; i >= 0; --i) {
    const TVEXKeyPath::TItem& item = Position.Items[static_cast<size_t>(i)];
    if (Forward ? item.EntryNo < item.EntryCount - 1 : item.EntryNo >= 1) break;
  }
  if (i < 0) return false;
  // Work on a copy so that a broken link leaves the caller's path as it was.
  TVEXKeyPath moved;
  moved.Assign(Position);
  moved.Items[static_cast<size_t>(i)].EntryNo += Forward ? 1 : -1;
  for (int32_t j = i + 1; j < moved.Count; ++j) {
    TVEXKeyPath::TItem& item = moved.Items[static_cast<size_t>(j)];
    int32_t next;
    {
      TVEXBTreePagePtr page = TVEXBTreePage::GetIndexPage(PageManager, KeyRef, SessionID,
                                                          item.PageNo);
      next = Forward ? page->RightPageNo() : page->LeftPageNo();
    }
    if (next == -1) throw EVEXException(BrokenLinkCode, "Index error: invalid page number");
    TVEXBTreePagePtr page = TVEXBTreePage::GetIndexPage(PageManager, KeyRef, SessionID, next);
    if (page->EntryCount() == 0) throw EVEXException(BrokenLinkCode, "Index error: invalid page number");
    item.PageNo = next;
    item.EntryCount = page->EntryCount();
    item.EntryNo = Forward ? 0 : page->EntryCount() - 1;
  }
  Position.Assign(moved);
  return true;
}

TVEXBTreePagePtr GetLeafAtPosition(TVEXPageManager& PageManager, TVEXBTreeKeyRef& KeyRef,
                                   int32_t SessionID, const TVEXKeyPath& Position,
                                   int32_t EmptyPathCode) {
  if (Position.Count <= 0) throw EVEXException(EmptyPathCode, "Index error: invalid position");
  const TVEXKeyPath::TItem& item = Position.Items[static_cast<size_t>(Position.Count - 1)];
  TVEXBTreePagePtr page = TVEXBTreePage::GetIndexPage(PageManager, KeyRef, SessionID, item.PageNo);
  if (!page->IsLeaf() || item.EntryNo < 0 || item.EntryNo >= page->EntryCount())
    throw EVEXException(20035, kIntegrityError, item.PageNo, item.EntryNo);
  return page;
}

}  // namespace vex
