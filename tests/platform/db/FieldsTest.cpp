// Fields over the vector dataset: typed access and native forms, null reads,
// validation, calculated and lookup fields, persistent fields, BLOB fields.
#include <gtest/gtest.h>

#include <cstring>

#include "VectorDataSet.h"
#include "rtl/DateTime.h"

using namespace db;
using dbtest::TVectorDataSet;

namespace {

class FieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.AddColumn("S", ftString, 5);
    ds.AddColumn("W", ftWideString, 4);
    ds.AddColumn("I", ftInteger);
    ds.AddColumn("SI", ftSmallint);
    ds.AddColumn("WD", ftWord);
    ds.AddColumn("L", ftLargeint);
    ds.AddColumn("F", ftFloat);
    ds.AddColumn("C", ftCurrency);
    ds.AddColumn("B", ftBoolean);
    ds.AddColumn("D", ftDate);
    ds.AddColumn("T", ftTime);
    ds.AddColumn("DT", ftDateTime);
    ds.AddColumn("TS", ftTimeStamp);
    ds.AddColumn("G", ftGuid, 38);
    ds.AddColumn("M", ftMemo);
    ds.AddColumn("WM", ftWideMemo);
    ds.AddColumn("BY", ftBytes, 4);
    ds.AddColumn("VB", ftVarBytes, 4);
    ds.Open();
    ds.Append();
  }
  TField* F(const char* name) { return ds.FieldByName(name); }

  TVectorDataSet ds;
};

TEST_F(FieldsTest, DefaultFieldsFollowTheDefinitions) {
  struct Expect {
    const char* name;
    TFieldType type;
    int32_t dataSize;
    int32_t fieldNo;
  };
  const Expect cases[] = {
      {"S", ftString, 6, 1},       {"W", ftWideString, 10, 2}, {"I", ftInteger, 4, 3},
      {"SI", ftSmallint, 2, 4},    {"WD", ftWord, 2, 5},       {"L", ftLargeint, 8, 6},
      {"F", ftFloat, 8, 7},        {"C", ftCurrency, 8, 8},    {"B", ftBoolean, 2, 9},
      {"D", ftDate, 4, 10},        {"T", ftTime, 4, 11},       {"DT", ftDateTime, 8, 12},
      {"TS", ftTimeStamp, 16, 13}, {"G", ftGuid, 39, 14},      {"M", ftMemo, 0, 15},
      {"WM", ftWideMemo, 0, 16},   {"BY", ftBytes, 5, 17},     {"VB", ftVarBytes, 5, 18}};
  ASSERT_EQ(ds.FieldCount(), 18);
  for (const Expect& e : cases) {
    SCOPED_TRACE(e.name);
    TField* f = F(e.name);
    EXPECT_EQ(f->DataType(), e.type);
    EXPECT_EQ(f->DataSize(), e.dataSize);
    EXPECT_EQ(f->FieldNo(), e.fieldNo);
    EXPECT_EQ(f->Index(), e.fieldNo - 1);
    EXPECT_EQ(f->IsBlob(), e.type == ftMemo || e.type == ftWideMemo);
  }
  EXPECT_EQ(F("i"), F("I"));  // names ignore case
}

TEST_F(FieldsTest, NullFieldsReadAsEmptyZeroFalseAndNull) {
  for (int i = 0; i < ds.FieldCount(); ++i) {
    TField* f = ds.Fields()[i];
    SCOPED_TRACE(f->FieldName());
    EXPECT_TRUE(f->IsNull());
    EXPECT_TRUE(f->AsVariant().IsNull());
    EXPECT_EQ(f->AsString(), "");
  }
  EXPECT_EQ(F("I")->AsInteger(), 0);
  EXPECT_EQ(F("F")->AsFloat(), 0.0);
  EXPECT_FALSE(F("B")->AsBoolean());
  EXPECT_EQ(F("DT")->AsDateTime(), 0.0);
  EXPECT_EQ(F("C")->AsCurrency(), rtl::Currency{});
}

