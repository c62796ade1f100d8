// How the plug-in's routines give a query of the data module its statement:
// closed first, then the whole text replaced line by line.
#pragma once

#include <initializer_list>
#include <string_view>

#include "components/VEXQuery.h"

namespace valmora {

// Closes Query and replaces its text by Lines (joined by line breaks); the
// named parameters are parsed again.
void SetQueryText(vex::TVEXQuery& Query, std::initializer_list<std::string_view> Lines);

// Closes a query on every way out of a routine that must leave it closed.
class QueryCloser {
 public:
  explicit QueryCloser(vex::TVEXQuery& Query) : FQuery(Query) {}
  ~QueryCloser();
  QueryCloser(const QueryCloser&) = delete;
  QueryCloser& operator=(const QueryCloser&) = delete;

 private:
  vex::TVEXQuery& FQuery;
};

}  // namespace valmora
