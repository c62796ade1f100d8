#include "ReservationDatabase.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "components/VEXDatabase.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "rtl/Guid.h"

namespace lodgemark {

namespace {

using namespace vex;

// Widths of the host's text fields: room numbers and codes are short; what
// the channel manager sends (names, addresses, booking numbers) gets room to
// spare.
constexpr int32_t kCode = 20;
constexpr int32_t kName = 100;
constexpr int32_t kLine = 255;

struct TTableDefinition {
  const char* Name;
  void (*Define)(TVEXAdvFieldDefs& Fields, TVEXAdvIndexDefs& Indexes);
};

void DefineRoomType(TVEXAdvFieldDefs& f, TVEXAdvIndexDefs& i) {
  f.Add("RoomNo", aftString, kCode, true);
  f.Add("RoomType", aftInteger, 0, false);
  f.Add("CalOccupancy", aftString, 1, false);
  f.Add("RoomSortNo", aftString, kCode, false);
  f.Add("DoubleRate", aftCurrency, 0, false);
  i.Add("idxRoomNo", "RoomNo", db::TIndexOptions{db::ixUnique});
}

void DefineOccupancy(TVEXAdvFieldDefs& f, TVEXAdvIndexDefs& i) {
  f.Add("OccDate", aftDate, 0, true);
  f.Add("RoomsOccupied", aftInteger, 0, false);
  f.Add("RoomsAvailable", aftInteger, 0, false);
  for (int type = 1; type <= 16; ++type) {
    f.Add("Type" + std::to_string(type) + "Occupied", aftInteger, 0, false);
    f.Add("Type" + std::to_string(type) + "Available", aftInteger, 0, false);
  }
  f.Add("CompanyCode", aftString, kCode, false);
  i.Add("idxOccDate", "OccDate", db::TIndexOptions{db::ixUnique});
}

void DefineOccInventory(TVEXAdvFieldDefs& f, TVEXAdvIndexDefs& i) {
  f.Add("ID", aftAutoInc, 0, false);
  f.Add("Type", aftInteger, 0, false);
  f.Add("OccFromDate", aftDate, 0, false);
  f.Add("OccToDate", aftDate, 0, false);
  f.Add("Available", aftInteger, 0, false);
  i.Add("idxID", "ID", db::TIndexOptions{db::ixPrimary});
}

void DefineGuestName(TVEXAdvFieldDefs& f, TVEXAdvIndexDefs& i) {
  f.Add("GuestCode", aftString, kCode, true);
  for (const char* name : {"GivenName", "FamilyName", "CompName"})
    f.Add(name, aftString, kName, false);
  for (const char* name : {"Address1", "Address2"}) f.Add(name, aftString, kLine, false);
  for (const char* name : {"City", "State", "PhoneNumber"}) f.Add(name, aftString, kName, false);
  f.Add("Email", aftString, kLine, false);
  f.Add("PostCode", aftString, kCode, false);
  f.Add("Country", aftString, kName, false);
  i.Add("idxGuestCode", "GuestCode", db::TIndexOptions{db::ixUnique});
}

void DefineGuestData(TVEXAdvFieldDefs& f, TVEXAdvIndexDefs& i) {
  f.Add("GuestID", aftAutoInc, 0, false);
  f.Add("GuestCode", aftString, kCode, false);
  f.Add("BookingDate", aftDateTime, 0, false);
  f.Add("ArrivalDate", aftDateTime, 0, false);
  f.Add("DepartureDate", aftDateTime, 0, false);
  f.Add("RoomNumber", aftString, kCode, false);
  f.Add("RoomSortNo", aftString, kCode, false);
  f.Add("TravelAgent", aftString, kName, false);
  f.Add("TravelBookingNo", aftString, kName, false);
  f.Add("RoomRateQuoted", aftCurrency, 0, false);
  f.Add("InclGST", aftBoolean, 0, false);
  f.Add("Gurantee", aftInteger, 0, false);
  f.Add("NumberAdults", aftInteger, 0, false);
  f.Add("NumberChildren", aftInteger, 0, false);
  f.Add("Arrivaltime", aftDateTime, 0, false);
  f.Add("TariffCode", aftString, kCode, false);
  f.Add("LockRoomRate", aftBoolean, 0, false);
  f.Add("SpecRequirements", aftMemo, 0, false);
  f.Add("NoNights", aftInteger, 0, false);
  f.Add("Cancelled", aftBoolean, 0, false);
  i.Add("idxTravelBookingNo", "TravelBookingNo", db::TIndexOptions{});
  i.Add("idxRoomNumber", "RoomNumber", db::TIndexOptions{});
}

void DefineGuestNotes(TVEXAdvFieldDefs& f, TVEXAdvIndexDefs& i) {
  f.Add("GuestCode", aftString, kCode, false);
  f.Add("Notes", aftMemo, 0, false);
  i.Add("idxGuestCode", "GuestCode", db::TIndexOptions{});
}

void DefineGroup(TVEXAdvFieldDefs& f, TVEXAdvIndexDefs&) {
  f.Add("GroupCode", aftString, kCode, false);
  f.Add("GroupName", aftString, kName, false);
}

void DefineOtaResponse(TVEXAdvFieldDefs& f, TVEXAdvIndexDefs& i) {
  f.Add("BookingNo", aftString, kName, false);
  f.Add("TravelID", aftString, kName, false);
  f.Add("GuestID", aftString, kCode, false);
  f.Add("ResIDType", aftString, kName, false);
  f.Add("ResIDValue", aftString, kName, false);
  f.Add("Valid", aftInteger, 0, false);
  i.Add("idxBookingNo", "BookingNo", db::TIndexOptions{});
}

constexpr TTableDefinition kTables[] = {
    {"RoomType", DefineRoomType},
    {"Occupancy", DefineOccupancy},
    {"OccInventory", DefineOccInventory},
    {"GuestName", DefineGuestName},
    {"GuestData", DefineGuestData},
    {"GuestNotes", DefineGuestNotes},
    {"Group", DefineGroup},
    {"OtaResponse", DefineOtaResponse},
};

// A table component on Database's name, opened; closed and freed with it.
std::unique_ptr<TVEXTable> OpenTable(TVEXDatabase& Database, const char* TableName) {
  auto table = std::make_unique<TVEXTable>(nullptr);
  table->SetSessionName(Database.SessionName());
  table->SetDatabaseName(Database.DatabaseName());
  table->SetTableName(TableName);
  table->Open();
  return table;
}

}  // namespace

void CreateReservationDatabase(const std::string& FileName, int32_t MaxConnections) {
  auto database = std::make_unique<TVEXDatabase>(nullptr);
  // A name of its own, so it meets no database component of the caller.
  database->SetDatabaseName("LodgemarkSetup" + rtl::GUIDToString(rtl::CreateGUID()));
  database->SetDatabaseFileName(FileName);
  database->SetMaxConnections(MaxConnections);
  database->CreateDatabase();
  try {
    database->Open();
    for (const TTableDefinition& definition : kTables) {
      TVEXTable table(nullptr);
      table.SetDatabaseName(database->DatabaseName());
      table.SetTableName(definition.Name);
      definition.Define(table.AdvFieldDefs(), table.AdvIndexDefs());
      table.CreateTable();
    }
    database->Close();
  } catch (...) {
    database->Close();
    std::remove(FileName.c_str());
    throw;
  }
}

void AddRoom(vex::TVEXDatabase& Database, const THostRoom& Room) {
  auto table = OpenTable(Database, "RoomType");
  table->Append();
  table->FieldByName("RoomNo")->SetAsString(Room.RoomNo);
  if (Room.RoomType) table->FieldByName("RoomType")->SetAsInteger(*Room.RoomType);
  if (Room.CalOccupancy) table->FieldByName("CalOccupancy")->SetAsString(*Room.CalOccupancy);
  table->FieldByName("RoomSortNo")->SetAsString(Room.RoomSortNo);
  table->FieldByName("DoubleRate")->SetAsCurrency(Room.DoubleRate);
  table->Post();
}

int32_t AddReservation(vex::TVEXDatabase& Database, const THostReservation& Reservation) {
  auto table = OpenTable(Database, "GuestData");
  table->Append();
  table->FieldByName("GuestCode")->SetAsString(Reservation.GuestCode);
  table->FieldByName("BookingDate")->SetAsDateTime(Reservation.ArrivalDate);
  table->FieldByName("ArrivalDate")->SetAsDateTime(Reservation.ArrivalDate);
  table->FieldByName("DepartureDate")->SetAsDateTime(Reservation.DepartureDate);
  table->FieldByName("RoomNumber")->SetAsString(Reservation.RoomNumber);
  table->FieldByName("TravelBookingNo")->SetAsString(Reservation.TravelBookingNo);
  table->FieldByName("Gurantee")->SetAsInteger(Reservation.Gurantee);
  table->FieldByName("NoNights")
      ->SetAsInteger(static_cast<int32_t>(std::trunc(Reservation.DepartureDate) -
                                          std::trunc(Reservation.ArrivalDate)));
  if (Reservation.Cancelled) table->FieldByName("Cancelled")->SetAsBoolean(*Reservation.Cancelled);
  table->Post();
  return table->FieldByName("GuestID")->AsInteger();
}

void AddGuest(vex::TVEXDatabase& Database, const std::string& GuestCode,
              const std::string& FamilyName) {
  auto table = OpenTable(Database, "GuestName");
  table->Append();
  table->FieldByName("GuestCode")->SetAsString(GuestCode);
  table->FieldByName("FamilyName")->SetAsString(FamilyName);
  table->Post();
}

}  // namespace lodgemark
