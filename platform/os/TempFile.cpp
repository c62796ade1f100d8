#include "os/TempFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "os/OsError.h"

namespace os {

// Wraps a descriptor that nobody else can reach (its name is already gone), so
// the share-mode sentinels have nothing to guard.
File AdoptTemporaryFile(int fd, std::string path) {
  File file;
  file.FFd = fd;
  file.FFdWritable = true;
  file.FPath = std::move(path);
  file.FAccess = Access::ReadWrite;
  file.FShare = Share::Exclusive;
  return file;
}

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string result = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

File CreateTempFile(std::string* name) {
  std::string pattern = TempDirectory();
  if (pattern != "/") pattern += '/';
  pattern += "VEXXXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    SetLastError(error);
    throw OsError(
        "Cannot create a temporary file in '" + TempDirectory() + "': " + ErrorText(error), error);
  }
  std::string path(buffer.data());
  if (::unlink(path.c_str()) != 0) {
    int error = errno;
    ::close(fd);
    SetLastError(error);
    throw OsError("Cannot unlink the temporary file '" + path + "': " + ErrorText(error), error);
  }
  if (name != nullptr) *name = path;
  return AdoptTemporaryFile(fd, std::move(path));
}

}  // namespace os
