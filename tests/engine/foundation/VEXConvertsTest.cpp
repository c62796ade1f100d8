#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "../../platform/db/VectorDataSet.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"

namespace vex {
namespace {

using namespace db;

TEST(SQLFieldTypesTest, FirstMatchingRowDecides) {
  EXPECT_EQ(BaseFieldTypeToSQLName(bftDouble), "FLOAT");
  EXPECT_EQ(BaseFieldTypeToSQLName(bftVarchar), "STRING");
  EXPECT_EQ(BaseFieldTypeToSQLName(bftClob), "MEMO");
  EXPECT_EQ(BaseFieldTypeToSQLName(bftChar), "CHAR");
  EXPECT_EQ(BaseFieldTypeToSQLName(bftUnknown), "Unknown");
  EXPECT_EQ(BaseFieldTypeToSQLName(bftBFile), "Unknown");
  EXPECT_EQ(AdvancedFieldTypeToSQLName(aftAutoIncLargeint), "AUTOINCLARGEINT");
  EXPECT_EQ(AdvancedFieldTypeToSQLName(aftTimeStamp), "TIMESTAMP");
  EXPECT_EQ(AdvancedFieldTypeToSQLName(aftUnknown), "Unknown");

  EXPECT_EQ(FieldTypeToAdvancedFieldType(ftWideString), aftWideChar);
  EXPECT_EQ(FieldTypeToAdvancedFieldType(ftSmallint), aftSmallint);
  EXPECT_EQ(FieldTypeToAdvancedFieldType(ftAutoInc), aftAutoInc);
  EXPECT_EQ(FieldTypeToAdvancedFieldType(ftBCD), aftDouble);
  EXPECT_EQ(FieldTypeToAdvancedFieldType(ftOraClob), aftBlob);

  EXPECT_EQ(BaseToAdvancedFieldType(bftSignedInt32), aftInteger);
  EXPECT_EQ(BaseToAdvancedFieldType(bftDateTime), aftDateTime);
  EXPECT_EQ(BaseToAdvancedFieldType(bftChar), aftChar);
  EXPECT_EQ(BaseToAdvancedFieldType(bftBFile), aftUnknown);

  EXPECT_EQ(AdvancedToBaseFieldType(aftGuid), bftChar);
  EXPECT_EQ(AdvancedToBaseFieldType(aftTimeStamp), bftDateTime);
  EXPECT_EQ(AdvancedToBaseFieldType(aftUnknown), bftUnknown);
  EXPECT_EQ(AdvancedToFieldType(aftCardinal), ftLargeint);
  EXPECT_EQ(AdvancedToFieldType(aftAutoIncLargeint), ftLargeint);
  EXPECT_EQ(AdvancedToFieldType(aftByte), ftWord);
  EXPECT_EQ(AdvancedToFieldType(aftUnknown), ftUnknown);
}

TEST(SQLFieldTypesTest, EveryAdvancedTypeButUnknownHasARow) {
  for (int i = 1; i < kAdvancedFieldTypeCount; ++i) {
    const auto aft = static_cast<TVEXAdvancedFieldType>(i);
    const std::string name = AdvancedFieldTypeToSQLName(aft);
    ASSERT_NE(name, "Unknown") << i;
    EXPECT_NE(AdvancedToBaseFieldType(aft), bftUnknown) << name;
    EXPECT_NE(AdvancedToFieldType(aft), ftUnknown) << name;
  }
}

TEST(SQLFieldTypesTest, UnmappedPlatformFieldTypeIsAnEngineError) {
  try {
    FieldTypeToAdvancedFieldType(ftVariant);
    FAIL() << "no exception";
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 30289);
    EXPECT_EQ(e.Message(), "Unknown DataType: '" + std::to_string(static_cast<int>(ftVariant)) +
                               "' - Native error: 30289");
  }
}

TEST(FieldTypePredicatesTest, HoldForExactlyTheirTypes) {
  std::string numeric, strings, wide, dates, blobs;
  for (int i = 0; i < kBaseFieldTypeCount; ++i) {
    const auto t = static_cast<TVEXBaseFieldType>(i);
    const std::string tag = std::to_string(i) + " ";
    if (IsNumericBaseFieldType(t)) numeric += tag;
    if (IsStringBaseFieldType(t)) strings += tag;
    if (IsWideStringBaseFieldType(t)) wide += tag;
    if (IsDateTimeBaseFieldType(t)) dates += tag;
    if (IsBLOBBaseFieldType(t)) blobs += tag;
  }
  EXPECT_EQ(numeric, "5 6 7 8 9 10 11 12 13 14 22 ");
  EXPECT_EQ(strings, "1 2 3 4 ");
  EXPECT_EQ(wide, "2 4 ");
  EXPECT_EQ(dates, "15 16 17 ");
  EXPECT_EQ(blobs, "18 19 20 ");

  std::string aString, aWide, aBytes, aAutoInc, aBlob, aNumeric, aDate, aSized, aCastable;
  for (int i = 0; i < kAdvancedFieldTypeCount; ++i) {
    const auto t = static_cast<TVEXAdvancedFieldType>(i);
    const std::string tag = std::to_string(i) + " ";
    if (IsStringAdvancedFieldType(t)) aString += tag;
    if (IsWideStringAdvancedFieldType(t)) aWide += tag;
    if (IsBytesAdvancedFieldType(t)) aBytes += tag;
    if (IsAutoIncAdvancedFieldType(t)) aAutoInc += tag;
    if (IsBLOBAdvancedFieldType(t)) aBlob += tag;
    if (IsNumericAdvancedFieldType(t)) aNumeric += tag;
    if (IsDateTimeAdvancedFieldType(t)) aDate += tag;
    if (IsSizedAdvancedFieldType(t)) aSized += tag;
    if (IsCastableAdvancedFieldType(t)) aCastable += tag;
  }
  EXPECT_EQ(aString, "1 2 3 4 36 ");
  EXPECT_EQ(aWide, "3 4 ");
  EXPECT_EQ(aBytes, "29 30 ");
  EXPECT_EQ(aAutoInc, "12 13 14 15 16 17 18 19 ");
  EXPECT_EQ(aBlob, "31 32 33 34 35 ");
  // Integers, autoincrements, reals and currency; not Boolean.
  EXPECT_EQ(aNumeric, "5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 24 ");
  EXPECT_EQ(aDate, "25 26 27 28 ");
  EXPECT_EQ(aSized, "1 2 3 4 29 30 ");
  EXPECT_EQ(aCastable,
            "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 33 34 35 ");
}

TEST(MatchLikePatternTest, WideFormMatchesUtf16Text) {
  EXPECT_TRUE(
      MatchLikePatternWide(u"\u00C5sa \u00D6berg", u"\u00E5%\u00D6BERG", false, u'\\', true));
  EXPECT_FALSE(
      MatchLikePatternWide(u"\u00C5sa \u00D6berg", u"\u00E5%\u00D6BERG", false, u'\\', false));
  // Accents still count when case does not.
  EXPECT_FALSE(MatchLikePatternWide(u"\u00E9", u"E", false, u'\\', true));
  EXPECT_TRUE(MatchLikePatternWide(u"\u03A9\u03BC\u03AD\u03B3\u03B1", u"_\u039C%\u03B1", false,
                                   u'\\', true));
  EXPECT_TRUE(MatchLikePatternWide(u"50%", u"50!%", true, u'!', false));
  EXPECT_FALSE(MatchLikePatternWide(u"500", u"50!%", true, u'!', false));
  EXPECT_TRUE(MatchLikePatternWide(u"a", u"a%%", false, u'\\', false));
  EXPECT_TRUE(MatchLikePatternWide(u"", u"%%", false, u'\\', false));
  EXPECT_FALSE(MatchLikePatternWide(u"", u"_", false, u'\\', false));
}

// Platform date-times of a few days (days since 1899-12-30).
constexpr double k20160906 = 42619.0;

TEST(VEXDateTimeTest, ConvertsDatesAndTimesBothWays) {
  struct Case {
    double dateTime;
    int32_t date;
    int32_t time;
  };
  const Case cases[] = {
      {0.0, 693594, 0},                      // 1899-12-30 00:00
      {k20160906, 736213, 0},                // 2016-09-06
      {k20160906 + 0.5, 736213, 43200000},   // 12:00
      {k20160906 + 0.75, 736213, 64800000},  // 18:00
      {-693593.0, 1, 0},                     // 0001-01-01
      {-1.25, 693593, 21600000},             // 1899-12-29 06:00
      {-1.75, 693593, 64800000},             // 1899-12-29 18:00
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateTimeToVEXDate(c.dateTime), c.date) << c.dateTime;
    EXPECT_EQ(DateTimeToVEXTime(c.dateTime), c.time) << c.dateTime;
    const TVEXDateTime v = DateTimeToVEXDateTime(c.dateTime);
    EXPECT_EQ(v.Date, c.date) << c.dateTime;
    EXPECT_EQ(v.Time, c.time) << c.dateTime;
    EXPECT_DOUBLE_EQ(VEXDateTimeToDateTime(v), c.dateTime);
    EXPECT_DOUBLE_EQ(VEXDateToDateTime(c.date), std::trunc(c.dateTime));
  }
  EXPECT_DOUBLE_EQ(VEXTimeToDateTime(43200000), 0.5);
  EXPECT_DOUBLE_EQ(VEXTimeToDateTime(0), 0.0);
  EXPECT_EQ(DateTimeToVEXTime(k20160906 + 1.0 / 86400000), 1);
  EXPECT_EQ(DateTimeToVEXTime(k20160906 + 0.4 / 86400000), 0);
}

