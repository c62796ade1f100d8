#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "ValmoraStub.h"
#include "net/HttpRequest.h"
#include "net/Limits.h"
#include "rtl/Exception.h"

namespace {

using namespace std::chrono_literals;
using valmora_stub::Reply;

TEST(NetHttpRequest, PostsTheBodyAndReceivesTheReplyWhateverItsStatus) {
  valmora_stub::Server server;
  const struct {
    Reply reply;
    long status;
  } cases[] = {
      {Reply::Xml("<ok/>"), 200},
      {Reply::Fault("Invalid login"), 500},
      {Reply::Html("<html>Not here</html>", 404), 404},
      {Reply::Empty(), 200},
  };
  for (const auto& c : cases) server.QueueReply(c.reply);

  net::HttpRequest request;
  request.SetRequestHeader("Content-Type", "text/xml");
  const std::string body = "<?xml version=\"1.0\"?><r>\xC3\xA9</r>";
  for (const auto& c : cases) {
    request.Post(server.Url(), body);
    EXPECT_EQ(request.Status(), c.status);
    EXPECT_EQ(request.ResponseText(), c.reply.Body);
  }

  auto received = server.Requests();
  ASSERT_EQ(received.size(), std::size(cases));
  for (const auto& r : received) {
    EXPECT_EQ(r.Method, "POST");
    EXPECT_EQ(r.Target, "/webinterface.php?dialog=v2");
    EXPECT_EQ(r.Body, body);
    EXPECT_EQ(r.Header("Content-Type"), "text/xml");
    EXPECT_EQ(r.HeaderCount("Content-Type"), 1);
    EXPECT_EQ(r.HeaderCount("Expect"), 0);
  }
}

TEST(NetHttpRequest, NoReplyRaisesAndClearsTheEarlierReply) {
  valmora_stub::Server server;
  std::string url = server.Url();
  server.QueueReply(Reply::Xml("<first/>"));
  server.QueueReply(Reply::Closed());
  server.QueueReply(Reply::Xml("<late/>").After(10s));

  net::HttpRequest request;
  request.SetTimeouts({1000ms, 200ms});
  request.Post(url, "<a/>");
  ASSERT_EQ(request.ResponseText(), "<first/>");

  // The connection closes without an answer.
  EXPECT_THROW(request.Post(url, "<a/>"), net::ENetError);
  EXPECT_EQ(request.Status(), 0);
  EXPECT_EQ(request.ResponseText(), "");
  // The service takes longer than the transfer time-out.
  EXPECT_THROW(request.Post(url, "<a/>"), net::ENetError);
  EXPECT_EQ(server.Requests().size(), 3u);

  // Nothing listens on the port any more.
  server.Stop();
  try {
    request.Post(url, "<a/>");
    ADD_FAILURE() << "no error";
  } catch (const net::ENetError& e) {
    EXPECT_NE(e.Message().find(url), std::string::npos) << e.Message();
  }
  // Only the web's schemes are spoken, and the address must be one.
  EXPECT_THROW(request.Post("file:///etc/hostname", "<a/>"), net::ENetError);
  EXPECT_THROW(request.Post("", "<a/>"), net::ENetError);
}

TEST(NetHttpRequest, AReplyLargerThanTheBoundIsRefusedAndNotKept) {
  valmora_stub::Server server;
  const Reply over = Reply::Xml(std::string(net::MaxReplySize + 1, 'x'));
  const Reply cases[] = {over, over.WithoutLength()};  // announced, and found out while arriving
  net::HttpRequest request;
  for (const Reply& reply : cases) {
    server.QueueReply(Reply::Xml("<earlier/>"));
    request.Post(server.Url(), "<a/>");
    server.QueueReply(reply);
    try {
      request.Post(server.Url(), "<a/>");
      ADD_FAILURE() << "no error";
    } catch (const net::ENetError& e) {
      EXPECT_NE(e.Message().find("larger than 16777216 bytes"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(request.ResponseText(), "");
  }
  // The bound itself is still taken.
  server.QueueReply(Reply::Xml(std::string(net::MaxReplySize, 'x')).WithoutLength());
  request.Post(server.Url(), "<a/>");
  EXPECT_EQ(request.ResponseText().size(), net::MaxReplySize);
}

TEST(LoopbackService, ASilentConnectionIsClosedAfterTheReadTimeAndLaterClientsAreServed) {
  valmora_stub::Server server;
  server.SetReadTimeout(300ms);
  server.QueueReply(Reply::Xml("<ok/>"));
  int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(silent, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(server.Port());
  ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  // Queued behind the silent connection, the request is answered once it is dropped.
  net::HttpRequest request;
  request.SetTimeouts({1000ms, 5000ms});
  request.Post(server.Url(), "<a/>");
  EXPECT_EQ(request.ResponseText(), "<ok/>");
  char byte = 0;
  EXPECT_EQ(::recv(silent, &byte, 1, 0), 0);  // closed without an answer
  ::close(silent);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(NetHttpRequest, AHeaderCannotCarryALineBreak) {
  net::HttpRequest request;
  EXPECT_THROW(request.SetRequestHeader("X-A", "1\r\nX-B: 2"), rtl::EInvalidOperation);
  EXPECT_THROW(request.SetRequestHeader("X-A\n", "1"), rtl::EInvalidOperation);
  EXPECT_THROW(request.SetRequestHeader("", "1"), rtl::EInvalidOperation);
}

}  // namespace
