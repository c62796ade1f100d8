#include "components/VEXTable.h"
#include "sql/ddl/VEXDDLTable.h"

namespace vex {


// ---- ALTER TABLE ------------------------------------------------------------------

void TVEXDDLAlterTable::Parse() {
  ReadCurrentToken();
  if (!ReadNextToken()) throw EVEXException(30261, "Blank SQL command");
  ParseTableReference(DatabaseName, TableName, IntoMemory, Password, TableAlias);
  ParseAction();
}

void TVEXDDLAlterTable::ParseAction() {
  static constexpr std::string_view kActionExpected =
      "ADD, DROP or MODIFY keyword expected, but '%s' found at line %d, column %d";
  if (!ReadCurrentToken()) RaiseUnexpectedEnd();
  if (Token.TokenType != tktReservedWord)
    throw EVEXException(30253, kActionExpected, Token.Text, Token.LineNum, Token.ColumnNum);
  switch (Token.ReservedWord) {
    case rwADD:
    case rwMODIFY:
      AlterType = Token.ReservedWord == rwADD ? atAdd : atModify;
      ReadNextRequiredToken();
      ParseColumnDefinitions();
      break;
    case rwDROP:
      AlterType = atDrop;
      ReadNextRequiredToken();
      // Only "(" or COLUMN may stand before the names; any other token is the
      // first name.
      if (Token.TokenType == tktLeftParenthesis || IsReservedWordToken(Token, rwCOLUMN))
        ReadNextRequiredToken();
      ParseFieldNameList(DropColumnNamesList);
      break;
    case rwRENAME:
      ReadNextRequiredToken();
      if (IsReservedWordToken(Token, rwTO)) {
        AlterType = atRenameTable;
        ReadNextRequiredToken();
        NewTableName = NameOfToken(Token);
        break;
      }
      AlterType = atRenameColumn;
      if (IsReservedWordToken(Token, rwCOLUMN)) ReadNextRequiredToken();
      RenameColumnOldNamesList.push_back(NameOfToken(Token));
      ReadNextWord(rwTO, 30352, u"TO");
      ReadNextRequiredToken();
      RenameColumnNewNamesList.push_back(NameOfToken(Token));
      break;
    default:
      throw EVEXException(30252, kActionExpected, Token.Text, Token.LineNum, Token.ColumnNum);
  }
}

void TVEXDDLAlterTable::ExecSQL(db::TDataSet*, bool, bool, bool&, TVEXAO*, TVEXCursor*) {
  TVEXDDLTarget target = PrepareTable(false);
  TVEXTable& table = *target.Table;
  try {
    // Opening loads the structure into the restructure definitions.
    table.Open();
    table.Close();
    AlterStructure(table);
  } catch (const rtl::Exception& e) {
    throw EVEXException(30265, "Error altering table: '%s'", std::string_view(e.what()));
  }
}

void TVEXDDLAlterTable::AlterStructure(TVEXTable& Table) {
  TVEXAdvFieldDefs& fields = Table.RestructureFieldDefs();
  switch (AlterType) {
    case atAdd:
      for (const auto& def : SQLFieldDefs.List) {
        if (fields.Find(def->FieldName) != nullptr) {
          if (def->CreateIfNotExists) continue;
          throw EVEXException(30351, "Field by name '%s' already exists", def->FieldName);
        }
        AssignSQLFieldDef(*def, *fields.AddFieldDef(), true);
      }
      BuildIndexDefs(Table);
      break;
    case atDrop:
      for (const std::string& name : DropColumnNamesList) fields.DeleteFieldDef(name);
      break;
    case atModify:
      for (const auto& def : SQLFieldDefs.List) {
        TVEXAdvFieldDef* field = fields.Find(def->FieldName);
        if (field == nullptr) throw EVEXException(30259, "Field '%s' not found", def->FieldName);
        AssignSQLFieldDef(*def, *field, false);
      }
      BuildIndexDefs(Table);
      break;
    case atRenameColumn:
      for (size_t i = 0; i < RenameColumnOldNamesList.size(); ++i)
        Table.RenameField(RenameColumnOldNamesList[i], RenameColumnNewNamesList[i]);
      return;
    case atRenameTable:
      Table.RenameTable(NewTableName);
      return;
  }
  std::string log;
  if (!Table.RestructureTable(log)) throw EVEXException(30347, "Restructure table error: '%s'", log);
}

// ---- RENAME TABLE -----------------------------------------------------------------

void TVEXDDLRenameTable::Parse() {
  if (!ReadCurrentToken()) throw EVEXException(30354, "Blank SQL command");
  ParseTableReference(DatabaseName, TableName, IntoMemory, Password, TableAlias);
  if (!ReadCurrentToken()) RaiseUnexpectedEnd();
  if (!IsReservedWordToken(Token, rwTO)) RaiseTokenExpected(30355, u"TO");
  ReadNextRequiredToken();
  NewTableName = NameOfToken(Token);
  AlterType = atRenameTable;
}

}  // namespace vex
