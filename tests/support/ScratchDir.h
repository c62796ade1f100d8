// A folder of its own under the temporary folder for one test, removed with
// everything in it when the test ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testsupport {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "valmoratestXXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The path of a file (or a relative path) inside the folder.
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

}  // namespace testsupport
