#include "OtaDataCheck.h"

#include <cmath>
#include <initializer_list>
#include <string_view>

#include "OtaDataModule.h"
#include "OtaGfgIni.h"
#include "OtaQueryText.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "db/Params.h"
#include "rtl/Format.h"
#include "rtl/Variant.h"

namespace valmora {

int64_t CalendarDay(rtl::TDateTime Value) { return static_cast<int64_t>(std::trunc(Value)); }

int CompareCalendarDays(rtl::TDateTime A, rtl::TDateTime B) {
  const int64_t a = CalendarDay(A);
  const int64_t b = CalendarDay(B);
  return a < b ? -1 : (a > b ? 1 : 0);
}

int32_t StayNights(rtl::TDateTime Arrival, rtl::TDateTime Departure) {
  // Counted in calendar days: whole 24-hour spans would give a stay from
  // 14:00 to 10:00 two days later one night, and it holds two.
  const int64_t nights = CalendarDay(Departure) - CalendarDay(Arrival);
  if (nights < 1) return 1;
  return nights > INT32_MAX ? INT32_MAX : static_cast<int32_t>(nights);
}

bool IsRoomBooked(TDM& DM, const std::string& RoomNo, int32_t GuestID, rtl::TDateTime Arrival,
                  rtl::TDateTime Departure) {
  const int32_t maxNoNights = ReadMaxNoNights();
  vex::TVEXQuery& query = *DM.qryGuestData;
  SetQueryText(query,
               {"Select distinct GD.GuestID, GD.RoomNumber, GD.ArrivalDate, GD.DepartureDate "
                "from GuestData GD ",
                "Where RoomNumber = :RoomNo ", "and ArrivalDate > :ArriveDate",
                "And (GD.Cancelled is NOT TRUE ", "Or GD.Cancelled is NULL );"});
  query.Prepare();
  query.ParamByName("RoomNo")->SetAsString(RoomNo);
  query.ParamByName("ArriveDate")->SetAsDate(std::trunc(Arrival - maxNoNights));
  QueryCloser closer(query);
  query.Open();
  for (query.First(); !query.Eof(); query.Next()) {
    if (query.FieldByName("GuestID")->AsInteger() == GuestID) continue;
    if (query.FieldByName("RoomNumber")->AsString() != RoomNo) continue;
    const rtl::TDateTime a = query.FieldByName("ArrivalDate")->AsDateTime();
    const rtl::TDateTime d = query.FieldByName("DepartureDate")->AsDateTime();
    // The two stays share a night; one that begins on the day the other ends
    // does not.
    if ((CompareCalendarDays(a, Arrival) < 0 && CompareCalendarDays(Arrival, d) < 0) ||
        (CompareCalendarDays(a, Departure) < 0 && CompareCalendarDays(Departure, d) < 0) ||
        (CompareCalendarDays(Arrival, a) <= 0 && CompareCalendarDays(Departure, a) > 0))
      return true;
  }
  return false;
}

void CountRoomsByType(TDM& DM) {
  TModuleState& state = ModuleState();
  state.RoomCount = 0;
  state.TypeRoomCount.fill(0);
  vex::TVEXQuery& query = *DM.qryRoomType;
  SetQueryText(query, {"Select * from RoomType RT", "Where (RT.CalOccupancy <> :CallOcc)"});
  query.Prepare();
  query.ParamByName("CallOcc")->SetAsString("N");
  QueryCloser closer(query);
  query.Open();
  for (query.First(); !query.Eof(); query.Next()) {
    db::TField& type = *query.FieldByName("RoomType");
    const int32_t roomType = type.IsNull() ? 1 : type.AsInteger();
    if (roomType >= 1 && roomType <= kRoomTypeCount) ++state.TypeRoomCount[roomType - 1];
    ++state.RoomCount;
  }
}

namespace {

std::string TypeField(int32_t Type, const char* Kind) {
  return "Type" + std::to_string(Type) + Kind;
}

// Free rooms of the whole house and of every type from the counters and the
// row's booked counts.
void SetAvailable(db::TDataSet& Occupancy, const TModuleState& State) {
  Occupancy.FieldByName("RoomsAvailable")
      ->SetAsInteger(State.RoomCount - Occupancy.FieldByName("RoomsOccupied")->AsInteger());
  for (int32_t k = 1; k <= kRoomTypeCount; ++k)
    Occupancy.FieldByName(TypeField(k, "Available"))
        ->SetAsInteger(State.TypeRoomCount[k - 1] -
                       Occupancy.FieldByName(TypeField(k, "Occupied"))->AsInteger());
}

void AddToField(db::TDataSet& DataSet, const std::string& Name, int32_t Delta) {
  db::TField& field = *DataSet.FieldByName(Name);
  field.SetAsInteger(field.AsInteger() + Delta);
}

}  // namespace

void UpdateOccupancy(TDM& DM, const std::string& RoomNo, bool Add, rtl::TDateTime Arrival,
                     rtl::TDateTime Departure) {
  CountRoomsByType(DM);
  const TModuleState& state = ModuleState();
  vex::TVEXTable& rooms = *DM.tblRoomType;
  // A room the table does not hold changes nothing: the row the table stands
  // on belongs to another room.
  if (!rooms.Locate("RoomNo", rtl::Variant(RoomNo), {})) return;
  if (rooms.FieldByName("CalOccupancy")->AsString() == "N") return;
  const int32_t type = rooms.FieldByName("RoomType")->AsInteger();
  const bool typed = type >= 1 && type <= kRoomTypeCount;

  vex::TVEXTable& occupancy = *DM.tblOccupancy;
  const int32_t nights = StayNights(Arrival, Departure);
  // Rows are found and written by calendar day, so a stay that starts at a
  // time of day finds the rows of its days.
  const rtl::TDateTime first = std::trunc(Arrival);
  for (int32_t night = 0; night < nights; ++night) {
    const rtl::TDateTime day = first + night;
    if (occupancy.Locate("OccDate", rtl::Variant::FromDate(day), {})) {
      occupancy.Edit();
      const int32_t delta = Add ? 1 : -1;
      AddToField(occupancy, "RoomsOccupied", delta);
      if (typed) AddToField(occupancy, TypeField(type, "Occupied"), delta);
      SetAvailable(occupancy, state);
      occupancy.Post();
      if (occupancy.FieldByName("RoomsOccupied")->AsInteger() == 0) occupancy.Delete();
    } else if (Add) {
      occupancy.Append();
      occupancy.FieldByName("OccDate")->SetAsDateTime(day);
      occupancy.FieldByName("RoomsOccupied")->SetAsInteger(1);
      occupancy.FieldByName("RoomsAvailable")->SetAsInteger(state.RoomCount - 1);
      for (int32_t k = 1; k <= kRoomTypeCount; ++k)
        occupancy.FieldByName(TypeField(k, "Available"))->SetAsInteger(state.TypeRoomCount[k - 1]);
      if (typed) {
        occupancy.FieldByName(TypeField(type, "Occupied"))->SetAsInteger(1);
        occupancy.FieldByName(TypeField(type, "Available"))
            ->SetAsInteger(state.TypeRoomCount[type - 1] - 1);
      }
      occupancy.FieldByName("CompanyCode")->SetAsString("");
      occupancy.Post();
    }
  }
}

void SelectRateRoomTypes(TDM& DM) {
  vex::TVEXQuery& query = *DM.qryRoomType;
  SetQueryText(query, {"Select * from RoomType", "Where (CalOccupancy <> :ANo) ",
                       "and (RoomType <> :AType) ", "Order by RoomType"});
  query.Prepare();
  query.ParamByName("ANo")->SetAsString("N");
  query.ParamByName("AType")->SetAsInteger(17);
  query.Open();
  query.First();
}

}  // namespace valmora
