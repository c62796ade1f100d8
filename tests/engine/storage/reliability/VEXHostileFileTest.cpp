// Damaged and hostile database files: a valid file with a table of a few
// hundred rows is cut short or has bytes changed in its prologue, a record
// page, an index page and the table list, and a fresh database object then
// connects, opens the table and reads it whole. A damaged prologue gives its
// specified error (10470 for a foreign file, 20237 for a damaged header);
// every other case ends in an engine error (EVEXException with its code) or
// in a read of what is left, never in a crash or a hang: each runs in a child process under an alarm, so either
// shows as the child's death by a signal. The file checker, run in the same
// child, reports every one of them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../disk/DiskTableFixture.h"
#include "VEXFileCheck.h"

namespace vex {
namespace {

using testing::DiskCursor;
using testing::DiskSession;
using testing::DiskTableTest;
using testing::TableImage;

constexpr unsigned kAlarmSeconds = 60;

// Where the interesting parts of the valid file lie.
struct FileMap {
  int64_t FirstPage = 0;
  int64_t PageSize = 0;
  std::vector<int64_t> RecordPages;
  std::vector<int64_t> IndexPages;
  std::vector<int64_t> TableListPages;
  // Leaves of the primary index (its 5-byte keys tell them from the record-
  // page index) with at least 6 entries.
  std::vector<int64_t> KeyLeaves;
  int64_t PageOffset(int64_t pageNo) const { return FirstPage + pageNo * PageSize; }
};

struct Damage {
  const char* Name;
  // The engine error expected; 0 accepts any engine error or a clean read.
  int32_t Code;
  std::function<void(std::vector<uint8_t>&, const FileMap&)> Apply;
};

void Fill(std::vector<uint8_t>& image, int64_t offset, size_t count, uint8_t value) {
  for (size_t i = 0; i < count && static_cast<size_t>(offset) + i < image.size(); ++i)
    image[static_cast<size_t>(offset) + i] = value;
}

template <class T>
void Put(std::vector<uint8_t>& image, int64_t offset, T value) {
  std::memcpy(image.data() + offset, &value, sizeof(T));
}

class HostileFileTest : public DiskTableTest {
 protected:
  void SetUp() override VEX_NO_THREAD_SAFETY_ANALYSIS {
    FCheckFilesAtEnd = false;  // the file is damaged on purpose
    auto db = NewDatabase();
    db->CreateDatabase();
    DiskSession session(*db);
    session.SetConnected(true);
    CreateTable(*db, session, "T", false);
    DiskCursor cursor(session, "T");
    TVEXDiskTableData& table = Open(*db, cursor);
    for (int32_t key = 1; key <= 700; ++key) ASSERT_TRUE(Insert(table, cursor, key, key));
    Close(*db, table, cursor);
    TVEXDiskPageManager& pages = *db->DiskPageManager();
    FMap.FirstPage = pages.OffsetToFirstPage();
    FMap.PageSize = pages.PageSize();
    session.SetConnected(false);
    FValid = testing::ReadWholeFile(PathOf());
    for (int64_t p = 0; FMap.PageOffset(p + 1) <= static_cast<int64_t>(FValid.size()); ++p) {
      const uint16_t type = testing::ValueAt<uint16_t>(FValid, static_cast<size_t>(FMap.PageOffset(p) + 8));
      if (type == ptTableRecord) FMap.RecordPages.push_back(p);
      if (type == ptTableIndex) FMap.IndexPages.push_back(p);
      if (type == ptTableList) FMap.TableListPages.push_back(p);
      const size_t data = static_cast<size_t>(FMap.PageOffset(p) + 40);
      if (type == ptTableIndex && FValid[data + 1] == 1 && testing::ValueAt<uint16_t>(FValid, data + 12) == 5 &&
          testing::ValueAt<uint16_t>(FValid, data + 14) >= 6)
        FMap.KeyLeaves.push_back(p);
    }
    ASSERT_GE(FMap.RecordPages.size(), 2u);
    ASSERT_FALSE(FMap.IndexPages.empty());
    ASSERT_FALSE(FMap.TableListPages.empty());
    ASSERT_FALSE(FMap.KeyLeaves.empty());
  }

  // Connects, opens "T" and reads it along the walk, the index and the
  // count; answers the engine error's code, 0 when all went through.
  int32_t ReadAll() VEX_NO_THREAD_SAFETY_ANALYSIS {
    return testsupport::CodeOf([&] {
      auto db = NewDatabase();
      DiskSession session(*db);
      session.SetConnected(true);
      DiskCursor cursor(session, "T");
      TVEXDiskTableData& table = Open(*db, cursor);
      {
        // A damaged record may also end the walk with an error result.
        TVEXLockGuard lock(db->DatabaseLock());
        cursor.FirstPosition = true;
        cursor.LastPosition = false;
        while (table.GetRecordBuffer(cursor, grmNext) == grrOK) {
        }
      }
      IndexKeys(table, cursor);
      Count(table, cursor);
      Close(*db, table, cursor);
      session.SetConnected(false);
    });
  }

