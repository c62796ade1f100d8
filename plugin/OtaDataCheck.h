// Occupancy upkeep: whether a room is free for a stay, the rooms counted per
// type, the night counts of the host's Occupancy table, and the rooms to send
// rates for. They work on the data module's open tables and queries; nothing
// here catches the engine's exceptions.
//
// Dates are compared by calendar day: two values on the same day are equal,
// otherwise the earlier is less. A stay's nights are the calendar days from
// its arrival up to the day before its departure, and at least one.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/DateTime.h"

namespace valmora {

class TDM;

// The calendar day of a date-time value, as the whole day number.
int64_t CalendarDay(rtl::TDateTime Value);
// -1, 0 or 1 as A's calendar day is before, on or after B's.
int CompareCalendarDays(rtl::TDateTime A, rtl::TDateTime B);
// The calendar days between Arrival and Departure (never below 1): a stay from
// 14:00 to 10:00 two days later has two nights, a stay within one day one.
int32_t StayNights(rtl::TDateTime Arrival, rtl::TDateTime Departure);

// True when another reservation that is not cancelled holds room RoomNo for
// at least one night of the stay. Reservations whose GuestID is GuestID are
// ignored (0 ignores none), and so are those that arrived MaxNoNights days or
// more before Arrival. Leaves qryGuestData closed.
bool IsRoomBooked(TDM& DM, const std::string& RoomNo, int32_t GuestID, rtl::TDateTime Arrival,
                  rtl::TDateTime Departure);

// Sets the room counters of the module state from the RoomType rows whose
// CalOccupancy is not "N" (the dialect compares a column with a text
// two-valued, so a room without a mark counts too): the total, and the
// count of each type 1 to 16, a null type counting as type 1. Leaves
// qryRoomType closed.
void CountRoomsByType(TDM& DM);

// Adds (Add true) or takes away the stay's nights in Occupancy for the type of
// room RoomNo, refreshing every type's free rooms on the rows it writes. A
// room marked "N" or not in RoomType changes nothing. A night without a row
// gets one when adding; a row whose RoomsOccupied falls to 0 is deleted. Every
// night is posted on its own: a failure leaves the nights before it written.
void UpdateOccupancy(TDM& DM, const std::string& RoomNo, bool Add, rtl::TDateTime Arrival,
                     rtl::TDateTime Departure);

// Leaves qryRoomType open on its first row: the RoomType rows of the rooms
// counted for occupancy whose type is not 17, in type order.
void SelectRateRoomTypes(TDM& DM);

}  // namespace valmora
