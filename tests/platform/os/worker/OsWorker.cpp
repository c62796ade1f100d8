// A helper process for the multi-process tests of the file layer. It takes one
// action from its arguments, reports "ready" on stdout once the action holds,
// and then waits to be killed (or, for "write", exits by itself):
//   lock  <path> <offset> <count>  opens the file shared and locks the region
//   open  <path> exclusive|denynone opens the file read-write with that share mode
//   write <path> <k> <n>           writes n 8-byte records, ending the process at write k
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/File.h"
#include "os/FileFaults.h"

namespace {
int Ready() {
  std::fputs("ready\n", stdout);
  std::fflush(stdout);
  for (;;) pause();
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string action = argv[1];
  std::string path = argv[2];
  os::File file;
  if (action == "lock" && argc == 5) {
    if (!file.Open(path, os::Access::ReadWrite, os::Share::DenyNone)) return 3;
    if (file.Lock(std::atoll(argv[3]), std::atoll(argv[4])) != os::LockResult::Granted) return 4;
    return Ready();
  }
  if (action == "open" && argc == 4) {
    os::Share share =
        std::strcmp(argv[3], "exclusive") == 0 ? os::Share::Exclusive : os::Share::DenyNone;
    if (!file.Open(path, os::Access::ReadWrite, share)) return 3;
    return Ready();
  }
  if (action == "write" && argc == 5) {
    if (!file.Open(path, os::Access::ReadWrite, os::Share::Exclusive)) return 3;
    long n = std::atol(argv[4]);
    os::faults::ArmWriteFault(std::strtoull(argv[3], nullptr, 10),
                              os::faults::WriteFault::ExitProcess, 42);
    for (long i = 0; i < n; ++i) {
      if (!file.Write("record..", 8, i * 8)) return 5;
    }
    return 0;
  }
  return 2;
}