TEST(VEXDateTimeTest, StoredTimesOfOneDayOrderLikeTheirTimes) {
  // Before 1899-12-30 the platform's value is negative; the stored time must
  // still grow through the day so that records sort by time.
  EXPECT_LT(DateTimeToVEXTime(-1.25), DateTimeToVEXTime(-1.75));
}

TEST(VEXDateTimeTest, TimeRoundedUpToMidnightCarriesIntoTheNextDay) {
  const double almostMidnight = k20160906 + 0.9999999960;  // 23:59:59.99965..
  EXPECT_EQ(DateTimeToVEXTime(almostMidnight), 86400000);

  const TVEXDateTime v = DateTimeToVEXDateTime(almostMidnight);
  EXPECT_EQ(v.Date, 736214);
  EXPECT_EQ(v.Time, 0);
  EXPECT_DOUBLE_EQ(VEXDateTimeToDateTime(v), k20160906 + 1);

  // A stored whole-day time reads back as the next day too.
  EXPECT_DOUBLE_EQ(VEXDateTimeToDateTime({736213, 86400000}), k20160906 + 1);

  const TVEXDateTime before = DateTimeToVEXDateTime(-1.9999999960);  // 1899-12-29 23:59:59.9996
  EXPECT_EQ(before.Date, 693594);
  EXPECT_EQ(before.Time, 0);
}

