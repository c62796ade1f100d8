#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/VEXDatabase.h"
#include "components/VEXEngineError.h"
#include "components/VEXEngineState.h"
#include "components/VEXSession.h"
#include "engine/components/EngineFakes.h"
#include "rtl/Lists.h"
#include "storage/VEXTableData.h"
#include "storage/memory/VEXMemEngine.h"
#include "storage/temp/VEXTempEngine.h"
#include "support/NativeError.h"

namespace {

using testsupport::RaisesNativeError;
using vextest::EngineFixture;

TEST(EngineError, TextsOfTheResultCodes) {
  struct Case {
    int32_t Code;
    const char* Given;
    const char* ErrorMessage;
    const char* Message;
  };
  const Case cases[] = {
      {-12, "ignored", "Record is locked", "Vexolite Engine Error # -12 Record is locked"},
      {-8, "Field 'Name' must have a value", "Field 'Name' must have a value",
       "Vexolite Engine Error # -8 Field 'Name' must have a value"},
      {-1, "Field 'Name' must have a value", "Error adding record",
       "Vexolite Engine Error # -1 Error adding record"},
      {5, "ignored", "", "Vexolite Engine Error # 5 "},
  };
  for (const Case& c : cases) {
    const vex::EVEXEngineError error(c.Code, c.Given);
    const db::EDatabaseError& asDatabaseError = error;  // the framework's handlers catch it so
    EXPECT_EQ(error.ErrorCode(), c.Code);
    EXPECT_EQ(error.ErrorMessage(), c.ErrorMessage) << "code " << c.Code;
    EXPECT_STREQ(asDatabaseError.what(), c.Message) << "code " << c.Code;
  }
}

using EngineState = EngineFixture;

TEST_F(EngineState, StartsWithMemoryTempAndOneInactiveDefaultSession) {
  ASSERT_EQ(SharedObjectCount(), 2);
  EXPECT_EQ(vex::SharedDatabases().Get(0)->DatabaseName(), "MEMORY");
  EXPECT_EQ(vex::SharedDatabases().Get(1)->DatabaseName(), "TEMP");
  ASSERT_EQ(vex::Sessions().Count(), 1);
  vex::TVEXSession& session = *vex::Sessions().GetSession(0);
  EXPECT_EQ(&session, &vex::GetDefaultSession());
  EXPECT_EQ(session.SessionName(), "Default");
  EXPECT_TRUE(session.IsDefault());
  EXPECT_FALSE(session.Active());
  EXPECT_FALSE(vex::EngineInitialized());
  EXPECT_THAT([] { vex::GetEngineHandle(); }, RaisesNativeError(20007));
  EXPECT_FALSE(vex::DesignMode());
  EXPECT_EQ(vex::CalculatedWideTextCellCount(), 0);
}

TEST_F(EngineState, ShutDownWithAnOpenDiskDatabaseFreesItsObjectAfterTheSessions) {
  const std::string file = NewFile("open.vex");
  auto database = std::make_unique<vex::TVEXDatabase>(nullptr);
  database->SetDatabaseName("Open");
  database->SetDatabaseFileName(file);
  database->Open();
  const uint32_t cell = vex::NewCalculatedWideTextCell(u"calculated");
  std::u16string text;
  EXPECT_TRUE(vex::GetCalculatedWideText(cell, text));
  EXPECT_EQ(text, u"calculated");
  ASSERT_EQ(Engines.DiskObjectsLive, 1);

  vex::StopEngine();
  EXPECT_EQ(Engines.DiskObjectsLive, 0);
  EXPECT_FALSE(database->Connected());  // the default session closed it on its way
  EXPECT_EQ(vex::SessionsOrNil(), nullptr);
  database.reset();  // a component freed after shut-down leaves no session
  vex::StartEngine();
  EXPECT_EQ(SharedObjectCount(), 2);
}

TEST_F(EngineState, AFreedHandleNeverNamesALiveOne) {
  vex::TVEXSessionComponentManager* first = nullptr;
  vex::CreateSessionHandle(first);
  vex::SetCurrentSessionHandle(first);
  vex::FreeSessionHandle(first);
  // The next handles are likely to reuse the freed address.
  for (int i = 0; i < 4; ++i) {
    vex::TVEXSessionComponentManager* next = nullptr;
    vex::CreateSessionHandle(next);
    EXPECT_FALSE(vex::IsCurrentSessionHandle(next));
    vex::FreeSessionHandle(next);
  }
}

TEST_F(EngineState, EngineHandleFollowsTheDefaultSession) {
  vex::TVEXSession& defaultSession = vex::GetDefaultSession();
  defaultSession.Open();
  EXPECT_TRUE(vex::EngineInitialized());
  EXPECT_EQ(vex::GetEngineHandle(), defaultSession.CurrentHandle());
  EXPECT_EQ(vex::Sessions().CurrentSession(), &defaultSession);
  defaultSession.Close();
  EXPECT_FALSE(vex::EngineInitialized());
  EXPECT_EQ(vex::Sessions().CurrentSession(), nullptr);
  EXPECT_THAT([] { vex::GetEngineHandle(); }, RaisesNativeError(20007));
}

}  // namespace

namespace {

// Without installed engines, the library's own memory and temporary engines
// serve "MEMORY" and "TEMP".
TEST(BuiltInEngines, ServeTheMemoryAndTemporaryDatabases) {
  ASSERT_EQ(vex::SharedDatabases().Count(), 2);
  EXPECT_NE(dynamic_cast<vex::TVEXMemoryDatabaseData*>(vex::SharedDatabases().Get(0)), nullptr);
  EXPECT_NE(dynamic_cast<vex::TVEXTemporaryDatabaseData*>(vex::SharedDatabases().Get(1)), nullptr);
  vex::TVEXSession& session = vex::GetDefaultSession();
  for (const char* name : {"MEMORY", "TEMP"}) {
    vex::TVEXDatabase& database = session.OpenDatabase(name);
    EXPECT_EQ(database.Handle()->SessionID(), 0) << name;
    database.StartTransaction();
    database.Commit();
    rtl::TStringList tables;
    database.GetTablesList(tables);
    EXPECT_EQ(tables.Count(), 0) << name;
    session.CloseDatabase(database);
  }
  session.Close();
  EXPECT_EQ(session.DatabaseCount(), 0);
  EXPECT_EQ(vex::SharedDatabases().Count(), 2);
}

}  // namespace
