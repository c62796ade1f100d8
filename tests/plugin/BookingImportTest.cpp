// The booking import over a database of the host's schema: new, known,
// modified and cancelled bookings, the refusals with their outcome rows, the
// counters and messages, a failure part-way through a reply, and a model run
// over generated replies.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "HostDatabaseFixture.h"
#include "OtaGfgIni.h"
#include "ValmoraMessages.h"
#include "ValmoraStub.h"
#include "components/VEXDatabase.h"
#include "components/VEXSession.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "net/XmlDocument.h"
#include "rtl/DateTime.h"
#include "support/FakeClock.h"
#include "ui/RecordingUi.h"

namespace {

using namespace std::chrono;
using lodgemark::THostReservation;
using lodgemark::THostRoom;
using valmora::ModuleState;
using valmora_stub::BookingItem;

rtl::TDateTime Sep(int day) { return rtl::EncodeDate(2016, 9, day); }
sys_days SepDay(int day) { return sys_days(2016y / 9 / day); }

// A new booking of 2016 for room ID RoomId from September Arrival to Departure.
BookingItem Booking(const std::string& id, const std::string& roomId, int arrival, int departure) {
  BookingItem item;
  item.Id = id;
  item.Created = "1473120000";  // 2016-09-06
  item.RoomId = roomId;
  item.Arrival = SepDay(arrival);
  item.Departure = SepDay(departure);
  item.PriceTotal = "300";
  item.FirstName = "Ada";
  item.LastName = "Lindqvist";
  return item;
}

// One row of Occupancy: RoomsOccupied, then Type1Occupied .. Type16Occupied.
using NightCounts = std::array<int32_t, 17>;

class BookingImport : public HostDatabaseFixture {
 protected:
  void SetUp() override {
    HostDatabaseFixture::SetUp();
    Open();
    valmora::TModuleState& state = ModuleState();
    state.DM = DM.get();
    state.rsError = "Error";
    state.rsClose = "Close";
    state.rsInformation = "Information";
    state.rsNoreservation = "No reservation";
    state.rsNoNewReservation = "No new reservations";
    state.rsNewReservation = "New reservation";
    state.rsNewReservRecorded = "new reservations recorded";
    state.rsBookingNo = "Booking no";
    state.rsExist = "known";
    state.rsCancelled = "cancelled";
    valmora::WriteRoomId(1, "SGL");
    valmora::WriteRoomId(3, "STE");
    HostKey("Preference").WriteInteger("LastAutoGenNo", 41);
    HostKey("Preference").WriteFloat("DefaultArrival", kDefaultArrival);
    Room("101", 1, "A101");
    Room("301", 3, "C301");
    Room("302", 3, "C302");
  }
  void TearDown() override {
    ModuleState().DM = nullptr;
    HostDatabaseFixture::TearDown();
  }

  void Room(const std::string& no, int32_t type, const std::string& sortNo) {
    THostRoom room;
    room.RoomNo = no;
    room.RoomType = type;
    room.RoomSortNo = sortNo;
    lodgemark::AddRoom(*DM->Reservation, room);
  }

  // A retrieval's import of a reply holding `xml`, the counters and records
  // reset first as the retrieval resets them.
  void ImportXml(const std::string& xml) {
    valmora::TModuleState& state = ModuleState();
    state.StoredCount = state.ErrorCount = state.ExistCount = state.CancelledCount = 0;
    valmora::ClearGuestRecords();
    net::XmlDocument reply;
    ASSERT_TRUE(reply.LoadXML(xml)) << reply.ParseError();
    Ui.TaskMessages.clear();
    valmora::ProcessBookingItems(reply);
  }
  void Import(const std::vector<BookingItem>& items) {
    ImportXml(valmora_stub::BookingReplyXml(items));
  }

  // {StoredCount, ErrorCount, ExistCount, CancelledCount}
  static std::array<int32_t, 4> Counters() {
    const valmora::TModuleState& s = ModuleState();
    return {s.StoredCount, s.ErrorCount, s.ExistCount, s.CancelledCount};
  }

  static int32_t Count(vex::TVEXTable& table) {
    int32_t n = 0;
    for (table.First(); !table.Eof(); table.Next()) ++n;
    return n;
  }

