// The page manager's shared cache and per-session change sets, over a fake
// page store that counts its calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include "FakePageStore.h"
#include "foundation/VEXExcept.h"
#include "os/Clock.h"
#include "os/MemoryStatus.h"
#include "storage/VEXPage.h"
#include "storage/VEXPageHold.h"
#include "support/FakeClock.h"

namespace vex {
namespace {

using testing::ExpectVEXError;
using testing::FakePageStore;

constexpr uint16_t kType = 10;

// Packed header fields are compared through copies (int32_t{...}): a reference
// to one may be misaligned.
uint32_t Version(const TVEXPage* page) {
  uint32_t v;
  std::memcpy(&v, page->PageData(), sizeof(v));
  return v;
}

void SetVersion(TVEXPage* page, uint32_t v) { std::memcpy(page->PageData(), &v, sizeof(v)); }

// A page manager whose cache holds `capacity` pages, over a store that already
// holds `pages` pages of type kType, page n carrying version 10 + n.
struct Env {
  explicit Env(int32_t pages, int64_t capacity = 100) : memory(capacity * 65536) {
    for (int32_t n = 0; n < pages; ++n) {
      TVEXPage page(&store);
      page.SetPageNo(n);
      page.AllocPageBuffer();
      page.PageHeader()->PageType = kType;
      SetVersion(&page, 10 + static_cast<uint32_t>(n));
      store.Images[n].assign(page.PageBuffer(), page.PageBuffer() + store.PageSize());
      store.Allocated.insert(n);
    }
    store.NextNumber = pages;
  }

  uint32_t Read(int32_t session, int32_t pageNo) {
    return Version(TVEXPageHold::Get(store, session, pageNo, kType, false).Page());
  }
  void Change(int32_t session, int32_t pageNo, uint32_t v) {
    const TVEXPageHold hold = TVEXPageHold::Get(store, session, pageNo, kType, false);
    SetVersion(hold.Page(), v);
    hold->SetIsDirty(true);
  }
  int32_t Add(int32_t session, uint32_t v) {
    const TVEXPageHold hold = TVEXPageHold::Add(store, session, kType);
    SetVersion(hold.Page(), v);
    return hold->PageNo();
  }
  uint32_t StoredVersion(int32_t pageNo) const {
    uint32_t v;
    std::memcpy(&v, store.Images.at(pageNo).data() + store.PageHeaderSize(), sizeof(v));
    return v;
  }
  std::vector<int32_t> Cached() const {
    std::vector<int32_t> numbers;
    for (int32_t i = 0; i < store.SharedPages().Count(); ++i) {
      numbers.push_back(store.SharedPages().Page(i)->PageNo());
    }
    return numbers;
  }

