#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VEXStreamFakes.h"
#include "foundation/VEXCompressedBLOBStream.h"
#include "foundation/VEXExcept.h"

namespace vex {
namespace {

using testing::ContentOf;
using testing::ShortStream;

constexpr int64_t kHeaderSize = 20;

std::string Bytes(const void* data, size_t size) {
  return std::string(static_cast<const char*>(data), size);
}

void Put(rtl::TStream& stream, const std::string& bytes) {
  stream.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// Data that compresses, but not to nothing.
std::string SampleData(size_t size) {
  std::string data(size, '\0');
  uint32_t seed = 7;
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    data[i] = static_cast<char>('a' + (seed >> 16) % 8);
  }
  return data;
}

TVEXBLOBDescriptor Descriptor(TVEXCompressionAlgorithm algorithm, uint8_t mode, int32_t blockSize,
                              int64_t startPosition = 0) {
  TVEXBLOBDescriptor d{};
  d.BlockSize = blockSize;
  d.StartPosition = startPosition;
  d.CompressionAlgorithm = algorithm;
  d.CompressionMode = mode;
  return d;
}

std::string ReadAll(TVEXCompressedBLOBStream& blob) {
  std::string data(static_cast<size_t>(blob.GetSize()), '\0');
  blob.Seek(0, rtl::soFromBeginning);
  if (!data.empty()) {
    EXPECT_EQ(blob.Read(data.data(), int32_t(data.size())), int32_t(data.size()));
  }
  return data;
}

// What a new stream over the carrying stream and the stored descriptor sees.
std::string Reopened(rtl::TStream& carrier, const TVEXBLOBDescriptor& d) {
  TVEXCompressedBLOBStream blob(carrier, d, false);
  return ReadAll(blob);
}

struct ChainBlock {
  int64_t Position;
  TVEXCompressedStreamBlockHeader Header;
};

// The chain as the carrying stream's bytes hold it.
std::vector<ChainBlock> ChainOf(rtl::TStream& carrier, const TVEXBLOBDescriptor& d) {
  const std::string bytes = ContentOf(carrier);
  std::vector<ChainBlock> chain;
  int64_t p = d.StartPosition;
  for (int64_t k = 0; k < d.NumBlocks; ++k) {
    ChainBlock block{p, {}};
    std::memcpy(&block.Header, bytes.data() + p, kHeaderSize);
    chain.push_back(block);
    p += block.Header.OffsetToNextHeader;
  }
  return chain;
}

TEST(CompressedBLOBStream, ASmallBlobIsOneHeaderedBlockBehindItsStartPosition) {
  TVEXMemoryStream carrier;
  Put(carrier, "PREFIX!!");
  TVEXBLOBDescriptor d = Descriptor(acaZLIB, 0, 0, 8);
  {
    TVEXCompressedBLOBStream blob(carrier, d, true);
    EXPECT_EQ(blob.Write("hello", 5), 5);
    d = blob.BLOBDescriptor();
  }
  const std::string header(
      "\x10\x00\x00\x00"                   // 16 compressed bytes
      "\x05\x00\x00\x00"                   // 5 uncompressed bytes
      "\x9B\x51\x32\xF0"                   // CRC-32 of "hello" from 0
      "\x24\x00\x00\x00\x00\x00\x00\x00",  // 20 + 16
      20);
  const std::string zlibStored("\x78\x01\x01\x05\x00\xFA\xFFhello\x06\x2C\x02\x15", 16);
  EXPECT_EQ(ContentOf(carrier), "PREFIX!!" + header + zlibStored);

  const std::string descriptor(
      "\x00\x90\x01\x00"                  // block size 102400
      "\x01\x00\x00\x00\x00\x00\x00\x00"  // one block
      "\x05\x00\x00\x00\x00\x00\x00\x00"  // 5 bytes
      "\x08\x00\x00\x00\x00\x00\x00\x00"  // from byte 8 on
      "\x01\x00\x00\x00",                 // ZLIB, mode 0
      32);
  EXPECT_EQ(Bytes(&d, sizeof d), descriptor);
  EXPECT_EQ(Reopened(carrier, d), "hello");
}

TEST(CompressedBLOBStream, ANewBlobWithoutBlockSizeTakesTheDefaultOfItsMode) {
  const struct {
    uint8_t Mode;
    int32_t BlockSize;
  } cases[] = {{0, 102400},  {1, 524288},  {3, 524288},  {4, 1048576},
               {5, 1048576}, {6, 1048576}, {7, 1572864}, {9, 1572864}};
  for (const auto& c : cases) {
    TVEXMemoryStream carrier;
    TVEXCompressedBLOBStream blob(carrier, Descriptor(acaZLIB, c.Mode, 0), true);
    EXPECT_EQ(int64_t(blob.BLOBDescriptor().BlockSize), c.BlockSize) << int(c.Mode);
    EXPECT_EQ(blob.BlockSize(), c.BlockSize);
  }
  TVEXMemoryStream carrier;
  TVEXCompressedBLOBStream blob(carrier, Descriptor(acaZLIB, 5, 4096), true);
  EXPECT_EQ(int64_t(blob.BLOBDescriptor().BlockSize), 4096);
}

class CompressedBLOBBlocks : public ::testing::TestWithParam<TVEXCompressionAlgorithm> {};

TEST_P(CompressedBLOBBlocks, AppendsTruncatesAndReadsAcrossBlockBoundaries) {
  TVEXMemoryStream carrier;
  auto blob =
      std::make_unique<TVEXCompressedBLOBStream>(carrier, Descriptor(GetParam(), 1, 102400), true);
  std::string model = SampleData(250000);
  ASSERT_EQ(blob->Write(model.data(), 250000), 250000);
  TVEXBLOBDescriptor d = blob->BLOBDescriptor();
  EXPECT_EQ(int64_t(d.NumBlocks), 3);
  EXPECT_EQ(int64_t(d.UncompressedSize), 250000);

  // Three contiguous blocks from the start, each header pointing behind its
  // own data.
  std::vector<ChainBlock> chain = ChainOf(carrier, d);
  const int32_t sizes[] = {102400, 102400, 45200};
  int64_t p = 0;
  int64_t compressed = 0;
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(chain[k].Position, p);
    EXPECT_EQ(int64_t(chain[k].Header.UncompressedSize), sizes[k]);
    EXPECT_EQ(int64_t(chain[k].Header.OffsetToNextHeader),
              kHeaderSize + int64_t(chain[k].Header.CompressedSize));
    p += chain[k].Header.OffsetToNextHeader;
    compressed += chain[k].Header.CompressedSize;
  }
  EXPECT_EQ(carrier.GetSize(), p);
  EXPECT_EQ(blob->CompressedSize(), p);
  EXPECT_DOUBLE_EQ(blob->CompressionRate(), (1.0 - double(compressed) / 250000.0) * 100.0);
  EXPECT_GT(blob->CompressionRate(), 0.0);