  std::map<int64_t, NightCounts> Occupancy() {
    std::map<int64_t, NightCounts> rows;
    vex::TVEXTable& t = *DM->tblOccupancy;
    for (t.First(); !t.Eof(); t.Next()) {
      NightCounts counts{};
      counts[0] = t.FieldByName("RoomsOccupied")->AsInteger();
      for (int k = 1; k <= 16; ++k)
        counts[static_cast<size_t>(k)] =
            t.FieldByName("Type" + std::to_string(k) + "Occupied")->AsInteger();
      rows[valmora::CalendarDay(t.FieldByName("OccDate")->AsDateTime())] = counts;
    }
    return rows;
  }
  // The night counts a stay of one room of `type` on these days gives.
  static std::map<int64_t, NightCounts> Nights(int type, std::vector<int> days) {
    std::map<int64_t, NightCounts> rows;
    for (int day : days) {
      NightCounts& counts = rows[valmora::CalendarDay(Sep(day))];
      counts[0] += 1;
      counts[static_cast<size_t>(type)] += 1;
    }
    return rows;
  }

  // The outcome rows: BookingNo -> {Valid, GuestID}.
  std::map<std::string, std::pair<int32_t, std::string>> Outcomes() {
    std::map<std::string, std::pair<int32_t, std::string>> rows;
    vex::TVEXTable& t = *DM->tblOtaResponse;
    for (t.First(); !t.Eof(); t.Next())
      rows[t.FieldByName("BookingNo")->AsString()] = {t.FieldByName("Valid")->AsInteger(),
                                                      t.FieldByName("GuestID")->AsString()};
    return rows;
  }

  // Puts GuestData on the reservation of booking number `id`.
  vex::TVEXTable& Reservation(const std::string& id) {
    vex::TVEXTable& t = *DM->tblGuestData;
    EXPECT_TRUE(t.Locate("TravelBookingNo", rtl::Variant(id), {})) << id;
    return t;
  }
  std::string Field(vex::TVEXTable& t, const char* name) { return t.FieldByName(name)->AsString(); }

  static constexpr double kDefaultArrival = 14.0 / 24;
  ui::RecordingUi Ui;
  ui::ScopedUi UiScope{Ui};
};

TEST_F(BookingImport, ANewBookingIsStoredInFullWithTheNextFreeGuestCode) {
  lodgemark::AddGuest(*DM->Reservation, "000042");
  lodgemark::AddGuest(*DM->Reservation, "000043");
  // Room 301 is taken for the stay, 302 is free.
  THostReservation taken;
  taken.RoomNumber = "301";
  taken.ArrivalDate = Sep(5);
  taken.DepartureDate = Sep(8);
  lodgemark::AddReservation(*DM->Reservation, taken);

  BookingItem item = Booking("VM-1", "STE", 6, 9);
  item.ChannelName = "Direct";
  item.Adults = 2;
  item.Children = 1;
  item.Comments = "Quiet room";
  item.Email = "ada@example.org";
  item.Phone = "+1 555 0100";
  item.Address = "1 Harbour Road";
  Import({item});  // a reply of one item is imported

  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{1, 0, 0, 0}));
  vex::TVEXTable& guests = *DM->tblGuestName;
  ASSERT_EQ(Count(guests), 3);
  ASSERT_TRUE(guests.Locate("GuestCode", rtl::Variant("000044"), {}));
  EXPECT_EQ(Field(guests, "GivenName"), "Ada");
  EXPECT_EQ(Field(guests, "FamilyName"), "Lindqvist");
  EXPECT_EQ(Field(guests, "Address1"), "1 Harbour Road");
  EXPECT_EQ(Field(guests, "PhoneNumber"), "+1 555 0100");
  EXPECT_EQ(Field(guests, "Email"), "ada@example.org");
  for (const char* empty : {"CompName", "Address2", "City", "State", "PostCode", "Country"})
    EXPECT_EQ(Field(guests, empty), "") << empty;

  vex::TVEXTable& r = Reservation("VM-1");
  EXPECT_EQ(Field(r, "GuestCode"), "000044");
  EXPECT_EQ(r.FieldByName("BookingDate")->AsDateTime(), Sep(6));
  EXPECT_EQ(r.FieldByName("ArrivalDate")->AsDateTime(), Sep(6));
  EXPECT_EQ(r.FieldByName("DepartureDate")->AsDateTime(), Sep(9));
  EXPECT_EQ(Field(r, "RoomNumber"), "302");
  EXPECT_EQ(Field(r, "RoomSortNo"), "C302");
  EXPECT_EQ(Field(r, "TravelAgent"), "Direct");
  EXPECT_EQ(r.FieldByName("RoomRateQuoted")->AsCurrency().Raw, 100 * 10000);
  EXPECT_TRUE(r.FieldByName("InclGST")->AsBoolean());
  EXPECT_EQ(r.FieldByName("Gurantee")->AsInteger(), 9);
  EXPECT_EQ(r.FieldByName("NumberAdults")->AsInteger(), 2);
  EXPECT_EQ(r.FieldByName("NumberChildren")->AsInteger(), 1);
  EXPECT_NEAR(r.FieldByName("Arrivaltime")->AsDateTime(), kDefaultArrival, 1e-8);
  EXPECT_EQ(Field(r, "TariffCode"), "STANDARD");
  EXPECT_TRUE(r.FieldByName("LockRoomRate")->AsBoolean());
  EXPECT_EQ(Field(r, "SpecRequirements"), "Quiet room");
  EXPECT_EQ(r.FieldByName("NoNights")->AsInteger(), 3);
  EXPECT_FALSE(r.FieldByName("Cancelled")->AsBoolean());
  const std::string guestId = Field(r, "GuestID");

  EXPECT_EQ(Occupancy(), Nights(3, {6, 7, 8}));
  EXPECT_EQ(Outcomes(), (std::map<std::string, std::pair<int32_t, std::string>>{
                            {"VM-1", {valmora::OutcomeWritten, guestId}}}));
  vex::TVEXTable& ota = *DM->tblOtaResponse;
  ota.First();
  for (const char* empty : {"TravelID", "ResIDType", "ResIDValue"})
    EXPECT_EQ(Field(ota, empty), "") << empty;

  ASSERT_EQ(Ui.TaskMessages.size(), 1u);
  EXPECT_EQ(Ui.TaskMessages[0],
            (ui::TaskMessage{"Information", ui::tiInformation, "New reservation",
                             "1 - new reservations recorded", "Booking no - VM-1\n\r", "Close"}));
}

