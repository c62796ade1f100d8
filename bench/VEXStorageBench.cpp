// The storage engine through its own cursor (the local session and cursor the
// dataset layer sits on, without the dataset), beside SQLite, on rows of
// (integer key, 40-character text, float):
//   DiskInsert   100,000 rows inserted in one transaction into a new database
//                file, into a table with a primary index on the key
//   DiskLookup   100,000 point look-ups of random keys, one FindKey on the
//                primary index and one read of the row per call
//   DiskScan     a filtered scan: every row whose float is below 200 (10 % of
//                the rows) read through a cursor filter
//   Mem*         the same three on a table of the in-memory database
// Each case prints its time per row (per_op, seconds).
//
// Our commit flushes only when asked, so SQLite runs with synchronous=OFF; its
// table has the key as INTEGER PRIMARY KEY (its row id), and every statement
// is prepared once. The Mem* cases run SQLite on ":memory:". The scan's filter
// column has no index on either side.
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
#include "components/VEXEngineState.h"
#include "components/VEXLocalCursor.h"
#include "components/VEXLocalEngine.h"
#include "foundation/VEXStartup.h"
#include "foundation/VEXVariant.h"
#include "sql/expression/VEXExpression.h"
#include "storage/VEXMetaDefs.h"

namespace {

constexpr int32_t kRows = 100000;
constexpr int32_t kLookups = 100000;
constexpr int32_t kTextSize = 40;
// AmountOf spreads 0 .. 1999.5: below 200 is a tenth of the rows.
constexpr const char* kFilter = "AMOUNT < 200";

using benchrows::AmountOf;
using benchrows::PerOperation;
using benchrows::Scratch;
using benchrows::StartEngineOnce;

std::string TextOf(int32_t i) { return benchrows::GuestText(i, kTextSize); }
int32_t Filtered(int32_t rows) {
  int32_t n = 0;
  for (int32_t i = 0; i < rows; ++i) n += AmountOf(i) < 200 ? 1 : 0;
  return n;
}

std::vector<int32_t> RandomKeys() { return benchrows::RandomKeys(kLookups, kRows); }

// --- our side -----------------------------------------------------------------

// A session on a new database file (or on the in-memory database) with a
// table (ID Integer primary, NAME String(40), AMOUNT Double) open on one
// cursor.
class EngineTable {
 public:
  EngineTable(const std::string& name, bool inMemory) : FInMemory(inMemory), FTableName(name) {
    StartEngineOnce();
    if (inMemory) {
      FSession.SetDatabaseName("MEMORY");
    } else {
      FPath = Scratch() / (name + ".vex");
      std::filesystem::remove(FPath);
      FSession.SetDatabaseName("Bench");
      FSession.SetDatabaseFileName(FPath);
      FSession.SetPageSize(4096);
      FSession.SetPageCountInExtent(8);
      FSession.CreateDatabase();
    }
    FSession.SetConnected(true);

    vex::TVEXFieldDefs fields;
    AddField(fields, "ID", vex::aftInteger, 0);
    AddField(fields, "NAME", vex::aftString, kTextSize);
    AddField(fields, "AMOUNT", vex::aftDouble, 0);
    vex::TVEXIndexDefs indexes;
    vex::TVEXIndexDef* pk = indexes.AddCreated();
    pk->Name = "PK";
    pk->Primary = true;
    pk->Unique = true;
    pk->SetColumnCount(1);
    pk->GetIndexColumn(0)->FieldName = "ID";
    vex::TVEXConstraintDefs constraints;
    {
      vex::TVEXLocalCursor maker;
      Bind(maker);
      maker.CreateTable(fields, indexes, constraints);
    }
    Bind(FCursor);
    vex::TVEXFieldDefs f;
    vex::TVEXIndexDefs i;
    vex::TVEXConstraintDefs c;
    FCursor.OpenTableByFieldDefs(f, i, c);
    FCursor.InternalInitFieldDefs();
    FCursor.SetIndexName("PK");
    FRecord = FCursor.AllocateRecordBuffer();
    FKey = FCursor.AllocateRecordBuffer();
    FCursor.SetCurrentRecordBuffer(Record());
  }
  ~EngineTable() {
    FCursor.CloseTable();
    if (FInMemory) {
      vex::TVEXLocalCursor dropper;
      Bind(dropper);
      dropper.DeleteTable();
    }
    FSession.SetConnected(false);
    if (!FPath.empty()) std::filesystem::remove(FPath);
  }

  void StartTransaction() { FSession.StartTransaction(); }
  void Commit() { FSession.Commit(false); }