TEST_F(FieldsTest, TypedValuesSurviveAPostAndReadBack) {
  const double day = rtl::EncodeDate(2016, 9, 6);
  const double stamp = day + rtl::EncodeTime(14, 5, 7, 250);
  F("S")->SetAsString("abcdefgh");  // cut to the size
  F("W")->SetAsWideString(u"\u00e9t\u00e9s");
  F("I")->SetAsInteger(-42);
  F("SI")->SetAsInteger(-300);
  F("WD")->SetAsInteger(65535);
  F("L")->SetAsLargeInt(int64_t{1} << 40);
  F("F")->SetAsFloat(2.5);
  F("C")->SetAsCurrency(rtl::Currency::FromRaw(123456));
  F("B")->SetAsBoolean(true);
  F("D")->SetAsDateTime(stamp);
  F("T")->SetAsDateTime(stamp);
  F("DT")->SetAsDateTime(stamp);
  F("TS")->SetAsDateTime(stamp);
  F("G")->SetAsString("{00000000-0000-0000-0000-000000000001}");
  F("BY")->SetAsString(std::string("w\0yz", 4));
  // The length travels in the field's slot, so a value keeps at most Size - 1
  // bytes; a longer one is cut, never stored with a length its bytes lack.
  F("VB")->SetAsString("abcd");
  ds.Post();

  EXPECT_EQ(F("S")->AsString(), "abcde");
  EXPECT_EQ(F("W")->AsWideString(), u"\u00e9t\u00e9s");
  EXPECT_EQ(F("W")->AsString(), "\xe9t\xe9s");  // the 8-bit form is Windows-1252
  EXPECT_EQ(F("I")->AsInteger(), -42);
  EXPECT_EQ(F("I")->AsString(), "-42");
  EXPECT_EQ(F("SI")->AsInteger(), -300);
  EXPECT_EQ(F("WD")->AsInteger(), 65535);
  EXPECT_EQ(F("L")->AsLargeInt(), int64_t{1} << 40);
  EXPECT_EQ(F("F")->AsFloat(), 2.5);
  EXPECT_EQ(F("C")->AsCurrency(), rtl::Currency::FromRaw(123456));
  EXPECT_TRUE(F("B")->AsBoolean());
  EXPECT_EQ(F("B")->AsString(), "True");
  EXPECT_EQ(F("D")->AsDateTime(), day);
  const double ms = 1.0 / 86400000;  // stored to the millisecond
  EXPECT_NEAR(F("T")->AsDateTime(), stamp - day, ms / 2);
  EXPECT_NEAR(F("DT")->AsDateTime(), stamp, ms / 2);
  EXPECT_NEAR(F("TS")->AsDateTime(), stamp, ms / 2);
  EXPECT_EQ(F("G")->AsString(), "{00000000-0000-0000-0000-000000000001}");
  EXPECT_EQ(F("BY")->AsString(), std::string("w\0yz", 4));
  EXPECT_EQ(F("VB")->AsString(), "abc");
  ds.Edit();
  F("VB")->SetAsString(std::string("\0b", 2));
  ds.Post();
  EXPECT_EQ(F("VB")->AsString(), std::string("\0b", 2));
  EXPECT_EQ(F("I")->AsVariant().AsInteger(), -42);
  EXPECT_EQ(F("S")->AsVariant().AsString(), "abcde");
}

// The native forms of date and time fields are what a dataset stores: a day
// number counted from 0001-01-01, milliseconds since midnight, and
// milliseconds since the day before 0001-01-01 as a double.
TEST_F(FieldsTest, DateAndTimeNativeForms) {
  F("D")->SetAsDateTime(rtl::EncodeDate(2000, 1, 1));
  F("T")->SetAsDateTime(rtl::EncodeTime(12, 0, 0, 0));
  F("DT")->SetAsDateTime(rtl::EncodeDate(1899, 12, 30) + 0.5);
  int32_t day = 0, ms = 0;
  double dtms = 0;
  ASSERT_TRUE(F("D")->GetData(&day));
  ASSERT_TRUE(F("T")->GetData(&ms));
  ASSERT_TRUE(F("DT")->GetData(&dtms));
  EXPECT_EQ(day, 730120);
  EXPECT_EQ(ms, 43200000);
  EXPECT_EQ(dtms, (693594 + 0.5) * 86400000.0);
}

TEST_F(FieldsTest, ConversionsBetweenKindsAndTheirErrors) {
  F("S")->SetAsInteger(17);
  EXPECT_EQ(F("S")->AsInteger(), 17);
  F("I")->SetAsString("99");
  EXPECT_EQ(F("I")->AsInteger(), 99);
  F("I")->SetAsString("");
  EXPECT_TRUE(F("I")->IsNull());
  F("F")->SetAsInteger(3);
  EXPECT_EQ(F("F")->AsInteger(), 3);
  F("B")->SetAsString("false");
  EXPECT_FALSE(F("B")->AsBoolean());
  EXPECT_FALSE(F("B")->IsNull());
  EXPECT_THROW(F("B")->SetAsString("maybe"), EDatabaseError);
  EXPECT_THROW(F("SI")->SetAsInteger(40000), EDatabaseError);  // out of the 16-bit range
  EXPECT_THROW(F("WD")->SetAsInteger(-1), EDatabaseError);
  EXPECT_THROW(F("I")->SetAsLargeInt(int64_t{1} << 33), EDatabaseError);
  try {
    F("I")->SetAsBoolean(true);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot access field 'I' as type Boolean");
  }
  F("I")->SetAsVariant(rtl::Variant(int32_t{5}));
  EXPECT_EQ(F("I")->AsInteger(), 5);
  F("I")->SetAsVariant(rtl::Variant::Null());
  EXPECT_TRUE(F("I")->IsNull());
  F("S")->SetAsString("x");
  F("S")->Clear();
  EXPECT_TRUE(F("S")->IsNull());
}

