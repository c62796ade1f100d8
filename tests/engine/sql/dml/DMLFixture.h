// A multi-user database file made by the engine, opened as "Hotel", and
// statements run over it through query components; rows read back as text.
// When a test ends the file must be sound and leak no page.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "VEXFileCheck.h"
#include "components/VEXDatabase.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXQuery.h"
#include "components/VEXSession.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "db/Params.h"
#include "storage/VEXCursor.h"
#include "storage/disk/VEXTableLocks.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace vextest {

using Rows = std::vector<std::string>;

class DML : public ::testing::Test {
 protected:
  void SetUp() override {
    File = NewFile("hotel.vex", "");
    Database = std::make_unique<vex::TVEXDatabase>(nullptr);
    Database->SetDatabaseName("Hotel");
    Database->SetDatabaseFileName(File);
    Database->SetSilentMode(true);
    Database->SetMultiUser(true);
    Database->Open();
  }
  void TearDown() override {
    Queries.clear();
    Holder.reset();
    Other.reset();
    if (Database->InTransaction()) Database->Rollback();
    Database.reset();
    if (HasFatalFailure()) return;
    for (const auto& [path, password] : Files) {
      const vex::TVEXFileCheckReport report = vex::CheckDatabaseFile(path, password);
      EXPECT_TRUE(report.Sound() && report.LeakedPages.empty())
          << vex::FormatFileCheckReport(path, report);
    }
  }

  // A new database file in the scratch folder; encrypted when Password is
  // not empty.
  std::string NewFile(const std::string& Name, const std::string& Password) {
    const std::string path = Dir / Name;
    vex::TVEXLocalSession creator;
    creator.SetDatabaseName("New");
    creator.SetDatabaseFileName(path);
    if (!Password.empty()) *creator.Password() = {Password, vex::craRijndael_128};
    creator.SetPageSize(4096);
    creator.SetPageCountInExtent(8);
    creator.SetMaxSessionCount(20);
    creator.CreateDatabase();
    Files.emplace_back(path, Password);
    return path;
  }

  // A closed query on the database with the text.
  vex::TVEXQuery& NewQuery(std::string_view Text) {
    Queries.push_back(std::make_unique<vex::TVEXQuery>(nullptr));
    vex::TVEXQuery& q = *Queries.back();
    q.SetDatabaseName("Hotel");
    q.SQL().SetText(Text);
    return q;
  }
  // Runs the text for its effect; answers the rows it affected.
  int32_t Exec(std::string_view Text) {
    vex::TVEXQuery& q = NewQuery(Text);
    q.ExecSQL();
    return q.RowsAffected();
  }
  // The native code Exec raises, its message into *Message; 0 for none.
  int32_t CodeOfExec(std::string_view Text, std::string* Message = nullptr) {
    return testsupport::CodeOf([&] { Exec(Text); }, Message);
  }
  // The rows of a SELECT, each as its fields' texts joined by "|" ("-" for
  // null).
  Rows Select(std::string_view Text) {
    vex::TVEXQuery& q = NewQuery(Text);
    q.Open();
    Rows rows;
    for (q.First(); !q.Eof(); q.Next()) {
      std::string row;
      for (int32_t i = 0; i < q.FieldCount(); ++i) {
        db::TField* f = q.Fields()[i];
        if (i > 0) row += "|";
        row += f->IsNull() ? "-" : f->AsString();
      }
      rows.push_back(row);
    }
    q.Close();
    return rows;
  }

  // A second connection to the file (another session name) with the table
  // Name open, to hold locks against the statements.
  void OpenHolder(const std::string& Name) {
    Other = std::make_unique<vex::TVEXSession>(nullptr);
    Other->SetSessionName("Other");
    auto* database = new vex::TVEXDatabase(Other.get());
    database->SetDatabaseName("Hotel");
    database->SetDatabaseFileName(File);
    database->SetMultiUser(true);
    database->SetSilentMode(true);
    Holder = std::make_unique<vex::TVEXTable>(nullptr);
    Holder->SetSessionName("Other");
    Holder->SetDatabaseName("Hotel");
    Holder->SetTableName(Name);
    Holder->Open();
  }
  bool HolderTakes(vex::TVEXLockType Type) {
    return Holder->Handle()->LockTable(Type, 1, 0, false);
  }
  void HolderGives(vex::TVEXLockType Type) { Holder->Handle()->UnlockTable(Type, false); }

  testsupport::ScratchDir Dir;
  std::string File;
  std::unique_ptr<vex::TVEXDatabase> Database;
  std::vector<std::unique_ptr<vex::TVEXQuery>> Queries;
  std::unique_ptr<vex::TVEXSession> Other;
  std::unique_ptr<vex::TVEXTable> Holder;
  // The files made, with their passwords.
  std::vector<std::pair<std::string, std::string>> Files;
};

}  // namespace vextest
