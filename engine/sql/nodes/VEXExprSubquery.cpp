// The subquery node (see VEXExprSubquery.h).
#include "sql/nodes/VEXExprSubquery.h"

#include <utility>

#include "components/VEXDataSet.h"
#include "foundation/VEXExcept.h"
#include "sql/VEXLexer.h"
#include "sql/VEXRelationalAlgebra.h"
#include "sql/statements/VEXSQLUnion.h"
#include "storage/VEXCursor.h"

namespace vex {

namespace {

// Puts the lexer back on the command and token it stood on.
class LexerPosition {
 public:
  explicit LexerPosition(TVEXLexer& Lexer)
      : FLexer(Lexer), FCommandNo(Lexer.CurrentCommandNo), FTokenNo(TokenNo(Lexer)) {}
  ~LexerPosition() {
    FLexer.CurrentCommandNo = FCommandNo;
    if (FCommandNo >= 0 && FCommandNo < FLexer.NumCommands())
      FLexer.Commands[FCommandNo].CurrentTokenNo = FTokenNo;
  }
  LexerPosition(const LexerPosition&) = delete;
  LexerPosition& operator=(const LexerPosition&) = delete;

  static int32_t TokenNo(const TVEXLexer& Lexer) {
    const int32_t command = Lexer.CurrentCommandNo;
    if (command < 0 || command >= Lexer.NumCommands()) return 0;
    return Lexer.Commands[command].CurrentTokenNo;
  }

 private:
  TVEXLexer& FLexer;
  int32_t FCommandNo;
  int32_t FTokenNo;
};

// Gives the outer cursor its own record buffer back.
class CursorBufferSwap {
 public:
  CursorBufferSwap(TVEXCursor* Cursor, uint8_t* Buffer) : FCursor(Cursor) {
    if (FCursor == nullptr) return;
    FSaved = FCursor->CurrentRecordBuffer();
    FCursor->SetCurrentRecordBuffer(Buffer);
  }
  ~CursorBufferSwap() {
    if (FCursor != nullptr) FCursor->SetCurrentRecordBuffer(FSaved);
  }
  CursorBufferSwap(const CursorBufferSwap&) = delete;
  CursorBufferSwap& operator=(const CursorBufferSwap&) = delete;

