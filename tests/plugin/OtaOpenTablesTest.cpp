// The data module on database files of the host's schema: the database named
// after its file, reconnection to another file, a missing file, the tables
// activated, and the fields the plug-in uses, typed as it uses them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "HostDatabaseFixture.h"
#include "VEXFileCheck.h"
#include "components/VEXDatabase.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "rtl/Currency.h"
#include "rtl/DateTime.h"

namespace {

using namespace valmora;
using DataModule = HostDatabaseFixture;

std::vector<vex::TVEXDataSet*> DataSets(TDM& DM) {
  return {DM.tblOccInventory, DM.tblOccupancy, DM.tblRoomType,   DM.tblGuestName,
          DM.tblGuestData,    DM.tblGroup,     DM.tblGuestNotes, DM.tblOtaResponse,
          DM.qryOccupancy,    DM.qryRoomType,  DM.qryGuestData,  DM.qryGuestName};
}

TEST_F(DataModule, NamesTheDatabaseAndItsTwelveDataSetsAfterTheFile) {
  struct {
    const char* File;
    const char* Name;
  } const cases[] = {{"Hotel.vex", "Hotel"}, {"My.Hotel.vex", "My"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    if (std::string(c.File) != "Hotel.vex") lodgemark::CreateReservationDatabase(Dir / c.File);
    UseFile(c.File);
    Open();
    EXPECT_TRUE(DM->Reservation->Connected());
    EXPECT_EQ(DM->Reservation->DatabaseFileName(), Dir / c.File);
    EXPECT_EQ(DM->Reservation->DatabaseName(), c.Name);
    EXPECT_TRUE(DM->Reservation->MultiUser());
    EXPECT_EQ(DM->Reservation->SessionName(), "Default");
    for (vex::TVEXDataSet* dataSet : DataSets(*DM)) {
      EXPECT_EQ(dataSet->DatabaseName(), c.Name) << dataSet->Name();
      EXPECT_EQ(dataSet->Active(), !dataSet->IsQuery()) << dataSet->Name();
    }
  }
  EXPECT_EQ(DatabaseNameOfFile("/data/Hotel"), "");
}

TEST_F(DataModule, ReconnectsToTheFileTheSettingsNameNow) {
  Open();
  lodgemark::AddRoom(*DM->Reservation, {"101", 1, "Y", "1", rtl::Currency()});
  DM->tblRoomType->Refresh();
  EXPECT_EQ(DM->tblRoomType->RecordCount(), 1);

  lodgemark::CreateReservationDatabase(Dir / "Annex.vex");
  UseFile("Annex.vex");
  Open();
  EXPECT_EQ(DM->Reservation->DatabaseFileName(), Dir / "Annex.vex");
  EXPECT_EQ(DM->Reservation->DatabaseName(), "Annex");
  EXPECT_EQ(DM->tblRoomType->RecordCount(), 0);
}

TEST_F(DataModule, AMissingFileRaisesTheComponentsMessageAndLeavesTheTablesClosed) {
  UseFile("Missing.vex");
  try {
    OpenReservationDatabase(*DM);
    ADD_FAILURE() << "opened a missing file";
  } catch (const std::exception& e) {
    EXPECT_NE(
        std::string(e.what()).find("Database file '" + (Dir / "Missing.vex") + "' does not exist"),
        std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(DM->Reservation->Connected());
  EXPECT_NO_THROW(SetTablesActive(*DM, false));
  EXPECT_FALSE(DM->tblGuestData->Active());
  EXPECT_THROW(DM->tblGuestData->First(), std::exception);
}

TEST_F(DataModule, ClosingTheTablesTwiceDoesNothingAndLeavesTheDatabaseOpen) {
  Open();
  SetTablesActive(*DM, false);
  SetTablesActive(*DM, false);
  EXPECT_FALSE(DM->tblOccupancy->Active());
  EXPECT_TRUE(DM->Reservation->Connected());
}

// Every field the plug-in uses takes and gives back a value through the
// accessor the plug-in uses for it, in a file that stays sound.
TEST_F(DataModule, TheHostSchemaHoldsEveryFieldThroughItsAccessor) {
  enum Kind { Text, Integer, Boolean, DateTime, Day, Money };
  struct Field {
    std::string Name;
    Kind As;
  };
  const rtl::TDateTime when = rtl::EncodeDateTime(2026, 9, 6, 14, 30, 0, 0);
  const std::string memo(3000, 'm');
  // A text field holds its own name, the memo a text longer than any page.
  auto text = [&](const std::string& name) {
    return name == "CalOccupancy" ? std::string("Y") : name == "SpecRequirements" ? memo : name;
  };
  auto check = [&](vex::TVEXTable& table, const std::vector<Field>& fields) {
    SCOPED_TRACE(table.TableName());
    table.Append();
    for (const Field& f : fields) {
      db::TField& field = *table.FieldByName(f.Name);
      switch (f.As) {
        case Text:
          field.SetAsString(text(f.Name));
          break;
        case Integer:
          field.SetAsInteger(16);
          break;
        case Boolean:
          field.SetAsBoolean(true);
          break;
        case DateTime:
          field.SetAsDateTime(when);
          break;
        case Day:
          field.SetAsDateTime(std::trunc(when));
          break;
        case Money:
          field.SetAsCurrency(rtl::Currency::FromRaw(1234567));
          break;
      }
    }
    table.Post();
    table.First();
    for (const Field& f : fields) {
      db::TField& field = *table.FieldByName(f.Name);
      switch (f.As) {
        case Text:
          EXPECT_EQ(field.AsString(), text(f.Name)) << f.Name;
          break;
        case Integer:
          EXPECT_EQ(field.AsInteger(), 16) << f.Name;
          break;
        case Boolean:
          EXPECT_TRUE(field.AsBoolean()) << f.Name;
          break;
        // Kept to the millisecond.
        case DateTime:
          EXPECT_NEAR(field.AsDateTime(), when, 1e-7) << f.Name;
          break;
        case Day:
          EXPECT_DOUBLE_EQ(field.AsDateTime(), std::trunc(when)) << f.Name;
          break;
        case Money:
          EXPECT_EQ(field.AsCurrency().Raw, 1234567) << f.Name;
          break;
      }
    }
  };
  std::vector<Field> occupancy{{"OccDate", Day},
                               {"RoomsOccupied", Integer},
                               {"RoomsAvailable", Integer},
                               {"CompanyCode", Text}};
  for (int k = 1; k <= 16; ++k) {
    occupancy.push_back({"Type" + std::to_string(k) + "Occupied", Integer});
    occupancy.push_back({"Type" + std::to_string(k) + "Available", Integer});
  }
  Open();
  check(*DM->tblRoomType, {{"RoomNo", Text},
                           {"RoomType", Integer},
                           {"CalOccupancy", Text},
                           {"RoomSortNo", Text},
                           {"DoubleRate", Money}});
  check(*DM->tblOccupancy, occupancy);
  check(*DM->tblOccInventory,
        {{"Type", Integer}, {"OccFromDate", Day}, {"OccToDate", Day}, {"Available", Integer}});
  EXPECT_EQ(DM->tblOccInventory->FieldByName("ID")->AsInteger(), 1);
  check(*DM->tblGuestName, {{"GuestCode", Text},
                            {"GivenName", Text},
                            {"FamilyName", Text},
                            {"CompName", Text},
                            {"Address1", Text},
                            {"Address2", Text},
                            {"City", Text},
                            {"State", Text},
                            {"PhoneNumber", Text},
                            {"Email", Text},
                            {"PostCode", Text},
                            {"Country", Text}});
  check(*DM->tblGuestData, {{"GuestCode", Text},
                            {"BookingDate", DateTime},
                            {"ArrivalDate", DateTime},
                            {"DepartureDate", DateTime},
                            {"RoomNumber", Text},
                            {"RoomSortNo", Text},
                            {"TravelAgent", Text},
                            {"TravelBookingNo", Text},
                            {"RoomRateQuoted", Money},
                            {"InclGST", Boolean},
                            {"Gurantee", Integer},
                            {"NumberAdults", Integer},
                            {"NumberChildren", Integer},
                            {"Arrivaltime", DateTime},
                            {"TariffCode", Text},
                            {"LockRoomRate", Boolean},
                            {"SpecRequirements", Text},
                            {"NoNights", Integer},
                            {"Cancelled", Boolean}});
  EXPECT_EQ(DM->tblGuestData->FieldByName("GuestID")->AsInteger(), 1);
  check(*DM->tblOtaResponse, {{"BookingNo", Text},
                              {"TravelID", Text},
                              {"GuestID", Text},
                              {"ResIDType", Text},
                              {"ResIDValue", Text},
                              {"Valid", Integer}});

  DM.reset();
  const vex::TVEXFileCheckReport report = vex::CheckDatabaseFile(Dir / "Hotel.vex");
  EXPECT_TRUE(report.Sound()) << vex::FormatFileCheckReport(Dir / "Hotel.vex", report);
  EXPECT_EQ(report.TableCount, 8);
}

}  // namespace
