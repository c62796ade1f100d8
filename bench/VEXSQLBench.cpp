// The SQL engine beside SQLite, both on database files in one scratch folder,
// with n = 100,000 rows of (key, name, amount, date, room):
//   W1  bulk insert of the n rows in one transaction through a prepared
//       parameterised INSERT
//   W2  n point lookups by the indexed key through one prepared parameterised
//       SELECT
//   W3  a filtered count over a column with no index
//   W4  a two-table join on an indexed key (each stay's room) with a filter
//       on the room, every result row read
//   W5  a three-table join (stay, room, room kind) with a filter on the
//       amount, every result row read
//   W6  GROUP BY of 200 groups (the room) with COUNT and SUM
// Each case runs three times; the ratio printed is of the medians
// (BenchRatio.h: engine / SQLite, above 1 SQLite is faster).
//
// Our side runs every statement through the query component on a database
// component, as an application does: the text is prepared once and its
// parameters set per execution; a SELECT is opened, its rows read with typed
// field reads, and closed. Our commits do not flush, so SQLite runs with
// synchronous=OFF and journal_mode=DELETE, prepared statements, its keys as
// INTEGER PRIMARY KEY.
#include <sqlite3.h>

#include <cstdint>
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
#include "components/VEXQuery.h"
#include "db/Fields.h"
#include "db/Params.h"
#include "foundation/VEXStartup.h"
#include "sql/expression/VEXExpression.h"

namespace {

constexpr int32_t kRows = 100000;
constexpr int32_t kRooms = 200;
constexpr int32_t kKinds = 10;
constexpr int32_t kNameSize = 30;

using benchrows::AmountOf;
using benchrows::DayOf;
using benchrows::Scratch;

std::string NameOf(int32_t i) { return benchrows::GuestText(i, kNameSize); }
int32_t RoomOf(int32_t i) { return (i * 7919) % kRooms; }
int32_t FloorOf(int32_t room) { return room / 20; }
int32_t KindOf(int32_t room) { return room % kKinds; }

// The answers both sides must give.
int64_t ExpectedAboveThousand() {
  int64_t n = 0;
  for (int32_t i = 0; i < kRows; ++i) n += AmountOf(i) > 1000 ? 1 : 0;
  return n;
}
int64_t ExpectedOnFloor3() {
  int64_t n = 0;
  for (int32_t i = 0; i < kRows; ++i) n += FloorOf(RoomOf(i)) == 3 ? 1 : 0;
  return n;
}
int64_t ExpectedAbove1500() {
  int64_t n = 0;
  for (int32_t i = 0; i < kRows; ++i) n += AmountOf(i) > 1500 ? 1 : 0;
  return n;
}

const char* const kW3 = "SELECT COUNT(*) FROM Stay WHERE AMOUNT > 1000";
const char* const kW4 =
    "SELECT s.ID, r.KIND FROM Stay s JOIN Room r ON s.ROOM = r.ROOM WHERE r.FLOOR = 3";
const char* const kW5 =
    "SELECT s.ID, k.TITLE FROM Stay s JOIN Room r ON s.ROOM = r.ROOM "
    "JOIN Kind k ON r.KIND = k.KIND WHERE s.AMOUNT > 1500";
const char* const kW6 = "SELECT ROOM, COUNT(*), SUM(AMOUNT) FROM Stay GROUP BY ROOM";

// --- our side -----------------------------------------------------------------

class EngineDb {
 public:
  explicit EngineDb(const std::string& name) {
    benchrows::StartEngineOnce();
    FPath = Scratch() / name;
    std::filesystem::remove(FPath);
    {
      vex::TVEXLocalSession creator;
      creator.SetDatabaseName("SqlBenchNew");
      creator.SetDatabaseFileName(FPath);
      creator.SetPageSize(4096);
      creator.SetPageCountInExtent(8);
      creator.SetMaxSessionCount(50);
      creator.CreateDatabase();
    }
    static int32_t serial = 0;
    FName = "SqlBench" + std::to_string(++serial);
    FDatabase = std::make_unique<vex::TVEXDatabase>(nullptr);
    FDatabase->SetDatabaseName(FName);
    FDatabase->SetDatabaseFileName(FPath);
    FDatabase->SetSilentMode(true);
    FDatabase->Open();
    Exec(
        "CREATE TABLE Stay (ID INTEGER NOT NULL, NAME VARCHAR(30), AMOUNT FLOAT, DAY DATE, "
        "ROOM INTEGER, PRIMARY KEY (ID))");
  }
  ~EngineDb() {
    FQueries.clear();
    FDatabase.reset();
    std::filesystem::remove(FPath);
  }

