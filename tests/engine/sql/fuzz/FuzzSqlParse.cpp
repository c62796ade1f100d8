// Fuzzes the lexer and the statement parsers: every command of the input is
// lexed and its statement built (which parses it), nothing is run. Any
// failure must be one of the engine's own exceptions.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzFixture.h"
#include "components/VEXQuery.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "sql/VEXLexer.h"
#include "sql/VEXSQLProcessor.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sqlfuzz::StartOnce();
  sqlfuzz::ResetFixture();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::u16string text =
      rtl::Win1252ToUtf16(std::string_view(reinterpret_cast<const char*>(Data), Size));
  vex::TVEXQuery query(nullptr);
  query.SetDatabaseName("MEMORY");
  vex::TVEXSQLProcessor processor(&query);
  try {
    vex::TVEXLexer lexer(text, &processor.SQLParams(), false);
    while (processor.ParseNextCommand(lexer)) {
    }
  } catch (const rtl::Exception&) {
  }
  return 0;
}
