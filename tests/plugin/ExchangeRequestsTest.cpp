// The three exchanges against the loopback service and a hotel of the host's
// schema: the items sent, read from the bodies the service recorded; the reply
// check with its messages and registry state; the copies and the day's log;
// and the failed exchanges.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "HostDatabaseFixture.h"
#include "OtaGfgIni.h"
#include "ValmoraMessages.h"
#include "ValmoraProtocol.h"
#include "ValmoraRequests.h"
#include "ValmoraStub.h"
#include "components/VEXTable.h"
#include "net/XmlDocument.h"
#include "rtl/DateTime.h"
#include "rtl/FormatSettings.h"
#include "support/ScopedTimeZone.h"
#include "ui/RecordingUi.h"

namespace {

using namespace std::chrono;
using valmora::ModuleState;
using valmora_stub::BookingItem;
using valmora_stub::Reply;

rtl::TDateTime Sep(int day, int hour = 0, int minute = 0) {
  return rtl::EncodeDateTime(2016, 9, day, hour, minute, 0, 0);
}

// (room_id, date, value) of every item of a request body, in order.
using Item = std::tuple<std::string, std::string, std::string>;
using Items = std::vector<Item>;

Items ItemsOf(const std::string& body) {
  net::XmlDocument doc;
  EXPECT_TRUE(doc.LoadXML(body)) << body;
  Items items;
  for (const net::XmlNode& item : doc.GetElementsByTagName("item")) {
    auto text = [&item](const char* name) {
      return valmora::ElementText(item.GetElementsByTagName(name).at(0));
    };
    items.emplace_back(text("room_id"), text("date"), text("value"));
  }
  return items;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The clock stands at 2016-09-06 10:00 UTC, 12:00 local time; the locale is
// the invariant one (US-style dates and times, English month names).
class ExchangeRequests : public HostDatabaseFixture {
 protected:
  void SetUp() override {
    HostDatabaseFixture::SetUp();
    ::setenv("XDG_DOCUMENTS_DIR", Dir.Path().c_str(), 1);
    std::filesystem::create_directories(Dir / "Reservation/Temp");
    std::filesystem::create_directories(Dir / "Reservation/OTA");
    SetClock(Sep(6, 10));
    Open();
    valmora::TModuleState& state = ModuleState();
    state.DM = DM.get();
    state.rsError = "Error";
    state.rsClose = "Close";
    state.rsType = "Type";
    state.rsCode = "Code";
    state.rsInformation = "Information";
    state.rsNoNewReservation = "No new reservations";
    state.rsNewReservation = "New reservation";
    state.rsNewReservRecorded = "new reservations recorded";
    state.rsBookingNo = "Booking no";
    valmora::WriteServiceUrl(Service.Url());
    valmora::WriteLogIn(" agent ");
    valmora::WriteVendorID("V1");
    valmora::WriteRoomId(1, " SGL ");
    valmora::WriteRoomId(3, "STE");
  }
  void TearDown() override {
    valmora::SetExchangeTimeouts(net::DefaultHttpTimeouts);
    rtl::SetTimeSource(nullptr);
    ModuleState().DM = nullptr;
    HostDatabaseFixture::TearDown();
  }

  // The clock at `utc`, a date-time taken as UTC.
  static void SetClock(rtl::TDateTime utc) {
    const auto at = system_clock::time_point(seconds(rtl::DateTimeToUnix(utc)));
    rtl::SetTimeSource([at] { return at; });
  }

  void Room(const std::string& no, int32_t type) {
    lodgemark::THostRoom room;
    room.RoomNo = no;
    room.RoomType = type;
    room.RoomSortNo = no;
    lodgemark::AddRoom(*DM->Reservation, room);
  }

  std::vector<valmora_stub::Request> Requests() const { return Service.Requests(); }
  Items LastItems() const {
    auto requests = Requests();
    EXPECT_FALSE(requests.empty());
    return requests.empty() ? Items{} : ItemsOf(requests.back().Body);
  }

  std::string Temp(const char* name) const { return Dir / (std::string("Reservation/Temp/") + name); }
  std::string Log() const { return ReadFile(Dir / "Reservation/OTA/OTA06Sep.log"); }

  // The registry's error state: {CorvantaErrorMsg, CorvantaHasError}.
  std::pair<std::string, bool> ErrorState() {
    reg::TRegistry& key = HostKey("Corvanta");
    return {key.ReadString("CorvantaErrorMsg"), key.ReadBool("CorvantaHasError")};
  }
  void SetErrorState(const std::string& message, bool hasError) {
    valmora::WriteCorvantaErrorMsg(message);
    valmora::WriteCorvantaHasError(hasError);
  }

  testsupport::ScopedTimeZone Zone{"XST-2"};
  rtl::ScopedFormatSettings Locale{rtl::TFormatSettings::Invariant()};
  valmora_stub::Server Service;
  ui::RecordingUi Ui;
  ui::ScopedUi UiScope{Ui};
};

// Four free rooms of type 3, one of type 1 and one of type 5; type 5 has no
// room ID.
class AvailabilityUpdate : public ExchangeRequests {
 protected:
  void SetUp() override {
    ExchangeRequests::SetUp();
    Room("101", 1);
    for (const char* no : {"301", "302", "303", "304"}) Room(no, 3);
    Room("501", 5);
  }
};

TEST_F(AvailabilityUpdate, CapsAndClosesEachTypeByItsStopSaleLevel) {
  struct Case {
    int32_t maxAllocation, stopSale3;
    const char* type3;  // the value sent for type 3 on each day
  };
  // With MaxAllocation 0 the cap is the three offered room types.
  for (const Case& c : {Case{10, 2, "4"}, Case{10, 4, "0"}, Case{3, 2, "3"}, Case{0, 0, "3"}}) {
    SCOPED_TRACE(testing::Message() << c.maxAllocation << "/" << c.stopSale3);
    valmora::WriteMaxAllocation(c.maxAllocation);
    valmora::WriteStopSale(3, c.stopSale3);
    ASSERT_EQ(valmora::SendAvailabilityUpdate(true, Sep(6), Sep(8)), 1);
    EXPECT_EQ(Requests().back().Action(), "setAllotments");
    // By inventory row (type 1, then 3), then by day; type 5 sends nothing.
    EXPECT_EQ(LastItems(), (Items{{"SGL", "2016-09-06", "1"},
                                  {"SGL", "2016-09-07", "1"},
                                  {"SGL", "2016-09-08", "1"},
                                  {"STE", "2016-09-06", c.type3},
                                  {"STE", "2016-09-07", c.type3},
                                  {"STE", "2016-09-08", c.type3}}));
  }
}

TEST_F(AvailabilityUpdate, RunsOfFreeRoomsAndTheirDaysComeInInventoryOrder) {
  valmora::WriteMaxAllocation(10);
  lodgemark::THostReservation stay;  // one type-3 room taken on the 7th
  stay.RoomNumber = "302";
  stay.ArrivalDate = Sep(7);
  stay.DepartureDate = Sep(8);
  lodgemark::AddReservation(*DM->Reservation, stay);
  valmora::UpdateOccupancy(*DM, "302", true, Sep(7), Sep(8));
  ASSERT_EQ(valmora::SendAvailabilityUpdate(true, Sep(6), Sep(8)), 1);
  EXPECT_EQ(LastItems(), (Items{{"SGL", "2016-09-06", "1"},
                                {"SGL", "2016-09-07", "1"},
                                {"SGL", "2016-09-08", "1"},
                                {"STE", "2016-09-06", "4"},
                                {"STE", "2016-09-07", "3"},
                                {"STE", "2016-09-08", "4"}}));
}

TEST_F(AvailabilityUpdate, ARangeEndingTodayOrInThePastIsMovedToNowAndTheNextDay) {
  valmora::WriteMaxAllocation(10);
  valmora::WriteRoomId(1, "");
  struct Case {
    rtl::TDateTime start, end;
    std::vector<const char*> days;
  };
  for (const Case& c : {Case{Sep(1), Sep(3), {"2016-09-06", "2016-09-07"}},
                        Case{Sep(6, 0), Sep(6, 23, 59), {"2016-09-06", "2016-09-07"}},
                        Case{Sep(2), Sep(8), {"2016-09-06", "2016-09-07", "2016-09-08"}},
                        Case{Sep(7, 9), Sep(8), {"2016-09-07", "2016-09-08"}}}) {
    SCOPED_TRACE(rtl::DateTimeToUnix(c.start));
    ASSERT_EQ(valmora::SendAvailabilityUpdate(true, c.start, c.end), 1);
    Items expected;
    for (const char* day : c.days) expected.emplace_back("STE", day, "4");
    EXPECT_EQ(LastItems(), expected);
  }
}

// ---- The reply check -------------------------------------------------------------

TEST_F(ExchangeRequests, CheckResponseShowsAndStoresTheLastFaultAndReportsErrorElements) {
  struct Case {
    const char* name;
    const char* reply;
    bool silent;
    bool result;
    std::vector<ui::TaskMessage> messages;
    std::pair<std::string, bool> state;
  };
  const std::vector<Case> cases = {
      {"clean", "<valmora><ok/></valmora>", false, true, {}, {"", false}},
      {"faults in an envelope",
       "<Envelope><Body><Fault><faultstring> Expired </faultstring></Fault>"
       "<Fault><faultstring>Invalid login</faultstring></Fault></Body></Envelope>",
       false, false, {{"Error", ui::tiError, "Error", "Invalid login", "", "Close"}},
       {"Invalid login", true}},
      {"silent fault", "<r><faultstring>Invalid login</faultstring></r>", true, false, {},
       {"Invalid login", true}},
      {"error, Type first", "<r><Error Type=\"Validation\" Code=\"12\">Bad date</Error></r>", false,
       false, {{"", ui::tiError, "Error - Type Validation Code12", "Bad date", "", "Close"}},
       {"", false}},
      {"error, Code first", "<r><Error Code=\"12\" Type=\"Validation\">Bad date</Error></r>", false,
       false, {{"", ui::tiError, "Error - Type Validation Code12", "Bad date", "", "Close"}},
       {"", false}},
      // Type and Code are each the last one given; the text is the last element's.
      {"errors", "<r><Error Type=\"Auth\" Code=\"3\">a</Error><Error Code=\"7\">b</Error></r>",
       false, false, {{"", ui::tiError, "Error - Type Auth Code7", "b", "", "Close"}}, {"", false}},
      {"fault and error",
       "<r><faultstring>Down</faultstring><Error Type=\"T\" Code=\"1\">x</Error></r>", false,
       false,
       {{"Error", ui::tiError, "Error", "Down", "", "Close"},
        {"", ui::tiError, "Error - Type T Code1", "x", "", "Close"}},
       {"Down", true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetErrorState("old", true);
    ModuleState().Silent = c.silent;
    Ui.TaskMessages.clear();
    net::XmlDocument reply;
    ASSERT_TRUE(reply.LoadXML(c.reply));
    EXPECT_EQ(valmora::CheckResponse(reply), c.result);
    EXPECT_EQ(Ui.TaskMessages, c.messages);
    EXPECT_EQ(ErrorState(), c.state);
  }
}

// ---- The retrieval ---------------------------------------------------------------

class BookingRetrieval : public ExchangeRequests {
 protected:
  void SetUp() override {
    ExchangeRequests::SetUp();
    Room("301", 3);
    Room("302", 3);
  }
  static BookingItem Booking(const std::string& id, int arrival) {
    BookingItem item;
    item.Id = id;
    item.Created = "2016-09-05";
    item.RoomId = "STE";
    item.Arrival = sys_days(2016y / 9 / arrival);
    item.Departure = sys_days(2016y / 9 / (arrival + 2));
    item.PriceTotal = "200";
    return item;
  }
  int32_t Reservations() {
    int32_t n = 0;
    vex::TVEXTable& t = *DM->tblGuestData;
    for (t.First(); !t.Eof(); t.Next()) ++n;
    return n;
  }
};

TEST_F(BookingRetrieval, SendsTheDatesAsGivenImportsTheReplyAndLogsTheExchange) {
  valmora::TModuleState& state = ModuleState();
  state.StoredCount = state.ErrorCount = state.ExistCount = state.CancelledCount = 7;
  Service.QueueReply(Reply::Bookings({Booking("VM-1", 1), Booking("VM-2", 3)}));
  // A past range is asked for as it stands.
  ASSERT_EQ(valmora::SendBookingRetrieval(true, Sep(1, 15), Sep(3)), 1);

  net::XmlDocument request;
  ASSERT_TRUE(request.LoadXML(Requests().back().Body));
  EXPECT_EQ(Requests().back().Action(), "getBookingsIncDetails");
  auto text = [&request](const char* name) {
    return valmora::ElementText(request.GetElementsByTagName(name).at(0));
  };
  EXPECT_EQ(text("login"), "agent");
  EXPECT_EQ(text("start_date"), "2016-09-01");
  EXPECT_EQ(text("end_date"), "2016-09-03");
  EXPECT_EQ(text("get_all"), "0");

  EXPECT_EQ(state.StoredCount, 2);
  EXPECT_EQ(state.ErrorCount + state.ExistCount + state.CancelledCount, 0);
  EXPECT_EQ(Reservations(), 2);
  EXPECT_TRUE(Ui.TaskMessages.empty());  // silent
  EXPECT_EQ(ReadFile(Temp("ReadRQ.xml")), Requests().back().Body);
  EXPECT_NE(ReadFile(Temp("ResRetriveRS.xml")).find("<id>VM-2</id>"), std::string::npos);
  const std::string log = Log();
  EXPECT_TRUE(log.starts_with("<--12:00:00 PM - UTC: 9/6/2016 10:00:00 AM-->\r\n"
                              "<--ReadRQ-->\r\n\r\n<?xml"))
      << log;
  EXPECT_NE(log.find("<--RetriveRS-->\r\n\r\n<?xml"), std::string::npos);
  EXPECT_NE(log.find("<id>VM-2</id>"), std::string::npos);
}

TEST_F(BookingRetrieval, AnInvalidLoginIsShownAndStoredButNeitherLoggedNorImported) {
  ModuleState().GuestDataRec.TravelBookingNo = "left over";
  SetErrorState("", false);
  Service.QueueReply(Reply::Fault("Invalid login"));
  EXPECT_EQ(valmora::SendBookingRetrieval(false, Sep(6), Sep(9)), 1);
  EXPECT_EQ(Ui.TaskMessages,
            (std::vector<ui::TaskMessage>{
                {"Error", ui::tiError, "Error", "Invalid login", "", "Close"}}));
  EXPECT_EQ(ErrorState(), (std::pair<std::string, bool>{"Invalid login", true}));
  EXPECT_TRUE(std::filesystem::exists(Temp("ReadRQ.xml")));
  EXPECT_NE(ReadFile(Temp("ResRetriveRS.xml")).find("Invalid login"), std::string::npos);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(ModuleState().StoredCount, 0);
  EXPECT_EQ(ModuleState().GuestDataRec.TravelBookingNo, "");
  EXPECT_EQ(Reservations(), 0);
}

// ---- The day's log and failed exchanges -----------------------------------------

TEST_F(ExchangeRequests, ARefusedAvailabilityUpdateIsLoggedInFullAfterTheDaysEarlierExchange) {
  Room("301", 3);
  valmora::WriteMaxAllocation(5);
  ASSERT_EQ(valmora::SendAvailabilityUpdate(true, Sep(6), Sep(7)), 1);
  const std::string first = Log();
  SetClock(Sep(6, 0));  // 02:00 local on the same day; UTC at exactly midnight
  Service.QueueReply(Reply::Fault("Invalid login"));
  ASSERT_EQ(valmora::SendAvailabilityUpdate(false, Sep(6), Sep(7)), 1);
  EXPECT_EQ(ErrorState(), (std::pair<std::string, bool>{"Invalid login", true}));
  EXPECT_EQ(Ui.TaskMessages.size(), 1u);

  const std::string log = Log();
  ASSERT_TRUE(log.starts_with(first));
  const std::string second = log.substr(first.size());
  net::XmlDocument request;
  ASSERT_TRUE(request.LoadXML(Requests().back().Body));
  net::XmlDocument reply;
  ASSERT_TRUE(reply.LoadXML(ReadFile(Temp("AvailNotifRS.xml"))));
  auto crlf = [](std::string text) {
    std::string out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out + "\r\n";
  };
  EXPECT_EQ(second, "<--2:00:00 AM - UTC: 9/6/2016-->\r\n<--AvailNotifRQ-->\r\n\r\n" +
                        crlf(request.FormattedXml()) + "<--AvailNotifRS-->\r\n\r\n" +
                        crlf(reply.FormattedXml()));
  EXPECT_NE(second.find("<faultstring>Invalid login</faultstring>\r\n"), std::string::npos);
  EXPECT_NE(second.find("\r\n    <item>\r\n"), std::string::npos);
  // Every line of both entries ends in CR LF.
  for (size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1))
    ASSERT_EQ(log[at - 1], '\r') << at;
}

TEST_F(ExchangeRequests, AFailedExchangeGivesZeroWithoutMessageOrLogAndKeepsTheErrorState) {
  Room("301", 3);
  valmora::SetExchangeTimeouts({milliseconds(1000), milliseconds(300)});
  struct Case {
    const char* name;
    Reply reply;
  };
  for (const Case& c : {Case{"closed", Reply::Closed()},
                        Case{"time-out", Reply::Xml("<late/>").After(seconds(3))},
                        Case{"html", Reply::Html("<html><body>Bad gateway<br></body></html>", 502)},
                        Case{"empty", Reply::Empty()}}) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(Temp("AvailNotifRQ.xml"));
    SetErrorState("old", true);
    Service.QueueReply(c.reply);
    EXPECT_EQ(valmora::SendAvailabilityUpdate(false, Sep(6), Sep(7)), 0);
    EXPECT_TRUE(Ui.TaskMessages.empty());
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(ReadFile(Temp("AvailNotifRQ.xml")), Requests().back().Body);
    EXPECT_FALSE(std::filesystem::exists(Temp("AvailNotifRS.xml")));
    EXPECT_EQ(ErrorState(), (std::pair<std::string, bool>{"old", true}));
  }
  // No service at all.
  valmora::WriteServiceUrl("http://127.0.0.1:1/");
  EXPECT_EQ(valmora::SendBookingRetrieval(false, Sep(6), Sep(7)), 0);
  EXPECT_TRUE(std::filesystem::exists(Temp("ReadRQ.xml")));
  EXPECT_EQ(Log(), "");
  EXPECT_TRUE(Ui.TaskMessages.empty());
}

TEST_F(ExchangeRequests, MissingFoldersFailTheExchangeOrTheRequest) {
  Room("301", 3);
  std::filesystem::remove_all(Dir / "Reservation/Temp");
  EXPECT_EQ(valmora::SendAvailabilityUpdate(true, Sep(6), Sep(7)), 0);
  EXPECT_TRUE(Requests().empty());
  EXPECT_EQ(Log(), "");
  // Without its folder the day's log cannot be opened: the request does not start.
  std::filesystem::remove_all(Dir / "Reservation/OTA");
  EXPECT_THROW(valmora::SendBookingRetrieval(true, Sep(6), Sep(7)), rtl::EOSError);
  EXPECT_TRUE(Requests().empty());
}

// ---- The rate update -------------------------------------------------------------

TEST_F(ExchangeRequests, RatesGoOncePerTypeAndDayWithTheLocalesSeparator) {
  Room("101", 1);
  Room("102", 1);
  Room("301", 3);
  Room("501", 5);
  Room("1701", 17);
  Room("1801", 18);
  valmora::WriteRoomId(3, "");
  valmora::WriteRoomId(5, "DBL");
  valmora::TModuleState& state = ModuleState();
  state.Rates[0] = rtl::Currency::FromRaw(995000);  // 99.5
  state.Rates[2] = rtl::Currency::FromRaw(1200000);
  state.Rates[4] = rtl::Currency::FromRaw(800000);
  state.UpdateRate[0] = state.UpdateRate[2] = true;  // type 5 is not updated
  rtl::TFormatSettings comma = rtl::TFormatSettings::Invariant();
  comma.DecimalSeparator = ',';
  comma.ThousandSeparator = '.';
  rtl::ScopedFormatSettings commaLocale(comma);
  // From 10:00 today to midnight three days on: two whole days, three days sent.
  ASSERT_EQ(valmora::SendRateUpdate(Sep(6, 10), Sep(9)), 1);
  EXPECT_EQ(Requests().back().Action(), "setRates");
  EXPECT_EQ(LastItems(), (Items{{"SGL", "2016-09-06", "99,5"},
                                {"SGL", "2016-09-07", "99,5"},
                                {"SGL", "2016-09-08", "99,5"},
                                {"", "2016-09-06", "120"},
                                {"", "2016-09-07", "120"},
                                {"", "2016-09-08", "120"}}));
  EXPECT_EQ(ReadFile(Temp("RateAmountNotifRQ.xml")), Requests().back().Body);
  EXPECT_TRUE(std::filesystem::exists(Temp("RateAmountNotifRS.xml")));
  const std::string log = Log();
  EXPECT_NE(log.find("-->\r\n<--RateAmountNotiRQ-->\r\n\r\n<?xml"), std::string::npos);
  EXPECT_NE(log.find("\r\n<--RateAmountNotifRS-->\r\n\r\n<?xml"), std::string::npos);
}

}  // namespace
