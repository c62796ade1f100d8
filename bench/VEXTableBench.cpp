// A table of the plug-in's shape in a database file, beside SQLite on a file
// in the same scratch folder:
//   W1  100,000 rows (integer key, 30-character name, double, date, integer)
//       appended in one transaction into a new database, then committed
//   W2  100,000 point look-ups of random keys by the key index (FindKey), and
//       the same keys by Locate (W2Locate)
//   W3  one pass over all rows in key order counting amounts above 1,000
//   W4  10,000 rows posted one by one, each its own committed change set;
//       with range(0) = 1 the database is opened in multi-user mode (table
//       and record locks through byte locks on the file)
// Each case prints its time per row (per_op, seconds).
//
// Our side is the table component on a database component: the table is
// created from its advanced definitions, rows are appended with typed field
// writes and Post, found with FindKey on the primary index and with Locate,
// and read with First / Next and typed field reads. Our commit flushes only when asked, so SQLite
// runs with synchronous=OFF; its table has the key as INTEGER PRIMARY KEY (its
// row id), reads and writes through prepared statements, W1 in one
// transaction, W4 in autocommit.
#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "BenchRows.h"
#include "components/VEXDatabase.h"
#include "components/VEXEngineState.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXTable.h"
#include "db/FieldDefs.h"
#include "db/Fields.h"
#include "foundation/VEXStartup.h"
#include "rtl/Variant.h"
#include "sql/expression/VEXExpression.h"

namespace {

constexpr int32_t kRows = 100000;
constexpr int32_t kLookups = 100000;
constexpr int32_t kPosts = 10000;
constexpr int32_t kNameSize = 30;

using benchrows::AmountOf;
using benchrows::DayOf;
using benchrows::PerOperation;
using benchrows::RandomKeys;
using benchrows::Scratch;

std::string NameOf(int32_t i) { return benchrows::GuestText(i, kNameSize); }
int32_t AboveThousand(int32_t rows) {
  int32_t n = 0;
  for (int32_t i = 0; i < rows; ++i) n += AmountOf(i) > 1000 ? 1 : 0;
  return n;
}

// --- our side -----------------------------------------------------------------

class EngineTable {
 public:
  EngineTable(const std::string& name, bool multiUser) {
    benchrows::StartEngineOnce();
    FPath = Scratch() / name;
    std::filesystem::remove(FPath);
    {
      vex::TVEXLocalSession creator;
      creator.SetDatabaseName("Bench");
      creator.SetDatabaseFileName(FPath);
      creator.SetPageSize(4096);
      creator.SetPageCountInExtent(8);
      creator.SetMaxSessionCount(500);
      creator.CreateDatabase();
    }
    // One database component name per live table (the filled table stays).
    static int32_t serial = 0;
    const std::string databaseName = "Bench" + std::to_string(++serial);
    FDatabase = std::make_unique<vex::TVEXDatabase>(nullptr);
    FDatabase->SetDatabaseName(databaseName);
    FDatabase->SetDatabaseFileName(FPath);
    FDatabase->SetMultiUser(multiUser);
    FDatabase->SetSilentMode(true);
    FDatabase->Open();

    FTable = std::make_unique<vex::TVEXTable>(nullptr);
    FTable->SetDatabaseName(databaseName);
    FTable->SetTableName("Stay");
    vex::TVEXAdvFieldDefs& fields = FTable->AdvFieldDefs();
    fields.Add("ID", vex::aftInteger, 0, true);
    fields.Add("NAME", vex::aftString, kNameSize, false);
    fields.Add("AMOUNT", vex::aftDouble, 0, false);
    fields.Add("DAY", vex::aftDate, 0, false);
    fields.Add("QTY", vex::aftInteger, 0, false);
    FTable->AdvIndexDefs().Add("PK", "ID", db::TIndexOptions{db::ixPrimary}, false, "", "", "");
    FTable->CreateTable();
    FTable->SetIndexName("PK");
    FTable->Open();
    FId = FTable->FieldByName("ID");
    FName = FTable->FieldByName("NAME");
    FAmount = FTable->FieldByName("AMOUNT");
    FDay = FTable->FieldByName("DAY");
    FQty = FTable->FieldByName("QTY");
  }
  ~EngineTable() {
    FTable.reset();
    FDatabase.reset();
    std::filesystem::remove(FPath);
  }

