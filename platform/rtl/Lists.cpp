#include "rtl/Lists.h"

#include "rtl/CodePage.h"
#include "rtl/Format.h"

namespace rtl {

void RaiseListIndexError(int32_t index) {
  throw EListError(Format("List index out of bounds (%d)", index));
}

void TBits::SetSize(int32_t size) {
  if (size < 0) throw EListError("Bits index out of range");
  FBits.resize(static_cast<size_t>(size));
}

bool TBits::Get(int32_t index) const {
  if (index < 0) throw EListError("Bits index out of range");
  return index < Size() && FBits[static_cast<size_t>(index)];
}

void TBits::Set(int32_t index, bool value) {
  if (index < 0) throw EListError("Bits index out of range");
  if (index >= Size()) {
    if (!value) return;
    FBits.resize(static_cast<size_t>(index) + 1);
  }
  FBits[static_cast<size_t>(index)] = value;
}

int32_t TBits::OpenBit() const {
  for (int32_t i = 0; i < Size(); ++i) {
    if (!FBits[static_cast<size_t>(i)]) return i;
  }
  return Size();
}

void TStringList::Check(int32_t index) const {
  if (index < 0 || index >= Count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
}

void TStringList::Changed() {
  if (FUpdateCount > 0) {
    FChangedInUpdate = true;
  } else if (OnChange) {
    OnChange();
  }
}

void TStringList::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0 && FChangedInUpdate) {
    FChangedInUpdate = false;
    if (OnChange) OnChange();
  }
}

int TStringList::Compare(std::string_view a, std::string_view b) const {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char ca = FCaseSensitive ? a[i] : AnsiUpperChar(a[i]);
    char cb = FCaseSensitive ? b[i] : AnsiUpperChar(b[i]);
    if (ca != cb) return static_cast<uint8_t>(ca) < static_cast<uint8_t>(cb) ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

const std::string& TStringList::Strings(int32_t index) const {
  Check(index);
  return FItems[static_cast<size_t>(index)].Text;
}

void TStringList::SetStrings(int32_t index, std::string value) {
  if (FSorted) throw EStringListError("Operation not allowed on sorted list");
  Check(index);
  FItems[static_cast<size_t>(index)].Text = std::move(value);
  Changed();
}

void* TStringList::Objects(int32_t index) const {
  Check(index);
  return FItems[static_cast<size_t>(index)].Object;
}

void TStringList::SetObjects(int32_t index, void* object) {
  Check(index);
  FItems[static_cast<size_t>(index)].Object = object;
  Changed();
}

int32_t TStringList::Add(std::string value) { return AddObject(std::move(value), nullptr); }

int32_t TStringList::AddObject(std::string value, void* object) {
  int32_t index = Count();
  if (FSorted) {
    if (Find(value, index)) {
      if (FDuplicates == dupIgnore) return index;
      if (FDuplicates == dupError) throw EStringListError("String list does not allow duplicates");
    }
  }
  FItems.insert(FItems.begin() + index, Item{std::move(value), object});
  Changed();
  return index;
}

void TStringList::Insert(int32_t index, std::string value) {
  InsertObject(index, std::move(value), nullptr);
}

void TStringList::InsertObject(int32_t index, std::string value, void* object) {
  if (FSorted) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
  FItems.insert(FItems.begin() + index, Item{std::move(value), object});
  Changed();
}

void TStringList::Delete(int32_t index) {
  Check(index);
  FItems.erase(FItems.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (FItems.empty()) return;
  FItems.clear();
  Changed();
}

void TStringList::Exchange(int32_t a, int32_t b) {
  Check(a);
  Check(b);
  std::swap(FItems[static_cast<size_t>(a)], FItems[static_cast<size_t>(b)]);
  Changed();
}

int32_t TStringList::IndexOf(std::string_view value) const {
  if (FSorted) {
    int32_t index;
    return Find(value, index) ? index : -1;
  }
  for (int32_t i = 0; i < Count(); ++i) {
    if (Compare(FItems[static_cast<size_t>(i)].Text, value) == 0) return i;
  }
  return -1;
}

int32_t TStringList::IndexOfObject(const void* object) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (FItems[static_cast<size_t>(i)].Object == object) return i;
  }
  return -1;
}

bool TStringList::Find(std::string_view value, int32_t& index) const {
  // Lower bound, so that among duplicates the first is found.
  int32_t lo = 0;
  int32_t hi = Count();
  while (lo < hi) {
    int32_t mid = lo + (hi - lo) / 2;
    if (Compare(FItems[static_cast<size_t>(mid)].Text, value) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  index = lo;
  return lo < Count() && Compare(FItems[static_cast<size_t>(lo)].Text, value) == 0;
}

void TStringList::Sort() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [this](const Item& a, const Item& b) { return Compare(a.Text, b.Text) < 0; });
  Changed();
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == FSorted) return;
  if (sorted) Sort();
  FSorted = sorted;
}

void TStringList::SetCaseSensitive(bool caseSensitive) {
  if (caseSensitive == FCaseSensitive) return;
  FCaseSensitive = caseSensitive;
  if (FSorted) Sort();
}

std::string TStringList::Text() const {
  std::string out;
  for (const Item& item : FItems) {
    out += item.Text;
    out += "\r\n";
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  BeginUpdate();
  Clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    Add(std::string(text.substr(start, end - start)));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
      ++end;
    }
    start = end + 1;
  }
  EndUpdate();
}

}  // namespace rtl
