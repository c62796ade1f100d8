// Fuzzes the statements end to end: the input is the text of a query
// component on the in-memory database with two small tables, run for its
// rows when it starts with SELECT, else for its effect. Any failure must be
// one of the engine's own exceptions.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzFixture.h"
#include "components/VEXQuery.h"
#include "rtl/Exception.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sqlfuzz::StartOnce();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  // A transaction an input starts stays with the in-memory database after
  // the query's own database component is gone, and would keep every later
  // input from resetting the fixture: such inputs are left to the test files.
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("TRANSACTION") != std::string::npos) return -1;
  sqlfuzz::ResetFixture();
  vex::TVEXQuery query(nullptr);
  query.SetDatabaseName("MEMORY");
  try {
    query.SQL().SetText(text);
    const size_t start = text.find_first_not_of(" \t\r\n");
    if (start != std::string::npos && text.compare(start, 6, "SELECT") == 0) {
      query.Open();
      for (query.First(); !query.Eof(); query.Next()) {
        for (int32_t i = 0; i < query.FieldCount(); ++i) query.Fields()[i]->AsString();
      }
      query.Close();
    } else {
      query.ExecSQL();
    }
  } catch (const rtl::Exception&) {
  }
  return 0;
}