  void StartTransaction() { FDatabase->StartTransaction(); }
  void Commit() { FDatabase->Commit(false); }

  void Append(int32_t i) {
    FTable->Append();
    FId->SetAsInteger(i);
    FName->SetAsString(NameOf(i));
    FAmount->SetAsFloat(AmountOf(i));
    FDay->SetAsDateTime(DayOf(i));
    FQty->SetAsInteger(i % 7);
    FTable->Post();
  }
  // The row's QTY; -1 when not found.
  int32_t FindKey(int32_t id) {
    FKey[0] = rtl::Variant(id);
    return FTable->FindKey(FKey) ? FQty->AsInteger() : -1;
  }
  int32_t Locate(int32_t id) {
    return FTable->Locate("ID", rtl::Variant(id), {}) ? FQty->AsInteger() : -1;
  }
  int32_t CountAboveThousand() {
    int32_t n = 0;
    for (FTable->First(); !FTable->Eof(); FTable->Next()) n += FAmount->AsFloat() > 1000 ? 1 : 0;
    return n;
  }

 private:
  std::string FPath;
  std::unique_ptr<vex::TVEXDatabase> FDatabase;
  std::unique_ptr<vex::TVEXTable> FTable;
  db::TField* FId = nullptr;
  db::TField* FName = nullptr;
  db::TField* FAmount = nullptr;
  db::TField* FDay = nullptr;
  db::TField* FQty = nullptr;
  std::vector<rtl::Variant> FKey{rtl::Variant(0)};
};

EngineTable& FilledEngineTable() {
  static EngineTable* table = [] {
    auto* t = new EngineTable("filled.vex", false);
    t->StartTransaction();
    for (int32_t i = 0; i < kRows; ++i) t->Append(i);
    t->Commit();
    return t;
  }();
  return *table;
}

void Engine_W1Append(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<EngineTable>("w1.vex", false);
    state.ResumeTiming();
    table->StartTransaction();
    for (int32_t i = 0; i < kRows; ++i) table->Append(i);
    table->Commit();
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kRows);
}

void Engine_W2FindKey(benchmark::State& state) {
  EngineTable& table = FilledEngineTable();
  const std::vector<int32_t> keys = RandomKeys(kLookups, kRows);
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t k : keys) sum += table.FindKey(k);
    benchmark::DoNotOptimize(sum);
  }
  PerOperation(state, kLookups);
}

void Engine_W2Locate(benchmark::State& state) {
  EngineTable& table = FilledEngineTable();
  const std::vector<int32_t> keys = RandomKeys(kLookups, kRows);
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t k : keys) sum += table.Locate(k);
    benchmark::DoNotOptimize(sum);
  }
  PerOperation(state, kLookups);
}

void Engine_W3Scan(benchmark::State& state) {
  EngineTable& table = FilledEngineTable();
  for (auto _ : state) {
    if (table.CountAboveThousand() != AboveThousand(kRows)) {
      state.SkipWithError("wrong count");
      return;
    }
  }
  PerOperation(state, kRows);
}

void Engine_W4EachPost(benchmark::State& state) {
  const bool multiUser = state.range(0) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<EngineTable>("w4.vex", multiUser);
    state.ResumeTiming();
    for (int32_t i = 0; i < kPosts; ++i) table->Append(i);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kPosts);
  state.SetLabel(multiUser ? "multi-user" : "single-user");
}

// --- SQLite ---------------------------------------------------------------------

