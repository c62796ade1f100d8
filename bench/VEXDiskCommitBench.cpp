// Records written to a database file and committed, beside SQLite on a file
// of the same page size (4 KiB) in the same scratch folder:
//   OneSet/F     10,000 records of about 100 bytes added, then one commit
//   EachCommit/F 1,000 such records, one commit after each
//   ReadBack/F   the 10,000 records of OneSet read back in physical order on
//                the connection that wrote them
// Each case prints its time per record (the per_op column, in seconds).
//
// F chooses what a commit does to reach the device, the same on both sides:
//   0  our commit writes the header, the pages, the header again and does not
//      flush; SQLite runs with synchronous=OFF
//   1  our commit flushes (fdatasync) after the pages and again after the
//      header; SQLite runs with synchronous=FULL
// SQLite keeps its default rollback journal (journal_mode=DELETE): it writes
// each changed page's old image to a journal first and removes the journal at
// the end of the commit, which our commit, with only its crash marker in the
// header, does not do. OneSet is one transaction on the SQLite side,
// EachCommit is autocommit (one implicit transaction per INSERT).
//
// The engine side is the disk page manager and the disk record manager of one
// table (record pages and their page-number B-tree), without field
// conversion, table locks or indexes; the peer is a rowid table of the same
// two columns without an index.
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "engine/storage/VEXManagerFakes.h"
#include "foundation/VEXStartup.h"
#include "storage/VEXFieldManager.h"
#include "storage/disk/VEXDiskPageManager.h"
#include "storage/disk/VEXDiskRecordManager.h"
#include "support/ScratchDir.h"

