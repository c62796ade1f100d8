#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/VEXExcept.h"
#include "os/Clock.h"
#include "os/FileFaults.h"
#include "os/OsError.h"
#include "storage/disk/VEXDatabaseFile.h"
#include "support/FakeClock.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"
#include "support/WriteFault.h"

namespace vex {
namespace {

using testsupport::CodeOf;

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A database file whose handle a test can make stop working, as a dropped
// network share does: the handle is closed under the object, which stays open.
class BreakableFile : public TVEXDatabaseFile {
 public:
  void BreakHandle() { FHandle.Close(); }
};

class DatabaseFileTest : public ::testing::Test {
 protected:
  // A file of `size` bytes whose byte i is i mod 251.
  std::string MakeFile(const std::string& name, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
    WriteWholeFile(FDir / name, bytes);
    return FDir / name;
  }

  testsupport::ScratchDir FDir;
  testsupport::FakeClockScope FFake;
  os::FakeClock& FClock = FFake.Clock;
};

TEST_F(DatabaseFileTest, WritesReadsResizesAndKeepsTheFilePointer) {
  const std::string path = FDir / "db.vex";
  TVEXDatabaseFile file;
  file.CreateAndOpenFile(path);
  EXPECT_TRUE(file.IsOpened());
  EXPECT_EQ(file.FileName(), path);
  EXPECT_EQ(file.GetSize(), 0);

  const char text[] = "page-bytes";
  file.WriteBuffer(text, 10, 100, 10469);
  EXPECT_EQ(file.GetPosition(), 110);
  EXPECT_EQ(file.GetSize(), 110);

  char back[10] = {};
  file.ReadBuffer(back, 10, 100, 10464);
  EXPECT_EQ(std::string(back, 10), "page-bytes");

  file.SetSize(4096);
  EXPECT_EQ(file.GetSize(), 4096);
  EXPECT_EQ(file.GetPosition(), 4096);
  file.SetSize(105);
  EXPECT_EQ(file.GetSize(), 105);
  file.SetPosition(7);
  EXPECT_EQ(file.GetPosition(), 7);
  file.FlushFileBuffers();
  file.CloseFile();
  EXPECT_FALSE(file.IsOpened());
  EXPECT_EQ(ReadWholeFile(path).size(), 105u);
}

TEST_F(DatabaseFileTest, OperationsCheckWhetherTheFileIsOpen) {
  const std::string path = MakeFile("db.vex", 10);
  TVEXDatabaseFile file;
  char buffer[4];
  struct Case {
    const char* operation;
    std::function<void()> call;
  };
  const Case closedCases[] = {
      {"CloseFile", [&] { file.CloseFile(); }},
      {"ReadBuffer", [&] { file.ReadBuffer(buffer, 4, 0); }},
      {"WriteBuffer", [&] { file.WriteBuffer(buffer, 4, 0, 10469); }},
      {"FlushFileBuffers", [&] { file.FlushFileBuffers(); }},
      {"GetSize", [&] { file.GetSize(); }},
      {"SetSize", [&] { file.SetSize(0); }},
      {"GetPosition", [&] { file.GetPosition(); }},
      {"SetPosition", [&] { file.SetPosition(0); }},
      {"LockByte", [&] { file.LockByte(0, 1); }},
      {"UnlockByte", [&] { file.UnlockByte(0, 1); }},
      {"IsByteLocked", [&] { file.IsByteLocked(0); }},
      {"IsRegionLocked", [&] { file.IsRegionLocked(0, 2); }},
  };
  for (const Case& c : closedCases) {
    std::string message;
    EXPECT_EQ(CodeOf(c.call, &message), 30376) << c.operation;
    EXPECT_NE(message.find(std::string("(") + c.operation + ") on a closed file"),
              std::string::npos)
        << message;
  }

  file.OpenFile(path, amReadWrite, smExclusive);
  const Case openCases[] = {
      {"CreateFile", [&] { file.CreateAndOpenFile(path); }},
      {"OpenFile", [&] { file.OpenFile(path, amReadOnly, smShareDenyNone); }},
      {"DeleteFile", [&] { file.DeleteFile(path); }},
  };
  for (const Case& c : openCases) {
    std::string message;
    EXPECT_EQ(CodeOf(c.call, &message), 30377) << c.operation;
    EXPECT_NE(message.find(std::string("(") + c.operation + ") on a opened file"),
              std::string::npos)
        << message;
  }
  EXPECT_EQ(ReadWholeFile(path).size(), 10u);  // the refused create left the file alone
}

TEST_F(DatabaseFileTest, ReadRunningPastTheEndSucceedsAndLeavesTheRestOfTheBuffer) {
  const std::string path = MakeFile("db.vex", 10);
  TVEXDatabaseFile file;
  file.OpenFile(path, amReadOnly, smShareDenyWrite);

  std::vector<uint8_t> buffer(20, 0xEE);
  EXPECT_TRUE(file.ReadBuffer(buffer.data(), 20, 6));
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 4),
            (std::vector<uint8_t>{6, 7, 8, 9}));
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 4, buffer.end()), std::vector<uint8_t>(16, 0xEE));

  std::fill(buffer.begin(), buffer.end(), 0xEE);
  EXPECT_NO_THROW(file.ReadBuffer(buffer.data(), 20, 1000, 10464));
  EXPECT_EQ(buffer, std::vector<uint8_t>(20, 0xEE));
}

