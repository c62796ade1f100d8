// What the dataset framework reads from an SQL text without the SQL engine:
// the one table a simple query reads, and the order its ORDER BY asks for. A
// data provider uses both to write changes back and to know the rows' order.
//
// The scanner splits the text into words, quoted names, numbers and single
// characters, skipping blanks, "--" and "/* */" comments and quoted texts;
// FROM and ORDER BY count only outside parentheses, so a subquery's clauses
// are not taken for the query's own.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/FieldDefs.h"

namespace db {

class TDataSet;

// The name of the table after the first FROM, as written (a qualified name
// keeps its qualifier, "db.table"; quotes and brackets are dropped). Empty
// when there is no FROM, when FROM is followed by a subquery, or when the
// query reads more than one table (a "," or a JOIN after the first table),
// since then no single table can take the rows' changes.
std::string GetTableNameFromSQL(std::string_view SQL);

// The index definition of the ORDER BY of the text: unnamed, Fields the
// ordering columns in order (a qualified column by its own name, a column
// number by the name of that field of DataSet), DescFields those ordered
// descending. nullptr without ORDER BY, and when an item is an expression or
// a number DataSet cannot resolve, since no index of field names then gives
// that order.
std::unique_ptr<TIndexDef> GetIndexForOrderBy(std::string_view SQL, TDataSet* DataSet);

}  // namespace db