  // ReadAll in a child under an alarm. Answers the code, or -1 for a child
  // that died (a crash, the alarm of a hang) or raised something else.
  // The file checker runs there too, after the read; checkerSound tells
  // whether it passed the file.
  int32_t ReadAllInChild(bool& checkerSound) {
    int fds[2];
    if (::pipe(fds) != 0) return -2;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      ::alarm(kAlarmSeconds);
      int32_t result[2] = {-1, -1};
      try {
        result[0] = ReadAll();
        result[1] = CheckDatabaseFile(PathOf()).Sound() ? 1 : 0;
      } catch (...) {
      }
      ssize_t written = ::write(fds[1], result, sizeof result);
      ::_exit(written == sizeof result ? 0 : 1);
    }
    ::close(fds[1]);
    int32_t result[2] = {-1, -1};
    const ssize_t got = ::read(fds[0], result, sizeof result);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || got != sizeof result) {
      ADD_FAILURE() << "the reader died, status " << status;
      return -1;
    }
    checkerSound = result[1] == 1;
    return result[0];
  }

  FileMap FMap;
  std::vector<uint8_t> FValid;
};

TEST_F(HostileFileTest, EveryDamageGivesAnEngineErrorOrAReadNeverACrashOrAHang) {
  const std::vector<Damage> cases = {
      {"empty file", 10470, [](auto& f, auto&) { f.clear(); }},
      {"cut inside the file header", 20237, [](auto& f, auto&) { f.resize(40); }},
      {"cut inside the prologue", 20237, [](auto& f, auto&) { f.resize(300); }},
      {"cut at the first page", 0, [](auto& f, auto& m) { f.resize(static_cast<size_t>(m.FirstPage)); }},
      {"cut in the middle of a page", 0,
       [](auto& f, auto& m) { f.resize(static_cast<size_t>(m.PageOffset(3) + m.PageSize / 2)); }},
      {"cut before the last record page", 0,
       [](auto& f, auto& m) { f.resize(static_cast<size_t>(m.PageOffset(m.RecordPages.back()))); }},
      {"last byte missing", 0, [](auto& f, auto&) { f.pop_back(); }},
      {"signature changed", 10470, [](auto& f, auto&) { f[0] ^= 0xFF; }},
      {"header size changed", 20237, [](auto& f, auto&) { Put<uint16_t>(f, 16, 9999); }},
      {"page size zero", 20237, [](auto& f, auto&) { Put<uint16_t>(f, 26, 0); }},
      {"page size odd", 0, [](auto& f, auto&) { Put<uint16_t>(f, 26, 4097); }},
      {"no pages per extent", 20237, [](auto& f, auto&) { Put<uint16_t>(f, 28, 0); }},
      {"page count past the file", 0, [](auto& f, auto&) { Put<int32_t>(f, 30, 0x7FFFFFF0); }},
      {"page count negative", 20237, [](auto& f, auto&) { Put<int32_t>(f, 30, -5); }},
      {"last used page past the count", 20237, [](auto& f, auto&) { Put<int32_t>(f, 34, 0x7FFFFFF0); }},
      {"crypto header garbled", 20237, [](auto& f, auto&) { Fill(f, 76, 280, 0xA5); }},
      {"record page type changed", 0,
       [](auto& f, auto& m) { Put<uint16_t>(f, m.PageOffset(m.RecordPages[0]) + 8, ptTableIndex); }},
      {"record page data garbled", 0,
       [](auto& f, auto& m) { Fill(f, m.PageOffset(m.RecordPages[0]) + 40, 64, 0xFF); }},
      {"record page zeroed", 0,
       [](auto& f, auto& m) { Fill(f, m.PageOffset(m.RecordPages[1]), static_cast<size_t>(m.PageSize), 0); }},
      {"index page data garbled", 0,
       [](auto& f, auto& m) { Fill(f, m.PageOffset(m.IndexPages[0]) + 40, 64, 0xFF); }},
      {"index page filled with ones", 0,
       [](auto& f, auto& m) {
         Fill(f, m.PageOffset(m.IndexPages.back()) + 40, static_cast<size_t>(m.PageSize - 40), 0xFF);
       }},
      // Entry 5 of a leaf a copy of entry 0: a step on from it finds its
      // position again by its key and record, at entry 0, and would go round
      // for ever.
      {"index entry repeated further on", 20035,
       [](auto& f, auto& m) {
         const size_t entries = static_cast<size_t>(m.PageOffset(m.KeyLeaves[0]) + 40 + 18);
         std::memcpy(f.data() + entries + 5 * 11, f.data() + entries, 11);
       }},
      {"table list garbled", 0,
       [](auto& f, auto& m) { Fill(f, m.PageOffset(m.TableListPages[0]) + 40, 64, 0xEE); }},
      {"table list zeroed", 0,
       [](auto& f, auto& m) {
         Fill(f, m.PageOffset(m.TableListPages[0]) + 40, static_cast<size_t>(m.PageSize - 40), 0);
       }},
  };
  for (const Damage& d : cases) {
    SCOPED_TRACE(d.Name);
    std::vector<uint8_t> image = FValid;
    d.Apply(image, FMap);
    testing::WriteWholeFile(PathOf(), image);
    bool checkerSound = true;
    const int32_t code = ReadAllInChild(checkerSound);
    EXPECT_FALSE(checkerSound) << "the file checker passed a damaged file";
    if (d.Code != 0) {
      EXPECT_EQ(code, d.Code);
    } else {
      EXPECT_GE(code, 0) << "died or raised something else than an engine error";
    }
  }
}

}  // namespace
}  // namespace vex