TEST_F(BookingImport, RefusedBookingsLeaveOnlyTheirOutcomeRowAndCountAsErrors) {
  THostReservation taken;  // the only type-1 room is taken from the 10th to the 20th
  taken.RoomNumber = "101";
  taken.ArrivalDate = Sep(10);
  taken.DepartureDate = Sep(20);
  lodgemark::AddReservation(*DM->Reservation, taken);

  struct Case {
    const char* name;
    BookingItem item;
    int32_t valid;  // -1: no outcome row
    int32_t errors;
  };
  BookingItem sameDay = Booking("VM-4", "STE", 6, 6);
  BookingItem backwards = Booking("VM-5", "STE", 9, 6);
  BookingItem noEnd = Booking("VM-6", "STE", 6, 9);
  noEnd.Departure.reset();
  BookingItem noId = Booking("", "STE", 6, 9);
  BookingItem noRoomId = Booking("VM-7", "", 6, 9);
  const std::vector<Case> cases = {
      {"unmapped room ID", Booking("VM-2", "DBL", 6, 9), valmora::OutcomeRoomIdUnmapped, 1},
      {"no room ID", noRoomId, valmora::OutcomeRoomIdUnmapped, 1},
      {"no free room", Booking("VM-3", "SGL", 12, 14), valmora::OutcomeNoFreeRoom, 1},
      {"same day", sameDay, valmora::OutcomeWritten, 1},
      {"departure before arrival", backwards, valmora::OutcomeWritten, 1},
      {"no end_date", noEnd, valmora::OutcomeWritten, 1},
      {"no id", noId, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Import({c.item});
    EXPECT_EQ(Counters(), (std::array<int32_t, 4>{0, c.errors, 0, 0}));
    EXPECT_EQ(Count(*DM->tblGuestName), 0);
    EXPECT_EQ(Count(*DM->tblGuestData), 1);
    EXPECT_TRUE(Occupancy().empty());
    if (c.valid < 0) {
      EXPECT_TRUE(Outcomes().empty());
    } else {
      EXPECT_EQ(
          Outcomes(),
          (std::map<std::string, std::pair<int32_t, std::string>>{{c.item.Id, {c.valid, ""}}}));
    }
  }
}

TEST_F(BookingImport, KnownBookingsAreCountedModifiedInPlaceMovedAndCancelled) {
  Import({Booking("VM-1", "STE", 6, 9)});
  vex::TVEXTable& r = Reservation("VM-1");
  const std::string guestId = Field(r, "GuestID");
  const std::string room = Field(r, "RoomNumber");
  const int32_t guests = Count(*DM->tblGuestName);

  // Sent again unchanged: counted, nothing written, no outcome row.
  Import({Booking("VM-1", "STE", 6, 9)});
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{0, 0, 1, 0}));
  EXPECT_EQ(Count(*DM->tblGuestData), 1);
  EXPECT_EQ(Count(*DM->tblGuestName), guests);
  EXPECT_TRUE(Outcomes().empty());
  ASSERT_EQ(Ui.TaskMessages.size(), 1u);
  EXPECT_EQ(Ui.TaskMessages[0].Content, "0 - new reservations recorded (1 - known)");

  // Modified, same room type: the same row keeps its room and guest; the nights move.
  BookingItem moved = Booking("VM-1", "STE", 10, 12);
  moved.Modified = 1;
  moved.Adults = 3;
  Import({moved});
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{1, 0, 0, 0}));
  Reservation("VM-1");
  EXPECT_EQ(Field(r, "GuestID"), guestId);
  EXPECT_EQ(Field(r, "RoomNumber"), room);
  EXPECT_EQ(Field(r, "GuestCode"), "000042");
  EXPECT_EQ(r.FieldByName("NumberAdults")->AsInteger(), 3);
  EXPECT_EQ(r.FieldByName("NoNights")->AsInteger(), 2);
  EXPECT_EQ(Count(*DM->tblGuestName), guests);
  EXPECT_EQ(Occupancy(), Nights(3, {10, 11}));
  EXPECT_EQ(Outcomes().at("VM-1"), std::make_pair(int32_t{valmora::OutcomeWritten}, guestId));

  // Modified to another room type: a free room of that type.
  moved.RoomId = "SGL";
  Import({moved});
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{1, 0, 0, 0}));
  Reservation("VM-1");
  EXPECT_EQ(Field(r, "RoomNumber"), "101");
  EXPECT_EQ(Field(r, "RoomSortNo"), "A101");
  EXPECT_EQ(Occupancy(), Nights(1, {10, 11}));

  // Cancelled: flagged, and its nights are free again; a second time changes nothing.
  BookingItem cancelled = moved;
  cancelled.Modified = 0;
  cancelled.Status = "cancelled";
  Import({cancelled});
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{0, 0, 0, 1}));
  EXPECT_TRUE(Reservation("VM-1").FieldByName("Cancelled")->AsBoolean());
  EXPECT_TRUE(Occupancy().empty());
  EXPECT_EQ(Ui.TaskMessages.at(0).Content, "0 - new reservations recorded (1 - cancelled)");
  Import({cancelled});
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{0, 0, 0, 0}));
  EXPECT_TRUE(Occupancy().empty());

  // Modified after its cancellation: stored again, still cancelled, still holding no nights.
  cancelled.Modified = 1;
  cancelled.Arrival = SepDay(20);
  cancelled.Departure = SepDay(22);
  Import({cancelled});
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{1, 0, 0, 0}));
  EXPECT_EQ(Reservation("VM-1").FieldByName("ArrivalDate")->AsDateTime(), Sep(20));
  EXPECT_TRUE(r.FieldByName("Cancelled")->AsBoolean());
  EXPECT_TRUE(Occupancy().empty());

  // Modified but never stored: a new booking with a guest of its own; VM-1 untouched.
  BookingItem unknown = Booking("VM-9", "STE", 6, 8);
  unknown.Modified = 1;
  Import({unknown});
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{1, 0, 0, 0}));
  EXPECT_EQ(Field(Reservation("VM-9"), "GuestCode"), "000043");
  EXPECT_EQ(Count(*DM->tblGuestData), 2);
  EXPECT_EQ(Reservation("VM-1").FieldByName("ArrivalDate")->AsDateTime(), Sep(20));
  EXPECT_EQ(Occupancy(), Nights(3, {6, 7}));
}

