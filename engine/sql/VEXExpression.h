// The expression object: one parsed condition or value (a tree of expression
// nodes under one root) with the flags that decide how the comparisons it
// builds treat case, partial keys and nulls.
//
// Every place of the engine that evaluates a condition or a computed value
// holds one: the local cursor (dataset filters, Locate, the single comparison
// of a quantified subquery), column DEFAULT texts, every expression of an SQL
// statement, the relational operators (filters taken over from WHERE and
// HAVING, join conditions, aggregates) and the storage table search (index-
// scan conditions, through the seam in storage/VEXSeams.h).
//
// Design notes
//   1. The expression owns its root; a node owns its children. Nodes leave or
//      join a tree only through TakeAssignableParts, ExtractJoinConditions,
//      RemoveExtractedNodes, AddNode and AddAndMoveNodesFromExpression.
//   2. The lexer, cursor and dataset belong to the caller and must outlive
//      every parse and evaluation that uses them. A filter or DEFAULT text is
//      parsed with a lexer of its own that lives only during the parse, so
//      nothing parsed from such a text may keep the lexer: a subquery there is
//      refused (30511) instead of being built over a lexer about to go.
//   3. Every parse entry point leaves the lexer on the first token after what
//      it parsed. A parse that raises leaves no usable tree; the holder frees
//      the expression.
//   4. Comparisons parsed from text get their three-valued flag from the
//      grammar: a column against a string, date-time or null constant compares
//      two-valued (null lowest, so x = NULL finds the null rows); every other
//      comparison with a null operand is False. Locate and the single
//      comparison build two-valued comparisons. GetValue(false) and GetResult
//      read a null result as False (the row is rejected).
//
// Threads: an expression is used by one thread at a time (the one working
// with the cursor, query or operator holding it); evaluation writes into the
// nodes, and nothing here takes a lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VEXConst.h"
#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXVariant.h"
#include "rtl/Variant.h"
#include "sql/VEXExprNode.h"
#include "storage/VEXSeams.h"

namespace db {
class TDataSet;
}

namespace vex {

class TVEXLexer;
class TVEXAO;
class TVEXCursor;
class TVEXIndexDef;
class TVEXIndexDefs;
class TVEXScanSearchCondition;
class TVEXScanSearchConditionArray;
struct TVEXSelectListItem;

class TVEXExpression : public TVEXBaseExpression {
 public:
  TVEXExpression();
  // Adopts RootNode (may be nullptr).
  explicit TVEXExpression(TVEXExprNodePtr RootNode);
  ~TVEXExpression() override;
  TVEXExpression(const TVEXExpression&) = delete;
  TVEXExpression& operator=(const TVEXExpression&) = delete;

  TVEXExprNode* RootNode() const { return FRootExprNode.get(); }
  void ClearRootNode() { FRootExprNode.reset(); }

  // --- Parsing entry points ---------------------------------------------

  // Binds Cursor and parses one search condition from the first command of
  // Filter with a lexer of its own. Raises 30119 "Blank SQL command" for a
  // text without a command, the lexer's errors (30358 for a ":name"), the
  // grammar's errors, 30511 for a subquery and 30514 "End of filter
  // expected, but '%s' found at line %d, column %d" for a token after the
  // condition.
  void ParseForFilter(TVEXCursor* Cursor, std::u16string_view Filter, bool CaseInsensitive,
                      bool PartialKey);
  // The Locate condition built directly: an equality of each named column
  // (";"-separated) with its key value; an AND root whenever KeyValues is an
  // array (even of one element), else the comparison itself. An array is
  // read from its low bound to its high bound. Raises 30112 when the counts
  // differ.
  void ParseForLocate(TVEXCursor* Cursor, std::string_view FieldNames,
                      const rtl::Variant& KeyValues, bool CaseInsensitive, bool PartialKey);
  // The comparison FieldName Operator Value, two-valued and case-sensitive.
  void ParseForIsAnyRecordMatchCondition(TVEXCursor* Cursor, std::string_view FieldName,
                                         TVEXDataOperator Operator, const TVEXVariant& Value);
  // A search condition from the lexer's current token. Raises 30118 at the
  // end of the command, 30066 when no condition starts there.
  void ParseForBooleanExpression(db::TDataSet* Dataset, TVEXLexer& Lexer);
  // A value expression from the lexer's current token; the root stays
  // nullptr when none starts there (IsEmpty). Raises 30136 at the end.
  void ParseForValueExpression(db::TDataSet* Dataset, TVEXLexer& Lexer);
  // The row subquery of an UPDATE; raises 30497 at the end of the command.
  void ParseForRowSubqueryExpression(db::TDataSet* Dataset, TVEXLexer& Lexer);
  // True when DefaultValue holds exactly one command that is one value
  // expression with no token after it. Never raises.
  bool ParseForDefaultValueExpression(std::u16string_view DefaultValue) noexcept;