namespace {

constexpr int32_t kManyRecords = 10000;
constexpr int32_t kCommits = 1000;
constexpr int32_t kTextSize = 90;
constexpr int32_t kTableID = 77;
constexpr uint16_t kPageSize = 4096;

testsupport::ScratchDir& Scratch() {
  static testsupport::ScratchDir dir;
  return dir;
}

// The text of record i: kTextSize characters.
std::string TextOf(int32_t i) {
  char head[32];
  std::snprintf(head, sizeof head, "guest %07d ", i);
  std::string text(head);
  text.resize(kTextSize, static_cast<char>('a' + i % 26));
  return text;
}

void PerOperation(benchmark::State& state, int32_t operations) {
  state.counters["per_op"] = benchmark::Counter(
      operations, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// --- our side -----------------------------------------------------------------

struct EngineStarted {
  vex::TVEXEngineScope Engine;
};

// A new database file holding one empty table of (N Integer, S String(90)).
struct EngineTable {
  explicit EngineTable(const std::string& name) {
    static EngineStarted started;
    Path = Scratch() / name;
    std::filesystem::remove(Path);
    Manager = std::make_unique<vex::TVEXDiskPageManager>();
    Manager->CreateAndOpenDatabase(Path, {}, kPageSize, 8);
    vex::testing::AddField(Fields.FieldDefs(), "N", vex::aftInteger);
    vex::testing::AddField(Fields.FieldDefs(), "S", vex::aftString, kTextSize);
    Fields.RecalcFieldOffsets();
    Records = std::make_unique<vex::TVEXDiskRecordManager>(Manager.get(), &Fields, kTableID);
    Records->Init(Fields.FieldDefs().GetMemoryRecordBufferSize(),
                  Fields.FieldDefs().GetDiskRecordBufferSize(), 2);
    Records->CreateRecordPageIndex();
    Manager->ApplyChanges(-2, true);
    Buffer = vex::testing::NullRecord(Fields.FieldDefs());
  }
  ~EngineTable() {
    Records.reset();
    Manager.reset();
    std::filesystem::remove(Path);
  }

  void Add(int32_t i) {
    vex::testing::SetField(Fields.FieldDefs(), Buffer, 0, i);
    const std::string text = TextOf(i);
    std::memcpy(Buffer.data() + Fields.FieldDefs().GetDef(1)->MemoryOffset, text.data(),
                text.size());
    vex::SetBitInBuffer(false, 1, Buffer.data());
    vex::TVEXPageItemID id{-1, 0};
    if (!Records->AddRecord(0, Buffer.data(), id)) throw std::runtime_error("AddRecord failed");
  }

  // Every record in physical order; the sum of their N.
  int64_t ReadAll(int64_t& count) {
    std::vector<uint8_t> buffer(Buffer.size());
    vex::TVEXNavigationInfo nav;
    nav.RecordBuffer = buffer.data();
    nav.GetRecordMode = vex::grmNext;
    nav.FirstPosition = true;
    int64_t sum = 0;
    count = 0;
    for (;;) {
      Records->GetRecordBuffer(0, nav);
      if (nav.GetRecordResult != vex::grrOK) break;
      sum += vex::testing::GetField<int32_t>(Fields.FieldDefs(), buffer, 0);
      ++count;
    }
    return sum;
  }

  std::string Path;
  std::unique_ptr<vex::TVEXDiskPageManager> Manager;
  vex::TVEXBaseFieldManager Fields{nullptr};
  std::unique_ptr<vex::TVEXDiskRecordManager> Records;
  std::vector<uint8_t> Buffer;
};

const char* EngineFlushLabel(bool flush) {
  return flush ? "commit: fdatasync after pages and after header"
               : "commit: no flush";
}

void Engine_OneSet(benchmark::State& state) {
  const bool flush = state.range(0) != 0;
  int32_t diskRecordSize = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<EngineTable>("one-set.vex");
    diskRecordSize = table->Fields.FieldDefs().GetDiskRecordBufferSize();
    state.ResumeTiming();
    for (int32_t i = 0; i < kManyRecords; ++i) table->Add(i);
    table->Manager->ApplyChanges(0, flush);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kManyRecords);
  state.SetLabel(std::string(EngineFlushLabel(flush)) + ", disk record " +
                 std::to_string(diskRecordSize) + " bytes");
}

void Engine_EachCommit(benchmark::State& state) {
  const bool flush = state.range(0) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<EngineTable>("each-commit.vex");
    state.ResumeTiming();
    for (int32_t i = 0; i < kCommits; ++i) {
      table->Add(i);
      table->Manager->ApplyChanges(0, flush);
    }
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kCommits);
  state.SetLabel(EngineFlushLabel(flush));
}

void Engine_ReadBack(benchmark::State& state) {
  const bool flush = state.range(0) != 0;
  EngineTable table("read-back.vex");
  for (int32_t i = 0; i < kManyRecords; ++i) table.Add(i);
  table.Manager->ApplyChanges(0, flush);
  constexpr int64_t kSum = int64_t{kManyRecords} * (kManyRecords - 1) / 2;
  for (auto _ : state) {
    int64_t count = 0;
    if (table.ReadAll(count) != kSum || count != kManyRecords) {
      state.SkipWithError("the records read back differ");
      return;
    }
  }
  PerOperation(state, kManyRecords);
  state.SetLabel(EngineFlushLabel(flush));
}

// --- SQLite ---------------------------------------------------------------------

struct PeerTable {
  PeerTable(const std::string& name, bool full) {
    Path = Scratch() / name;
    std::filesystem::remove(Path);
    sqlite3_open(Path.c_str(), &Db);
    Exec("PRAGMA page_size=4096");
    Exec(full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
    Exec("PRAGMA journal_mode=DELETE");
    Exec("CREATE TABLE r(n INTEGER, s TEXT)");
    Insert = Prepare("INSERT INTO r VALUES(?, ?)");
  }
  ~PeerTable() {
    sqlite3_finalize(Insert);
    sqlite3_close(Db);
    std::filesystem::remove(Path);
  }
  void Exec(const char* sql) const {
    if (sqlite3_exec(Db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(Db));
  }
  sqlite3_stmt* Prepare(const char* sql) const {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(Db, sql, -1, &stmt, nullptr);
    return stmt;
  }
  void Add(int32_t i) {
    const std::string text = TextOf(i);
    sqlite3_bind_int(Insert, 1, i);
    sqlite3_bind_text(Insert, 2, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(Insert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(Db));
    sqlite3_reset(Insert);
  }
  int64_t ReadAll(int64_t& count) const {
    sqlite3_stmt* read = Prepare("SELECT n, s FROM r");
    char text[kTextSize];
    int64_t sum = 0;
    count = 0;
    while (sqlite3_step(read) == SQLITE_ROW) {
      sum += sqlite3_column_int(read, 0);
      std::memcpy(text, sqlite3_column_text(read, 1), kTextSize);
      benchmark::DoNotOptimize(text);
      ++count;
    }
    sqlite3_finalize(read);
    return sum;
  }
  // The settings in force, as SQLite reports them.
  std::string Settings() const {
    std::string out;
    for (const char* pragma : {"page_size", "synchronous", "journal_mode"}) {
      sqlite3_stmt* stmt = Prepare((std::string("PRAGMA ") + pragma).c_str());
      if (sqlite3_step(stmt) == SQLITE_ROW) {
        if (!out.empty()) out += ", ";
        out += pragma;
        out += "=";
        out += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      }
      sqlite3_finalize(stmt);
    }
    return out;
  }

  std::string Path;
  sqlite3* Db = nullptr;
  sqlite3_stmt* Insert = nullptr;
};

void Peer_OneSet(benchmark::State& state) {
  const bool full = state.range(0) != 0;
  std::string settings;
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<PeerTable>("one-set.db", full);
    settings = table->Settings();
    state.ResumeTiming();
    table->Exec("BEGIN");
    for (int32_t i = 0; i < kManyRecords; ++i) table->Add(i);
    table->Exec("COMMIT");
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kManyRecords);
  state.SetLabel(settings);
}

void Peer_EachCommit(benchmark::State& state) {
  const bool full = state.range(0) != 0;
  std::string settings;
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<PeerTable>("each-commit.db", full);
    settings = table->Settings();
    state.ResumeTiming();
    for (int32_t i = 0; i < kCommits; ++i) table->Add(i);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kCommits);
  state.SetLabel(settings + ", autocommit");
}

void Peer_ReadBack(benchmark::State& state) {
  PeerTable table("read-back.db", state.range(0) != 0);
  table.Exec("BEGIN");
  for (int32_t i = 0; i < kManyRecords; ++i) table.Add(i);
  table.Exec("COMMIT");
  constexpr int64_t kSum = int64_t{kManyRecords} * (kManyRecords - 1) / 2;
  for (auto _ : state) {
    int64_t count = 0;
    if (table.ReadAll(count) != kSum || count != kManyRecords) {
      state.SkipWithError("the rows read back differ");
      return;
    }
  }
  PerOperation(state, kManyRecords);
  state.SetLabel(table.Settings());
}

BENCHMARK(Engine_OneSet)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Peer_OneSet)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Engine_EachCommit)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Peer_EachCommit)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Engine_ReadBack)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Peer_ReadBack)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

VALMORA_BENCH_MAIN()
