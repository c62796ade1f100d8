// A one-line S-expression form of an expression tree, so that a table of
// cases shows a parse result whole: "(OR (=3 X 1) (=2 NAME 'Jo'))".
//
//   comparison  =3 (three-valued), =2 (two-valued), P (partial key),
//               ANY / ALL after the operator for a quantified one
//   LIKE        (LIKE[\] a b) with its escape character
//   constant    1 (32-bit), 1L (64-bit), 1.5D, 'a' (8-bit), N'a' (wide),
//               TRUE / FALSE, DATE:43890, TIME:45000s, TIMESTAMP:43890+45000s,
//               NULL:TYPE
//   column      T.NAME or NAME
#pragma once

#include <array>
#include <cmath>
#include <string>

#include "foundation/VEXConverts.h"
#include "rtl/CodePage.h"
#include "sql/nodes/VEXExprArithmetic.h"
#include "sql/nodes/VEXExprCastCase.h"
#include "sql/nodes/VEXExprConditionNodes.h"
#include "sql/nodes/VEXExprFieldNode.h"
#include "sql/nodes/VEXExprFunctionNodes.h"
#include "sql/nodes/VEXExprLeafNodes.h"
#include "sql/expression/VEXExprParserNodes.h"
#include "sql/expression/VEXExpression.h"

namespace vex::exprtest {

inline std::string OperatorText(TVEXDataOperator op) {
  static const std::array<const char*, 66> kNames = {"?",
                                                     "=",
                                                     "<>",
                                                     ">",
                                                     "<",
                                                     ">=",
                                                     "<=",
                                                     "NOT",
                                                     "AND",
                                                     "OR",
                                                     "IN",
                                                     "NOTIN",
                                                     "EXISTS",
                                                     "BETWEEN",
                                                     "NOTBETWEEN",
                                                     "LIKE",
                                                     "NOTLIKE",
                                                     "ISNULL",
                                                     "ISNOTNULL",
                                                     "TRUE",
                                                     "FALSE",
                                                     "+",
                                                     "-",
                                                     "*",
                                                     "/",
                                                     "||",
                                                     "UPPER",
                                                     "LOWER",
                                                     "TRIM",
                                                     "LTRIM",
                                                     "RTRIM",
                                                     "LENGTH",
                                                     "POS",
                                                     "SUBSTRING",
                                                     "SUM",
                                                     "AVG",
                                                     "MIN",
                                                     "MAX",
                                                     "COUNT",
                                                     "COUNT(*)",
                                                     "SYSDATE",
                                                     "CURRENT_DATE",
                                                     "CURRENT_TIME",
                                                     "TODATE",
                                                     "TOSTRING",
                                                     "EXTRACT",
                                                     "CAST",
                                                     "LASTAUTOINC",
                                                     "MIMETOBIN",
                                                     "ROWNUM",
                                                     "ABS",
                                                     "ACOS",
                                                     "ASIN",
                                                     "ATAN",
                                                     "CEIL",
                                                     "COS",
                                                     "EXP",
                                                     "FLOOR",
                                                     "LOG",
                                                     "POWER",
                                                     "RAND",
                                                     "ROUND",
                                                     "SIGN",
                                                     "SIN",
                                                     "SQR",
                                                     "SQRT"};
  return kNames[op];
}

inline std::string ConstText(const TVEXVariant& v) {
  const TVEXBaseFieldType t = v.DataType();
  if (v.IsNull()) return "NULL:" + BaseFieldTypeToSQLName(t);
  switch (t) {
    case bftSignedInt32:
      return std::to_string(v.AsInteger());
    case bftSignedInt64:
      return std::to_string(v.AsInt64()) + "L";
    case bftDouble: {
      std::string s = std::to_string(v.AsDouble());
      while (s.size() > 1 && s.back() == '0') s.pop_back();
      return s + "D";
    }
    case bftLogical:
      return v.AsBoolean() ? "TRUE" : "FALSE";
    case bftDate:
      return "DATE:" + std::to_string(static_cast<int64_t>(v.AsTDate()));
    case bftTime:
      return "TIME:" + std::to_string(std::lround(v.AsTTime() * 86400)) + "s";
    case bftDateTime: {
      const double d = v.AsTDateTime();
      const double day = std::floor(d);
      return "TIMESTAMP:" + std::to_string(static_cast<int64_t>(day)) + "+" +
             std::to_string(std::lround((d - day) * 86400)) + "s";
    }
    default:
      break;
  }
  if (v.IsWideStringDataType()) return "N'" + rtl::Utf16ToUtf8(v.AsWideString()) + "'";
  if (v.IsStringDataType()) return "'" + rtl::Win1252ToUtf8(v.AsAnsiString()) + "'";
  return BaseFieldTypeToSQLName(t) + ":" + rtl::Win1252ToUtf8(v.AsAnsiString());
}

inline std::string Dump(const TVEXExprNode* n) {
  if (n == nullptr) return "nil";
  if (auto* f = dynamic_cast<const TVEXExprNodeField*>(n))
    return f->TableName().empty() ? f->FieldName() : f->TableName() + "." + f->FieldName();
  if (dynamic_cast<const TVEXExprNodeConst*>(n)) return ConstText(n->Value);
  std::string head = OperatorText(n->Operator);
  if (auto* c = dynamic_cast<const TVEXExprNodeComparison*>(n)) {
    head += c->F3ValueLogic ? "3" : "2";
    if (c->FPartialKey) head += "P";
    if (c->FQuantifier == qALL) head += " ALL";
    if (c->FQuantifier == qANY) head += " ANY";
  } else if (auto* b = dynamic_cast<const TVEXExprNodeBoolean*>(n)) {
    if (!b->EscapeStr.empty()) head += "[" + b->EscapeStr + "]";
  } else if (auto* cast = dynamic_cast<const TVEXExprNodeCast*>(n)) {
    head += ":" + AdvancedFieldTypeToSQLName(cast->FCastType);
  } else if (auto* kase = dynamic_cast<const TVEXExprNodeCase*>(n)) {
    head = kase->FIsCoalesceExpression ? "COALESCE"
           : kase->FInputExpression    ? "CASE:SIMPLE"
                                       : "CASE:SEARCHED";
    if (kase->FElseResultExpression) head += ":ELSE";
  } else if (auto* s = dynamic_cast<const TVEXExprNodeSystem*>(n)) {
    if (s->Operator == doLASTAUTOINC)
      head += ":" + s->FTableName + "." + s->FColumnName + (s->FInMemory ? ":MEMORY" : "");
  } else if (auto* a = dynamic_cast<const TVEXExprNodeAggregated*>(n)) {
    if (a->distinct) head += ":DISTINCT";
  } else if (auto* d = dynamic_cast<const TVEXExprNodeDateFunction*>(n)) {
    if (d->Operator == doEXTRACT) head += ":" + std::to_string(d->ExtractDateTimeField);
  }
  std::string out = "(" + head;
  for (const TVEXExprNodePtr& child : n->Children) out += " " + Dump(child.get());
  return out + ")";
}

inline std::string Dump(const TVEXExpression& e) { return Dump(e.RootNode()); }

}  // namespace vex::exprtest
