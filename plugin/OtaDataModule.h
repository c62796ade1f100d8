// The data module through which the plug-in reaches the host's database, and
// the values the plug-in's entry points, requests, booking import and dialog
// hand to one another within one exported call.
//
// TDM holds the database component "Reservation", the eight host tables, the
// four queries and the data source of the latest-reservations grid, set up as
// the host's form would set them. It is made at the start of every exported
// call and freed at its end, which closes the database; it never creates,
// alters or drops a table: the schema belongs to the host.
//
// The module state is plain: the host makes one call at a time on its own
// thread, and nothing here is saved anywhere. Only Silent, the rates, the
// shared message texts, the four counters and the room counters keep their
// values between calls; every call sets what it uses before using it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ValmoraBookingRecords.h"
#include "rtl/Component.h"
#include "rtl/Currency.h"

namespace db {
class TDataSource;
}

namespace vex {
class TVEXDatabase;
class TVEXQuery;
class TVEXTable;
}  // namespace vex

namespace valmora {

class TdlgValmora;

// The data module. Its components belong to it (freed with it, datasets
// before the database); the pointers stay valid for its whole life.
class TDM : public rtl::TComponent {
 public:
  // Creates the components closed, every dataset on the database name
  // "Reservation".
  explicit TDM(rtl::TComponent* AOwner);
  ~TDM() override;

  // Multi-user, 5 connections for a file it would create, not exclusive,
  // session "Default".
  vex::TVEXDatabase* Reservation;
  vex::TVEXTable* tblOccInventory;
  vex::TVEXTable* tblRoomType;
  // SQL "Select * from Occupancy" until a routine replaces it.
  vex::TVEXQuery* qryOccupancy;
  vex::TVEXTable* tblOccupancy;
  // The host's form gives it the occupancy text as well; every routine that
  // runs it writes its own text first.
  vex::TVEXQuery* qryRoomType;
  vex::TVEXTable* tblGuestName;
  vex::TVEXTable* tblGuestData;
  // No SQL until a routine gives it some.
  vex::TVEXQuery* qryGuestData;
  // SQL "Select * from guestname"; never opened.
  vex::TVEXQuery* qryGuestName;
  vex::TVEXTable* tblOtaResponse;
  // Shows qryGuestData (the dialog's latest-reservations grid).
  db::TDataSource* dsGuestDQuery;
  vex::TVEXTable* tblGuestNotes;
  vex::TVEXTable* tblGroup;
};

struct TModuleState {
  // The data module and the main dialog of the current call; assigned only
  // during a call, owned by the call's frame.
  TDM* DM = nullptr;
  TdlgValmora* dlgValmora = nullptr;

  // When set, the plug-in shows none of its own messages.
  bool Silent = false;

  // Nightly rate per room type (index 0 is room type 1) and whether the type
  // takes part in a rate request.
  std::array<rtl::Currency, 16> Rates{};
  std::array<bool, 16> UpdateRate{};

  // Translations of the current call's language, filled while the dialog is created.
  std::string rsError, rsClose, rsInformation, rsNoreservation, rsNoNewReservation,
      rsNewReservation, rsNewReservRecorded, rsType, rsCode, rsBookingNo, rsExist, rsCancelled;

  // The booking being imported: its guest and its reservation.
  TGuestNameRec GuestNameRec;
  TGuestDataRec GuestDataRec;

  // Counts of the current retrieval.
  int32_t StoredCount = 0;
  int32_t ErrorCount = 0;
  int32_t ExistCount = 0;
  int32_t CancelledCount = 0;

  // Rooms counted for occupancy (CountRoomsByType): all of them, and those of
  // room type 1 to 16 (index 0 is type 1).
  int32_t RoomCount = 0;
  std::array<int32_t, 16> TypeRoomCount{};
};

// The process's one module state, in its load-time initial state until a call
// sets it. Created and freed with the engine (see ValmoraLibrary.h); raises
// vex::EVEXEngineNotStarted in between.
TModuleState& ModuleState();

// Back to the load-time state (between tests).
void ResetModuleState();

// The start-up step of the module state.
void CreateModuleState();
void FreeModuleState() noexcept;

}  // namespace valmora
