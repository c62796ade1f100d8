// Date format strings of the SQL functions TODATE and TOSTRING.
//
// A format such as 'YYYY-MM-DD HH24:NN:SS' is split once into tokens: keywords
// (matched longest first and without regard to case, so 'MONTH' is one keyword
// and 'MM' is not two 'M's) and literal text (quoted, or whatever no keyword
// matches). A TDateFormater then turns text into a date-time and a date-time
// into text by walking its tokens. Names of months and days come from the
// process's format settings, so the text follows the user's locale.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VEXFieldTypes.h"
#include "rtl/DateTime.h"

namespace vex {

enum TDateFormatType : uint8_t {
  dfYYYY,
  dfYY,
  dfYEAR,
  dfQ,
  dfMONTH,
  dfMON,
  dfMM,
  dfM,
  dfRM,
  dfDDD,
  dfDD,
  dfDAY,
  dfDY,
  dfDW,
  dfD,
  dfHH12,
  dfHH24,
  dfHH,
  dfH12,
  dfH24,
  dfH,
  dfNN,
  dfN,
  dfSS,
  dfS,
  dfAMPM,
  dfText
};

// The keyword texts, in the order of TDateFormatType (dfText has none).
extern const std::array<std::string_view, dfText> DateFormatKeywords;

// The length of the longest keyword, which bounds the look-ahead of the scan.
// Worked out by the engine's start-up (EVEXEngineNotStarted before).
int32_t MaxDateFormatKeywordLength();
void CreateDateFormatKeywordLength();
void FreeDateFormatKeywordLength() noexcept;

struct TDateFormatToken {
  TDateFormatType TokenType;
  // The characters that matched a keyword, in the case in which they were
  // written; for dfText the literal text.
  std::string Text;
};

class TDateFormater {
 public:
  explicit TDateFormater(std::string_view dateFormat);

  // Reads a date-time written in this format. Raises EVEXException 30129 for a
  // wrong AM/PM word and the platform's conversion error for anything else that
  // is not a number where one is expected, or an impossible date or time.
  rtl::TDateTime ToDate(std::string_view str) const;
  std::string ToString(rtl::TDateTime dt) const;

  // The largest length of a text that ToString produces under the current
  // format settings.
  int32_t GetStringMaxSize() const;
  TVEXAdvancedFieldType GetDataType() const;
  std::string DebugGetTotenList() const;

  const std::vector<TDateFormatToken>& Tokens() const { return FDateFormat; }

 private:
  std::vector<TDateFormatToken> FDateFormat;
};

}  // namespace vex
