#include <gtest/gtest.h>

#include "rtl/Guid.h"
#include "rtl/Lists.h"

namespace {

TEST(RtlStringList, UnsortedListKeepsOrderAndObjects) {
  rtl::TStringList list;
  int tag = 7;
  EXPECT_EQ(list.Add("beta"), 0);
  EXPECT_EQ(list.AddObject("Alpha", &tag), 1);
  list.Insert(0, "gamma");
  EXPECT_EQ(list.Text(), "gamma\r\nbeta\r\nAlpha\r\n");
  EXPECT_EQ(list.IndexOf("ALPHA"), 2);  // case ignored by default
  EXPECT_EQ(list.Objects(2), &tag);
  EXPECT_EQ(list.IndexOfObject(&tag), 2);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("ALPHA"), -1);
  list.Delete(0);
  EXPECT_EQ(list[0], "beta");
  EXPECT_THROW(list.Strings(2), rtl::EStringListError);
  EXPECT_THROW(list.Delete(-1), rtl::EListError);
  list.SetText("one\r\ntwo\nthree\rfour");
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list[3], "four");
}

TEST(RtlStringList, SortedListPlacesAndPolicesDuplicates) {
  rtl::TStringList list;
  list.SetSorted(true);
  for (const char* s : {"pear", "Apple", "fig", "apple"}) list.Add(s);
  EXPECT_EQ(list.Text(), "Apple\r\nfig\r\npear\r\n");  // "apple" ignored as a duplicate
  int32_t index;
  EXPECT_TRUE(list.Find("FIG", index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(list.Find("grape", index));
  EXPECT_EQ(index, 2);
  EXPECT_THROW(list.Insert(0, "x"), rtl::EStringListError);
  list.SetDuplicates(rtl::dupError);
  EXPECT_THROW(list.Add("PEAR"), rtl::EStringListError);
  list.SetDuplicates(rtl::dupAccept);
  list.Add("PEAR");
  EXPECT_EQ(list.Count(), 4);
  list.SetCaseSensitive(true);  // re-sorts: upper case before lower in byte order
  EXPECT_EQ(list.Text(), "Apple\r\nPEAR\r\nfig\r\npear\r\n");
}

TEST(RtlStringList, ChangeEventFiresOncePerUpdate) {
  rtl::TStringList list;
  int changes = 0;
  list.OnChange = [&] { ++changes; };
  list.Add("a");
  EXPECT_EQ(changes, 1);
  list.BeginUpdate();
  list.Add("b");
  list.Delete(0);
  EXPECT_EQ(changes, 1);
  list.EndUpdate();
  EXPECT_EQ(changes, 2);
  list.SetText("x\r\ny\r\n");
  EXPECT_EQ(changes, 3);
}

TEST(RtlList, PointerListOperations) {
  int a = 1, b = 2, c = 3;
  rtl::TList<int> list;
  list.Add(&a);
  list.Add(&b);
  list.Insert(0, &c);
  EXPECT_EQ(list.IndexOf(&b), 2);
  EXPECT_EQ(list.Remove(&c), 0);
  EXPECT_EQ(list.Remove(&c), -1);
  EXPECT_EQ(list.First(), &a);
  EXPECT_THROW(list.Get(2), rtl::EListError);
  EXPECT_THROW(list.Insert(5, &a), rtl::EListError);
}

TEST(RtlList, ThreadListAndBits) {
  int a = 1;
  rtl::TThreadList<int> shared;
  shared.Add(&a);
  {
    auto list = shared.LockList();
    EXPECT_EQ(list->Count(), 1);
    shared.Remove(&a);  // the lock is re-entrant
    EXPECT_EQ(list->Count(), 0);
  }
  rtl::TBits bits;
  EXPECT_EQ(bits.OpenBit(), 0);
  bits.Set(0, true);
  bits.Set(1, true);
  bits.Set(3, true);
  EXPECT_EQ(bits.OpenBit(), 2);
  bits.Set(2, true);
  EXPECT_EQ(bits.OpenBit(), 4);
  bits.Set(1, false);
  EXPECT_EQ(bits.OpenBit(), 1);
  EXPECT_FALSE(bits.Get(100));
  EXPECT_THROW(bits.Set(-1, true), rtl::EListError);
}

TEST(RtlGuid, TextFormRoundTripsAndIsUpperCase) {
  rtl::TGUID g = rtl::CreateGUID();
  std::string text = rtl::GUIDToString(g);
  ASSERT_EQ(text.size(), 38u);
  EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
  EXPECT_EQ(text[0], '{');
  EXPECT_EQ(text[37], '}');
  EXPECT_EQ(text[15], '4');  // random (version 4)
  EXPECT_EQ(rtl::StringToGUID(text), g);
  EXPECT_NE(rtl::CreateGUID(), g);
  EXPECT_EQ(rtl::GUIDToString(rtl::StringToGUID("{0123abcd-0001-0a0B-8000-00000000ff01}")),
            "{0123ABCD-0001-0A0B-8000-00000000FF01}");
  for (const char* bad :
       {"", "0123ABCD-0001-0A0B-8000-00000000FF01", "{0123ABCD-0001-0A0B-8000-00000000FF0G}",
        "{0123ABCD00010A0B800000000000FF01}"}) {
    EXPECT_THROW(rtl::StringToGUID(bad), rtl::EConvertError) << bad;
  }
}

}  // namespace