  void Insert(int32_t i) {
    FCursor.InternalInitRecord(Record(), true);
    vex::TVEXVariant id;
    id.SetAsInteger(i);
    FCursor.SetFieldValue(id, 0, false);
    vex::TVEXVariant text;
    text.SetAsAnsiString(TextOf(i));
    FCursor.SetFieldValue(text, 1, false);
    vex::TVEXVariant amount;
    amount.SetAsDouble(AmountOf(i));
    FCursor.SetFieldValue(amount, 2, false);
    FCursor.InternalInsert();
    FCursor.InternalPost(true);
    if (FCursor.ErrorCode() != 0) throw std::runtime_error("insert refused");
  }
  // The row's AMOUNT; -1 when not found.
  double Lookup(int32_t id) {
    FCursor.InternalInitKeyBuffer(Key());
    vex::TVEXVariant key;
    key.SetAsInteger(id);
    FCursor.SetFieldValue(key, 0, false, Key());
    FCursor.SetKeyBuffer(Key());
    FCursor.SetKeyFieldCount(1);
    if (!FCursor.FindKey(vex::scEqual) || FCursor.GetRecordBuffer(vex::grmCurrent) != vex::grrOK)
      return -1;
    vex::TVEXVariant amount;
    FCursor.GetFieldValue(amount, 2, false);
    return amount.AsDouble();
  }
  int32_t CountFiltered() {
    FCursor.ActivateFilters(kFilter, false, false);
    int32_t n = 0;
    FCursor.InternalFirst();
    while (FCursor.GetRecordBuffer(vex::grmNext) == vex::grrOK) ++n;
    FCursor.DeactivateFilters();
    return n;
  }

 private:
  static void AddField(vex::TVEXFieldDefs& defs, const std::string& name,
                       vex::TVEXAdvancedFieldType type, int32_t size) {
    vex::TVEXFieldDef* def = defs.AddCreated();
    def->Name = name;
    def->SetFieldDefDataType(type, size);
  }
  void Bind(vex::TVEXLocalCursor& cursor) {
    cursor.SetSession(&FSession);
    cursor.SetTableName(FTableName);
    cursor.SetInMemory(FInMemory);
  }
  uint8_t* Record() { return static_cast<uint8_t*>(FRecord.Get()); }
  uint8_t* Key() { return static_cast<uint8_t*>(FKey.Get()); }

  bool FInMemory;
  // The file's name, and the table's: the filled in-memory table stays while
  // the insert case makes and drops its own.
  std::string FTableName;
  std::string FPath;
  vex::TVEXLocalSession FSession;
  vex::TVEXLocalCursor FCursor;
  vex::TVEXMemBlock FRecord;
  vex::TVEXMemBlock FKey;
};

EngineTable& FilledEngineTable(bool inMemory) {
  StartEngineOnce();
  static std::unique_ptr<EngineTable> disk;
  static std::unique_ptr<EngineTable> memory;
  std::unique_ptr<EngineTable>& table = inMemory ? memory : disk;
  if (table == nullptr) {
    table = std::make_unique<EngineTable>("Filled", inMemory);
    table->StartTransaction();
    for (int32_t i = 0; i < kRows; ++i) table->Insert(i);
    table->Commit();
  }
  return *table;
}

void EngineInsert(benchmark::State& state, bool inMemory) {
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<EngineTable>("Fresh", inMemory);
    state.ResumeTiming();
    table->StartTransaction();
    for (int32_t i = 0; i < kRows; ++i) table->Insert(i);
    table->Commit();
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kRows);
}

void EngineLookup(benchmark::State& state, bool inMemory) {
  EngineTable& table = FilledEngineTable(inMemory);
  const std::vector<int32_t> keys = RandomKeys();
  for (auto _ : state) {
    double sum = 0;
    for (int32_t k : keys) sum += table.Lookup(k);
    if (sum < 0) state.SkipWithError("a key was not found");
    benchmark::DoNotOptimize(sum);
  }
  PerOperation(state, kLookups);
}

void EngineScan(benchmark::State& state, bool inMemory) {
  EngineTable& table = FilledEngineTable(inMemory);
  for (auto _ : state) {
    if (table.CountFiltered() != Filtered(kRows)) {
      state.SkipWithError("wrong count");
      return;
    }
  }
  PerOperation(state, kRows);
}

void Engine_DiskInsert(benchmark::State& state) { EngineInsert(state, false); }
void Engine_DiskLookup(benchmark::State& state) { EngineLookup(state, false); }
void Engine_DiskScan(benchmark::State& state) { EngineScan(state, false); }
void Engine_MemInsert(benchmark::State& state) { EngineInsert(state, true); }
void Engine_MemLookup(benchmark::State& state) { EngineLookup(state, true); }
void Engine_MemScan(benchmark::State& state) { EngineScan(state, true); }

// --- SQLite ---------------------------------------------------------------------

