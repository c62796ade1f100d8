// The loopback service's booking replies, read the way the booking import reads
// a reply: by element name through the XML document and the protocol's readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ValmoraProtocol.h"
#include "ValmoraStub.h"
#include "net/XmlDocument.h"
#include "rtl/CodePage.h"
#include "rtl/DateTime.h"

namespace {

using namespace std::chrono;
using valmora_stub::BookingGenerator;
using valmora_stub::BookingItem;

rtl::TDateTime AsDate(sys_days day) {
  year_month_day ymd(day);
  return rtl::EncodeDate(static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                         static_cast<unsigned>(ymd.day()));
}

// One parsed `item`: its child elements' texts by name.
using ParsedItem = std::map<std::string, std::string>;

std::vector<ParsedItem> Parse(const std::string& xml) {
  net::XmlDocument doc;
  EXPECT_TRUE(doc.LoadXML(xml)) << doc.ParseError();
  std::vector<ParsedItem> items;
  for (const net::XmlNode& item : doc.GetElementsByTagName("item")) {
    ParsedItem parsed;
    for (const net::XmlNode& child : item.ChildNodes())
      if (child.IsElement()) parsed[child.NodeName()] = valmora::ElementText(child);
    items.push_back(parsed);
  }
  return items;
}

// What the item must hold, as the booking import reads it (texts in 1252).
void ExpectHolds(const ParsedItem& parsed, const BookingItem& item) {
  SCOPED_TRACE(item.Id);
  EXPECT_EQ(parsed.at("id"), item.Id);
  EXPECT_EQ(parsed.at("status"), item.Status);
  EXPECT_EQ(std::stoi(parsed.at("modified")), item.Modified);
  EXPECT_EQ(parsed.at("room_id"), item.RoomId);
  EXPECT_EQ(std::stoi(parsed.at("adults")), item.Adults);
  EXPECT_EQ(std::stoi(parsed.at("children")), item.Children);
  EXPECT_EQ(valmora::ReplyDateToDate(parsed.at("start_date")), AsDate(*item.Arrival));
  EXPECT_EQ(valmora::ReplyDateToDate(parsed.at("end_date")), AsDate(*item.Departure));
  EXPECT_NO_THROW(valmora::ReplyDateToDate(parsed.at("created")));
  EXPECT_EQ(parsed.at("price_total"), item.PriceTotal);
  EXPECT_EQ(parsed.at("last_name"), rtl::Utf8ToWin1252(item.LastName));
  EXPECT_EQ(parsed.at("channel_name"), rtl::Utf8ToWin1252(item.ChannelName));
}

TEST(BookingReplies, HoldTheItemsAsGivenInBothDateFormsAndLeaveOutWhatIsUnset) {
  BookingItem full;
  full.Id = "LB-7";
  full.Created = "1473120000";
  full.RoomId = "DBL";
  full.Arrival = sys_days(2016y / 9 / 6);
  full.Departure = sys_days(2016y / 9 / 9);
  full.PriceTotal = "300.50";
  full.Comments = "Cot & <quiet> room";
  full.LastName = "M\xC3\xBCller";
  BookingItem bare;  // no id, no dates: what the import refuses
  bare.Created = "2016-09-06";
  bare.Status = "cancelled";
  bare.Modified = 1;

  std::vector<ParsedItem> parsed = Parse(valmora_stub::BookingReplyXml({full, bare}));
  ASSERT_EQ(parsed.size(), 2u);
  ExpectHolds(parsed[0], full);
  EXPECT_EQ(valmora::ReplyDateToDate(parsed[0].at("created")), AsDate(sys_days(2016y / 9 / 6)));
  EXPECT_EQ(parsed[0].at("comments"), "Cot & <quiet> room");
  EXPECT_EQ(parsed[0].at("last_name"), "M\xFCller");
  EXPECT_EQ(valmora::ReplyDateToDate(parsed[1].at("created")), AsDate(sys_days(2016y / 9 / 6)));
  EXPECT_EQ(parsed[1].at("status"), "cancelled");
  EXPECT_EQ(parsed[1].at("modified"), "1");
  for (const char* missing : {"id", "start_date", "end_date", "price_total", "comments"})
    EXPECT_EQ(parsed[1].count(missing), 0u) << missing;

  EXPECT_TRUE(Parse(valmora_stub::BookingReplyXml({})).empty());
}

TEST(BookingReplies, GeneratorMixesNewModifiedCancelledAndRepeatedBookingsOfEarlierReplies) {
  const std::vector<std::string> rooms{"DBL", "SGL", "TWN"};
  BookingGenerator generator(7, rooms, sys_days(2026y / 12 / 1), 30, 5);
  std::vector<BookingItem> first = generator.Mix(6, 3, 3, 3);  // nothing issued yet
  ASSERT_EQ(first.size(), 6u);

  std::vector<BookingItem> second = generator.Mix(4, 2, 2, 1);
  ASSERT_EQ(second.size(), 9u);
  std::vector<ParsedItem> parsed = Parse(valmora_stub::BookingReplyXml(second));
  ASSERT_EQ(parsed.size(), second.size());
  std::set<std::string> firstIds, secondIds;
  for (const BookingItem& item : first) firstIds.insert(item.Id);
  std::map<std::string, int> kinds;
  for (size_t i = 0; i < second.size(); ++i) {
    const BookingItem& item = second[i];
    ExpectHolds(parsed[i], item);
    EXPECT_TRUE(secondIds.insert(item.Id).second) << "twice in one reply: " << item.Id;
    EXPECT_LT(*item.Arrival, *item.Departure);
    EXPECT_LE(*item.Departure - *item.Arrival, days(5));
    EXPECT_NE(std::find(rooms.begin(), rooms.end(), item.RoomId), rooms.end());
    bool earlier = firstIds.count(item.Id) != 0;
    if (item.Modified == 1) {
      ++kinds["modified"];
      EXPECT_TRUE(earlier);
    } else if (item.Status == "cancelled") {
      ++kinds["cancelled"];
      EXPECT_TRUE(earlier);
    } else if (earlier) {
      ++kinds["repeated"];
    } else {
      ++kinds["new"];
    }
    EXPECT_EQ(generator.Issued().at(item.Id), item);  // the latest form is remembered
  }
  EXPECT_EQ(kinds, (std::map<std::string, int>{
                       {"cancelled", 2}, {"modified", 2}, {"new", 4}, {"repeated", 1}}));
  EXPECT_EQ(generator.Issued().size(), 10u);

  // The same seed, the same replies.
  BookingGenerator again(7, rooms, sys_days(2026y / 12 / 1), 30, 5);
  again.Mix(6, 3, 3, 3);
  EXPECT_EQ(again.Mix(4, 2, 2, 1), second);
  EXPECT_THROW(generator.Modify("VM-999999"), std::invalid_argument);
}

TEST(BookingReplies, ALargeReplyParsesWhole) {
  BookingGenerator generator(1, {"A"}, sys_days(2027y / 1 / 1));
  std::vector<BookingItem> items = generator.Mix(500, 0, 0, 0);
  std::vector<BookingItem> later = generator.Mix(100, 150, 150, 100);
  items.insert(items.end(), later.begin(), later.end());
  std::vector<ParsedItem> parsed = Parse(valmora_stub::BookingReplyXml(items));
  ASSERT_EQ(parsed.size(), 1000u);
  for (size_t i = 0; i < items.size(); i += 97) ExpectHolds(parsed[i], items[i]);
}

}  // namespace
