// One process of the dataset counter test: adds 1 to the counter N of the
// record with ID 1 in the table Counter, Count times, through a dataset on a
// multi-user database component, retrying each edit while another process
// holds the record or has changed it since it was read, and each read that
// met another process's commit holding the file header ("Database is
// locked": a record read asks for the header lock once).
//
//   dataset_worker <database file> <count>
//
// Exit code 0 when every edit was stored, 1 on any other failure, 2 for bad
// arguments.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "components/VEXEngineError.h"
#include "components/VEXEngineState.h"
#include "components/VEXSession.h"
#include "engine/components/DataSetFixture.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStartup.h"
#include "sql/expression/VEXExpression.h"

namespace {

// Edits that failed for a lock or a change this many times in a row mean the
// others never let go: a fault, not a wait.
constexpr int kMaxRetries = 10000;
constexpr int32_t kDatabaseLocked = 20236;

int Run(const std::string& Path, int Count) {
  vex::TVEXSession& session = vex::GetDefaultSession();
  vextest::AddHotel(session, Path);
  vextest::TableDataSet counter;
  counter.SetDatabaseName("Hotel");
  counter.TableName = "Counter";
  counter.Open();
  for (int done = 0; done < Count; ++done) {
    for (int attempt = 0;; ++attempt) {
      bool posting = false;
      try {
        counter.Refresh();
        counter.First();
        counter.Edit();
        counter.FieldByName("N")->SetAsInteger(counter.FieldByName("N")->AsInteger() + 1);
        posting = true;
        counter.Post();
        break;
      } catch (const std::exception& e) {
        const auto* engine = dynamic_cast<const vex::EVEXException*>(&e);
        const bool retry = dynamic_cast<const vex::EVEXEngineError*>(&e) != nullptr ||
                           (engine != nullptr && engine->NativeError == kDatabaseLocked);
        if (!retry || attempt >= kMaxRetries) {
          std::fprintf(stderr, "edit %d gave up: %s\n", done, e.what());
          return 1;
        }
        // A post that left the edit state stored the record; only reading the
        // ring again afterwards failed.
        if (posting && counter.State() == db::dsBrowse) break;
        try {
          if (counter.State() == db::dsEdit) counter.Cancel();
        } catch (const vex::EVEXException& cancel) {
          if (cancel.NativeError != kDatabaseLocked) throw;
        }
      }
    }
  }
  counter.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const int count = std::atoi(argv[2]);
  if (count <= 0) return 2;
  vex::AddComponentsStartupSteps();
  vex::AddSqlStartupSteps();
  vex::StartEngine();
  int code = 1;
  try {
    code = Run(argv[1], count);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "worker failed: %s\n", e.what());
  }
  vex::StopEngine();
  return code;
}
