#include "ValmoraRequests.h"

#include <array>
#include <cerrno>
#include <string_view>
#include <vector>

#include "OtaDataCheck.h"
#include "OtaDataModule.h"
#include "OtaGfgIni.h"
#include "OtaOpenTables.h"
#include "ValmoraMessages.h"
#include "ValmoraProtocol.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "os/File.h"
#include "os/OsError.h"
#include "rtl/CodePage.h"
#include "rtl/DateText.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"

namespace valmora {

namespace {

net::HttpTimeouts gTimeouts = net::DefaultHttpTimeouts;

// The copies and log tags of one kind of exchange.
struct ExchangeKind {
  const char* RequestCopy;
  const char* ReplyCopy;
  const char* RequestTag;
  const char* ReplyTag;
};

constexpr ExchangeKind kAvailability{"AvailNotifRQ.xml", "AvailNotifRS.xml", "<--AvailNotifRQ-->",
                                     "<--AvailNotifRS-->"};
constexpr ExchangeKind kRates{"RateAmountNotifRQ.xml", "RateAmountNotifRS.xml",
                              "<--RateAmountNotiRQ-->", "<--RateAmountNotifRS-->"};
constexpr ExchangeKind kRetrieval{"ReadRQ.xml", "ResRetriveRS.xml", "<--ReadRQ-->",
                                  "<--RetriveRS-->"};

std::string TempFolder() { return GetMyDocumentsPath() + "/Reservation/Temp/"; }

[[noreturn]] void RaiseFileError(const char* what, const std::string& path) {
  int err = os::LastError();
  throw rtl::EOSError(rtl::Format("Cannot %s file \"%s\". %s", what, path, os::ErrorText(err)),
                      err);
}

// The day's log, open from before the exchange to its end. The entry is
// collected in memory and written in one piece at the end, so a failed
// exchange leaves nothing of itself in the file.
class ExchangeLog {
 public:
  // Opens the day's log for appending, creating it when it does not exist.
  // Raises rtl::EOSError when neither works (a missing OTA folder).
  ExchangeLog() {
    const std::string path = ExchangeLogPath(rtl::Date());
    if (!FFile.Open(path, os::Access::Write, os::Share::DenyWrite) &&
        (os::LastError() != ENOENT ||
         !FFile.Open(path, os::Access::Write, os::Share::DenyWrite,
                     os::Disposition::CreateAlways)))
      RaiseFileError("open", path);
  }