TEST_F(DatabaseFileTest, UnknownAccessOrShareModeRaisesAndLeavesTheObjectClosed) {
  const std::string path = MakeFile("db.vex", 10);
  TVEXDatabaseFile file;
  std::string message;
  EXPECT_EQ(
      CodeOf([&] { file.OpenFile(path, static_cast<TVEXAccessMode>(7), smExclusive); }, &message),
      30366);
  EXPECT_NE(message.find("Unknown Access mode: '7'"), std::string::npos) << message;
  EXPECT_EQ(file.FileName(), path);  // stored before the modes are mapped
  EXPECT_EQ(
      CodeOf([&] { file.OpenFile(path, amReadOnly, static_cast<TVEXShareMode>(3)); }, &message),
      30367);
  EXPECT_NE(message.find("Unknown Share mode: '3'"), std::string::npos) << message;
  EXPECT_FALSE(file.IsOpened());
  file.OpenFile(path, amReadOnly, smShareDenyNone);
  EXPECT_TRUE(file.IsOpened());
}

TEST_F(DatabaseFileTest, CreateReplacesAReadOnlyFileButNotOneInUse) {
  const std::string path = MakeFile("db.vex", 50);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  TVEXDatabaseFile file;
  file.CreateAndOpenFile(path);
  EXPECT_EQ(file.GetSize(), 0);

  TVEXDatabaseFile other;
  EXPECT_EQ(CodeOf([&] { other.CreateAndOpenFile(path); }), 30361);
  EXPECT_FALSE(other.IsOpened());
  EXPECT_EQ(CodeOf([&] { TVEXDatabaseFile().CreateAndOpenFile(""); }), 30374);
  EXPECT_EQ(
      CodeOf([&] { TVEXDatabaseFile().OpenFile(FDir / "missing", amReadWrite, smExclusive); }),
      30364);
}

