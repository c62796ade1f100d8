// CAST, CASE and COALESCE.
//
// Asking the size of a CASE, a COALESCE (or of a || over mixed types) unifies
// its branches: each branch of another type is wrapped, in place, in a cast
// to the node's type, and from then on delivers values of that type. Before
// (a CASE in a WHERE clause, whose size nobody asks) each branch delivers its
// own type.
#pragma once

#include <vector>

#include "sql/nodes/VEXExprNode.h"

namespace vex {

class TVEXExprNodeCast : public TVEXExprNode {
 public:
  // Node is the value to cast; CastSizeNode the length written with the type
  // (the 20 of VARCHAR(20)) or nullptr. Both become children.
  TVEXExprNodeCast(TVEXExprNodePtr Node, TVEXAdvancedFieldType CastType,
                   TVEXExprNodePtr CastSizeNode);

  // The operand converted to the target type (30051/30052 when it cannot be);
  // a text longer than the length (4096 without a length) is cut.
  TVEXVariant& GetDataValue() override;
  TVEXAdvancedFieldType GetDataType() override { return FCastType; }
  // The length given, else for a string target the size that the operand's
  // type needs as text. Raises 30466 "Unsupported data type '%s'" for a string
  // target without length over an operand of type aftUnknown.
  int32_t GetDataSize() override;

  TVEXAdvancedFieldType FCastType;
  // The length node, also the second child; nullptr without a length.
  TVEXExprNode* LCastSizeNode;
};

using TVEXExprNodeArray = std::vector<TVEXExprNodePtr>;

class TVEXExprNodeCase : public TVEXExprNode {
 public:
  // A simple CASE over InputExpression (which becomes the first child).
  static std::unique_ptr<TVEXExprNodeCase> CreateSimpleCase(TVEXExprNodePtr InputExpression);
  static std::unique_ptr<TVEXExprNodeCase> CreateSearchedCase();
  // COALESCE of Nodes, in order.
  static std::unique_ptr<TVEXExprNodeCase> CreateCoalesce(TVEXExprNodeArray Nodes);

  // Append to the WHEN or THEN list (and to the children, which own them).
  void AddWhenExpression(TVEXExprNodePtr Node);
  void AddResultExpression(TVEXExprNodePtr Node);
  void SetElseResultExpression(TVEXExprNodePtr Node);

  // The value of the first matching branch (pointed at, not copied): for
  // COALESCE the first non-null argument; for a simple CASE the THEN of the
  // first WHEN equal to the input (ignoring case, NULL matching NULL); for a
  // searched CASE the THEN of the first WHEN that is True (a null WHEN is not
  // True). Else the ELSE value, or null without ELSE.
  TVEXVariant& GetDataValue() override;
  // The fold over the arguments (COALESCE) or the THEN nodes and the ELSE node
  // (CASE); aftUnknown for a mix that does not combine.
  TVEXAdvancedFieldType GetDataType() override;
  // Casts every branch of another type to the node's type, then the largest of
  // the branches' sizes.
  int32_t GetDataSize() override;

  std::vector<TVEXExprNode*> FWhenExpressions;
  std::vector<TVEXExprNode*> FResultExpressions;
  TVEXExprNode* FElseResultExpression = nullptr;
  TVEXExprNode* FInputExpression = nullptr;
  std::vector<TVEXExprNode*> FCoalesceNodes;
  bool FIsCoalesceExpression = false;

 private:
  TVEXExprNodeCase();
  // Wraps Node (one of the children) in a cast to Type unless it has that type
  // or is a cast already; gives the node now in its place.
  TVEXExprNode* UnifyBranch(TVEXExprNode* Node, TVEXAdvancedFieldType Type);
};

}  // namespace vex
