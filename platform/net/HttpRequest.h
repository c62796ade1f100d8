// net::HttpRequest: the synchronous HTTP POST with which the plug-in sends a
// request document to the service and receives the reply, over libcurl.
//
// What it promises. Post returns when the whole reply has arrived, whatever its
// HTTP status: the body is the reply, and Status() says what the server answered,
// for whoever wants to know. Post raises ENetError when no reply arrives: the
// address is malformed or names a scheme other than http or https, the host
// cannot be resolved or refuses the connection, the TLS handshake or the
// certificate check fails, the connection breaks, or a time-out expires; and
// when the reply is larger than MaxReplySize (net/Limits.h), which is refused
// as soon as that shows, without keeping it.
//
// Time-outs. A service that accepts the connection and then says nothing must not
// hold the host's thread for ever, so every request has a connect time-out and a
// time-out for the whole exchange (DefaultHttpTimeouts, the one place where their
// values are chosen). Tests shorten them with SetTimeouts.
//
// What is sent. The body as given; the caller's headers; never
// "Expect: 100-continue", which costs a round trip and which some servers refuse.
// HTTPS verifies the server against the system's CA certificates. Proxy settings
// come from the environment, as for every other program on the machine.
//
// Threads. One request object belongs to one thread at a time; separate objects
// may run on separate threads.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rtl/Exception.h"

namespace net {

// No reply arrived (see above). The message names the address and the cause.
class ENetError : public rtl::Exception {
  using rtl::Exception::Exception;
};

struct HttpTimeouts {
  std::chrono::milliseconds Connect;
  std::chrono::milliseconds Transfer;  // the whole exchange, connecting included
};

// A clerk waits a quarter of a minute for a connection and a minute for an answer
// before the plug-in gives up and reports the exchange as failed.
inline constexpr HttpTimeouts DefaultHttpTimeouts{std::chrono::seconds(15),
                                                  std::chrono::seconds(60)};

class HttpRequest {
 public:
  HttpRequest() = default;
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Adds a request header (a later one of the same name is sent as well). A name
  // or value holding a line break is refused with rtl::EInvalidOperation, so that
  // no text can smuggle in a header of its own.
  void SetRequestHeader(std::string_view name, std::string_view value);
  void SetTimeouts(const HttpTimeouts& timeouts) { FTimeouts = timeouts; }

  // Posts `body` to `url` and waits for the reply. Raises ENetError when none
  // arrives; the status and text of an earlier reply are cleared first.
  void Post(std::string_view url, std::string_view body);

  // The reply's HTTP status (0 before a reply) and its body, byte for byte.
  long Status() const { return FStatus; }
  const std::string& ResponseText() const { return FResponse; }

 private:
  std::vector<std::pair<std::string, std::string>> FHeaders;
  HttpTimeouts FTimeouts = DefaultHttpTimeouts;
  long FStatus = 0;
  std::string FResponse;
};

}  // namespace net
