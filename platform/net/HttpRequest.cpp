// The HTTP POST over libcurl's easy interface: one easy handle per request,
// released on every way out.
#include "net/HttpRequest.h"

#include <curl/curl.h>

#include <memory>

#include "net/Limits.h"
#include "rtl/Format.h"

namespace net {

namespace {

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct Received {
  std::string Body;
  bool TooLarge = false;
};

// Stops the transfer (by taking nothing) once the reply passes MaxReplySize, so
// that a runaway reply never occupies more memory than that.
size_t Collect(char* data, size_t size, size_t count, void* target) {
  auto* received = static_cast<Received*>(target);
  const size_t n = size * count;  // libcurl passes size 1
  if (n > MaxReplySize - received->Body.size()) {
    received->TooLarge = true;
    return 0;
  }
  received->Body.append(data, n);
  return n;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

void HttpRequest::SetRequestHeader(std::string_view name, std::string_view value) {
  if (name.empty() || HasLineBreak(name) || HasLineBreak(value) ||
      name.find(':') != std::string_view::npos)
    throw rtl::EInvalidOperation(
        rtl::Format("The request header '%s' is not valid", std::string(name)));
  FHeaders.emplace_back(std::string(name), std::string(value));
}

void HttpRequest::Post(std::string_view url, std::string_view body) {
  FStatus = 0;
  FResponse.clear();
  std::string address(url);

  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) throw ENetError(rtl::Format("The request to %s failed: out of memory", address));
  CURL* h = easy.get();

  std::unique_ptr<curl_slist, ListDeleter> headers;
  auto addHeader = [&headers](const std::string& line) {
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (grown == nullptr) throw ENetError("Out of memory for the request headers");
    (void)headers.release();
    headers.reset(grown);
  };
  for (const auto& [name, value] : FHeaders) addHeader(name + ": " + value);
  // An empty value tells libcurl to leave the header out altogether.
  addHeader("Expect:");

  char errorText[CURL_ERROR_SIZE] = {};
  Received reply;
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(h, CURLOPT_URL, address.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FTimeouts.Connect.count()));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(FTimeouts.Transfer.count()));
  // Time-outs without signals: the host's process may have threads of its own.
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply);
  // A reply that announces its size is refused before any of it arrives.
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxReplySize));

  CURLcode code = curl_easy_perform(h);
  if (reply.TooLarge || code == CURLE_FILESIZE_EXCEEDED)
    throw ENetError(rtl::Format("The reply from %s is larger than %d bytes", address,
                                static_cast<int64_t>(MaxReplySize)));
  if (code != CURLE_OK) {
    std::string cause = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    throw ENetError(rtl::Format("The request to %s failed: %s", address, cause));
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  FStatus = status;
  FResponse = std::move(reply.Body);
}

}  // namespace net
