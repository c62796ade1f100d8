#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BTreeFixtures.h"

namespace vex {
namespace {

using testing::kSession;
using testing::PageEntry;
using testing::PageTree;
using testsupport::CodeOf;

// A 2-byte reference orders by its bytes, low byte first: the model keeps that
// order by holding the bytes swapped.
uint16_t ByteOrder(uint16_t ref) { return static_cast<uint16_t>((ref << 8) | (ref >> 8)); }

std::string Show(const std::vector<PageEntry>& entries) {
  std::ostringstream out;
  for (const auto& [key, ref] : entries) out << "(" << key << "," << ref << ")";
  return out.str();
}

// Page size for a page-index tree whose leaves hold `leafEntries` 6-byte
// entries exactly (40-byte page header, 18-byte tree header).
uint16_t ExactFit(int32_t leafEntries) { return static_cast<uint16_t>(40 + 18 + 6 * leafEntries); }

TEST(BTreePage, FirstRootSplitKeepsTheRootAndHalvesTheLeaf) {
  PageTree tree(ExactFit(5));
  for (uint16_t r = 0; r < 5; ++r) tree.Insert(10 * r, r);
  EXPECT_EQ(tree.Depth(), 1);
  tree.Insert(100, 9);  // six entries overflow the root leaf
  tree.CheckIntegrity();
  TVEXBTreePagePtr root = tree.RootPage();
  EXPECT_EQ(root->PageNo(), tree.Root);
  EXPECT_TRUE(root->IsRoot());
  EXPECT_FALSE(root->IsLeaf());
  ASSERT_EQ(root->EntryCount(), 2);
  int32_t key0;
  std::memcpy(&key0, root->GetPKey(0), 4);
  EXPECT_EQ(key0, 0) << "entry 0 of a split root has an all-zero key";
  int32_t separator;
  std::memcpy(&separator, root->GetPKey(1), 4);
  EXPECT_EQ(separator, 30) << "the separator is the right page's first key";
  TVEXBTreePagePtr left = TVEXBTreePage::GetIndexPage(tree.Store, tree.Key, kSession,
                                                      root->ChildPageNo(0));
  TVEXBTreePagePtr right = TVEXBTreePage::GetIndexPage(tree.Store, tree.Key, kSession,
                                                       root->ChildPageNo(1));
  EXPECT_EQ(left->EntryCount(), 3);
  EXPECT_EQ(right->EntryCount(), 3);
  EXPECT_EQ(left->RightPageNo(), right->PageNo());
  EXPECT_EQ(right->LeftPageNo(), left->PageNo());
  EXPECT_FALSE(left->IsRoot());

  // With an odd count the upper (moving) half is the larger one.
  PageTree odd(ExactFit(6));
  for (uint16_t r = 0; r < 7; ++r) odd.Insert(r, r);
  TVEXBTreePagePtr oddRoot = odd.RootPage();
  EXPECT_EQ(TVEXBTreePage::GetIndexPage(odd.Store, odd.Key, kSession, oddRoot->ChildPageNo(0))
                ->EntryCount(),
            3);
  EXPECT_EQ(TVEXBTreePage::GetIndexPage(odd.Store, odd.Key, kSession, oddRoot->ChildPageNo(1))
                ->EntryCount(),
            4);
}

// Random inserts and deletes with many duplicate keys against a multiset, the
// integrity walk after every step. The exact-fit sizes are those where a page
// emptied next to a full neighbour used to stay in the tree.
struct ModelCase {
  uint16_t PageSize;
  int32_t Keys;     // distinct keys drawn from
  int32_t Steps;
  uint32_t Seed;
};

class BTreeModel : public ::testing::TestWithParam<ModelCase> {};

TEST_P(BTreeModel, MatchesAMultisetAfterEveryStep) {
  const ModelCase c = GetParam();
  PageTree tree(c.PageSize);
  std::multiset<PageEntry> model;
  std::mt19937 random(c.Seed);
  uint16_t nextRef = 0;
  for (int32_t step = 0; step < c.Steps; ++step) {
    const bool insert = model.empty() || random() % 100 < (step < c.Steps / 2 ? 65u : 35u);
    if (insert) {
      const int32_t key = static_cast<int32_t>(random() % static_cast<uint32_t>(c.Keys)) - 2;
      const uint16_t ref = nextRef++;
      tree.Insert(key, ref);
      model.insert({key, ByteOrder(ref)});
    } else {
      auto it = std::next(model.begin(), static_cast<long>(random() % model.size()));
      ASSERT_TRUE(tree.Delete(it->first, ByteOrder(it->second))) << "step " << step;
      model.erase(it);
    }
    ASSERT_NO_THROW(tree.CheckIntegrity()) << "step " << step;
    if (step % 25 == 0 || step == c.Steps - 1) {
      std::vector<PageEntry> expected;
      for (const auto& [key, ref] : model) expected.push_back({key, ByteOrder(ref)});
      ASSERT_EQ(Show(tree.Entries()), Show(expected)) << "step " << step;
    }
  }
  // Everything out again: the tree ends as an empty root leaf, and no page
  // but the root is left.
  while (!model.empty()) {
    ASSERT_TRUE(tree.Delete(model.begin()->first, ByteOrder(model.begin()->second)));
    model.erase(model.begin());
    ASSERT_NO_THROW(tree.CheckIntegrity());
  }
  TVEXBTreePagePtr root = tree.RootPage();
  EXPECT_TRUE(root->IsLeaf());
  EXPECT_EQ(root->EntryCount(), 0);
  EXPECT_EQ(root->PageNo(), tree.Root);
  root.reset();
  EXPECT_FALSE(tree.Delete(1, 1));
  tree.Store.ApplyChanges(kSession);
  EXPECT_EQ(tree.Store.Allocated.size(), 1u);
  EXPECT_EQ(tree.Store.Violations, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BTreeModel,
    ::testing::Values(ModelCase{ExactFit(4), 7, 1500, 1}, ModelCase{ExactFit(4), 60, 1500, 2},
                      ModelCase{ExactFit(5), 5, 1500, 3}, ModelCase{85, 9, 1500, 4},
                      ModelCase{4096, 40, 6000, 5}, ModelCase{4096, 3000, 6000, 6}),
    [](const ::testing::TestParamInfo<ModelCase>& info) {
      return "page" + std::to_string(info.param.PageSize) + "_keys" +
             std::to_string(info.param.Keys);
    });

TEST(BTreePage, DeletingAnEqualKeyRemovesExactlyThatEntryAcrossLeaves) {
  PageTree tree(ExactFit(4));
  for (uint16_t r = 0; r < 40; ++r) tree.Insert(7, r);
  tree.CheckIntegrity();
  EXPECT_GE(tree.Depth(), 3);
  EXPECT_FALSE(tree.Delete(7, 40));
  EXPECT_FALSE(tree.Delete(8, 3));
  EXPECT_TRUE(tree.Delete(7, 23));
  tree.CheckIntegrity();
  std::vector<PageEntry> expected;
  for (uint16_t r = 0; r < 40; ++r) {
    if (r != 23) expected.push_back({7, r});
  }
  EXPECT_EQ(Show(tree.Entries()), Show(expected));
}

// FindByCondition against a brute-force answer over the sorted entries, for
// every operator, both ends, and keys below, on, between and above the stored
// ones (duplicates spanning several leaves).
TEST(BTreePage, FindByConditionMatchesTheSortedEntriesForEveryOperator) {
  PageTree tree(ExactFit(4));
  std::vector<PageEntry> sorted;
  uint16_t ref = 0;
  for (int32_t key : {10, 20, 20, 20, 20, 20, 20, 20, 30, 40, 40, 50}) {
    tree.Insert(key, ref);
    sorted.push_back({key, ref++});
  }
  std::sort(sorted.begin(), sorted.end());
  const auto holds = [](int32_t k, TVEXSearchCondition op, int32_t v) {
    switch (op) {
      case scNone: return true;
      case scEqual: return k == v;
      case scLower: return k < v;
      case scGreater: return k > v;
      case scLowerEqual: return k <= v;
      case scGreaterEqual: return k >= v;
    }
    return false;
  };
  const char* names[] = {"none", "=", "<", ">", "<=", ">="};
  for (TVEXSearchCondition op : {scNone, scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual}) {
    for (int32_t value : {5, 10, 15, 20, 25, 30, 50, 55}) {
      for (bool first : {true, false}) {
        std::string expected = "none";
        if (first) {
          for (const auto& e : sorted) {
            if (holds(e.first, op, value)) {
              expected = Show({e});
              break;
            }
          }
        } else {
          for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
            if (holds(it->first, op, value)) {
              expected = Show({*it});
              break;
            }
          }
        }
        TVEXKeyPath path;
        const bool found =
            tree.RootPage()->FindByCondition(kSession, first, tree.Bytes(value), op, path);
        EXPECT_EQ(found ? Show({tree.At(path)}) : "none", expected)
            << names[op] << " " << value << (first ? " first" : " last");
      }
    }
  }
  TVEXKeyPath path;
  PageTree empty(ExactFit(4));
  EXPECT_FALSE(empty.RootPage()->FindByCondition(kSession, true, empty.Bytes(1), scNone, path));
}

TEST(BTreePage, FindEntryWithoutAKeyFindsAnEntryByItsReference) {
  PageTree tree(ExactFit(4));
  for (uint16_t r = 0; r < 30; ++r) tree.Insert(100 - r, r);
  TVEXKeyPath path;
  const uint16_t wanted = 17;
  ASSERT_TRUE(tree.RootPage()->FindEntry(kSession, nullptr,
                                         reinterpret_cast<const uint8_t*>(&wanted), path));
  EXPECT_EQ(tree.At(path), PageEntry(83, 17));
  const uint16_t missing = 99;
  path.Clear();
  EXPECT_FALSE(tree.RootPage()->FindEntry(kSession, nullptr,
                                          reinterpret_cast<const uint8_t*>(&missing), path));
}

TEST(BTreePage, ForeignAndDamagedPagesAreRefusedWhenRead) {
  PageTree tree(ExactFit(4));
  for (uint16_t r = 0; r < 12; ++r) tree.Insert(r, r);
  TVEXPage* other = tree.Store.AddPage(kSession, 10);
  const int32_t otherNo = other->PageNo();
  tree.Store.PutPage(other);
  const int32_t leafNo = tree.RootPage()->ChildPageNo(0);
  tree.Store.ApplyChanges(kSession);

  // The committed images, read by another connection.
  testing::FakePageStore file(ExactFit(4));
  file.Images = tree.Store.Images;
  EXPECT_EQ(CodeOf([&] { TVEXBTreePage::GetIndexPage(file, tree.Key, kSession, otherNo); }),
            20153);
  // A leaf claiming more entries than its page holds.
  const uint16_t tooMany = 200;
  std::memcpy(file.Images.at(leafNo).data() + 40 + 14, &tooMany, 2);
  std::string message;
  EXPECT_EQ(CodeOf([&] { TVEXBTreePage::GetIndexPage(file, tree.Key, kSession, leafNo); },
                   &message),
            20035);
  EXPECT_NE(message.find("PageNo=" + std::to_string(leafNo)), std::string::npos) << message;
}

TEST(BTreePage, CheckIntegrityNamesTheEntryOutOfOrder) {
  PageTree tree(ExactFit(4));
  for (uint16_t r = 0; r < 12; ++r) tree.Insert(10 * r, r);
  tree.CheckIntegrity();
  TVEXKeyPath path;
  ASSERT_TRUE(tree.RootPage()->GetFirstPosition(kSession, path));
  const int32_t leafNo = path.Items[static_cast<size_t>(path.Count - 1)].PageNo;
  {
    TVEXBTreePagePtr leaf = TVEXBTreePage::GetIndexPage(tree.Store, tree.Key, kSession, leafNo);
    const int32_t big = 1000;
    leaf->UpdateKey(0, reinterpret_cast<const uint8_t*>(&big));
  }
  std::string message;
  EXPECT_EQ(CodeOf([&] { tree.CheckIntegrity(); }, &message), 20028);
  EXPECT_NE(message.find("PageNo=" + std::to_string(leafNo) + " EntryNo=0"), std::string::npos)
      << message;
}

}  // namespace
}  // namespace vex

