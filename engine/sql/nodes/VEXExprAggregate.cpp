// The aggregate node (see VEXExprAggregate.h).
#include "sql/nodes/VEXExprAggregate.h"

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "rtl/Exception.h"
#include "sql/VEXRelationalAlgebra.h"

namespace vex {

namespace {

bool IsIntegerType(TVEXBaseFieldType T) {
  return (T >= bftSignedInt8 && T <= bftSignedInt64) ||
         (T >= bftUnsignedInt8 && T <= bftUnsignedInt32);
}

}  // namespace

TVEXExprNodeAggregated::TVEXExprNodeAggregated(TVEXDataOperator Op)
    : TVEXExprNode(Op, true, false) {}

TVEXExprNodeAggregated::TVEXExprNodeAggregated(TVEXDataOperator Op, bool Distinct,
                                               TVEXExprNodePtr Node)
    : TVEXExprNode(Op, std::move(Node), true, false), distinct(Distinct) {}

TVEXExprNodeAggregated::~TVEXExprNodeAggregated() = default;

bool TVEXExprNodeAggregated::ValueLess::Less(const TVEXVariant& A, const TVEXVariant& B) {
  return A.Compare(B, false, false, false) == cmprLower;
}

void TVEXExprNodeAggregated::Init() {
  count = 0;
  Value.SetNull();
  if (Operator == doAVG) AvgSum.SetNull();
  FSeen.clear();
}

bool TVEXExprNodeAggregated::SeenBefore(const TVEXVariant& Arg) {
  if (FSeen.find(&Arg) != FSeen.end()) return true;
  auto copy = std::make_unique<TVEXVariant>();
  copy->Assign(Arg, true);
  FSeen.insert(std::move(copy));
  return false;
}

void TVEXExprNodeAggregated::AccumulateSum(const TVEXVariant& Arg) {
  if (Value.IsNull()) {
    Value.Assign(Arg, true);
    if (IsIntegerType(Value.DataType())) Value.Cast(bftSignedInt64);
    return;
  }
  if (Value.DataType() == bftSignedInt64 && IsIntegerType(Arg.DataType())) {
    int64_t sum;
    if (__builtin_add_overflow(Value.AsInt64(), Arg.AsInt64(), &sum))
      throw rtl::EIntOverflow(sIntegerOverflow);
    Value.SetAsInt64(sum);
    return;
  }
  Value.Add(Arg);
}

void TVEXExprNodeAggregated::Accumulate() {
  if (Operator == doCOUNTALL) {
    ++count;
    return;
  }
  const TVEXVariant& arg = ChildValue(0);
  switch (Operator) {
    case doSUM:
      if (arg.IsNull()) return;
      if (!arg.IsNumericDataType())
        throw EVEXException(30132, "Not numeric argument in numeric operator '%s'", "SUM");
      if (distinct && SeenBefore(arg)) return;
      AccumulateSum(arg);
      return;
    case doAVG:
      if (arg.IsNull()) return;
      if (!arg.IsNumericDataType())
        throw EVEXException(30133, "Not numeric argument in numeric operator '%s'", "AVG");
      if (distinct && SeenBefore(arg)) return;
      if (AvgSum.IsNull()) {
        AvgSum.Assign(arg, true);
        if (AvgSum.DataType() != bftDouble) AvgSum.Cast(bftDouble);
      } else {
        AvgSum.Add(arg);
      }
      ++count;
      return;
    case doMIN:
    case doMAX:
      if (Value.IsNull()) {
        Value.Assign(arg, true);
      } else if (!arg.IsNull()) {
        const TVEXCompareResult r = arg.Compare(Value, true, true, false);
        if (r == (Operator == doMIN ? cmprLower : cmprGreater)) Value.Assign(arg, true);
      }
      return;
    case doCOUNT:
      if (arg.IsNull()) return;
      if (distinct && SeenBefore(arg)) return;
      ++count;
      return;
    default:
      throw EVEXException(30134, "Unknown operator: '%s'", GetOperatorName(Operator));
  }
}

TVEXVariant& TVEXExprNodeAggregated::GetDataValue() {
  switch (Operator) {
    case doAVG:
      if (AvgSum.IsNull()) {
        Value.Clear(bftDouble);
      } else {
        TVEXVariant divisor;
        divisor.SetAsDouble(count);
        Value.Assign(AvgSum, true);
        Value.Division(divisor);
      }
      break;
    case doCOUNT:
    case doCOUNTALL:
      Value.SetNull();
      Value.SetAsInteger(count);
      break;
    default:
      break;
  }
  return Value;
}

TVEXAdvancedFieldType TVEXExprNodeAggregated::GetDataType() {
  switch (Operator) {
    case doSUM: {
      const TVEXAdvancedFieldType t = Children[0]->GetDataType();
      if (t == aftSingle || t == aftDouble || t == aftExtended || t == aftCurrency) return t;
      return aftLargeint;
    }
    case doAVG:
      return aftDouble;
    case doMIN:
    case doMAX:
      return Children[0]->GetDataType();
    default:
      return aftInteger;
  }
}

int32_t TVEXExprNodeAggregated::GetDataSize() {
  if (Operator == doMIN || Operator == doMAX) return Children[0]->GetDataSize();
  return 0;
}

bool TVEXExprNodeAggregated::CanBeAssigned(TVEXAO* AO, TVEXAO* ParentQueryAO,
                                           TVEXCursor* ParentCursor, bool) {
  if (AO == nullptr || !AO->IsAOGroupBy()) return false;
  return TVEXExprNode::CanBeAssigned(AO, ParentQueryAO, ParentCursor, false);
}

}  // namespace vex
