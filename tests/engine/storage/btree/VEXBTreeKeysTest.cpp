#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/VEXTableFakes.h"
#include "storage/btree/VEXBTreeKeys.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::AddField;
using testing::FakeTable;
using testing::NullRecord;
using testsupport::CodeOf;

std::string Hex(const uint8_t* bytes, int32_t size) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (int32_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// A table of an integer I, a 30-character text S, a 30-character wide text W
// and an integer N, with records stored in the fake record manager.
class RecordKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    TVEXFieldDefs& defs = Table.Fields.FieldDefs();
    AddField(defs, "I", aftInteger);
    AddField(defs, "S", aftString, 30);
    AddField(defs, "W", aftWideString, 30);
    AddField(defs, "N", aftInteger);
    Table.Open();
  }

  const TVEXFieldDefs& Defs() { return Table.Fields.FieldDefs(); }

  // A record with I = i, S = s, W = w (each null when absent).
  std::vector<uint8_t> Record(const int32_t* i, const char* s, const char16_t* w = nullptr) {
    std::vector<uint8_t> record = NullRecord(Defs());
    if (i != nullptr) testing::SetField(Defs(), record, 0, *i);
    if (s != nullptr) {
      std::memcpy(record.data() + Defs().GetDef(1)->MemoryOffset, s, std::strlen(s));
      SetBitInBuffer(false, 1, record.data());
    }
    if (w != nullptr) {
      std::u16string text(w);
      std::memcpy(record.data() + Defs().GetDef(2)->MemoryOffset, text.data(), text.size() * 2);
      SetBitInBuffer(false, 2, record.data());
    }
    return record;
  }

  // A stored record's id as the 6-byte reference of an entry.
  std::vector<uint8_t> Store(const std::vector<uint8_t>& record) {
    TVEXPageItemID id{};
    Table.Records->AddRecord(kSessionForKeys, record.data(), id);
    std::vector<uint8_t> reference(6);
    std::memcpy(reference.data(), &id, 6);
    return reference;
  }

  const TVEXIndexDef& Index(std::initializer_list<std::pair<const char*, bool>> columns,
                            int32_t maxIndexedSize = 20) {
    Def = std::make_unique<TVEXIndexDef>();
    Def->SetColumnCount(static_cast<int32_t>(columns.size()));
    int32_t c = 0;
    for (const auto& [name, descending] : columns) {
      TVEXIndexColumn* column = Def->GetIndexColumn(c++);
      column->FieldName = name;
      column->Descending = descending;
      column->MaxIndexedSize = maxIndexedSize;
    }
    return *Def;
  }

  std::vector<uint8_t> ShortKey(TVEXRecordKeyRef& ref, const std::vector<uint8_t>& record) {
    // Exactly the key's size, so that a read past it is caught.
    std::vector<uint8_t> key(static_cast<size_t>(ref.ShortKeySize()), 0xEE);
    ref.MakeShortKeyFromRecordBuffer(record.data(), key.data());
    return key;
  }

  static constexpr int32_t kSessionForKeys = 1;
  FakeTable Table;
  std::unique_ptr<TVEXIndexDef> Def;
};

TEST_F(RecordKeys, ShortAndFullKeysLayTheColumnsOutWithNullFlagsAndCutText) {
  TVEXRecordKeyRef ref;
  ref.Assign(Index({{"I", false}, {"S", false}, {"N", false}}, 4), &Table);
  // I: 1 + 4; S (31 bytes in memory) cut to 4 + 2 terminator bytes; N: 1 + 4.
  ASSERT_EQ(ref.PartCount(), 3);
  EXPECT_EQ(ref.Parts[1].ShortSize, 4 + 3);
  EXPECT_EQ(ref.Parts[1].AddedSize, 2);
  EXPECT_EQ(ref.Parts[1].FullSize, 31 + 1);
  EXPECT_EQ(ref.Parts[2].OffsetInShortKeyBuffer, 5 + 7);
  EXPECT_EQ(ref.ShortKeySize(), 5 + 7 + 5);
  EXPECT_EQ(ref.FullKeySize(), 5 + 32 + 5);
  EXPECT_EQ(ref.CompareFieldCount(), 3);

  const int32_t i = 0x01020304;
  std::vector<uint8_t> record = Record(&i, "abcdefg");
  std::vector<uint8_t> key = ShortKey(ref, record);
  EXPECT_EQ(Hex(key.data(), ref.ShortKeySize()),
            "00"
            "04030201"  // I
            "00"
            "61626364"
            "0000"  // S, cut after four bytes and ended
            "01"
            "EEEEEEEE");  // N is null: only its flag is written
  std::vector<uint8_t> full(static_cast<size_t>(ref.FullKeySize()), 0xEE);
  ref.MakeFullKeyFromRecordBuffer(record.data(), full.data());
  EXPECT_EQ(Hex(full.data() + 5, 10), "0061626364656667" "0000");
  EXPECT_EQ(full[5 + 32], 0x01);
  EXPECT_EQ(ref.LastRecordBuffer(), record.data());
}

