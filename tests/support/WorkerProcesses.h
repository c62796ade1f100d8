// Worker programs that a multi-process test starts with posix_spawn (never
// fork: the test process holds open database files). WaitAll is the
// watchdog: a worker still running at its deadline counts as failed and is
// killed, and any worker still running when the object goes is killed too,
// so no worker outlives its test and a hang fails the test instead of the
// CI job.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace testsupport {

class WorkerProcesses {
 public:
  explicit WorkerProcesses(std::string program) : FProgram(std::move(program)) {}
  WorkerProcesses(const WorkerProcesses&) = delete;
  WorkerProcesses& operator=(const WorkerProcesses&) = delete;
  ~WorkerProcesses() {
    for (pid_t pid : FRunning) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  void Start(const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(FProgram.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, FProgram.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    FRunning.push_back(pid);
  }

  // Ends the index-th worker started with SIGKILL, as a crash would, and
  // reaps it: when this returns, the system has dropped what it held.
  void Kill(size_t index) {
    ASSERT_LT(index, FRunning.size());
    ::kill(FRunning[index], SIGKILL);
    ::waitpid(FRunning[index], nullptr, 0);
    FRunning.erase(FRunning.begin() + static_cast<std::ptrdiff_t>(index));
  }

  // Waits for every worker until the deadline; their exit codes in the order
  // they were started, -1 for a worker the watchdog had to kill or that died
  // of a signal.
  std::vector<int> WaitAll(std::chrono::steady_clock::duration limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<int> codes(FRunning.size(), -1);
    std::vector<bool> ended(FRunning.size(), false);
    size_t left = FRunning.size();
    while (left > 0 && std::chrono::steady_clock::now() < deadline) {
      for (size_t i = 0; i < FRunning.size(); ++i) {
        if (ended[i]) continue;
        int status = 0;
        if (::waitpid(FRunning[i], &status, WNOHANG) == FRunning[i]) {
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
    FRunning = stuck;  // the destructor kills them
    return codes;
  }

 private:
  std::string FProgram;
  std::vector<pid_t> FRunning;
};

}  // namespace testsupport
