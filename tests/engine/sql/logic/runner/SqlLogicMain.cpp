// Runs the SQL logic-test files named on the command line, each on a new
// database, with the engine started as the library's load starts it. Prints
// every failure with its file, line, statement, expected and actual outcome;
// the exit code is 1 when any record failed.
#include <cstdio>
#include <string>

#include "SqlLogicRunner.h"
#include "components/VEXEngineState.h"
#include "foundation/VEXStartup.h"
#include "sql/expression/VEXExpression.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.test...\n", argv[0]);
    return 2;
  }
  vex::AddComponentsStartupSteps();
  vex::AddSqlStartupSteps();
  vex::StartEngine();
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    const sqllogic::Result r = sqllogic::RunFile(argv[i]);
    std::fputs(r.Report().c_str(), stdout);
    std::printf("%s: %d records, %zu failed\n", argv[i], r.Records, r.Failures.size());
    if (!r.Failures.empty()) failed = 1;
  }
  vex::StopEngine();
  return failed;
}
