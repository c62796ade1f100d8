// lodgemark-host: stands in for the hotel application on this platform.
//
// `lodgemark-host --demo` runs the exchange with the channel manager against
// the loopback stand-in of the web service: it sends an availability update for
// the next three nights and fetches the bookings of the coming week, printing
// each document exchanged. Once the plug-in's exported entry points exist, the
// host loads the plug-in library and calls them instead.
#include <cstdio>
#include <cstring>
#include <exception>

#include "OtaGfgIni.h"
#include "ValmoraLibrary.h"
#include "ValmoraProtocol.h"
#include "ValmoraStub.h"
#include "net/XmlDocument.h"
#include "rtl/CodePage.h"
#include "rtl/DateTime.h"

namespace {

void Print(const char* title, const net::XmlDocument& doc) {
  std::printf("---- %s\n%s\n", title, rtl::Win1252ToUtf8(doc.FormattedXml()).c_str());
}

int RunDemo() {
  valmora_stub::Server service;
  std::printf("Loopback channel manager listening at %s\n", service.Url().c_str());
  rtl::TDateTime today = rtl::Date();

  net::XmlDocument doc;
  net::XmlNode action = valmora::BuildRequestFrame(doc, "setAllotments", "demo-hotel", "4711");
  for (int night = 0; night < 3; ++night)
    valmora::AddAllotmentItem(action, "DBL", today + night, 5 - night);
  Print("availability request", doc);
  valmora::PostRequest(doc, service.Url());
  Print("availability reply", doc);

  action = valmora::BuildRequestFrame(doc, "getBookingsIncDetails", "demo-hotel", "4711");
  valmora::AddBookingRange(action, today, today + 7);
  Print("booking request", doc);
  valmora::PostRequest(doc, service.Url());
  Print("booking reply", doc);

  std::printf(
      "The finished demo creates a demo reservation database and calls the plug-in's three\n"
      "exported functions (availability update, booking retrieval, settings dialog) instead.\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--demo") == 0) {
    try {
      // What loading the plug-in library does; its unload mirrors it.
      valmora::LibraryLoad();
      const int result = RunDemo();
      valmora::LibraryUnload();
      return result;
    } catch (const std::exception& e) {
      valmora::LibraryUnload();
      std::fprintf(stderr, "lodgemark-host: %s\n", e.what());
      return 1;
    }
  }
  std::fprintf(stderr, "usage: lodgemark-host --demo\n");
  return 2;
}
