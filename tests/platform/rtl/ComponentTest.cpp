#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rtl/Component.h"
#include "rtl/Exception.h"

namespace {

// Records what it sees in a shared journal.
class Probe : public rtl::TComponent {
 public:
  Probe(rtl::TComponent* owner, std::string tag, std::vector<std::string>& journal)
      : TComponent(owner), FTag(std::move(tag)), FJournal(journal) {}
  ~Probe() override {
    // Children go while this component is still whole (see Component.h).
    Destroying();
    DestroyComponents();
    FJournal.push_back("free " + FTag + (ComponentState().Contains(rtl::csDestroying) ? "" : "!"));
  }
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override {
    TComponent::Notification(component, operation);
    auto* other = dynamic_cast<Probe*>(component);
    std::string name = other ? other->FTag : "?";
    if (operation == rtl::opRemove && component == FLinked) FLinked = nullptr;
    FJournal.push_back(FTag + (operation == rtl::opInsert ? " +" : " -") + name);
  }
  void Loaded() override {
    TComponent::Loaded();
    FJournal.push_back("loaded " + FTag);
  }
  std::string FTag;
  std::vector<std::string>& FJournal;
  rtl::TComponent* FLinked = nullptr;
};

TEST(RtlComponent, OwnerFreesChildrenInReverseOrder) {
  std::vector<std::string> journal;
  auto owner = std::make_unique<Probe>(nullptr, "owner", journal);
  new Probe(owner.get(), "a", journal);
  auto* b = new Probe(owner.get(), "b", journal);
  new Probe(b, "b1", journal);
  new Probe(owner.get(), "c", journal);
  journal.clear();
  owner.reset();
  std::vector<std::string> expected = {"free c", "free b1", "free b", "free a", "free owner"};
  EXPECT_EQ(journal, expected);  // every one sees csDestroying
}

TEST(RtlComponent, InsertAndRemoveNotifyEveryComponentOfTheOwner) {
  std::vector<std::string> journal;
  Probe owner(nullptr, "owner", journal);
  auto* a = new Probe(&owner, "a", journal);
  new Probe(a, "a1", journal);  // a's own child hears through a
  journal.clear();
  auto* b = new Probe(&owner, "b", journal);
  // Owned components hear first (last to first, each passing it to its own),
  // and b, still being constructed, is no Probe yet.
  std::vector<std::string> inserted = {"a1 +?", "a +?", "owner +?"};
  EXPECT_EQ(journal, inserted);
  journal.clear();
  delete b;
  EXPECT_EQ(journal.front(), "free b");
  EXPECT_EQ(owner.ComponentCount(), 1);
  std::vector<std::string> removed = {"free b", "a1 -?", "a -?", "owner -?"};
  EXPECT_EQ(journal, removed);
  journal.clear();
  Probe c(nullptr, "c", journal);
  owner.InsertComponent(&c);
  owner.RemoveComponent(&c);  // c is ours again
  std::vector<std::string> both = {"c +c", "a1 +c", "a +c", "owner +c",
                                   "c -c", "a1 -c", "a -c", "owner -c"};
  EXPECT_EQ(journal, both);
  EXPECT_EQ(c.Owner(), nullptr);
}

TEST(RtlComponent, FreeNotificationAcrossOwnersClearsReferences) {
  std::vector<std::string> journal;
  Probe form1(nullptr, "form1", journal);
  Probe form2(nullptr, "form2", journal);
  auto* user = new Probe(&form1, "user", journal);
  auto* target = new Probe(&form2, "target", journal);
  user->FLinked = target;
  target->FreeNotification(user);
  EXPECT_TRUE(target->ComponentState().Contains(rtl::csFreeNotification));
  journal.clear();
  delete target;
  EXPECT_EQ(user->FLinked, nullptr);
  EXPECT_NE(std::find(journal.begin(), journal.end(), "user -?"), journal.end());
  // The link is gone both ways: freeing the user later touches nothing stale.
  delete user;
}

TEST(RtlComponent, OwnerAnnouncesTheFreeingOfAFreeNotificationTarget) {
  // The target comes after its user, so it is freed first: the user must hear of
  // it (while the target is still whole) rather than keep a dangling pointer.
  std::vector<std::string> journal;
  auto owner = std::make_unique<Probe>(nullptr, "owner", journal);
  auto* user = new Probe(owner.get(), "user", journal);
  auto* target = new Probe(owner.get(), "target", journal);
  new Probe(owner.get(), "plain", journal);
  user->FLinked = target;
  target->FreeNotification(user);
  journal.clear();
  owner.reset();
  std::vector<std::string> expected = {"free plain",    "target -target", "user -target",
                                       "owner -target", "free target",    "free user",
                                       "free owner"};
  EXPECT_EQ(journal, expected);
}

TEST(RtlComponent, NamesAreValidatedAndUniqueWithinTheOwner) {
  std::vector<std::string> journal;
  Probe owner(nullptr, "owner", journal);
  auto* a = new Probe(&owner, "a", journal);
  auto* b = new Probe(&owner, "b", journal);
  a->SetName("Table1");
  EXPECT_EQ(owner.FindComponent("TABLE1"), a);
  EXPECT_THROW(b->SetName("table1"), rtl::EComponentError);
  EXPECT_THROW(b->SetName("1abc"), rtl::EComponentError);
  EXPECT_THROW(b->SetName("a b"), rtl::EComponentError);
  // A move refused for its name leaves the component with its old owner.
  Probe other(nullptr, "other", journal);
  auto* stranger = new Probe(&other, "stranger", journal);
  stranger->SetName("TABLE1");
  EXPECT_THROW(owner.InsertComponent(stranger), rtl::EComponentError);
  EXPECT_EQ(stranger->Owner(), &other);
  b->SetName("_Query2");
  b->SetName("");
  EXPECT_EQ(b->ComponentIndex(), 1);
  EXPECT_THROW(owner.Components(2), rtl::EListError);
}

TEST(RtlComponent, LoadingIsClearedByLoadedOwnerFirst) {
  std::vector<std::string> journal;
  Probe owner(nullptr, "owner", journal);
  owner.BeginLoading();
  auto* child = new Probe(&owner, "child", journal);
  EXPECT_TRUE(child->ComponentState().Contains(rtl::csLoading));
  journal.clear();
  owner.EndLoading();
  std::vector<std::string> expected = {"loaded owner", "loaded child"};
  EXPECT_EQ(journal, expected);
  EXPECT_FALSE(child->ComponentState().Contains(rtl::csLoading));
}

}  // namespace
