#include "ValmoraProtocol.h"

#include <cstdio>
#include <limits>

#include "rtl/Format.h"
#include "rtl/NumberText.h"

namespace valmora {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of `count` digits at `text[at]`, or -1 when one of them is no digit.
int Digits(std::string_view text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!IsDigit(text[i])) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// An optionally signed decimal integer that fits 32 bits; nothing else (no hex,
// no blanks, no fraction).
bool ParseInt32(std::string_view text, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  int64_t v = negative ? -magnitude : magnitude;
  if (v > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

std::string TrimText(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

net::XmlNode BuildRequestFrame(net::XmlDocument& doc, std::string_view action,
                               std::string_view login, std::string_view vendorId) {
  doc.Clear();
  doc.InsertProcessingInstruction("xml", R"(version="1.0" encoding="UTF-8")");
  net::XmlNode root = doc.AsNode().AppendElement("valmora");
  net::XmlNode header = root.AppendElement("header");
  header.AppendElement("login", TrimText(login));
  header.AppendElement("vendor_id", TrimText(vendorId));
  net::XmlNode actionNode = root.AppendElement("action");
  actionNode.SetAttribute("name", action);
  return actionNode;
}

void AddBookingRange(net::XmlNode action, rtl::TDateTime startDate, rtl::TDateTime endDate) {
  action.AppendElement("start_date", DayText(startDate));
  action.AppendElement("end_date", DayText(endDate));
  action.AppendElement("get_all", "0");
}

void AddAllotmentItem(net::XmlNode action, std::string_view roomId, rtl::TDateTime day,
                      int32_t rooms) {
  net::XmlNode item = action.AppendElement("item");
  item.AppendElement("room_id", roomId);
  item.AppendElement("date", DayText(day));
  item.AppendElement("value", rtl::IntToStr(rooms));
}

void AddRateItem(net::XmlNode action, std::string_view roomId, rtl::TDateTime day,
                 rtl::Currency rate) {
  net::XmlNode item = action.AppendElement("item");
  item.AppendElement("room_id", roomId);
  item.AppendElement("date", DayText(day));
  item.AppendElement("value", RateText(rate));
}

std::string DayText(rtl::TDateTime day) {
  int year = 0, month = 0, dayOfMonth = 0;
  rtl::DecodeDate(day, year, month, dayOfMonth);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, dayOfMonth);
  return text;
}

std::string RateText(rtl::Currency rate) { return rtl::FloatToStr(rate.ToLongDouble()); }

std::string ElementText(const net::XmlNode& element) { return TrimText(element.Text()); }

rtl::TDateTime ReplyDateToDate(std::string_view text) {
  int32_t seconds = 0;
  if (ParseInt32(text, seconds)) return rtl::UnixToDateTime(seconds);
  return XmlDateToDate(text);
}

rtl::TDateTime XmlDateToDate(std::string_view text) {
  // YYYY-MM-DD, then nothing, "Z", or a zone offset of +hh:mm / -hh:mm (at most 14:00).
  int year = Digits(text, 0, 4);
  int month = text.size() > 4 && text[4] == '-' ? Digits(text, 5, 2) : -1;
  int day = text.size() > 7 && text[7] == '-' ? Digits(text, 8, 2) : -1;
  std::string_view zone = text.size() > 10 ? text.substr(10) : std::string_view();
  bool zoneOk = zone.empty() || zone == "Z";
  if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
    int hours = Digits(zone, 1, 2), minutes = Digits(zone, 4, 2);
    zoneOk = hours >= 0 && minutes >= 0 && minutes < 60 && hours * 60 + minutes <= 14 * 60;
  }
  rtl::TDateTime result = 0;
  if (year < 0 || month < 0 || day < 0 || !zoneOk || !rtl::TryEncodeDate(year, month, day, result))
    throw rtl::EConvertError(rtl::Format("'%s' is not a valid XML date", std::string(text)));
  return result;
}

void PostRequest(net::XmlDocument& doc, std::string_view url, const net::HttpTimeouts& timeouts) {
  net::HttpRequest request;
  request.SetTimeouts(timeouts);
  request.SetRequestHeader("Content-Type", "text/xml");
  request.Post(TrimText(url), doc.Xml());
  if (!doc.LoadXML(request.ResponseText()))
    throw EReplyNotXml(
        rtl::Format("The service's reply is not an XML document (%s)", doc.ParseError()));
}

}  // namespace valmora