 private:
  TVEXCursor* FCursor;
  uint8_t* FSaved = nullptr;
};

// Whether a comparison that gave R satisfies Op; a null side satisfies none.
bool Holds(TVEXDataOperator Op, TVEXCompareResult R) {
  switch (Op) {
    case doEQ:
      return R == cmprEqual;
    case doNE:
      return R == cmprLower || R == cmprGreater;
    case doGT:
      return R == cmprGreater;
    case doLT:
      return R == cmprLower;
    case doGE:
      return R == cmprEqual || R == cmprGreater;
    case doLE:
      return R == cmprEqual || R == cmprLower;
    default:
      throw EVEXException(30117, "Unknown operator: '%s'", GetOperatorName(Op));
  }
}

}  // namespace

TVEXExprNodeSubquery::TVEXExprNodeSubquery(bool MustHaveOneField, bool MustHaveOneRow,
                                           db::TDataSet* Dataset, TVEXLexer* Lexer)
    : TVEXExprNode(true, false),
      FMustHaveOneField(MustHaveOneField),
      FMustHaveOneRow(MustHaveOneRow),
      LDataset(Dataset),
      LLexer(Lexer) {
  FCommandNo = LLexer->CurrentCommandNo;
  FTokenNo = LexerPosition::TokenNo(*LLexer);
  // Parsed once to move past it: the grammar reads on after the subquery.
  ParseSubquery();
  FCorrelated = !CanBeAssigned(nullptr, nullptr, nullptr, false);
}

TVEXExprNodeSubquery::~TVEXExprNodeSubquery() = default;

std::unique_ptr<TVEXSQLUnion> TVEXExprNodeSubquery::ParseSubquery() {
  LLexer->CurrentCommandNo = FCommandNo;
  LLexer->SetCurrentTokenNo(FTokenNo);
  auto query = std::make_unique<TVEXSQLUnion>(*LLexer, LDataset);
  query->Parse();
  return query;
}

void TVEXExprNodeSubquery::AssignAO(TVEXAO* AO, TVEXAO*, TVEXCursor*) { LAO = AO; }

void TVEXExprNodeSubquery::AssignCursor(TVEXCursor* Cursor, TVEXAO*, TVEXCursor*) {
  LCursor = Cursor;
  AssignCursorBuffer(Cursor != nullptr ? Cursor->CurrentRecordBuffer() : nullptr, false);
}

void TVEXExprNodeSubquery::AssignCursorBuffer(uint8_t* Buffer, bool) {
  LCursorRecordBuffer = Buffer;
}

bool TVEXExprNodeSubquery::CanBeAssigned(TVEXAO* AO, TVEXAO*, TVEXCursor*, bool) {
  LexerPosition keep(*LLexer);
  std::unique_ptr<TVEXSQLUnion> query = ParseSubquery();
  // The plan goes before the query object whose blocks it refers to.
  std::unique_ptr<TVEXAO> tree = query->BuildAOTree(LDataset, true, AO, nullptr, true);
  const bool applied = query->AllConditionsApplied();
  tree.reset();
  return applied;
}

template <class F>
auto TVEXExprNodeSubquery::AskFirstColumn(F&& Ask) {
  LexerPosition keep(*LLexer);
  std::unique_ptr<TVEXSQLUnion> query = ParseSubquery();
  std::unique_ptr<TVEXAO> tree = query->BuildAOTree(LDataset, true, nullptr, nullptr, true);
  auto answer = Ask(*tree, tree->GetFieldNoByVisibleNumber(0));
  tree.reset();
  return answer;
}

TVEXAdvancedFieldType TVEXExprNodeSubquery::GetDataType() {
  return AskFirstColumn([](TVEXAO& Tree, int32_t No) { return Tree.GetFieldType(No); });
}

int32_t TVEXExprNodeSubquery::GetDataSize() {
  return AskFirstColumn([](TVEXAO& Tree, int32_t No) { return Tree.GetFieldSize(No); });
}

template <class F>
void TVEXExprNodeSubquery::RunSubquery(F&& Action) {
  if (!FCorrelated && FSubquery != nullptr) {
    Action(*FResult);
    return;
  }
  FSubquery.reset();
  FResult = nullptr;
  // A correlated subquery is parsed and executed anew each time; an
  // uncorrelated one keeps its result only once it was read successfully.
  struct Release {
    TVEXExprNodeSubquery& Node;
    bool Keep = false;
    ~Release() {
      if (!Keep) {
        Node.FResult = nullptr;
        Node.FSubquery.reset();
      }
    }
  } release{*this};
  CursorBufferSwap swap(LCursor, LCursorRecordBuffer);
  {
    LexerPosition keep(*LLexer);
    FSubquery = ParseSubquery();
  }
  bool readOnly = true;
  FSubquery->ExecSQL(LDataset, true, true, readOnly, LAO, LCursor);
  ++FExecutionCount;
  FResult = dynamic_cast<TVEXDataSet*>(FSubquery->GetResultDataset());
  if (FResult == nullptr) RaiseNilPointer(30515);
  TVEXDataSet& result = *FResult;
  if (FMustHaveOneField && result.FieldCount() != 1)
    throw EVEXException(20246,
                        "Subquery must have only one result field, but subquery's FieldCount=%d",
                        result.FieldCount());
  if (FMustHaveOneRow) {
    result.First();
    if (result.Eof())
      throw EVEXException(20249, "Subquery must have one row, but it contains 0 rows");
    result.Next();
    if (!result.Eof()) throw EVEXException(20247, "Subquery must have only one row");
  }
  Action(result);
  release.Keep = !FCorrelated;
}

TVEXVariant& TVEXExprNodeSubquery::GetDataValue() {
  RunSubquery([&](TVEXDataSet& Result) {
    Result.First();
    if (Result.Eof())
      FValue.SetNull();
    else
      Result.GetFieldValue(FValue, 0, false);
  });
  return FValue;
}

void TVEXExprNodeSubquery::ResetSubqueryFieldValues() {
  RunSubquery([&](TVEXDataSet& Result) {
    const auto count = static_cast<size_t>(Result.FieldCount());
    FFieldValues.resize(count);
    for (auto& value : FFieldValues)
      if (value == nullptr) value = std::make_unique<TVEXVariant>();
    Result.First();
    for (size_t i = 0; i < count; ++i) {
      if (Result.Eof())
        FFieldValues[i]->SetNull();
      else
        Result.GetFieldValue(*FFieldValues[i], static_cast<int32_t>(i), false);
    }
  });
}

TVEXVariant* TVEXExprNodeSubquery::GetSubqueryFieldValue(int32_t FieldNo) {
  if (FieldNo < 0 || static_cast<size_t>(FieldNo) >= FFieldValues.size()) return nullptr;
  return FFieldValues[FieldNo].get();
}

bool TVEXExprNodeSubquery::Exists() {
  bool exists = false;
  RunSubquery([&](TVEXDataSet& Result) { exists = Result.RecordCount() > 0; });
  return exists;
}

bool TVEXExprNodeSubquery::IsValueIn(const TVEXVariant& Value) {
  bool found = false;
  RunSubquery([&](TVEXDataSet& Result) {
    if (!FCorrelated && FPriorResultInitalized &&
        Value.Compare(FPriorValueToCheck, false, false, false) == cmprEqual) {
      found = FPriorResult;
      return;
    }
    // A null value matches nothing; the condition node does not ask for one.
    if (!Value.IsNull() && Result.FieldCount() > 0)
      found = Result.Locate(Result.FieldDefs()[0]->Name(), Value.AsVariant(), {});
    FPriorResult = found;
    FPriorValueToCheck.Assign(Value, true);
    FPriorResultInitalized = true;
  });
  return found;
}

bool TVEXExprNodeSubquery::QuantifiedCompare(TVEXDataOperator Operator, TVEXQuantifier Quantifier,
                                             const TVEXVariant& Value) {
  bool result = false;
  RunSubquery([&](TVEXDataSet& Result) {
    const bool all = Quantifier == qALL;
    // ANY looks for a row that satisfies the comparison, ALL for one that
    // does not; without such a row ANY is False and ALL True.
    result = all;
    TVEXVariant row;
    for (Result.First(); !Result.Eof(); Result.Next()) {
      Result.GetFieldValue(row, 0, false);
      const bool holds = Holds(Operator, Value.Compare(row, true, false, false));
      if (holds != all) {
        result = !all;
        return;
      }
    }
  });
  return result;
}

}  // namespace vex
