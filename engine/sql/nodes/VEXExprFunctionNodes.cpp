#include "sql/nodes/VEXExprFunctionNodes.h"

#include <cmath>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXWideText.h"
#include "rtl/CodePage.h"
#include "rtl/DateTime.h"
#include "sql/nodes/VEXExprCastCase.h"
#include "sql/nodes/VEXExprLeafNodes.h"

namespace vex {

namespace {

// Blanks and control characters, which the TRIM functions remove.
template <class Ch>
bool IsTrimmed(Ch c) {
  return static_cast<std::make_unsigned_t<Ch>>(c) <= 0x20;
}

template <class S>
S Trim(const S& s, bool leading, bool trailing) {
  size_t b = 0, e = s.size();
  if (leading)
    while (b < e && IsTrimmed(s[b])) ++b;
  if (trailing)
    while (e > b && IsTrimmed(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// A copy of Source, cast to bftVarchar when it is not text.
void CopyAsText(TVEXVariant& Dest, const TVEXVariant& Source) {
  Dest.Assign(Source, true);
  if (!Dest.IsStringDataType()) Dest.Cast(bftVarchar);
}

}  // namespace

void TVEXExprNodeStringFunction::Prepare() { CopyAsText(Value, ChildValue(0)); }

TVEXVariant& TVEXExprNodeStringFunction::GetDataValue() {
  switch (Operator) {
    case doCONCAT:
      Prepare();
      for (size_t i = 1; i < Children.size(); ++i) Value.Add(ChildValue(i));
      break;
    case doUPPER:
    case doLOWER:
      Prepare();
      if (Value.IsNull()) break;
      if (Value.IsWideStringDataType()) {
        const std::u16string s = Value.AsWideString();
        Value.SetAsWideString(Operator == doUPPER ? UpperCaseWideText(s) : LowerCaseWideText(s));
      } else {
        const std::string s = Value.AsAnsiString();
        Value.SetAsAnsiString(Operator == doUPPER ? AnsiTextUpperCase(s) : AnsiTextLowerCase(s));
      }
      break;
    case doTRIM:
    case doLTRIM:
    case doRTRIM: {
      Prepare();
      if (Value.IsNull()) break;
      const bool leading = Operator != doRTRIM, trailing = Operator != doLTRIM;
      if (Value.IsWideStringDataType())
        Value.SetAsWideString(Trim(Value.AsWideString(), leading, trailing));
      else
        Value.SetAsAnsiString(Trim(Value.AsAnsiString(), leading, trailing));
      break;
    }
    case doLENGTH: {
      Value.SetAsInteger(0);
      TVEXVariant text;
      CopyAsText(text, ChildValue(0));
      if (!text.IsNull()) Value.SetAsInteger(text.StrLen());
      break;
    }
    case doPOS: {
      TVEXVariant sub, text;
      CopyAsText(sub, ChildValue(0));
      CopyAsText(text, ChildValue(1));
      size_t at;
      if (sub.IsWideStringDataType() || text.IsWideStringDataType())
        at = text.AsWideString().find(sub.AsWideString());
      else
        at = text.AsAnsiString().find(sub.AsAnsiString());
      // A null reads as the empty text, which is not looked for.
      const bool found = !sub.IsNull() && !text.IsNull() && at != std::string::npos;
      Value.SetAsInteger(found ? static_cast<int32_t>(at) + 1 : 0);
      break;
    }
    case doSUBSTRING: {
      const int32_t start = ChildValue(1).AsInteger();
      int32_t length;
      if (Children.size() > 2) {
        length = ChildValue(2).AsInteger();
      } else {
        TVEXVariant text;
        CopyAsText(text, ChildValue(0));
        length = text.IsNull() ? 0 : text.StrLen();
      }
      Value.Assign(ChildValue(0), true);
      if (Value.IsNull()) break;
      if (!Value.IsStringDataType()) Value.Cast(bftVarchar);
      const int64_t from = std::max<int64_t>(start, 1) - 1;
      auto cut = [&](const auto& s) {
        using S = std::decay_t<decltype(s)>;
        if (from >= static_cast<int64_t>(s.size()) || length <= 0) return S();
        return s.substr(static_cast<size_t>(from), static_cast<size_t>(length));
      };
      if (Value.IsWideStringDataType()) {
        Value.SetAsWideString(cut(Value.AsWideString()));
      } else {
        Value.SetAsAnsiString(cut(Value.AsAnsiString()));
      }
      break;
    }
    default:
      throw EVEXException(30131, "Unknown operator: '%s'", GetOperatorName(Operator));
  }
  return Value;
}

TVEXAdvancedFieldType TVEXExprNodeStringFunction::GetDataType() {
  if (Operator == doLENGTH || Operator == doPOS) return aftInteger;
  if ((Operator >= doUPPER && Operator <= doRTRIM) || Operator == doSUBSTRING) {
    const TVEXAdvancedFieldType t = Children[0]->GetDataType();
    if (IsStringAdvancedFieldType(t)) return t;
    const TVEXBaseFieldType b = AdvancedToBaseFieldType(t);
    if (b == bftClob) return aftString;
    if (b == bftWideClob) return aftWideString;
    return t;
  }
  return TVEXExprNode::GetDataType();
}

int32_t TVEXExprNodeStringFunction::GetDataSize() {
  if (Operator == doCONCAT) {
    const TVEXAdvancedFieldType type = GetDataType();
    for (auto& c : Children)
      if (c->GetDataType() != type && dynamic_cast<TVEXExprNodeCast*>(c.get()) == nullptr)
        c = std::make_unique<TVEXExprNodeCast>(std::move(c), type, nullptr);
    return TVEXExprNode::GetDataSize();
  }
  if (Operator >= doUPPER && Operator <= doRTRIM) return Children[0]->GetDataSize();
  if (Operator == doSUBSTRING) {
    const int32_t size = Children[0]->GetDataSize();
    if (size != 0 || !IsStringAdvancedFieldType(GetDataType())) return size;
    return Children.size() > 2 ? ChildValue(2).AsInteger() : 4096;
  }
  return 0;
}

TVEXExprNodeDateFunction::TVEXExprNodeDateFunction(TVEXDataOperator Op)
    : TVEXExprNode(Op, false, false) {}

TVEXExprNodeDateFunction::TVEXExprNodeDateFunction(TVEXDataOperator Op, TVEXExprNodePtr Node,
                                                   const std::string& FormatStr)
    : TVEXExprNode(Op, std::move(Node), false, false),
      DateFormater(std::make_unique<TDateFormater>(FormatStr)) {}

TVEXExprNodeDateFunction::TVEXExprNodeDateFunction(TVEXDataOperator Op,
                                                   TVEXDateTimeExtractField ExtractField,
                                                   TVEXExprNodePtr ExtractSource)
    : TVEXExprNode(Op, std::move(ExtractSource), false, false),
      ExtractDateTimeField(ExtractField) {}

TVEXVariant& TVEXExprNodeDateFunction::GetDataValue() {
  switch (Operator) {
    case doSYSDATE:
      Value.SetAsTDateTime(rtl::Now());
      break;
    case doCURRENT_DATE:
      Value.SetAsTDate(rtl::DateOf(rtl::Now()));
      break;
    case doCURRENT_TIME:
      Value.SetAsTTime(rtl::TimeOf(rtl::Now()));
      break;
    case doTODATE: {
      // Each row starts again from a date-time, so the type follows the text.
      Value.Clear(bftDateTime);
      const TVEXVariant& text = ChildValue(0);
      if (text.IsNull()) break;
      const rtl::TDateTime dt = DateFormater->ToDate(text.AsAnsiString());
      Value.SetAsTDateTime(dt);
      double whole;
      const double fraction = std::modf(dt, &whole);
      if (whole == 0) Value.Cast(bftTime);
      if (fraction == 0) Value.Cast(bftDate);
      break;
    }
    case doTOSTRING: {
      const TVEXVariant& date = ChildValue(0);
      Value.SetNull();
      if (date.IsNull()) break;
      Value.SetAsAnsiString(DateFormater->ToString(date.AsTDateTime()));
      break;
    }
    case doEXTRACT: {
      const TVEXVariant& source = ChildValue(0);
      Value.SetNull();
      if (source.IsNull()) break;
      int part[4];
      if (ExtractDateTimeField >= dtefHour)
        rtl::DecodeTime(source.AsTTime(), part[0], part[1], part[2], part[3]);
      else
        rtl::DecodeDate(source.AsTDate(), part[0], part[1], part[2]);
      const int index =
          ExtractDateTimeField >= dtefHour ? ExtractDateTimeField - dtefHour : ExtractDateTimeField;
      Value.SetAsWord(static_cast<uint16_t>(part[index]));
      break;
    }
    default:
      throw EVEXException(30130, "Unknown operator: '%s'", GetOperatorName(Operator));
  }
  return Value;
}

TVEXAdvancedFieldType TVEXExprNodeDateFunction::GetDataType() {
  switch (Operator) {
    case doSYSDATE:
      return aftDateTime;
    case doCURRENT_DATE:
      return aftDate;
    case doCURRENT_TIME:
      return aftTime;
    case doTODATE:
      return DateFormater->GetDataType();
    case doTOSTRING:
      return aftString;
    case doEXTRACT:
      return aftWord;
    default:
      throw EVEXException(30287, "Unknown operator: '%s'", GetOperatorName(Operator));
  }
}

int32_t TVEXExprNodeDateFunction::GetDataSize() {
  return Operator == doTOSTRING ? DateFormater->GetStringMaxSize() : 0;
}

}  // namespace vex
