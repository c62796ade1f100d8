// The program an executable database of the tests starts with: it opens its
// own file, read-only, as a database (the engine finds the database after the
// program by its header's signature) and prints the names of its tables, one
// a line. Exit status 0 when it could, 1 with the error on stderr otherwise.
#include <exception>
#include <iostream>

#include "components/VEXDatabase.h"
#include "components/VEXEngineState.h"
#include "foundation/VEXStartup.h"
#include "rtl/Lists.h"
#include "sql/expression/VEXExpression.h"

int main() {
  vex::AddComponentsStartupSteps();
  vex::AddSqlStartupSteps();
  vex::StartEngine();
  int status = 0;
  try {
    vex::TVEXDatabase database(nullptr);
    database.SetDatabaseName("Self");
    database.SetDatabaseFileName("/proc/self/exe");
    // A running program cannot be opened for writing.
    database.SetReadOnly(true);
    database.SetSilentMode(true);
    database.Open();
    rtl::TStringList tables;
    database.Handle()->GetTablesList(tables);
    for (int32_t i = 0; i < tables.Count(); ++i) std::cout << tables[i] << '\n';
    database.Close();
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
    status = 1;
  }
  vex::StopEngine();
  return status;
}
