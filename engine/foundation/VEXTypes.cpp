#include "foundation/VEXTypes.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXStream.h"

namespace vex {

namespace {

constexpr const char* kInvalidBitNo = "Invalid bit no = %d, number of bits = %d";

// The next capacity for a growth to newSize, doubling the step first. Shared by
// both arrays so that they grow alike.
template <class Int>
Int GrowCapacity(Int capacity, Int newSize, Int& allocBy, Int maxAllocBy) {
  allocBy = static_cast<Int>(std::min<int64_t>(int64_t{allocBy} * 2, maxAllocBy));
  int64_t grown = int64_t{capacity} + allocBy;
  return grown > newSize ? static_cast<Int>(grown) : newSize;
}

// Whether a shrink to newSize gives the storage back (and doubles the shrink
// threshold when it does).
template <class Int>
bool ShouldShrink(Int capacity, Int newSize, Int& deAllocBy, Int maxAllocBy) {
  if (int64_t{capacity} - newSize <= deAllocBy) return false;
  deAllocBy = static_cast<Int>(std::min<int64_t>(int64_t{deAllocBy} * 2, maxAllocBy));
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEXIntegerArray

TVEXIntegerArray::TVEXIntegerArray(int32_t size, int32_t DefaultAllocBy, int32_t MaximumAllocBy)
    : AllocBy(DefaultAllocBy), deAllocBy(DefaultAllocBy), MaxAllocBy(MaximumAllocBy) {
  SetSize(size);
}

void TVEXIntegerArray::SetSize(int32_t newSize) {
  if (newSize <= 0) {
    ItemCount = 0;
    AllocItemCount = 0;
    std::vector<int32_t>().swap(Items);
    return;
  }
  if (newSize > AllocItemCount) {
    AllocItemCount = GrowCapacity(AllocItemCount, newSize, AllocBy, MaxAllocBy);
    Items.resize(static_cast<size_t>(AllocItemCount));
  } else if (newSize < ItemCount && ShouldShrink(AllocItemCount, newSize, deAllocBy, MaxAllocBy)) {
    AllocItemCount = newSize;
    Items.resize(static_cast<size_t>(newSize));
    Items.shrink_to_fit();
  }
  ItemCount = newSize;
}

void TVEXIntegerArray::Append(int32_t value) {
  SetSize(ItemCount + 1);
  Items[ItemCount - 1] = value;
}

void TVEXIntegerArray::Insert(int32_t ItemNo, int32_t value) {
  SetSize(ItemCount + 1);
  int32_t last = ItemCount - 1;
  if (ItemNo >= last) {
    Items[last] = value;
    return;
  }
  std::memmove(&Items[ItemNo + 1], &Items[ItemNo], sizeof(int32_t) * (last - ItemNo));
  Items[ItemNo] = value;
}

void TVEXIntegerArray::Delete(int32_t ItemNo) {
  int32_t after = ItemCount - ItemNo - 1;
  if (after > 0) std::memmove(&Items[ItemNo], &Items[ItemNo + 1], sizeof(int32_t) * after);
  --ItemCount;
}

void TVEXIntegerArray::MoveTo(int32_t itemNo, int32_t newItemNo) {
  if (itemNo == newItemNo) return;
  if (itemNo - newItemNo == 1 || newItemNo - itemNo == 1) {
    std::swap(Items[itemNo], Items[newItemNo]);
    return;
  }
  int32_t value = Items[itemNo];
  if (itemNo > newItemNo) {
    std::memmove(&Items[newItemNo + 1], &Items[newItemNo], sizeof(int32_t) * (itemNo - newItemNo));
    Items[newItemNo] = value;
  } else {
    std::memmove(&Items[itemNo], &Items[itemNo + 1], sizeof(int32_t) * (newItemNo - 1 - itemNo));
    Items[newItemNo - 1] = value;
  }
}

void TVEXIntegerArray::CopyTo(int32_t* ar, int32_t itemNo, int32_t iCount) const {
  if (ItemCount == 0 || iCount <= 0) return;
  std::memcpy(ar, &Items[itemNo], sizeof(int32_t) * iCount);
}

bool TVEXIntegerArray::IsValueExists(int32_t value) const { return IndexOf(value) >= 0; }

int32_t TVEXIntegerArray::IndexOf(int32_t value) const {
  for (int32_t i = 0; i < ItemCount; ++i)
    if (Items[i] == value) return i;
  return -1;
}

void TVEXIntegerArray::Assign(const TVEXIntegerArray& v) {
  if (&v == this) return;
  SetSize(v.ItemCount);
  if (v.ItemCount > 0) std::copy_n(v.Items.begin(), v.ItemCount, Items.begin());
}

// ---------------------------------------------------------------------------
// TVEXCompressedStreamBlockHeadersArray

void TVEXCompressedStreamBlockHeadersArray::SetSize(int64_t NewSize) {
  if (NewSize <= 0) {
    ItemCount = 0;
    AllocItemCount = 0;
    std::vector<TVEXCompressedStreamBlockHeader>().swap(Items);
    std::vector<int64_t>().swap(Positions);
    return;
  }
  if (NewSize > AllocItemCount) {
    AllocItemCount = GrowCapacity(AllocItemCount, NewSize, AllocBy, MaxAllocBy);
    Items.resize(static_cast<size_t>(AllocItemCount), TVEXCompressedStreamBlockHeader{});
    Positions.resize(static_cast<size_t>(AllocItemCount), 0);
  } else if (NewSize < ItemCount && ShouldShrink(AllocItemCount, NewSize, DeAllocBy, MaxAllocBy)) {
    AllocItemCount = NewSize;
    Items.resize(static_cast<size_t>(NewSize));
    Items.shrink_to_fit();
    Positions.resize(static_cast<size_t>(NewSize));
    Positions.shrink_to_fit();
  }
  ItemCount = NewSize;
}

void TVEXCompressedStreamBlockHeadersArray::AppendItem(const TVEXCompressedStreamBlockHeader& Value,
                                                       int64_t Pos) {
  SetSize(ItemCount + 1);
  Items[ItemCount - 1] = Value;
  Positions[ItemCount - 1] = Pos;
}

int32_t TVEXCompressedStreamBlockHeadersArray::FindPosition(int64_t Pos) const {
  if (ItemCount == 0) return 0;
  auto end = Positions.begin() + ItemCount;
  // The first block starting after Pos; the one before it holds Pos.
  auto it = std::upper_bound(Positions.begin(), end, Pos);
  if (it == Positions.begin()) return 0;
  return static_cast<int32_t>(it - Positions.begin() - 1);
}

// ---------------------------------------------------------------------------
// TVEXBitsArray

TVEXBitsArray::TVEXBitsArray() {
  for (int v = 0; v < 256; ++v) {
    int n = 0;
    for (int b = v; b != 0; b >>= 1) n += b & 1;
    FBitsTable[v] = static_cast<uint8_t>(n);
  }
}

TVEXBitsArray::~TVEXBitsArray() {
  if (FBits != nullptr) {
    void* p = FBits;
    FBits = nullptr;
    MemoryManager->FreeAndNillMem(p);
  }
}

void TVEXBitsArray::ClearTailBits() {
  int32_t used = FBitCount % 8;
  if (used != 0) FBits[FBitCount / 8] &= static_cast<uint8_t>((1u << used) - 1);
}

// Set bits among bytes [from, to), a word at a time.
int32_t TVEXBitsArray::CountBytes(int32_t from, int32_t to) const {
  int32_t n = 0;
  int32_t i = from;
  for (; i + 8 <= to; i += 8) {
    uint64_t word;
    std::memcpy(&word, FBits + i, 8);
    n += std::popcount(word);
  }
  for (; i < to; ++i) n += std::popcount(FBits[i]);
  return n;
}

int32_t TVEXBitsArray::CountBits(int32_t bitCount) const {
  const int32_t whole = bitCount / 8;
  int32_t n = CountBytes(0, whole);
  int32_t rest = bitCount % 8;
  if (rest != 0) n += FBitsTable[FBits[whole] & ((1u << rest) - 1)];
  return n;
}

// Moves the cached place to byteNo and gives the set bits before it. Walks by
// position ask for neighbouring places one after the other, so each answer
// costs the distance from the last one, not from bit 0.
int32_t TVEXBitsArray::SetBitsBeforeByte(int32_t byteNo) const {
  const uint64_t cached = FCachedPlace.load(std::memory_order_relaxed);
  int32_t cachedByte = static_cast<int32_t>(cached >> 32);
  int32_t before = static_cast<int32_t>(cached & 0xFFFFFFFFu);
  if (cachedByte > ByteCount()) {
    cachedByte = 0;
    before = 0;
  }
  if (byteNo >= cachedByte) {
    before += CountBytes(cachedByte, byteNo);
  } else if (byteNo >= cachedByte / 2) {
    before -= CountBytes(byteNo, cachedByte);
  } else {
    before = CountBytes(0, byteNo);
  }
  FCachedPlace.store((uint64_t(uint32_t(byteNo)) << 32) | uint32_t(before),
                     std::memory_order_relaxed);
  return before;
}

void TVEXBitsArray::ForgetCachedPlace() { FCachedPlace.store(0, std::memory_order_relaxed); }

void TVEXBitsArray::SetSize(int32_t n) {
  if (n <= 0) {
    if (FBits != nullptr) {
      void* p = FBits;
      FBits = nullptr;
      MemoryManager->FreeAndNillMem(p);
    }
    FBitCount = 0;
    FNonZeroBitCount = 0;
    FCapacity = 0;
    ForgetCachedPlace();
    return;
  }
  int32_t bytes = (n + 7) / 8;
  if (FBits == nullptr) {
    FBits = static_cast<uint8_t*>(MemoryManager->AllocMem(bytes));
    FCapacity = bytes;
  } else if (bytes > FCapacity) {
    // Room for an eighth more, so that growing a bit at a time copies the
    // bitmap only now and then instead of every eighth bit.
    const int32_t capacity =
        static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(bytes, int64_t{bytes} + bytes / 8),
                                               INT32_MAX / 8 + 1));
    void* p = FBits;
    MemoryManager->ReallocMemAndClearTail(p, capacity);
    FBits = static_cast<uint8_t*>(p);
    FCapacity = capacity;
  } else if (bytes <= FCapacity / 2) {
    // Much smaller now: give the rest back.
    void* p = FBits;
    MemoryManager->ReallocMemAndClearTail(p, bytes);
    FBits = static_cast<uint8_t*>(p);
    FCapacity = bytes;
  }
  int32_t old = FBitCount;
  FBitCount = n;
  if (n < old) {
    // Dropped bits are cleared, in the last byte and in the spare bytes
    // behind it, so that growing again brings them back clear, as the count
    // expects.
    const int32_t oldBytes = (old + 7) / 8;
    const int32_t spareEnd = std::min(oldBytes, FCapacity);
    if (spareEnd > bytes) std::memset(FBits + bytes, 0, static_cast<size_t>(spareEnd - bytes));
    ClearTailBits();
    FNonZeroBitCount = CountBits(n);
    ForgetCachedPlace();
  }
}

bool TVEXBitsArray::GetBit(int32_t BitNo) const {
  if (BitNo < 0 || BitNo >= FBitCount) throw EVEXException(10394, kInvalidBitNo, BitNo, FBitCount);
  return GetBitFromBuffer(BitNo, FBits);
}

void TVEXBitsArray::SetBit(int32_t BitNo, bool Value) {
  if (BitNo < 0 || BitNo >= FBitCount) throw EVEXException(10395, kInvalidBitNo, BitNo, FBitCount);
  if (GetBitFromBuffer(BitNo, FBits) == Value) return;
  SetBitInBuffer(Value, BitNo, FBits);
  FNonZeroBitCount += Value ? 1 : -1;
  // A bit before the cached place moves its count along.
  const uint64_t cached = FCachedPlace.load(std::memory_order_relaxed);
  if (BitNo / 8 < static_cast<int32_t>(cached >> 32)) {
    FCachedPlace.store(Value ? cached + 1 : cached - 1, std::memory_order_relaxed);
  }
}

void TVEXBitsArray::SetAllBits() {
  if (FBitCount == 0) return;
  std::memset(FBits, 0xFF, static_cast<size_t>(ByteCount()));
  ClearTailBits();
  FNonZeroBitCount = FBitCount;
  ForgetCachedPlace();
}

int32_t TVEXBitsArray::GetBitNoByBitPosition(int32_t BitPosition) const {
  if (BitPosition < 0 || BitPosition >= FNonZeroBitCount)
    throw EVEXException(10428, kInvalidBitNo, BitPosition, FNonZeroBitCount);
  if (FNonZeroBitCount == FBitCount) return BitPosition;
  const int32_t bytes = ByteCount();
  // Start from the cached place when the bit lies behind it, else from the
  // start; whole words, then whole bytes are skipped while they end before it.
  const uint64_t cached = FCachedPlace.load(std::memory_order_relaxed);
  int32_t i = static_cast<int32_t>(cached >> 32);
  int32_t seen = static_cast<int32_t>(cached & 0xFFFFFFFFu);
  if (i > bytes || seen > BitPosition) {
    i = 0;
    seen = 0;
  }
  for (; i + 8 <= bytes; i += 8) {
    uint64_t word;
    std::memcpy(&word, FBits + i, 8);
    const int32_t inWord = std::popcount(word);
    if (seen + inWord > BitPosition) break;
    seen += inWord;
  }
  for (; i < bytes; ++i) {
    int32_t inByte = FBitsTable[FBits[i]];
    if (seen + inByte <= BitPosition) {
      seen += inByte;
      continue;
    }
    FCachedPlace.store((uint64_t(uint32_t(i)) << 32) | uint32_t(seen), std::memory_order_relaxed);
    for (int32_t b = 0; b < 8; ++b) {
      if ((FBits[i] >> b) & 1) {
        if (seen == BitPosition) return i * 8 + b;
        ++seen;
      }
    }
  }
  // Unreachable while the count matches the bitmap.
  throw EVEXException(10428, kInvalidBitNo, BitPosition, FNonZeroBitCount);
}

int32_t TVEXBitsArray::GetBitPositionByBitNo(int32_t BitNo) const {
  if (BitNo < 0 || BitNo >= FBitCount) throw EVEXException(10429, kInvalidBitNo, BitNo, FBitCount);
  if (FNonZeroBitCount == FBitCount) return BitNo;
  int32_t byteNo = BitNo / 8;
  uint32_t mask = (2u << (BitNo % 8)) - 1;
  return -1 + SetBitsBeforeByte(byteNo) + FBitsTable[FBits[byteNo] & mask];
}

bool TVEXBitsArray::FindBit(bool Value, int32_t& BitNo) const {
  uint8_t skip = Value ? 0x00 : 0xFF;
  int32_t bytes = ByteCount();
  for (int32_t i = 0; i < bytes; ++i) {
    if (FBits[i] == skip) continue;
    for (int32_t b = 0; b < 8 && i * 8 + b < FBitCount; ++b) {
      if ((((FBits[i] >> b) & 1) != 0) == Value) {
        BitNo = i * 8 + b;
        return true;
      }
    }
  }
  return false;
}

bool TVEXBitsArray::Find(bool Restart, bool GoForward, int32_t CurBitNo,
                         int32_t& FoundBitNo) const {
  if (FBitCount == 0) return false;
  if (GoForward) {
    int64_t bit = Restart ? 0 : std::max<int64_t>(int64_t{CurBitNo} + 1, 0);
    while (bit < FBitCount) {
      if (bit % 8 == 0 && FBits[bit / 8] == 0) {
        bit += 8;
        continue;
      }
      if ((FBits[bit / 8] >> (bit % 8)) & 1) {
        FoundBitNo = static_cast<int32_t>(bit);
        return true;
      }
      ++bit;
    }
  } else {
    int64_t bit = Restart ? FBitCount - 1 : std::min<int64_t>(int64_t{CurBitNo} - 1, FBitCount - 1);
    while (bit >= 0) {
      if (bit % 8 == 7 && FBits[bit / 8] == 0) {
        bit -= 8;
        continue;
      }
      if ((FBits[bit / 8] >> (bit % 8)) & 1) {
        FoundBitNo = static_cast<int32_t>(bit);
        return true;
      }
      --bit;
    }
  }
  return false;
}

void TVEXBitsArray::SaveToStream(rtl::TStream& Stream) const {
  WriteStreamChecked(&FBitCount, 4, Stream, 10398);
  WriteStreamChecked(&FNonZeroBitCount, 4, Stream, 10427);
  if (FBitCount < 1) return;
  if (FBits == nullptr) RaiseNilPointer(10399);
  WriteStreamChecked(FBits, ByteCount(), Stream, 10400);
}

void TVEXBitsArray::LoadFromStream(rtl::TStream& Stream) {
  int32_t bitCount = 0;
  int32_t nonZeroBitCount = 0;
  ReadStreamChecked(&bitCount, 4, Stream, 10401);
  ReadStreamChecked(&nonZeroBitCount, 4, Stream, 10426);
  if (bitCount < 0) throw EVEXException(10401, "Invalid number of bits = %d", bitCount);
  // Read into a scratch buffer first so that a short stream leaves this bitmap
  // as it was.
  // The count comes from a file: refuse what the stream cannot hold before
  // allocating for it.
  CheckStreamHolds(Stream, (int64_t{bitCount} + 7) / 8, 10402);
  std::vector<uint8_t> bytes(static_cast<size_t>((int64_t{bitCount} + 7) / 8));
  if (!bytes.empty())
    ReadStreamChecked(bytes.data(), static_cast<int32_t>(bytes.size()), Stream, 10402);
  SetSize(0);
  SetSize(bitCount);
  if (bitCount == 0) return;
  std::memcpy(FBits, bytes.data(), bytes.size());
  // The stored count is not trusted: a damaged one would send the bit
  // searches past the end of the bitmap. Stray bits past the count go too.
  ClearTailBits();
  FNonZeroBitCount = CountBits(FBitCount);
}

// ---------------------------------------------------------------------------

bool GetBitFromBuffer(int32_t BitNo, const void* Buffer) {
  return ((static_cast<const uint8_t*>(Buffer)[BitNo / 8] >> (BitNo % 8)) & 1) != 0;
}

void SetBitInBuffer(bool Value, int32_t BitNo, void* Buffer) {
  uint8_t& byte = static_cast<uint8_t*>(Buffer)[BitNo / 8];
  uint8_t mask = static_cast<uint8_t>(1u << (BitNo % 8));
  if (Value)
    byte |= mask;
  else
    byte &= static_cast<uint8_t>(~mask);
}

}  // namespace vex