  os::ScopedAvailableMemory memory;
  FakePageStore store;
};

TEST(VEXPageManager, CacheCapacityFollowsFreeMemoryUpToAThousandPages) {
  const struct {
    int64_t freeBytes;
    int32_t capacity;
  } cases[] = {{0, 0}, {65535, 0}, {3 * 65536 + 100, 3}, {int64_t{2} << 30, 1000}};
  for (const auto& c : cases) {
    os::ScopedAvailableMemory memory(c.freeBytes);
    FakePageStore store;
    EXPECT_EQ(store.CacheCapacity(), c.capacity) << c.freeBytes;
  }
}

TEST(VEXPageManager, InvalidSessionIsRefusedBeforeAChangeSetExists) {
  Env env(1);
  EXPECT_EQ(ExpectVEXError(20186, [&] { env.store.GetPage(-1, 0, kType, false); }),
            "Invalid Session ID - Native error: 20186");
  EXPECT_EQ(env.store.ChangeSet(-1), nullptr);
  EXPECT_EQ(env.store.Reads, 0);
}

TEST(VEXPageHold, GivesThePageBackWhenAnExceptionPasses) {
  Env env(2);
  TVEXPage* const shared = env.store.GetPage(1, 0, kType, false);  // held once already
  TVEXPage* added = nullptr;
  EXPECT_THROW(
      {
        const TVEXPageHold read = TVEXPageHold::Get(env.store, 1, 0, kType, false);
        const TVEXPageHold add = TVEXPageHold::Add(env.store, 1, kType);
        added = add.Page();
        EXPECT_EQ(read->UseCount(), 2);
        EXPECT_EQ(added->UseCount(), 1);
        throw std::runtime_error("work failed");
      },
      std::runtime_error);
  EXPECT_EQ(shared->UseCount(), 1);
  EXPECT_EQ(added->UseCount(), 0);
  env.store.PutPage(shared);

  // A moved hold gives the page back once; a released one not at all.
  TVEXPageHold first = TVEXPageHold::Get(env.store, 1, 1, kType, false);
  TVEXPage* const page = first.Page();
  {
    TVEXPageHold second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_EQ(page->UseCount(), 1);
  }
  EXPECT_EQ(page->UseCount(), 0);
  TVEXPage* const kept = TVEXPageHold::Get(env.store, 1, 1, kType, false).Release();
  EXPECT_EQ(kept->UseCount(), 1);
  env.store.PutPage(kept);
  EXPECT_NO_THROW(env.store.CheckInvariants());
}

TEST(VEXPageManager, APageIsSharedWithinASessionAndRefusedToAnother) {
  Env env(1);
  TVEXPage* first = env.store.GetPage(1, 0, kType, false);
  TVEXPage* second = env.store.GetPage(1, 0, kType, false);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->UseCount(), 2);
  EXPECT_EQ(env.store.Reads, 1);
  EXPECT_EQ(ExpectVEXError(20090, [&] { env.store.GetPage(2, 0, kType, false); }),
            "Page is used by other session - Native error: 20090");
  env.store.PutPage(first);
  ExpectVEXError(20090, [&] { env.store.GetPage(2, 0, kType, false); });
  env.store.PutPage(second);
  EXPECT_EQ(env.Read(2, 0), 10u);
  EXPECT_EQ(env.store.Reads, 1);  // served from the cache
}

TEST(VEXPageManager, ChangesStayInvisibleToOtherSessionsUntilCommitted) {
  Env env(3);
  env.Change(1, 0, 50);
  env.Change(1, 2, 52);
  env.Change(1, 2, 62);  // a second change of a page in the change set
  const int32_t added = env.Add(1, 53);
  EXPECT_EQ(added, 3);
  EXPECT_EQ(env.Cached(), std::vector<int32_t>{});  // changed pages left the cache
  EXPECT_EQ(env.store.DirtyCount(1), 3);

  EXPECT_EQ(env.Read(1, 0), 50u);
  EXPECT_EQ(env.Read(2, 0), 10u);  // the committed image, read from the store
  EXPECT_EQ(env.Read(2, 2), 12u);
  EXPECT_EQ(env.store.Writes, 0);
  const int readsBefore = env.store.Reads;

  env.store.ApplyChanges(1);
  EXPECT_EQ(env.store.Writes, 3);  // once per dirty page
  EXPECT_EQ(env.store.WritesOf, (std::map<int32_t, int>{{0, 1}, {2, 1}, {3, 1}}));
  EXPECT_EQ(env.StoredVersion(0), 50u);
  EXPECT_EQ(env.StoredVersion(2), 62u);
  EXPECT_EQ(env.StoredVersion(3), 53u);
  EXPECT_EQ(env.store.DirtyCount(1), 0);

  // The committed pages took the place of session 2's cached copies.
  EXPECT_EQ(env.Read(2, 0), 50u);
  EXPECT_EQ(env.Read(2, 2), 62u);
  EXPECT_EQ(env.Read(2, 3), 53u);
  EXPECT_EQ(env.store.Reads, readsBefore);
  EXPECT_NO_THROW(env.store.CheckInvariants());

  env.store.ApplyChanges(1);  // nothing left to write
  EXPECT_EQ(env.store.Writes, 3);
}

TEST(VEXPageManager, RollbackGivesAddedPagesBackAndKeepsRemovedOnes) {
  Env env(2);
  const int32_t added = env.Add(1, 60);
  env.Change(1, 0, 50);
  env.store.RemovePage(1, 1);
  env.store.CancelChanges(1);
  EXPECT_EQ(env.store.RemovedNumbers, std::vector<int32_t>{added});
  EXPECT_EQ(env.store.Writes, 0);
  EXPECT_EQ(env.store.DirtyCount(1), 0);
  EXPECT_EQ(env.Read(1, 0), 10u);
  EXPECT_EQ(env.Read(1, 1), 11u);
  EXPECT_EQ(env.store.Allocated, (std::set<int32_t>{0, 1}));

  // A removal that is committed frees the number and drops the cached copy.
  env.store.ResetCounts();
  env.store.RemovePage(1, 1);
  EXPECT_EQ(env.Cached(), (std::vector<int32_t>{0, 1}));
  env.store.ApplyChanges(1);
  EXPECT_EQ(env.store.RemovedNumbers, std::vector<int32_t>{1});
  EXPECT_EQ(env.Cached(), std::vector<int32_t>{0});
  EXPECT_EQ(env.store.Allocated, std::set<int32_t>{0});
  EXPECT_EQ(env.store.Violations, 0);
}

// A commit or rollback that is refused leaves the store and the change set as
// they were: no page written, no number freed, the added page still recorded,
// so that a rollback afterwards gives it back.
TEST(VEXPageManager, RefusedCommitOrRollbackChangesNothing) {
  enum Fault { kHeldCachedPage, kCleanPageInChangeSet, kHeldPageInChangeSet };
  const struct {
    const char* name;
    bool commit;
    Fault fault;
    int32_t code;
  } cases[] = {
      {"commit, cached page held", true, kHeldCachedPage, 20152},
      {"commit, clean page in change set", true, kCleanPageInChangeSet, 20085},
      {"commit, held page in change set", true, kHeldPageInChangeSet, 20086},
      {"rollback, clean page in change set", false, kCleanPageInChangeSet, 20087},
      {"rollback, held page in change set", false, kHeldPageInChangeSet, 20088},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Env env(3);
    const int32_t added = env.Add(1, 60);
    env.store.RemovePage(1, 2);
    env.Change(1, 0, 50);
    env.store.ResetCounts();

    TVEXPage* held = nullptr;
    switch (c.fault) {
      case kHeldCachedPage:
        held = env.store.GetPage(1, 1, kType, false);
        break;
      case kCleanPageInChangeSet: {
        TVEXPage* page = env.store.GetPage(1, 0, kType, false);
        page->SetIsDirty(false);
        env.store.PutPage(page);
        break;
      }
      case kHeldPageInChangeSet:
        held = env.store.GetPage(1, 0, kType, false);
        break;
    }
    ExpectVEXError(c.code, [&] {
      if (c.commit) {
        env.store.ApplyChanges(1);
      } else {
        env.store.CancelChanges(1);
      }
    });
    EXPECT_EQ(env.store.Writes, 0);
    EXPECT_EQ(env.store.Removes, 0);
    EXPECT_EQ(env.store.DirtyCount(1), 2);
    EXPECT_EQ(env.store.Allocated, (std::set<int32_t>{0, 1, 2, added}));
    EXPECT_NO_THROW(env.store.CheckInvariants());

    // Mended, the rollback gives the added page back.
    if (held != nullptr) env.store.PutPage(held);
    if (c.fault == kCleanPageInChangeSet) {
      TVEXPage* page = env.store.GetPage(1, 0, kType, false);
      page->SetIsDirty(true);
      env.store.PutPage(page);
    }
    env.store.CancelChanges(1);
    EXPECT_EQ(env.store.RemovedNumbers, std::vector<int32_t>{added});
    EXPECT_EQ(env.store.Allocated, (std::set<int32_t>{0, 1, 2}));
  }
}

// A failed write leaves the pages written before it committed and the rest in
// the change set; the freed numbers are not freed a second time.
TEST(VEXPageManager, CommitInterruptedByAWriteFailureKeepsTheUnwrittenPages) {
  Env env(4);
  env.store.RemovePage(1, 3);
  for (int32_t n = 0; n < 3; ++n) env.Change(1, n, 50 + static_cast<uint32_t>(n));
  env.store.ThrowWrites.insert(1);
  ExpectVEXError(10469, [&] { env.store.ApplyChanges(1); });
  EXPECT_EQ(env.store.WritesOf, (std::map<int32_t, int>{{0, 1}}));
  EXPECT_EQ(env.store.DirtyCount(1), 2);
  EXPECT_EQ(env.Read(2, 0), 50u);
  EXPECT_NO_THROW(env.store.CheckInvariants());

  env.store.ThrowWrites.clear();
  env.store.ApplyChanges(1);
  EXPECT_EQ(env.store.WritesOf, (std::map<int32_t, int>{{0, 1}, {1, 1}, {2, 1}}));
  EXPECT_EQ(env.store.RemovedNumbers, std::vector<int32_t>{3});
  EXPECT_EQ(env.store.Violations, 0);
}

TEST(VEXPageManager, CacheEvictsUnheldPagesLeastRecentlyUsedFirst) {
  Env env(6, 3);
  for (int32_t n : {0, 1, 2}) env.Read(1, n);
  env.Read(1, 0);  // page 0 becomes the most recently used
  EXPECT_EQ(env.store.Reads, 3);
  env.Read(1, 3);
  EXPECT_EQ(env.Cached(), (std::vector<int32_t>{0, 2, 3}));
  env.Read(2, 1);  // read again, evicting page 2
  EXPECT_EQ(env.store.Reads, 5);
  EXPECT_EQ(env.Cached(), (std::vector<int32_t>{0, 1, 3}));

  // Held pages are skipped, so the cache may stay above its capacity.
  TVEXPage* p0 = env.store.GetPage(1, 0, kType, false);
  TVEXPage* p0again = env.store.GetPage(1, 0, kType, false);
  TVEXPage* p1 = env.store.GetPage(1, 1, kType, false);
  TVEXPage* p3 = env.store.GetPage(1, 3, kType, false);
  TVEXPage* p4 = env.store.GetPage(1, 4, kType, false);
  env.store.PutPage(p0again);  // every cached page still held: nothing goes
  EXPECT_EQ(env.Cached(), (std::vector<int32_t>{0, 1, 3, 4}));
  env.store.PutPage(p4);  // the only unheld page goes
  EXPECT_EQ(env.Cached(), (std::vector<int32_t>{0, 1, 3}));
  for (TVEXPage* p : {p0, p1, p3}) env.store.PutPage(p);
  EXPECT_NO_THROW(env.store.CheckInvariants());
}

TEST(VEXPageManager, CommitKeepsWrittenPagesCachedOnlyWhileThereIsRoom) {
  Env env(0, 3);
  for (uint32_t v = 0; v < 5; ++v) env.Add(1, 100 + v);
  env.store.ApplyChanges(1);
  EXPECT_EQ(env.store.Writes, 5);
  EXPECT_EQ(env.Cached(), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(env.store.DirtyCount(1), 0);
  EXPECT_EQ(env.Read(2, 4), 104u);
  EXPECT_EQ(env.store.Reads, 1);
}

TEST(VEXPageManager, PageTypeIsTestedOnReadAndAFailedPageIsNotCached) {
  Env env(3);
  EXPECT_EQ(ExpectVEXError(20153, [&] { env.store.GetPage(1, 0, 12, false); }),
            "Invalid page type. Possible data corruption. Expecting type 12, but found 10 - "
            "Native error: 20153");
  EXPECT_EQ(env.Cached(), std::vector<int32_t>{});
  TVEXPage* any = env.store.GetPage(1, 0, kAnyPageType, false);
  env.store.PutPage(any);
  env.store.SetIgnoreCRCErrors(true);
  env.store.PutPage(env.store.GetPage(1, 1, 12, false));
  env.store.SetIgnoreCRCErrors(false);

  env.store.FailReads.insert(2);
  EXPECT_EQ(ExpectVEXError(20299, [&] { env.store.GetPage(1, 2, kType, false); }),
            "Error reading database file page. Page No: 2, type 10 - Native error: 20299");
  EXPECT_EQ(env.Cached(), (std::vector<int32_t>{0, 1}));
  env.store.FailReads.clear();
  const int reads = env.store.Reads;
  EXPECT_EQ(env.Read(1, 2), 12u);  // read afresh, not handed out unread
  EXPECT_EQ(env.store.Reads, reads + 1);

  // Pages without a header have no type to test.
  os::ScopedAvailableMemory memory(100 * 65536);
  FakePageStore headerless(4096, 0);
  headerless.Allocated.insert(0);
  headerless.PutPage(headerless.GetPage(1, 0, 12, false));
}

TEST(VEXPageManager, CachedPageIsRevalidatedOnlyWhenNobodyHoldsIt) {
  Env env(2);
  env.store.Shared = true;
  env.store.TableStateCurrent = false;
  env.Read(1, 0);
  env.Read(1, 1);
  env.store.ResetCounts();

  // Written elsewhere: a revalidating read sees it; a plain one does not look.
  env.store.ExternalWrite(0, 70);
  EXPECT_EQ(env.Read(1, 0), 10u);
  EXPECT_EQ(env.store.Reads, 0);
  TVEXPage* page = env.store.GetPage(1, 0, kType, true);
  EXPECT_EQ(Version(page), 70u);
  EXPECT_TRUE(page->Reloaded());
  EXPECT_EQ(env.store.Reads, 1);
  EXPECT_EQ(env.store.TableStateUpdates, 1);

  // While session 1 holds the page and works on it, neither another session
  // nor session 1 itself gets it read again under its changes.
  SetVersion(page, 71);
  env.store.ExternalWrite(0, 72);
  ExpectVEXError(20090, [&] { env.store.GetPage(2, 0, kType, true); });
  TVEXPage* again = env.store.GetPage(1, 0, kType, true);
  EXPECT_EQ(again, page);
  EXPECT_EQ(Version(page), 71u);
  EXPECT_EQ(env.store.Reads, 1);
  env.store.PutPage(again);
  env.store.PutPage(page);
  EXPECT_FALSE(page->Reloaded());  // cleared by the last release

  // A page that is current for the session is not checked.
  env.store.TableStateCurrent = true;
  EXPECT_EQ(Version(page), 71u);
  TVEXPage* current = env.store.GetPage(2, 0, kType, true);
  EXPECT_EQ(env.store.Reads, 1);
  env.store.PutPage(current);

  // A re-read that fails drops the page instead of handing out a stale image.
  env.store.TableStateCurrent = false;
  env.store.ExternalWrite(1, 73);
  env.store.FailReads.insert(1);
  ExpectVEXError(20299, [&] { env.store.GetPage(2, 1, kType, true); });
  EXPECT_EQ(env.Cached(), std::vector<int32_t>{0});
  EXPECT_NO_THROW(env.store.CheckInvariants());
}

TEST(VEXPageManager, AddPageStartsADirtyPageAndDropsAStaleCachedCopy) {
  testsupport::FakeClockScope fake(0, 7);
  Env env(2);
  TVEXPage* page = env.store.AddPage(1, 11);
  EXPECT_EQ(page->PageNo(), 2);
  EXPECT_EQ(page->UseCount(), 1);
  EXPECT_TRUE(page->IsDirty());
  EXPECT_EQ(int32_t{page->PageHeader()->PageType}, 11);
  EXPECT_GE(int32_t{page->PageHeader()->State}, 0);
  EXPECT_LT(int32_t{page->PageHeader()->State}, 0x3FFFFFFF);
  EXPECT_EQ(page->ParentList(), env.store.ChangeSet(1)->DirtyPages.get());
  env.store.PutPage(page);

  // Session 2 reads page 2 while it is still uncommitted, so the cache holds
  // the store's image of a number that session 1 then gives back and takes
  // again: the stale copy must go.
  env.store.PutPage(env.store.GetPage(2, 2, kAnyPageType, false));
  env.store.CancelChanges(1);
  EXPECT_EQ(env.Cached(), std::vector<int32_t>{2});
  EXPECT_EQ(env.Add(1, 80), 2);
  EXPECT_EQ(env.Cached(), std::vector<int32_t>{});

  // The same with the copy still held: it is freed at its release.
  env.store.CancelChanges(1);
  TVEXPage* stale = env.store.GetPage(2, 2, kAnyPageType, false);
  EXPECT_EQ(env.Add(1, 81), 2);
  EXPECT_EQ(env.store.DisplacedCount(), 1u);
  EXPECT_NO_THROW(env.store.CheckInvariants());
  env.store.PutPage(stale);
  EXPECT_EQ(env.store.DisplacedCount(), 0u);
  EXPECT_EQ(env.Read(1, 2), 81u);

  env.store.GiveNoNumber = true;
  EXPECT_EQ(ExpectVEXError(20064, [&] { env.store.AddPage(1, 11); }),
            "Invalid page number - Native error: 20064");
  EXPECT_EQ(env.store.DirtyCount(1), 1);
}

// A commit whose page another session holds in the cache displaces that copy;
// the holder keeps working on it and may still commit its own change.
TEST(VEXPageManager, CommitDisplacesACopyAnotherSessionHolds) {
  for (const bool holderChanges : {false, true}) {
    SCOPED_TRACE(holderChanges ? "holder changes its copy" : "holder only reads");
    Env env(1);
    env.Change(1, 0, 50);
    TVEXPage* copy = env.store.GetPage(2, 0, kType, false);
    env.store.ApplyChanges(1);
    EXPECT_EQ(env.store.DisplacedCount(), 1u);
    EXPECT_EQ(Version(copy), 10u);
    EXPECT_EQ(env.Read(3, 0), 50u);  // the committed page is the cached one
    ExpectVEXError(20152, [&] { env.store.ApplyChanges(2); });

    if (holderChanges) {
      SetVersion(copy, 90);
      copy->SetIsDirty(true);
    }
    env.store.PutPage(copy);
    EXPECT_EQ(env.store.DisplacedCount(), 0u);
    EXPECT_EQ(env.store.DirtyCount(2), holderChanges ? 1 : 0);
    env.store.ApplyChanges(2);
    EXPECT_EQ(env.StoredVersion(0), holderChanges ? 90u : 50u);
    EXPECT_EQ(env.Read(3, 0), holderChanges ? 90u : 50u);
    EXPECT_NO_THROW(env.store.CheckInvariants());
  }
}

TEST(VEXPageManager, CloseRefusesUncommittedPagesAndTheDestructorFreesThem) {
  Env env(1);
  env.Add(1, 60);
  env.Read(2, 0);
  EXPECT_EQ(ExpectVEXError(20097, [&] { env.store.Close(); }),
            "Cannot free non-commited pages - Native error: 20097");
  EXPECT_EQ(env.store.DirtyCount(1), 1);
  env.store.ApplyChanges(1);
  env.store.Close();
  EXPECT_EQ(env.Cached(), std::vector<int32_t>{});
  EXPECT_EQ(env.store.ChangeSet(1), nullptr);

  // Left uncommitted, the pages are freed by the destructor without a word.
  env.Add(1, 61);
}

// The integrity walk names what it finds; each fault is planted and taken out
// again so that the page manager can free its pages afterwards.
TEST(VEXPageManager, IntegrityWalkNamesEachBrokenRule) {
  const auto failure = [](const FakePageStore& store) -> std::string {
    try {
      store.CheckInvariants();
    } catch (const EPageManagerIntegrityError& e) {
      return e.what();
    }
    return "";
  };
  Env env(2);
  env.Read(1, 0);
  env.Change(1, 1, 51);
  EXPECT_EQ(failure(env.store), "");

  TVEXPage* cached = env.store.SharedPages().Page(0);
  cached->SetIsDirty(true);
  EXPECT_EQ(failure(env.store),
            "Page manager integrity check failed: cache: page 0 is changed but unheld");
  cached->SetIsDirty(false);

  // Session 1's changed page 1 also put into the cache.
  TVEXPage* own = env.store.ChangeSet(1)->DirtyPages->Page(0);
  env.store.PlantInCache(own);
  EXPECT_EQ(failure(env.store),
            "Page manager integrity check failed: cache: page 1 names another list; "
            "cache: page 1 is changed but unheld; session 1: page 1 is in two places");
  env.store.Unplant(1);

  TVEXPage orphan(&env.store);
  orphan.SetPageNo(7);
  env.store.PlantDisplaced(&orphan);
  EXPECT_EQ(failure(env.store),
            "Page manager integrity check failed: displaced: page 7 is held by nobody");
  env.store.UnplantDisplaced();
  EXPECT_EQ(failure(env.store), "");
}

// Two sessions get, change, release, add, remove, commit and roll back pages
// at random over a cache of three pages. A model of the committed images and
// of each session's change set says what every GetPage must show and which
// calls must be refused; after every step the page manager must keep one list
// per page and one page per number, and the store must never be pointed at a
// freed page.
class RandomWork {
 public:
  explicit RandomWork(uint32_t seed) : env(8, 3), random(seed) {
    for (int32_t n = 0; n < 8; ++n) committed[n] = 10 + static_cast<uint32_t>(n);
  }

  void Run(int steps) {
    for (int step = 0; step < steps && !::testing::Test::HasFailure(); ++step) {
      const int32_t s = Pick(2);
      const int32_t op = Pick(100);
      if (op < 30) {
        Get(s);
      } else if (op < 60) {
        Put(s);
      } else if (op < 68) {
        Add(s);
      } else if (op < 74) {
        Remove(s);
      } else if (op < 90) {
        ReleaseAllAtTimes(s);
        Commit(s);
      } else {
        ReleaseAllAtTimes(s);
        Cancel(s);
      }
      EXPECT_NO_THROW(env.store.CheckInvariants()) << "step " << step;
      EXPECT_EQ(env.store.Violations, 0) << "step " << step;
      CheckStore(step);
    }
    for (int32_t s = 0; s < 2; ++s) {
      while (!sessions[s].held.empty()) Put(s, 0, false);
      env.store.CancelChanges(s);
    }
    env.store.Close();
  }

 private:
  enum Kind { kCached, kOwn, kDisplaced };
  struct Held {
    TVEXPage* page;
    int32_t no;
    Kind kind;
  };
  struct Session {
    std::map<int32_t, uint32_t> pending;
    std::set<int32_t> added;
    std::set<int32_t> removed;
    std::vector<Held> held;
  };

  int32_t Pick(int32_t range) {
    return std::uniform_int_distribution<int32_t>(0, range - 1)(random);
  }
  bool Holds(int32_t s, int32_t no, Kind kind) const {
    return std::any_of(sessions[s].held.begin(), sessions[s].held.end(),
                       [&](const Held& h) { return h.no == no && h.kind == kind; });
  }
  bool HeldByAnyone(int32_t no) const {
    for (const Session& session : sessions) {
      for (const Held& h : session.held) {
        if (h.no == no) return true;
      }
    }
    return false;
  }
  bool RemovedByAnyone(int32_t no) const {
    return sessions[0].removed.count(no) != 0 || sessions[1].removed.count(no) != 0;
  }
  void Displace(int32_t no) {
    for (Session& session : sessions) {
      for (Held& h : session.held) {
        if (h.no == no && h.kind == kCached) h.kind = kDisplaced;
      }
    }
  }

  void Get(int32_t s) {
    Session& me = sessions[s];
    std::vector<int32_t> candidates;
    for (const auto& [no, v] : committed) {
      if (!RemovedByAnyone(no)) candidates.push_back(no);
    }
    candidates.insert(candidates.end(), me.added.begin(), me.added.end());
    std::erase_if(candidates, [&](int32_t no) {
      return std::any_of(me.held.begin(), me.held.end(), [&](const Held& h) { return h.no == no; });
    });
    if (candidates.empty()) return;
    const int32_t no =
        candidates[static_cast<size_t>(Pick(static_cast<int32_t>(candidates.size())))];

    const bool own = me.pending.count(no) != 0;
    if (!own && Holds(1 - s, no, kCached)) {
      ExpectVEXError(20090, [&] { env.store.GetPage(s, no, kType, false); });
      return;
    }
    TVEXPage* page = env.store.GetPage(s, no, kType, false);
    EXPECT_EQ(page->PageNo(), no);
    EXPECT_EQ(Version(page), own ? me.pending[no] : committed[no]) << "page " << no;
    me.held.push_back({page, no, own ? kOwn : kCached});
  }

  // Callers normally release their pages before they commit or roll back;
  // half of the time the test does so too, the other half it checks the
  // refusals.
  void ReleaseAllAtTimes(int32_t s) {
    if (Pick(2) != 0) return;
    while (!sessions[s].held.empty()) Put(s, sessions[s].held.size() - 1, Pick(2) == 0);
  }

  void Put(int32_t s) {
    if (sessions[s].held.empty()) return;
    Put(s, static_cast<size_t>(Pick(static_cast<int32_t>(sessions[s].held.size()))), Pick(2) == 0);
  }
  void Put(int32_t s, size_t index, bool change) {
    Session& me = sessions[s];
    const Held h = me.held[index];
    me.held.erase(me.held.begin() + static_cast<std::ptrdiff_t>(index));
    uint32_t v = 0;
    if (change) {
      v = ++nextVersion;
      SetVersion(h.page, v);
      h.page->SetIsDirty(true);
    }
    env.store.PutPage(h.page);
    if (change && (h.kind != kDisplaced || me.pending.count(h.no) == 0)) me.pending[h.no] = v;
    if (h.kind == kCached && !change) {
      // The release trimmed the cache unless every page in it is held.
      const TVEXSortedPageList& cache = env.store.SharedPages();
      int32_t unheld = 0;
      for (int32_t i = 0; i < cache.Count(); ++i) unheld += cache.Page(i)->UseCount() == 0;
      EXPECT_TRUE(cache.Count() <= env.store.CacheCapacity() || unheld == 0);
    }
  }

  void Add(int32_t s) {
    const uint32_t v = ++nextVersion;
    const int32_t no = env.Add(s, v);
    Displace(no);
    sessions[s].pending[no] = v;
    sessions[s].added.insert(no);
  }

  void Remove(int32_t s) {
    std::vector<int32_t> candidates;
    for (const auto& [no, v] : committed) {
      if (!RemovedByAnyone(no) && !HeldByAnyone(no) && sessions[1 - s].pending.count(no) == 0) {
        candidates.push_back(no);
      }
    }
    if (candidates.empty()) return;
    const int32_t no =
        candidates[static_cast<size_t>(Pick(static_cast<int32_t>(candidates.size())))];
    env.store.RemovePage(s, no);
    sessions[s].removed.insert(no);
  }

  void Commit(int32_t s) {
    Session& me = sessions[s];
    const int writes = env.store.Writes;
    const int removes = env.store.Removes;
    const bool holdsShared =
        std::any_of(me.held.begin(), me.held.end(), [](const Held& h) { return h.kind != kOwn; });
    if (holdsShared || !me.held.empty()) {
      ExpectVEXError(holdsShared ? 20152 : 20086, [&] { env.store.ApplyChanges(s); });
      EXPECT_EQ(env.store.Writes, writes);
      EXPECT_EQ(env.store.Removes, removes);
      return;
    }
    env.store.ApplyChanges(s);
    for (int32_t no : me.removed) {
      committed.erase(no);
      me.pending.erase(no);
    }
    for (const auto& [no, v] : me.pending) {
      committed[no] = v;
      Displace(no);
    }
    EXPECT_EQ(env.store.Writes - writes, static_cast<int>(me.pending.size()));
    EXPECT_EQ(env.store.Removes - removes, static_cast<int>(me.removed.size()));
    me.pending.clear();
    me.added.clear();
    me.removed.clear();
  }

  void Cancel(int32_t s) {
    Session& me = sessions[s];
    const int removes = env.store.Removes;
    const bool holdsOwn =
        std::any_of(me.held.begin(), me.held.end(), [](const Held& h) { return h.kind == kOwn; });
    if (holdsOwn) {
      ExpectVEXError(20088, [&] { env.store.CancelChanges(s); });
      EXPECT_EQ(env.store.Removes, removes);
      return;
    }
    env.store.CancelChanges(s);
    EXPECT_EQ(env.store.Removes - removes, static_cast<int>(me.added.size()));
    me.pending.clear();
    me.added.clear();
    me.removed.clear();
  }

  void CheckStore(int step) {
    std::set<int32_t> inUse;
    for (const auto& [no, v] : committed) {
      inUse.insert(no);
      EXPECT_EQ(env.StoredVersion(no), v) << "page " << no << " at step " << step;
    }
    for (const Session& session : sessions)
      inUse.insert(session.added.begin(), session.added.end());
    EXPECT_EQ(env.store.Allocated, inUse) << "step " << step;
  }

  Env env;
  std::mt19937 random;
  std::map<int32_t, uint32_t> committed;
  Session sessions[2];
  uint32_t nextVersion = 1000;
};

TEST(VEXPageManager, RandomTwoSessionWorkKeepsIsolationAndOnePagePerNumber) {
  for (uint32_t seed = 1; seed <= 25; ++seed) {
    SCOPED_TRACE(seed);
    RandomWork(seed).Run(400);
  }
}

}  // namespace
}  // namespace vex
