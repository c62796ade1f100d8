// Runs the SQL logic-test files named on the command line, each on a new
// database, with the engine started as the library's load starts it. Prints
// every failure with its file, line, statement, expected and actual outcome;
// the exit code is 1 when any record failed.
//
// With --extract-sql DIR first, it runs nothing and writes the SQL text of
// every statement and query record into DIR, a file each: the fuzzers' seeds.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "SqlLogicRunner.h"
#include "components/VEXEngineState.h"
#include "foundation/VEXStartup.h"
#include "sql/expression/VEXExpression.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [--extract-sql DIR] FILE.test...\n", argv[0]);
    return 2;
  }
  if (std::string(argv[1]) == "--extract-sql") {
    int n = 0;
    for (int i = 3; i < argc; ++i) {
      std::ifstream in(argv[i], std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      for (const std::string& sql : sqllogic::ExtractSql(text.str()))
        std::ofstream(std::string(argv[2]) + "/seed" + std::to_string(++n) + ".sql",
                      std::ios::binary)
            << sql;
    }
    std::printf("%d seeds\n", n);
    return 0;
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
