// The node of an expression tree: the abstract class every operand, operator
// and function of the SQL engine's expressions derives from.
//
// A tree is built by the grammar (or by hand, in tests), bound to the data its
// column nodes read, and then evaluated any number of times. Each node owns its
// children and its result value; evaluation writes only into the nodes' own
// values, so a tree is used by one thread at a time.
//
// Two properties of the value type shape every result: making a value null
// keeps its type, and a typed store into a value that has a type converts to
// that type. A node that stores its result through a typed store therefore
// keeps the type of its first result for every later evaluation, while a node
// that copies a value (Assign) takes that value's type each time.
//
// Type and size of a node are what the result column of a query gets. The base
// rules (the fold of the children's types, and the sum of their sizes for
// string concatenation and casts) live here; the concrete classes override
// them where they compute something else.
//
// Binding, grouping and index-scan operations are declared here with the base
// behaviour (recursion into the children, or "not usable"); the column,
// aggregate and subquery nodes and the conditions that narrow an index scan
// override them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/VEXConst.h"
#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXVariant.h"

namespace vex {

class TVEXAO;
class TVEXBaseExpression;
class TVEXCursor;
class TVEXIndexDef;
class TVEXScanSearchCondition;
class TVEXScanSearchConditionArray;
class TVEXExpression;
struct TVEXSelectListItem;
// The condition of an index scan (equal, lower, greater, lower-or-equal,
// greater-or-equal), defined by the table search.
enum TVEXSearchCondition : uint8_t;

// The quantifier of a comparison with a subquery (SOME is read as ANY).
enum TVEXQuantifier : uint8_t { qUNDEFINED, qALL, qANY };

class TVEXExprNode;
using TVEXExprNodePtr = std::unique_ptr<TVEXExprNode>;

class TVEXExprNode {
 public:
  TVEXExprNode(bool CaseInsensitive, bool PartialKey);
  TVEXExprNode(TVEXDataOperator Op, bool CaseInsensitive, bool PartialKey);
  TVEXExprNode(TVEXDataOperator Op, TVEXExprNodePtr Node, bool CaseInsensitive, bool PartialKey);
  TVEXExprNode(TVEXDataOperator Op, TVEXExprNodePtr Node1, TVEXExprNodePtr Node2,
               bool CaseInsensitive, bool PartialKey);
  TVEXExprNode(TVEXDataOperator Op, TVEXExprNodePtr Node1, TVEXExprNodePtr Node2,
               TVEXExprNodePtr Node3, bool CaseInsensitive, bool PartialKey);
  virtual ~TVEXExprNode();

  TVEXExprNode(const TVEXExprNode&) = delete;
  TVEXExprNode& operator=(const TVEXExprNode&) = delete;

  // Calls every child in order.
  virtual void AdjustConstantTypes();
  // The node's value, computed from its children. It belongs to the node and
  // stays valid until the node is evaluated again.
  virtual TVEXVariant& GetDataValue() = 0;
  // Only a subquery at the root of an expression is reset; the base does
  // nothing and does not visit the children.
  virtual void ResetSubqueryFieldValues() {}
  // nullptr: only a subquery node holds field values.
  virtual TVEXVariant* GetSubqueryFieldValue(int32_t /*FieldNo*/) { return nullptr; }
  // True as soon as one child (nil entries skipped) is aggregated.
  virtual bool IsAggregated();
  virtual bool IsAggregatedCountAll() { return false; }
  // The grouping protocol; the base passes Init and Accumulate to the children.
  virtual void Init();
  virtual void Accumulate();
  virtual void SetCountAll(int32_t /*RecordCount*/) {}
  // Binding; the base passes each call to the children with the same arguments.
  virtual void AssignAO(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor);
  virtual void AssignCursor(TVEXCursor* Cursor, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor);
  virtual void AssignCursorBuffer(uint8_t* Buffer, bool ApplyToParentQueryFields);
  // The fold of the children's types. Raises 30283 "Cannot determine expression
  // type" without children or for a pair of types that cannot be combined.
  virtual TVEXAdvancedFieldType GetDataType();
  // The sum of the children's sizes when the node's own type is a string type
  // and the node concatenates or casts (doADD, doCONCAT, doCAST), else 0.
  // Raises rtl::EIntOverflow when the sum passes 32 bits.
  virtual int32_t GetDataSize();
  // Every expression column has precision 0.
  virtual int32_t GetPrecision() { return 0; }
  // True when every child answers True (stopping at the first False).
  virtual bool CanBeAssigned(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                             bool ForHavingClause);
  // Index-scan conditions: the base node narrows no scan. Expression is the
  // expression that holds the node (it takes the node out of its tree while a
  // chosen condition guarantees it).
  virtual bool CanUseIndex(int32_t IndexColumnNo, TVEXSearchCondition ConditionSearchOperator,
                           const TVEXIndexDef* IndexDef, int32_t SessionID);
  virtual void AddAsIndexScanCondition(TVEXScanSearchConditionArray& ScanConditions,
                                       const TVEXIndexDef* IndexDef,
                                       TVEXBaseExpression* Expression);
  virtual void ExtendIndexScanCondition(TVEXScanSearchCondition& ScanCondition,
                                        const TVEXIndexDef* IndexDef,
                                        TVEXBaseExpression* Expression);
  virtual bool IsJoinCondition(TVEXAO* AO1, TVEXAO* AO2);
  // Passes the select list to the children (column nodes redirect aliases).
  virtual void ReplacePseudonyms(std::vector<TVEXSelectListItem>& SelectList);
  // True when every child answers True (stopping at the first False).
  virtual bool CanBeUsedInGroupBy(const std::string& GroupByFields);

  // The operands, owned, in the order the constructor or the grammar added
  // them. An entry may be nullptr only where a node class says so.
  std::vector<TVEXExprNodePtr> Children;
  TVEXDataOperator Operator = doUNDEFINED;
  // The result holder; created with type bftUnknown.
  TVEXVariant Value;
  bool FCaseInsensitive;
  bool FPartialKey;

 protected:
  // The value of child I (evaluated now).
  TVEXVariant& ChildValue(size_t I) { return Children[I]->GetDataValue(); }
  // The fold of the children's types, aftUnknown when it fails; used by the
  // nodes whose own rule is the fold without the error.
  static TVEXAdvancedFieldType FoldTypes(const std::vector<TVEXExprNode*>& Nodes);
};

// The display text of an operator in messages; "unknown" for operators
// without one.
std::string GetOperatorName(TVEXDataOperator Op);

}  // namespace vex
