// The largest reply the system takes in. A reply is held whole in memory, and
// loading it into a document costs about fifteen times its size at the peak
// (docs/web-protocol.md gives the figures), so a larger one is refused before it
// is kept or parsed: HttpRequest stops receiving it and XmlDocument::LoadXML will
// not parse a longer text. A day's bookings take a few kilobytes; this bound
// leaves room for tens of thousands.
#pragma once

#include <cstddef>

namespace net {

inline constexpr size_t MaxReplySize = size_t{16} * 1024 * 1024;

}  // namespace net