TEST(VEXDateTimeTest, DayNumbersOutsideTheComputationRangeOverflow) {
  EXPECT_THROW(DateTimeToVEXDate(1e19), rtl::EIntOverflow);
  EXPECT_THROW(DateTimeToVEXDate(-1e19), rtl::EIntOverflow);
  EXPECT_THROW(DateTimeToVEXDate(std::nan("")), rtl::EIntOverflow);
  EXPECT_THROW(DateTimeToVEXTime(std::nan("")), rtl::EIntOverflow);
  // Beyond 32 bits the day number is cut to its low 32 bits.
  EXPECT_EQ(DateTimeToVEXDate(4294967296.0), 693594);
}

TEST(MatchLikePatternTest, WildcardsEscapeAndCase) {
  struct Case {
    const char* text;
    const char* pattern;
    bool useEscape;
    bool caseInsensitive;
    bool expected;
  };
  const Case cases[] = {
      {"abc", "a%", false, false, true},
      {"abc", "%c", false, false, true},
      {"abc", "_b_", false, false, true},
      {"abc", "a%c", false, false, true},
      {"abc", "%", false, false, true},
      {"abc", "%b%", false, false, true},
      {"abc", "ab", false, false, false},
      {"abc", "abcd", false, false, false},
      {"abc", "__", false, false, false},
      {"abc", "a%b", false, false, false},
      {"", "%", false, false, true},
      {"", "", false, false, true},
      {"", "_", false, false, false},
      // Runs of '%' match an exhausted text like a single one.
      {"", "%%", false, false, true},
      {"a", "a%%", false, false, true},
      {"ab", "%%b%%", false, false, true},
      {"a%", "a\\%", true, false, true},
      {"ab", "a\\%", true, false, false},
      {"a_", "a\\_", true, false, true},
      {"ab", "a\\_", true, false, false},
      {"a\\", "a\\\\", true, false, true},
      {"ab", "a\\", true, false, false},    // escape with nothing after it
      {"a%", "a\\%", false, false, false},  // without UseEscape '\' is literal
      {"ABC", "a%", false, true, true},
      {"ABC", "a%", false, false, false},
      {"abc", "_B_", false, true, true},
      {"\xC9t\xE9", "\xE9T\xC9", false, true, true},  // 1252 E-acute
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchLikePattern(c.text, c.pattern, c.useEscape, '\\', c.caseInsensitive), c.expected)
        << "'" << c.text << "' LIKE '" << c.pattern << "'";
  }
  // An escape character that is itself a wildcard stays a wildcard.
  EXPECT_TRUE(MatchLikePattern("abc", "a%", true, '%', false));
}

