#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "ValmoraProtocol.h"
#include "ValmoraStub.h"
#include "rtl/DateTime.h"
#include "rtl/FormatSettings.h"
#include "support/ScopedTimeZone.h"

namespace {

using namespace std::chrono_literals;
using rtl::EncodeDate;
using rtl::EncodeDateTime;
using valmora_stub::Reply;

constexpr char kDecl[] = R"(<?xml version="1.0" encoding="UTF-8"?>)";

rtl::TFormatSettings WithSeparators(char decimal, char thousand) {
  rtl::TFormatSettings fs = rtl::TFormatSettings::Invariant();
  fs.DecimalSeparator = decimal;
  fs.ThousandSeparator = thousand;
  return fs;
}

using testsupport::ScopedTimeZone;

TEST(ValmoraProtocol, BookingRequestBodyIsTheFrameWithTheTrimmedHeaderAndTheDateRange) {
  net::XmlDocument doc;
  net::XmlNode action =
      valmora::BuildRequestFrame(doc, valmora::ActionGetBookings, "  agent \xE9 \t", "\tV&1  ");
  valmora::AddBookingRange(action, EncodeDateTime(2016, 9, 6, 23, 59, 0, 0),
                           EncodeDateTime(2016, 9, 9, 8, 30, 0, 0));
  EXPECT_EQ(doc.Xml(), std::string(kDecl) +
                           "<valmora><header><login>agent \xC3\xA9</login>"
                           "<vendor_id>V&amp;1</vendor_id></header>"
                           "<action name=\"getBookingsIncDetails\"><start_date>2016-09-06"
                           "</start_date><end_date>2016-09-09</end_date><get_all>0</get_all>"
                           "</action></valmora>");
  // Building again starts from an empty document.
  valmora::BuildRequestFrame(doc, valmora::ActionSetRates, "", "");
  EXPECT_EQ(doc.Xml(), std::string(kDecl) +
                           "<valmora><header><login/><vendor_id/></header>"
                           "<action name=\"setRates\"/></valmora>");
}

TEST(ValmoraProtocol, AllotmentAndRateItemsCarryRoomDayAndValueInOrder) {
  net::XmlDocument doc;
  net::XmlNode action = valmora::BuildRequestFrame(doc, valmora::ActionSetAllotments, "l", "v");
  valmora::AddAllotmentItem(action, "DBL", EncodeDateTime(2016, 9, 6, 10, 0, 0, 0), 4);
  valmora::AddAllotmentItem(action, "DBL", EncodeDate(2016, 9, 7), 0);
  EXPECT_EQ(doc.Xml(),
            std::string(kDecl) +
                "<valmora><header><login>l</login><vendor_id>v</vendor_id></header>"
                "<action name=\"setAllotments\">"
                "<item><room_id>DBL</room_id><date>2016-09-06</date><value>4</value></item>"
                "<item><room_id>DBL</room_id><date>2016-09-07</date><value>0</value></item>"
                "</action></valmora>");

  rtl::ScopedFormatSettings comma(WithSeparators(',', '.'));
  action = valmora::BuildRequestFrame(doc, valmora::ActionSetRates, "l", "v");
  valmora::AddRateItem(action, "", EncodeDate(2016, 9, 6), rtl::Currency::FromDouble(99.5));
  EXPECT_EQ(doc.Xml(), std::string(kDecl) +
                           "<valmora><header><login>l</login><vendor_id>v</vendor_id></header>"
                           "<action name=\"setRates\">"
                           "<item><room_id/><date>2016-09-06</date><value>99,5</value></item>"
                           "</action></valmora>");
}

TEST(ValmoraProtocol, RatesAreWrittenShortestWithTheLocaleSeparatorAndNoGrouping) {
  const struct {
    double rate;
    const char* point;
    const char* comma;
  } cases[] = {
      {120, "120", "120"},          {99.5, "99.5", "99,5"},
      {0.0001, "0.0001", "0,0001"}, {1234567.25, "1234567.25", "1234567,25"},
      {-15.1, "-15.1", "-15,1"},    {0, "0", "0"},
  };
  for (const auto& c : cases) {
    rtl::Currency rate = rtl::Currency::FromDouble(c.rate);
    {
      rtl::ScopedFormatSettings point(WithSeparators('.', ','));
      EXPECT_EQ(valmora::RateText(rate), c.point);
    }
    rtl::ScopedFormatSettings comma(WithSeparators(',', '.'));
    EXPECT_EQ(valmora::RateText(rate), c.comma);
  }
}

TEST(ValmoraProtocol, DaysAreWrittenYearMonthDayWithoutTheTime) {
  EXPECT_EQ(valmora::DayText(EncodeDateTime(2016, 9, 6, 23, 59, 59, 999)), "2016-09-06");
  EXPECT_EQ(valmora::DayText(EncodeDate(987, 1, 2)), "0987-01-02");
  EXPECT_EQ(valmora::DayText(EncodeDate(9999, 12, 31)), "9999-12-31");
}

TEST(ValmoraProtocol, ReplyDatesReadEpochSecondsAsUtcAndXmlSchemaDates) {
  const struct {
    const char* text;
    rtl::TDateTime expected;
  } cases[] = {
      {"1473120000", EncodeDate(2016, 9, 6)},
      {"1473163200", EncodeDateTime(2016, 9, 6, 12, 0, 0, 0)},
      {"0", EncodeDate(1970, 1, 1)},
      {"-86400", EncodeDate(1969, 12, 31)},
      {"+86400", EncodeDate(1970, 1, 2)},
      {"2147483647", EncodeDateTime(2038, 1, 19, 3, 14, 7, 0)},
      {"2016-09-06", EncodeDate(2016, 9, 6)},
      {"2016-09-06Z", EncodeDate(2016, 9, 6)},
      {"2016-09-06+14:00", EncodeDate(2016, 9, 6)},
      {"2016-09-06-05:30", EncodeDate(2016, 9, 6)},
      {"2016-02-29", EncodeDate(2016, 2, 29)},
  };
  for (const char* zone : {"UTC0", "America/Los_Angeles", "Pacific/Auckland"}) {
    ScopedTimeZone tz(zone);
    for (const auto& c : cases)
      EXPECT_EQ(valmora::ReplyDateToDate(c.text), c.expected) << c.text << " in " << zone;
  }

  for (const char* bad :
       {"", " 2016-09-06", "abc", "2016-9-6", "2016/09/06", "2015-02-29", "2016-13-01",
        "0000-01-01", "12016-01-01", "2016-09-06T10:00:00", "2016-09-06+15:00", "2016-09-06+02",
        "1473120000.5", "2147483648", "-2147483649", "$10", "0x10", "1e9", "-"}) {
    EXPECT_THROW(valmora::ReplyDateToDate(bad), rtl::EConvertError) << bad;
  }
}

TEST(ValmoraProtocol, ReplyElementsAreFoundAnywhereAndTheirTextIsTrimmed) {
  net::XmlDocument doc;
  ASSERT_TRUE(doc.LoadXML(
      "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
      "<soap:Fault><faultstring>\n\t first \r\n</faultstring></soap:Fault>"
      "<faultstring> Invalid login </faultstring></soap:Body>"
      "<error>lower case is another name</error>"
      "<Error Code=\"12\" Type=\"Validation\"> <b>Bad</b> room </Error>"
      "</soap:Envelope>"));
  auto faults = doc.GetElementsByTagName("faultstring");
  ASSERT_EQ(faults.size(), 2u);
  EXPECT_EQ(valmora::ElementText(faults[0]), "first");
  EXPECT_EQ(valmora::ElementText(faults.back()), "Invalid login");
  auto errors = doc.GetElementsByTagName("Error");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(valmora::ElementText(errors[0]), "Bad room");
  EXPECT_EQ(errors[0].GetAttribute("Type"), "Validation");
  EXPECT_EQ(errors[0].GetAttribute("Code"), "12");
}

TEST(ValmoraProtocol, PostSendsTheDocumentAndLoadsTheReplyWhateverItsStatus) {
  valmora_stub::Server service;
  service.QueueReply(Reply::Fault("Invalid login", 500));

  net::XmlDocument doc;
  net::XmlNode action = valmora::BuildRequestFrame(doc, valmora::ActionGetBookings, "l", "v");
  valmora::AddBookingRange(action, EncodeDate(2016, 9, 6), EncodeDate(2016, 9, 9));
  const std::string sent = doc.Xml();
  valmora::PostRequest(doc, "  " + service.Url() + " \t");

  auto requests = service.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Method, "POST");
  EXPECT_EQ(requests[0].Body, sent);
  EXPECT_EQ(requests[0].Header("Content-Type"), "text/xml");
  EXPECT_EQ(requests[0].HeaderCount("Expect"), 0);
  // The document now holds the reply.
  auto faults = doc.GetElementsByTagName("faultstring");
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(valmora::ElementText(faults[0]), "Invalid login");
  EXPECT_TRUE(doc.GetElementsByTagName("action").empty());
}

