#include "sql/ddl/VEXDDLTable.h"

#include <string_view>

#include "components/VEXDatabase.h"
#include "components/VEXQuery.h"
#include "components/VEXSession.h"
#include "components/VEXTable.h"
#include "db/FieldDefs.h"
#include "foundation/VEXCompression.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXStream.h"
#include "rtl/CodePage.h"
#include "rtl/NumberText.h"
#include "sql/expression/VEXExpression.h"

namespace vex {

namespace {

// What may stand among a column's options: an option word, any other word
// (skipped), or the end of the column.
constexpr TTokenTypes kOptionTokens{tktString,       tktQuotedString,     tktBracketedString,
                                    tktReservedWord, tktRightParenthesis, tktComma};

constexpr std::string_view kSeparatorExpected =
    "')' or ',' symbol expected, but '%s' found at line %d, column %d";
constexpr std::string_view kNullExpected =
    "'NULL' expected (for NOT NULL), but '%s' found at line %d, column %d";
constexpr std::string_view kIndexKeywordExpected =
    "'INDEX' keyword expected, but '%s' found at line %d, column %d";

// Words that stand for the clock in a DEFAULT and are evaluated per record.
bool IsClockWord(std::string_view Upper) {
  return Upper == "NOW" || Upper == "CURRENT_TIMESTAMP" || Upper == "CURRENT_TIME" ||
         Upper == "CURRENT_DATE" || Upper == "SYSDATE";
}

// The AUTOINC variant of the integer type an AUTOINC option list names;
// aftUnknown for a type that has none.
TVEXAdvancedFieldType AutoincVariant(TVEXAdvancedFieldType Type) {
  switch (Type) {
    case aftShortint:
      return aftAutoIncShortint;
    case aftSmallint:
      return aftAutoIncSmallint;
    case aftInteger:
      return aftAutoInc;
    case aftLargeint:
      return aftAutoIncLargeint;
    case aftByte:
      return aftAutoIncByte;
    case aftWord:
      return aftAutoIncWord;
    case aftCardinal:
      return aftAutoIncCardinal;
    default:
      return IsAutoIncAdvancedFieldType(Type) ? Type : aftUnknown;
  }
}

// The text as a DEFAULT string literal: in double quotes, its own doubled.
std::u16string QuotedDefault(std::u16string_view Text) {
  std::u16string quoted = u"\"";
  for (char16_t c : Text) {
    if (c == u'"') quoted += u'"';
    quoted += c;
  }
  quoted += u'"';
  return quoted;
}

}  // namespace

// ---- TVEXDDLTarget ------------------------------------------------------------

TVEXDDLTarget::TVEXDDLTarget(TVEXDDLTarget&&) noexcept = default;
TVEXDDLTarget& TVEXDDLTarget::operator=(TVEXDDLTarget&&) noexcept = default;
TVEXDDLTarget::~TVEXDDLTarget() {
  // The table refers to the database component; it goes first.
  Table.reset();
  Database.reset();
}

// ---- TVEXDDLTableManipulation: parsing ---------------------------------------

void TVEXDDLTableManipulation::Parse() {
  if (ReadCurrentToken())
    throw EVEXException(30246, "Unexpected token '%s' found at line %d, column %d", Token.Text,
                        Token.LineNum, Token.ColumnNum);
}

int64_t TVEXDDLTableManipulation::ReadIntegerValue() {
  static constexpr std::string_view kIntegerExpected =
      "Integer expected, but '%s' found at line %d, column %d";
  ReadNextSpecifiedToken({tktInt}, 30292, kIntegerExpected);
  int64_t value = 0;
  if (!rtl::TryStrToInt64(NameOfToken(Token), value))
    throw EVEXException(30291, kIntegerExpected, Token.Text, Token.LineNum, Token.ColumnNum);
  return value;
}

void TVEXDDLTableManipulation::ParseColumnDefinitions() {
  if (!ReadCurrentToken()) RaiseUnexpectedEnd();
  if (Token.TokenType != tktLeftParenthesis) RaiseTokenExpected(30226, u"(");
  while (ReadCurrentToken() && Token.TokenType != tktRightParenthesis) {
    ReadNextSpecifiedToken(kFieldNameTokens, 30227,
                           "Field name expected, but '%s' found at line %d, column %d");
    if (ParseTableConstraint()) continue;

    TSQLFieldDef& def = SQLFieldDefs.AddCreated();
    if (IsReservedWordToken(Token, rwIF)) {
      ReadNextWord(rwNOT, 30488, u"NOT");
      ReadNextWord(rwEXISTS, 30489, u"EXISTS");
      ReadNextSpecifiedToken(kFieldNameTokens, 30227,
                             "Field name expected, but '%s' found at line %d, column %d");
      def.CreateIfNotExists = true;
    }
    def.FieldName = NameOfToken(Token);
    ReadNextSpecifiedToken({tktString, tktBracketedString, tktReservedWord}, 30228,
                           "Field type expected, but '%s' found at line %d, column %d");
    ParseColumnType(def);

    // Options up to the end of the column; a word that is no option is
    // passed over.
    ReadNextSpecifiedToken(kOptionTokens, 30229, kSeparatorExpected);
    while (Token.TokenType != tktRightParenthesis && Token.TokenType != tktComma) {
      if (ParseColumnOption(def)) {
        if (!ReadCurrentToken()) RaiseUnexpectedEnd();
      } else {
        ReadNextSpecifiedToken(kOptionTokens, 30229, kSeparatorExpected);
      }
    }
  }
}

void TVEXDDLTableManipulation::ParseColumnType(TSQLFieldDef& Def) {
  Def.FieldType = SQLTypeNameToAdvancedType(NameOfToken(Token));
  Def.newFieldType = true;
  if (Def.FieldType == aftUnknown)
    throw EVEXException(30232, "Unknown field type '%s' at line %d, column %d", Token.Text,
                        Token.LineNum, Token.ColumnNum);
  if (IsSizedAdvancedFieldType(Def.FieldType)) {
    static constexpr std::string_view kDecimalExpected =
        "Decimal constant expected, but '%s' found at line %d, column %d";
    ReadNextSpecifiedToken({tktLeftParenthesis}, 30233,
                           "'(' symbol expected, but '%s' found at line %d, column %d");
    ReadNextSpecifiedToken({tktInt}, 30235, kDecimalExpected);
    int64_t length = 0;
    if (!rtl::TryStrToInt64(NameOfToken(Token), length) || length > INT32_MAX)
      throw EVEXException(30235, kDecimalExpected, Token.Text, Token.LineNum, Token.ColumnNum);
    Def.Length = static_cast<int32_t>(length);
    Def.newLength = true;
    ReadNextSpecifiedToken({tktRightParenthesis}, 30236, kSeparatorExpected);
  } else {
    Def.Length = 0;
  }
  if (IsAutoIncAdvancedFieldType(Def.FieldType)) {
    TToken next;
    if (LLex->LookNextToken(next) && next.TokenType == tktLeftParenthesis) ParseAutoincOptions(Def);
  }
}

void TVEXDDLTableManipulation::ParseAutoincOptions(TSQLFieldDef& Def) {
  const bool plain = Def.FieldType == aftAutoInc;
  ReadNextToken();  // "("
  for (;;) {
    if (!ReadNextToken()) RaiseUnexpectedEnd(30290);
    if (Token.TokenType == tktComma && !ReadNextToken()) RaiseUnexpectedEnd(30290);
    if (Token.TokenType == tktRightParenthesis) break;
    switch (Token.TokenType == tktReservedWord ? Token.ReservedWord : rwNone) {
      case rwINCREMENT:
        Def.AutoincIncrement = ReadIntegerValue();
        Def.newAutoincIncrement = true;
        break;
      case rwMAXVALUE:
        Def.AutoincMaxValue = ReadIntegerValue();
        Def.newAutoincMaxValue = true;
        break;
      case rwMINVALUE:
        Def.AutoincMinValue = ReadIntegerValue();
        Def.newAutoincMinValue = true;
        break;
      case rwINITIALVALUE:
      case rwSTARTVALUE:
        Def.AutoincLastValue = ReadIntegerValue();
        Def.newAutoincLastValue = true;
        break;
      case rwCYCLED:
      case rwNOCYCLED:
        Def.AutoincCycled = Token.ReservedWord == rwCYCLED;
        Def.newAutoincCycled = true;
        break;
      case rwNOMAXVALUE:
        Def.AutoincMaxValue = INT64_MAX;
        Def.newAutoincMaxValue = true;
        break;
      case rwNOMINVALUE:
        Def.AutoincMinValue = 0;
        Def.newAutoincMinValue = true;
        break;
      default: {
        if (!plain)
          throw EVEXException(30294, "Unexpected token '%s' found at line %d, column %d",
                              Token.Text, Token.LineNum, Token.ColumnNum);
        const TVEXAdvancedFieldType variant =
            AutoincVariant(SQLTypeNameToAdvancedType(NameOfToken(Token)));
        if (variant == aftUnknown)
          throw EVEXException(30295,
                              "Unsupported Autoinc DataType (%s) found at line %d, column %d",
                              Token.Text, Token.LineNum, Token.ColumnNum);
        Def.FieldType = variant;
        break;
      }
    }
  }
}

bool TVEXDDLTableManipulation::ParseColumnOption(TSQLFieldDef& Def) {
  if (Token.TokenType != tktReservedWord) return false;
  switch (Token.ReservedWord) {
    case rwNOT:
      ReadNextRequiredToken();
      if (!IsReservedWordToken(Token, rwNULL))
        throw EVEXException(Token.TokenType == tktReservedWord ? 2011 : 30237, kNullExpected,
                            Token.Text, Token.LineNum, Token.ColumnNum);
      Def.Required = true;
      Def.newRequired = true;
      return false;
    case rwNULL:
      Def.Required = false;
      Def.newRequired = true;
      return false;
    case rwBLOBBLOCKSIZE:
      Def.BlobBlockSize = static_cast<int32_t>(static_cast<uint32_t>(ReadIntegerValue()));
      Def.newBlobBlockSize = true;
      return false;
    case rwBLOBCOMPRESSIONMODE:
      Def.BlobCompressionMode = static_cast<uint8_t>(ReadIntegerValue());
      Def.newBlobCompressionMode = true;
      return false;
    case rwBLOBCOMPRESSIONALGORITHM:
      ReadNextRequiredToken();
      Def.BlobCompressionAlgorithm =
          static_cast<TCompressionAlgorithm>(CompressionAlgorithmFromName(NameOfToken(Token)));
      Def.newBlobCompressionAlgorithm = true;
      return false;
    case rwDEFAULT:
      return ParseDefault(Def);
    case rwMINVALUE:
    case rwMAXVALUE: {
      const bool min = Token.ReservedWord == rwMINVALUE;
      TVEXVariant& bound = min ? Def.MinValue : Def.MaxValue;
      ReadNextRequiredToken();
      bound.SetNull(bftUnknown);
      bound.SetAsAnsiString(NameOfToken(Token));
      bound.Cast(bftSignedInt64);
      (min ? Def.newMinValue : Def.newMaxValue) = true;
      ReadNextToken();
      return true;
    }
    case rwNOMINVALUE:
    case rwNOMAXVALUE: {
      const bool min = Token.ReservedWord == rwNOMINVALUE;
      (min ? Def.MinValue : Def.MaxValue).SetNull(bftUnknown);
      (min ? Def.newMinValue : Def.newMaxValue) = true;
      ReadNextToken();
      return true;
    }
    case rwPRIMARY:
    case rwUNIQUE: {
      TVEXDDLIndex index;
      index.Primary = Token.ReservedWord == rwPRIMARY;
      index.Unique = !index.Primary;
      index.IndexFields.push_back({Def.FieldName, false, false});
      Indexes.push_back(std::move(index));
      if (ReadNextToken() && Indexes.back().Primary && IsReservedWordToken(Token, rwKEY))
        ReadNextToken();
      return true;
    }
    default:
      return false;
  }
}

bool TVEXDDLTableManipulation::ParseDefault(TSQLFieldDef& Def) {
  ReadNextRequiredToken();
  if (Def.newDefaultValue)
    throw EVEXException(30299, "default value for column '%s' declared twice", Def.FieldName);
  Def.newDefaultValue = true;
  const std::string upper = rtl::AnsiUpperCase(NameOfToken(Token));
  if (Token.TokenType != tktParameter && IsClockWord(upper)) {
    Def.DefaultValue.SetAsAnsiString(upper);
    return false;
  }
  if (Token.TokenType == tktQuotedString) {
    Def.DefaultValue.SetAsWideString(QuotedDefault(Token.Text));
    return false;
  }
  const TToken first = Token;
  TVEXExpression expression;
  expression.ParseForValueExpression(LQuery, *LLex);
  if (expression.IsEmpty()) {
    ReadCurrentToken();
    throw EVEXException(30297, "Error parsing parameter '%s' at line %d, column %d", Token.Text,
                        Token.LineNum, Token.ColumnNum);
  }
  ReadCurrentToken();
  if (IsReservedWordToken(first, rwNULL)) {
    Def.DefaultValue.SetNull(bftUnknown);
    return true;
  }
  std::u16string text;
  try {
    const TVEXVariant* value = expression.GetValue(true);
    if (value != nullptr) text = value->AsWideString();
  } catch (const rtl::Exception&) {
    throw EVEXException(30297, "Error parsing parameter '%s' at line %d, column %d", first.Text,
                        first.LineNum, first.ColumnNum);
  }
  Def.DefaultValue.SetAsWideString(text);
  if (first.TokenType == tktInt) Def.DefaultValue.Cast(bftSignedInt64);
  if (first.TokenType == tktFloat) Def.DefaultValue.Cast(bftDouble);
  return true;
}

bool TVEXDDLTableManipulation::ParseTableConstraint() {
  const bool primary = IsReservedWordToken(Token, rwPRIMARY);
  const bool unique = IsReservedWordToken(Token, rwUNIQUE);
  if (!primary && !unique && !IsReservedWordToken(Token, rwINDEX)) return false;
  TVEXDDLIndex index;
  index.Primary = primary;
  index.Unique = unique;
  if (primary) {
    ReadNextRequiredToken();
    if (IsReservedWordToken(Token, rwKEY)) ReadNextRequiredToken();
    if (Token.TokenType != tktLeftParenthesis) {
      index.IndexName = NameOfToken(Token);
      ReadNextRequiredToken();
    }
  } else {
    if (unique) {
      ReadNextSpecifiedToken({tktReservedWord}, 30267, kIndexKeywordExpected);
      if (Token.ReservedWord != rwINDEX)
        throw EVEXException(30268, kIndexKeywordExpected, Token.Text, Token.LineNum,
                            Token.ColumnNum);
    }
    ReadNextSpecifiedToken(
        {tktLeftParenthesis, tktString, tktQuotedString, tktBracketedString, tktReservedWord},
        30269, "index name expected, but '%s' found at line %d, column %d");
    if (Token.TokenType != tktLeftParenthesis) {
      index.IndexName = NameOfToken(Token);
      ReadNextRequiredToken();
    }
  }
  ParseIndexColumns(index);
  Indexes.push_back(std::move(index));
  return true;
}

void TVEXDDLTableManipulation::ParseIndexColumns(TVEXDDLIndex& Index) {
  do {
    ReadNextSpecifiedToken(kFieldNameTokens, 30274,
                           "Field name expected, but '%s' found at line %d, column %d");
    TVEXIndexField field{NameOfToken(Token), false, false};
    for (;;) {
      ReadNextRequiredToken();
      if (IsReservedWordToken(Token, rwASC) || IsReservedWordToken(Token, rwDESC))
        field.desc = Token.ReservedWord == rwDESC;
      else if (IsReservedWordToken(Token, rwCASE) || IsReservedWordToken(Token, rwNOCASE))
        field.nocase = Token.ReservedWord == rwNOCASE;
      else
        break;
    }
    Index.IndexFields.push_back(std::move(field));
  } while (Token.TokenType != tktRightParenthesis);
  ReadNextToken();
}

// ---- TVEXDDLTableManipulation: the table component ---------------------------

TVEXDDLTarget TVEXDDLTableManipulation::PrepareTable(bool WithFieldDefs) {
  TVEXDataSet* query = &QueryComponent(LQuery);
  TVEXDatabase* queryDatabase = query->Database();
  if (queryDatabase == nullptr)
    queryDatabase = query->DBSession().FindDatabase(query->DatabaseName());

  TVEXDDLTarget target;
  if (!DatabaseName.empty()) {
    target.Database = std::make_unique<TVEXDatabase>(nullptr);
    TVEXDatabase& database = *target.Database;
    database.SetSessionName(query->SessionName());
    database.SetDatabaseName(MakeUniqueName("ExternalDb"));
    database.SetDatabaseFileName(DatabaseName);
    if (queryDatabase != nullptr) database.SetDisableTempFiles(queryDatabase->DisableTempFiles());
    database.SetSilentMode(true);
    database.SetPassword(Password);
  }
  target.Table = std::make_unique<TVEXTable>(query->Owner());
  TVEXTable& table = *target.Table;
  table.SetSessionName(query->SessionName());
  table.SetDatabaseName(target.Database ? target.Database->DatabaseName() : query->DatabaseName());
  table.SetTableName(TableName);
  if (IntoMemory || query->InMemory()) table.SetInMemory(true);
  if (WithFieldDefs) {
    table.AdvFieldDefs().Clear();
    for (const auto& def : SQLFieldDefs.List)
      AssignSQLFieldDef(*def, *table.AdvFieldDefs().AddFieldDef(), true);
  }
  return target;
}

void TVEXDDLTableManipulation::BuildIndexDefs(TVEXTable& Table) {
  Table.IndexDefs().Clear();
  AddDDLIndexDefs(Indexes, Table.AdvIndexDefs(), Table.RestructureIndexDefs());
}

// ---- CREATE TABLE ---------------------------------------------------------------

void TVEXDDLCreateTable::Parse() {
  ReadCurrentToken();
  if (!ReadNextToken()) throw EVEXException(30249, "Blank SQL command");
  if (IsReservedWordToken(Token, rwIF)) {
    ReadNextWord(rwNOT, 30486, u"NOT");
    ReadNextWord(rwEXISTS, 30487, u"EXISTS");
    ReadNextRequiredToken();
    FCreateIfNotExists = true;
  }
  ParseTableReference(DatabaseName, TableName, IntoMemory, Password, TableAlias);
  ParseColumnDefinitions();
  ReadNextToken();
  TVEXDDLTableManipulation::Parse();
}

void TVEXDDLCreateTable::ExecSQL(db::TDataSet*, bool, bool, bool&, TVEXAO*, TVEXCursor*) {
  TVEXDDLTarget target = PrepareTable(true);
  TVEXTable& table = *target.Table;
  if (table.Exists()) {
    if (!FCreateIfNotExists)
      throw EVEXException(30247, "Cannot create table. Table '%s' already exists", TableName);
    return;
  }
  try {
    BuildIndexDefs(table);
    table.CreateTable();
  } catch (const rtl::Exception& e) {
    throw EVEXException(30248, "Error creating table: '%s'", std::string_view(e.what()));
  }
}

// ---- DROP TABLE -----------------------------------------------------------------

void TVEXDDLDropTable::Parse() {
  ReadCurrentToken();
  if (!ReadNextToken()) throw EVEXException(30251, "Blank SQL command");
  if (IsReservedWordToken(Token, rwIF)) {
    ReadNextWord(rwEXISTS, 30485, u"EXISTS");
    ReadNextRequiredToken();
  }
  ParseTableReference(DatabaseName, TableName, IntoMemory, Password, TableAlias);
  TVEXDDLTableManipulation::Parse();
}

void TVEXDDLDropTable::ExecSQL(db::TDataSet*, bool, bool, bool&, TVEXAO*, TVEXCursor*) {
  TVEXDDLTarget target = PrepareTable(true);
  try {
    // A table that is not there is already dropped.
    if (target.Table->Exists()) target.Table->DeleteTable();
  } catch (const rtl::Exception& e) {
    throw EVEXException(30250, "Error dropping table: '%s'", std::string_view(e.what()));
  }
}

// ---- TRUNCATE TABLE -------------------------------------------------------------

void TVEXDDLTruncateTable::Parse() {
  ReadCurrentToken();
  if (!ReadNextToken()) throw EVEXException(30490, "Blank SQL command");
  if (IsReservedWordToken(Token, rwTABLE) && !ReadNextToken())
    throw EVEXException(30490, "Blank SQL command");
  ParseTableReference(DatabaseName, TableName, IntoMemory, Password, TableAlias);
  TVEXDDLTableManipulation::Parse();
}

void TVEXDDLTruncateTable::ExecSQL(db::TDataSet*, bool, bool, bool&, TVEXAO*, TVEXCursor*) {
  TVEXDDLTarget target = PrepareTable(true);
  try {
    target.Table->EmptyTable();
  } catch (const rtl::Exception& e) {
    throw EVEXException(30491, "Error truncating table: '%s'", std::string_view(e.what()));
  }
}

}  // namespace vex
