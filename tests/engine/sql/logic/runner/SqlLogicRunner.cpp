#include "SqlLogicRunner.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "components/VEXDatabase.h"
#include "components/VEXEngineError.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXQuery.h"
#include "db/Fields.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "rtl/DateTime.h"
#include "support/ScratchDir.h"

namespace sqllogic {
namespace {

using Row = std::vector<std::string>;

std::string Trim(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return "";
  const size_t e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

std::vector<std::string> Words(std::string_view s) {
  std::vector<std::string> words;
  std::istringstream in{std::string(s)};
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(at, end - at));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (end == text.size()) break;
    at = end + 1;
  }
  return lines;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// One paragraph of a file: its header words, the SQL and, for a query, the
// expected lines.
struct Record {
  int Line = 0;
  std::vector<std::string> Header;
  std::string HeaderRest;  // the header after its third word (an error's message)
  std::string Sql;
  std::vector<std::string> Expected;
  bool HasSeparator = false;
};

std::vector<Record> Parse(std::string_view Text) {
  std::vector<Record> records;
  const std::vector<std::string> lines = SplitLines(Text);
  size_t i = 0;
  while (i < lines.size()) {
    const std::string line = Trim(lines[i]);
    if (line.empty() || line[0] == '#') {
      ++i;
      continue;
    }
    Record r;
    r.Line = static_cast<int>(i + 1);
    r.Header = Words(line);
    // The message of "statement error CODE message" keeps its blanks.
    if (r.Header.size() > 3) {
      size_t at = 0;
      for (int w = 0; w < 3; ++w) {
        at = line.find(r.Header[w], at) + r.Header[w].size();
      }
      r.HeaderRest = Trim(std::string_view(line).substr(at));
    }
    ++i;
    const std::string& kind = r.Header[0];
    if (kind == "statement" || kind == "query") {
      // The text runs to a blank line or, for a query, to "----"; comment
      // lines inside it are left out.
      std::string sql;
      for (; i < lines.size() && !Trim(lines[i]).empty(); ++i) {
        if (Trim(lines[i]) == "----") {
          r.HasSeparator = true;
          ++i;
          break;
        }
        if (Trim(lines[i])[0] == '#') continue;
        if (!sql.empty()) sql += "\n";
        sql += lines[i];
      }
      r.Sql = sql;
      if (r.HasSeparator) {
        for (; i < lines.size() && !Trim(lines[i]).empty(); ++i) {
          std::string e = lines[i];
          if (!e.empty() && e.back() == '\r') e.pop_back();
          r.Expected.push_back(e);
        }
      }
    }
    records.push_back(std::move(r));
  }
  return records;
}

// The outcome of running one text.
struct Outcome {
  bool Failed = false;
  int32_t Code = 0;
  std::string Message;
  int32_t RowsAffected = -1;
  std::vector<Row> Rows;
  std::string TypeError;  // a column whose type does not fit the query's letter
};

std::string OutcomeText(const Outcome& o) {
  if (o.Failed) return "error " + std::to_string(o.Code) + ": " + o.Message;
  return "ok";
}

// The engine's message without the code that EVEXException appends.
std::string MessageOf(const std::string& What, int32_t Code) {
  const std::string tail = " - Native error: " + std::to_string(Code);
  if (What.size() >= tail.size() && What.compare(What.size() - tail.size(), tail.size(), tail) == 0)
    return What.substr(0, What.size() - tail.size());
  return What;
}

std::string TwoDigits(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

std::string DateText(double v) {
  int y = 0, m = 0, d = 0;
  rtl::DecodeDate(v, y, m, d);
  char b[16];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d", y, m, d);
  return b;
}

std::string TimeText(double v) {
  int h = 0, mi = 0, s = 0, ms = 0;
  rtl::DecodeTime(v, h, mi, s, ms);
  std::string t = TwoDigits(h) + ":" + TwoDigits(mi) + ":" + TwoDigits(s);
  if (ms != 0) {
    char b[8];
    std::snprintf(b, sizeof b, ".%03d", ms);
    t += b;
  }
  return t;
}

// The value of f as the query's letter Type asks, or nothing when f's type
// does not fit it.
std::optional<std::string> Render(db::TField& f, char Type) {
  const db::TFieldType t = f.DataType();
  auto in = [t](std::initializer_list<db::TFieldType> types) {
    return std::find(types.begin(), types.end(), t) != types.end();
  };
  bool fits = false;
  switch (Type) {
    case 'I':
      fits = in({db::ftSmallint, db::ftInteger, db::ftWord, db::ftAutoInc, db::ftLargeint});
      break;
    case 'R':
      fits = in({db::ftFloat, db::ftCurrency, db::ftBCD, db::ftFMTBcd});
      break;
    case 'T':
      fits = in({db::ftString, db::ftFixedChar, db::ftWideString, db::ftFixedWideChar, db::ftMemo,
                 db::ftWideMemo, db::ftFmtMemo, db::ftGuid});
      break;
    case 'D':
      fits = in({db::ftDate, db::ftTime, db::ftDateTime, db::ftTimeStamp});
      break;
    case 'B':
      fits = t == db::ftBoolean;
      break;
    default:
      break;
  }
  if (!fits) return std::nullopt;
  if (f.IsNull()) return std::string("NULL");
  switch (Type) {
    case 'I':
      return std::to_string(f.AsLargeInt());
    case 'R': {
      char b[64];
      std::snprintf(b, sizeof b, "%.3f", f.AsFloat());
      return std::string(std::string_view(b) == "-0.000" ? "0.000" : b);
    }
    case 'T': {
      const std::string s = in({db::ftWideString, db::ftFixedWideChar, db::ftWideMemo})
                                ? rtl::Utf16ToUtf8(f.AsWideString())
                                : rtl::Win1252ToUtf8(f.AsString());
      return s.empty() ? std::string("(empty)") : s;
    }
    case 'D': {
      const double v = f.AsDateTime();
      if (t == db::ftDate) return DateText(v);
      if (t == db::ftTime) return TimeText(v);
      return DateText(v) + " " + TimeText(v);
    }
    default:
      return std::string(f.AsBoolean() ? "true" : "false");
  }
}

std::string TypeName(db::TFieldType t) {
  static const char* const names[] = {
      "Unknown", "String",   "Smallint", "Integer",    "Word",         "Boolean",    "Float",
      "Currency", "BCD",     "Date",     "Time",       "DateTime",     "Bytes",      "VarBytes",
      "AutoInc", "Blob",     "Memo",     "Graphic",    "FmtMemo",      "ParadoxOle", "DBaseOle",
      "TypedBinary", "Cursor", "FixedChar", "WideString", "Largeint",  "ADT",        "Array",
      "Reference", "DataSet", "OraBlob", "OraClob",    "Variant",      "Interface",  "IDispatch",
      "Guid",    "TimeStamp", "FMTBcd",  "FixedWideChar", "WideMemo",  "OraTimeStamp",
      "OraInterval"};
  const size_t i = static_cast<size_t>(t);
  return i < std::size(names) ? names[i] : "type " + std::to_string(i);
}

std::string RowsText(const std::vector<Row>& Rows) {
  std::string text;
  for (const Row& r : Rows) {
    const bool blanks = std::any_of(r.begin(), r.end(),
                                    [](const std::string& v) { return v.find(' ') != v.npos; });
    std::string line;
    for (size_t i = 0; i < r.size(); ++i) line += (i ? (blanks ? "\t" : " ") : "") + r[i];
    text += "\n    " + line;
  }
  return Rows.empty() ? " (no rows)" : text;
}

struct Param {
  std::string Type;
  std::string Value;
};

// The database of one file and the parameter values set so far.
class Session {
 public:
  explicit Session(std::string Folder) : FFolder(std::move(Folder)) {
    FFile = FFolder + "/logic.vex";
    vex::TVEXLocalSession creator;
    creator.SetDatabaseName("LogicNew");
    creator.SetDatabaseFileName(FFile);
    creator.SetPageSize(4096);
    creator.SetPageCountInExtent(8);
    creator.SetMaxSessionCount(50);
    creator.CreateDatabase();
    Open("file");
  }
  ~Session() {
    try {
      Close();
    } catch (...) {  // the report is made already; the folder goes anyway
    }
  }

  // "file", "multiuser" or "memory"; false for another word.
  bool Open(const std::string& Mode) {
    if (Mode != "file" && Mode != "multiuser" && Mode != "memory") return false;
    Close();
    if (Mode == "memory") {
      FName = "MEMORY";
      return true;
    }
    FName = "Logic";
    FDatabase = std::make_unique<vex::TVEXDatabase>(nullptr);
    FDatabase->SetDatabaseName(FName);
    FDatabase->SetDatabaseFileName(FFile);
    FDatabase->SetSilentMode(true);
    FDatabase->SetMultiUser(Mode == "multiuser");
    FDatabase->Open();
    return true;
  }

  // An error text for a parameter record that cannot be used, else empty.
  std::string SetParam(const std::vector<std::string>& Header, const std::string& Rest) {
    if (Header.size() < 3) return "param needs a name and a type";
    static const char* const types[] = {"integer", "largeint", "float", "text",
                                        "date",    "datetime", "boolean", "null"};
    if (std::find(std::begin(types), std::end(types), Header[2]) == std::end(types))
      return "unknown parameter type '" + Header[2] + "'";
    if (Header[2] != "null" && Header.size() < 4) return "param needs a value";
    FParams[Upper(Header[1])] = Param{Header[2], Header.size() > 3 ? Rest : ""};
    return "";
  }

  Outcome Run(const std::string& Sql, bool WantRows, const std::string& Types) {
    Outcome o;
    vex::TVEXQuery q(nullptr);
    try {
      q.SetDatabaseName(FName);
      q.SQL().SetText(rtl::Utf8ToWin1252(Sql));
      for (int32_t i = 0; i < q.Params().Count(); ++i) {
        db::TParam* p = q.Params()[i];
        auto found = FParams.find(Upper(p->Name()));
        if (found != FParams.end()) Assign(*p, found->second);
      }
      if (!WantRows) {
        q.ExecSQL();
        o.RowsAffected = q.RowsAffected();
        return o;
      }
      q.Open();
      if (static_cast<size_t>(q.FieldCount()) != Types.size()) {
        o.TypeError = "the result has " + std::to_string(q.FieldCount()) +
                      " columns, the query gives " + std::to_string(Types.size()) + " types";
        return o;
      }
      // Read as an application does: from the row the open stands on.
      for (; !q.Eof(); q.Next()) {
        Row row;
        for (int32_t i = 0; i < q.FieldCount(); ++i) {
          db::TField* f = q.Fields()[i];
          std::optional<std::string> v = Render(*f, Types[i]);
          if (!v) {
            o.TypeError = "column " + std::to_string(i + 1) + " (" + f->FieldName() + ") is " +
                          TypeName(f->DataType()) + ", the query says " + Types[i];
            return o;
          }
          row.push_back(*v);
        }
        o.Rows.push_back(std::move(row));
      }
      // An empty result still checks the column types.
      if (o.Rows.empty()) {
        for (int32_t i = 0; i < q.FieldCount(); ++i) {
          db::TField* f = q.Fields()[i];
          db::TField& field = *f;
          if (!Render(field, Types[i]).has_value()) {
            o.TypeError = "column " + std::to_string(i + 1) + " (" + f->FieldName() + ") is " +
                          TypeName(f->DataType()) + ", the query says " + Types[i];
            return o;
          }
        }
      }
      q.Close();
    } catch (const vex::EVEXException& e) {
      o.Failed = true;
      o.Code = e.NativeError;
      o.Message = MessageOf(e.what(), e.NativeError);
    } catch (const vex::EVEXEngineError& e) {
      o.Failed = true;
      o.Code = e.ErrorCode();
      o.Message = e.what();
    } catch (const std::exception& e) {
      o.Failed = true;
      o.Message = e.what();
    }
    o.Message = rtl::Win1252ToUtf8(o.Message);
    return o;
  }

 private:
  void Close() {
    if (FDatabase && FDatabase->InTransaction()) FDatabase->Rollback();
    FDatabase.reset();
  }

  static void Assign(db::TParam& p, const Param& v) {
    auto date = [&](const std::string& s) {
      int y = 0, m = 0, d = 0, h = 0, mi = 0, sec = 0;
      const int n = std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d", &y, &m, &d, &h, &mi, &sec);
      if (n < 3) throw std::runtime_error("parameter value '" + s + "' is no date");
      return rtl::EncodeDate(y, m, d) + (n >= 5 ? rtl::EncodeTime(h, mi, sec, 0) : 0.0);
    };
    if (v.Type == "integer") p.SetAsInteger(std::stoi(v.Value));
    if (v.Type == "largeint") p.SetAsLargeInt(std::stoll(v.Value));
    if (v.Type == "float") p.SetAsFloat(std::stod(v.Value));
    if (v.Type == "text") p.SetAsString(rtl::Utf8ToWin1252(v.Value));
    if (v.Type == "date") p.SetAsDate(date(v.Value));
    if (v.Type == "datetime") p.SetAsDateTime(date(v.Value));
    if (v.Type == "boolean") p.SetAsBoolean(v.Value == "true");
    if (v.Type == "null") p.Clear();
  }

  std::string FFolder;
  std::string FFile;
  std::string FName;
  std::unique_ptr<vex::TVEXDatabase> FDatabase;
  std::map<std::string, Param> FParams;
};

std::vector<Row> ExpectedRows(const std::vector<std::string>& Lines, size_t Columns) {
  std::vector<Row> rows;
  for (const std::string& line : Lines) {
    Row row;
    if (Columns <= 1) {
      row.push_back(line);
    } else {
      const char sep = line.find('\t') != std::string::npos ? '\t' : ' ';
      size_t at = 0;
      while (true) {
        const size_t end = line.find(sep, at);
        row.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void SortFor(const std::string& Mode, std::vector<Row>& Rows) {
  if (Mode == "rowsort") {
    std::sort(Rows.begin(), Rows.end());
  } else if (Mode == "valuesort") {
    Row all;
    for (const Row& r : Rows) all.insert(all.end(), r.begin(), r.end());
    std::sort(all.begin(), all.end());
    Rows.clear();
    for (std::string& v : all) Rows.push_back(Row{std::move(v)});
  }
}

bool IsNumber(const std::string& s) {
  if (s.empty()) return false;
  size_t i = (s[0] == '-') ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

}  // namespace

std::string Failure::Report() const {
  std::string sql;
  for (const std::string& l : SplitLines(Sql)) sql += "\n    " + l;
  return File + ":" + std::to_string(Line) + ": statement:" + sql + "\n  expected:" +
         (Expected.find('\n') == 0 ? "" : " ") + Expected + "\n  actual:" +
         (Actual.find('\n') == 0 ? "" : " ") + Actual + "\n";
}

std::string Result::Report() const {
  std::string text;
  for (const Failure& f : Failures) text += f.Report();
  return text;
}

Result RunText(const std::string& Name, std::string_view Text, const std::string& Folder) {
  Result result;
  auto fail = [&](const Record& r, std::string Expected, std::string Actual) {
    result.Failures.push_back(Failure{Name, r.Line, r.Sql, std::move(Expected), std::move(Actual)});
  };
  std::unique_ptr<Session> session;
  try {
    session = std::make_unique<Session>(Folder);
  } catch (const std::exception& e) {
    result.Failures.push_back(Failure{Name, 0, "", "a new database", e.what()});
    return result;
  }
  for (const Record& r : Parse(Text)) {
    ++result.Records;
    const std::vector<std::string>& h = r.Header;
    if (h[0] == "halt") break;
    if (h[0] == "database") {
      try {
        if (h.size() != 2 || !session->Open(h[1]))
          fail(r, "database file|multiuser|memory", "'" + (h.size() > 1 ? h[1] : "") + "'");
      } catch (const std::exception& e) {
        fail(r, "the database open", e.what());
      }
      continue;
    }
    if (h[0] == "param") {
      const std::string error = session->SetParam(h, r.HeaderRest);
      if (!error.empty()) fail(r, "param NAME TYPE VALUE", error);
      continue;
    }
    if (h[0] == "statement") {
      if (r.HasSeparator) {
        fail(r, "a statement without ----", "----");
        continue;
      }
      std::string expected;
      if (h.size() == 2 && h[1] == "ok") {
        expected = "ok";
      } else if (h.size() == 3 && h[1] == "count" && IsNumber(h[2])) {
        expected = "count " + h[2];
      } else if (h.size() >= 3 && h[1] == "error" && IsNumber(h[2])) {
        expected = "error " + h[2] + (r.HeaderRest.empty() ? "" : ": " + r.HeaderRest);
      } else {
        fail(r, "statement ok | count N | error CODE [message]", Trim(h.size() > 1 ? h[1] : ""));
        continue;
      }
      const Outcome o = session->Run(r.Sql, false, "");
      if (h[1] == "ok") {
        if (o.Failed) fail(r, expected, OutcomeText(o));
      } else if (h[1] == "count") {
        if (o.Failed) {
          fail(r, expected, OutcomeText(o));
        } else if (std::to_string(o.RowsAffected) != h[2]) {
          fail(r, expected, "count " + std::to_string(o.RowsAffected));
        }
      } else {
        const bool match = o.Failed && std::to_string(o.Code) == h[2] &&
                           (r.HeaderRest.empty() || r.HeaderRest == o.Message);
        if (!match) fail(r, expected, OutcomeText(o));
      }
      continue;
    }
    if (h[0] == "query") {
      const std::string mode = h.size() > 2 ? h[2] : "nosort";
      const std::string types = h.size() > 1 ? h[1] : "";
      const bool typesOk =
          !types.empty() && types.find_first_not_of("IRTDB") == std::string::npos;
      if (!typesOk || h.size() > 3 ||
          (mode != "nosort" && mode != "rowsort" && mode != "valuesort") || !r.HasSeparator) {
        fail(r, "query TYPES [nosort|rowsort|valuesort], the text, ----, the rows",
             Trim(r.HasSeparator ? h.size() > 1 ? h[1] : "" : "no ----"));
        continue;
      }
      Outcome o = session->Run(r.Sql, true, types);
      std::vector<Row> expected = ExpectedRows(r.Expected, types.size());
      SortFor(mode, expected);
      if (o.Failed) {
        fail(r, RowsText(expected), OutcomeText(o));
        continue;
      }
      if (!o.TypeError.empty()) {
        fail(r, "columns of the types " + types, o.TypeError);
        continue;
      }
      SortFor(mode, o.Rows);
      if (o.Rows != expected) fail(r, RowsText(expected), RowsText(o.Rows));
      continue;
    }
    fail(r, "statement, query, database, param or halt", "'" + h[0] + "'");
  }
  session.reset();
  return result;
}

Result RunFile(const std::string& Path) {
  const std::string name = Path.substr(Path.find_last_of('/') + 1);
  std::ifstream in(Path, std::ios::binary);
  if (!in) {
    Result r;
    r.Failures.push_back(Failure{name, 0, "", "a readable file", "cannot read " + Path});
    return r;
  }
  std::ostringstream text;
  text << in.rdbuf();
  testsupport::ScratchDir dir;
  return RunText(name, text.str(), dir.Path());
}

std::vector<std::string> ExtractSql(std::string_view Text) {
  std::vector<std::string> sql;
  for (const Record& r : Parse(Text))
    if (!r.Sql.empty()) sql.push_back(r.Sql);
  return sql;
}

}  // namespace sqllogic
