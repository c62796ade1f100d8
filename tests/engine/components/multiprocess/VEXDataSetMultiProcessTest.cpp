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

extern char** environ;

namespace {

constexpr auto kWatchdog = std::chrono::seconds(240);

// Starts the workers; any still running when the test ends is killed.
class Workers {
 public:
  ~Workers() {
    for (pid_t pid : FRunning) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  void Start(const std::vector<std::string>& Args) {
    std::vector<char*> argv{const_cast<char*>(DATASET_WORKER)};
    for (const std::string& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, DATASET_WORKER, nullptr, nullptr, argv.data(), environ), 0);
    FRunning.push_back(pid);
  }
  // Each worker's exit code, -1 for one killed by the watchdog or a signal.
  std::vector<int> WaitAll(std::chrono::steady_clock::duration Limit) {
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    std::vector<int> codes(FRunning.size(), -1);
    std::vector<bool> ended(FRunning.size(), false);
    size_t left = FRunning.size();
    while (left > 0 && std::chrono::steady_clock::now() < deadline) {
      for (size_t i = 0; i < FRunning.size(); ++i) {
        int status = 0;
        if (!ended[i] && ::waitpid(FRunning[i], &status, WNOHANG) == FRunning[i]) {
          ended[i] = true;
          --left;
          codes[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<pid_t> stuck;
    for (size_t i = 0; i < FRunning.size(); ++i)
      if (!ended[i]) stuck.push_back(FRunning[i]);
    FRunning = stuck;
    return codes;
  }

 private:
  std::vector<pid_t> FRunning;
};

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
  Workers workers;
  for (int w = 0; w < kWorkers; ++w) workers.Start({file, std::to_string(kEdits)});
  const std::vector<int> codes = workers.WaitAll(kWatchdog);
  for (int w = 0; w < kWorkers; ++w)
    ASSERT_EQ(codes[static_cast<size_t>(w)], 0) << "worker " << w << " (-1: killed)";

  counter.Open();
  EXPECT_EQ(counter.RecordCount(), 1);
  EXPECT_EQ(counter.FieldByName("N")->AsInteger(), kWorkers * kEdits);
}

}  // namespace
