#include "sql/nodes/VEXExprCastCase.h"

#include <algorithm>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"

namespace vex {

namespace {

constexpr int32_t kDefaultCastLength = 4096;

// The size of the text form of an operand type (a string target without a
// length).
int32_t TextSizeOfType(TVEXAdvancedFieldType Type, TVEXExprNode& Operand) {
  switch (Type) {
    case aftChar:
    case aftString:
    case aftWideChar:
    case aftWideString:
    case aftBytes:
    case aftVarBytes:
    case aftBlob:
    case aftGraphic:
      return Operand.GetDataSize();
    case aftShortint:
    case aftAutoIncShortint:
      return 4;
    case aftSmallint:
    case aftAutoIncSmallint:
      return 6;
    case aftInteger:
    case aftAutoInc:
    case aftAutoIncInteger:
      return 11;
    case aftLargeint:
    case aftAutoIncLargeint:
      return 20;
    case aftByte:
    case aftAutoIncByte:
      return 3;
    case aftWord:
    case aftAutoIncWord:
      return 5;
    case aftCardinal:
    case aftAutoIncCardinal:
      return 10;
    case aftSingle:
    case aftDouble:
    case aftExtended:
      return 26;
    case aftBoolean:
      return 5;
    case aftCurrency:
      return 21;
    case aftDate:
    case aftTime:
    case aftDateTime:
    case aftTimeStamp:
      return 26;
    case aftMemo:
    case aftFormattedMemo:
    case aftWideMemo:
      return kDefaultCastLength;
    case aftGuid:
      return 38;
    case aftUnknown:
      break;
  }
  throw EVEXException(30466, sUnsupportedDataType, AdvancedFieldTypeToSQLName(Type));
}

}  // namespace

TVEXExprNodeCast::TVEXExprNodeCast(TVEXExprNodePtr Node, TVEXAdvancedFieldType CastType,
                                   TVEXExprNodePtr CastSizeNode)
    : TVEXExprNode(doCAST, std::move(Node), false, false),
      FCastType(CastType),
      LCastSizeNode(CastSizeNode.get()) {
  if (CastSizeNode) Children.push_back(std::move(CastSizeNode));
}

TVEXVariant& TVEXExprNodeCast::GetDataValue() {
  Value.Assign(ChildValue(0), true);
  const TVEXBaseFieldType target = AdvancedToBaseFieldType(FCastType);
  Value.Cast(target);
  if (!IsStringBaseFieldType(target)) return Value;
  const int32_t limit =
      LCastSizeNode ? LCastSizeNode->GetDataValue().AsInteger() : kDefaultCastLength;
  if (Value.StrLen() > limit) {
    const size_t n = static_cast<size_t>(std::max(limit, 0));
    if (IsWideStringBaseFieldType(target))
      Value.SetAsWideString(Value.AsWideString().substr(0, n));
    else
      Value.SetAsAnsiString(Value.AsAnsiString().substr(0, n));
  }
  return Value;
}

int32_t TVEXExprNodeCast::GetDataSize() {
  if (LCastSizeNode) return LCastSizeNode->GetDataValue().AsInteger();
  if (!IsStringBaseFieldType(AdvancedToBaseFieldType(FCastType))) return 0;
  return TextSizeOfType(Children[0]->GetDataType(), *Children[0]);
}

TVEXExprNodeCase::TVEXExprNodeCase() : TVEXExprNode(false, false) {}

std::unique_ptr<TVEXExprNodeCase> TVEXExprNodeCase::CreateSimpleCase(
    TVEXExprNodePtr InputExpression) {
  std::unique_ptr<TVEXExprNodeCase> node(new TVEXExprNodeCase());
  node->FInputExpression = InputExpression.get();
  node->Children.push_back(std::move(InputExpression));
  return node;
}

std::unique_ptr<TVEXExprNodeCase> TVEXExprNodeCase::CreateSearchedCase() {
  return std::unique_ptr<TVEXExprNodeCase>(new TVEXExprNodeCase());
}

std::unique_ptr<TVEXExprNodeCase> TVEXExprNodeCase::CreateCoalesce(TVEXExprNodeArray Nodes) {
  std::unique_ptr<TVEXExprNodeCase> node(new TVEXExprNodeCase());
  node->FIsCoalesceExpression = true;
  for (auto& n : Nodes) {
    node->FCoalesceNodes.push_back(n.get());
    node->Children.push_back(std::move(n));
  }
  return node;
}

void TVEXExprNodeCase::AddWhenExpression(TVEXExprNodePtr Node) {
  FWhenExpressions.push_back(Node.get());
  Children.push_back(std::move(Node));
}

void TVEXExprNodeCase::AddResultExpression(TVEXExprNodePtr Node) {
  FResultExpressions.push_back(Node.get());
  Children.push_back(std::move(Node));
}

void TVEXExprNodeCase::SetElseResultExpression(TVEXExprNodePtr Node) {
  FElseResultExpression = Node.get();
  Children.push_back(std::move(Node));
}

TVEXVariant& TVEXExprNodeCase::GetDataValue() {
  Value.SetNull();
  if (FIsCoalesceExpression) {
    for (TVEXExprNode* n : FCoalesceNodes) {
      const TVEXVariant& v = n->GetDataValue();
      Value.Assign(v, false);
      if (!v.IsNull()) break;
    }
    return Value;
  }
  TVEXExprNode* chosen = FElseResultExpression;
  if (FInputExpression) {
    const TVEXVariant& input = FInputExpression->GetDataValue();
    for (size_t i = 0; i < FWhenExpressions.size(); ++i)
      if (input.Compare(FWhenExpressions[i]->GetDataValue(), false, true, false) == cmprEqual) {
        chosen = FResultExpressions[i];
        break;
      }
  } else {
    // A WHEN that is null is not True: one null row must not abort the query.
    for (size_t i = 0; i < FWhenExpressions.size(); ++i) {
      const TVEXVariant& when = FWhenExpressions[i]->GetDataValue();
      if (!when.IsNull() && when.AsBoolean()) {
        chosen = FResultExpressions[i];
        break;
      }
    }
  }
  if (chosen) Value.Assign(chosen->GetDataValue(), false);
  return Value;
}

TVEXAdvancedFieldType TVEXExprNodeCase::GetDataType() {
  if (FIsCoalesceExpression) return FoldTypes(FCoalesceNodes);
  std::vector<TVEXExprNode*> branches = FResultExpressions;
  if (FElseResultExpression) branches.push_back(FElseResultExpression);
  return FoldTypes(branches);
}

TVEXExprNode* TVEXExprNodeCase::UnifyBranch(TVEXExprNode* Node, TVEXAdvancedFieldType Type) {
  if (Node->GetDataType() == Type || dynamic_cast<TVEXExprNodeCast*>(Node) != nullptr) return Node;
  for (auto& c : Children)
    if (c.get() == Node) {
      c = std::make_unique<TVEXExprNodeCast>(std::move(c), Type, nullptr);
      return c.get();
    }
  return Node;
}

int32_t TVEXExprNodeCase::GetDataSize() {
  const TVEXAdvancedFieldType type = GetDataType();
  int32_t size = 0;
  auto unify = [&](TVEXExprNode*& branch) {
    branch = UnifyBranch(branch, type);
    size = std::max(size, branch->GetDataSize());
  };
  if (FIsCoalesceExpression) {
    for (TVEXExprNode*& n : FCoalesceNodes) unify(n);
    return size;
  }
  for (TVEXExprNode*& n : FResultExpressions) unify(n);
  if (FElseResultExpression) unify(FElseResultExpression);
  return size;
}

}  // namespace vex
