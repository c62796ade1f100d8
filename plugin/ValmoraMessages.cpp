#include "ValmoraMessages.h"

#include <cmath>
#include <cstdio>

#include "OtaDataModule.h"
#include "ValmoraProtocol.h"
#include "rtl/Format.h"
#include "rtl/FormatSettings.h"
#include "rtl/NumberText.h"

namespace valmora {

// ---- Messages ------------------------------------------------------------------

void ShowTaskDialog(const std::string& title, ui::TTaskIcon icon, const std::string& instruction,
                    const std::string& content, const std::string& expandedText) {
  ui::TaskMessage message;
  message.Title = title;
  message.Icon = icon;
  message.Instruction = instruction;
  message.Content = content;
  message.ExpandedText = expandedText;
  message.ButtonCaption = ModuleState().rsClose;
  ui::CurrentUi().ShowTaskMessage(message);
}

// ---- Parsing an item -------------------------------------------------------------

namespace {

// Deeper than any booking the service writes, shallow enough that walking the
// elements recursively cannot exhaust the stack on a hostile reply.
constexpr int kMaxItemDepth = 64;

// Money divided by a positive count, rounded to 0.0001 with halves to even.
rtl::Currency DivideMoney(rtl::Currency amount, int32_t count) {
  int64_t quotient = amount.Raw / count;
  int64_t remainder = amount.Raw % count;
  int64_t twice = 2 * (remainder < 0 ? -remainder : remainder);
  if (twice > count || (twice == count && quotient % 2 != 0)) quotient += amount.Raw < 0 ? -1 : 1;
  return rtl::Currency::FromRaw(quotient);
}

void ParseNodes(const std::vector<net::XmlNode>& nodes, int depth) {
  if (depth > kMaxItemDepth)
    throw rtl::Exception(
        rtl::Format("A booking item nests its elements deeper than %d levels", kMaxItemDepth));
  TModuleState& state = ModuleState();
  TGuestNameRec& guest = state.GuestNameRec;
  TGuestDataRec& data = state.GuestDataRec;
  // The stay as this list of siblings gives it, for the nightly rate.
  rtl::TDateTime start = 0, end = 0;
  for (const net::XmlNode& node : nodes) {
    if (!node.IsElement()) continue;
    ParseNodes(node.ChildNodes(), depth + 1);
    const std::string name = TrimText(node.NodeName());
    auto text = [&node] { return ElementText(node); };
    auto number = [&text] { return rtl::StrToInt(text()); };
    if (name == "first_name") {
      guest.GivenName = text();
    } else if (name == "last_name") {
      guest.FamilyName = text();
    } else if (name == "email") {
      guest.Email = text();
    } else if (name == "phone") {
      guest.PhoneNumber = text();
    } else if (name == "address") {
      guest.Address1 = text();
    } else if (name == "id") {
      data.TravelBookingNo = text();
    } else if (name == "created") {
      data.BookingDate = ReplyDateToDate(text());
    } else if (name == "room_id") {
      data.RoomTypeCode = text();
    } else if (name == "rooms_count") {
      data.NoRooms = number();
    } else if (name == "modified") {
      data.Modified = number();
    } else if (name == "adults") {
      data.NoAdults = number();
    } else if (name == "children") {
      data.NoChildren = number();
    } else if (name == "status") {
      data.Status = text();
    } else if (name == "start_date") {
      start = ReplyDateToDate(text());
      data.ArrivalDate = start;
      data.DepartureDate = end;
    } else if (name == "end_date") {
      end = ReplyDateToDate(text());
      data.DepartureDate = end;
    } else if (name == "channel_name") {
      data.TravelAgent = text();
    } else if (name == "price_total") {
      rtl::Currency total = ReplyPriceToMoney(text());
      int32_t nights = StayNights(start, end);
      // No night (or a departure before the arrival, which storing refuses):
      // nothing to divide by, and the rate keeps its value.
      if (nights > 0) data.RoomRateQuoted = DivideMoney(total, nights);
    } else if (name == "comments") {
      data.Notes = text();
    }
  }
}

}  // namespace

void ClearGuestRecords() {
  TModuleState& state = ModuleState();
  state.GuestNameRec = TGuestNameRec{};
  TGuestDataRec data;
  rtl::TDateTime now = rtl::Now();
  data.BookingDate = now;
  data.ArrivalDate = now;
  data.DepartureDate = now;
  data.NoRooms = 1;
  data.NoAdults = 1;
  state.GuestDataRec = data;
}

void ParseBookingNode(const std::vector<net::XmlNode>& nodes) { ParseNodes(nodes, 0); }

int32_t StayNights(rtl::TDateTime arrival, rtl::TDateTime departure) {
  // The day of a value is its whole part (before 1899-12-30 the fraction
  // counts forward from the negative day, so truncation still gives the day).
  return static_cast<int32_t>(std::trunc(departure) - std::trunc(arrival));
}

rtl::Currency ReplyPriceToMoney(std::string_view text) {
  rtl::Currency value;
  if (rtl::TryStrToCurr(text, value, rtl::TFormatSettings::Invariant())) return value;
  return rtl::StrToCurr(text, rtl::FormatSettings());
}

}  // namespace valmora