// The LIKE rules evaluated over every pair of suffixes of text and pattern:
// slow, but plainly the rules, so the matcher can be checked against it.
bool ReferenceLike(std::string_view t, std::string_view p, bool useEscape, char escape) {
  std::vector<std::vector<char>> ok(t.size() + 2, std::vector<char>(p.size() + 2, 0));
  for (size_t i = t.size() + 1; i-- > 0;) {
    for (size_t j = p.size() + 1; j-- > 0;) {
      const bool textLeft = i < t.size();
      bool r;
      if (j == p.size()) {
        r = !textLeft;
      } else if (p[j] == '%') {
        r = ok[i][j + 1] || (textLeft && ok[i + 1][j]);
      } else if (!textLeft) {
        r = false;
      } else if (p[j] == '_') {
        r = ok[i + 1][j + 1];
      } else if (useEscape && p[j] == escape) {
        r = j + 1 < p.size() && t[i] == p[j + 1] && ok[i + 1][j + 2];
      } else {
        r = t[i] == p[j] && ok[i + 1][j + 1];
      }
      ok[i][j] = r;
    }
  }
  return ok[0][0];
}

TEST(MatchLikePatternTest, AgreesWithTheRulesOnRandomPatterns) {
  std::mt19937 random(23);
  const char alphabet[] = "ab%_\\";
  auto draw = [&](size_t maxLength) {
    std::string s(random() % (maxLength + 1), ' ');
    for (char& c : s) c = alphabet[random() % 5];
    return s;
  };
  for (int round = 0; round < 20000; ++round) {
    const std::string text = draw(12);
    const std::string pattern = draw(8);
    const bool useEscape = round % 2 == 0;
    const char escape = "\\%a"[round % 3];
    ASSERT_EQ(MatchLikePattern(text, pattern, useEscape, escape, false),
              ReferenceLike(text, pattern, useEscape, escape))
        << "'" << text << "' LIKE '" << pattern << "' escape " << useEscape << " '" << escape << "'";
  }
}

