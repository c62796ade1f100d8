// A database file made by the engine in a scratch folder, opened as "Hotel",
// and a query component on it that runs the statements.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/VEXDatabase.h"
#include "engine/sql/CheckedDatabaseFiles.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/FieldDefs.h"
#include "engine/components/ScriptedUi.h"
#include "rtl/Variant.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace vextest {

class DDL : public ::testing::Test {
 protected:
  void SetUp() override {
    File = NewFile("hotel.vex", "");
    Database = std::make_unique<vex::TVEXDatabase>(nullptr);
    Database->SetDatabaseName("Hotel");
    Database->SetDatabaseFileName(File);
    Database->SetSilentMode(true);
    Database->Open();
    Query.SetDatabaseName("Hotel");
  }
  void TearDown() override {
    Tables.clear();
    if (Database->InTransaction()) Database->Rollback();
    Database.reset();
    // Every file a statement changed must still be sound.
    if (HasFatalFailure()) return;
    Files.ExpectSound();
  }

  // A new database file; encrypted when Password is not empty.
  std::string NewFile(const std::string& Name, const std::string& Password) {
    return Files.New(Dir, Name, Password);
  }

  // Runs the statements of Sql through the query.
  void Run(std::string_view Sql) {
    Query.SQL().SetText(Sql);
    Query.ExecSQL();
  }
  // The native code Run raises, its message into *Message; 0 for none.
  int32_t CodeOfRun(std::string_view Sql, std::string* Message = nullptr) {
    return testsupport::CodeOf([&] { Run(Sql); }, Message);
  }

  // A closed table component on Name in DatabaseName, its definitions read.
  vex::TVEXTable& TableOf(const std::string& Name, const std::string& DatabaseName = "Hotel") {
    Tables.push_back(std::make_unique<vex::TVEXTable>(nullptr));
    vex::TVEXTable& t = *Tables.back();
    t.SetDatabaseName(DatabaseName);
    t.SetTableName(Name);
    t.FieldDefs().Update();
    t.AdvIndexDefs().Update();
    return t;
  }
  bool Exists(const std::string& Name) { return Database->TableExists(Name); }
  // The field names of a table in order, joined by ",".
  std::string FieldNames(const std::string& Name) {
    vex::TVEXAdvFieldDefs& defs = TableOf(Name).AdvFieldDefs();
    std::string names;
    for (int32_t i = 0; i < defs.Count(); ++i) names += (i ? "," : "") + defs.GetDef(i)->Name;
    return names;
  }
  // Appends one record with the given values of the named fields and answers
  // the value of Read afterwards.
  rtl::Variant Append(vex::TVEXTable& t,
                      const std::vector<std::pair<std::string, rtl::Variant>>& Values,
                      const std::string& Read) {
    t.Append();
    for (const auto& [name, value] : Values) t.FieldByName(name)->SetAsVariant(value);
    t.Post();
    return t.FieldByName(Read)->AsVariant();
  }

  testsupport::ScratchDir Dir;
  ScriptedUi Ui;
  ui::ScopedUi UiScope{Ui};
  std::string File;
  std::unique_ptr<vex::TVEXDatabase> Database;
  vex::TVEXQuery Query{nullptr};
  std::vector<std::unique_ptr<vex::TVEXTable>> Tables;
  CheckedDatabaseFiles Files;
};

}  // namespace vextest
