// The database component: the application's handle on one database.
//
// Only the password is here so far; opening, the session it belongs to, the
// questions it asks and its maintenance operations follow.
#pragma once

#include <string>

#include "rtl/Component.h"

namespace vex {

class TVEXDatabase : public rtl::TComponent {
 public:
  explicit TVEXDatabase(rtl::TComponent* AOwner);

  // The database password (empty for an unencrypted database), Windows-1252.
  // Storing it checks nothing, also on an open database: it counts from the
  // next open.
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value) { FPassword = Value; }

 private:
  std::string FPassword;
};

}  // namespace vex
