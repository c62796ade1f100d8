#include <gtest/gtest.h>

#include "rtl/FormatSettings.h"
#include "rtl/Variant.h"

namespace {

TEST(RtlVariant, TypeCodesOfEachKind) {
  struct Case {
    rtl::Variant value;
    uint16_t code;
    const char* name;
  } cases[] = {
      {rtl::Variant(), 0, "Empty"},
      {rtl::Variant::Null(), 1, "Null"},
      {rtl::Variant(int16_t{1}), 2, "Smallint"},
      {rtl::Variant(1), 3, "Integer"},
      {rtl::Variant(1.5f), 4, "Single"},
      {rtl::Variant(1.5), 5, "Double"},
      {rtl::Variant(rtl::Currency::FromRaw(1)), 6, "Currency"},
      {rtl::Variant::FromDate(1), 7, "Date"},
      {rtl::Variant::OleStr(u"x"), 8, "OleStr"},
      {rtl::Variant(true), 11, "Boolean"},
      {rtl::Variant(int8_t{1}), 16, "ShortInt"},
      {rtl::Variant(uint8_t{1}), 17, "Byte"},
      {rtl::Variant(uint16_t{1}), 18, "Word"},
      {rtl::Variant(1u), 19, "LongWord"},
      {rtl::Variant(int64_t{1}), 20, "Int64"},
      {rtl::Variant("x"), 256, "String"},
      {rtl::Variant(u"x"), 258, "UnicodeString"},
      {rtl::Variant::Array(0, 1, rtl::varByte), 0x2011, "Array Byte"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value.VarType(), c.code) << c.name;
    EXPECT_EQ(rtl::VarTypeAsText(c.value.VarType()), c.name);
  }
}

TEST(RtlVariant, ConversionsTheEngineReliesOn) {
  rtl::ScopedFormatSettings dot(rtl::TFormatSettings::Invariant());
  EXPECT_EQ(rtl::Variant("12.7").AsInteger(), 13);
  EXPECT_EQ(rtl::Variant(2.5).AsInteger(), 2);  // halves to even
  EXPECT_EQ(rtl::Variant(3.5).AsInt64(), 4);
  EXPECT_EQ(rtl::Variant(true).AsInteger(), -1);
  EXPECT_EQ(rtl::Variant(true).AsString(), "True");
  EXPECT_TRUE(rtl::Variant("TRUE").AsBoolean());
  EXPECT_FALSE(rtl::Variant("0").AsBoolean());
  EXPECT_EQ(rtl::Variant(u"caf\u00e9").AsString(), "caf\xE9");
  EXPECT_EQ(rtl::Variant("caf\xE9").AsWideString(), u"caf\u00e9");
  EXPECT_EQ(rtl::Variant(rtl::Currency::FromRaw(125000)).AsString(), "12.5");
  EXPECT_EQ(rtl::Variant(rtl::Currency::FromRaw(125000)).AsDouble(), 12.5);
  EXPECT_EQ(rtl::Variant(12.345678).AsCurrency().Raw, 123457);
  EXPECT_EQ(rtl::Variant::FromDate(rtl::EncodeDate(2016, 9, 6) + 0.5).AsString(),
            "9/6/2016 12:00:00 PM");
  EXPECT_EQ(rtl::Variant("9/6/2016").AsDateTime(), rtl::EncodeDate(2016, 9, 6));
  EXPECT_EQ(rtl::Variant().AsInteger(), 0);
  EXPECT_EQ(rtl::Variant().AsString(), "");
  EXPECT_EQ(rtl::Variant(uint64_t{18446744073709551615u}).AsString(), "18446744073709551615");
  EXPECT_EQ(rtl::Variant(300).ChangeType(rtl::varSmallint).VarType(), rtl::varSmallint);
  EXPECT_EQ(rtl::VarToStr(rtl::Variant::Null()), "");

  EXPECT_THROW(rtl::Variant::Null().AsInteger(), rtl::EVariantTypeCastError);
  EXPECT_THROW(rtl::Variant::Null().AsString(), rtl::EVariantTypeCastError);
  EXPECT_THROW(rtl::Variant("abc").AsDouble(), rtl::EVariantTypeCastError);
  EXPECT_THROW(rtl::Variant("").AsInteger(), rtl::EVariantTypeCastError);
  EXPECT_THROW(rtl::Variant(int64_t{1} << 40).AsInteger(), rtl::EVariantOverflowError);
  EXPECT_THROW(rtl::Variant(300).ChangeType(rtl::varByte), rtl::EVariantOverflowError);
  EXPECT_THROW(rtl::Variant(-1).ChangeType(rtl::varUInt64), rtl::EVariantOverflowError);
  try {
    rtl::Variant::Null().AsInteger();
  } catch (const rtl::EVariantTypeCastError& e) {
    EXPECT_EQ(e.Message(), "Could not convert variant of type (Null) into type (Integer)");
  }
  try {
    rtl::Variant(300).ChangeType(rtl::varByte);
  } catch (const rtl::EVariantOverflowError& e) {
    EXPECT_EQ(e.Message(), "Overflow while converting variant of type (Integer) into type (Byte)");
  }
}

TEST(RtlVariant, ArraysHaveBoundsAndTypedElements) {
  rtl::Variant bytes = rtl::Variant::Array(1, 3, rtl::varByte);
  EXPECT_EQ(bytes.ArrayLowBound(), 1);
  EXPECT_EQ(bytes.ArrayHighBound(), 3);
  EXPECT_EQ(bytes.Element(2).VarType(), rtl::varByte);
  bytes.SetElement(2, 200);
  EXPECT_EQ(bytes.Element(2).VarType(), rtl::varByte);
  EXPECT_EQ(bytes.Element(2).AsInteger(), 200);
  EXPECT_THROW(bytes.SetElement(3, 256), rtl::EVariantOverflowError);
  EXPECT_THROW(bytes.Element(0), rtl::EVariantError);
  EXPECT_THROW(rtl::Variant(1).ArrayLowBound(), rtl::EVariantError);
  EXPECT_THROW(bytes.AsInteger(), rtl::EVariantTypeCastError);
  rtl::Variant keys = rtl::Variant::ArrayOf({"Smith", 42, rtl::Variant::Null()});
  EXPECT_EQ(keys.ArrayHighBound(), 2);
  EXPECT_TRUE(keys.Element(2).IsNull());
}

TEST(RtlVariant, Comparison) {
  using rtl::Variant;
  struct Case {
    Variant a, b;
    rtl::TVariantRelationship expected;
  } cases[] = {
      {Variant(5), Variant(5.0), rtl::vrEqual},
      {Variant(int64_t{INT64_MAX}), Variant(uint64_t{UINT64_MAX}), rtl::vrLessThan},
      {Variant("5"), Variant(5), rtl::vrEqual},  // text against a number: the text converts
      {Variant("abc"), Variant(u"abd"), rtl::vrLessThan},
      {Variant("abc"), Variant("ABC"), rtl::vrGreaterThan},  // case counts
      {Variant(rtl::Currency::FromRaw(15000)), Variant(1.5), rtl::vrEqual},
      {Variant::Null(), Variant::Null(), rtl::vrEqual},
      {Variant::Null(), Variant(0), rtl::vrNotEqual},
      {Variant(), Variant(""), rtl::vrEqual},
      {Variant(true), Variant(-1), rtl::vrEqual},
      {Variant::ArrayOf({1, "a"}), Variant::ArrayOf({1, "a"}), rtl::vrEqual},
      {Variant::ArrayOf({1, "a"}), Variant::ArrayOf({1, "b"}), rtl::vrNotEqual},
  };
  int row = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(rtl::VarCompareValue(c.a, c.b), c.expected) << "row " << row;
    ++row;
  }
  EXPECT_THROW(rtl::VarCompareValue(Variant("x"), Variant(1)), rtl::EVariantTypeCastError);
}

}  // namespace
