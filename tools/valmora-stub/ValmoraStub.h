// A loopback stand-in for the channel-manager web service, for the tests and the
// demo. It listens on 127.0.0.1 only, answers each POSTed request document from a
// script or from canned replies, and records every request it receives.
//
// Replies are chosen in this order: a reply queued with QueueReply (each answers
// one request, first queued first), the reply set for the request's action with
// SetReply, the canned reply of CannedReply. A reply can also be an HTTP error
// status, an HTML or empty body, a delayed answer, or a connection closed without
// any answer, so that the client's failure paths can be driven.
//
// BookingReplyXml and BookingGenerator write booking replies (any number of new,
// modified and cancelled bookings) for the tests of the booking import and the
// benchmark.
//
// The server runs on a thread of its own and answers one connection at a time,
// closing each after its reply. A connection must deliver its whole request
// within the read time (DefaultReadTimeout unless set): one that connects and
// stays silent is closed then, so it holds up later clients for that long only.
// Stop (or the destructor) ends the server at once, also while a delayed reply
// waits or a connection is being read. All members are safe to call from any
// thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace valmora_stub {

// One request as the server received it.
struct Request {
  std::string Method;
  std::string Target;  // path and query, as sent
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;

  // The value of the first header of that name (letter case ignored), empty when
  // there is none; HeaderCount counts them.
  std::string Header(std::string_view name) const;
  int HeaderCount(std::string_view name) const;
  // The `name` attribute of the body's `action` element; empty when the body is
  // not a request document.
  std::string Action() const;
};

// One booking `item` of a getBookingsIncDetails reply. Texts are written as
// given (UTF-8) and escaped; an empty text, and a date that is not set, leaves
// its element out. Numbers are always written.
struct BookingItem {
  std::string Id;
  std::string Created;  // either date form: seconds since 1970 or YYYY-MM-DD
  std::string Status = "new";
  int Modified = 0;
  std::string RoomId;
  int RoomsCount = 1;
  std::optional<std::chrono::sys_days> Arrival;    // start_date, YYYY-MM-DD
  std::optional<std::chrono::sys_days> Departure;  // end_date
  std::string PriceTotal;                          // as written: "360.50"
  std::string ChannelName = "Loopback channel";
  int Adults = 2;
  int Children = 0;
  std::string Comments;
  std::string FirstName, LastName, Email, Phone, Address;

  bool operator==(const BookingItem&) const = default;
};

// The reply document to getBookingsIncDetails holding `items` in order, as the
// service writes it:
//   <valmora><bookings><item><id>..</id><created>..</created><status>..</status>
//   <modified>..</modified><room_id>..</room_id><rooms_count>..</rooms_count>
//   <start_date>..</start_date><end_date>..</end_date><price_total>..</price_total>
//   <channel_name>..</channel_name><adults>..</adults><children>..</children>
//   <comments>..</comments><first_name>..</first_name><last_name>..</last_name>
//   <email>..</email><phone>..</phone><address>..</address></item>...</bookings></valmora>
std::string BookingReplyXml(const std::vector<BookingItem>& items);

// Makes bookings as a busy service would send them, the same for the same seed:
// new ones with fresh booking numbers, and later forms of those it has issued
// (modified, cancelled, or sent again unchanged). It remembers the latest form
// of every booking, which is what a correct import holds.
class BookingGenerator {
 public:
  // Bookings for the room IDs `roomIds` (not empty), arriving on one of the
  // `days` days from `firstArrival` and staying 1 to `maxNights` nights.
  BookingGenerator(uint32_t seed, std::vector<std::string> roomIds,
                   std::chrono::sys_days firstArrival, int days = 30, int maxNights = 7);

