// vex-check: checks database files and says what it finds.
//
//   vex-check [--password <password>] <database file>...
//
// Exit 0 when every file is sound, 1 when any has a fault, 2 for bad
// arguments.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "VEXFileCheck.h"
#include "components/VEXEngineState.h"
#include "foundation/VEXStartup.h"

int main(int argc, char** argv) {
  std::string password;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc) {
      password = argv[++i];
    } else {
      files.emplace_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::cerr << "usage: vex-check [--password <password>] <database file>...\n";
    return 2;
  }
  vex::AddComponentsStartupSteps();
  vex::StartEngine();
  bool sound = true;
  for (const std::string& file : files) {
    const vex::TVEXFileCheckReport report = vex::CheckDatabaseFile(file, password);
    std::cout << vex::FormatFileCheckReport(file, report);
    sound = sound && report.Sound();
  }
  vex::StopEngine();
  return sound ? 0 : 1;
}