  vex::TVEXQuery& Query(const std::string& Text) {
    FQueries.push_back(std::make_unique<vex::TVEXQuery>(nullptr));
    vex::TVEXQuery& q = *FQueries.back();
    q.SetDatabaseName(FName);
    q.SQL().SetText(Text);
    return q;
  }
  void Exec(const std::string& Text) { Query(Text).ExecSQL(); }

  void Insert(int32_t rows) {
    vex::TVEXQuery& q = Query(
        "INSERT INTO Stay (ID, NAME, AMOUNT, DAY, ROOM) VALUES (:id, :name, :amount, :day, :room)");
    q.Prepare();
    db::TParam* id = q.ParamByName("id");
    db::TParam* name = q.ParamByName("name");
    db::TParam* amount = q.ParamByName("amount");
    db::TParam* day = q.ParamByName("day");
    db::TParam* room = q.ParamByName("room");
    FDatabase->StartTransaction();
    for (int32_t i = 0; i < rows; ++i) {
      id->SetAsInteger(i);
      name->SetAsString(NameOf(i));
      amount->SetAsFloat(AmountOf(i));
      day->SetAsDate(DayOf(i));
      room->SetAsInteger(RoomOf(i));
      q.ExecSQL();
    }
    FDatabase->Commit(false);
    q.UnPrepare();
  }
  void AddRoomsAndKinds() {
    Exec(
        "CREATE TABLE Room (ROOM INTEGER NOT NULL, KIND INTEGER, FLOOR INTEGER, PRIMARY KEY "
        "(ROOM))");
    Exec("CREATE TABLE Kind (KIND INTEGER NOT NULL, TITLE VARCHAR(20), PRIMARY KEY (KIND))");
    std::string rooms = "INSERT INTO Room (ROOM, KIND, FLOOR) VALUES ";
    for (int32_t r = 0; r < kRooms; ++r)
      rooms += (r ? ", (" : "(") + std::to_string(r) + ", " + std::to_string(KindOf(r)) + ", " +
               std::to_string(FloorOf(r)) + ")";
    Exec(rooms);
    std::string kinds = "INSERT INTO Kind (KIND, TITLE) VALUES ";
    for (int32_t k = 0; k < kKinds; ++k)
      kinds += (k ? ", (" : "(") + std::to_string(k) + ", 'kind " + std::to_string(k) + "')";
    Exec(kinds);
  }

  // The rows of a SELECT read through their first column, with the sum of
  // the second (integer or float) so that every row is read.
  int64_t Rows(vex::TVEXQuery& q) {
    q.Open();
    int64_t n = 0;
    double sum = 0;
    db::TField* second = q.FieldCount() > 1 ? q.Fields()[1] : nullptr;
    for (q.First(); !q.Eof(); q.Next()) {
      ++n;
      if (second != nullptr && second->DataType() != db::ftString) sum += second->AsFloat();
      if (second != nullptr && second->DataType() == db::ftString) sum += second->AsString().size();
    }
    benchmark::DoNotOptimize(sum);
    q.Close();
    return n;
  }
  int64_t Scalar(vex::TVEXQuery& q) {
    q.Open();
    const int64_t v = q.Fields()[0]->AsLargeInt();
    q.Close();
    return v;
  }