TEST_F(BookingImport, EachItemStartsFromTheResetRecords) {
  Import({Booking("VM-1", "STE", 6, 9), Booking("VM-2", "STE", 6, 9)});
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{2, 0, 0, 0}));
  // Only the first item says modified and a status; the second, known, is
  // therefore merely counted.
  ImportXml(
      "<valmora><bookings>"
      "<item><id>VM-1</id><modified>1</modified><status>cancelled</status><room_id>STE</room_id>"
      "<start_date>2016-09-06</start_date><end_date>2016-09-09</end_date></item>"
      "<item><id>VM-2</id><room_id>STE</room_id>"
      "<start_date>2016-09-06</start_date><end_date>2016-09-09</end_date></item>"
      "</bookings></valmora>");
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{1, 0, 1, 0}));
  EXPECT_FALSE(Reservation("VM-1").FieldByName("Cancelled")->AsBoolean());
  EXPECT_EQ(Occupancy(), [] {
    auto rows = Nights(3, {6, 7, 8});
    for (auto& [day, counts] : rows) counts[0] = counts[3] = 2;
    return rows;
  }());
}

TEST_F(BookingImport, AReplyWithoutItemsShowsTheServicesDescriptionOrThatThereIsNone) {
  struct Case {
    bool silent;
    const char* reply;
    std::vector<ui::TaskMessage> shown;
  };
  const ui::TaskMessage described{"Error", ui::tiInformation, "Error", "No rooms loaded yet", "",
                                  "Close"};
  const ui::TaskMessage none{
      "Information", ui::tiInformation, "No reservation", "No new reservations", "", "Close"};
  const char* withText =
      "<valmora><description> No rooms loaded yet </description><description>2nd</description>"
      "</valmora>";
  const Case cases[] = {
      {false, withText, {described}},
      {true, withText, {described}},
      {false, "<valmora><bookings/></valmora>", {none}},
      {true, "<valmora><bookings/></valmora>", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.reply) + (c.silent ? " silent" : ""));
    ModuleState().Silent = c.silent;
    ImportXml(c.reply);
    EXPECT_EQ(Ui.TaskMessages, c.shown);
    EXPECT_EQ(Counters(), (std::array<int32_t, 4>{0, 0, 0, 0}));
  }
}

