// Test equipment for the file layer: a helper process started with posix_spawn.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/ScratchDir.h"

extern char** environ;

namespace ostest {

// The helper process (tests/platform/os/worker). Start() returns once the worker
// has reported "ready" (true) or has ended without doing so (false).
class Worker {
 public:
  explicit Worker(std::vector<std::string> args) : FArgs(std::move(args)) {}
  ~Worker() {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) ::close(FOut);
  }

  bool Start() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<std::string> all{OS_TEST_WORKER};
    all.insert(all.end(), FArgs.begin(), FArgs.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = ::posix_spawn(&FPid, OS_TEST_WORKER, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    FOut = fds[0];
    if (rc != 0) {
      FPid = -1;
      return false;
    }
    std::string line;
    char c;
    while (::read(FOut, &c, 1) == 1 && c != '\n') line += c;
    return line == "ready";
  }

  // Ends the worker with SIGKILL and reaps it.
  void Kill() {
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

  // Waits for the worker to end by itself; its exit code, or -1 when killed.
  int Wait() {
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::vector<std::string> FArgs;
  pid_t FPid = -1;
  int FOut = -1;
};

}  // namespace ostest
