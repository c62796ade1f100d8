// Builders for expression trees made by hand, and a one-line form of a node's
// value, so that a table of cases shows type, nullness and value at once.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "sql/nodes/VEXExprArithmetic.h"
#include "sql/nodes/VEXExprCastCase.h"
#include "sql/nodes/VEXExprConditionNodes.h"
#include "sql/nodes/VEXExprFunctionNodes.h"
#include "sql/nodes/VEXExprLeafNodes.h"

namespace vex::exprtest {

inline TVEXExprNodePtr Const(auto set) {
  auto n = std::make_unique<TVEXExprNodeConst>(false, false);
  set(n->Value);
  return n;
}
inline TVEXExprNodePtr I(int32_t v) {
  return Const([&](TVEXVariant& x) { x.SetAsInteger(v); });
}
inline TVEXExprNodePtr D(double v) {
  return Const([&](TVEXVariant& x) { x.SetAsDouble(v); });
}
inline TVEXExprNodePtr B(bool v) {
  return Const([&](TVEXVariant& x) { x.SetAsBoolean(v); });
}
inline TVEXExprNodePtr S(std::string v) {
  return Const([&](TVEXVariant& x) { x.SetAsAnsiString(v); });
}
inline TVEXExprNodePtr W(std::u16string v) {
  return Const([&](TVEXVariant& x) { x.SetAsWideString(v); });
}
// A null constant of a storage type.
inline TVEXExprNodePtr Null(TVEXBaseFieldType t = bftSignedInt32) {
  return Const([&](TVEXVariant& x) { x.Clear(t); });
}
inline TVEXExprNodePtr Blob(std::string bytes) {
  return Const([&](TVEXVariant& x) {
    x.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), bftBlob, true);
  });
}

template <class T, class... K>
TVEXExprNodePtr With(std::unique_ptr<T> n, K... kids) {
  (n->Children.push_back(std::move(kids)), ...);
  return n;
}
template <class... K>
TVEXExprNodePtr Ar(TVEXDataOperator op, K... kids) {
  return With(std::make_unique<TVEXExprNodeArithmetic>(op, false, false), std::move(kids)...);
}
template <class... K>
TVEXExprNodePtr Str(TVEXDataOperator op, K... kids) {
  return With(std::make_unique<TVEXExprNodeStringFunction>(op, false, false), std::move(kids)...);
}
template <class... K>
TVEXExprNodePtr Bool(TVEXDataOperator op, K... kids) {
  return With(std::make_unique<TVEXExprNodeBoolean>(op, false, false, ""), std::move(kids)...);
}
// A comparison with three-valued nulls, as SQL text builds it.
inline TVEXExprNodePtr Cmp(TVEXDataOperator op, TVEXExprNodePtr l, TVEXExprNodePtr r,
                           bool threeValued = true, bool caseInsensitive = false) {
  return std::make_unique<TVEXExprNodeComparison>(op, std::move(l), std::move(r), threeValued,
                                                  caseInsensitive, false);
}
inline TVEXExprNodePtr Cast(TVEXExprNodePtr n, TVEXAdvancedFieldType t,
                            TVEXExprNodePtr size = nullptr) {
  return std::make_unique<TVEXExprNodeCast>(std::move(n), t, std::move(size));
}

// "TYPE text", "TYPE NULL", or for a raise "!code" (engine errors) or the
// platform error's class name.
inline std::string Show(const TVEXVariant& v) {
  static const char* const kNames[kBaseFieldTypeCount] = {
      "UNKNOWN",  "CHAR",     "WCHAR", "VARCHAR",   "WVARCHAR", "INT8",   "INT16",
      "INTEGER",  "INT64",    "UINT8", "UINT16",    "UINT32",   "SINGLE", "DOUBLE",
      "EXTENDED", "DATE",     "TIME",  "TIMESTAMP", "BLOB",     "CLOB",   "WCLOB",
      "LOGICAL",  "CURRENCY", "BYTES", "VARBYTES",  "BFILE"};
  std::string type = kNames[v.DataType()];
  if (v.IsNull()) return type + " NULL";
  if (v.DataType() == bftLogical) return type + (v.AsBoolean() ? " TRUE" : " FALSE");
  return type + " " + rtl::Win1252ToUtf8(v.AsAnsiString());
}

template <class F>
std::string Outcome(F&& f) {
  try {
    return f();
  } catch (const EVEXException& e) {
    return "!" + std::to_string(e.NativeError);
  } catch (const rtl::EInvalidOp&) {
    return "!EInvalidOp";
  } catch (const rtl::EZeroDivide&) {
    return "!EZeroDivide";
  } catch (const rtl::EOverflow&) {
    return "!EOverflow";
  } catch (const rtl::EIntOverflow&) {
    return "!EIntOverflow";
  }
}

inline std::string Eval(TVEXExprNode& n) {
  return Outcome([&] { return Show(n.GetDataValue()); });
}

// One row of a table of cases: a tree, and what evaluating it shows.
struct Case {
  const char* text;
  std::function<TVEXExprNodePtr()> build;
  std::string expected;
};

inline void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    TVEXExprNodePtr n = c.build();
    EXPECT_EQ(Eval(*n), c.expected) << c.text;
  }
}

// A node whose type and size are given, and that counts its evaluations.
class Probe : public TVEXExprNode {
 public:
  explicit Probe(TVEXAdvancedFieldType type = aftInteger, int32_t size = 0, int* calls = nullptr)
      : TVEXExprNode(false, false), FType(type), FSize(size), FCalls(calls) {}
  TVEXVariant& GetDataValue() override {
    if (FCalls) ++*FCalls;
    return Value;
  }
  TVEXAdvancedFieldType GetDataType() override { return FType; }
  int32_t GetDataSize() override { return FSize; }

 private:
  TVEXAdvancedFieldType FType;
  int32_t FSize;
  int* FCalls;
};

}  // namespace vex::exprtest
