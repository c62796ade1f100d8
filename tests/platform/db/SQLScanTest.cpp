// The SQL scanner of the dataset framework: the single table a query reads
// and the index definition of its ORDER BY.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "VectorDataSet.h"
#include "db/SQLScan.h"

using namespace db;
using dbtest::TVectorDataSet;

namespace {

TEST(SQLScanTest, FindsTheOneTableAQueryReads) {
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT * FROM RoomType", "RoomType"},
      {"select a from \"Guest Name\" g where a = 1", "Guest Name"},
      {"SELECT * FROM [Occ] AS o ORDER BY o.Day", "Occ"},
      {"SELECT * FROM MEMORY.Inventory WHERE x = ':FROM'", "MEMORY.Inventory"},
      {"SELECT * FROM Stay\r\nWHERE A IN (SELECT A FROM Other)", "Stay"},
      // A subquery in the select list has its own FROM.
      {"SELECT (SELECT MAX(a) FROM Other) FROM Stay", "Stay"},
      {"-- FROM Note\nSELECT * FROM Stay", "Stay"},
      // No single table: nothing.
      {"SELECT * FROM Stay, Guest", ""},
      {"SELECT * FROM Stay s JOIN Guest g ON s.id = g.id", ""},
      {"SELECT * FROM Stay LEFT OUTER JOIN Guest ON a = b", ""},
      {"SELECT * FROM (SELECT * FROM Stay) t", ""},
      {"SELECT 1", ""},
  };
  for (const auto& [sql, table] : cases) EXPECT_EQ(GetTableNameFromSQL(sql), table) << sql;
}

TEST(SQLScanTest, TurnsOrderByIntoAnIndexDefinition) {
  TVectorDataSet ds;
  ds.AddColumn("ID", ftInteger);
  ds.AddColumn("NAME", ftString, 10);
  ds.Open();
  struct TCase {
    const char* Sql;
    const char* Fields;  // nullptr: no definition
    const char* DescFields;
  };
  const TCase cases[] = {
      {"SELECT * FROM t ORDER BY Name", "Name", ""},
      {"SELECT * FROM t ORDER BY t.Name DESC, ID ASC;", "Name;ID", "Name"},
      {"SELECT * FROM t order by \"Day Of Stay\" desc", "Day Of Stay", "Day Of Stay"},
      {"SELECT * FROM t ORDER BY 2, 1 DESC", "NAME;ID", "ID"},
      {"SELECT * FROM t WHERE a IN (SELECT a FROM u ORDER BY a)", nullptr, ""},
      {"SELECT * FROM t", nullptr, ""},
      {"SELECT * FROM t ORDER BY 3", nullptr, ""},
      {"SELECT * FROM t ORDER BY a + b", nullptr, ""},
      {"SELECT * FROM t ORDER BY UPPER(a)", nullptr, ""},
  };
  for (const TCase& c : cases) {
    std::unique_ptr<TIndexDef> def = GetIndexForOrderBy(c.Sql, &ds);
    if (c.Fields == nullptr) {
      EXPECT_EQ(def, nullptr) << c.Sql;
      continue;
    }
    ASSERT_NE(def, nullptr) << c.Sql;
    EXPECT_EQ(def->Fields(), c.Fields) << c.Sql;
    EXPECT_EQ(def->DescFields(), c.DescFields) << c.Sql;
  }
}

}  // namespace
