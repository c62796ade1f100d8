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

}  // namespace
