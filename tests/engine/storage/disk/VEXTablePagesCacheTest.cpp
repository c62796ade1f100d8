#include <gtest/gtest.h>

#include <vector>

#include "foundation/VEXExcept.h"
#include "storage/disk/VEXTablePagesCache.h"

namespace vex {
namespace {

constexpr int32_t kTableA = 101;
constexpr int32_t kTableB = 202;

struct Counts {
  int32_t s;
  int32_t rw;
  bool loaded;
  int32_t state;
};

void ExpectInfo(TVEXDiskTablePagesCacheManager& cache, int32_t session, int32_t table,
                Counts expected, const char* step) {
  const TVEXDTPCTableInfo& info = cache.GetTableInfo(session, table);
  EXPECT_EQ(info.TableSLockCount, expected.s) << step;
  EXPECT_EQ(info.TableRWLockCount, expected.rw) << step;
  EXPECT_EQ(info.IsMostUpdatedLoaded, expected.loaded) << step;
  EXPECT_EQ(info.TableState, expected.state) << step;
}

// Runs the callers' script for one session: a read under ltS with a nested
// piece of work on a table held only by an open cursor, a write under ltRW,
// and a new lock period.
void RunSessionScript(int32_t session) {
  TVEXDiskTablePagesCacheManager cache;
  int32_t workState = 555;
  EXPECT_FALSE(cache.GetWorkTableState(session, workState));
  EXPECT_EQ(workState, 555);  // untouched without work

  cache.TableIsSLocked(session, kTableA);
  ExpectInfo(cache, session, kTableA, {1, 0, false, -1}, "S locked");
  EXPECT_FALSE(cache.GetIsMostUpdatedLoaded(session, kTableA));
  cache.SetIsMostUpdatedLoaded(session, kTableA, 7);
  cache.SetIsMostUpdatedLoaded(session, kTableA, 9);  // a second load keeps the first state
  ExpectInfo(cache, session, kTableA, {1, 0, true, 7}, "loaded");
  cache.BeginWorkWithTable(session, kTableA);
  EXPECT_TRUE(cache.GetWorkTableState(session, workState));
  EXPECT_EQ(workState, 7);

  // Nested work on B, which the session holds with no lock against
  // modification: its pages cannot be trusted.
  cache.BeginWorkWithTable(session, kTableB);
  EXPECT_FALSE(cache.GetWorkTableState(session, workState));
  EXPECT_EQ(workState, -1);
  cache.EndWorkWithTable(session, kTableB);
  EXPECT_TRUE(cache.GetWorkTableState(session, workState));
  EXPECT_EQ(workState, 7);

  // A writer's ltRW on top of the ltS belongs to the same lock period.
  cache.TableIsRWLocked(session, kTableA);
  ExpectInfo(cache, session, kTableA, {1, 1, true, 7}, "RW on top");
  cache.TableIsSUnlocked(session, kTableA);
  ExpectInfo(cache, session, kTableA, {0, 1, true, 7}, "S released, RW held");
  cache.TableIsRWUnlocked(session, kTableA);
  ExpectInfo(cache, session, kTableA, {0, 0, false, -1}, "period over");
  EXPECT_FALSE(cache.GetWorkTableState(session, workState));
  EXPECT_EQ(workState, -1);

  // A release at a count of 0 stays at 0.
  cache.TableIsSUnlocked(session, kTableA);
  cache.TableIsRWUnlocked(session, kTableA);
  ExpectInfo(cache, session, kTableA, {0, 0, false, -1}, "extra releases");

  // A new period must load again before its pages are trusted.
  cache.TableIsSLocked(session, kTableA);
  EXPECT_FALSE(cache.GetWorkTableState(session, workState));
  cache.SetIsMostUpdatedLoaded(session, kTableA, 8);
  EXPECT_TRUE(cache.GetWorkTableState(session, workState));
  EXPECT_EQ(workState, 8);

  cache.EndWorkWithTable(session, kTableA);
  cache.EndWorkWithTable(session, kTableA);  // absent: nothing
  workState = 555;
  EXPECT_FALSE(cache.GetWorkTableState(session, workState));
  EXPECT_EQ(workState, 555);
}

TEST(TablePagesCacheTest, FollowsTheCallersScriptForUserAndSystemSessions) {
  for (int32_t session : {0, 3, -1, -2}) {
    SCOPED_TRACE(session);
    RunSessionScript(session);
  }
}

TEST(TablePagesCacheTest, SessionsAndRepeatedWorkAreKeptApart) {
  TVEXDiskTablePagesCacheManager cache;
  cache.TableIsSLocked(-2, kTableA);
  cache.SetIsMostUpdatedLoaded(-2, kTableA, 4);
  cache.BeginWorkWithTable(-2, kTableA);
  cache.TableIsRWLocked(5, kTableA);  // grows the array past the system session's slot

  int32_t state = 0;
  EXPECT_TRUE(cache.GetWorkTableState(-2, state));
  EXPECT_EQ(state, 4);
  EXPECT_FALSE(cache.GetWorkTableState(-1, state));
  EXPECT_FALSE(cache.GetWorkTableState(5, state));
  ExpectInfo(cache, 5, kTableA, {0, 1, false, -1}, "other session");

  // A inside B inside A: when the inner A ends, B (unlocked, so untrusted) is
  // the work table again, not A.
  cache.BeginWorkWithTable(-2, kTableB);
  cache.BeginWorkWithTable(-2, kTableA);
  EXPECT_TRUE(cache.GetWorkTableState(-2, state));
  cache.EndWorkWithTable(-2, kTableA);
  state = 0;
  EXPECT_FALSE(cache.GetWorkTableState(-2, state));
  EXPECT_EQ(state, -1);
  cache.EndWorkWithTable(-2, kTableB);
  EXPECT_TRUE(cache.GetWorkTableState(-2, state));
  EXPECT_EQ(state, 4);

  try {
    cache.BeginWorkWithTable(-3, kTableA);
    ADD_FAILURE() << "session -3 accepted";
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 20186);
  }
}

}  // namespace
}  // namespace vex
