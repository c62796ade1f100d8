#include "ValmoraMessages.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>

#include "OtaDataCheck.h"
#include "OtaDataModule.h"
#include "OtaGfgIni.h"
#include "ValmoraProtocol.h"
#include "components/VEXDatabase.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
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
      int32_t nights = CalendarDaysBetween(start, end);
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

int32_t CalendarDaysBetween(rtl::TDateTime arrival, rtl::TDateTime departure) {
  return static_cast<int32_t>(CalendarDay(departure) - CalendarDay(arrival));
}

rtl::Currency ReplyPriceToMoney(std::string_view text) {
  rtl::Currency value;
  if (rtl::TryStrToCurr(text, value, rtl::TFormatSettings::Invariant())) return value;
  return rtl::StrToCurr(text, rtl::FormatSettings());
}

// ---- Storing a booking -----------------------------------------------------------

namespace {

// The data module's components the import works on.
struct ImportTables {
  TDM& DM;
  vex::TVEXDatabase& Reservation;
  vex::TVEXTable& GuestName;
  vex::TVEXTable& GuestData;
  vex::TVEXTable& RoomType;
  vex::TVEXTable& OtaResponse;
  vex::TVEXTable& Occupancy;
  vex::TVEXQuery& qryRoomType;
};

ImportTables Tables() {
  TDM* dm = ModuleState().DM;
  if (dm == nullptr) throw rtl::Exception("The booking import needs the data module of a call");
  return ImportTables{*dm,
                      *dm->Reservation,
                      *dm->tblGuestName,
                      *dm->tblGuestData,
                      *dm->tblRoomType,
                      *dm->tblOtaResponse,
                      *dm->tblOccupancy,
                      *dm->qryRoomType};
}

bool ReadsTrue(db::TField& field) { return !field.IsNull() && field.AsBoolean(); }

// One booking's transaction. Leaving the scope without Commit drops the
// pending edits of the tables and rolls the transaction back; a failure of
// either is not allowed to hide the failure that got us here.
class BookingTransaction {
 public:
  explicit BookingTransaction(const ImportTables& tables) : FTables(tables) {
    FTables.Reservation.StartTransaction();
  }
  BookingTransaction(const BookingTransaction&) = delete;
  BookingTransaction& operator=(const BookingTransaction&) = delete;
  ~BookingTransaction() {
    if (FCommitted) return;
    // A pending append or edit would otherwise be posted by the table's next
    // move, outside any transaction.
    for (vex::TVEXTable* table :
         {&FTables.GuestName, &FTables.GuestData, &FTables.OtaResponse, &FTables.Occupancy}) {
      try {
        if (table->State() == db::dsEdit || table->State() == db::dsInsert) table->Cancel();
      } catch (...) {
      }
    }
    try {
      if (FTables.Reservation.InTransaction()) FTables.Reservation.Rollback();
    } catch (...) {
    }
  }
  void Commit() {
    FTables.Reservation.Commit();
    FCommitted = true;
  }

 private:
  const ImportTables& FTables;
  bool FCommitted = false;
};

// A stay as a reservation row holds it.
struct Stay {
  std::string Room;
  rtl::TDateTime Arrival = 0;
  rtl::TDateTime Departure = 0;
};

Stay StayOf(vex::TVEXTable& guestData) {
  return Stay{guestData.FieldByName("RoomNumber")->AsString(),
              guestData.FieldByName("ArrivalDate")->AsDateTime(),
              guestData.FieldByName("DepartureDate")->AsDateTime()};
}

// What one import keeps from booking to booking: the settings it reads once,
// and where the guest-code search goes on.
class BookingStore {
 public:
  BookingStore() : FDefaultArrival(ReadDefaultArrival()), FLastGuestCounter(ReadLastAutoGenNo()) {
    for (int n = 1; n <= kRoomTypeCount; ++n) FRoomIds[static_cast<size_t>(n - 1)] = ReadRoomId(n);
  }

  bool Store();

 private:
  // The room type whose RoomId setting equals the service's room ID, the last
  // one when several do; 0 for none.
  int32_t RoomTypeOf(const std::string& roomId) const {
    int32_t type = 0;
    if (roomId.empty()) return 0;
    for (int n = 1; n <= kRoomTypeCount; ++n)
      if (FRoomIds[static_cast<size_t>(n - 1)] == roomId) type = n;
    return type;
  }

  // The first guest code above the last one handed out (at first the
  // LastAutoGenNo setting) that no guest has.
  std::string NextGuestCode(vex::TVEXTable& guestName) {
    int64_t counter = FLastGuestCounter;
    std::string code;
    do {
      ++counter;
      char text[24];
      std::snprintf(text, sizeof text, "%06lld", static_cast<long long>(counter));
      code = text;
    } while (guestName.Locate("GuestCode", rtl::Variant(code), {}));
    FLastGuestCounter = counter;
    return code;
  }

  std::array<std::string, kRoomTypeCount> FRoomIds;
  rtl::TDateTime FDefaultArrival;
  int64_t FLastGuestCounter;
};

}  // namespace