TEST_F(FieldsTest, FieldValuesWithSeveralNamesGiveAVariantArray) {
  F("I")->SetAsInteger(7);
  F("S")->SetAsString("seven");
  rtl::Variant v = ds.FieldValues("I;S");
  ASSERT_TRUE(v.IsArray());
  EXPECT_EQ(v.ArrayLowBound(), 0);
  EXPECT_EQ(v.ArrayHighBound(), 1);
  EXPECT_EQ(v.Element(0).AsInteger(), 7);
  EXPECT_EQ(v.Element(1).AsString(), "seven");
  EXPECT_EQ(ds.FieldValues("S").AsString(), "seven");

  rtl::Variant both = rtl::Variant::Array(0, 1);
  both.SetElement(0, rtl::Variant(int32_t{8}));
  both.SetElement(1, rtl::Variant(std::string("eight")));
  ds.SetFieldValues("I; S", both);
  EXPECT_EQ(F("I")->AsInteger(), 8);
  EXPECT_EQ(F("S")->AsString(), "eight");
  EXPECT_THROW(ds.FieldValues("I;NOPE"), EDatabaseError);
}

TEST_F(FieldsTest, ValidateSeesTheNewValueAndCanRefuseIt) {
  std::string seen;
  F("S")->OnValidate = [&](TField& f) {
    seen = f.AsString();
    if (seen == "bad") throw EDatabaseError("refused");
  };
  F("S")->SetAsString("ok");
  EXPECT_EQ(seen, "ok");
  EXPECT_THROW(F("S")->SetAsString("bad"), EDatabaseError);
  EXPECT_EQ(F("S")->AsString(), "ok");
}

TEST_F(FieldsTest, BlobFieldsWriteThroughStreamsAndCancelDropsTheChange) {
  F("M")->SetAsString("memo text");
  F("WM")->SetAsWideString(u"wide \u20ac");
  EXPECT_TRUE(static_cast<TBlobField*>(F("M"))->Modified());
  EXPECT_TRUE(ds.ClosedBlobs.empty());
  ds.Post();
  // The post closes each written BLOB field once and forgets it was written.
  EXPECT_EQ(ds.ClosedBlobs, (std::vector<std::string>{"M", "WM"}));
  EXPECT_FALSE(static_cast<TBlobField*>(F("M"))->Modified());
  EXPECT_EQ(F("M")->AsString(), "memo text");
  EXPECT_EQ(F("WM")->AsWideString(), u"wide \u20ac");
  EXPECT_EQ(static_cast<TBlobField*>(F("M"))->BlobSize(), 9);

  ds.Edit();
  F("M")->SetAsString("other");
  EXPECT_EQ(F("M")->AsString(), "other");
  ds.Cancel();
  EXPECT_EQ(ds.ClosedBlobs, (std::vector<std::string>{"M", "WM", "M"}));
  EXPECT_FALSE(static_cast<TBlobField*>(F("M"))->Modified());
  EXPECT_EQ(F("M")->AsString(), "memo text");
  EXPECT_THROW(ds.CreateBlobStream(F("M"), bmWrite), EDatabaseError);  // browsing
}

class PersistentFieldsTest : public ::testing::Test {
 protected:
  PersistentFieldsTest() : owner(nullptr), ds(&owner) {
    ds.AddColumn("ID", ftInteger);
    ds.AddColumn("PRICE", ftFloat);
    ds.AddColumn("QTY", ftInteger);
  }
  void Add(int id, double price, int qty) {
    ds.Append();
    ds.FieldByName("ID")->SetAsInteger(id);
    ds.FieldByName("PRICE")->SetAsFloat(price);
    ds.FieldByName("QTY")->SetAsInteger(qty);
    ds.Post();
  }
  template <class F>
  F* Make(const char* name, TFieldKind kind = fkData) {
    auto* f = new F(&owner);
    f->SetFieldName(name);
    f->SetFieldKind(kind);
    f->SetDataSet(&ds);
    return f;
  }

