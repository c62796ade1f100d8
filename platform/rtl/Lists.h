// The platform's list classes, in the subset the system uses.
//
// TList<T> is an ordered list of non-owning pointers (the platform's untyped
// pointer list, typed here); TThreadList<T> guards one with a re-entrant lock;
// TBits is a growable bit set. TStringList is an ordered list of 8-bit strings,
// each with an associated non-owning object pointer; it can keep itself sorted
// (binary search, with a duplicates policy) and compares either case-sensitively
// or ignoring the case of the 1252 letters. Its Text is every string followed by
// CR LF. Indexes out of range raise EListError / EStringListError
// "List index out of bounds (%d)".
//
// Ordering is by the bytes of the (case-folded) text, not by a locale's
// collation: the run-time layer sits below the ICU collation service.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"

namespace rtl {

[[noreturn]] void RaiseListIndexError(int32_t index);

template <class T>
class TList {
 public:
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  T* Get(int32_t index) const {
    Check(index);
    return FItems[static_cast<size_t>(index)];
  }
  T* operator[](int32_t index) const { return Get(index); }
  void Put(int32_t index, T* item) {
    Check(index);
    FItems[static_cast<size_t>(index)] = item;
  }

  int32_t Add(T* item) {
    FItems.push_back(item);
    return Count() - 1;
  }
  void Insert(int32_t index, T* item) {
    if (index < 0 || index > Count()) RaiseListIndexError(index);
    FItems.insert(FItems.begin() + index, item);
  }
  void Delete(int32_t index) {
    Check(index);
    FItems.erase(FItems.begin() + index);
  }
  // Removes the first occurrence; its former index, or -1 when absent.
  int32_t Remove(T* item) {
    int32_t index = IndexOf(item);
    if (index >= 0) Delete(index);
    return index;
  }
  int32_t IndexOf(const T* item) const {
    auto it = std::find(FItems.begin(), FItems.end(), item);
    return it == FItems.end() ? -1 : static_cast<int32_t>(it - FItems.begin());
  }
  void Exchange(int32_t a, int32_t b) {
    Check(a);
    Check(b);
    std::swap(FItems[static_cast<size_t>(a)], FItems[static_cast<size_t>(b)]);
  }
  void Clear() { FItems.clear(); }
  T* First() const { return Get(0); }
  T* Last() const { return Get(Count() - 1); }

  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

 private:
  void Check(int32_t index) const {
    if (index < 0 || index >= Count()) RaiseListIndexError(index);
  }
  std::vector<T*> FItems;
};

// A TList guarded by its own re-entrant lock. LockList returns a guard that
// holds the lock for its lifetime and gives access to the list; every access
// goes through one.
template <class T>
class TThreadList {
 public:
  class Locked {
   public:
    explicit Locked(TThreadList& owner) : FGuard(owner.FLock), FList(owner.FList) {}
    TList<T>* operator->() const { return &FList; }
    TList<T>& operator*() const { return FList; }

   private:
    std::unique_lock<std::recursive_mutex> FGuard;
    TList<T>& FList;
  };

  Locked LockList() { return Locked(*this); }
  void Add(T* item) { LockList()->Add(item); }
  void Remove(T* item) { LockList()->Remove(item); }
  void Clear() { LockList()->Clear(); }

 private:
  std::recursive_mutex FLock;
  TList<T> FList;
};

// A growable set of bits. Reading past the end gives false; setting past the
// end grows the set.
class TBits {
 public:
  int32_t Size() const { return static_cast<int32_t>(FBits.size()); }
  void SetSize(int32_t size);  // EListError for a negative size
  bool Get(int32_t index) const;
  void Set(int32_t index, bool value);  // EListError for a negative index
  // The lowest index whose bit is clear (Size() when every bit is set).
  int32_t OpenBit() const;

 private:
  std::vector<bool> FBits;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList {
 public:
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  const std::string& Strings(int32_t index) const;
  const std::string& operator[](int32_t index) const { return Strings(index); }
  // Replaces a string; refused on a sorted list (EStringListError).
  void SetStrings(int32_t index, std::string value);
  void* Objects(int32_t index) const;
  void SetObjects(int32_t index, void* object);

  // Appends, or on a sorted list inserts at the sorted place. A duplicate on a
  // sorted list is dropped (dupIgnore: returns the existing index), kept
  // (dupAccept) or refused (dupError: EStringListError
  // "String list does not allow duplicates").
  int32_t Add(std::string value);
  int32_t AddObject(std::string value, void* object);
  // Refused on a sorted list (EStringListError "Operation not allowed on sorted list").
  void Insert(int32_t index, std::string value);
  void InsertObject(int32_t index, std::string value, void* object);
  void Delete(int32_t index);
  void Clear();
  void Exchange(int32_t a, int32_t b);

  // The first index whose string equals `value` under the list's case rule; -1 when none.
  int32_t IndexOf(std::string_view value) const;
  int32_t IndexOfObject(const void* object) const;
  // Binary search of a sorted list: true and the index when found, else false
  // and the index where it would go.
  bool Find(std::string_view value, int32_t& index) const;

  bool Sorted() const { return FSorted; }
  void SetSorted(bool sorted);  // sorting an unsorted list sorts it now
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool caseSensitive);  // re-sorts a sorted list
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates duplicates) { FDuplicates = duplicates; }
  void Sort();

  // Every string followed by CR LF. SetText splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(std::string_view text);

  // Changes inside BeginUpdate/EndUpdate fire OnChange once, at the last EndUpdate.
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  std::function<void()> OnChange;

  // -1, 0 or 1 under the list's case rule.
  int Compare(std::string_view a, std::string_view b) const;

 private:
  struct Item {
    std::string Text;
    void* Object = nullptr;
  };
  void Check(int32_t index) const;
  void Changed();

  std::vector<Item> FItems;
  bool FSorted = false;
  bool FCaseSensitive = false;
  TDuplicates FDuplicates = dupIgnore;
  int FUpdateCount = 0;
  bool FChangedInUpdate = false;
};

}  // namespace rtl
