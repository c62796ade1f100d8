#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "VEXStreamFakes.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXStream.h"
#include "os/TempFile.h"
#include "support/ScratchDir.h"

namespace vex {
namespace {

using testing::ContentOf;
using ::testing::ElementsAre;
using testing::ShortStream;

using testing::MessageOf;

void Put(rtl::TStream& stream, const std::string& bytes) {
  stream.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
}

TEST(UpdateCrc32, KnownValuesWithoutInversion) {
  const std::string abc = "abc";
  const std::string digits = "123456789";
  EXPECT_EQ(UpdateCrc32(0, abc.data(), 3), 0xCA6598D0u);
  EXPECT_EQ(UpdateCrc32(0, digits.data(), 9), 0x2DFD2D88u);
  // Starting from all ones and inverting gives the common CRC-32.
  EXPECT_EQ(~UpdateCrc32(0xFFFFFFFFu, abc.data(), 3), 0x352441C2u);
  EXPECT_EQ(~UpdateCrc32(0xFFFFFFFFu, digits.data(), 9), 0xCBF43926u);
  // A value carries on across calls.
  EXPECT_EQ(UpdateCrc32(UpdateCrc32(0, digits.data(), 4), digits.data() + 4, 5), 0x2DFD2D88u);
}

// Any start value, any length, any alignment: the same as the update bit by
// bit, and nothing at all for no bytes.
TEST(UpdateCrc32, AgreesWithTheBitwiseUpdate) {
  auto bitwise = [](uint32_t crc, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      crc ^= p[i];
      for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return crc;
  };
  std::mt19937 random(32);
  std::vector<uint8_t> bytes(600);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  for (int round = 0; round < 300; ++round) {
    const uint32_t start = round % 3 == 0 ? 0 : static_cast<uint32_t>(random());
    const size_t offset = random() % 16;
    const size_t length = random() % 580;
    ASSERT_EQ(UpdateCrc32(start, bytes.data() + offset, static_cast<int32_t>(length)),
              bitwise(start, bytes.data() + offset, length))
        << "start " << start << " offset " << offset << " length " << length;
  }
  EXPECT_EQ(UpdateCrc32(0x12345678u, bytes.data(), 0), 0x12345678u);
  EXPECT_EQ(UpdateCrc32(0x12345678u, bytes.data(), -5), 0x12345678u);
}

TEST(CheckedRoutines, ShortfallsRaiseTheCallersCodeWithPositionAndSizes) {
  TVEXMemoryStream five;
  Put(five, "12345");
  five.Seek(2, rtl::soFromBeginning);
  char buffer[8];
  int32_t code = 0;
  EXPECT_EQ(MessageOf([&] { ReadStreamChecked(buffer, 8, five, 12345); }, &code),
            "Cannot read from stream. Position = 2, Stream size = 5, Block size = 8, "
            "Bytes Read = 3 - Native error: 12345");
  EXPECT_EQ(code, 12345);

  ShortStream full("abcd", 1);
  full.Seek(4, rtl::soFromBeginning);
  EXPECT_EQ(MessageOf([&] { WriteStreamChecked("xyz", 3, full, 23456); }),
            "Cannot write to stream. Position = 4, Stream size = 5, Block size = 3, "
            "Bytes Write = 1 - Native error: 23456");

  TVEXMemoryStream ten;
  Put(ten, "0123456789");
  ten.Seek(3, rtl::soFromBeginning);
  EXPECT_EQ(MessageOf([&] { SeekStreamChecked(ten, 10103, -1); }),
            "Cannot set stream position to -1. Position = 3, Size = 10 - Native error: 10103");
  EXPECT_EQ(ten.Position(), 3);

  // A stream that stops at its end instead of refusing: the message names
  // where it stood before the attempt, not where it ended up.
  struct ClampingStream : ShortStream {
    using ShortStream::ShortStream;
    int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override {
      const int64_t at = ShortStream::Seek(offset, origin);
      return at > GetSize() ? ShortStream::Seek(GetSize(), rtl::soFromBeginning) : at;
    }
  };
  ClampingStream six("abcdef");
  six.Seek(2, rtl::soFromBeginning);
  EXPECT_EQ(MessageOf([&] { SeekStreamChecked(six, 10103, 9); }),
            "Cannot set stream position to 9. Position = 2, Size = 6 - Native error: 10103");

  // Transfers and positions that are met raise nothing.
  five.Seek(0, rtl::soFromBeginning);
  ReadStreamChecked(buffer, 5, five, 1);
  WriteStreamChecked("ab", 2, five, 1);
  SeekStreamChecked(five, 1, 40);  // past the end is a position like any other
  EXPECT_EQ(five.Position(), 40);
}

TEST(MemoryStream, OneByteWritesReallocateToTwiceTheNeedWhenTheyPassTheReservation) {
  TVEXMemoryStream stream;
  std::vector<int32_t> reservations;
  for (int i = 0; i < 30; ++i) {
    char c = static_cast<char>('a' + i % 26);
    ASSERT_EQ(stream.Write(&c, 1), 1);
    if (reservations.empty() || reservations.back() != stream.AllocatedBufferSize())
      reservations.push_back(stream.AllocatedBufferSize());
  }
  EXPECT_THAT(reservations, ElementsAre(1, 4, 10, 22, 46));
  EXPECT_EQ(stream.GetSize(), 30);
  EXPECT_EQ(MemoryManager->GetMemoryBufferSize(stream.Buffer()), 46);
}

TEST(MemoryStream, BytesTheStreamGrowsByAreZero) {
  TVEXMemoryStream stream;
  Put(stream, "abcdefgh");
  stream.SetSize(2);  // the reservation still holds "cdefgh"
  stream.SetSize(5);
  EXPECT_EQ(ContentOf(stream), std::string("ab\0\0\0", 5));

  stream.Seek(8, rtl::soFromBeginning);  // past the end, inside the old reservation
  Put(stream, "Z");
  EXPECT_EQ(ContentOf(stream), std::string("ab\0\0\0\0\0\0Z", 9));

  TVEXMemoryStream reserved(nullptr, 16);  // a reservation that was never written
  EXPECT_EQ(reserved.GetSize(), 0);
  reserved.Seek(4, rtl::soFromBeginning);
  Put(reserved, "x");
  EXPECT_EQ(ContentOf(reserved), std::string("\0\0\0\0x", 5));
}

TEST(MemoryStream, SizePositionAndAdoptedBuffer) {
  void* block = MemoryManager->GetMem(4);
  std::memcpy(block, "wxyz", 4);
  TVEXMemoryStream stream(block, 0);  // owns the block from here on
  EXPECT_EQ(stream.GetSize(), 4);
  EXPECT_EQ(ContentOf(stream), "wxyz");

  EXPECT_EQ(stream.Seek(-1, rtl::soFromEnd), 3);
  EXPECT_EQ(stream.Seek(-10, rtl::soFromCurrent), 3);  // before the start: refused
  EXPECT_EQ(stream.Seek(6, rtl::soFromCurrent), 9);    // past the end: allowed
  char c = 0;
  EXPECT_EQ(stream.Read(&c, 1), 0);
  stream.SetSize(2);  // pulls the position back to the end
  EXPECT_EQ(stream.Position(), 2);
  stream.SetSize(0);
  EXPECT_EQ(stream.Buffer(), nullptr);
  EXPECT_EQ(stream.AllocatedBufferSize(), 0);
  EXPECT_EQ(stream.Position(), 0);
}

struct CopyFixture : ::testing::Test {
  void SetUp() override {
    Put(source, "0123456789");
    source.Seek(7, rtl::soFromBeginning);
    source.SetBlockSize(3);
    source.SetOnProgress([this](TVEXStream* sender, double percent) {
      EXPECT_EQ(sender, &source);
      progress.push_back(percent);
    });
    Put(target, "ab");
    target.Seek(1, rtl::soFromBeginning);
  }
  TVEXMemoryStream source;
  TVEXMemoryStream target;
  std::vector<double> progress;
};

TEST_F(CopyFixture, SaveToStreamWritesAtTheTargetPositionAndKeepsBothPositions) {
  source.SaveToStream(target);
  EXPECT_EQ(ContentOf(target), "a0123456789");
  EXPECT_EQ(source.Position(), 7);
  EXPECT_EQ(target.Position(), 1);
  EXPECT_THAT(progress, ElementsAre(0, 30, 60, 90, 100, 100));
}

TEST_F(CopyFixture, LoadFromStreamReplacesTheContentAndKeepsBothPositions) {
  target.SetBlockSize(4);
  target.LoadFromStreamWithPosition(source, 2, 5);
  EXPECT_EQ(ContentOf(target), "23456");
  EXPECT_EQ(source.Position(), 7);
  EXPECT_EQ(target.Position(), 1);

  target.LoadFromStream(source);
  EXPECT_EQ(ContentOf(target), "0123456789");
  EXPECT_EQ(source.Position(), 7);
}

TEST_F(CopyFixture, CopyFailuresRaiseTheirCodes) {
  source.SetBlockSize(0);
  EXPECT_EQ(MessageOf([&] { source.SaveToStream(target); }),
            "Stream block size = 0 is not allowed - Native error: 10418");
  EXPECT_EQ(MessageOf([&] { source.LoadFromStream(target); }),
            "Stream block size = 0 is not allowed - Native error: 10419");
  source.SetBlockSize(4);

  ShortStream unreadable("0123456789", INT64_MAX, 6);
  unreadable.SetBlockSize(4);
  EXPECT_EQ(MessageOf([&] { unreadable.SaveToStream(target); }),
            "Cannot read from stream. Position = 4, Stream size = 10, Block size = 4, "
            "Bytes Read = 2 - Native error: 10146");
  ShortStream unwritable("", 5);
  EXPECT_EQ(MessageOf([&] { source.SaveToStream(unwritable); }),
            "Cannot write to stream. Position = 4, Stream size = 5, Block size = 4, "
            "Bytes Write = 1 - Native error: 10147");
  // The source ends before the asked range does.
  EXPECT_EQ(MessageOf([&] { target.LoadFromStreamWithPosition(source, 8, 5); }),
            "Cannot read from stream. Position = 8, Stream size = 10, Block size = 5, "
            "Bytes Read = 2 - Native error: 10148");
  ShortStream small("", 3);
  small.SetBlockSize(4);
  EXPECT_EQ(MessageOf([&] { small.LoadFromStream(source); }),
            "Cannot write to stream. Position = 0, Stream size = 3, Block size = 4, "
            "Bytes Write = 3 - Native error: 10149");
}

TEST(FileStream, SaveAndLoadThroughFiles) {
  testsupport::ScratchDir folder;
  std::string name = folder.Path() + "/data.bin";
  TVEXMemoryStream source;
  Put(source, "file content");
  source.SaveToFile(name);
  EXPECT_EQ(std::filesystem::file_size(name), 12u);

  TVEXMemoryStream loaded;
  loaded.LoadFromFile(name);
  EXPECT_EQ(ContentOf(loaded), "file content");

  {
    // Loading denies writers: a second handle may read but not write.
    TVEXFileStream reader(name, 0x20);
    EXPECT_EQ(MessageOf([&] { TVEXFileStream writer(name, 0x42); }),
              "Cannot open file. FileName = " + name + ", Mode = 66 - Native error: 10105");
    TVEXFileStream second(name, 0x40);
    EXPECT_EQ(second.GetSize(), 12);
  }

  EXPECT_EQ(
      MessageOf([&] { TVEXFileStream missing(folder.Path() + "/none", 0x20); }),
      "Cannot open file. FileName = " + folder.Path() + "/none, Mode = 32 - Native error: 10105");
  EXPECT_EQ(
      MessageOf([&] { TVEXFileStream bad(folder.Path() + "/no/such/file", fmCreate); }),
      "Cannot create file. FileName = " + folder.Path() + "/no/such/file - Native error: 10104");
}

TEST(FileStream, GrowthIsZeroAndSizePullsThePositionBack) {
  testsupport::ScratchDir folder;
  std::string name = folder.Path() + "/grow.bin";
  TVEXFileStream stream(name, fmCreate);
  Put(stream, "abc");
  stream.Seek(6, rtl::soFromBeginning);
  Put(stream, "Z");
  EXPECT_EQ(ContentOf(stream), std::string("abc\0\0\0Z", 7));
  stream.SetSize(9);
  EXPECT_EQ(ContentOf(stream), std::string("abc\0\0\0Z\0\0", 9));
  EXPECT_EQ(stream.Position(), 7);
  stream.SetSize(2);
  EXPECT_EQ(stream.Position(), 2);
  EXPECT_EQ(stream.Seek(-5, rtl::soFromCurrent), 2);  // before the start: refused
  char buffer[4];
  stream.Seek(0, rtl::soFromBeginning);
  EXPECT_EQ(stream.Read(buffer, 4), 2);
}

TEST(FileStream, TemporaryFilesLeaveNothingBehind) {
  testsupport::ScratchDir folder;
  std::string name = folder.Path() + "/scratch.tmp";
  {
    TVEXFileStream named(name, fmCreate, true);
    Put(named, "x");
    EXPECT_TRUE(std::filesystem::exists(name));
  }
  EXPECT_FALSE(std::filesystem::exists(name));

  std::unique_ptr<TVEXFileStream> unnamed = TVEXFileStream::CreateTemporary();
  EXPECT_TRUE(unnamed->IsTemporary());
  EXPECT_EQ(unnamed->FileName().rfind(os::TempDirectory() + "/VEX", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(unnamed->FileName()));  // gone while still in use
  Put(*unnamed, "data");
  EXPECT_EQ(ContentOf(*unnamed), "data");
}

std::string Pattern(int64_t size) {
  std::string s(static_cast<size_t>(size), '\0');
  for (int64_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 % 251);
  return s;
}

TEST(TemporaryStream, MovesToAFileOnlyWhenAWriteWouldPassTheLimit) {
  TVEXTemporaryStream stream;
  ASSERT_EQ(stream.MemoryLimit(), 1048576);
  std::string content = Pattern(1048576);
  for (size_t at = 0; at < content.size(); at += 65536)
    ASSERT_EQ(stream.Write(content.data() + at, 65536), 65536);
  EXPECT_TRUE(stream.InMemory());
  EXPECT_EQ(stream.FileName(), "");
  EXPECT_EQ(stream.FileStream(), nullptr);

  stream.Seek(1000, rtl::soFromBeginning);
  ASSERT_EQ(stream.Write("!", 1), 1);
  EXPECT_FALSE(stream.InMemory());
  EXPECT_EQ(stream.MemoryStream(), nullptr);
  ASSERT_NE(stream.FileStream(), nullptr);
  EXPECT_EQ(stream.FileName().rfind(os::TempDirectory() + "/VEX", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(stream.FileName()));  // nothing on disk to leave behind

  EXPECT_EQ(stream.Position(), 1001);
  content[1000] = '!';
  EXPECT_EQ(stream.GetSize(), 1048576);
  EXPECT_EQ(ContentOf(stream), content);
  Put(stream, "more");
  EXPECT_EQ(stream.Position(), 1005);
}

TEST(TemporaryStream, StaysInMemoryWhenTempFilesAreDisabledOrOnlyTheSizeGrows) {
  TVEXTemporaryStream disabled(true);
  disabled.SetMemoryLimit(16);
  Put(disabled, Pattern(100));
  EXPECT_TRUE(disabled.InMemory());
  EXPECT_EQ(ContentOf(disabled), Pattern(100));

  TVEXTemporaryStream sized;
  sized.SetMemoryLimit(16);
  sized.SetSize(100);
  EXPECT_TRUE(sized.InMemory());
  EXPECT_EQ(sized.GetSize(), 100);
}

TEST(TemporaryStream, AWriteFarPastTheEndGoesToTheFile) {
  TVEXTemporaryStream stream;
  stream.SetMemoryLimit(16);
  Put(stream, "ab");
  stream.Seek(40, rtl::soFromBeginning);
  Put(stream, "c");
  EXPECT_FALSE(stream.InMemory());
  EXPECT_EQ(ContentOf(stream), "ab" + std::string(38, '\0') + "c");
}

TEST(TempNames, MakeTempFileNameGivesANewEmptyFile) {
  std::string first = MakeTempFileName();
  std::string second = MakeTempFileName();
  EXPECT_NE(first, second);
  for (const std::string& name : {first, second}) {
    EXPECT_EQ(name.rfind(os::TempDirectory() + "/VEX", 0), 0u) << name;
    ASSERT_TRUE(std::filesystem::exists(name));
    EXPECT_EQ(std::filesystem::file_size(name), 0u);
    std::filesystem::remove(name);
  }
}

TEST(TempNames, MakeUniqueNameAppendsABracedUpperCaseGuid) {
  std::string a = MakeUniqueName("TMP_");
  std::string b = MakeUniqueName("TMP_");
  EXPECT_EQ(a.size(), 4u + 38u);
  ASSERT_EQ(a.rfind("TMP_", 0), 0u);
  const std::string form = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  for (size_t i = 0; i < form.size(); ++i) {
    char c = a[4 + i];
    if (form[i] == 'X')
      EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << a;
    else
      EXPECT_EQ(c, form[i]) << a;
  }
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace vex
