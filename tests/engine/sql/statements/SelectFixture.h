// A database file of the engine's making with two small tables, and queries
// run over it through the query component, their rows read back as text.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "engine/sql/DataSetRows.h"
#include "rtl/DateTime.h"
#include "rtl/Variant.h"
#include "support/ScratchDir.h"

namespace vextest {


class SelectFixture : public ::testing::Test {
 public:
  void SetUp() override {
    File = Dir / "hotel.vex";
    {
      vex::TVEXLocalSession creator;
      creator.SetDatabaseName("New");
      creator.SetDatabaseFileName(File);
      creator.SetPageSize(4096);
      creator.SetPageCountInExtent(8);
      creator.SetMaxSessionCount(50);
      creator.CreateDatabase();
    }
    Database = std::make_unique<vex::TVEXDatabase>(nullptr);
    Database->SetDatabaseName("Hotel");
    Database->SetDatabaseFileName(File);
    Database->SetSilentMode(true);
    Database->SetMultiUser(true);
    Database->Open();
    // Room: rows in this physical order; a null K and a name that differs
    // from another only in case.
    MakeTable("Room",
              {{"ID", vex::aftInteger, 0}, {"NAME", vex::aftString, 10}, {"K", vex::aftInteger, 0}},
              {{"3", "c", "1"}, {"1", "a", "2"}, {"2", "b", "1"}, {"4", "B", ""}});
    // Kind: K -> TITLE, one kind without a room and none for the null K.
    MakeTable("Kind", {{"K", vex::aftInteger, 0}, {"TITLE", vex::aftString, 10}},
              {{"1", "single"}, {"2", "double"}, {"3", "suite"}});
  }
  // Adds Stay: dates, date-times and Booleans, as the plug-in's tables hold.
  // Arrivals on 10, 11 and 12 December 2026; the first paid, the second not,
  // the third unknown.
  void MakeStay() {
    MakeTable("Stay",
              {{"ID", vex::aftInteger, 0},
               {"ARRIVE", vex::aftDate, 0},
               {"CHECKIN", vex::aftDateTime, 0},
               {"PAID", vex::aftBoolean, 0}},
              {});
    vex::TVEXTable t(nullptr);
    t.SetDatabaseName("Hotel");
    t.SetTableName("Stay");
    t.Open();
    const double at[] = {8.5 / 24, 0, 23.0 / 24};
    for (int32_t i = 0; i < 3; ++i) {
      t.Append();
      t.FieldByName("ID")->SetAsInteger(i + 1);
      t.FieldByName("ARRIVE")->SetAsDateTime(rtl::EncodeDate(2026, 12, 10 + i));
      t.FieldByName("CHECKIN")->SetAsDateTime(rtl::EncodeDate(2026, 12, 10 + i) + at[i]);
      if (i < 2) t.FieldByName("PAID")->SetAsBoolean(i == 0);
      t.Post();
    }
  }

  struct Column {
    const char* Name;
    vex::TVEXAdvancedFieldType Type;
    int32_t Size;
  };
  // A table with the columns and rows given (an empty cell is null).
  void MakeTable(const std::string& Name, const std::vector<Column>& Columns,
                 const std::vector<std::vector<std::string>>& Data) {
    vex::TVEXTable t(nullptr);
    t.SetDatabaseName("Hotel");
    t.SetTableName(Name);
    for (const Column& c : Columns) t.AdvFieldDefs().Add(c.Name, c.Type, c.Size, false);
    t.CreateTable();
    t.Open();
    for (const auto& row : Data) {
      t.Append();
      for (size_t i = 0; i < Columns.size(); ++i)
        if (!row[i].empty()) t.FieldByName(Columns[i].Name)->SetAsString(row[i]);
      t.Post();
    }
  }

  // A closed query on the database with the text.
  vex::TVEXQuery& NewQuery(const std::string& Text, bool RequestLive = false) {
    Queries.push_back(std::make_unique<vex::TVEXQuery>(nullptr));
    vex::TVEXQuery& q = *Queries.back();
    q.SetDatabaseName("Hotel");
    q.SetRequestLive(RequestLive);
    q.SQL().Add(Text);
    return q;
  }
  vex::TVEXQuery& NewQueryFor(const std::string& Text) { return NewQuery(Text); }
  // The rows of an open dataset, each as its fields' texts joined by "|"
  // ("-" for null).
  static Rows Read(db::TDataSet& Data) { return RowsOf(Data); }
  // The field names of an open dataset, joined by "|".
  static std::string Names(db::TDataSet& Data) {
    std::string names;
    for (int32_t i = 0; i < Data.FieldCount(); ++i)
      names += (i > 0 ? "|" : "") + Data.Fields()[i]->FieldName();
    return names;
  }
  // Opens a query of Text and reads its rows.
  Rows Run(const std::string& Text) {
    vex::TVEXQuery& q = NewQuery(Text);
    q.Open();
    return Read(q);
  }

  testsupport::ScratchDir Dir;
  std::string File;
  std::unique_ptr<vex::TVEXDatabase> Database;
  std::vector<std::unique_ptr<vex::TVEXQuery>> Queries;
};

}  // namespace vextest
