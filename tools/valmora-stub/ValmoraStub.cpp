// The loopback service: a small HTTP/1.1 server over POSIX sockets, enough for
// one POST with a Content-Length body per connection.
#include "ValmoraStub.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <pugixml.hpp>
#include <stdexcept>

namespace valmora_stub {

namespace {

constexpr char kPath[] = "/webinterface.php?dialog=v2";
constexpr char kDeclaration[] = R"(<?xml version="1.0" encoding="UTF-8"?>)";
constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kMaxBody = 16 * 1024 * 1024;

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string Trimmed(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 411:
      return "Length Required";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The text of the first element of that name in a request body, empty when none.
std::string RequestValue(const std::string& body, const char* name) {
  pugi::xml_document doc;
  if (!doc.load_buffer(body.data(), body.size())) return {};
  pugi::xpath_node hit = doc.select_node((std::string("//") + name).c_str());
  return hit ? hit.node().text().get() : std::string();
}

std::string Day(std::chrono::sys_days day) {
  std::chrono::year_month_day ymd(day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return text;
}

std::chrono::sys_days ParseDay(const std::string& text) {
  int y = 0;
  unsigned m = 0, d = 0;
  if (std::sscanf(text.c_str(), "%4d-%2u-%2u", &y, &m, &d) == 3) {
    std::chrono::year_month_day ymd{std::chrono::year(y), std::chrono::month(m),
                                    std::chrono::day(d)};
    if (ymd.ok()) return std::chrono::sys_days(ymd);
  }
  return std::chrono::sys_days(std::chrono::year(2016) / 9 / 6);
}

}  // namespace

// ---- Request and Reply ----------------------------------------------------------

std::string Request::Header(std::string_view name) const {
  for (const auto& [key, value] : Headers)
    if (SameText(key, name)) return value;
  return {};
}

int Request::HeaderCount(std::string_view name) const {
  int n = 0;
  for (const auto& header : Headers) n += SameText(header.first, name) ? 1 : 0;
  return n;
}

std::string Request::Action() const {
  pugi::xml_document doc;
  if (!doc.load_buffer(Body.data(), Body.size())) return {};
  return doc.child("valmora").child("action").attribute("name").value();
}

Reply Reply::Xml(std::string body, int status) {
  Reply r;
  r.Status = status;
  r.Body = std::move(body);
  return r;
}

Reply Reply::Fault(std::string_view text, int status) {
  return Xml(std::string(kDeclaration) +
                 "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                 "<soap:Body><soap:Fault><faultcode>soap:Server</faultcode><faultstring>" +
                 Escaped(text) + "</faultstring></soap:Fault></soap:Body></soap:Envelope>",
             status);
}

Reply Reply::Error(std::string_view type, std::string_view code, std::string_view text) {
  return Xml(std::string(kDeclaration) + "<valmora><errors><Error Type=\"" + Escaped(type) +
             "\" Code=\"" + Escaped(code) + "\">" + Escaped(text) + "</Error></errors></valmora>");
}

Reply Reply::Bookings(const std::vector<BookingItem>& items) { return Xml(BookingReplyXml(items)); }

Reply Reply::Html(std::string body, int status) {
  Reply r = Xml(std::move(body), status);
  r.ContentType = "text/html";
  return r;
}

Reply Reply::Empty(int status) { return Xml(std::string(), status); }

Reply Reply::Closed() {
  Reply r;
  r.CloseWithoutReply = true;
  return r;
}

Reply Reply::After(std::chrono::milliseconds delay) const {
  Reply r = *this;
  r.Delay = delay;
  return r;
}

Reply Reply::WithoutLength() const {
  Reply r = *this;
  r.SendLength = false;
  return r;
}

Reply CannedReply(const Request& request) {
  std::string action = request.Action();
  if (action == "setAllotments" || action == "setRates")
    return Reply::Xml(std::string(kDeclaration) + "<valmora><action name=\"" + action +
                      "\"><status>ok</status></action></valmora>");
  if (action == "getBookingsIncDetails") {
    std::chrono::sys_days start = ParseDay(RequestValue(request.Body, "start_date"));
    auto epoch = std::chrono::duration_cast<std::chrono::seconds>(
                     (start - std::chrono::days(7)).time_since_epoch())
                     .count();
    auto canned = [](std::string id, std::string created, std::string roomId,
                     std::chrono::sys_days arrival, int nights, std::string first,
                     std::string last) {
      BookingItem item;
      item.Id = std::move(id);
      item.Created = std::move(created);
      item.RoomId = std::move(roomId);
      item.Arrival = arrival;
      item.Departure = arrival + std::chrono::days(nights);
      item.PriceTotal = std::to_string(120 * nights);
      item.Comments = "Booked through the stand-in service";
      item.FirstName = std::move(first);
      item.LastName = std::move(last);
      item.Email = "guest@example.org";
      item.Phone = "+1 555 0100";
      item.Address = "1 Harbour Road";
      return item;
    };
    return Reply::Bookings(
        {canned("LB-1001", std::to_string(epoch), "DBL", start, 2, "Ada", "Lindqvist"),
         canned("LB-1002", Day(start - std::chrono::days(3)), "SGL", start + std::chrono::days(1),
                3, "Oskar", "Brandt")});
  }
  return Reply::Fault("Unknown action '" + action + "'");
}

// ---- Booking replies -----------------------------------------------------------

std::string BookingReplyXml(const std::vector<BookingItem>& items) {
  std::string xml = std::string(kDeclaration) + "<valmora><bookings>";
  auto text = [&xml](const char* name, const std::string& value) {
    if (value.empty()) return;
    xml += '<';
    xml += name;
    xml += '>';
    xml += Escaped(value);
    xml += "</";
    xml += name;
    xml += '>';
  };
  auto day = [&text](const char* name, const std::optional<std::chrono::sys_days>& value) {
    if (value) text(name, Day(*value));
  };
  for (const BookingItem& item : items) {
    xml += "<item>";
    text("id", item.Id);
    text("created", item.Created);
    text("status", item.Status);
    text("modified", std::to_string(item.Modified));
    text("room_id", item.RoomId);
    text("rooms_count", std::to_string(item.RoomsCount));
    day("start_date", item.Arrival);
    day("end_date", item.Departure);
    text("price_total", item.PriceTotal);
    text("channel_name", item.ChannelName);
    text("adults", std::to_string(item.Adults));
    text("children", std::to_string(item.Children));
    text("comments", item.Comments);
    text("first_name", item.FirstName);
    text("last_name", item.LastName);
    text("email", item.Email);
    text("phone", item.Phone);
    text("address", item.Address);
    xml += "</item>";
  }
  return xml + "</bookings></valmora>";
}

namespace {

constexpr const char* kFirstNames[] = {"Ada",  "Oskar",        "Mette", "J\xC3\xBCrgen",
                                       "Ines", "Tom\xC3\xA1s", "Yuki",  "Amara"};
constexpr const char* kLastNames[] = {"Lindqvist", "Brandt",   "O'Neill",      "M\xC3\xBCller",
                                      "Rossi",     "Nakamura", "Smith & Sons", "Okafor"};
constexpr const char* kChannels[] = {"Loopback channel", "Direct", "Travel <partner>"};

}  // namespace

BookingGenerator::BookingGenerator(uint32_t seed, std::vector<std::string> roomIds,
                                   std::chrono::sys_days firstArrival, int days, int maxNights)
    : FRandom(seed),
      FRoomIds(std::move(roomIds)),
      FFirst(firstArrival),
      FDays(std::max(days, 1)),
      FMaxNights(std::max(maxNights, 1)) {
  if (FRoomIds.empty()) throw std::invalid_argument("BookingGenerator needs room IDs");
}

uint32_t BookingGenerator::Below(uint32_t bound) {
  // The engine's distributions differ between standard libraries; a plain
  // modulus of the specified Mersenne twister keeps a seed's bookings fixed.
  return static_cast<uint32_t>(FRandom() % bound);
}

void BookingGenerator::Stay(BookingItem& item) {
  int nights = 1 + static_cast<int>(Below(static_cast<uint32_t>(FMaxNights)));
  item.Arrival = FFirst + std::chrono::days(Below(static_cast<uint32_t>(FDays)));
  item.Departure = *item.Arrival + std::chrono::days(nights);
  item.RoomId = FRoomIds[Below(static_cast<uint32_t>(FRoomIds.size()))];
  item.Adults = 1 + static_cast<int>(Below(3));
  item.Children = static_cast<int>(Below(3));
  // A nightly rate of 80.00 to 199.50 in steps of 0.50.
  int64_t cents = static_cast<int64_t>(nights) * (8000 + 50 * Below(240));
  char price[32];
  std::snprintf(price, sizeof price, "%lld.%02lld", static_cast<long long>(cents / 100),
                static_cast<long long>(cents % 100));
  item.PriceTotal = price;
}

const BookingItem& BookingGenerator::Latest(const std::string& id) const {
  auto it = FIssued.find(id);
  if (it == FIssued.end()) throw std::invalid_argument("Booking '" + id + "' was never issued");
  return it->second;
}

BookingItem BookingGenerator::New() {
  BookingItem item;
  ++FSerial;
  char id[32];
  std::snprintf(id, sizeof id, "VM-%06d", FSerial);
  item.Id = id;
  Stay(item);
  // Both date forms of the service, in turn.
  std::chrono::sys_days booked = *item.Arrival - std::chrono::days(1 + Below(60));
  item.Created = FSerial % 2 == 0 ? std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                                       booked.time_since_epoch())
                                                       .count() +
                                                   Below(86400))
                                  : Day(booked);
  item.FirstName = kFirstNames[Below(std::size(kFirstNames))];
  item.LastName = kLastNames[Below(std::size(kLastNames))];
  item.ChannelName = kChannels[Below(std::size(kChannels))];
  item.Email = "guest" + std::to_string(FSerial) + "@example.org";
  item.Phone = "+1 555 " + std::to_string(1000 + FSerial % 9000);
  item.Address = std::to_string(1 + Below(200)) + " Harbour Road";
  item.Comments = Below(4) == 0 ? "Late arrival, \"quiet\" room please" : "";
  FIssued[item.Id] = item;
  FOrder.push_back(item.Id);
  return item;
}

BookingItem BookingGenerator::Modify(const std::string& id) {
  BookingItem item = Latest(id);
  Stay(item);
  item.Modified = 1;
  FIssued[id] = item;
  return item;
}

BookingItem BookingGenerator::Cancel(const std::string& id) {
  BookingItem item = Latest(id);
  item.Status = "cancelled";
  item.Modified = 0;
  FIssued[id] = item;
  return item;
}

BookingItem BookingGenerator::Repeat(const std::string& id) { return Latest(id); }

std::vector<BookingItem> BookingGenerator::Mix(int fresh, int modified, int cancelled,
                                               int repeated) {
  // Earlier bookings in a random order, each used once.
  std::vector<std::string> earlier = FOrder;
  for (size_t i = earlier.size(); i > 1; --i)
    std::swap(earlier[i - 1], earlier[Below(static_cast<uint32_t>(i))]);
  std::vector<BookingItem> items;
  size_t next = 0;
  auto take = [&](int count, BookingItem (BookingGenerator::*make)(const std::string&)) {
    for (int i = 0; i < count && next < earlier.size(); ++i)
      items.push_back((this->*make)(earlier[next++]));
  };
  take(modified, &BookingGenerator::Modify);
  take(cancelled, &BookingGenerator::Cancel);
  take(repeated, &BookingGenerator::Repeat);
  for (int i = 0; i < fresh; ++i) items.push_back(New());
  for (size_t i = items.size(); i > 1; --i)
    std::swap(items[i - 1], items[Below(static_cast<uint32_t>(i))]);
  return items;
}

// ---- Server -----------------------------------------------------------------

Server::Server(uint16_t port) {
  FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FListen < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  int one = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  socklen_t len = sizeof addr;
  if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(FListen, 16) != 0 ||
      ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      ::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::string why = std::strerror(errno);
    ::close(FListen);
    if (FWake[0] >= 0) ::close(FWake[0]);
    if (FWake[1] >= 0) ::close(FWake[1]);
    throw std::runtime_error("Cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + why);
  }
  FPort = ntohs(addr.sin_port);
  FThread = std::thread([this] { Run(); });
}

Server::~Server() { Stop(); }

std::string Server::Url() const { return "http://127.0.0.1:" + std::to_string(FPort) + kPath; }

void Server::SetReply(const std::string& action, Reply reply) {
  std::lock_guard guard(FLock);
  FScripted[action] = std::move(reply);
}

void Server::QueueReply(Reply reply) {
  std::lock_guard guard(FLock);
  FQueue.push_back(std::move(reply));
}

void Server::SetReadTimeout(std::chrono::milliseconds timeout) {
  std::lock_guard guard(FLock);
  FReadTimeout = timeout;
}

std::vector<Request> Server::Requests() const {
  std::lock_guard guard(FLock);
  return FRequests;
}

void Server::Stop() {
  {
    std::lock_guard guard(FLock);
    if (FStopping && !FThread.joinable()) return;
    FStopping = true;
  }
  FStopped.notify_all();
  char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(FWake[1], &byte, 1);
  if (FThread.joinable()) FThread.join();
  for (int* fd : {&FListen, &FWake[0], &FWake[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

bool Server::WaitReadable(int fd, int timeoutMs) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {FWake[0], POLLIN, 0}};
  for (;;) {
    int n = ::poll(fds, 2, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || (fds[1].revents & POLLIN)) return false;
    return (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
}

void Server::Run() {
  while (WaitReadable(FListen)) {
    int connection = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    Serve(connection);
    ::close(connection);
  }
}

Reply Server::Choose(const Request& request) {
  std::lock_guard guard(FLock);
  if (!FQueue.empty()) {
    Reply r = std::move(FQueue.front());
    FQueue.pop_front();
    return r;
  }
  auto scripted = FScripted.find(request.Action());
  if (scripted != FScripted.end()) return scripted->second;
  return CannedReply(request);
}

void Server::Serve(int connection) {
  std::chrono::steady_clock::time_point deadline;
  {
    std::lock_guard guard(FLock);
    deadline = std::chrono::steady_clock::now() + FReadTimeout;
  }
  std::string data;
  // The whole request must arrive before the deadline, however it trickles in.
  auto readMore = [&]() {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 ||
        !WaitReadable(connection, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX))))
      return false;
    char buffer[8192];
    ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    data.append(buffer, static_cast<size_t>(n));
    return true;
  };

  size_t headEnd;
  while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
    if (data.size() > kMaxHead || !readMore()) return;
  }

  Request request;
  std::string_view head(data.data(), headEnd);
  size_t lineEnd = head.find("\r\n");
  std::string_view line = head.substr(0, lineEnd);
  size_t sp1 = line.find(' ');
  size_t sp2 = line.find(' ', sp1 + 1);
  if (sp1 == std::string_view::npos || sp2 == std::string_view::npos) return;
  request.Method = std::string(line.substr(0, sp1));
  request.Target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
  while (lineEnd != std::string_view::npos) {
    size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    std::string_view field = head.substr(
        start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
    size_t colon = field.find(':');
    if (colon == std::string_view::npos) continue;
    request.Headers.emplace_back(std::string(field.substr(0, colon)),
                                 Trimmed(field.substr(colon + 1)));
  }

  Reply reply;
  std::string lengthText = request.Header("Content-Length");
  size_t length = lengthText.empty() ? 0 : std::strtoull(lengthText.c_str(), nullptr, 10);
  if (!request.Header("Transfer-Encoding").empty()) {
    reply = Reply::Empty(411);
  } else if (length > kMaxBody) {
    reply = Reply::Empty(400);
  } else {
    size_t bodyStart = headEnd + 4;
    while (data.size() - bodyStart < length) {
      if (!readMore()) return;
    }
    request.Body = data.substr(bodyStart, length);
    reply = Choose(request);
  }
  {
    std::unique_lock guard(FLock);
    FRequests.push_back(request);
    if (reply.Delay.count() > 0) {
      FStopped.wait_for(guard, reply.Delay, [this] { return FStopping; });
      if (FStopping) return;
    }
  }
  if (reply.CloseWithoutReply) return;
  std::string answer =
      "HTTP/1.1 " + std::to_string(reply.Status) + " " + Reason(reply.Status) +
      "\r\nContent-Type: " + reply.ContentType +
      (reply.SendLength ? "\r\nContent-Length: " + std::to_string(reply.Body.size())
                        : std::string()) +
      "\r\nConnection: close\r\n\r\n" + reply.Body;
  SendAll(connection, answer);
}

}  // namespace valmora_stub
