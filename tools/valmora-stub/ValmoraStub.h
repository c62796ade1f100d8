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
