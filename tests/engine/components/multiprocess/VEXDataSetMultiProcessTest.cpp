// Several processes edit one counter through datasets on a multi-user
// database file. Each edit holds the record lock from Edit to Post and fails
// (and is retried) when another process holds the record or changed it since
// it was read, so no increment is lost or counted twice. A watchdog ends the
// workers and fails the test when they overrun: a hang is a fault.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "components/VEXSession.h"
#include "engine/components/DataSetFixture.h"
#include "support/ScratchDir.h"
#include "support/WorkerProcesses.h"

extern char** environ;

namespace {

constexpr auto kWatchdog = std::chrono::seconds(240);

using Workers = testsupport::WorkerProcesses;

TEST(DataSetMultiProcess, FourWorkersCountEveryEditOfOneCounterExactlyOnce) {
  testsupport::ScratchDir dir;
  const std::string file = dir / "counter.vdb";
  vextest::CreateCounterFile(file);
  vex::TVEXSession session(nullptr);
  session.SetSessionName("Check");
  vextest::AddHotel(session, file);
  vextest::TableDataSet counter;
  counter.SetSessionName("Check");
  counter.SetDatabaseName("Hotel");
  counter.TableName = "Counter";
  counter.Open();
  counter.Insert();
  counter.FieldByName("ID")->SetAsInteger(1);
  counter.FieldByName("NAME")->SetAsString("Counter");
  counter.FieldByName("N")->SetAsInteger(0);
  counter.Post();
  counter.Close();

  constexpr int kWorkers = 4;
  constexpr int kEdits = 250;
  Workers workers(DATASET_WORKER);
  for (int w = 0; w < kWorkers; ++w) workers.Start({file, std::to_string(kEdits)});
  const std::vector<int> codes = workers.WaitAll(kWatchdog);
  for (int w = 0; w < kWorkers; ++w)
    ASSERT_EQ(codes[static_cast<size_t>(w)], 0) << "worker " << w << " (-1: killed)";

  counter.Open();
  EXPECT_EQ(counter.RecordCount(), 1);
  EXPECT_EQ(counter.FieldByName("N")->AsInteger(), kWorkers * kEdits);
}

}  // namespace
