#include "os/Paths.h"

#include <cerrno>
#include <cstdlib>

#include "os/OsError.h"

namespace os {

namespace {
std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}
}  // namespace

std::string DocumentsFolder() {
  std::string folder = Env("XDG_DOCUMENTS_DIR");
  if (folder.empty()) {
    std::string home = Env("HOME");
    if (home.empty()) {
      SetLastError(ENOENT);
      throw OsError("The Documents folder is unknown: neither XDG_DOCUMENTS_DIR nor HOME is set",
                    ENOENT);
    }
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    folder = (home == "/" ? std::string() : home) + "/Documents";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace os