TEST_F(DatabaseFileTest, DeleteTakesTheLastFileOpenedAndRenameNeverReplaces) {
  const std::string path = MakeFile("db.vex", 10);
  const std::string other = MakeFile("other.vex", 10);
  TVEXDatabaseFile file;
  file.OpenFile(path, amReadWrite, smExclusive);
  file.CloseFile();

  EXPECT_EQ(CodeOf([&] { file.RenameFile(path, other); }), 30378);
  file.DeleteFile(other);  // the argument plays no part
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(std::filesystem::exists(other));
  EXPECT_EQ(CodeOf([&] { file.DeleteFile(path); }), 30362);

  file.RenameFile(other, path);
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(DatabaseFileTest, TwoHandlesOfOneProcessExcludeEachOther) {
  const std::string path = MakeFile("db.vex", 400);
  TVEXDatabaseFile first;
  TVEXDatabaseFile second;
  first.OpenFile(path, amReadWrite, smShareDenyNone);
  second.OpenFile(path, amReadOnly, smShareDenyNone);

  ASSERT_TRUE(first.LockByte(360, 1));
  EXPECT_FALSE(second.LockByte(360, 1));
  EXPECT_FALSE(second.LockByte(350, 20));  // overlapping region
  EXPECT_FALSE(first.LockByte(360, 1));    // locks do not nest
  EXPECT_TRUE(first.IsByteLocked(360));    // held by the asking object itself
  EXPECT_TRUE(second.IsByteLocked(360));
  EXPECT_TRUE(second.IsRegionLocked(300, 61));
  EXPECT_FALSE(second.IsRegionLocked(300, 60));
  EXPECT_FALSE(second.IsByteLocked(361));

  EXPECT_TRUE(first.UnlockByte(360, 1));
  EXPECT_FALSE(first.UnlockByte(360, 1));  // nothing left to release
  EXPECT_FALSE(second.IsByteLocked(360));
  EXPECT_TRUE(second.LockByte(360, 1));
  EXPECT_FALSE(first.LockByte(360, 1));
  EXPECT_FALSE(first.WasCriticalError());  // busy bytes are no sign of a broken connection
}

TEST_F(DatabaseFileTest, LockFailingWithANetworkErrorIsNotGrantedNowOrLater) {
  const std::string path = MakeFile("db.vex", 400);
  const std::string away = FDir / "away.vex";
  BreakableFile file;
  file.OpenFile(path, amReadWrite, smShareDenyNone);

  // The connection drops and the file cannot be reached again.
  file.BreakHandle();
  std::filesystem::rename(path, away);
  EXPECT_FALSE(file.LockByte(360, 1));
  EXPECT_TRUE(file.WasCriticalError());
  EXPECT_EQ(FClock.SleepCount(), 2u);  // three opens, 1000 ms apart
  EXPECT_EQ(FClock.SleptMs(), 2000u);

  // The file is back and another connection holds the header byte: a byte
  // that is busy stays refused after the earlier network error.
  std::filesystem::rename(away, path);
  TVEXDatabaseFile other;
  other.OpenFile(path, amReadWrite, smShareDenyNone);
  ASSERT_TRUE(other.LockByte(360, 1));
  EXPECT_FALSE(file.LockByte(360, 1));
  EXPECT_FALSE(file.LockByte(360, 1));
  EXPECT_TRUE(file.LockByte(361, 1));  // the reopened handle works
  EXPECT_TRUE(other.UnlockByte(360, 1));
  EXPECT_TRUE(file.LockByte(360, 1));
}

TEST_F(DatabaseFileTest, UnlockOfALockLostWithTheConnectionSucceeds) {
  const std::string path = MakeFile("db.vex", 400);
  BreakableFile file;
  file.OpenFile(path, amReadWrite, smShareDenyNone);
  ASSERT_TRUE(file.LockByte(360, 1));
  file.BreakHandle();
  EXPECT_TRUE(file.UnlockByte(360, 1));
  EXPECT_TRUE(file.WasCriticalError());
  // With no lock left the handle may be replaced, and the byte is free.
  EXPECT_TRUE(file.LockByte(360, 1));
}

TEST_F(DatabaseFileTest, AHandleThatStoppedWorkingIsReopenedTransparently) {
  const std::string path = MakeFile("db.vex", 100);
  BreakableFile file;
  file.OpenFile(path, amReadWrite, smExclusive);
  file.BreakHandle();

  uint8_t byte = 0;
  EXPECT_TRUE(file.ReadBuffer(&byte, 1, 42));
  EXPECT_EQ(byte, 42);
  EXPECT_TRUE(file.IsOpened());
  EXPECT_EQ(FClock.SleepCount(), 0u);
}

TEST_F(DatabaseFileTest, AHandleHoldingLocksIsNotReopened) {
  const std::string path = MakeFile("db.vex", 100);
  BreakableFile file;
  file.OpenFile(path, amReadWrite, smShareDenyNone);
  ASSERT_TRUE(file.LockByte(90, 1));
  file.BreakHandle();  // the lock is gone, but its owner still counts on it

  uint8_t byte = 0;
  EXPECT_FALSE(file.ReadBuffer(&byte, 1, 42));
  EXPECT_FALSE(file.ReopenDatabaseFile());
  EXPECT_EQ(CodeOf([&] { file.ReadBuffer(&byte, 1, 42, 10464); }), 10464);
  EXPECT_EQ(FClock.SleepCount(), 0u);
}

TEST_F(DatabaseFileTest, GivesUpAfterThreeOpensAndRaisesItsOwnError) {
  const std::string path = MakeFile("db.vex", 100);
  BreakableFile file;
  file.OpenFile(path, amReadWrite, smExclusive);
  file.BreakHandle();
  std::filesystem::remove(path);

  std::string message;
  EXPECT_EQ(CodeOf([&] { file.FlushFileBuffers(); }, &message), 30379);
  EXPECT_EQ(FClock.SleepCount(), 2u);
  EXPECT_EQ(FClock.SleptMs(), 2000u);
  EXPECT_NE(message.find(std::string("ErrorCode:") + std::to_string(EBADF)), std::string::npos)
      << message;

  // A failed read names the caller's code and the place, not a size failure.
  uint8_t bytes[4];
  EXPECT_EQ(CodeOf([&] { file.ReadBuffer(bytes, 4, 8, 10464); }, &message), 10464);
  EXPECT_NE(message.find("Cannot Read from file: '" + path +
                         "' Position = 8, Count = 4, FilePosition = -1, FileSize = -1, ErrorCode:" +
                         std::to_string(EBADF) + ". ErrorMessage: " + os::ErrorText(EBADF)),
            std::string::npos)
      << message;
  EXPECT_TRUE(file.IsOpened());
}

TEST_F(DatabaseFileTest, WriteToAReadOnlyHandleRaisesTheCallersCode) {
  const std::string path = MakeFile("db.vex", 100);
  TVEXDatabaseFile file;
  file.OpenFile(path, amReadOnly, smShareDenyNone);
  std::string message;
  EXPECT_EQ(CodeOf([&] { file.WriteBuffer("x", 1, 5, 10462); }, &message), 10462);
  EXPECT_NE(message.find("Cannot Write to file: '" + path +
                         "' Position = 5, Count = 1, FilePosition = 5, FileSize = 100"),
            std::string::npos)
      << message;
  EXPECT_EQ(CodeOf([&] { file.SetPosition(-1); }), 30372);
  EXPECT_EQ(CodeOf([&] { file.WriteBuffer("x", 1, -1, 0); }), 30372);
  EXPECT_EQ(CodeOf([&] { file.WriteBuffer("x", 1, -1, 10469); }), 10469);
}

TEST_F(DatabaseFileTest, AWriteThatFailsOnceOnAHealthyHandleSucceeds) {
  const std::string path = FDir / "db.vex";
  TVEXDatabaseFile file;
  file.CreateAndOpenFile(path);
  {
    testsupport::ArmedWriteFault fault(1, os::faults::WriteFault::FailOnce);
    file.WriteBuffer("abcd", 4, 0, 10469);
  }
  EXPECT_EQ(os::faults::WritesCounted(), 2u);
  EXPECT_EQ(FClock.SleepCount(), 0u);
  file.CloseFile();
  EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
}

TEST_F(DatabaseFileTest, DesignTimeOpensNest) {
  const std::string path = MakeFile("db.vex", 100);
  TVEXDatabaseFile file;
  file.OpenFile(path, amReadWrite, smShareDenyNone);
  file.CloseFile();

  file.CloseFileForDesignTime();  // without an open: nothing
  EXPECT_EQ(file.DesignOpenCount, 0);
  file.OpenFileForDesignTime();
  file.OpenFileForDesignTime();
  EXPECT_TRUE(file.IsOpened());
  EXPECT_EQ(file.DesignOpenCount, 2);
  // A lock taken through an earlier handle is gone once that handle closed, so
  // its release cannot fail at design time.
  EXPECT_TRUE(file.UnlockByte(50, 1));
  file.CloseFileForDesignTime();
  EXPECT_TRUE(file.IsOpened());
  file.CloseFileForDesignTime();
  EXPECT_FALSE(file.IsOpened());
  EXPECT_EQ(file.DesignOpenCount, 0);
}

// ---- signature search ----

std::vector<uint8_t> HeaderBytes(uint16_t headerSize) {
  std::vector<uint8_t> header(76, 0);
  std::memcpy(header.data(), "VEX0LITEDATABASE", 16);
  header[16] = static_cast<uint8_t>(headerSize & 0xFF);
  header[17] = static_cast<uint8_t>(headerSize >> 8);
  return header;
}

TEST_F(DatabaseFileTest, FindSignatureLocatesTheHeaderAndKeepsTheFilePointer) {
  struct Header {
    size_t at;
    uint16_t size;
  };
  struct Case {
    const char* name;
    size_t fileSize;
    std::vector<Header> headers;
    bool found;
    int64_t offset;
  };
  const Case cases[] = {
      {"at the start", 500, {{0, 76}}, true, 0},
      {"behind a stub", 5500, {{5000, 76}}, true, 5000},
      {"across the first window boundary", 10200, {{9990, 76}}, true, 9990},
      {"size bytes beyond the first window", 10200, {{9983, 76}}, true, 9983},
      {"at the start of the overlap", 10200, {{9984, 76}}, true, 9984},
      {"wrong size skipped", 30000, {{0, 77}, {700, 0}, {20000, 76}}, true, 20000},
      {"signature ending the file", 5016, {{5000, 76}}, false, 0},
      {"no header at all", 12000, {}, false, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes(c.fileSize, 'V');  // plenty of false starts
    for (const Header& h : c.headers) {
      const std::vector<uint8_t> header = HeaderBytes(h.size);
      const size_t n = std::min(header.size(), c.fileSize - h.at);
      std::copy_n(header.begin(), n, bytes.begin() + static_cast<std::ptrdiff_t>(h.at));
    }
    const std::string path = FDir / "exe.vex";
    WriteWholeFile(path, bytes);

    TVEXDatabaseFile file;
    file.OpenFile(path, amReadOnly, smShareDenyNone);
    file.SetPosition(123);
    int64_t offset = -7;
    EXPECT_EQ(file.FindSignature(offset), c.found) << c.name;
    EXPECT_EQ(offset, c.found ? c.offset : -7) << c.name;
    EXPECT_EQ(file.GetPosition(), 123) << c.name;
  }
}

// ---- unit routines ----

TEST_F(DatabaseFileTest, RetryCallPausesAfterEveryFailedTry) {
  struct Case {
    int32_t tryCount;
    int32_t delayMs;
    int succeedAt;  // 0: never
    bool result;
    int calls;
    uint64_t sleeps;
  };
  const Case cases[] = {
      {3, 20, 0, false, 3, 3}, {4500, 20, 0, false, 4500, 4500}, {3, 20, 2, true, 2, 1},
      {3, 20, 1, true, 1, 0},  {0, 20, 1, false, 0, 0},
  };
  for (const Case& c : cases) {
    testsupport::FakeClockScope fake;
    os::FakeClock& clock = fake.Clock;
    int calls = 0;
    const bool result = RetryCall(c.tryCount, c.delayMs, [&] { return ++calls == c.succeedAt; });
    EXPECT_EQ(result, c.result) << c.tryCount << "/" << c.succeedAt;
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(clock.SleepCount(), c.sleeps);
    EXPECT_EQ(clock.SleptMs(), c.sleeps * static_cast<uint64_t>(c.delayMs));
  }
}

TEST(IsNetworkErrorTest, CountsOnlyConnectionAndDeviceFailures) {
  for (int code : {EACCES, EBADF, EIO, ESTALE, ENETDOWN, ECONNRESET, EHOSTUNREACH}) {
    os::SetLastError(code);
    EXPECT_TRUE(IsNetworkError()) << code;
  }
  for (int code : {0, EAGAIN, ENOLCK, EINVAL, ENOENT, ENOSPC, os::kSharingViolation}) {
    os::SetLastError(code);
    EXPECT_FALSE(IsNetworkError()) << code;
  }
}

}  // namespace
}  // namespace vex