class PeerTable {
 public:
  explicit PeerTable(const std::string& name) {
    FPath = Scratch() / name;
    std::filesystem::remove(FPath);
    sqlite3_open(FPath.c_str(), &FDb);
    Exec("PRAGMA synchronous=OFF");
    Exec(
        "CREATE TABLE Stay (ID INTEGER PRIMARY KEY NOT NULL, NAME VARCHAR(30), AMOUNT DOUBLE, "
        "DAY DATE, QTY INTEGER)");
    sqlite3_prepare_v2(FDb, "INSERT INTO Stay VALUES (?,?,?,?,?)", -1, &FInsert, nullptr);
    sqlite3_prepare_v2(FDb, "SELECT QTY FROM Stay WHERE ID = ?", -1, &FFind, nullptr);
    sqlite3_prepare_v2(FDb, "SELECT AMOUNT FROM Stay ORDER BY ID", -1, &FScan, nullptr);
  }
  ~PeerTable() {
    sqlite3_finalize(FInsert);
    sqlite3_finalize(FFind);
    sqlite3_finalize(FScan);
    sqlite3_close(FDb);
    std::filesystem::remove(FPath);
  }
  void Exec(const char* sql) {
    if (sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(FDb));
  }
  void Append(int32_t i) {
    const std::string name = NameOf(i);
    sqlite3_bind_int(FInsert, 1, i);
    sqlite3_bind_text(FInsert, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_double(FInsert, 3, AmountOf(i));
    sqlite3_bind_double(FInsert, 4, DayOf(i));
    sqlite3_bind_int(FInsert, 5, i % 7);
    if (sqlite3_step(FInsert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(FDb));
    sqlite3_reset(FInsert);
  }
  int32_t Find(int32_t id) {
    sqlite3_bind_int(FFind, 1, id);
    int32_t qty = -1;
    if (sqlite3_step(FFind) == SQLITE_ROW) qty = sqlite3_column_int(FFind, 0);
    sqlite3_reset(FFind);
    return qty;
  }
  int32_t CountAboveThousand() {
    int32_t n = 0;
    while (sqlite3_step(FScan) == SQLITE_ROW) n += sqlite3_column_double(FScan, 0) > 1000 ? 1 : 0;
    sqlite3_reset(FScan);
    return n;
  }

 private:
  std::string FPath;
  sqlite3* FDb = nullptr;
  sqlite3_stmt* FInsert = nullptr;
  sqlite3_stmt* FFind = nullptr;
  sqlite3_stmt* FScan = nullptr;
};

PeerTable& FilledPeerTable() {
  static PeerTable* table = [] {
    auto* t = new PeerTable("filled.db");
    t->Exec("BEGIN");
    for (int32_t i = 0; i < kRows; ++i) t->Append(i);
    t->Exec("COMMIT");
    return t;
  }();
  return *table;
}

void Peer_W1Append(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<PeerTable>("w1.db");
    state.ResumeTiming();
    table->Exec("BEGIN");
    for (int32_t i = 0; i < kRows; ++i) table->Append(i);
    table->Exec("COMMIT");
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kRows);
}

void Peer_W2Lookup(benchmark::State& state) {
  PeerTable& table = FilledPeerTable();
  const std::vector<int32_t> keys = RandomKeys(kLookups, kRows);
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t k : keys) sum += table.Find(k);
    benchmark::DoNotOptimize(sum);
  }
  PerOperation(state, kLookups);
}
void Peer_W2FindKey(benchmark::State& state) { Peer_W2Lookup(state); }
void Peer_W2Locate(benchmark::State& state) { Peer_W2Lookup(state); }

void Peer_W3Scan(benchmark::State& state) {
  PeerTable& table = FilledPeerTable();
  for (auto _ : state) {
    if (table.CountAboveThousand() != AboveThousand(kRows)) {
      state.SkipWithError("wrong count");
      return;
    }
  }
  PerOperation(state, kRows);
}

void Peer_W4EachPost(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<PeerTable>("w4.db");
    state.ResumeTiming();
    for (int32_t i = 0; i < kPosts; ++i) table->Append(i);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kPosts);
}

BENCHMARK(Engine_W1Append)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Peer_W1Append)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Engine_W2FindKey)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Peer_W2FindKey)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Engine_W2Locate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Peer_W2Locate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Engine_W3Scan)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(Peer_W3Scan)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(Engine_W4EachPost)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Peer_W4EachPost)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

VALMORA_BENCH_MAIN()