  rtl::TComponent owner;
  TVectorDataSet ds;
};

TEST_F(PersistentFieldsTest, CalculatedFieldsAreComputedPerRecordAndOnChange) {
  Make<TIntegerField>("ID");
  Make<TFloatField>("PRICE");
  Make<TIntegerField>("QTY");
  TFloatField* total = Make<TFloatField>("TOTAL", fkCalculated);
  auto* label = Make<TStringField>("LABEL", fkCalculated);
  label->SetSize(12);
  int runs = 0;
  ds.OnCalcFields = [&](TDataSet& d) {
    ++runs;
    EXPECT_EQ(d.State(), dsCalcFields);
    d.FieldByName("TOTAL")->SetAsFloat(d.FieldByName("PRICE")->AsFloat() *
                                       d.FieldByName("QTY")->AsInteger());
    if (d.FieldByName("QTY")->AsInteger() > 2) d.FieldByName("LABEL")->SetAsString("bulk");
  };
  ds.Open();
  EXPECT_FALSE(ds.DefaultFields());
  EXPECT_EQ(total->FieldNo(), -1);
  EXPECT_EQ(total->Offset(), 0);
  EXPECT_EQ(label->Offset(), 9);  // after TOTAL's flag byte and 8 bytes
  EXPECT_EQ(ds.CalcFieldsSize(), 9 + 14);
  Add(1, 2.5, 4);
  Add(2, 10, 1);
  ds.First();
  EXPECT_EQ(total->AsFloat(), 10.0);
  EXPECT_EQ(label->AsString(), "bulk");
  ds.Next();
  EXPECT_EQ(total->AsFloat(), 10.0);
  EXPECT_TRUE(label->IsNull());  // cleared for each record before the event
  ds.Edit();
  int before = runs;
  ds.FieldByName("QTY")->SetAsInteger(3);
  EXPECT_GT(runs, before);  // a data change recomputes
  EXPECT_EQ(total->AsFloat(), 30.0);
  EXPECT_FALSE(total->IsNull());
  ds.Cancel();
  EXPECT_EQ(total->AsFloat(), 10.0);
}

TEST_F(PersistentFieldsTest, LookupFieldsFetchFromTheirDataset) {
  TVectorDataSet names;
  names.AddColumn("CODE", ftInteger);
  names.AddColumn("TEXT", ftString, 10);
  names.Open();
  for (int i = 1; i <= 3; ++i) {
    names.Append();
    names.FieldByName("CODE")->SetAsInteger(i);
    names.FieldByName("TEXT")->SetAsString("t" + std::to_string(i));
    names.Post();
  }
  names.First();
  names.Next();

  Make<TIntegerField>("ID");
  Make<TFloatField>("PRICE");
  Make<TIntegerField>("QTY");
  auto* look = Make<TStringField>("QTYTEXT", fkLookup);
  look->SetSize(10);
  look->SetLookupDataSet(&names);
  look->SetKeyFields("QTY");
  look->SetLookupKeyFields("CODE");
  look->SetLookupResultField("TEXT");
  ds.Open();
  Add(1, 1, 3);
  Add(2, 1, 9);
  ds.First();
  EXPECT_EQ(look->AsString(), "t3");
  ds.Next();
  EXPECT_TRUE(look->IsNull());
  EXPECT_EQ(names.FieldByName("CODE")->AsInteger(), 2);  // the lookup dataset did not move
}

TEST_F(PersistentFieldsTest, AFieldOfTheWrongTypeOrSizeStopsTheOpen) {
  Make<TStringField>("ID");
  EXPECT_THROW(ds.Open(), EDatabaseError);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.Allocated(), 0);
  ds.FieldByName("ID")->SetDataSet(nullptr);
  EXPECT_EQ(ds.FieldCount(), 0);
  Make<TIntegerField>("NOPE");
  try {
    ds.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'NOPE' not found");
  }
}

TEST_F(PersistentFieldsTest, FieldsOwnedElsewhereOutliveTheDataset) {
  rtl::TComponent other(nullptr);
  TIntegerField* id;
  {
    TVectorDataSet temp;
    temp.AddColumn("ID", ftInteger);
    id = new TIntegerField(&other);
    id->SetFieldName("ID");
    id->SetDataSet(&temp);
    temp.Open();
    EXPECT_EQ(temp.FieldCount(), 1);
  }
  EXPECT_EQ(id->DataSet(), nullptr);
  EXPECT_THROW(id->AsInteger(), EDatabaseError);
}

}  // namespace
