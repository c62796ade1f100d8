// Occupancy upkeep over a database of the host's schema: the room check, the
// night counts of Occupancy, the inventory rebuild and the rate query.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "HostDatabaseFixture.h"
#include "OtaDataCheck.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "rtl/DateTime.h"
#include "rtl/Variant.h"

namespace {

using namespace valmora;
using lodgemark::THostReservation;
using lodgemark::THostRoom;

// Day D of September 2026, at Hour o'clock.
rtl::TDateTime Sep(int Day, int Hour = 0) {
  return rtl::EncodeDate(2026, 9, Day) + rtl::EncodeTime(Hour, 0, 0, 0);
}
int DayOfSep(rtl::TDateTime Value) { return static_cast<int>(std::trunc(Value) - Sep(1)) + 1; }

class Occupancy : public HostDatabaseFixture {
 protected:
  void SetUp() override {
    HostDatabaseFixture::SetUp();
    Open();
  }
  void Room(const std::string& No, std::optional<int32_t> Type,
            std::optional<std::string> Cal = std::string("Y")) {
    lodgemark::AddRoom(*DM->Reservation, {No, Type, std::move(Cal), No, rtl::Currency()});
  }
  // Count rooms of Type named <Prefix>1.. <Prefix>Count.
  void Rooms(const std::string& Prefix, int32_t Type, int Count) {
    for (int i = 1; i <= Count; ++i) Room(Prefix + std::to_string(i), Type);
  }
  int32_t Reserve(const std::string& RoomNo, rtl::TDateTime Arrival, rtl::TDateTime Departure,
                  std::optional<bool> Cancelled = false) {
    THostReservation r;
    r.RoomNumber = RoomNo;
    r.ArrivalDate = Arrival;
    r.DepartureDate = Departure;
    r.Cancelled = Cancelled;
    return lodgemark::AddReservation(*DM->Reservation, r);
  }
  // An Occupancy row as the host may hold it: the free rooms of some types.
  void Night(int Day, const std::map<int, int32_t>& TypeAvailable) {
    vex::TVEXTable& t = *DM->tblOccupancy;
    t.Append();
    t.FieldByName("OccDate")->SetAsDateTime(Sep(Day));
    t.FieldByName("RoomsOccupied")->SetAsInteger(1);
    for (const auto& [type, free] : TypeAvailable)
      t.FieldByName("Type" + std::to_string(type) + "Available")->SetAsInteger(free);
    t.Post();
  }
  // Moves tblOccupancy to the row of the day; false when there is none.
  bool Row(int Day) {
    return DM->tblOccupancy->Locate("OccDate", rtl::Variant::FromDate(Sep(Day)), {});
  }
  int32_t Int(const std::string& Field) {
    return DM->tblOccupancy->FieldByName(Field)->AsInteger();
  }
  std::vector<int> OccupiedDays() {
    std::vector<int> days;
    vex::TVEXTable& t = *DM->tblOccupancy;
    for (t.First(); !t.Eof(); t.Next())
      days.push_back(DayOfSep(t.FieldByName("OccDate")->AsDateTime()));
    return days;
  }
  using Run = std::tuple<int32_t, int, int, int32_t>;  // type, first day, last day, free
  std::vector<Run> Inventory() {
    std::vector<Run> runs;
    vex::TVEXTable& t = *DM->tblOccInventory;
    for (t.First(); !t.Eof(); t.Next())
      runs.emplace_back(t.FieldByName("Type")->AsInteger(),
                        DayOfSep(t.FieldByName("OccFromDate")->AsDateTime()),
                        DayOfSep(t.FieldByName("OccToDate")->AsDateTime()),
                        t.FieldByName("Available")->AsInteger());
    return runs;
  }
};

TEST(CalendarDays, AStaysNightsAreItsCalendarDaysAndAtLeastOne) {
  struct {
    rtl::TDateTime Arrival, Departure;
    int32_t Nights;
  } const cases[] = {
      {Sep(6), Sep(9), 3},         {Sep(6, 14), Sep(8, 10), 2}, {Sep(6, 10), Sep(8, 14), 2},
      {Sep(6, 10), Sep(6, 18), 1}, {Sep(6), Sep(6), 1},         {Sep(9), Sep(6), 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StayNights(c.Arrival, c.Departure), c.Nights) << c.Arrival << " " << c.Departure;
  }
  EXPECT_EQ(CompareCalendarDays(Sep(6, 1), Sep(6, 23)), 0);
  EXPECT_EQ(CompareCalendarDays(Sep(6, 23), Sep(7, 1)), -1);
  EXPECT_EQ(CompareCalendarDays(Sep(7), Sep(6, 23)), 1);
}

using RoomCheck = Occupancy;

TEST_F(RoomCheck, AStayIsTakenExactlyWhenItSharesANightWithTheReservation) {
  Room("101", 1);
  Room("102", 1);
  Reserve("101", Sep(3, 14), Sep(5, 10));
  struct {
    int Arrival, Departure;
    bool Taken;
  } const cases[] = {{5, 7, false}, {1, 3, false}, {4, 6, true}, {1, 4, true},
                     {3, 4, true},  {1, 9, true},  {3, 5, true}, {4, 5, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsRoomBooked(*DM, "101", 0, Sep(c.Arrival, 14), Sep(c.Departure, 10)), c.Taken)
        << c.Arrival << "-" << c.Departure;
    EXPECT_FALSE(IsRoomBooked(*DM, "102", 0, Sep(c.Arrival), Sep(c.Departure)));
  }
  EXPECT_FALSE(DM->qryGuestData->Active());
}

TEST_F(RoomCheck, CancelledOwnAndLongPastReservationsDoNotTakeTheRoom) {
  Room("201", 2);
  Room("202", 2);
  Room("203", 2);
  Room("204", 2);
  Reserve("201", Sep(3), Sep(5), true);
  Reserve("202", Sep(3), Sep(5), std::nullopt);
  const int32_t own = Reserve("203", Sep(3), Sep(5));
  // Arrived 40 days before the stay and still running.
  Reserve("204", Sep(4) - 40, Sep(20));

  EXPECT_FALSE(IsRoomBooked(*DM, "201", 0, Sep(4), Sep(6)));
  EXPECT_TRUE(IsRoomBooked(*DM, "202", 0, Sep(4), Sep(6)));
  EXPECT_FALSE(IsRoomBooked(*DM, "203", own, Sep(4), Sep(6)));
  EXPECT_TRUE(IsRoomBooked(*DM, "203", own + 100, Sep(4), Sep(6)));
  EXPECT_FALSE(IsRoomBooked(*DM, "204", 0, Sep(4), Sep(6)));
  HostKey("Preference").WriteInteger("MaxNoNights", 50);
  EXPECT_TRUE(IsRoomBooked(*DM, "204", 0, Sep(4), Sep(6)));
}

using NightCounts = Occupancy;

TEST_F(NightCounts, AThreeNightStayOnAnEmptyTableWritesEveryCount) {
  Rooms("1", 1, 4);
  Rooms("2", 2, 5);
  Rooms("3", 3, 3);
  Room("N1", 2, "N");
  UpdateOccupancy(*DM, "21", true, Sep(6), Sep(9));
  EXPECT_EQ(ModuleState().RoomCount, 12);
  EXPECT_EQ(OccupiedDays(), (std::vector<int>{6, 7, 8}));
  const std::map<int, int32_t> rooms{{1, 4}, {2, 5}, {3, 3}};
  for (int day : {6, 7, 8}) {
    SCOPED_TRACE(day);
    ASSERT_TRUE(Row(day));
    EXPECT_EQ(Int("RoomsOccupied"), 1);
    EXPECT_EQ(Int("RoomsAvailable"), 11);
    EXPECT_EQ(Int("Type2Occupied"), 1);
    EXPECT_EQ(Int("Type2Available"), 4);
    for (int k = 1; k <= 16; ++k) {
      if (k == 2) continue;
      const int32_t count = rooms.count(k) ? rooms.at(k) : 0;
      EXPECT_EQ(Int("Type" + std::to_string(k) + "Available"), count) << k;
      EXPECT_EQ(Int("Type" + std::to_string(k) + "Occupied"), 0) << k;
    }
    EXPECT_TRUE(DM->tblOccupancy->FieldByName("CompanyCode")->AsString().empty());
  }
}

TEST_F(NightCounts, StaysAddUpAndTakingTheLastNightOfADateDeletesItsRow) {
  Rooms("1", 1, 4);
  UpdateOccupancy(*DM, "11", true, Sep(6), Sep(9));
  UpdateOccupancy(*DM, "12", true, Sep(8), Sep(10));
  ASSERT_TRUE(Row(8));
  EXPECT_EQ(Int("RoomsOccupied"), 2);
  EXPECT_EQ(Int("Type1Available"), 2);

  UpdateOccupancy(*DM, "11", false, Sep(6), Sep(9));
  EXPECT_EQ(OccupiedDays(), (std::vector<int>{8, 9}));
  ASSERT_TRUE(Row(8));
  EXPECT_EQ(Int("RoomsOccupied"), 1);
  EXPECT_EQ(Int("Type1Occupied"), 1);
  EXPECT_EQ(Int("Type1Available"), 3);
  EXPECT_EQ(Int("RoomsAvailable"), 3);
  // Taking away nights that have no row changes nothing.
  UpdateOccupancy(*DM, "11", false, Sep(1), Sep(3));
  EXPECT_EQ(OccupiedDays(), (std::vector<int>{8, 9}));
}

TEST_F(NightCounts, ASameDayStayCountsItsArrivalDate) {
  Rooms("1", 1, 2);
  UpdateOccupancy(*DM, "11", true, Sep(6, 9), Sep(6, 17));
  EXPECT_EQ(OccupiedDays(), (std::vector<int>{6}));
}

TEST_F(NightCounts, RoomsMarkedNAndUnknownRoomsChangeNothing) {
  Rooms("1", 1, 2);
  Room("N1", 1, "N");
  UpdateOccupancy(*DM, "N1", true, Sep(6), Sep(9));
  // The table stands on a counted room; an unknown room must not count as it.
  DM->tblRoomType->First();
  UpdateOccupancy(*DM, "999", true, Sep(6), Sep(9));
  EXPECT_TRUE(OccupiedDays().empty());
}

TEST_F(NightCounts, ARoomWithoutATypeCountsAsType1InTheTotalsButRaisesNoTypesCount) {
  Room("11", 1);
  Room("U1", std::nullopt);
  UpdateOccupancy(*DM, "U1", true, Sep(6), Sep(7));
  EXPECT_EQ(ModuleState().TypeRoomCount[0], 2);
  ASSERT_TRUE(Row(6));
  EXPECT_EQ(Int("RoomsOccupied"), 1);
  EXPECT_EQ(Int("RoomsAvailable"), 1);
  EXPECT_EQ(Int("Type1Occupied"), 0);
  EXPECT_EQ(Int("Type1Available"), 2);
}

// Stays at a time of day find the rows of their calendar days, and a stay
// from 14:00 to 10:00 two days later holds two nights.
TEST_F(NightCounts, StaysAtATimeOfDayWriteTheRowsOfTheirCalendarDays) {
  Rooms("1", 1, 4);
  UpdateOccupancy(*DM, "11", true, Sep(6, 14), Sep(8, 10));
  EXPECT_EQ(OccupiedDays(), (std::vector<int>{6, 7}));
  UpdateOccupancy(*DM, "12", true, Sep(7, 10), Sep(8, 9));
  EXPECT_EQ(OccupiedDays(), (std::vector<int>{6, 7}));
  ASSERT_TRUE(Row(7));
  EXPECT_EQ(Int("RoomsOccupied"), 2);
  EXPECT_DOUBLE_EQ(DM->tblOccupancy->FieldByName("OccDate")->AsDateTime(), Sep(7));
}

using InventoryRebuild = Occupancy;

TEST_F(InventoryRebuild, RunsOfEqualAvailabilityCoverEveryDayOnce) {
  // Four rooms of type 1 count: two marked "Y", one with no mark, one empty;
  // the room marked "N" does not.
  Room("11", 1);
  Room("12", 1);
  Room("13", 1, std::nullopt);
  Room("14", 1, "");
  Room("15", 1, "N");
  for (int day : {3, 4, 5}) Night(day, {{1, 2}});
  RebuildOccInventory(*DM, Sep(1), Sep(10));
  EXPECT_EQ(Inventory(), (std::vector<Run>{{1, 1, 2, 4}, {1, 3, 5, 2}, {1, 6, 10, 4}}));
  EXPECT_TRUE(DM->qryOccupancy->Active());
  EXPECT_TRUE(DM->qryRoomType->Active());
}

TEST_F(InventoryRebuild, AvailabilityIsCappedAtTheRoomsAndNeverNegative) {
  Rooms("1", 1, 4);
  Night(2, {{1, 9}});
  Night(3, {{1, -1}});
  Night(4, {{1, 0}});
  RebuildOccInventory(*DM, Sep(1), Sep(5));
  EXPECT_EQ(Inventory(), (std::vector<Run>{{1, 1, 2, 4}, {1, 3, 4, 0}, {1, 5, 5, 4}}));
}

TEST_F(InventoryRebuild, AFirstDayWithNothingFreeStartsARunOfZero) {
  Rooms("1", 1, 2);
  Rooms("2", 2, 3);
  Night(1, {{1, 0}, {2, 0}});
  Night(2, {{1, 0}, {2, 3}});
  RebuildOccInventory(*DM, Sep(1), Sep(3));
  EXPECT_EQ(Inventory(),
            (std::vector<Run>{{1, 1, 2, 0}, {1, 3, 3, 2}, {2, 1, 1, 0}, {2, 2, 3, 3}}));
}

TEST_F(InventoryRebuild, OnlyTypesWithARoomMarkedYAreOffered) {
  Rooms("1", 1, 2);
  Room("21", 2, std::nullopt);
  Room("31", 3, "N");
  Rooms("4", 4, 1);
  Room("U1", std::nullopt);
  RebuildOccInventory(*DM, Sep(6), Sep(6));
  // A single day gives one row per offered type; the room without a type
  // counts as type 1.
  EXPECT_EQ(Inventory(), (std::vector<Run>{{1, 6, 6, 3}, {4, 6, 6, 1}}));
}

TEST_F(InventoryRebuild, ARebuildReplacesTheLastAndCountsCalendarDaysFromATimeOfDay) {
  Rooms("1", 1, 4);
  Night(7, {{1, 1}});
  RebuildOccInventory(*DM, Sep(1), Sep(20));
  RebuildOccInventory(*DM, Sep(6, 10), Sep(8, 9));
  EXPECT_EQ(Inventory(), (std::vector<Run>{{1, 6, 6, 4}, {1, 7, 7, 1}, {1, 8, 8, 4}}));
}

using RateRooms = Occupancy;

// The dialect compares a column with a text two-valued, so a room without a
// mark differs from "N" and is counted, as in the inventory rebuild.
TEST_F(RateRooms, CountedRoomsOfEveryTypeBut17InTypeOrder) {
  Room("31", 3);
  Room("11", 1);
  Room("171", 17);
  Room("21", 2);
  Room("12", 1, "N");
  Room("13", 1, std::nullopt);
  Room("14", 1, "");
  SelectRateRoomTypes(*DM);
  vex::TVEXQuery& q = *DM->qryRoomType;
  ASSERT_TRUE(q.Active());
  EXPECT_EQ(q.FieldByName("RoomType")->AsInteger(), 1);
  std::vector<int32_t> types;
  std::vector<std::string> rooms;
  for (; !q.Eof(); q.Next()) {
    types.push_back(q.FieldByName("RoomType")->AsInteger());
    rooms.push_back(q.FieldByName("RoomNo")->AsString());
  }
  EXPECT_EQ(types, (std::vector<int32_t>{1, 1, 1, 2, 3}));
  std::sort(rooms.begin(), rooms.end());
  EXPECT_EQ(rooms, (std::vector<std::string>{"11", "13", "14", "21", "31"}));
}

}  // namespace
