#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>

#include "components/VEXEngineState.h"
#include "components/VEXLocalEngine.h"
#include "engine/components/EngineFakes.h"
#include "support/NativeError.h"

namespace {

using testsupport::RaisesNativeError;
using vextest::EngineFixture;
using vextest::FakeFile;

class LocalSession : public EngineFixture {
 protected:
  // A multi-user session on File under SessionName.
  std::unique_ptr<vex::TVEXLocalSession> NewSession(const std::string& File,
                                                    const std::string& SessionName = "S",
                                                    const std::string& Password = "") {
    auto session = std::make_unique<vex::TVEXLocalSession>();
    session->SetDatabaseName("Hotel");
    session->SetDatabaseFileName(File);
    session->SetMultiUser(true);
    session->SetSessionName(SessionName);
    session->Password()->Password = Password;
    return session;
  }
};

TEST_F(LocalSession, OneFileUnderOneSessionNameSharesOneObject) {
  const std::string file = NewFile("hotel.vex");
  const std::string link = Dir / "link.vex";
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);

  auto first = NewSession(file, "Front");
  auto throughLink = NewSession(link, "FRONT");
  auto otherName = NewSession(file, "Back");
  first->SetConnected(true);
  throughLink->SetConnected(true);
  otherName->SetConnected(true);
  EXPECT_EQ(first->DatabaseData(), throughLink->DatabaseData());
  EXPECT_NE(first->DatabaseData(), otherName->DatabaseData());
  EXPECT_EQ(SharedObjectCount(), 4);
  EXPECT_EQ(first->SessionID(), 0);

  // The last disconnect of each name frees its object.
  first->SetConnected(false);
  EXPECT_EQ(first->SessionID(), vex::kNoSessionID);
  EXPECT_EQ(SharedObjectCount(), 4);
  throughLink->SetConnected(false);
  otherName->SetConnected(false);
  EXPECT_EQ(SharedObjectCount(), 2);
  EXPECT_EQ(Engines.DiskObjectsLive, 0);
  // A new connection makes a new object and opens the file again.
  first->SetConnected(true);
  EXPECT_EQ(Engines.FileOpens, 3);
}

TEST_F(LocalSession, OnlyTheExactNamesMemoryAndTempAreTheProcessWideDatabases) {
  auto memory = NewSession("");
  memory->SetDatabaseName("MEMORY");
  memory->SetConnected(true);
  EXPECT_EQ(memory->DatabaseData(), vex::SharedDatabases().Get(0));
  EXPECT_EQ(memory->GetDBFileConnectionsCount(), 0);
  memory->TruncateDatabase();
  memory->SetConnected(false);
  EXPECT_EQ(SharedObjectCount(), 2);  // the in-memory database stays

  // "memory" is a database file of that name, and a file named MEMORY is
  // never the in-memory database.
  const std::string file = NewFile("MEMORY");
  auto lower = NewSession(file);
  lower->SetDatabaseName("memory");
  lower->SetConnected(true);
  EXPECT_NE(lower->DatabaseData(), vex::SharedDatabases().Get(0));
  EXPECT_EQ(Engines.DiskObjectsLive, 1);
}

TEST_F(LocalSession, CreateDatabaseRefusesAnOpenDatabaseAndLeavesNoObject) {
  auto memory = NewSession("");
  memory->SetDatabaseName("MEMORY");
  EXPECT_THAT([&] { memory->CreateDatabase(); }, RaisesNativeError(20092));

  const std::string file = NewFile("open.vex");
  auto open = NewSession(file);
  open->SetConnected(true);
  auto again = NewSession(file);
  EXPECT_THAT([&] { again->CreateDatabase(); }, RaisesNativeError(20092));
  EXPECT_EQ(SharedObjectCount(), 3);

  auto fresh = NewSession(Dir / "new.vex");
  fresh->SetPageSize(8192);
  fresh->CreateDatabase();
  EXPECT_FALSE(fresh->GetConnected());
  EXPECT_EQ(SharedObjectCount(), 3);
  fresh->SetConnected(true);
  EXPECT_EQ(fresh->PageSize(), 8192);
}

TEST_F(LocalSession, CommitAndRollbackNeedATransactionAndAFailedCommitKeepsIt) {
  auto session = NewSession(NewFile("hotel.vex"));
  session->SetConnected(true);
  EXPECT_THAT([&] { session->Commit(false); }, RaisesNativeError(20229));
  EXPECT_THAT([&] { session->Rollback(); }, RaisesNativeError(20229));
  session->StartTransaction();
  Engines.FailCommit = true;
  EXPECT_THAT([&] { session->Commit(true); }, RaisesNativeError(20213));
  EXPECT_TRUE(session->InTransaction());
  Engines.FailCommit = false;
  session->Commit(true);
  EXPECT_FALSE(session->InTransaction());
}

TEST_F(LocalSession, ASecondSessionOfAnEncryptedFileNeedsItsPassword) {
  FakeFile encrypted;
  encrypted.Password = {"secret", vex::craTwofish_256};
  encrypted.PageSize = 16384;
  encrypted.PageCountInExtent = 4;
  encrypted.MaxSessionCount = 5;
  const std::string file = NewFile("secret.vex", encrypted);

  auto first = NewSession(file, "S", "secret");
  first->SetConnected(true);
  auto wrong = NewSession(file, "S", "SECRET");
  EXPECT_THAT([&] { wrong->SetConnected(true); }, RaisesNativeError(20298));
  wrong->SetConnected(false);  // what the database component does after a failure

  auto right = NewSession(file, "S", "secret");
  right->SetPageSize(4096);
  right->SetConnected(true);
  EXPECT_EQ(right->Password()->CryptoAlgorithm, vex::craTwofish_256);
  EXPECT_EQ(right->PageSize(), 16384);
  EXPECT_EQ(right->PageCountInExtent(), 4);
  EXPECT_EQ(right->MaxSessionCount(), 5);
  EXPECT_EQ(right->GetDBFileConnectionsCount(), 2);
}

}  // namespace
