// The two working records of the booking import: what one booking item of the
// service's reply says about the guest and about the stay, before it is stored
// into the host's GuestName and GuestData tables. The import fills them from
// the item's elements, stores them, and resets them after every item, so a
// field that an item leaves out holds its reset value, never the previous
// item's (ClearGuestRecords in ValmoraMessages.h).
//
// Texts are Windows-1252; date-times are days since 1899-12-30; money is
// amount × 10 000.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/Currency.h"
#include "rtl/DateTime.h"

namespace valmora {

struct TGuestNameRec {
  std::string GivenName;
  std::string FamilyName;
  std::string CompName;
  std::string Address1;
  std::string Address2;
  std::string City;
  std::string State;
  std::string PhoneNumber;
  std::string Email;
  std::string PostCode;
  std::string Country;

  friend bool operator==(const TGuestNameRec&, const TGuestNameRec&) = default;
};

struct TGuestDataRec {
  rtl::TDateTime BookingDate = 0;
  rtl::TDateTime ArrivalDate = 0;
  rtl::TDateTime DepartureDate = 0;
  rtl::TDateTime ArrivalTime = 0;
  std::string RoomNumber;
  int32_t NoRooms = 0;
  std::string RoomTypeCode;  // the service's room ID, matched against the RoomId settings
  std::string RatePlanCode;
  int32_t NoOfRooms = 0;
  int32_t NoAdults = 0;
  int32_t NoChildren = 0;
  std::string TravelAgent;
  std::string TravelBookingNo;  // the service's booking number: the booking's key
  std::string TravelTypeID;
  std::string ResID_Type;
  std::string ResID_Value;
  std::string GuestID;  // the stored reservation's GuestData.GuestID, as text
  std::string Notes;
  rtl::Currency RoomRateQuoted;  // per night
  std::string CurrCode;
  int32_t Modified = 0;  // 1: changed since the service first sent it
  std::string Status;    // "cancelled" marks a cancelled booking
  std::string ErrorType;
  std::string ErrorCode;
  std::string ErrorText;

  friend bool operator==(const TGuestDataRec&, const TGuestDataRec&) = default;
};

}  // namespace valmora