  // The inherited block size is a copy setting: changing it leaves the
  // chain's layout alone.
  blob->SetBlockSize(1 << 20);

  // Reads that cross block boundaries, and one that runs into the end.
  char piece[300];
  blob->Seek(102390, rtl::soFromBeginning);
  ASSERT_EQ(blob->Read(piece, 30), 30);
  EXPECT_EQ(Bytes(piece, 30), model.substr(102390, 30));
  blob->Seek(-100, rtl::soFromCurrent);
  ASSERT_EQ(blob->Read(piece, 300), 300);
  EXPECT_EQ(Bytes(piece, 300), model.substr(102320, 300));
  blob->Seek(-5, rtl::soFromEnd);
  ASSERT_EQ(blob->Read(piece, 300), 5);
  EXPECT_EQ(Bytes(piece, 5), model.substr(249995));
  EXPECT_EQ(blob->Read(piece, 1), 0);
  EXPECT_EQ(Reopened(carrier, d), model);

  // One byte more rewrites the third block in place.
  const int64_t thirdPosition = chain[2].Position;
  blob->Seek(0, rtl::soFromEnd);
  ASSERT_EQ(blob->Write("!", 1), 1);
  model += "!";
  d = blob->BLOBDescriptor();
  EXPECT_EQ(int64_t(d.NumBlocks), 3);
  chain = ChainOf(carrier, d);
  EXPECT_EQ(chain[2].Position, thirdPosition);
  EXPECT_EQ(int64_t(chain[2].Header.UncompressedSize), 45201);

  // Writing inside the data writes nothing.
  blob->Seek(1000, rtl::soFromBeginning);
  EXPECT_EQ(blob->Write("xyz", 3), 0);

