// The plug-in's messages to the user and its booking import.
//
// Every message of the plug-in is one task dialog: a title, an icon, an
// instruction over the content, optionally an expanded text, and one button
// captioned with the current language's "Close". Its texts come from the
// module state's shared texts, which the dialog fills at the start of a call.
//
// The booking import turns the booking items of a retrieval's reply into rows
// of the host database (the data module of the current call, ModuleState().DM):
//
//   - each item is read into the two working records (ParseBookingNode);
//   - a booking number not yet in GuestData is a new booking: a guest with the
//     next free six-digit code, a reservation on a free room of the room type
//     its room ID is mapped to, the nights counted in Occupancy;
//   - a known booking marked modified is stored again over its reservation;
//     one of the same room type keeps its room without a check, one of another
//     type gets a free room of the new type;
//   - a known booking whose status is "cancelled" is marked cancelled;
//   - every new or modified booking, stored or refused, leaves a row in
//     OtaResponse with its outcome (TBookingOutcome).
//
// Occupancy holds the nights of every reservation that is not cancelled:
// cancelling gives the stay's nights back, and storing a modified booking adds
// its new stay before it takes the old one away. A reservation already marked
// cancelled is edited without touching the counts.
//
// Each booking is stored in one transaction of the host database (its guest,
// its reservation and nights, its outcome row): a failure part-way leaves
// nothing of that booking behind, and the counters count only what was
// committed. A failure stops the import; the bookings before it stay stored.
//
// Threads: the host's calling thread only, as all module state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/XmlDocument.h"
#include "rtl/Currency.h"
#include "rtl/DateTime.h"
#include "ui/Ui.h"

namespace valmora {

// ---- Messages ------------------------------------------------------------------

// Shows one task message through the installed user interface; its button is
// captioned with the shared text rsClose. Does not look at Silent: the caller
// decides whether a message is shown.
void ShowTaskDialog(const std::string& title, ui::TTaskIcon icon, const std::string& instruction,
                    const std::string& content, const std::string& expandedText = std::string());

// ---- Booking import -------------------------------------------------------------

// What became of a new or modified booking, as OtaResponse.Valid keeps it.
enum TBookingOutcome : int32_t {
  // Written; or refused only because its stay has no night.
  OutcomeWritten = 0,
  // Its room ID matches none of the settings RoomId1 to RoomId16.
  OutcomeRoomIdUnmapped = 1,
  // No room of the mapped type is free for the stay.
  OutcomeNoFreeRoom = 2,
};

// Resets the working records: every text empty, BookingDate, ArrivalDate and
// DepartureDate the current local date and time, NoRooms and NoAdults 1, every
// other number and RoomRateQuoted 0.
void ClearGuestRecords();

// Reads the elements among `nodes` into the working records, each element's
// own children first, so that an element nested in an item counts as one
// standing in it, and a later element overwrites what an earlier one set. The
// dates of `start_date` and `end_date` belong to one list of siblings: the
// nightly rate is worked out from `price_total` only when both dates stand
// before it among the same siblings. Raises rtl::EConvertError for a date,
// number or amount that does not convert (an empty text where a number is
// expected included), and rtl::Exception for elements nested deeper than a
// reply can sensibly hold.
void ParseBookingNode(const std::vector<net::XmlNode>& nodes);

// Stores the booking in the working records (see the top of this file) and
// resets the records, whatever became of it. True when a new or modified
// booking was written; false for one that was refused, already known, or
// without a booking number. The database's failures pass on after the
// booking's transaction was rolled back.
bool StoreBooking();

// The room number of a room of `roomType` that no reservation holds for any
// night of the stay, taking the rooms in the order the query returns them; the
// empty text when none is free.
std::string FindFreeRoom(int32_t roomType, rtl::TDateTime Arrival, rtl::TDateTime Departure);

// Imports the booking items of a retrieval's reply `reply`: empties OtaResponse,
// stores every `item` element in document order, and shows the summary. A reply
// without any item shows the service's first `description` text (also when
// Silent) or, without one, that there are no new reservations. A failure
// while items are stored stops the import and is shown as an error (unless
// Silent); it does not pass on. A failure emptying OtaResponse passes on.
void ProcessBookingItems(const net::XmlDocument& reply);

// The calendar days from the arrival's day to the departure's day, whatever
// the times of day: the nights of a stay when positive; 0 or less when the
// departure is not on a later day, which is no stay at all.
int32_t CalendarDaysBetween(rtl::TDateTime arrival, rtl::TDateTime departure);

// A `price_total` text as money: an XML number with "." as the decimal point,
// else a number in the user's locale form; rounded to four decimals, halves to
// even. Raises rtl::EConvertError when it is neither.
rtl::Currency ReplyPriceToMoney(std::string_view text);

}  // namespace valmora