namespace vex {
namespace {

TEST(BTreePage, AChildLinkBackToTheRootIsAnErrorNotAnEndlessDescent) {
  PageTree tree(ExactFit(4));
  for (uint16_t r = 0; r < 12; ++r) tree.Insert(r, r);
  {
    TVEXBTreePagePtr root = tree.RootPage();
    root->UpdateReference(0, reinterpret_cast<const uint8_t*>(&tree.Root));
  }
  std::vector<uint8_t> key(4);
  EXPECT_EQ(CodeOf([&] { tree.RootPage()->GetFirstKey(kSession, key.data()); }), 20032);
  EXPECT_NE(CodeOf([&] { tree.CheckIntegrity(); }), 0);
}

}  // namespace
}  // namespace vex

namespace vex {
namespace {

// On 4096-byte pages a page-index leaf holds exactly 673 entries. A leaf
// emptied beside a full neighbour cannot merge by the room test, yet it must
// leave the tree: later inserts would otherwise land in a removed page.
TEST(BTreePage, AnEmptiedPageBesideAFullOneLeavesTheTree) {
  PageTree tree(4096);
  ASSERT_EQ(tree.RootPage()->Capacity(), 673);
  for (int32_t key = 0; key < 674; ++key) tree.Insert(1000 + key, 0);  // splits 337 / 337
  for (uint16_t r = 1; r <= 336; ++r) tree.Insert(1000, r);            // the left leaf fills up
  TVEXBTreePagePtr root = tree.RootPage();
  ASSERT_EQ(root->EntryCount(), 2);
  const int32_t rightNo = root->ChildPageNo(1);
  EXPECT_EQ(TVEXBTreePage::GetIndexPage(tree.Store, tree.Key, kSession, root->ChildPageNo(0))
                ->EntryCount(),
            673);
  root.reset();
  for (int32_t key = 1337; key <= 1673; ++key) {
    ASSERT_TRUE(tree.Delete(key, 0));
    ASSERT_NO_THROW(tree.CheckIntegrity()) << key;
  }
  root = tree.RootPage();
  EXPECT_TRUE(root->IsLeaf()) << "the emptied right leaf went and the root took the left one";
  EXPECT_EQ(root->EntryCount(), 673);
  root.reset();
  tree.Insert(5000, 1);
  tree.CheckIntegrity();
  tree.Store.ApplyChanges(kSession);
  EXPECT_EQ(tree.Store.Violations, 0);
  EXPECT_EQ(tree.Store.Allocated.count(rightNo), 0u) << "the removed page is not written again";
}

}  // namespace
}  // namespace vex