TEST(ValmoraProtocol, TheCannedBookingsOfTheStandInAreReadable) {
  valmora_stub::Server service;
  net::XmlDocument doc;
  net::XmlNode action = valmora::BuildRequestFrame(doc, valmora::ActionGetBookings, "l", "v");
  valmora::AddBookingRange(action, EncodeDate(2016, 9, 6), EncodeDate(2016, 9, 9));
  valmora::PostRequest(doc, service.Url());

  auto items = doc.GetElementsByTagName("item");
  ASSERT_EQ(items.size(), 2u);
  auto value = [&](size_t item, const char* name) {
    return valmora::ElementText(items[item].GetElementsByTagName(name).at(0));
  };
  EXPECT_EQ(valmora::ReplyDateToDate(value(0, "start_date")), EncodeDate(2016, 9, 6));
  EXPECT_EQ(valmora::ReplyDateToDate(value(0, "created")), EncodeDate(2016, 8, 30));
  EXPECT_EQ(valmora::ReplyDateToDate(value(1, "created")), EncodeDate(2016, 9, 3));
  EXPECT_NE(value(0, "id"), value(1, "id"));
}

TEST(ValmoraProtocol, AFailedExchangeRaisesAndAReplyThatIsNotXmlLeavesTheDocumentEmpty) {
  valmora_stub::Server service;
  const std::string url = service.Url();
  const net::HttpTimeouts quick{1000ms, 200ms};
  net::XmlDocument doc;

  for (const Reply& notXml : {Reply::Html("<html><body>Bad gateway<br></body></html>", 502),
                              Reply::Empty(), Reply::Xml("Service unavailable", 503)}) {
    service.QueueReply(notXml);
    valmora::BuildRequestFrame(doc, valmora::ActionSetRates, "l", "v");
    EXPECT_THROW(valmora::PostRequest(doc, url, quick), valmora::EReplyNotXml);
    EXPECT_FALSE(doc.DocumentElement());
    EXPECT_TRUE(doc.GetElementsByTagName("faultstring").empty());
  }

  service.QueueReply(Reply::Closed());
  service.QueueReply(Reply::Xml("<late/>").After(10s));
  for (int i = 0; i < 2; ++i) {
    valmora::BuildRequestFrame(doc, valmora::ActionSetRates, "l", "v");
    EXPECT_THROW(valmora::PostRequest(doc, url, quick), net::ENetError);
  }
  service.Stop();
  EXPECT_THROW(valmora::PostRequest(doc, url, quick), net::ENetError);
}

}  // namespace