  // A write 10 bytes past the end fills the gap with zeros.
  blob->Seek(10, rtl::soFromEnd);
  ASSERT_EQ(blob->Write("xyz", 3), 3);
  model += std::string(10, '\0') + "xyz";
  d = blob->BLOBDescriptor();
  EXPECT_EQ(int64_t(d.UncompressedSize), 250014);
  EXPECT_EQ(ReadAll(*blob), model);
  EXPECT_EQ(Reopened(carrier, d), model);

  // Truncating at a block boundary keeps the carrying stream's bytes.
  const int64_t carrierSize = carrier.GetSize();
  blob->SetSize(204800);
  model.resize(204800);
  d = blob->BLOBDescriptor();
  EXPECT_EQ(int64_t(d.NumBlocks), 2);
  EXPECT_EQ(int64_t(d.UncompressedSize), 204800);
  EXPECT_EQ(carrier.GetSize(), carrierSize);
  EXPECT_EQ(blob->Position(), 204800);
  EXPECT_EQ(Reopened(carrier, d), model);

  // Truncating inside a block recompresses it and cuts the stream behind it.
  blob->SetSize(150000);
  model.resize(150000);
  d = blob->BLOBDescriptor();
  EXPECT_EQ(int64_t(d.NumBlocks), 2);
  chain = ChainOf(carrier, d);
  EXPECT_EQ(int64_t(chain[1].Header.UncompressedSize), 47600);
  EXPECT_EQ(carrier.GetSize(), chain[1].Position + int64_t(chain[1].Header.OffsetToNextHeader));
  EXPECT_EQ(Reopened(carrier, d), model);

  // Extending appends zeros, filling the partial block first.
  blob->SetSize(360000);
  model.resize(360000);
  d = blob->BLOBDescriptor();
  EXPECT_EQ(int64_t(d.NumBlocks), 4);
  EXPECT_EQ(blob->Position(), 360000);
  EXPECT_EQ(Reopened(carrier, d), model);