bool BookingStore::Store() {
  TModuleState& state = ModuleState();
  // The records are reset after every booking, whatever became of it.
  struct ClearAtEnd {
    ~ClearAtEnd() {
      try {
        ClearGuestRecords();
      } catch (...) {
      }
    }
  } clearAtEnd;
  TGuestNameRec& guest = state.GuestNameRec;
  TGuestDataRec& data = state.GuestDataRec;
  if (data.TravelBookingNo.empty()) return false;

  ImportTables t = Tables();
  // Started before the booking's first write.
  std::optional<BookingTransaction> transaction;
  const bool found = t.GuestData.Locate("TravelBookingNo", rtl::Variant(data.TravelBookingNo), {});
  const bool modified = data.Modified == 1;

  if (found && !modified) {
    // A known booking: only a cancellation changes it.
    if (data.Status != "cancelled") {
      ++state.ExistCount;
      return false;
    }
    db::TField& cancelled = *t.GuestData.FieldByName("Cancelled");
    if (ReadsTrue(cancelled)) return false;
    Stay stay = StayOf(t.GuestData);
    transaction.emplace(t);
    t.GuestData.Edit();
    cancelled.SetAsBoolean(true);
    t.GuestData.Post();
    // The stay's nights are free again.
    UpdateOccupancy(t.DM, stay.Room, false, stay.Arrival, stay.Departure);
    transaction->Commit();
    ++state.CancelledCount;
    return false;
  }

  // A new booking, or a known one stored again. A modified booking whose
  // number is unknown is stored as new: it has no row of its own to edit.
  const bool isNew = !found;
  const int32_t type = RoomTypeOf(data.RoomTypeCode);
  int32_t outcome = OutcomeWritten;
  std::string room;
  if (type == 0) {
    outcome = OutcomeRoomIdUnmapped;
  } else {
    if (!isNew) {
      // Of the same type, the reservation keeps its room unchecked.
      std::string current = t.GuestData.FieldByName("RoomNumber")->AsString();
      if (!current.empty() && t.RoomType.Locate("RoomNo", rtl::Variant(current), {}) &&
          t.RoomType.FieldByName("RoomType")->AsInteger() == type)
        room = current;
    }
    if (room.empty()) room = FindFreeRoom(type, data.ArrivalDate, data.DepartureDate);
    if (room.empty()) outcome = OutcomeNoFreeRoom;
  }

  const int32_t nights = CalendarDaysBetween(data.ArrivalDate, data.DepartureDate);
  const bool write = !room.empty() && nights > 0;
  std::string guestId;
  transaction.emplace(t);
  if (write) {
    std::string sortNo;
    if (t.RoomType.Locate("RoomNo", rtl::Variant(room), {}))
      sortNo = t.RoomType.FieldByName("RoomSortNo")->AsString();
    Stay old;
    bool countOld = false, countNew = true;
    if (isNew) {
      std::string code = NextGuestCode(t.GuestName);
      t.GuestName.Append();
      t.GuestName.FieldByName("GuestCode")->SetAsString(code);
      t.GuestName.FieldByName("GivenName")->SetAsString(guest.GivenName);
      t.GuestName.FieldByName("FamilyName")->SetAsString(guest.FamilyName);
      t.GuestName.FieldByName("CompName")->SetAsString(guest.CompName);
      t.GuestName.FieldByName("Address1")->SetAsString(guest.Address1);
      t.GuestName.FieldByName("Address2")->SetAsString(guest.Address2);
      t.GuestName.FieldByName("City")->SetAsString(guest.City);
      t.GuestName.FieldByName("State")->SetAsString(guest.State);
      t.GuestName.FieldByName("PhoneNumber")->SetAsString(guest.PhoneNumber);
      t.GuestName.FieldByName("Email")->SetAsString(guest.Email);
      t.GuestName.FieldByName("PostCode")->SetAsString(guest.PostCode);
      t.GuestName.FieldByName("Country")->SetAsString(guest.Country);
      t.GuestName.Post();
      t.GuestData.Append();
      t.GuestData.FieldByName("GuestCode")->SetAsString(code);
    } else {
      // A cancelled reservation holds no nights, and storing it again keeps
      // its flag: its counts stay as they are.
      countNew = !ReadsTrue(*t.GuestData.FieldByName("Cancelled"));
      countOld = countNew;
      old = StayOf(t.GuestData);
      t.GuestData.Edit();
    }
    vex::TVEXTable& g = t.GuestData;
    g.FieldByName("BookingDate")->SetAsDateTime(data.BookingDate);
    g.FieldByName("ArrivalDate")->SetAsDateTime(data.ArrivalDate);
    g.FieldByName("DepartureDate")->SetAsDateTime(data.DepartureDate);
    g.FieldByName("RoomNumber")->SetAsString(room);
    g.FieldByName("RoomSortNo")->SetAsString(sortNo);
    g.FieldByName("TravelAgent")->SetAsString(data.TravelAgent);
    g.FieldByName("TravelBookingNo")->SetAsString(data.TravelBookingNo);
    g.FieldByName("RoomRateQuoted")->SetAsCurrency(data.RoomRateQuoted);
    g.FieldByName("InclGST")->SetAsBoolean(true);
    g.FieldByName("Gurantee")->SetAsInteger(9);
    g.FieldByName("NumberAdults")->SetAsInteger(data.NoAdults);
    g.FieldByName("NumberChildren")->SetAsInteger(data.NoChildren);
    g.FieldByName("Arrivaltime")->SetAsDateTime(FDefaultArrival);
    g.FieldByName("TariffCode")->SetAsString("STANDARD");
    g.FieldByName("LockRoomRate")->SetAsBoolean(true);
    g.FieldByName("SpecRequirements")->SetAsString(data.Notes);
    g.FieldByName("NoNights")->SetAsInteger(nights);
    g.Post();
    guestId = rtl::IntToStr(g.FieldByName("GuestID")->AsInteger());
    // The new stay is counted before the old one is given back, so an
    // interruption between the two leaves a room counted taken, never free.
    if (countNew) {
      Stay stay = StayOf(g);
      UpdateOccupancy(t.DM, stay.Room, true, stay.Arrival, stay.Departure);
    }
    if (countOld) UpdateOccupancy(t.DM, old.Room, false, old.Arrival, old.Departure);
  }
  data.GuestID = guestId;

  db::TDataSet& ota = t.OtaResponse;
  if (ota.Locate("BookingNo", rtl::Variant(data.TravelBookingNo), {}))
    ota.Edit();
  else
    ota.Append();
  ota.FieldByName("BookingNo")->SetAsString(data.TravelBookingNo);
  ota.FieldByName("TravelID")->SetAsString(data.TravelTypeID);
  ota.FieldByName("GuestID")->SetAsString(data.GuestID);
  ota.FieldByName("ResIDType")->SetAsString(data.ResID_Type);
  ota.FieldByName("ResIDValue")->SetAsString(data.ResID_Value);
  ota.FieldByName("Valid")->SetAsInteger(outcome);
  ota.Post();
  transaction->Commit();

  // Counted only once the booking is in the database for good.
  if (write)
    ++state.StoredCount;
  else
    ++state.ErrorCount;
  return write;
}

