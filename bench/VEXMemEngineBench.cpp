// Rows into and back out of an in-memory table beside SQLite's ":memory:"
// database: N rows of (integer, 20-character text) inserted one by one, then
// read back in storage order.
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "foundation/VEXStartup.h"
#include "foundation/VEXTypes.h"
#include "storage/VEXCursor.h"
#include "storage/memory/VEXMemEngine.h"

namespace {

void EnsureEngine() {
  if (!vex::EngineStarted()) vex::StartEngine();
}

std::string NameOf(int64_t i) {
  std::string name = "guest " + std::to_string(i);
  name.resize(20, ' ');
  return name;
}

void Engine_InsertAndRead(benchmark::State& state) VEX_NO_THREAD_SAFETY_ANALYSIS {
  EnsureEngine();
  const int64_t n = state.range(0);
  for (auto _ : state) {
    vex::TVEXMemoryDatabaseData db;
    vex::TVEXCursor cursor;
    cursor.SetTableName("Guests");
    vex::TVEXLockGuard lock(db.DatabaseLock());
    auto* table = static_cast<vex::TVEXMemoryTableData*>(db.FindOrCreateTableData(cursor));
    vex::TVEXLockGuard tableLock(table->DatabaseLock());
    vex::TVEXFieldDefs fields;
    vex::TVEXFieldDef* id = fields.AddCreated();
    id->Name = "Id";
    id->SetFieldDefDataType(vex::aftInteger, 0);
    vex::TVEXFieldDef* name = fields.AddCreated();
    name->Name = "Name";
    name->SetFieldDefDataType(vex::aftString, 20);
    vex::TVEXIndexDefs indexes;
    vex::TVEXConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    const vex::TVEXFieldDefs& defs = table->FieldManager()->FieldDefs();
    std::vector<uint8_t> record(static_cast<size_t>(defs.GetMemoryRecordBufferSize()), 0);
    cursor.SetCurrentRecordBuffer(record.data());
    const int32_t idAt = defs.GetDef(0)->MemoryOffset;
    const int32_t nameAt = defs.GetDef(1)->MemoryOffset;
    for (int64_t i = 0; i < n; ++i) {
      const auto value = static_cast<int32_t>(i);
      std::memcpy(record.data() + idAt, &value, 4);
      const std::string text = NameOf(i);
      std::memcpy(record.data() + nameAt, text.c_str(), text.size() + 1);
      table->InsertRecord(cursor);
    }
    int64_t sum = 0;
    cursor.FirstPosition = true;
    while (table->GetRecordBuffer(cursor, vex::grmNext) == vex::grrOK) {
      int32_t value;
      std::memcpy(&value, record.data() + idAt, 4);
      sum += value;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void Peer_InsertAndRead(benchmark::State& state) {
  const int64_t n = state.range(0);
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE Guests(Id INTEGER, Name TEXT)", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Guests VALUES(?, ?)", -1, &insert, nullptr);
    for (int64_t i = 0; i < n; ++i) {
      const std::string text = NameOf(i);
      sqlite3_bind_int64(insert, 1, i);
      sqlite3_bind_text(insert, 2, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT Id, Name FROM Guests", -1, &select, nullptr);
    int64_t sum = 0;
    while (sqlite3_step(select) == SQLITE_ROW) sum += sqlite3_column_int64(select, 0);
    sqlite3_finalize(select);
    sqlite3_close(db);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK(Engine_InsertAndRead)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(Peer_InsertAndRead)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

VALMORA_BENCH_MAIN()
