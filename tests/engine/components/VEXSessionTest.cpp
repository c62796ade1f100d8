#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/VEXDatabase.h"
#include "components/VEXEngineState.h"
#include "components/VEXSession.h"
#include "db/DBCommon.h"
#include "engine/components/EngineFakes.h"
#include "rtl/Lists.h"
#include "support/NativeError.h"

namespace {

using testsupport::RaisesNativeError;
using vextest::EngineFixture;

using Sessions = EngineFixture;

std::string DatabaseErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const db::EDatabaseError& e) {
    return e.what();
  }
  return "<no database error>";
}

TEST_F(Sessions, FindSessionOfAnEmptyOrLowerCaseNameFindsTheDefaultSession) {
  vex::TVEXSessionList& list = vex::Sessions();
  EXPECT_EQ(list.FindSession(""), &vex::GetDefaultSession());
  EXPECT_EQ(list.FindSession("default"), &vex::GetDefaultSession());
  EXPECT_EQ(list.FindSession("Other"), nullptr);
  EXPECT_THAT([&] { list.GetSessionByName("Other"); }, RaisesNativeError(20002));
}

TEST_F(Sessions, ActivatingASessionActivatesTheDefaultFirstAndLeavesItCurrentAfter) {
  vex::TVEXSession session(nullptr);
  session.SetSessionName("Second");
  EXPECT_EQ(DatabaseErrorOf([] {
              vex::TVEXSession other(nullptr);
              other.SetSessionName("second");
            }),
            "Duplicate session name 'second'");
  session.Open();
  EXPECT_TRUE(vex::GetDefaultSession().Active());
  session.Handle();
  EXPECT_EQ(vex::Sessions().CurrentSession(), &session);
  EXPECT_EQ(DatabaseErrorOf([&] { session.SetSessionName("Renamed"); }),
            "Cannot perform this operation on an active session");
  session.Close();
  EXPECT_EQ(vex::Sessions().CurrentSession(), &vex::GetDefaultSession());
}

TEST_F(Sessions, AutomaticNamesTakeTheLowestFreeNumber) {
  rtl::TComponent form1(nullptr), form2(nullptr), form3(nullptr);
  auto* first = new vex::TVEXSession(&form1);
  first->SetName("Session1");
  auto* second = new vex::TVEXSession(&form2);
  second->SetName("Session2");
  auto* third = new vex::TVEXSession(&form3);
  third->SetName("Session3");

  first->SetAutoSessionName(true);
  EXPECT_EQ(first->SessionName(), "Session1_1");
  second->SetAutoSessionName(true);
  EXPECT_EQ(second->SessionName(), "Session2_2");
  EXPECT_EQ(DatabaseErrorOf([&] { first->SetSessionName("Mine"); }),
            "Session1: Cannot modify SessionName while AutoSessionName is enabled");
  first->SetAutoSessionName(false);
  third->SetAutoSessionName(true);
  EXPECT_EQ(third->SessionName(), "Session3_1");
  // Renaming the component renames the session.
  third->SetName("Renamed");
  EXPECT_EQ(third->SessionName(), "Renamed_1");
}

TEST_F(Sessions, AnAutomaticNameMovesTheOwnersDatabasesAndRefusesASecondSession) {
  rtl::TComponent form(nullptr);
  auto* database = new vex::TVEXDatabase(&form);
  database->SetDatabaseName("Hotel");
  EXPECT_EQ(database->Session(), &vex::GetDefaultSession());
  auto* session = new vex::TVEXSession(&form);
  session->SetName("Session1");
  session->SetAutoSessionName(true);
  EXPECT_EQ(database->SessionName(), "Session1_1");
  EXPECT_EQ(database->Session(), session);
  // A database made on the form later joins the session in its constructor.
  auto* later = new vex::TVEXDatabase(&form);
  EXPECT_EQ(later->Session(), session);
  EXPECT_EQ(later->SessionName(), "Session1_1");
  EXPECT_EQ(DatabaseErrorOf([&] { new vex::TVEXSession(&form); }),
            "Cannot add a session to the form or data-module while session 'Session1' has "
            "AutoSessionName enabled");
}

TEST_F(Sessions, OpenDatabaseOfAnUnknownNameMakesASilentTemporaryDatabase) {
  vex::TVEXSession& session = vex::GetDefaultSession();
  vex::TVEXDatabase& memory = session.OpenDatabase("MEMORY");
  EXPECT_TRUE(memory.Temporary());
  EXPECT_TRUE(memory.SilentMode());
  EXPECT_TRUE(memory.Connected());
  EXPECT_EQ(memory.Owner(), &session);
  EXPECT_EQ(memory.RefCount(), 1);
  EXPECT_EQ(&session.OpenDatabase("memory"), &memory);  // found by name again
  EXPECT_EQ(memory.RefCount(), 2);
  session.CloseDatabase(memory);
  session.CloseDatabase(memory);
  EXPECT_TRUE(memory.Connected());  // KeepConnections holds it open

  const int32_t before = session.DatabaseCount();
  EXPECT_THAT([&] { session.OpenDatabase("NoSuchFile"); }, RaisesNativeError(20230));
  EXPECT_EQ(session.DatabaseCount(), before);
  EXPECT_EQ(Engines.DiskObjectsLive, 0);
}

TEST_F(Sessions, CloseDatabaseFreesAnUnreferencedTemporaryWithoutKeepConnection) {
  vex::TVEXSession session(nullptr);
  session.SetSessionName("Work");
  session.SetKeepConnections(false);
  vex::TVEXDatabase& temp = session.OpenDatabase("TEMP");
  EXPECT_EQ(session.DatabaseCount(), 1);
  session.CloseDatabase(temp);
  EXPECT_EQ(session.DatabaseCount(), 0);
}

TEST_F(Sessions, DeactivatingFreesTemporaryDatabasesAndClosesTheOthers) {
  vex::TVEXSession session(nullptr);
  session.SetSessionName("Work");
  auto kept = std::make_unique<vex::TVEXDatabase>(&session);
  kept->SetDatabaseName("Kept");
  kept->SetDatabaseFileName(NewFile("kept.vex"));
  kept->Open();
  session.OpenDatabase("MEMORY");
  ASSERT_EQ(session.DatabaseCount(), 2);
  session.Close();
  ASSERT_EQ(session.DatabaseCount(), 1);
  EXPECT_EQ(session.GetDatabase(0), kept.get());
  EXPECT_FALSE(kept->Connected());
  EXPECT_EQ(Engines.DiskObjectsLive, 0);
}

TEST_F(Sessions, AFreedSessionMovesItsDatabasesToTheDefaultSession) {
  auto session = std::make_unique<vex::TVEXSession>(nullptr);
  session->SetSessionName("Work");
  vex::TVEXDatabase database(nullptr);
  database.SetSessionName("Work");
  database.SetDatabaseName("Hotel");
  EXPECT_EQ(database.Session(), session.get());
  session.reset();
  EXPECT_EQ(database.Session(), &vex::GetDefaultSession());
  EXPECT_EQ(database.SessionName(), "");
  EXPECT_EQ(vex::GetDefaultSession().FindDatabase("Hotel"), &database);
}

}  // namespace
