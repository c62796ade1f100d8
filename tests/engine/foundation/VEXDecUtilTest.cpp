#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/VEXDecUtil.h"
#include "rtl/Stream.h"

namespace vex {
namespace {

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

TEST(StringFormatBase64, EncodesAndDecodesTheRfcVectors) {
  const std::pair<std::string, std::string> cases[] = {{"", ""},
                                                       {"f", "Zg=="},
                                                       {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},
                                                       {"foob", "Zm9vYg=="},
                                                       {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"},
                                                       {"abc", "YWJj"},
                                                       {std::string(1, '\0'), "AA=="}};
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(BytesToFormat(bytes, fmtMIME64), text);
    EXPECT_EQ(FormatToBytes(text, fmtMIME64), bytes);
  }
  std::string all;
  for (int i = 0; i < 256; ++i) all += char(i);
  const std::string text = BytesToFormat(all, fmtDEFAULT);
  EXPECT_EQ(text.size(), 344u);  // 4 * ceil(256 / 3), no line breaks
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(FormatToBytes(text, fmtDEFAULT), all);
}

TEST(StringFormatBase64, CompletesShortTextWithFillCharacters) {
  EXPECT_EQ(FormatToBytes("YWJ", fmtMIME64), "ab");
  EXPECT_EQ(FormatToBytes("YQ", fmtMIME64), "a");
  // Without the registry's input check, characters outside the alphabet are
  // skipped.
  const std::string broken = "YW\nJj";
  EXPECT_EQ(TStringFormat_MIME64::Class()->ToStr(broken.data(), int32_t(broken.size())), "abc");
}

TEST(StringFormatRegistry, RefusesBadInputUnknownNumbersAndFormatsWithoutAlphabet) {
  EXPECT_EQ(Message([] { FormatToBytes("YW\r\nJj", fmtMIME64); }),
            "Input is not an valid MIME Base 64 Format.");
  EXPECT_THROW(FormatToBytes("YW\r\nJj", fmtMIME64), EStringFormat);
  EXPECT_EQ(Message([] { BytesToFormat("abc", 12345); }), "String Format \"12345\" not exists.");
  EXPECT_THROW(FormatToBytes("abc", 12345), EStringFormat);
  const std::pair<int32_t, const char*> noAlphabet[] = {{fmtHEX, "Not Implemented 2"},
                                                        {fmtHEXL, "Not implemented 3"},
                                                        {fmtUU, "Not implemented 5"},
                                                        {fmtXX, "Not implemented 6"}};
  for (const auto& [format, text] : noAlphabet) {
    EXPECT_EQ(Message([f = format] { BytesToFormat("abc", f); }), text);
    EXPECT_EQ(Message([f = format] { FormatToBytes("abc", f); }), text);
  }
}

TEST(StringFormatRegistry, HandlesCopyDefaultZeroAndEmptyInput) {
  const std::string binary("a\0b\xFF", 4);
  EXPECT_EQ(BytesToFormat(binary, fmtCOPY), binary);
  EXPECT_EQ(FormatToBytes(binary, fmtCOPY), binary);
  EXPECT_EQ(BytesToFormat("abc", fmtDEFAULT), BytesToFormat("abc", fmtMIME64));
  EXPECT_EQ(GetDefaultFormat(), 4196);
  EXPECT_EQ(BytesToFormat("abc", 0), "");
  EXPECT_EQ(BytesToFormat(nullptr, 3, fmtMIME64), "");
  EXPECT_EQ(BytesToFormat("", fmtHEX), "");                // nothing to code, so no refusal
  EXPECT_EQ(BytesToFormat("abc", -1, fmtMIME64), "YWJj");  // zero-terminated
  EXPECT_EQ(FindStringFormat(fmtXX)->Name(), "XX Coding");
  EXPECT_EQ(FindStringFormat(777), nullptr);
}

class ReversingFormat : public TStringFormat {
 public:
  std::string StrTo(const char* v, int32_t n) const override {
    const std::string s(v, size_t(n));
    return std::string(s.rbegin(), s.rend());
  }
  int32_t Format() const override { return fmtHEX; }
};

TEST(StringFormatRegistry, ARegisteredClassReplacesTheOneWithItsNumberInPlace) {
  static const ReversingFormat reversing;
  AddStringFormatClasses({&reversing, nullptr});
  EXPECT_EQ(BytesToFormat("abc", fmtHEX), "cba");
  AddStringFormatClasses({TStringFormat_HEX::Class()});
  EXPECT_EQ(FindStringFormat(fmtHEX), TStringFormat_HEX::Class());
}

// A link that adds Key to every byte on encoding and subtracts it on decoding,
// and records the calls it gets.
class AddingProtection : public TProtection {
 public:
  explicit AddingProtection(uint8_t key, TProtectionRef next = nullptr)
      : TProtection(std::move(next)), Key(key) {}
  void StartCoding(TPAction a) override {
    Log += "start;";
    TProtection::StartCoding(a);
  }
  void FinishCoding(TPAction a) override {
    TProtection::FinishCoding(a);
    Log += "finish;";
  }
  void CodeData(void* buffer, int32_t size, TPAction a) override {
    if (FailOnData) throw rtl::Exception("medium fault");
    auto* p = static_cast<uint8_t*>(buffer);
    if (a == paDecode) {
      for (int32_t i = 0; i < size; ++i) p[i] = uint8_t(p[i] - Key);
      TProtection::CodeData(buffer, size, a);
    } else {
      TProtection::CodeData(buffer, size, a);
      for (int32_t i = 0; i < size; ++i) p[i] = uint8_t(p[i] + Key);
    }
    Log += "data" + std::to_string(size) + ";";
  }
  uint8_t Key;
  bool FailOnData = false;
  std::string Log;
};

TEST(ProtectionChain, RefusesAChainThatLoopsAndKeepsTheOldOne) {
  auto a = std::make_shared<AddingProtection>(1);
  auto b = std::make_shared<AddingProtection>(2);
  auto c = std::make_shared<AddingProtection>(3);
  a->SetProtection(b);  // A behind B
  b->SetProtection(c);
  try {
    c->SetProtection(a);
    FAIL() << "no exception";
  } catch (const EProtection& e) {
    EXPECT_STREQ(e.what(), "Circular Protection detected, Protection Object is invalid.");
  }
  EXPECT_EQ(c->Protection(), nullptr);
  EXPECT_THROW(a->SetProtection(a), EProtection);
  EXPECT_EQ(a->Protection(), b);
  EXPECT_EQ(Message([] { TProtection::Identity(); }), "Not implemented 13");
  b->SetProtection(nullptr);
}

TEST(ProtectionChain, CodesBuffersThroughEveryLinkAndFinishesAfterAFailure) {
  auto inner = std::make_shared<AddingProtection>(10);
  AddingProtection outer(1, inner);
  std::string data = "abc";
  EXPECT_EQ(outer.CodeBuffer(data.data(), 3, paEncode), 3);
  EXPECT_EQ(data, "lmn");  // + 10 + 1
  outer.CodeBuffer(data.data(), 3, paDecode);
  EXPECT_EQ(data, "abc");
  EXPECT_EQ(inner->Log, "start;data3;finish;start;data3;finish;");

  inner->Log.clear();
  inner->FailOnData = true;
  EXPECT_THROW(outer.CodeBuffer(data.data(), 3, paEncode), rtl::Exception);
  EXPECT_EQ(inner->Log, "start;finish;");
}

std::vector<std::pair<int32_t, int32_t>> gProgress;
void RecordProgress(TProtection*, int32_t current, int32_t maximal) {
  gProgress.emplace_back(current, maximal);
}

TEST(ProtectionStreams, CodesTheWholeStreamInPlaceInPiecesWithProgress) {
  rtl::TMemoryStream stream;
  std::string data(5000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char(i);
  stream.WriteBuffer(data.data(), int32_t(data.size()));
  AddingProtection p(1);
  gProgress.clear();
  ProgressCallback() = &RecordProgress;
  p.CodeStream(&stream, nullptr, -1, paEncode);
  ProgressCallback() = nullptr;
  EXPECT_EQ(p.Log, "start;data4096;data904;finish;");
  const std::vector<std::pair<int32_t, int32_t>> expected = {
      {0, 5000}, {4096, 5000}, {5000, 5000}, {0, 0}};
  EXPECT_EQ(gProgress, expected);
  ASSERT_EQ(stream.Size(), 5000);
  for (size_t i = 0; i < data.size(); ++i)
    ASSERT_EQ(stream.Memory()[i], uint8_t(uint8_t(data[i]) + 1)) << i;
}

TEST(ProtectionStreams, CodesOnlyDataSizeBytesIntoASeparateDestination) {
  rtl::TMemoryStream source, dest;
  source.WriteBuffer("0123456789", 10);
  source.SetPosition(2);
  dest.WriteBuffer("xx", 2);
  AddingProtection p(1);
  p.CodeStream(&source, &dest, 5, paEncode);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dest.Memory()), size_t(dest.Size())),
            "xx34567");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(source.Memory()), 10), "0123456789");
  EXPECT_EQ(source.Position(), 7);  // the rest of the source is left for the caller

  // paCalc reads only; the destination is not touched.
  AddingProtection calc(1);
  source.SetPosition(0);
  calc.CodeStream(&source, &dest, -1, paCalc);
  EXPECT_EQ(calc.Log, "start;data10;finish;");
  EXPECT_EQ(dest.Size(), 7);
}

