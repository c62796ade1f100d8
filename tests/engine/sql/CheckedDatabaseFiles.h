// Database files a statement test makes in its scratch folder. Every file a
// statement changed must still be sound, and leak no page, when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "VEXFileCheck.h"
#include "components/VEXLocalEngine.h"
#include "support/ScratchDir.h"

namespace vextest {

class CheckedDatabaseFiles {
 public:
  // A new database file in Dir; encrypted when Password is not empty.
  std::string New(const testsupport::ScratchDir& Dir, const std::string& Name,
                  const std::string& Password) {
    const std::string path = Dir / Name;
    vex::TVEXLocalSession creator;
    creator.SetDatabaseName("New");
    creator.SetDatabaseFileName(path);
    if (!Password.empty()) *creator.Password() = {Password, vex::craRijndael_128};
    creator.SetPageSize(4096);
    creator.SetPageCountInExtent(8);
    creator.SetMaxSessionCount(20);
    creator.CreateDatabase();
    FFiles.emplace_back(path, Password);
    return path;
  }

  // Call when every connection to the files is gone.
  void ExpectSound() const {
    for (const auto& [path, password] : FFiles) {
      const vex::TVEXFileCheckReport report = vex::CheckDatabaseFile(path, password);
      EXPECT_TRUE(report.Sound() && report.LeakedPages.empty())
          << vex::FormatFileCheckReport(path, report);
    }
  }

 private:
  // The files made, with their passwords.
  std::vector<std::pair<std::string, std::string>> FFiles;
};

}  // namespace vextest
