// Runs SQL logic-test files: records of statements and queries with their
// expected outcome, each run through the query component on a database of
// its own.
//
// The file format (one record per paragraph, records apart by blank lines;
// '#' starts a comment line):
//
//   statement ok                 the text runs without error
//   statement count N            ... and affects N rows (RowsAffected)
//   statement error CODE [msg]   it fails with the engine's native CODE and,
//                                when given, exactly the message msg (the
//                                " - Native error: N" tail left out)
//   query TYPES [nosort|rowsort|valuesort]
//   SELECT ...
//   ----
//   expected rows, one a line
//
// TYPES has a letter per column and the column's type must fit it: I integer,
// R real or currency (printed with three decimals), T text, D date, time or
// date-time (ISO form), B Boolean (true / false). A row's values are apart by
// tabs when a line holds one, else by single blanks; a null is NULL and an
// empty text (empty). rowsort sorts the rows, valuesort the single values,
// both as texts, before comparing.
//
// Other records:
//   database file|multiuser|memory   the database the following records use:
//                                    the file (the default), the file opened
//                                    in multi-user mode, or the in-memory
//                                    database; switching reopens
//   param NAME TYPE VALUE            a value for the parameter NAME of later
//                                    texts (TYPE: integer, largeint, float,
//                                    text, date, datetime, boolean, null)
//   halt                             ends the file here
//
// A record's text may span lines; it ends at a blank line (or at ---- for a
// query). Files are UTF-8; texts reach the engine in its 8-bit code page.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sqllogic {

// One record whose outcome differs from what the file expects.
struct Failure {
  std::string File;
  int Line = 0;  // of the record's first line
  std::string Sql;
  std::string Expected;
  std::string Actual;
  // "file:line: statement / expected / actual", a block of lines.
  std::string Report() const;
};

struct Result {
  int Records = 0;  // records run (directives included)
  std::vector<Failure> Failures;
  // Every failure's report, one after another; empty when none.
  std::string Report() const;
};

// Runs Text (the contents of a file named Name) on a new database made in
// Folder, which must exist.
Result RunText(const std::string& Name, std::string_view Text, const std::string& Folder);
// Runs the file at Path on a new database in a temporary folder of its own,
// removed afterwards. A file that cannot be read is a failure at line 0.
Result RunFile(const std::string& Path);

// The SQL texts of every statement and query record of Text, for seeding the
// fuzzers.
std::vector<std::string> ExtractSql(std::string_view Text);

}  // namespace sqllogic