  blob->SetSize(0);
  d = blob->BLOBDescriptor();
  EXPECT_EQ(int64_t(d.NumBlocks), 0);
  EXPECT_EQ(Reopened(carrier, d), "");
}

INSTANTIATE_TEST_SUITE_P(EveryAlgorithm, CompressedBLOBBlocks,
                         ::testing::Values(acaZLIB, acaBZIP, acaPPM));

// A BLOB of two blocks at block size 1000: 1000 and 500 bytes.
struct TwoBlocks {
  TwoBlocks() {
    TVEXMemoryStream carrier;
    TVEXCompressedBLOBStream blob(carrier, Descriptor(acaZLIB, 6, 1000), true);
    blob.Write(Data.data(), int32_t(Data.size()));
    D = blob.BLOBDescriptor();
    Chain = ChainOf(carrier, D);
    Bytes = ContentOf(carrier);
  }
  template <class T>
  void Patch(int64_t at, T value) {
    std::memcpy(Bytes.data() + at, &value, sizeof value);
  }
  std::string Data = SampleData(1500);
  TVEXBLOBDescriptor D;
  std::vector<ChainBlock> Chain;
  std::string Bytes;
};

TEST(CompressedBLOBStream, DetectsADamagedChainWithTheCodeOfWhatIsWrong) {
  struct Case {
    const char* Name;
    std::function<void(TwoBlocks&)> Damage;
    int32_t Code;
    bool AtOpen;
  } cases[] = {
      {"checksum",
       [](TwoBlocks& t) { t.Patch(t.Chain[1].Position + 8, t.Chain[1].Header.Crc32 ^ 1); }, 10089,
       false},
      {"compressed byte",
       [](TwoBlocks& t) { t.Bytes[size_t(t.Chain[1].Position + kHeaderSize + 20)] ^= 0x55; }, 10087,
       false},
      // The data hold more than the header says: decompression stops there.
      {"size below the content",
       [](TwoBlocks& t) { t.Patch<int32_t>(t.Chain[1].Position + 4, 400); }, 10087, false},
      {"size above the content",
       [](TwoBlocks& t) { t.Patch<int32_t>(t.Chain[1].Position + 4, 600); }, 10088, false},
      {"size beyond the block size",
       [](TwoBlocks& t) { t.Patch<int32_t>(t.Chain[1].Position + 4, 1001); }, 10088, true},
      {"size of 0", [](TwoBlocks& t) { t.Patch<int32_t>(t.Chain[1].Position + 4, 0); }, 10088,
       true},
      {"partial block before the last", [](TwoBlocks& t) { t.Patch<int32_t>(4, 999); }, 10088,
       true},
      {"block size 0 in the descriptor", [](TwoBlocks& t) { t.D.BlockSize = 0; }, 10088, true},
      // Nothing is allocated for a size the stream cannot hold.
      {"compressed size past the stream",
       [](TwoBlocks& t) {
         t.Patch<int32_t>(t.Chain[1].Position, 0x7FFFFF00);
         t.Patch<int64_t>(t.Chain[1].Position + 12, kHeaderSize + 0x7FFFFF00);
       },
       10082, true},
      {"compressed size of 0",
       [](TwoBlocks& t) {
         t.Patch<int32_t>(t.Chain[1].Position, 0);
         t.Patch<int64_t>(t.Chain[1].Position + 12, kHeaderSize);
       },
       10083, true},
      {"negative compressed size",
       [](TwoBlocks& t) {
         t.Patch<int32_t>(t.Chain[1].Position, -30);
         t.Patch<int64_t>(t.Chain[1].Position + 12, kHeaderSize - 30);
       },
       10083, true},
      {"next header not behind the data",
       [](TwoBlocks& t) { t.Patch<int64_t>(12, t.Chain[0].Header.OffsetToNextHeader + 1); }, 10083,
       true},
      {"more blocks than the chain", [](TwoBlocks& t) { t.D.NumBlocks = 3; }, 10082, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TwoBlocks t;
    c.Damage(t);
    TVEXMemoryStream carrier;
    Put(carrier, t.Bytes);
    int32_t code = 0;
    std::unique_ptr<TVEXCompressedBLOBStream> blob;
    testing::MessageOf(
        [&] { blob = std::make_unique<TVEXCompressedBLOBStream>(carrier, t.D, false); }, &code);
    if (c.AtOpen) {
      EXPECT_EQ(code, c.Code);
      continue;
    }
    ASSERT_NE(blob, nullptr);
    // The undamaged first block still reads.
    std::string first(1000, '\0');
    EXPECT_EQ(blob->Read(first.data(), 1000), 1000);
    EXPECT_EQ(first, t.Data.substr(0, 1000));
    char byte;
    testing::MessageOf([&] { blob->Read(&byte, 1); }, &code);
    EXPECT_EQ(code, c.Code);
  }
}

TEST(CompressedBLOBStream, AWrongChecksumNamesBothValues) {
  TwoBlocks t;
  t.Patch<uint32_t>(8, 0xFFFFFFF0u);
  TVEXMemoryStream carrier;
  Put(carrier, t.Bytes);
  TVEXCompressedBLOBStream blob(carrier, t.D, false);
  char byte;
  EXPECT_EQ(testing::MessageOf([&] { blob.Read(&byte, 1); }),
            "Decompress buffer failed. CheckSum = " + std::to_string(t.Chain[0].Header.Crc32) +
                ", Header.Crc32 = 4294967280 - Native error: 10089");
}

TEST(CompressedBLOBStream, RepairOpenCutsATornLastBlock) {
  // Three blocks of 1000, 1000 and 500 bytes.
  const std::string data = SampleData(2500);
  TVEXMemoryStream source;
  TVEXCompressedBLOBStream original(source, Descriptor(acaZLIB, 6, 1000), true);
  original.Write(data.data(), 2500);
  const TVEXBLOBDescriptor d = original.BLOBDescriptor();
  const std::vector<ChainBlock> chain = ChainOf(source, d);
  const std::string bytes = ContentOf(source);

  for (int64_t cut : {chain[2].Position + 10, chain[2].Position + kHeaderSize + 5}) {
    SCOPED_TRACE(cut);
    TVEXMemoryStream carrier;
    Put(carrier, bytes.substr(0, size_t(cut)));
    int32_t code = 0;
    testing::MessageOf([&] { TVEXCompressedBLOBStream(carrier, d, false); }, &code);
    EXPECT_EQ(code, 10082);

    TVEXCompressedBLOBStream repaired(carrier, d, false, true);
    EXPECT_EQ(int64_t(repaired.BLOBDescriptor().NumBlocks), 2);
    EXPECT_EQ(int64_t(repaired.BLOBDescriptor().UncompressedSize), 2000);
    EXPECT_EQ(ReadAll(repaired), data.substr(0, 2000));
    // Appending puts the new block where the torn one stood.
    repaired.Seek(0, rtl::soFromEnd);
    ASSERT_EQ(repaired.Write("tail", 4), 4);
    EXPECT_EQ(Reopened(carrier, repaired.BLOBDescriptor()), data.substr(0, 2000) + "tail");
  }
}

TEST(CompressedBLOBStream, UncompressedBlobIsItsRawBytesAndStaysWithinThem) {
  TVEXMemoryStream carrier;
  Put(carrier, "ABCD");
  TVEXBLOBDescriptor d;
  {
    TVEXCompressedBLOBStream blob(carrier, Descriptor(acaNone, 0, 0, 4), true);
    EXPECT_EQ(blob.Write("hello world", 11), 11);
    // Nothing before the start position belongs to the BLOB.
    EXPECT_EQ(blob.Seek(-2, rtl::soFromBeginning), 0);
    EXPECT_EQ(blob.Write("J", 1), 1);
    d = blob.BLOBDescriptor();
  }
  EXPECT_EQ(ContentOf(carrier), "ABCDJello world");
  EXPECT_EQ(int64_t(d.UncompressedSize), 11);
  EXPECT_EQ(int64_t(d.NumBlocks), 0);

  // Bytes behind the BLOB in the carrying stream are not read as its own.
  carrier.Seek(0, rtl::soFromEnd);
  Put(carrier, "TAIL");
  {
    TVEXCompressedBLOBStream blob(carrier, d, false);
    char buffer[100];
    EXPECT_EQ(blob.Read(buffer, 100), 11);
    EXPECT_EQ(Bytes(buffer, 11), "Jello world");
    blob.SetSize(5);
    EXPECT_EQ(int64_t(blob.BLOBDescriptor().UncompressedSize), 5);
  }
  EXPECT_EQ(ContentOf(carrier), "ABCDJello");

  d.UncompressedSize = 6;
  int32_t code = 0;
  EXPECT_EQ(testing::MessageOf([&] { TVEXCompressedBLOBStream(carrier, d, false); }, &code),
            "Stream size = 9 too small. Should be at least = 10 - Native error: 10081");
  // A size so large that the end it names wraps past the largest position.
  d.UncompressedSize = INT64_MAX;
  code = 0;
  testing::MessageOf([&] { TVEXCompressedBLOBStream(carrier, d, false); }, &code);
  EXPECT_EQ(code, 10081);
  d.UncompressedSize = 6;
  TVEXCompressedBLOBStream repaired(carrier, d, false, true);
  char buffer[10];
  EXPECT_EQ(repaired.Read(buffer, 10), 5);
}

TEST(CompressedBLOBStream, FailuresOfTheCarryingStreamRaiseTheirCodes) {
  const std::string data = SampleData(3000);
  struct Case {
    const char* Name;
    std::function<void()> Op;
    int32_t Code;
  } cases[] = {
      {"start position out of reach",
       [] {
         TVEXMemoryStream carrier;
         TVEXCompressedBLOBStream(carrier, Descriptor(acaZLIB, 1, 0, -1), true);
       },
       10103},
      {"block that does not compress",
       [&] {
         TVEXMemoryStream carrier;
         TVEXCompressedBLOBStream blob(carrier, Descriptor(acaBZIP, 0, 0), true);
         blob.Write(data.data(), 100);
       },
       10085},
      {"header refused",
       [&] {
         ShortStream carrier({}, 10);
         TVEXCompressedBLOBStream blob(carrier, Descriptor(acaZLIB, 1, 0), true);
         blob.Write(data.data(), 100);
       },
       10100},
      {"data refused",
       [&] {
         ShortStream carrier({}, 25);
         TVEXCompressedBLOBStream blob(carrier, Descriptor(acaZLIB, 1, 0), true);
         blob.Write(data.data(), 100);
       },
       10101},
      {"data cut short on reading",
       [&] {
         TVEXMemoryStream source;
         TVEXCompressedBLOBStream original(source, Descriptor(acaZLIB, 1, 0), true);
         original.Write(data.data(), 100);
         ShortStream carrier(ContentOf(source), INT64_MAX, kHeaderSize + 5);
         TVEXCompressedBLOBStream blob(carrier, original.BLOBDescriptor(), false);
         char byte;
         blob.Read(&byte, 1);
       },
       10086},
  };
  for (const Case& c : cases) {
    int32_t code = 0;
    testing::MessageOf(c.Op, &code);
    EXPECT_EQ(code, c.Code) << c.Name;
  }
}

}  // namespace
}  // namespace vex