  // --- Evaluation and the aggregate protocol (forwarded to the root) -----

  TVEXVariant* GetValue(bool TrueFalseNullLogic) override;
  // Raises 30110 "Value is Null" without a root.
  bool GetResult() override;
  void ResetSubqueryFieldValues();
  TVEXVariant* GetSubqueryFieldValue(int32_t FieldNo);
  bool IsAggregated();
  bool IsAggregatedCountAll();
  void Init();
  void Accumulate();
  void SetCountAll(int32_t RecordCount);
  TVEXAdvancedFieldType GetDataType();
  int32_t GetDataSize();
  int32_t GetPrecision();
  bool CanBeUsedInGroupBy(const std::string& GroupByFields);

  // --- Binding (each then adjusts the constants' types) ------------------

  void AssignCursor(TVEXCursor* Cursor, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
  void AssignCursorBuffer(const uint8_t* Buffer, bool ApplyToParentQueryFields) override;
  void AssignAO(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor);

  // --- Structure -----------------------------------------------------------

  // No root, or a Boolean root left without children.
  bool IsEmpty() const override;
  bool IsField() const;
  // The root, or one of its direct children, is a column reference.
  bool IsFieldsExpression() const;
  // Raises 30198 "Node is not a field" unless the root is a column reference.
  void GetFieldInfo(std::string& TableName, std::string& FieldName) const;

  // Nested ANDs under an AND root become its direct children, in order.
  void MoveAndNodesToRoot();
  // The tree side of pushing conditions down into an operator: the conjuncts
  // (or the whole root) for which CanBeAssigned answers true leave this
  // expression and come back as a new one (nullptr when none did). An AND
  // root left without children is freed. The operator layer calls it per
  // operator and hands the result to the operator's filter.
  std::unique_ptr<TVEXExpression> TakeAssignableParts(
      const std::function<bool(TVEXExprNode&)>& CanBeAssigned);
  // Takes the equality join conditions between AO1 and AO2 out of the tree:
  // for each one (the root's AND children, or the root itself) AddPair gets
  // the first and second operand in written order before the node is freed.
  // Answers the number of pairs.
  int32_t ExtractJoinConditions(
      TVEXAO* AO1, TVEXAO* AO2,
      const std::function<void(TVEXExprNode& First, TVEXExprNode& Second)>& AddPair);
  void ReplacePseudonyms(std::vector<TVEXSelectListItem>& SelectList);
  // ANDs Expr's tree into this one; Expr is left without a root.
  void AddAndMoveNodesFromExpression(TVEXExpression& Expr);

  // --- Index-scan conditions (the storage seam) ----------------------------

  void CreateIndexScanConditions(const TVEXIndexDefs& IndexDefs,
                                 TVEXScanSearchConditionArray& ScanConditions,
                                 int32_t SessionID) override;
  void TryCreateIndexScanConditionsFromNode(TVEXExprNode& Node, const TVEXIndexDefs& IndexDefs,
                                            TVEXScanSearchConditionArray& ScanConditions,
                                            int32_t SessionID);
  bool ExtendMultiFieldIndexCondition(TVEXScanSearchCondition& ScanCondition,
                                      const TVEXIndexDef& IndexDef) override;
  bool ExtendMultiFieldIndexConditionFromNode(TVEXExprNode& Node,
                                              TVEXScanSearchCondition& ScanCondition,
                                              const TVEXIndexDef& IndexDef);
  void RemoveExtractedNodes(TVEXScanSearchConditionArray& ScanConditions, int32_t ScanConditionNo,
                            int32_t ScanEndConditionNo) override;
  // Takes Node (detached by RemoveExtractedNodes) back: a further child of
  // the root, or the root when there is none.
  void AddNode(TVEXExprNode* Node) override;

  // --- Flags ---------------------------------------------------------------

  bool InMemory() const { return FInMemory; }
  void SetInMemory(bool Value) { FInMemory = Value; }
  bool CaseInsensitive() const { return FCaseInsensitive; }
  bool PartialKey() const { return FPartialKey; }
  bool ThreeValueLogic() const { return F3ValueLogic; }
  TVEXCursor* Cursor() const { return LCursor; }
  db::TDataSet* Dataset() const { return LDataset; }
  const std::string& DatabaseName() const { return FDatabaseName; }
  const std::string& SessionName() const { return FSessionName; }
  void SetDatabaseName(std::string Value) { FDatabaseName = std::move(Value); }
  void SetSessionName(std::string Value) { FSessionName = std::move(Value); }

 private:
  friend class TVEXExprParser;

  void AdjustConstantTypes();
  void PrepareParse(db::TDataSet* Dataset, TVEXLexer& Lexer);

  TVEXLexer* LLex = nullptr;
  TVEXCursor* LCursor = nullptr;
  db::TDataSet* LDataset = nullptr;
  TVEXExprNodePtr FRootExprNode;
  bool FCaseInsensitive = false;
  bool FPartialKey = false;
  bool F3ValueLogic = true;
  bool FInMemory = false;
  // A text parsed with a lexer of its own: subqueries are refused.
  bool FOwnLexer = false;
  std::string FDatabaseName;
  std::string FSessionName;
};

// --- Free routines -----------------------------------------------------------

// Copies Text from Pos up to the next ';' (or the end) into Item and leaves
// Pos after the ';'.
void ExtractFieldName(std::string_view Text, size_t& Pos, std::string& Item);
// Clears List, then one entry per ';'-separated item of Text, trimmed of
// blanks and upper-cased (a to z); an empty item between two ';' stays, a
// ';' at the very end adds none.
void SplitFieldNames(std::vector<std::string>& List, std::string_view Text);
// The operator for swapped operands (= and <> unchanged, > and <, >= and <=
// exchanged); doUNDEFINED for every other operator.
TVEXDataOperator MirrorComparisonOperator(TVEXDataOperator Op);
// The negation (= and <>, > and <=, < and >= exchanged); doUNDEFINED else.
TVEXDataOperator NegateComparisonOperator(TVEXDataOperator Op);
// True when Value is a non-empty text that parses as a DEFAULT expression
// which is no column reference and whose value's text differs from the text
// itself (NOW, CURRENT_DATE, 1+1); false for 12, a column name, or a text
// that does not parse. Never raises.
bool IsDefaultValueExpression(const TVEXVariant& Value) noexcept;
// The advanced type of an SQL type name (any case); aftUnknown when none.
TVEXAdvancedFieldType SQLTypeNameToAdvancedType(std::string_view Name);

// The expression parser storage reaches through its seam.
class TVEXSQLExpressionParser : public TVEXExpressionParser {
 public:
  bool IsDefaultValueExpression(const TVEXVariant& Value) override;
  std::unique_ptr<TVEXBaseExpression> CreateDefaultValueExpression(
      std::u16string_view Text) override;
};

// Adds the SQL layer's start-up step, which installs the expression parser
// into the storage seam and takes it away at shut-down. Called once before
// the engine starts (the library load, a test program's main); false when
// the step is there already.
bool AddSqlStartupSteps();
// Takes the step away again (after the engine stopped); false when absent.
bool RemoveSqlStartupSteps();

}  // namespace vex
