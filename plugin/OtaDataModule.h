// The values the plug-in's entry points, requests, booking import and dialog
// hand to one another within one exported call. They are plain module state:
// the host makes one call at a time on its own thread, and nothing here is
// saved anywhere. Only Silent, the rates, the shared message texts and the four
// counters keep their values between calls; every call sets what it uses
// before using it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ValmoraBookingRecords.h"
#include "rtl/Currency.h"

namespace valmora {

class TDM;
class TdlgValmora;

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