TEST_F(RecordKeys, AssignRefusesUnknownAndBlobColumns) {
  TVEXRecordKeyRef ref;
  std::string message;
  EXPECT_EQ(CodeOf([&] { ref.Assign(Index({{"X", false}}), &Table); }, &message), 20043);
  EXPECT_NE(message.find("Cannot find index field 'X'"), std::string::npos) << message;
  AddField(Table.Fields.FieldDefs(), "B", aftBlob);
  EXPECT_EQ(CodeOf([&] { ref.Assign(Index({{"B", false}}), &Table); }), 20295);
  EXPECT_EQ(CodeOf([&] { ref.Assign(Index({{"I", false}}), nullptr); }), 20044);
}

TEST_F(RecordKeys, NullsSortFirstAscendingAndLastDescending) {
  const int32_t one = 1;
  const int32_t minus = -5;
  for (bool descending : {false, true}) {
    TVEXRecordKeyRef ref;
    ref.Assign(Index({{"I", descending}}), &Table);
    const auto null = ShortKey(ref, Record(nullptr, nullptr));
    const auto null2 = ShortKey(ref, Record(nullptr, "x"));
    const auto low = ShortKey(ref, Record(&minus, nullptr));
    const auto high = ShortKey(ref, Record(&one, nullptr));
    const int32_t sign = descending ? -1 : 1;
    EXPECT_EQ(ref.CompareShortKeys(null.data(), low.data(), false, -1, nullptr, nullptr), -sign);
    EXPECT_EQ(ref.CompareShortKeys(low.data(), high.data(), false, -1, nullptr, nullptr), -sign);
    EXPECT_EQ(ref.CompareShortKeys(null.data(), null2.data(), false, -1, nullptr, nullptr), 0);
  }
}

TEST_F(RecordKeys, CutTextTiesAreSettledByTheRecordsOnlyWhenAllowed) {
  TVEXRecordKeyRef ref;
  ref.Assign(Index({{"S", false}, {"I", false}}, 4), &Table);
  const int32_t one = 1;
  const int32_t two = 2;
  const auto recordB = Record(&one, "abcdZZ");
  const auto recordA = Record(&two, "abcdAA");
  const auto refB = Store(recordB);
  const auto refA = Store(recordA);
  const auto keyB = ShortKey(ref, recordB);
  const auto keyA = ShortKey(ref, recordA);
  // Without full keys a tie on a cut column ends the comparison: I is not
  // looked at either.
  EXPECT_EQ(ref.CompareShortKeys(keyA.data(), keyB.data(), false, -1, nullptr, nullptr), 0);
  // With both record ids the whole texts decide.
  EXPECT_EQ(ref.CompareShortKeys(keyA.data(), keyB.data(), true, 1, refA.data(), refB.data()), -1);
  EXPECT_EQ(ref.CompareShortKeys(keyB.data(), keyA.data(), true, 1, refB.data(), refA.data()), 1);
  // Without the first id the record the key was made from stands for it.
  ShortKey(ref, recordA);
  EXPECT_EQ(ref.CompareShortKeys(keyA.data(), keyB.data(), true, 1, nullptr, refB.data()), -1);
  // A record id that no longer reads.
  std::vector<uint8_t> gone(6, 0x7F);
  EXPECT_EQ(CodeOf([&] {
              ref.CompareShortKeys(keyA.data(), keyB.data(), true, 1, refA.data(), gone.data());
            }),
            20170);
  // A text that ends inside the prefix is whole in the key: no record read.
  const auto shortText = ShortKey(ref, Record(&one, "abc"));
  EXPECT_EQ(ref.CompareShortKeys(shortText.data(), keyB.data(), true, 1, gone.data(), gone.data()),
            -1);
  // CompareFieldCount 1 ignores I.
  const auto keyC = ShortKey(ref, Record(&two, "abc"));
  ref.SetCompareFieldCount(1);
  EXPECT_EQ(ref.CompareShortKeys(shortText.data(), keyC.data(), false, -1, nullptr, nullptr), 0);
}