  // The tag line, an empty line, then the document one element per line.
  void Add(const char* tag, const net::XmlDocument& doc) {
    Line(tag);
    Line("");
    const std::string formatted = doc.FormattedXml();
    std::string_view rest = formatted;
    while (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
    while (!rest.empty()) {
      size_t end = rest.find('\n');
      Line(rest.substr(0, end));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }

  // Appends the header line, stamped now, and the collected lines.
  void Write() {
    std::string entry = "<--" + rtl::Win1252ToUtf8(rtl::TimeToStr(rtl::Now())) + " - UTC: " +
                        rtl::Win1252ToUtf8(rtl::DateTimeToStr(UtcNow())) + "-->\r\n" + FLines;
    int64_t size = 0;
    if (!FFile.GetSize(size) || !FFile.Write(entry.data(), entry.size(), size))
      RaiseFileError("write", FFile.Path());
  }

 private:
  void Line(std::string_view text) {
    FLines += text;
    FLines += "\r\n";
  }

  os::File FFile;
  std::string FLines;
};

// Today or later; a day before today becomes now, an end today or before
// becomes a day from now.
void ClampDates(rtl::TDateTime& StartDate, rtl::TDateTime& EndDate) {
  const rtl::TDateTime now = rtl::Now();
  if (CompareCalendarDays(StartDate, now) < 0) StartDate = now;
  if (CompareCalendarDays(EndDate, now) <= 0) EndDate = now + 1;
}

std::array<std::string, 16> ReadRoomIds() {
  std::array<std::string, 16> ids;
  for (int t = 1; t <= 16; ++t) ids[static_cast<size_t>(t - 1)] = TrimText(ReadRoomId(t));
  return ids;
}

// The account and address of the service, as the settings hold them.
struct ServiceAccess {
  std::string Login;
  std::string Vendor;
  std::string Url;
};

ServiceAccess ReadServiceAccess() {
  return {TrimText(ReadLogIn()), TrimText(ReadVendorID()), TrimText(ReadServiceUrl())};
}

TDM& CallDataModule() {
  TDM* dm = ModuleState().DM;
  if (dm == nullptr) throw rtl::Exception("The exchange needs the data module of a call");
  return *dm;
}

// The request's side of an exchange: its copy, its log lines and the post,
// after which doc holds the reply. Raises on every failure.
void Exchange(net::XmlDocument& doc, const ExchangeKind& kind, const std::string& url,
              ExchangeLog& log) {
  const std::string temp = TempFolder();
  doc.Save(temp + kind.RequestCopy);
  log.Add(kind.RequestTag, doc);
  PostRequest(doc, url, gTimeouts);
}

// The reply's copy and its log lines.
void KeepReply(const net::XmlDocument& doc, const ExchangeKind& kind, ExchangeLog& log) {
  doc.Save(TempFolder() + kind.ReplyCopy);
  log.Add(kind.ReplyTag, doc);
}

}  // namespace

rtl::TDateTime UtcNow() { return rtl::UtcNow(); }

std::string ExchangeLogPath(rtl::TDateTime day) {
  return GetMyDocumentsPath() + "/Reservation/OTA/OTA" +
         rtl::Win1252ToUtf8(rtl::FormatDateTime("ddmmm", day)) + ".log";
}

void SetExchangeTimeouts(const net::HttpTimeouts& timeouts) { gTimeouts = timeouts; }

bool CheckResponse(const net::XmlDocument& reply) {
  const TModuleState& state = ModuleState();
  bool result = true;
  WriteCorvantaErrorMsg("");
  const std::vector<net::XmlNode> faults = reply.GetElementsByTagName("faultstring");
  if (!faults.empty()) {
    const std::string fault = ElementText(faults.back());
    if (!state.Silent) ShowTaskDialog(state.rsError, ui::tiError, state.rsError, fault);
    WriteCorvantaErrorMsg(fault);
    result = false;
  }
  WriteCorvantaHasError(!result);
  const std::vector<net::XmlNode> errors = reply.GetElementsByTagName("Error");
  if (!errors.empty()) {
    std::string type, code;
    for (const net::XmlNode& error : errors) {
      if (error.HasAttribute("Type")) type = error.GetAttribute("Type");
      if (error.HasAttribute("Code")) code = error.GetAttribute("Code");
    }
    if (!state.Silent)
      ShowTaskDialog("", ui::tiError,
                     state.rsError + " - " + state.rsType + " " + type + " " + state.rsCode + code,
                     ElementText(errors.back()));
    result = false;
  }
  return result;
}

int32_t SendAvailabilityUpdate(bool Silent, rtl::TDateTime StartDate, rtl::TDateTime EndDate) {
  TModuleState& state = ModuleState();
  ClampDates(StartDate, EndDate);
  state.Silent = Silent;
  const std::array<std::string, 16> roomIds = ReadRoomIds();
  std::array<int32_t, 16> stopSale{};
  for (int t = 1; t <= 16; ++t) stopSale[static_cast<size_t>(t - 1)] = ReadStopSale(t);
  TDM& dm = CallDataModule();
  RebuildOccInventory(dm, StartDate, EndDate);
  int32_t cap = ReadMaxAllocation();
  if (cap == 0) cap = dm.qryRoomType->RecordCount();
  const ServiceAccess access = ReadServiceAccess();
  ExchangeLog log;
  try {
    net::XmlDocument doc;
    net::XmlNode action = BuildRequestFrame(doc, ActionSetAllotments, access.Login, access.Vendor);
    vex::TVEXTable& inventory = *dm.tblOccInventory;
    for (inventory.First(); !inventory.Eof(); inventory.Next()) {
      const int32_t type = inventory.FieldByName("Type")->AsInteger();
      // The rebuild writes types 1 to 16 only; anything else has no settings.
      if (type < 1 || type > 16) continue;
      const std::string& roomId = roomIds[static_cast<size_t>(type - 1)];
      if (roomId.empty()) continue;
      const rtl::TDateTime from = inventory.FieldByName("OccFromDate")->AsDateTime();
      const rtl::TDateTime to = inventory.FieldByName("OccToDate")->AsDateTime();
      int32_t value = inventory.FieldByName("Available")->AsInteger();
      if (value > cap) value = cap;
      if (value <= stopSale[static_cast<size_t>(type - 1)]) value = 0;
      const int64_t days = rtl::DaysBetween(from, to) + 1;
      for (int64_t d = 0; d < days; ++d)
        AddAllotmentItem(action, roomId, from + static_cast<double>(d), value);
    }
    Exchange(doc, kAvailability, access.Url, log);
    CheckResponse(doc);
    KeepReply(doc, kAvailability, log);
    log.Write();
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t SendRateUpdate(rtl::TDateTime StartDate, rtl::TDateTime EndDate) {
  TModuleState& state = ModuleState();
  ClampDates(StartDate, EndDate);
  const std::array<std::string, 16> roomIds = ReadRoomIds();
  const int64_t days = rtl::DaysBetween(StartDate, EndDate);
  TDM& dm = CallDataModule();
  SelectRateRoomTypes(dm);
  const ServiceAccess access = ReadServiceAccess();
  ExchangeLog log;
  try {
    net::XmlDocument doc;
    net::XmlNode action = BuildRequestFrame(doc, ActionSetRates, access.Login, access.Vendor);
    vex::TVEXQuery& types = *dm.qryRoomType;
    int32_t last = 0;
    for (; !types.Eof(); types.Next()) {
      const int32_t type = types.FieldByName("RoomType")->AsInteger();
      if (type == last) continue;
      last = type;
      if (type < 1 || type > 16) continue;
      const size_t t = static_cast<size_t>(type - 1);
      if (!state.UpdateRate[t]) continue;
      for (int64_t d = 0; d <= days; ++d)
        AddRateItem(action, roomIds[t], StartDate + static_cast<double>(d), state.Rates[t]);
    }
    Exchange(doc, kRates, access.Url, log);
    CheckResponse(doc);
    KeepReply(doc, kRates, log);
    log.Write();
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t SendBookingRetrieval(bool Silent, rtl::TDateTime StartDate, rtl::TDateTime EndDate) {
  TModuleState& state = ModuleState();
  state.Silent = Silent;
  state.StoredCount = state.ErrorCount = state.ExistCount = state.CancelledCount = 0;
  ClearGuestRecords();
  const ServiceAccess access = ReadServiceAccess();
  ExchangeLog log;
  try {
    net::XmlDocument doc;
    net::XmlNode action = BuildRequestFrame(doc, ActionGetBookings, access.Login, access.Vendor);
    AddBookingRange(action, StartDate, EndDate);
    Exchange(doc, kRetrieval, access.Url, log);
    KeepReply(doc, kRetrieval, log);
    // A refused retrieval imports nothing and leaves no trace in the log.
    if (!CheckResponse(doc)) return 1;
    ProcessBookingItems(doc);
    log.Write();
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // namespace valmora
