// Occupancy upkeep over a database of the host's schema: the room check, the
// night counts of Occupancy, the inventory rebuild and the rate query.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostDatabaseFixture.h"
#include "OtaDataCheck.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "rtl/DateTime.h"

namespace {

using namespace valmora;
using lodgemark::THostReservation;
using lodgemark::THostRoom;

// September of a year: day D is rtl::EncodeDate(2026, 9, D).
rtl::TDateTime Sep(int Day, int Hour = 0) {
  return rtl::EncodeDate(2026, 9, Day) + rtl::EncodeTime(Hour, 0, 0, 0);
}

class OccupancyFixture : public HostDatabaseFixture {
 protected:
  void SetUp() override {
    HostDatabaseFixture::SetUp();
    Open();
  }
  void Room(const std::string& No, std::optional<int32_t> Type, std::optional<std::string> Cal = "Y") {
    THostRoom room;
    room.RoomNo = No;
    room.RoomType = Type;
    room.CalOccupancy = std::move(Cal);
    room.RoomSortNo = No;
    lodgemark::AddRoom(*DM->Reservation, room);
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
};

using RoomCheck = OccupancyFixture;

TEST_F(RoomCheck, Smoke) {
  Room("101", 1);
  Reserve("101", Sep(3), Sep(5));
  EXPECT_TRUE(IsRoomBooked(*DM, "101", 0, Sep(4), Sep(6)));
  EXPECT_FALSE(IsRoomBooked(*DM, "101", 0, Sep(5), Sep(7)));
  CountRoomsByType(*DM);
  EXPECT_EQ(ModuleState().RoomCount, 1);
  UpdateOccupancy(*DM, "101", true, Sep(3), Sep(6));
  EXPECT_EQ(DM->tblOccupancy->RecordCount(), 3);
  RebuildOccInventory(*DM, Sep(1), Sep(10));
  EXPECT_EQ(DM->tblOccInventory->RecordCount(), 3);
  SelectRateRoomTypes(*DM);
  EXPECT_EQ(DM->qryRoomType->RecordCount(), 1);
}

}  // namespace
