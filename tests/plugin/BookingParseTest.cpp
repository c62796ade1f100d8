// Reading one booking item into the import's working records: the elements'
// order and nesting, both date forms, the nightly rate, and the texts that
// must stop an import.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OtaDataModule.h"
#include "ValmoraMessages.h"
#include "net/XmlDocument.h"
#include "rtl/DateTime.h"
#include "rtl/Exception.h"
#include "rtl/FormatSettings.h"

namespace {

using rtl::EncodeDate;

class BookingParse : public ::testing::Test {
 protected:
  void SetUp() override {
    valmora::ResetModuleState();
    valmora::ClearGuestRecords();
  }

  // Parses the children of the first `item` of `xml`.
  void Parse(const std::string& xml) {
    ASSERT_TRUE(FDoc.LoadXML(xml)) << FDoc.ParseError();
    std::vector<net::XmlNode> items = FDoc.GetElementsByTagName("item");
    ASSERT_FALSE(items.empty());
    valmora::ParseBookingNode(items[0].ChildNodes());
  }

  valmora::TGuestNameRec& Guest() { return valmora::ModuleState().GuestNameRec; }
  valmora::TGuestDataRec& Data() { return valmora::ModuleState().GuestDataRec; }

 private:
  net::XmlDocument FDoc;
};

TEST_F(BookingParse, FillsEveryFieldOfAFullItemAndNothingElse) {
  Parse(
      "<valmora><bookings><item>"
      "<id> VM-1 </id><created>1473120000</created><status>new</status><modified>0</modified>"
      "<room_id>DBL</room_id><rooms_count>2</rooms_count><start_date>2016-09-06</start_date>"
      "<end_date>2016-09-09</end_date><price_total>300.50</price_total>"
      "<channel_name>Direct</channel_name><adults>3</adults><children>1</children>"
      "<comments>Cot &amp; quiet</comments><first_name>Ada</first_name>"
      "<last_name>Lindqvist</last_name><email>ada@example.org</email><phone>+1 555</phone>"
      "<address>\n  1 Harbour Road\t</address><unknown>x</unknown>"
      "</item></bookings></valmora>");
  valmora::TGuestNameRec guest;
  guest.GivenName = "Ada";
  guest.FamilyName = "Lindqvist";
  guest.Address1 = "1 Harbour Road";
  guest.PhoneNumber = "+1 555";
  guest.Email = "ada@example.org";
  EXPECT_EQ(Guest(), guest);

  const valmora::TGuestDataRec& d = Data();
  EXPECT_EQ(d.TravelBookingNo, "VM-1");
  EXPECT_EQ(d.BookingDate, EncodeDate(2016, 9, 6));  // 1473120000 s, kept in UTC
  EXPECT_EQ(d.Status, "new");
  EXPECT_EQ(d.Modified, 0);
  EXPECT_EQ(d.RoomTypeCode, "DBL");
  EXPECT_EQ(d.NoRooms, 2);
  EXPECT_EQ(d.ArrivalDate, EncodeDate(2016, 9, 6));
  EXPECT_EQ(d.DepartureDate, EncodeDate(2016, 9, 9));
  EXPECT_EQ(d.RoomRateQuoted.Raw, 1001667);  // 300.50 / 3 = 100.16666.. -> 100.1667
  EXPECT_EQ(d.TravelAgent, "Direct");
  EXPECT_EQ(d.NoAdults, 3);
  EXPECT_EQ(d.NoChildren, 1);
  EXPECT_EQ(d.Notes, "Cot & quiet");
  // What no element fills keeps its reset value.
  EXPECT_EQ(d.TravelTypeID, "");
  EXPECT_EQ(d.ResID_Type, "");
  EXPECT_EQ(d.GuestID, "");
  EXPECT_EQ(d.NoOfRooms, 0);
}

TEST_F(BookingParse, TheNightlyRateNeedsBothDatesBeforeThePriceAmongTheSameSiblings) {
  struct Case {
    const char* name;
    const char* item;
    int64_t rateRaw;
  };
  const Case cases[] = {
      {"after the dates",
       "<start_date>2016-09-06</start_date><end_date>2016-09-09</end_date>"
       "<price_total>300</price_total>",
       1000000},
      {"before the dates",
       "<price_total>300</price_total><start_date>2016-09-06</start_date>"
       "<end_date>2016-09-09</end_date>",
       0},
      {"dates nested one level down",
       "<stay><start_date>2016-09-06</start_date><end_date>2016-09-09</end_date></stay>"
       "<price_total>300</price_total>",
       0},
      {"same day",
       "<start_date>2016-09-06</start_date><end_date>2016-09-06</end_date>"
       "<price_total>300</price_total>",
       0},
      {"departure first",
       "<start_date>2016-09-09</start_date><end_date>2016-09-06</end_date>"
       "<price_total>300</price_total>",
       0},
      // Halves go to the even ten-thousandth: 0.0003 / 2 = 0.00015 -> 0.0002,
      // 0.0001 / 2 = 0.00005 -> 0.
      {"half up to even",
       "<start_date>2016-09-06</start_date><end_date>2016-09-08</end_date>"
       "<price_total>0.0003</price_total>",
       2},
      {"half down to even",
       "<start_date>2016-09-06</start_date><end_date>2016-09-08</end_date>"
       "<price_total>0.0001</price_total>",
       0},
      // Calendar days count, whatever the times of day: 14:00 to 10:00 next day is one night.
      {"times of day",
       "<start_date>1473170400</start_date><end_date>1473242400</end_date>"
       "<price_total>99.5</price_total>",
       995000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    valmora::ClearGuestRecords();
    Parse(std::string("<item>") + c.item + "</item>");
    EXPECT_EQ(Data().RoomRateQuoted.Raw, c.rateRaw);
  }
}

TEST_F(BookingParse, AStartDateWithoutAnEndDateAmongItsSiblingsLeavesTheZeroDeparture) {
  Parse("<item><start_date>2016-09-06</start_date></item>");
  EXPECT_EQ(Data().ArrivalDate, EncodeDate(2016, 9, 6));
  EXPECT_EQ(Data().DepartureDate, 0.0);

  // An end_date earlier in the document but in another list of siblings does not count.
  valmora::ClearGuestRecords();
  Parse(
      "<item><end_date>2016-09-09</end_date><stay><start_date>2016-09-06</start_date></stay>"
      "</item>");
  EXPECT_EQ(Data().DepartureDate, 0.0);

  // One that follows sets it again.
  valmora::ClearGuestRecords();
  Parse("<item><start_date>2016-09-06</start_date><end_date>2016-09-09</end_date></item>");
  EXPECT_EQ(Data().DepartureDate, EncodeDate(2016, 9, 9));
}

TEST_F(BookingParse, VisitsAnElementsChildrenBeforeTheElementAndLaterOnesOverwrite) {
  Parse(
      "<item><first_name>Outer<first_name>Inner</first_name></first_name>"
      "<guest><last_name>Nested</last_name></guest><email>a@x</email><email>b@x</email></item>");
  // The inner first_name is read first; the outer one, read after it, holds all the text.
  EXPECT_EQ(Guest().GivenName, "OuterInner");
  EXPECT_EQ(Guest().FamilyName, "Nested");
  EXPECT_EQ(Guest().Email, "b@x");
}

TEST_F(BookingParse, ReadsTheTotalPriceWithAPointAndElseInTheLocalesForm) {
  rtl::TFormatSettings comma = rtl::TFormatSettings::Invariant();
  comma.DecimalSeparator = ',';
  comma.ThousandSeparator = '.';
  rtl::ScopedFormatSettings locale(comma);
  EXPECT_EQ(valmora::ReplyPriceToMoney("300.50").Raw, 3005000);
  EXPECT_EQ(valmora::ReplyPriceToMoney("300,50").Raw, 3005000);
  EXPECT_EQ(valmora::ReplyPriceToMoney(" 12.34567 ").Raw, 123457);
  EXPECT_THROW(valmora::ReplyPriceToMoney("300;50"), rtl::EConvertError);
  EXPECT_THROW(valmora::ReplyPriceToMoney(""), rtl::EConvertError);
}

TEST_F(BookingParse, TextsThatDoNotConvertRaise) {
  const char* items[] = {
      "<children></children>",         "<adults>two</adults>",
      "<modified>1.5</modified>",      "<rooms_count>99999999999</rooms_count>",
      "<created>06.09.2016</created>", "<start_date>2016-02-30</start_date>",
      "<end_date></end_date>",         "<price_total>3 00</price_total>",
  };
  for (const char* item : items) {
    SCOPED_TRACE(item);
    EXPECT_THROW(Parse(std::string("<item>") + item + "</item>"), rtl::EConvertError);
  }
}

TEST_F(BookingParse, RefusesAnItemNestedDeeperThanAReplyCanHold) {
  std::string deep = "<item>";
  for (int i = 0; i < 200; ++i) deep += "<x>";
  for (int i = 0; i < 200; ++i) deep += "</x>";
  deep += "</item>";
  EXPECT_THROW(Parse(deep), rtl::Exception);
}

TEST_F(BookingParse, ClearingGivesTheResetValues) {
  rtl::SetTimeSource(
      [] { return std::chrono::system_clock::time_point(std::chrono::seconds(1473170400)); });
  Parse(
      "<item><id>X</id><adults>4</adults><rooms_count>3</rooms_count><modified>1</modified>"
      "<status>cancelled</status><first_name>A</first_name></item>");
  valmora::ClearGuestRecords();
  const rtl::TDateTime now = rtl::Now();
  rtl::SetTimeSource(nullptr);
  EXPECT_EQ(Guest(), valmora::TGuestNameRec{});
  const valmora::TGuestDataRec& d = Data();
  EXPECT_EQ(d.TravelBookingNo, "");
  EXPECT_EQ(d.Status, "");
  EXPECT_EQ(d.Modified, 0);
  EXPECT_EQ(d.NoRooms, 1);
  EXPECT_EQ(d.NoAdults, 1);
  EXPECT_EQ(d.NoChildren, 0);
  EXPECT_EQ(d.RoomRateQuoted.Raw, 0);
  EXPECT_EQ(d.BookingDate, now);
  EXPECT_EQ(d.ArrivalDate, now);
  EXPECT_EQ(d.DepartureDate, now);
}

}  // namespace
