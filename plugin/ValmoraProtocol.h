// The web protocol spoken with the channel-manager service: the request document
// every exchange posts, the formats of the values in it, how the elements of a
// reply are found and read, the two forms in which a reply writes dates, and the
// HTTP exchange itself.
//
// Every request has one frame:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <valmora>
//     <header><login>...</login><vendor_id>...</vendor_id></header>
//     <action name="getBookingsIncDetails | setAllotments | setRates">...</action>
//   </valmora>
//
// posted without any whitespace between the elements. The body of the action is
// a date range for the booking retrieval, and a list of `item` elements
// (`room_id`, `date`, `value`) for the allotment and rate updates.
//
// A reply is read by element name, anywhere in the document and in document
// order; names are compared exactly, letter case included. Texts are
// Windows-1252 here, as everywhere inside the system; the XML layer converts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/HttpRequest.h"
#include "net/XmlDocument.h"
#include "rtl/Currency.h"
#include "rtl/DateTime.h"
#include "rtl/Exception.h"

namespace valmora {

inline constexpr char ActionGetBookings[] = "getBookingsIncDetails";
inline constexpr char ActionSetAllotments[] = "setAllotments";
inline constexpr char ActionSetRates[] = "setRates";

// The text without the blanks and control characters (every byte up to ' ') at
// either end.
std::string TrimText(std::string_view text);

// ---- Building a request ---------------------------------------------------------

// Empties `doc` and builds the request frame in it: the declaration, `valmora`,
// its `header` with `login` and `vendor_id` (each trimmed), and the `action`
// named `action`. Returns the `action` element, to which the body goes.
net::XmlNode BuildRequestFrame(net::XmlDocument& doc, std::string_view action,
                               std::string_view login, std::string_view vendorId);

// The body of getBookingsIncDetails: `start_date`, `end_date` and `get_all` "0".
void AddBookingRange(net::XmlNode action, rtl::TDateTime startDate, rtl::TDateTime endDate);

// One `item` of setAllotments: the rooms offered for a day.
void AddAllotmentItem(net::XmlNode action, std::string_view roomId, rtl::TDateTime day,
                      int32_t rooms);

// One `item` of setRates: the nightly rate for a day.
void AddRateItem(net::XmlNode action, std::string_view roomId, rtl::TDateTime day,
                 rtl::Currency rate);

// A day as the service writes it: "YYYY-MM-DD", the time of day left out.
std::string DayText(rtl::TDateTime day);

// A rate in its shortest form (at most 15 significant digits, no trailing zeros,
// no thousand separators) with the decimal separator of the user's locale:
// 120, 99.5 or 99,5.
std::string RateText(rtl::Currency rate);

// ---- Reading a reply ------------------------------------------------------------

// All the text inside the element, trimmed as TrimText does.
std::string ElementText(const net::XmlNode& element);

// A date of the reply in either of the service's two forms, tried in this order:
//  1. a decimal integer that fits 32 bits signed: seconds since 1970-01-01
//     00:00:00 UTC, given as that UTC date-time (never converted to local time);
//  2. an XML-schema date (XmlDateToDate).
// Raises rtl::EConvertError for a text in neither form.
rtl::TDateTime ReplyDateToDate(std::string_view text);

// An XML-schema date, "YYYY-MM-DD" with an optional time zone ("Z", "+hh:mm",
// "-hh:mm"), as midnight of that day; the zone does not move the day. Raises
// rtl::EConvertError for any other text.
rtl::TDateTime XmlDateToDate(std::string_view text);

// ---- The exchange ---------------------------------------------------------------

// The reply body was not an XML document.
class EReplyNotXml : public rtl::Exception {
  using rtl::Exception::Exception;
};

// Posts the request in `doc` to `url` (trimmed) with the content type
// "text/xml", waits for the reply and loads it into `doc`, which then no longer
// holds the request. The HTTP status is not looked at: whatever body comes back
// is the reply. Raises net::ENetError when no reply arrives, and EReplyNotXml
// when the body is not XML (the document is then left empty).
void PostRequest(net::XmlDocument& doc, std::string_view url,
                 const net::HttpTimeouts& timeouts = net::DefaultHttpTimeouts);

}  // namespace valmora