// Patterns that make a matcher trying every split of the text take forever
// on long text; the answer must still come.
TEST(MatchLikePatternTest, PathologicalPatternsOnLongText) {
  const std::string as(100000, 'a');
  const std::string asThenB = as + "b";
  struct Case {
    const std::string* text;
    const char* pattern;
    bool expected;
  };
  const Case cases[] = {
      {&as, "%a%b", false},       {&as, "%a%a%b", false},    {&as, "%a%a%a%a%a%a%b", false},
      {&as, "%_%_%_%_%_b", false}, {&asThenB, "%a%a%b", true}, {&asThenB, "%a%a%a%a%b%", true},
      {&as, "%aaaaaaaaab", false}, {&as, "%a%a%", true},     {&asThenB, "%_%_b", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchLikePattern(*c.text, c.pattern, false, '\\', false), c.expected) << c.pattern;
    EXPECT_EQ(MatchLikePattern(*c.text, c.pattern, false, '\\', true), c.expected) << c.pattern;
  }
  const std::u16string wide(100000, u'a');
  EXPECT_FALSE(MatchLikePatternWide(wide, u"%a%a%a%b", false, u'\\', true));
  EXPECT_TRUE(MatchLikePatternWide(wide + u"b", u"%a%a%a%b", false, u'\\', true));
}

TEST(ParseSQLLiteralTest, AcceptsOnlyTheLiteralForms) {
  double dt = -1;
  for (const char* good : {"2016-09-06", "2016/09/06", "2016.09.06", "2016-09-06 "}) {
    dt = -1;
    EXPECT_TRUE(ParseSQLDate(std::string_view(good), dt)) << good;
    EXPECT_DOUBLE_EQ(dt, k20160906) << good;
  }
  for (const char* bad :
       {"2016-09-06  ", " 2016-09-06", "16-09-06", "2016-9-06", "2016-09-060", "2016-09", ""}) {
    dt = -1;
    EXPECT_FALSE(ParseSQLDate(std::string_view(bad), dt)) << bad;
    EXPECT_EQ(dt, -1) << bad;
  }

  const double expectedTime = (12 * 3600 + 30 * 60 + 45) / 86400.0;
  EXPECT_TRUE(ParseSQLTime(std::string_view("12:30:45"), dt));
  EXPECT_NEAR(dt, expectedTime, 1e-12);
  EXPECT_FALSE(ParseSQLTime(std::string_view("12:30"), dt));
  EXPECT_FALSE(ParseSQLTime(std::string_view("12:30:4"), dt));

  for (const char* good : {"2016-09-06 12:30:45", "2016-09-06T12:30:45"}) {
    EXPECT_TRUE(ParseSQLTimeStamp(std::string_view(good), dt)) << good;
    EXPECT_NEAR(dt, k20160906 + expectedTime, 1e-9) << good;
  }
  EXPECT_FALSE(ParseSQLTimeStamp(std::string_view("2016-09-06"), dt));
  EXPECT_FALSE(ParseSQLTimeStamp(std::string_view("2016-09-06 12:30"), dt));

  // The UTF-16 forms read the same way.
  EXPECT_TRUE(ParseSQLDate(std::u16string_view(u"2016-09-06"), dt));
  EXPECT_DOUBLE_EQ(dt, k20160906);
  EXPECT_TRUE(ParseSQLTimeStamp(std::u16string_view(u"2016-09-06T12:30:45"), dt));
  EXPECT_FALSE(ParseSQLTime(std::u16string_view(u"12:30"), dt));
}

TEST(ParseSQLLiteralTest, ImpossibleDatesAndTimesAreConversionErrors) {
  double dt = 0;
  EXPECT_THROW(ParseSQLDate(std::string_view("2016-13-01"), dt), rtl::EConvertError);
  EXPECT_THROW(ParseSQLDate(std::string_view("2015-02-29"), dt), rtl::EConvertError);
  EXPECT_THROW(ParseSQLTime(std::string_view("24:00:00"), dt), rtl::EConvertError);
  EXPECT_THROW(ParseSQLTimeStamp(std::string_view("2016-09-06 12:60:00"), dt), rtl::EConvertError);
}

