// What both SQL fuzz targets share: the engine started once, a working folder
// of their own (statements may name database files), and a small fixture of
// two tables in the in-memory database, made afresh for every input so that
// what one input changes cannot steer the next.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "components/VEXEngineState.h"
#include "components/VEXSession.h"
#include "components/VEXTable.h"
#include "foundation/VEXStartup.h"
#include "rtl/Lists.h"
#include "sql/expression/VEXExpression.h"

namespace sqlfuzz {

inline void StartOnce() {
  static bool started = false;
  if (started) return;
  started = true;
  std::string folder = (std::filesystem::temp_directory_path() / "valmorafuzzXXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr || ::chdir(folder.c_str()) != 0) abort();
  vex::AddComponentsStartupSteps();
  vex::AddSqlStartupSteps();
  vex::StartEngine();
}

// Room (ID, NAME, K) and Kind (K, TITLE) in the in-memory database, every
// other table there dropped.
inline void ResetFixture() {
  rtl::TStringList names;
  vex::GetDefaultSession().GetTableNames("MEMORY", names);
  for (int32_t i = 0; i < names.Count(); ++i) {
    vex::TVEXTable t(nullptr);
    t.SetDatabaseName("MEMORY");
    t.SetTableName(names[i]);
    t.DeleteTable();
  }
  struct Column {
    const char* Name;
    vex::TVEXAdvancedFieldType Type;
    int32_t Size;
  };
  auto make = [](const char* Name, std::initializer_list<Column> Columns,
                 std::initializer_list<std::initializer_list<const char*>> Rows) {
    vex::TVEXTable t(nullptr);
    t.SetDatabaseName("MEMORY");
    t.SetTableName(Name);
    for (const Column& c : Columns) t.AdvFieldDefs().Add(c.Name, c.Type, c.Size, false);
    t.CreateTable();
    t.Open();
    for (const auto& row : Rows) {
      t.Append();
      int32_t i = 0;
      for (const char* v : row) {
        if (v != nullptr) t.Fields()[i]->SetAsString(v);
        ++i;
      }
      t.Post();
    }
  };
  make("Room", {{"ID", vex::aftInteger, 0}, {"NAME", vex::aftString, 10}, {"K", vex::aftInteger, 0}},
       {{"3", "c", "1"}, {"1", "a", "2"}, {"2", "b", "1"}, {"4", "B", nullptr}});
  make("Kind", {{"K", vex::aftInteger, 0}, {"TITLE", vex::aftString, 10}},
       {{"1", "single"}, {"2", "double"}, {"3", "suite"}});
}

}  // namespace sqlfuzz
