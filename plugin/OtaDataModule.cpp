#include "OtaDataModule.h"

#include <memory>

#include "components/VEXDatabase.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/DataSet.h"
#include "foundation/VEXStartup.h"
#include "rtl/Lists.h"

namespace valmora {

namespace {

constexpr const char* kDatabaseName = "Reservation";

vex::TVEXTable* NewTable(TDM* Owner, const char* Name, const char* TableName) {
  auto* table = new vex::TVEXTable(Owner);
  table->SetName(Name);
  table->SetDatabaseName(kDatabaseName);
  table->SetTableName(TableName);
  table->SetInMemory(false);
  table->SetReadOnly(false);
  table->SetExclusive(false);
  return table;
}

vex::TVEXQuery* NewQuery(TDM* Owner, const char* Name, const char* Sql) {
  auto* query = new vex::TVEXQuery(Owner);
  query->SetName(Name);
  query->SetDatabaseName(kDatabaseName);
  query->SetInMemory(false);
  query->SetReadOnly(false);
  if (Sql != nullptr) query->SQL().Add(Sql);
  return query;
}

}  // namespace

// Declaration order of the host's form: the owner frees from the last, so
// every dataset goes before the database it works on.
TDM::TDM(rtl::TComponent* AOwner) : rtl::TComponent(AOwner) {
  SetName("DM");
  Reservation = new vex::TVEXDatabase(this);
  Reservation->SetName("Reservation");
  Reservation->SetSessionName("Default");
  Reservation->SetDatabaseName(kDatabaseName);
  Reservation->SetMultiUser(true);
  Reservation->SetMaxConnections(5);
  Reservation->SetExclusive(false);
  tblOccInventory = NewTable(this, "tblOccInventory", "OccInventory");
  tblRoomType = NewTable(this, "tblRoomType", "RoomType");
  qryOccupancy = NewQuery(this, "qryOccupancy", "Select * from Occupancy");
  tblOccupancy = NewTable(this, "tblOccupancy", "Occupancy");
  qryRoomType = NewQuery(this, "qryRoomType", "Select * from Occupancy");
  tblGuestName = NewTable(this, "tblGuestName", "GuestName");
  tblGuestData = NewTable(this, "tblGuestData", "GuestData");
  qryGuestData = NewQuery(this, "qryGuestData", nullptr);
  qryGuestName = NewQuery(this, "qryGuestName", "Select * from guestname");
  tblOtaResponse = NewTable(this, "tblOtaResponse", "OtaResponse");
  dsGuestDQuery = new db::TDataSource(this);
  dsGuestDQuery->SetName("dsGuestDQuery");
  dsGuestDQuery->SetDataSet(qryGuestData);
  tblGuestNotes = NewTable(this, "tblGuestNotes", "GuestNotes");
  tblGroup = NewTable(this, "tblGroup", "Group");
}

// The components are freed while this object is whole, so none of them sees a
// half-destroyed owner.
TDM::~TDM() {
  Destroying();
  DestroyComponents();
}

namespace {
std::unique_ptr<TModuleState> gState;
}  // namespace

TModuleState& ModuleState() {
  if (!gState) vex::RaiseEngineNotStarted("The plug-in's module state");
  return *gState;
}

void ResetModuleState() { ModuleState() = TModuleState{}; }

void CreateModuleState() { gState = std::make_unique<TModuleState>(); }

void FreeModuleState() noexcept { gState.reset(); }

}  // namespace valmora