// One record holding a field of each kind the copy treats on its own.
class CopyFieldValueTest : public ::testing::Test {
 protected:
  CopyFieldValueTest() {
    for (const char* name : {"BIN", "BIN2"}) ds.AddColumn(name, ftBlob);
    ds.AddColumn("GR", ftGraphic);
    ds.AddColumn("MEMO", ftMemo);
    ds.AddColumn("WM", ftWideMemo);
    ds.AddColumn("WS", ftWideString, 20);
    ds.AddColumn("S", ftString, 20);
    ds.AddColumn("I", ftInteger);
    for (const char* name : {"L", "L2"}) ds.AddColumn(name, ftLargeint);
    for (const char* name : {"VB", "VB2"}) ds.AddColumn(name, ftVarBytes, 10);
    ds.Open();
    ds.Append();
  }
  TField* F(const char* name) { return ds.FieldByName(name); }
  void Copy(const char* from, const char* to) { CopyFieldValue(F(from), F(to)); }

  dbtest::TVectorDataSet ds;
};

TEST_F(CopyFieldValueTest, BlobsGoThroughStreamsAndLoseOnlyAGraphicHeader) {
  const std::string header("\x01\x00\x00\x01\x03\x00\x00\x00", 8);  // 1, 0x0100, 3
  F("GR")->SetAsString(header + "xyz");
  Copy("GR", "BIN");
  EXPECT_EQ(F("BIN")->AsString(), "xyz");

  // A header whose length does not match the bytes behind it is data.
  F("GR")->SetAsString(header + "wxyz");
  Copy("GR", "BIN");
  EXPECT_EQ(F("BIN")->AsString(), header + "wxyz");

  F("MEMO")->SetAsString("caf\xE9");
  Copy("MEMO", "WM");
  EXPECT_EQ(F("WM")->AsWideString(), u"caf\u00E9");
}

TEST_F(CopyFieldValueTest, WideTextTravelsAsUtf16Bytes) {
  F("WS")->SetAsWideString(u"\u03A9k");
  Copy("WS", "BIN");
  EXPECT_EQ(F("BIN")->AsString(), std::string("\xA9\x03k\x00", 4));
  Copy("BIN", "WS");
  EXPECT_EQ(F("WS")->AsWideString(), u"\u03A9k");

  F("WM")->SetAsWideString(u"\u03A9mega");
  Copy("WM", "WS");
  EXPECT_EQ(F("WS")->AsWideString(), u"\u03A9mega");
}

TEST_F(CopyFieldValueTest, IntegersBytesAndNulls) {
  F("L")->SetAsLargeInt(int64_t{1} << 40);
  Copy("L", "L2");
  EXPECT_EQ(F("L2")->AsLargeInt(), int64_t{1} << 40);
  F("I")->SetAsInteger(-7);
  Copy("I", "L2");
  EXPECT_EQ(F("L2")->AsLargeInt(), -7);
  F("S")->SetAsString("12");
  Copy("S", "I");
  EXPECT_EQ(F("I")->AsInteger(), 12);

  F("VB")->SetAsString(std::string("a\0b", 3));
  Copy("VB", "VB2");
  EXPECT_EQ(F("VB2")->AsString(), std::string("a\0b", 3));

  // A null source never turns into an empty text or a zero.
  for (const char* name : {"L", "I", "WM", "VB"}) F(name)->Clear();
  F("WS")->SetAsWideString(u"x");
  F("VB2")->SetAsString("x");
  const struct {
    const char* from;
    const char* to;
  } nulls[] = {{"L", "L2"}, {"I", "L2"}, {"WM", "WS"}, {"VB", "VB2"}, {"BIN2", "WS"}};
  for (const auto& c : nulls) {
    F(c.to)->SetAsString("1");
    Copy(c.from, c.to);
    EXPECT_TRUE(F(c.to)->IsNull()) << c.from << " -> " << c.to;
  }
}

}  // namespace
}  // namespace vex
