#include "OtaQueryText.h"

#include <string>

#include "rtl/Lists.h"

namespace valmora {

void SetQueryText(vex::TVEXQuery& Query, std::initializer_list<std::string_view> Lines) {
  Query.Close();
  // One change of the list, so the parameters are parsed once, from the
  // whole text.
  std::string text;
  for (std::string_view line : Lines) {
    text += line;
    text += "\r\n";
  }
  Query.SQL().SetText(text);
}

QueryCloser::~QueryCloser() {
  try {
    FQuery.Close();
  } catch (...) {
    // Closing releases the result only; a failure there leaves nothing to undo.
  }
}

}  // namespace valmora
