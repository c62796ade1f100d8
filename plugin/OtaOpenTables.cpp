#include "OtaOpenTables.h"

#include <array>
#include <cmath>

#include "OtaDataCheck.h"
#include "OtaDataModule.h"
#include "OtaGfgIni.h"
#include "OtaQueryText.h"
#include "components/VEXDatabase.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "db/Params.h"
#include "rtl/Variant.h"

namespace valmora {

std::string DatabaseNameOfFile(const std::string& Path) {
  const size_t slash = Path.find_last_of('/');
  std::string name = slash == std::string::npos ? Path : Path.substr(slash + 1);
  const size_t dot = name.find('.');
  return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

void OpenReservationDatabase(TDM& DM) {
  const std::string path = ReadDataDir() + "/" + ReadDataBaseFileName();
  vex::TVEXDatabase& database = *DM.Reservation;
  database.Close();
  database.SetConnected(false);
  database.SetDatabaseFileName(path);
  // Named after its file, whatever the module called it, and the datasets
  // follow before the connection opens.
  const std::string name = DatabaseNameOfFile(path);
  SetDatabaseNames(DM, name);
  database.SetDatabaseName(name);
  database.SetMultiUser(true);
  database.SetMaxConnections(5);
  database.SetConnected(true);
}

void SetDatabaseNames(TDM& DM, const std::string& Name) {
  for (vex::TVEXDataSet* dataSet : std::array<vex::TVEXDataSet*, 12>{
           DM.tblOccInventory, DM.tblOccupancy, DM.tblRoomType, DM.tblGuestName, DM.tblGuestData,
           DM.tblGroup, DM.tblGuestNotes, DM.tblOtaResponse, DM.qryOccupancy, DM.qryRoomType,
           DM.qryGuestData, DM.qryGuestName})
    dataSet->SetDatabaseName(Name);
}

void SetTablesActive(TDM& DM, bool Active) {
  for (vex::TVEXTable* table : std::array<vex::TVEXTable*, 8>{
           DM.tblOccupancy, DM.tblOccInventory, DM.tblRoomType, DM.tblGuestName, DM.tblGuestData,
           DM.tblGroup, DM.tblGuestNotes, DM.tblOtaResponse})
    table->SetActive(Active);
}

void RebuildOccInventory(TDM& DM, rtl::TDateTime Start, rtl::TDateTime End) {
  // Rooms per type from the whole table: every room not marked "N" counts, an
  // empty or null mark too; a null type is type 1, as in CountRoomsByType.
  std::array<int32_t, kRoomTypeCount> rooms{};
  vex::TVEXTable& roomTable = *DM.tblRoomType;
  for (roomTable.First(); !roomTable.Eof(); roomTable.Next()) {
    if (roomTable.FieldByName("CalOccupancy")->AsString() == "N") continue;
    db::TField& typeField = *roomTable.FieldByName("RoomType");
    const int32_t type = typeField.IsNull() ? 1 : typeField.AsInteger();
    if (type >= 1 && type <= kRoomTypeCount) ++rooms[type - 1];
  }

  vex::TVEXTable& inventory = *DM.tblOccInventory;
  inventory.Open();
  inventory.First();
  while (!inventory.Eof()) inventory.Delete();

  // Days are calendar days: the queries, the locates and the rows all use the
  // day's date, so a start at a time of day covers its whole day.
  const rtl::TDateTime first = std::trunc(Start);
  const rtl::TDateTime last = std::trunc(End);
  vex::TVEXQuery& occupancy = *DM.qryOccupancy;
  SetQueryText(occupancy, {"Select * from Occupancy", "Where (OccDate between :ADate and :DDate) ",
                           "Order by OccDate"});
  occupancy.Prepare();
  occupancy.ParamByName("ADate")->SetAsDate(first);
  occupancy.ParamByName("DDate")->SetAsDate(last);
  occupancy.Open();

  vex::TVEXQuery& types = *DM.qryRoomType;
  SetQueryText(types, {"Select distinct RoomType, CalOccupancy from RoomType",
                       "Where CalOccupancy = :CalOcc ", "Order by RoomType"});
  types.Prepare();
  types.ParamByName("CalOcc")->SetAsString("Y");
  types.Open();
  std::array<bool, kRoomTypeCount> offered{};
  for (types.First(); !types.Eof(); types.Next()) {
    const int32_t type = types.FieldByName("RoomType")->AsInteger();
    if (type >= 1 && type <= kRoomTypeCount) offered[type - 1] = true;
  }

  const int64_t days = CalendarDay(last) - CalendarDay(first) + 1;
  int32_t lastID = 0;
  for (int32_t type = 1; type <= kRoomTypeCount; ++type) {
    if (!offered[type - 1]) continue;
    const std::string availableField = "Type" + std::to_string(type) + "Available";
    const int32_t count = rooms[type - 1];
    int32_t runValue = 0;
    rtl::TDateTime runStart = first;
    for (int64_t i = 0; i < days; ++i) {
      const rtl::TDateTime day = first + static_cast<double>(i);
      int32_t available = count;
      if (occupancy.Locate("OccDate", rtl::Variant::FromDate(day), {})) {
        const int32_t free = occupancy.FieldByName(availableField)->AsInteger();
        if (free < available) available = free;
      }
      if (available < 0) available = 0;
      if (available != runValue) {
        runValue = available;
        runStart = day;
        inventory.Append();
      } else if (inventory.Locate("Type;ID", rtl::Variant::ArrayOf({type, lastID}), {})) {
        inventory.Edit();
      } else {
        // The first day of a type with nothing free: the run starts here.
        inventory.Append();
      }
      inventory.FieldByName("OccFromDate")->SetAsDateTime(runStart);
      inventory.FieldByName("OccToDate")->SetAsDateTime(day);
      inventory.FieldByName("Type")->SetAsInteger(type);
      inventory.FieldByName("Available")->SetAsInteger(runValue);
      inventory.Post();
      lastID = inventory.FieldByName("ID")->AsInteger();
    }
  }
}

}  // namespace valmora
