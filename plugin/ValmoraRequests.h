// The three exchanges with the channel-manager service: the availability update
// (setAllotments), the rate update (setRates) and the booking retrieval
// (getBookingsIncDetails), the check of a reply for the service's faults, and
// the files an exchange leaves below the Documents folder:
//
//   Reservation/Temp/<kind>RQ.xml, <kind>RS.xml   the last request and reply of
//                                                 each kind, replaced every time
//   Reservation/OTA/OTA<DDMMM>.log                the day's exchange log
//
// Neither folder is created here: a missing Temp folder fails the exchange, a
// missing OTA folder fails the request before it starts (see below).
//
// One log entry per exchange, appended after the exchange (for the retrieval
// after its import), every line ending in CR LF and the bytes UTF-8:
//
//   <--14:05:09 - UTC: 9/6/2016 12:05:09-->       local long time, UTC short date
//   <--AvailNotifRQ-->                             and long time (no time at
//                                                  exactly midnight)
//   the request document, one element per line
//   <--AvailNotifRS-->
//
//   the reply document, one element per line
//
// DDMMM is the two-digit day and the locale's abbreviated month name ("06Sep");
// the year is not part of it. The rate request's tag is "<--RateAmountNotiRQ-->",
// without the "f" its reply tag has: readers of old logs know it by that name.
//
// Results. Each request returns 1 when the exchange ran to its end, which does
// not say that the service accepted it, and 0 when it failed from building the
// document to writing the log entry (no reply, a reply that is not XML, a copy
// that cannot be written, a failure of the import that the import does not
// catch); no message is shown then and the log gets nothing of the exchange.
// What comes before (the Documents folder, the settings, the database's
// inventory and rate queries, opening the day's log) is not caught and passes
// to the caller. Every "now" and "today" comes from the rtl clock.
//
// Threads: the host's calling thread only, as all module state.
#pragma once

#include <cstdint>
#include <string>

#include "net/HttpRequest.h"
#include "net/XmlDocument.h"
#include "rtl/DateTime.h"

namespace valmora {

// Sends the free rooms per room type and day from StartDate to EndDate (a range
// in the past moves to now .. now + 24 h; an end today or earlier to now +
// 24 h): for each OccInventory run of a type with a RoomId setting, its days
// with the type's free rooms, at most the MaxAllocation setting (the number of
// offered room types when that is 0), and 0 on a day with no more free rooms
// than the type's StopSale level. Sets Silent first.
int32_t SendAvailabilityUpdate(bool Silent, rtl::TDateTime StartDate, rtl::TDateTime EndDate);

// Sends, once per room type among the rooms SelectRateRoomTypes gives and for
// StartDate and the whole days after it up to EndDate, the module state's rate
// of each type whose UpdateRate is set. The dates are clamped as above; Silent
// is left as it is.
int32_t SendRateUpdate(rtl::TDateTime StartDate, rtl::TDateTime EndDate);

// Asks for the bookings of StartDate to EndDate (sent as they are) and imports
// the reply's items (ProcessBookingItems). Sets Silent, resets the import's
// counters and working records first. A reply the check refuses is neither
// logged nor imported, and still gives 1.
int32_t SendBookingRetrieval(bool Silent, rtl::TDateTime StartDate, rtl::TDateTime EndDate);

// True when the reply holds neither a `faultstring` nor an `Error` element.
// Writes the registry's error state: CorvantaErrorMsg the last faultstring's
// text (empty without one), CorvantaHasError whether there was one; an `Error`
// element changes neither. Unless Silent, shows the last faultstring, then the
// last Error with the last Type and Code any Error element carries.
bool CheckResponse(const net::XmlDocument& reply);

// The current UTC date-time of the rtl clock.
rtl::TDateTime UtcNow();

// The day's exchange log: Documents/Reservation/OTA/OTA<DDMMM>.log for `day`.
std::string ExchangeLogPath(rtl::TDateTime day);

// How long an exchange waits for the service; the defaults unless a test
// shortens them.
void SetExchangeTimeouts(const net::HttpTimeouts& timeouts);

}  // namespace valmora