TEST_F(BookingImport, ABadNumberStopsTheImportAndKeepsTheBookingsBeforeIt) {
  // An outcome row of an earlier import goes at the start.
  Import({Booking("VM-0", "DBL", 6, 9)});
  for (bool silent : {false, true}) {
    SCOPED_TRACE(silent);
    ModuleState().Silent = silent;
    ImportXml(
        "<valmora><bookings>"
        "<item><id>VM-1</id><room_id>STE</room_id><start_date>2016-09-06</start_date>"
        "<end_date>2016-09-09</end_date></item>"
        "<item><id>VM-2</id><room_id>STE</room_id><children></children></item>"
        "<item><id>VM-3</id><room_id>STE</room_id><start_date>2016-09-06</start_date>"
        "<end_date>2016-09-09</end_date></item>"
        "</bookings></valmora>");
    std::vector<ui::TaskMessage> shown;
    if (!silent)
      shown.push_back(ui::TaskMessage{"Error", ui::tiError, "Error",
                                      "'' is not a valid integer value", "", "Close"});
    EXPECT_EQ(Ui.TaskMessages, shown);
    // Silent the second time, VM-1 is known already.
    EXPECT_EQ(Counters(), (std::array<int32_t, 4>{silent ? 0 : 1, 0, silent ? 1 : 0, 0}));
    EXPECT_EQ(Count(*DM->tblGuestData), 1);
    EXPECT_EQ(Reservation("VM-1").FieldByName("Cancelled")->AsBoolean(), false);
    EXPECT_EQ(Outcomes().count("VM-0"), 0u);
    // The records are reset for whatever comes next.
    EXPECT_EQ(ModuleState().GuestDataRec.TravelBookingNo, "");
  }
}

TEST_F(BookingImport, ABookingWhosePostAnotherConnectionBlocksLeavesNothingAndIsNotCounted) {
  testsupport::FakeClockScope clock;
  // Another connection to the file holds Occupancy for its open transaction.
  vex::TVEXSession otherSession(nullptr);
  otherSession.SetSessionName("Other");
  vex::TVEXDatabase other(nullptr);
  other.SetSessionName("Other");
  other.SetDatabaseName("OtherHotel");
  other.SetDatabaseFileName(DM->Reservation->DatabaseFileName());
  other.SetMultiUser(true);
  other.Open();
  vex::TVEXTable occupancy(nullptr);
  occupancy.SetSessionName("Other");
  occupancy.SetDatabaseName("OtherHotel");
  occupancy.SetTableName("Occupancy");
  occupancy.Open();
  other.StartTransaction();
  occupancy.Append();
  occupancy.FieldByName("OccDate")->SetAsDateTime(Sep(1));
  occupancy.FieldByName("RoomsOccupied")->SetAsInteger(1);
  occupancy.Post();

  Import({Booking("VM-1", "STE", 6, 9), Booking("VM-2", "STE", 6, 9)});
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(Count(*DM->tblGuestName), 0);
  EXPECT_EQ(Count(*DM->tblGuestData), 0);
  EXPECT_TRUE(Outcomes().empty());
  ASSERT_EQ(Ui.TaskMessages.size(), 1u);
  EXPECT_EQ(Ui.TaskMessages[0].Icon, ui::tiError);
  EXPECT_EQ(Ui.TaskMessages[0].Content, "Vexolite Engine Error # -13 Table is locked");

  // Once the other connection lets go, the same reply is stored.
  other.Rollback();
  Import({Booking("VM-1", "STE", 6, 9), Booking("VM-2", "STE", 6, 9)});
  EXPECT_EQ(Counters(), (std::array<int32_t, 4>{2, 0, 0, 0}));
  EXPECT_EQ(Reservation("VM-1").FieldByName("GuestCode")->AsString(), "000042");
  // Nothing of the refused attempt was posted late.
  EXPECT_EQ(Occupancy(), [] {
    auto rows = Nights(3, {6, 7, 8});
    for (auto& [day, counts] : rows) counts[0] = counts[3] = 2;
    return rows;
  }());
  occupancy.Close();
  other.Close();
}