bool StoreBooking() { return BookingStore().Store(); }

std::string FindFreeRoom(int32_t roomType, rtl::TDateTime Arrival, rtl::TDateTime Departure) {
  ImportTables t = Tables();
  vex::TVEXQuery& query = t.qryRoomType;
  query.Close();
  query.SQL().Clear();
  query.SQL().Add("Select * from RoomType");
  query.SQL().Add("Where RoomType = :RoomType");
  query.Prepare();
  query.ParamByName("RoomType")->SetAsInteger(roomType);
  query.Open();
  query.First();
  for (; !query.Eof(); query.Next()) {
    std::string roomNo = query.FieldByName("RoomNo")->AsString();
    if (!IsRoomBooked(t.DM, roomNo, 0, Arrival, Departure)) return roomNo;
  }
  return std::string();
}

// ---- The import ------------------------------------------------------------------

void ProcessBookingItems(const net::XmlDocument& reply) {
  TModuleState& state = ModuleState();
  db::TDataSet& ota = Tables().OtaResponse;
  ota.First();
  while (!ota.IsEmpty()) ota.Delete();

  try {
    std::vector<net::XmlNode> items = reply.GetElementsByTagName("item");
    if (!items.empty()) {
      BookingStore store;
      for (const net::XmlNode& item : items) {
        ParseBookingNode(item.ChildNodes());
        store.Store();
      }
      if (!state.Silent) {
        std::string list;
        for (ota.First(); !ota.Eof(); ota.Next())
          list += state.rsBookingNo + " - " + ota.FieldByName("BookingNo")->AsString() + "\n\r";
        std::string summary = rtl::IntToStr(state.StoredCount) + " - " + state.rsNewReservRecorded;
        auto add = [&summary](int32_t count, const std::string& what) {
          if (count > 0) summary += " (" + rtl::IntToStr(count) + " - " + what + ")";
        };
        add(state.ErrorCount, state.rsError);
        add(state.ExistCount, state.rsExist);
        add(state.CancelledCount, state.rsCancelled);
        ShowTaskDialog(state.rsInformation, ui::tiInformation, state.rsNewReservation, summary,
                       list);
      }
    } else {
      std::vector<net::XmlNode> descriptions = reply.GetElementsByTagName("description");
      std::string text = descriptions.empty() ? std::string() : ElementText(descriptions[0]);
      if (!text.empty())
        ShowTaskDialog(state.rsError, ui::tiInformation, state.rsError, text);
      else if (!state.Silent)
        ShowTaskDialog(state.rsInformation, ui::tiInformation, state.rsNoreservation,
                       state.rsNoNewReservation);
    }
  } catch (const std::exception& e) {
    // The items after the failing one are left; what was stored stays.
    ClearGuestRecords();
    if (!state.Silent) ShowTaskDialog(state.rsError, ui::tiError, state.rsError, e.what());
  }
}

}  // namespace valmora