 private:
  std::string FPath;
  std::string FName;
  std::unique_ptr<vex::TVEXDatabase> FDatabase;
  std::vector<std::unique_ptr<vex::TVEXQuery>> FQueries;
};

EngineDb& FilledEngine() {
  static EngineDb* db = [] {
    auto* d = new EngineDb("filled.vex");
    d->Insert(kRows);
    d->AddRoomsAndKinds();
    return d;
  }();
  return *db;
}

void Engine_W1Insert(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto db = std::make_unique<EngineDb>("w1.vex");
    state.ResumeTiming();
    db->Insert(kRows);
    state.PauseTiming();
    db.reset();
    state.ResumeTiming();
  }
}

void Engine_W2Lookup(benchmark::State& state) {
  EngineDb& db = FilledEngine();
  const std::vector<int32_t> keys = benchrows::RandomKeys(kRows, kRows);
  vex::TVEXQuery& q = db.Query("SELECT ROOM FROM Stay WHERE ID = :id");
  q.Prepare();
  db::TParam* id = q.ParamByName("id");
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t k : keys) {
      id->SetAsInteger(k);
      q.Open();
      sum += q.Fields()[0]->AsInteger();
      q.Close();
    }
    benchmark::DoNotOptimize(sum);
  }
  q.UnPrepare();
}

void EngineCase(benchmark::State& state, const char* Text, int64_t Expected, bool Scalar) {
  EngineDb& db = FilledEngine();
  vex::TVEXQuery& q = db.Query(Text);
  q.Prepare();
  for (auto _ : state) {
    const int64_t got = Scalar ? db.Scalar(q) : db.Rows(q);
    if (got != Expected) {
      state.SkipWithError(("wrong answer " + std::to_string(got)).c_str());
      break;
    }
  }
  q.UnPrepare();
}

void Engine_W3FilteredCount(benchmark::State& state) {
  EngineCase(state, kW3, ExpectedAboveThousand(), true);
}
void Engine_W4Join(benchmark::State& state) { EngineCase(state, kW4, ExpectedOnFloor3(), false); }
void Engine_W5ThreeTableJoin(benchmark::State& state) {
  EngineCase(state, kW5, ExpectedAbove1500(), false);
}
void Engine_W6GroupBy(benchmark::State& state) { EngineCase(state, kW6, kRooms, false); }

// --- SQLite ---------------------------------------------------------------------

class PeerDb {
 public:
  explicit PeerDb(const std::string& name) {
    FPath = Scratch() / name;
    std::filesystem::remove(FPath);
    if (sqlite3_open(FPath.c_str(), &FDb) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    Exec("PRAGMA journal_mode=DELETE");
    Exec("PRAGMA synchronous=OFF");
    Exec(
        "CREATE TABLE Stay (ID INTEGER PRIMARY KEY NOT NULL, NAME VARCHAR(30), AMOUNT DOUBLE, "
        "DAY DATE, ROOM INTEGER)");
  }
  ~PeerDb() {
    sqlite3_close(FDb);
    std::filesystem::remove(FPath);
  }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(FDb));
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(FDb, sql, -1, &s, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(FDb));
    return s;
  }
  void Insert(int32_t rows) {
    sqlite3_stmt* s = Prepare("INSERT INTO Stay (ID, NAME, AMOUNT, DAY, ROOM) VALUES (?,?,?,?,?)");
    Exec("BEGIN");
    for (int32_t i = 0; i < rows; ++i) {
      const std::string name = NameOf(i);
      sqlite3_bind_int(s, 1, i);
      sqlite3_bind_text(s, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
      sqlite3_bind_double(s, 3, AmountOf(i));
      sqlite3_bind_double(s, 4, DayOf(i));
      sqlite3_bind_int(s, 5, RoomOf(i));
      if (sqlite3_step(s) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(FDb));
      sqlite3_reset(s);
    }
    Exec("COMMIT");
    sqlite3_finalize(s);
  }
  void AddRoomsAndKinds() {
    Exec("CREATE TABLE Room (ROOM INTEGER PRIMARY KEY NOT NULL, KIND INTEGER, FLOOR INTEGER)");
    Exec("CREATE TABLE Kind (KIND INTEGER PRIMARY KEY NOT NULL, TITLE VARCHAR(20))");
    Exec("BEGIN");
    for (int32_t r = 0; r < kRooms; ++r)
      Exec("INSERT INTO Room VALUES (" + std::to_string(r) + ", " + std::to_string(KindOf(r)) +
           ", " + std::to_string(FloorOf(r)) + ")");
    for (int32_t k = 0; k < kKinds; ++k)
      Exec("INSERT INTO Kind VALUES (" + std::to_string(k) + ", 'kind " + std::to_string(k) + "')");
    Exec("COMMIT");
  }
  // As EngineDb::Rows: the row count, every row's second column read.
  int64_t Rows(sqlite3_stmt* s) {
    int64_t n = 0;
    double sum = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      ++n;
      if (sqlite3_column_count(s) > 1) {
        if (sqlite3_column_type(s, 1) == SQLITE_TEXT)
          sum += sqlite3_column_bytes(s, 1);
        else
          sum += sqlite3_column_double(s, 1);
      }
    }
    benchmark::DoNotOptimize(sum);
    sqlite3_reset(s);
    return n;
  }
  int64_t Scalar(sqlite3_stmt* s) {
    int64_t v = -1;
    if (sqlite3_step(s) == SQLITE_ROW) v = sqlite3_column_int64(s, 0);
    sqlite3_reset(s);
    return v;
  }

 private:
  std::string FPath;
  sqlite3* FDb = nullptr;
};