// Several replies of generated bookings, new, modified, cancelled and sent
// again: afterwards Occupancy holds exactly the nights of the reservations that
// are not cancelled, every guest code is unique, and every guest the import
// made has its reservation.
TEST_F(BookingImport, AfterManyRepliesOccupancyEqualsTheNightsOfTheReservationsNotCancelled) {
  Room("102", 1, "A102");
  Room("103", 1, "A103");
  Room("303", 3, "C303");
  valmora::WriteRoomId(2, "DBL");
  Room("201", 2, "B201");
  Room("202", 2, "B202");
  ModuleState().Silent = true;
  // "XXX" is mapped to no type: refused with outcome 1.
  valmora_stub::BookingGenerator generator(7, {"SGL", "DBL", "STE", "XXX"}, SepDay(1), 20, 5);
  const int rounds[][4] = {{12, 0, 0, 0}, {10, 4, 2, 2}, {8, 5, 4, 3}, {6, 6, 3, 4}, {4, 6, 6, 2}};
  int stored = 0, cancelled = 0, known = 0;
  for (const auto& r : rounds) {
    std::vector<BookingItem> items = generator.Mix(r[0], r[1], r[2], r[3]);
    Import(items);
    stored += ModuleState().StoredCount;
    cancelled += ModuleState().CancelledCount;
    known += ModuleState().ExistCount;
    EXPECT_TRUE(Ui.TaskMessages.empty());
    // Every item counts once, except a cancellation of a booking cancelled already.
    EXPECT_LE(static_cast<size_t>(ModuleState().StoredCount + ModuleState().ErrorCount +
                                  ModuleState().ExistCount + ModuleState().CancelledCount),
              items.size());
  }
  EXPECT_GT(stored, 20);
  EXPECT_GT(cancelled, 0);
  EXPECT_GT(known, 0);

  std::map<std::string, int> roomTypes;
  vex::TVEXTable& rooms = *DM->tblRoomType;
  for (rooms.First(); !rooms.Eof(); rooms.Next())
    roomTypes[Field(rooms, "RoomNo")] = rooms.FieldByName("RoomType")->AsInteger();

  std::map<int64_t, NightCounts> expected;
  std::set<std::string> reservedGuests;
  vex::TVEXTable& g = *DM->tblGuestData;
  for (g.First(); !g.Eof(); g.Next()) {
    reservedGuests.insert(Field(g, "GuestCode"));
    if (g.FieldByName("Cancelled")->AsBoolean()) continue;
    int type = roomTypes.at(Field(g, "RoomNumber"));
    int64_t first = valmora::CalendarDay(g.FieldByName("ArrivalDate")->AsDateTime());
    int64_t last = valmora::CalendarDay(g.FieldByName("DepartureDate")->AsDateTime());
    EXPECT_EQ(g.FieldByName("NoNights")->AsInteger(), last - first);
    for (int64_t day = first; day < last; ++day) {
      expected[day][0] += 1;
      expected[day][static_cast<size_t>(type)] += 1;
    }
  }
  EXPECT_EQ(Occupancy(), expected);

  std::set<std::string> codes;
  vex::TVEXTable& guests = *DM->tblGuestName;
  for (guests.First(); !guests.Eof(); guests.Next()) {
    std::string code = Field(guests, "GuestCode");
    EXPECT_TRUE(codes.insert(code).second) << code;
    EXPECT_EQ(reservedGuests.count(code), 1u) << code;
  }
}

}  // namespace
