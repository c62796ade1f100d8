// The rows of an open dataset as text, for comparing whole results at once.
#pragma once

#include <string>
#include <vector>

#include "db/DataSet.h"
#include "db/Fields.h"

namespace vextest {

using Rows = std::vector<std::string>;

// Each row as its fields' texts joined by "|" ("-" for null), from the first.
inline Rows RowsOf(db::TDataSet& Data) {
  Rows rows;
  for (Data.First(); !Data.Eof(); Data.Next()) {
    std::string row;
    for (int32_t i = 0; i < Data.FieldCount(); ++i) {
      db::TField* f = Data.Fields()[i];
      if (i > 0) row += "|";
      row += f->IsNull() ? "-" : f->AsString();
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace vextest