class PeerTable {
 public:
  explicit PeerTable(const std::string& name) {
    if (!name.empty()) {
      FPath = Scratch() / name;
      std::filesystem::remove(FPath);
    }
    sqlite3_open(FPath.empty() ? ":memory:" : FPath.c_str(), &FDb);
    Exec("PRAGMA synchronous=OFF");
    Exec("CREATE TABLE Stay (ID INTEGER PRIMARY KEY NOT NULL, NAME VARCHAR(40), AMOUNT DOUBLE)");
    Prepare("INSERT INTO Stay VALUES (?,?,?)", FInsert);
    Prepare("SELECT AMOUNT FROM Stay WHERE ID = ?", FFind);
    Prepare("SELECT ID, NAME, AMOUNT FROM Stay WHERE AMOUNT < 200", FScan);
  }
  ~PeerTable() {
    sqlite3_finalize(FInsert);
    sqlite3_finalize(FFind);
    sqlite3_finalize(FScan);
    sqlite3_close(FDb);
    if (!FPath.empty()) std::filesystem::remove(FPath);
  }
  void Exec(const char* sql) {
    if (sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(FDb));
  }
  void Insert(int32_t i) {
    const std::string text = TextOf(i);
    sqlite3_bind_int(FInsert, 1, i);
    sqlite3_bind_text(FInsert, 2, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_double(FInsert, 3, AmountOf(i));
    if (sqlite3_step(FInsert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(FDb));
    sqlite3_reset(FInsert);
  }
  double Lookup(int32_t id) {
    sqlite3_bind_int(FFind, 1, id);
    double amount = -1;
    if (sqlite3_step(FFind) == SQLITE_ROW) amount = sqlite3_column_double(FFind, 0);
    sqlite3_reset(FFind);
    return amount;
  }
  int32_t CountFiltered() {
    int32_t n = 0;
    while (sqlite3_step(FScan) == SQLITE_ROW) ++n;
    sqlite3_reset(FScan);
    return n;
  }

 private:
  void Prepare(const char* sql, sqlite3_stmt*& statement) {
    if (sqlite3_prepare_v2(FDb, sql, -1, &statement, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(FDb));
  }

  std::string FPath;
  sqlite3* FDb = nullptr;
  sqlite3_stmt* FInsert = nullptr;
  sqlite3_stmt* FFind = nullptr;
  sqlite3_stmt* FScan = nullptr;
};

PeerTable& FilledPeerTable(bool inMemory) {
  static std::unique_ptr<PeerTable> disk;
  static std::unique_ptr<PeerTable> memory;
  std::unique_ptr<PeerTable>& table = inMemory ? memory : disk;
  if (table == nullptr) {
    table = std::make_unique<PeerTable>(inMemory ? "" : "filled.db");
    table->Exec("BEGIN");
    for (int32_t i = 0; i < kRows; ++i) table->Insert(i);
    table->Exec("COMMIT");
  }
  return *table;
}

void PeerInsert(benchmark::State& state, bool inMemory) {
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<PeerTable>(inMemory ? "" : "insert.db");
    state.ResumeTiming();
    table->Exec("BEGIN");
    for (int32_t i = 0; i < kRows; ++i) table->Insert(i);
    table->Exec("COMMIT");
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kRows);
}

void PeerLookup(benchmark::State& state, bool inMemory) {
  PeerTable& table = FilledPeerTable(inMemory);
  const std::vector<int32_t> keys = RandomKeys();
  for (auto _ : state) {
    double sum = 0;
    for (int32_t k : keys) sum += table.Lookup(k);
    benchmark::DoNotOptimize(sum);
  }
  PerOperation(state, kLookups);
}

void PeerScan(benchmark::State& state, bool inMemory) {
  PeerTable& table = FilledPeerTable(inMemory);
  for (auto _ : state) {
    if (table.CountFiltered() != Filtered(kRows)) {
      state.SkipWithError("wrong count");
      return;
    }
  }
  PerOperation(state, kRows);
}

void Peer_DiskInsert(benchmark::State& state) { PeerInsert(state, false); }
void Peer_DiskLookup(benchmark::State& state) { PeerLookup(state, false); }
void Peer_DiskScan(benchmark::State& state) { PeerScan(state, false); }
void Peer_MemInsert(benchmark::State& state) { PeerInsert(state, true); }
void Peer_MemLookup(benchmark::State& state) { PeerLookup(state, true); }
void Peer_MemScan(benchmark::State& state) { PeerScan(state, true); }

BENCHMARK(Engine_DiskInsert)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Peer_DiskInsert)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Engine_DiskLookup)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Peer_DiskLookup)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Engine_DiskScan)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(Peer_DiskScan)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(Engine_MemInsert)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Peer_MemInsert)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Engine_MemLookup)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Peer_MemLookup)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Engine_MemScan)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(Peer_MemScan)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

VALMORA_BENCH_MAIN()
