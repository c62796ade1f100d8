// The table index (one B+-tree of (key, record id) entries) beside SQLite on
// the same work: N = 100,000 distinct random 64-bit integer keys
//   Insert      every key, in random order, into an empty index
//   Lookup      every key once, in another random order: the record id of the
//               entry with that key
//   Walk        every entry in key order
//   DeleteHalf  half of the keys, in random order, from the full index
// Each case prints its time per operation (the per_op column, in seconds).
//
// The engine side is one index on a LargeInt column with 4 KiB pages in the
// engine's page cache over the tests' in-memory page store, driven through
// the index's own calls (InsertRecord, FindRecord, DeleteRecord) in one
// session whose change set is never committed: what a transaction that is
// still open costs. The records themselves are not stored; the index reads
// none of them for this work.
//
// The peer is the same B-tree shape in SQLite: an in-memory database (4 KiB
// pages) holding a WITHOUT ROWID table whose primary key is (key, record id),
// so that each entry is one key and one record id as on our side; each
// changing case runs in one transaction.
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "BenchRatio.h"
#include "engine/storage/VEXManagerFakes.h"
#include "engine/storage/btree/RecordIndexFixtures.h"
#include "foundation/VEXStartup.h"

namespace {

constexpr int32_t kKeys = 100000;
constexpr int32_t kSession = 1;

// The keys in insert order, and the orders of the lookups and deletes.
struct Keys {
  Keys() {
    std::mt19937_64 rng(20261211);
    std::vector<int64_t> drawn;
    drawn.reserve(kKeys + kKeys / 10);
    while (static_cast<int32_t>(drawn.size()) < kKeys) {
      for (int32_t i = 0; i < kKeys / 10; ++i) drawn.push_back(static_cast<int64_t>(rng()));
      std::sort(drawn.begin(), drawn.end());
      drawn.erase(std::unique(drawn.begin(), drawn.end()), drawn.end());
    }
    drawn.resize(kKeys);
    std::shuffle(drawn.begin(), drawn.end(), rng);
    Inserted = drawn;
    // Record ids follow the insert order: key Inserted[i] belongs to record i.
    for (int32_t i = 0; i < kKeys; ++i) LookupOrder.push_back(i);
    std::shuffle(LookupOrder.begin(), LookupOrder.end(), rng);
    DeleteOrder = LookupOrder;
    std::shuffle(DeleteOrder.begin(), DeleteOrder.end(), rng);
    DeleteOrder.resize(kKeys / 2);
  }
  std::vector<int64_t> Inserted;
  std::vector<int32_t> LookupOrder;
  std::vector<int32_t> DeleteOrder;
};

const Keys& TheKeys() {
  static const Keys keys;
  return keys;
}

void PerOperation(benchmark::State& state, int32_t operations) {
  state.counters["per_op"] = benchmark::Counter(
      operations, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// --- our side -----------------------------------------------------------------

struct EngineStarted {
  vex::TVEXEngineScope Engine;
};

// An index on the one LargeInt column K of a table whose records are not kept.
struct EngineIndex {
  EngineIndex() : Cursor(Table.Cursor(kSession)) {
    vex::testing::AddField(Table.Fields.FieldDefs(), "K", vex::aftLargeint);
    Table.Open();
    Index = &Table.AddIndex({"K"}, false, 20, kSession);
    Cursor.Record = vex::testing::NullRecord(Table.Defs());
    Offset = static_cast<size_t>(Table.Defs().GetDef(0)->MemoryOffset);
    vex::SetBitInBuffer(false, 0, Cursor.Record.data());
  }

  // The cursor on record `no`, whose key is the no-th inserted.
  vex::testing::IndexCursor& On(int32_t no) {
    std::memcpy(Cursor.Record.data() + Offset, &TheKeys().Inserted[static_cast<size_t>(no)], 8);
    Cursor.RecordID = {no, 0};
    return Cursor;
  }

  void InsertAll() {
    for (int32_t i = 0; i < kKeys; ++i) Index->InsertRecord(On(i));
  }

  // The record id found under the key of record `no`, -1 for none.
  int32_t Lookup(int32_t no) {
    On(no);
    vex::TVEXScanSearchCondition equal{vex::scEqual, Cursor.Record.data(), 0, 1};
    auto info = Index->CreateSearchInfo();
    vex::TVEXPageItemID id{-1, 0};
    if (!Index->FindRecord(kSession, true, true, &equal, nullptr, nullptr, id, *info)) return -1;
    return id.PageNo;
  }

  int64_t Walk() {
    auto info = Index->CreateSearchInfo();
    vex::TVEXPageItemID id{-1, 0};
    int64_t count = 0;
    bool restart = true;
    while (Index->FindRecord(kSession, restart, true, nullptr, nullptr, nullptr, id, *info)) {
      restart = false;
      ++count;
    }
    return count;
  }

  vex::testing::BTreeTable Table;
  vex::testing::IndexCursor Cursor;
  vex::TVEXBTreeRecordIndex* Index = nullptr;
  size_t Offset = 0;
};

EngineStarted& Started() {
  static EngineStarted started;
  return started;
}

EngineIndex& FullEngineIndex() {
  Started();
  static EngineIndex* index = [] {
    auto* made = new EngineIndex;
    made->InsertAll();
    return made;
  }();
  return *index;
}

void Engine_Insert(benchmark::State& state) {
  Started();
  TheKeys();
  for (auto _ : state) {
    state.PauseTiming();
    auto index = std::make_unique<EngineIndex>();
    state.ResumeTiming();
    index->InsertAll();
    state.PauseTiming();
    index.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kKeys);
}

void Engine_Lookup(benchmark::State& state) {
  EngineIndex& index = FullEngineIndex();
  for (auto _ : state) {
    for (int32_t no : TheKeys().LookupOrder) {
      if (index.Lookup(no) != no) {
        state.SkipWithError("a key was not found");
        return;
      }
    }
  }
  PerOperation(state, kKeys);
}

void Engine_Walk(benchmark::State& state) {
  EngineIndex& index = FullEngineIndex();
  for (auto _ : state) {
    if (index.Walk() != kKeys) {
      state.SkipWithError("the walk missed entries");
      return;
    }
  }
  PerOperation(state, kKeys);
}

void Engine_DeleteHalf(benchmark::State& state) {
  Started();
  for (auto _ : state) {
    state.PauseTiming();
    auto index = std::make_unique<EngineIndex>();
    index->InsertAll();
    state.ResumeTiming();
    for (int32_t no : TheKeys().DeleteOrder) index->Index->DeleteRecord(index->On(no));
    state.PauseTiming();
    const bool half = index->Walk() == kKeys - kKeys / 2;
    index.reset();
    state.ResumeTiming();
    if (!half) {
      state.SkipWithError("the deletes missed entries");
      return;
    }
  }
  PerOperation(state, kKeys / 2);
}

// --- SQLite ---------------------------------------------------------------------

struct Peer {
  Peer() {
    sqlite3_open(":memory:", &Db);
    Exec("PRAGMA page_size=4096");
    Exec("CREATE TABLE t(k INTEGER NOT NULL, rid INTEGER NOT NULL, PRIMARY KEY(k, rid)) "
         "WITHOUT ROWID");
  }
  ~Peer() { sqlite3_close(Db); }
  void Exec(const char* sql) const { sqlite3_exec(Db, sql, nullptr, nullptr, nullptr); }
  sqlite3_stmt* Prepare(const char* sql) const {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(Db, sql, -1, &stmt, nullptr);
    return stmt;
  }

  void InsertAll() const {
    Exec("BEGIN");
    sqlite3_stmt* insert = Prepare("INSERT INTO t VALUES(?, ?)");
    for (int32_t i = 0; i < kKeys; ++i) {
      sqlite3_bind_int64(insert, 1, TheKeys().Inserted[static_cast<size_t>(i)]);
      sqlite3_bind_int(insert, 2, i);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
  }

  int64_t Count() const {
    sqlite3_stmt* count = Prepare("SELECT count(*) FROM t");
    sqlite3_step(count);
    const int64_t n = sqlite3_column_int64(count, 0);
    sqlite3_finalize(count);
    return n;
  }

  sqlite3* Db = nullptr;
};

Peer& FullPeer() {
  static Peer* peer = [] {
    auto* made = new Peer;
    made->InsertAll();
    return made;
  }();
  return *peer;
}

void Peer_Insert(benchmark::State& state) {
  TheKeys();
  for (auto _ : state) {
    state.PauseTiming();
    auto peer = std::make_unique<Peer>();
    state.ResumeTiming();
    peer->InsertAll();
    state.PauseTiming();
    peer.reset();
    state.ResumeTiming();
  }
  PerOperation(state, kKeys);
}

void Peer_Lookup(benchmark::State& state) {
  Peer& peer = FullPeer();
  sqlite3_stmt* find = peer.Prepare("SELECT rid FROM t WHERE k = ?");
  for (auto _ : state) {
    for (int32_t no : TheKeys().LookupOrder) {
      sqlite3_bind_int64(find, 1, TheKeys().Inserted[static_cast<size_t>(no)]);
      const bool found = sqlite3_step(find) == SQLITE_ROW && sqlite3_column_int(find, 0) == no;
      sqlite3_reset(find);
      if (!found) {
        state.SkipWithError("a key was not found");
        sqlite3_finalize(find);
        return;
      }
    }
  }
  sqlite3_finalize(find);
  PerOperation(state, kKeys);
}

void Peer_Walk(benchmark::State& state) {
  Peer& peer = FullPeer();
  sqlite3_stmt* walk = peer.Prepare("SELECT rid FROM t ORDER BY k, rid");
  for (auto _ : state) {
    int64_t count = 0;
    while (sqlite3_step(walk) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_int(walk, 0));
      ++count;
    }
    sqlite3_reset(walk);
    if (count != kKeys) {
      state.SkipWithError("the walk missed entries");
      break;
    }
  }
  sqlite3_finalize(walk);
  PerOperation(state, kKeys);
}

void Peer_DeleteHalf(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto peer = std::make_unique<Peer>();
    peer->InsertAll();
    state.ResumeTiming();
    peer->Exec("BEGIN");
    sqlite3_stmt* remove = peer->Prepare("DELETE FROM t WHERE k = ? AND rid = ?");
    for (int32_t no : TheKeys().DeleteOrder) {
      sqlite3_bind_int64(remove, 1, TheKeys().Inserted[static_cast<size_t>(no)]);
      sqlite3_bind_int(remove, 2, no);
      sqlite3_step(remove);
      sqlite3_reset(remove);
    }
    sqlite3_finalize(remove);
    peer->Exec("COMMIT");
    state.PauseTiming();
    const bool half = peer->Count() == kKeys - kKeys / 2;
    peer.reset();
    state.ResumeTiming();
    if (!half) {
      state.SkipWithError("the deletes missed rows");
      return;
    }
  }
  PerOperation(state, kKeys / 2);
}

BENCHMARK(Engine_Insert)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Peer_Insert)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Engine_Lookup)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Peer_Lookup)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Engine_Walk)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Peer_Walk)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Engine_DeleteHalf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Peer_DeleteHalf)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

VALMORA_BENCH_MAIN()