  // A new booking with a booking number never issued before.
  BookingItem New();
  // An issued booking with `modified` 1 and new dates, room ID and guest count.
  BookingItem Modify(const std::string& id);
  // An issued booking with the status "cancelled" and `modified` 0.
  BookingItem Cancel(const std::string& id);
  // The latest form of an issued booking, again.
  BookingItem Repeat(const std::string& id);
  // The items of one reply: `fresh` new bookings and up to `modified`,
  // `cancelled` and `repeated` later forms of bookings issued before this call
  // (each booking at most once per reply; fewer when not enough were issued),
  // in a shuffled order.
  std::vector<BookingItem> Mix(int fresh, int modified, int cancelled, int repeated);

  // The latest form of every issued booking, by booking number.
  const std::map<std::string, BookingItem>& Issued() const { return FIssued; }

 private:
  uint32_t Below(uint32_t bound);  // 0 .. bound-1, the same on every platform
  void Stay(BookingItem& item);
  const BookingItem& Latest(const std::string& id) const;

  std::mt19937 FRandom;
  std::vector<std::string> FRoomIds;
  std::chrono::sys_days FFirst;
  int FDays;
  int FMaxNights;
  int FSerial = 0;
  std::map<std::string, BookingItem> FIssued;
  std::vector<std::string> FOrder;  // booking numbers in the order issued
};

struct Reply {
  int Status = 200;
  std::string ContentType = "text/xml";
  std::string Body;
  std::chrono::milliseconds Delay{0};  // waited before the answer is sent
  bool CloseWithoutReply = false;      // close the connection, send nothing
  bool SendLength = true;              // false: no Content-Length, the close ends the body

  static Reply Xml(std::string body, int status = 200);
  // A SOAP fault whose `faultstring` holds the text.
  static Reply Fault(std::string_view text, int status = 500);
  // A getBookingsIncDetails reply with these bookings (BookingReplyXml).
  static Reply Bookings(const std::vector<BookingItem>& items);
  // An `Error` element with the attributes `Type` and `Code`.
  static Reply Error(std::string_view type, std::string_view code, std::string_view text);
  static Reply Html(std::string body, int status = 200);
  static Reply Empty(int status = 200);
  static Reply Closed();
  // This reply, sent only after `delay`.
  Reply After(std::chrono::milliseconds delay) const;
  // This reply without a Content-Length header: the client learns its size only
  // when the connection closes.
  Reply WithoutLength() const;
};

// What the service answers when nothing is scripted: an acknowledgement for
// setAllotments and setRates; for getBookingsIncDetails two new bookings, arriving
// on the requested start date (one dated in epoch seconds, one as xs:date); a
// fault for anything else.
Reply CannedReply(const Request& request);

// Long enough for any client on the same machine, short enough that a silent
// one does not stall a test run.
inline constexpr std::chrono::milliseconds DefaultReadTimeout{std::chrono::seconds(3)};

class Server {
 public:
  // Listens on 127.0.0.1:`port` (0: a free port the system picks). Raises
  // std::runtime_error when the port cannot be bound.
  explicit Server(uint16_t port = 0);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  uint16_t Port() const { return FPort; }
  // The service address the plug-in posts to.
  std::string Url() const;

  void SetReply(const std::string& action, Reply reply);
  void QueueReply(Reply reply);
  // The time a connection has, from its acceptance, to deliver its request.
  void SetReadTimeout(std::chrono::milliseconds timeout);
  std::vector<Request> Requests() const;

  // Stops listening and joins the server's thread; idempotent.
  void Stop();

 private:
  void Run();
  void Serve(int connection);
  Reply Choose(const Request& request);
  // Waits until the connection has bytes to read; false when the server stops,
  // the peer hangs up or `timeoutMs` (-1: no limit) passes.
  bool WaitReadable(int fd, int timeoutMs = -1);

  int FListen = -1;
  int FWake[2] = {-1, -1};
  uint16_t FPort = 0;
  std::thread FThread;

  mutable std::mutex FLock;
  std::condition_variable FStopped;
  bool FStopping = false;
  std::chrono::milliseconds FReadTimeout = DefaultReadTimeout;
  std::deque<Reply> FQueue;
  std::map<std::string, Reply> FScripted;
  std::vector<Request> FRequests;
};

}  // namespace valmora_stub