TEST_F(RecordKeys, PartialCompareMatchesPrefixesAndReadsNoFurtherThanTheStoredKey) {
  TVEXRecordKeyRef ref;
  ref.Assign(Index({{"W", false}}, 8), &Table);  // 4 wide characters kept
  ASSERT_EQ(ref.ShortKeySize(), 1 + 8 + 2);
  const auto recordLong = Record(nullptr, nullptr, u"abcdefghij");
  const auto recordOther = Record(nullptr, nullptr, u"abcdXYZ");
  const auto refLong = Store(recordLong);
  const auto refOther = Store(recordOther);
  const auto keyLong = ShortKey(ref, recordLong);
  const auto keyOther = ShortKey(ref, recordOther);

  // A search text within the stored prefix: decided by the keys alone.
  const auto search = Record(nullptr, nullptr, u"abc");
  ref.SetPartialCompare(search.data(), true);
  const auto keySearch = ShortKey(ref, search);
  EXPECT_EQ(ref.CompareShortKeys(keySearch.data(), keyLong.data(), true, 1, nullptr, refLong.data()),
            0);
  const auto shorter = ShortKey(ref, Record(nullptr, nullptr, u"ab"));
  ref.SetPartialCompare(Record(nullptr, nullptr, u"abc").data(), true);
  EXPECT_EQ(ref.CompareShortKeys(shorter.data(), keyLong.data(), true, 1, nullptr, refLong.data()),
            -1);

  // A search text longer than the stored prefix (7 characters against 4):
  // the length is capped at the stored characters, and the records decide.
  const auto longSearch = Record(nullptr, nullptr, u"abcdefg");
  ref.SetPartialCompare(longSearch.data(), true);
  const auto keyLongSearch = ShortKey(ref, longSearch);
  EXPECT_EQ(ref.CompareShortKeys(keyLongSearch.data(), keyLong.data(), true, 1, nullptr,
                                 refLong.data()),
            0);
  EXPECT_EQ(ref.CompareShortKeys(keyLongSearch.data(), keyOther.data(), true, 1, nullptr,
                                 refOther.data()),
            -1);
  ref.SetPartialCompare(nullptr, false);
  EXPECT_EQ(ref.CompareShortKeys(keyLong.data(), keyOther.data(), false, -1, nullptr, nullptr), 0);

  // An odd cut leaves half a character before the terminator bytes; the
  // comparison still stays inside the key (the buffers are exactly its size).
  TVEXRecordKeyRef odd;
  odd.Assign(Index({{"W", false}}, 7), &Table);
  const auto oddLong = ShortKey(odd, recordLong);
  const auto oddOther = ShortKey(odd, recordOther);
  odd.SetPartialCompare(longSearch.data(), true);
  EXPECT_EQ(odd.CompareShortKeys(oddLong.data(), oddOther.data(), false, -1, nullptr, nullptr), 0);
}

TEST(KeyReferences, RecordIdsOrderByPageThenUnsignedItemAndPageKeysAsSignedNumbers) {
  const auto id = [](int32_t page, uint16_t item) {
    std::vector<uint8_t> bytes(6);
    std::memcpy(bytes.data(), &page, 4);
    std::memcpy(bytes.data() + 4, &item, 2);
    return bytes;
  };
  const std::vector<std::vector<uint8_t>> ordered = {id(4, 9), id(5, 0), id(5, 1), id(5, 40000)};
  for (size_t a = 0; a < ordered.size(); ++a) {
    for (size_t b = 0; b < ordered.size(); ++b) {
      EXPECT_EQ(TVEXBTreeKeyRef::CompareReferences(ordered[a].data(), ordered[b].data(), 6),
                a < b ? -1 : a > b ? 1 : 0)
          << a << " " << b;
    }
  }
  TVEXPageKeyRef pages;
  const int32_t minusOne = -1;
  const int32_t zero = 0;
  EXPECT_EQ(pages.CompareShortKeys(reinterpret_cast<const uint8_t*>(&minusOne),
                                   reinterpret_cast<const uint8_t*>(&zero), false, -1, nullptr,
                                   nullptr),
            -1);
  EXPECT_EQ(pages.ShortKeySize(), 4);
  EXPECT_EQ(pages.ReferenceSize(), 2);
}

TEST(KeyPath, PositionsAsFractionsBitmapNumbersAndComparisons) {
  TVEXKeyPath path;
  path.AddItem(7, 3, 10);
  EXPECT_DOUBLE_EQ(path.GetApproxRecNoInPercents(), 0.3);
  TVEXKeyPath first;
  first.AddItem(1, 0, 4);
  first.AddItem(2, 0, 9);
  EXPECT_DOUBLE_EQ(first.GetApproxRecNoInPercents(), 0.0);
  TVEXKeyPath deep;
  deep.AddItem(1, 1, 2);
  deep.AddItem(3, 5, 10);
  EXPECT_DOUBLE_EQ(deep.GetApproxRecNoInPercents(), 0.75);

  TVEXKeyPath two;
  two.AddItem(1, 2, 5);
  two.AddItem(4, 4, 9);
  EXPECT_EQ(two.GetBitmapRecNoByIndexPosition(9), 35);
  TVEXKeyPath back;
  back.FillItemsByBitmapRecNo(35, 9);
  ASSERT_EQ(back.Count, 2);
  EXPECT_EQ(back.Items[0].EntryNo, 2);
  EXPECT_EQ(back.Items[1].EntryNo, 4);
  EXPECT_EQ(back.Items[0].PageNo, -1);
  EXPECT_EQ(back.ItemNo, 0);

  TVEXKeyPath later;
  later.Assign(two);
  later.Items[1].EntryNo = 6;
  EXPECT_EQ(two.Compare(later), -1);
  EXPECT_EQ(later.Compare(two), 1);
  EXPECT_EQ(two.Compare(two), 0);
  EXPECT_EQ(CodeOf([&] { two.Compare(path); }), 20051);
  later.Items[1].PageNo = 99;
  EXPECT_EQ(CodeOf([&] { two.Compare(later); }), 20052);
  EXPECT_TRUE(two.PageExists(4));
  EXPECT_FALSE(two.PageExists(5));
}

}  // namespace
}  // namespace vex
