// The cursor statement's run over an operator tree that answers its lock
// requests by script: the bounded wait in virtual time, the locks given back
// on every way out, and the lock errors.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/VEXExcept.h"
#include "sql/VEXLexer.h"
#include "sql/statements/VEXSQLCursorCommand.h"
#include "support/FakeClock.h"
#include "support/NativeError.h"

namespace {

using namespace vex;
using testsupport::CodeOf;

struct Script {
  int32_t Refusals = 0;       // lock attempts refused before one succeeds
  bool FailExecute = false;   // Execute raises
  int32_t UnlockFailsAt = 0;  // the unlock call (from 1) that answers false
  int32_t Attempts = 0;
  int32_t Unlocks = 0;
  bool Held = false;
};

class ScriptedTables final : public TVEXAO {
 public:
  explicit ScriptedTables(Script& S) : FS(S) { InitAO(nullptr, nullptr, "T", ""); }
  bool OpenTables() override { return true; }
  bool LockTables() override {
    if (++FS.Attempts <= FS.Refusals) return false;
    FS.Held = true;
    return true;
  }
  bool UnlockTables() override {
    FS.Held = false;
    return ++FS.Unlocks != FS.UnlockFailsAt;
  }
  void Execute(bool, TVEXAO*, TVEXCursor*) override {
    if (FS.FailExecute) throw EVEXException(1, "failed while running");
  }

 private:
  Script& FS;
};

class ScriptedStatement final : public TVEXSQLCursorCommand {
 public:
  ScriptedStatement(TVEXLexer& Lexer, Script& S) : TVEXSQLCursorCommand(Lexer, nullptr), FS(S) {}
  void Parse() override {}
  bool AllConditionsApplied() override { return true; }
  std::unique_ptr<TVEXAO> BuildAOTree(db::TDataSet*, bool, TVEXAO*, TVEXCursor*, bool) override {
    return std::make_unique<ScriptedTables>(FS);
  }

 private:
  Script& FS;
};

class CursorCommand : public ::testing::Test {
 protected:
  int32_t Run(Script& S) {
    ScriptedStatement statement(Lexer, S);
    bool readOnly = false;
    return CodeOf([&] { statement.ExecSQL(nullptr, false, false, readOnly, nullptr, nullptr); });
  }
  TVEXLexer Lexer{u"SELECT", nullptr, true};
  testsupport::FakeClockScope Clock;
};

TEST_F(CursorCommand, RefusedLocksAreRetriedAfterAPauseWithoutHoldingAny) {
  Script s;
  s.Refusals = 5;
  EXPECT_EQ(Run(s), 0);
  EXPECT_EQ(s.Attempts, 6);
  EXPECT_EQ(Clock.Clock.SleepCount(), 5u);
  EXPECT_EQ(Clock.Clock.TickCount(), 5u * TVEXSQLCursorCommand::kLockPauseMs);
  // Given back after each refused attempt and once after the run.
  EXPECT_EQ(s.Unlocks, 6);
  EXPECT_FALSE(s.Held);
}

TEST_F(CursorCommand, TheWaitIsBoundedAndEndsInTableIsLocked) {
  Script s;
  s.Refusals = 1000000;
  EXPECT_EQ(Run(s), 20225);
  EXPECT_EQ(s.Attempts, TVEXSQLCursorCommand::kLockAttempts);
  EXPECT_EQ(Clock.Clock.SleepCount(), TVEXSQLCursorCommand::kLockAttempts - 1u);
  EXPECT_FALSE(s.Held);
}

TEST_F(CursorCommand, AFailureWhileRunningGivesTheLocksBack) {
  Script s;
  s.FailExecute = true;
  EXPECT_EQ(Run(s), 1);
  EXPECT_EQ(s.Unlocks, 1);
  EXPECT_FALSE(s.Held);
}

TEST_F(CursorCommand, ALockNotGivenBackIsReported) {
  Script between;
  between.Refusals = 1;
  between.UnlockFailsAt = 1;
  EXPECT_EQ(Run(between), 20226);
  Script after;
  after.UnlockFailsAt = 1;
  EXPECT_EQ(Run(after), 20227);
  // A failed run keeps its own error when the unlock fails too.
  Script both;
  both.FailExecute = true;
  both.UnlockFailsAt = 1;
  EXPECT_EQ(Run(both), 1);
}

}  // namespace