PeerDb& FilledPeer() {
  static PeerDb* db = [] {
    auto* d = new PeerDb("filled.db");
    d->Insert(kRows);
    d->AddRoomsAndKinds();
    return d;
  }();
  return *db;
}

void Peer_W1Insert(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto db = std::make_unique<PeerDb>("w1.db");
    state.ResumeTiming();
    db->Insert(kRows);
    state.PauseTiming();
    db.reset();
    state.ResumeTiming();
  }
}

void Peer_W2Lookup(benchmark::State& state) {
  PeerDb& db = FilledPeer();
  const std::vector<int32_t> keys = benchrows::RandomKeys(kRows, kRows);
  sqlite3_stmt* s = db.Prepare("SELECT ROOM FROM Stay WHERE ID = ?");
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t k : keys) {
      sqlite3_bind_int(s, 1, k);
      if (sqlite3_step(s) == SQLITE_ROW) sum += sqlite3_column_int(s, 0);
      sqlite3_reset(s);
    }
    benchmark::DoNotOptimize(sum);
  }
  sqlite3_finalize(s);
}

void PeerCase(benchmark::State& state, const char* Text, int64_t Expected, bool Scalar) {
  PeerDb& db = FilledPeer();
  sqlite3_stmt* s = db.Prepare(Text);
  for (auto _ : state) {
    const int64_t got = Scalar ? db.Scalar(s) : db.Rows(s);
    if (got != Expected) {
      state.SkipWithError(("wrong answer " + std::to_string(got)).c_str());
      break;
    }
  }
  sqlite3_finalize(s);
}

void Peer_W3FilteredCount(benchmark::State& state) {
  PeerCase(state, kW3, ExpectedAboveThousand(), true);
}
void Peer_W4Join(benchmark::State& state) { PeerCase(state, kW4, ExpectedOnFloor3(), false); }
void Peer_W5ThreeTableJoin(benchmark::State& state) {
  PeerCase(state, kW5, ExpectedAbove1500(), false);
}
void Peer_W6GroupBy(benchmark::State& state) { PeerCase(state, kW6, kRooms, false); }

#define SQL_CASE(name)                                                                    \
  BENCHMARK(Engine_##name)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3); \
  BENCHMARK(Peer_##name)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)

SQL_CASE(W1Insert);
SQL_CASE(W2Lookup);
SQL_CASE(W3FilteredCount);
SQL_CASE(W4Join);
SQL_CASE(W5ThreeTableJoin);
SQL_CASE(W6GroupBy);

}  // namespace

VALMORA_BENCH_MAIN()