// A destination that takes nothing must not let the coded data vanish silently.
class FullStream : public rtl::TMemoryStream {
 public:
  int32_t Write(const void*, int32_t) override { return 0; }
};

TEST(ProtectionStreams, AShortWriteIsAnErrorAndStillFinishesTheChain) {
  rtl::TMemoryStream source;
  source.WriteBuffer("0123456789", 10);
  FullStream full;
  AddingProtection p(1);
  EXPECT_THROW(p.CodeStream(&source, &full, -1, paEncode), rtl::EWriteError);
  EXPECT_EQ(p.Log, "start;data10;finish;");
}

TEST(ProtectionStreams, CodeStringEncodesToTextAndDecodesFromIt) {
  AddingProtection p(1);
  EXPECT_EQ(p.CodeString("abc", paEncode, fmtMIME64), BytesToFormat("bcd", fmtMIME64));
  EXPECT_EQ(p.CodeString(BytesToFormat("bcd", fmtMIME64), paDecode, fmtMIME64), "abc");
  EXPECT_EQ(p.CodeString("", paEncode, fmtMIME64), "");
}

class ProtectionFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("vexdecutil-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Path(const char* name) const { return (dir / name).string(); }
  static void Write(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::path dir;
};

TEST_F(ProtectionFiles, CodesIntoANewDestinationOrInPlace) {
  Write(Path("src"), "abc");
  Write(Path("dst"), "an older and longer file");
  AddingProtection p(1);
  p.CodeFile(Path("src"), Path("dst"), paEncode);
  EXPECT_EQ(Read(Path("dst")), "bcd");
  EXPECT_EQ(Read(Path("src")), "abc");

  p.CodeFile(Path("src"), " ", paEncode);  // a blank destination: in place
  EXPECT_EQ(Read(Path("src")), "bcd");

  p.CodeFile(Path("src"), Path("none"), paCalc);  // reads only
  EXPECT_FALSE(std::filesystem::exists(Path("none")));
  EXPECT_EQ(Read(Path("src")), "bcd");
}

TEST_F(ProtectionFiles, CodesInPlaceWhenTheDestinationIsTheSourceSpelledAnotherWay) {
  Write(Path("data"), "xyz");
  AddingProtection p(1);
  p.CodeFile(Path("data"), (dir / "." / "data").string(), paEncode);
  EXPECT_EQ(Read(Path("data")), "yz{");
}

TEST(ByteHelpers, XorCompareAndRotate) {
  uint8_t a[3] = {1, 2, 3}, b[3] = {1, 7, 0}, d[3];
  XorBuffers(a, b, 3, d);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 5);
  EXPECT_EQ(d[2], 3);
  EXPECT_EQ(CompareBytes(a, b, 3), 2 - 7);
  EXPECT_EQ(CompareBytes(a, a, 3), 0);
  EXPECT_EQ(ROL(0x80000001u, 1), 0x00000003u);
  EXPECT_EQ(ROR(0x80000001u, 4), 0x18000000u);
  EXPECT_EQ(ROL(0x12345678u, 0), 0x12345678u);
  EXPECT_EQ(SwapInteger(0x11223344u), 0x44332211u);
}

}  // namespace
}  // namespace vex
