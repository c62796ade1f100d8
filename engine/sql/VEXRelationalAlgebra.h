// The relational operators that execute a SELECT plan, and the select-list
// item they are configured with.
//
// A SELECT runs as a tree of operators. The leaf reads a base table
// (TVEXAOTable, algebra/VEXAOTable.h); every other operator executes its
// inputs, reads their rows through its own iteration and writes its output
// into a result table of its own (the fill loop), after which the inputs are
// freed and the output is that table. Expression nodes bind their column
// references to operators by name and read values through them.
//
// Design notes
//   1. An output column is a field link of one of three kinds: computed
//      (IsExpression; the link owns Expr), a dataset field (Dataset set:
//      the base table or the result table), or passed through from an input
//      (AO set, FieldNo = that input's link index).
//   2. Hidden links exist in the operator but are not output; name lookup
//      with Unhide makes a match visible along the whole path down to the base
//      table, so a column selected at the top reaches the result tables.
//   3. FResultFieldsOrder lists the visible links in select-list order;
//      result tables hold the visible links in link order.
//   4. The TOP range: FTopRowCount is the most rows a fill keeps, FFirstRowNo
//      the first input row (from 1) it takes. An operator that hands a range
//      on to its input gives it only a row limit covering the range, never the
//      first row number, so rows are skipped once, by the operator that was
//      asked for the range.
//   5. DISTINCT while filling: a row equal to the row before it is dropped by
//      comparison; any other repeat is refused by the unique index on the
//      DISTINCT columns. Each column's value is evaluated once per row and the
//      compared value is what the row stores.
//   6. Ordering of a result is an index on the result table, added after the
//      fill; only with TOP is it defined before the fill, and the input is
//      then read in that order so that the fill can stop early.
//   7. Locks go left input before right; the right input is not asked when
//      the left one refused.
//
// Threads: an operator tree and its expressions are used by the one thread
// running their statement; nothing here takes a lock of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXVariant.h"
#include "rtl/Lists.h"

namespace vex {

class TVEXAODataset;
class TVEXCursor;
class TVEXExpression;

// One item of a select list, GROUP BY list or join column list.
struct TVEXSelectListItem {
  std::string TableName;
  // The item is "*" or "t.*".
  bool AllFields = false;
  // Empty for a computed item.
  std::string FieldName;
  bool IsExpression = false;
  bool IsDuplicatedField = false;
  // The computed value; nullptr for a plain column. Owned by the list that
  // holds the item until an operator takes it (and clears this pointer).
  TVEXExpression* ValueExpr = nullptr;
  // The alias given with AS, or empty.
  std::string Pseudonym;
};

// A growable list of select-list items.
class TVEXFields {
 public:
  std::vector<TVEXSelectListItem> Items;
  int32_t ItemCount = 0;
  // Copies Item into a new last element (the expression pointer is copied).
  void Append(const TVEXSelectListItem& Item) {
    Items.push_back(Item);
    ItemCount = static_cast<int32_t>(Items.size());
  }
};

class TVEXAO;

// One output column of an operator (design note 1).
struct TVEXFieldLink {
  std::string FieldName;
  std::string DisplayName;
  TVEXAdvancedFieldType FieldType = aftUnknown;
  int32_t FieldPrecision = 0;
  int32_t FieldSize = 0;
  uint8_t BLOBCompressionAlgorithm = 0;
  uint8_t BLOBCompressionMode = 0;
  int32_t BLOBBlockSize = 0;
  TVEXAO* AO = nullptr;
  TVEXAODataset* Dataset = nullptr;
  bool IsHidden = false;
  int32_t FieldNo = -1;
  bool IsExpression = false;
  bool IsAggregate = false;
  // Owned when IsExpression.
  TVEXExpression* Expr = nullptr;
};

class TVEXAO {
 public:
  // Leaves the operator bare; subclass constructors call InitAO first.
  TVEXAO();
  // Gives a held table lock back, frees the links' expressions, closes the
  // result table and deletes it when it is temporary (a failure is
  // ignored), then frees the inputs. Never raises.
  virtual ~TVEXAO();
  TVEXAO(const TVEXAO&) = delete;
  TVEXAO& operator=(const TVEXAO&) = delete;

  // ---- properties
  bool IsMaterialized() const { return FIsMaterialized; }
  int32_t FieldCount() const { return FFieldCount; }
  TVEXAODataset* ResultDataset() const { return FResultDataset.get(); }
  const std::string& TableAlias() const { return FTableAlias; }
  void SetTableAlias(const std::string& Value) { FTableAlias = Value; }
  const std::string& TableName() const { return FTableName; }
  bool IsAOTable() const { return FIsAOTable; }
  bool IsAOGroupBy() const { return FIsAOGroupBy; }
  bool IsRootAO() const { return FIsRootAO; }
  bool HasSetResultFields() const { return FHasSetResultFields; }
  bool DistinctApplied() const { return FDistinctApplied; }
  const std::string& DistinctFields() const { return FDistinctFields; }
  int64_t TopRowCount() const { return FTopRowCount; }
  int64_t FirstRowNo() const { return FFirstRowNo; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  TVEXExpression* FilterExpr() const { return FFilterExpr.get(); }
  TVEXAO* LeftAO() const { return FLeftAO.get(); }
  TVEXAO* RightAO() const { return FRightAO.get(); }
  const std::vector<int32_t>& ResultFieldsOrder() const { return FResultFieldsOrder; }
  const TVEXFieldLink& FieldLink(int32_t FieldNo) const { return FFieldLinks[FieldNo]; }
  // The index description that orders the result, or nullptr.
  const rtl::TStringList* ResultIndexFieldsList() const { return FResultIndexFieldsList.get(); }
  int64_t RecordCount() { return GetRecordCount(); }
  bool Eof() { return GetEof(); }

  // ---- iteration (the result table once materialised)
  virtual void InternalFirst() {}
  virtual void InternalNext() {}
  virtual bool InternalEof() { return false; }
  virtual int64_t InternalRecordCount();
  void First();
  void Next();
  bool GetEof();
  int64_t GetRecordCount();

  // ---- configuration and execution
  // Every link gets a name of its own (MakeFieldNamesUnique below).
  void MakeFieldNamesUnique();
  // Executes the inputs, then materialises this operator and orders its
  // result. Errors of the table component and expressions pass through.
  virtual void Execute(bool IsRootAO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor);
  // Ignored under DISTINCT or an ordering; a negative FirstRowNo means 1.
  virtual void SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount);
  // Turns a select list into the visible output; an empty list means "*".
  // Takes the computed items' expressions (their pointers are cleared).
  // 10305 "Cannot find field %s" for a column that matches nothing.
  virtual void SetResultFields(std::vector<TVEXSelectListItem>& FieldRefs, bool bDistinct);
  // The number of links FieldName (qualified by TableName when not empty)
  // matches, their numbers appended to FieldNumbers when given (design note
  // 2 for Unhide).
  virtual int32_t FieldExists(const std::string& FieldName, const std::string& TableName,
                              bool Unhide, std::vector<int32_t>* FieldNumbers,
                              bool UnhideChildrenOnly, bool ScanOnlyVisibleFields);
  // The ordering of the result (";"-separated lists).
  void SetIndex(const std::string& IndexFieldNames, const std::string& DescFields,
                const std::string& CaseInsensitiveFields);

  // ---- table locks (design note 7)
  virtual bool OpenTables();
  virtual bool CloseTables();
  virtual bool LockTables();
  virtual bool UnlockTables();

  // Takes FilterExpr; a second filter is ANDed into the first.
  void SetFilter(std::unique_ptr<TVEXExpression> FilterExpr);
  void SetResultTable(bool InMemory, bool Immediate, const std::string& TableName,
                      const std::string& DatabaseName);
  void ApplyDistinct(const std::string& DistinctFields);

  // ---- columns
  bool FindFieldInFieldLinks(const std::string& FieldName, int32_t& FieldNo) const;
  // 10306 outside the links.
  std::string GetFieldName(int32_t FieldNo, bool ApplyOrderBy);
  std::string GetFieldNameByColumnName(const std::string& ColumnName) const;
  virtual std::string GetFieldNameByColumnNo(int32_t ColumnNo);
  // 20243 "Invalid field number in ORDER BY clause: %d" outside the order.
  std::string GetFieldNameByVisibleNumber(int32_t VisibleFieldNo) const;
  int32_t GetFieldNoByVisibleNumber(int32_t VisibleFieldNo) const;
  // 10307 outside the links, 10309 for a link without source, 10310 for a
  // hidden link read without AccessToHidden.
  virtual void GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool bCopy, bool AccessToHidden);
  // 10376, 10377, 10378 outside the links.
  virtual TVEXAdvancedFieldType GetFieldType(int32_t FieldNo);
  virtual int32_t GetFieldSize(int32_t FieldNo);
  virtual int32_t GetFieldPrecision(int32_t FieldNo);
  // Column SrcFieldNo of the current row into field DestFieldNo of the
  // record the result table is inserting.
  void CopyFieldValue(int32_t SrcFieldNo, int32_t DestFieldNo);
  // The dataset field that finally supplies column FieldNo; false for a
  // computed column or an input absent from the current row.
  bool GetFieldDatsetAndFieldNo(int32_t FieldNo, TVEXAODataset*& SrcFieldDatset,
                                int32_t& SrcFieldDatasetFieldNo);

 protected:
  // Creates the result table as a sibling of an input's, stores the names
  // and inputs, and resets the state.
  void InitAO(std::unique_ptr<TVEXAO> Left, std::unique_ptr<TVEXAO> Right,
              const std::string& TableName, const std::string& TableAlias);
  // Appends a link passing input column FieldNo of the left input through.
  void AddFieldLinkFromChild(int32_t FieldNo, bool SkipHidden);
  // A link that reads column FieldNo of Input, described as that column is.
  static TVEXFieldLink LinkToInput(TVEXAO& Input, int32_t FieldNo);
  // The links of a single-input operator: one per position of the left
  // input's visible order when it ran SetResultFields, else one per input
  // link.
  void AddLinksFromLeftInput();
  int32_t AddFieldLink(TVEXFieldLink Link);
  void CheckFieldNo(int32_t FieldNo, int32_t Code) const;
  bool HasIndexSpec() const {
    return FResultIndexFieldsList != nullptr && FResultIndexFieldsList->Count() > 0;
  }
  // Field access of datasets below this operator is by physical number.
  virtual bool DirectAccess() const;
  // Values of this operator's own rows come from its result table.
  void Materialize();
  void CreateResultTable(rtl::TStringList& FieldNames, rtl::TStringList& DisplayNames);
  void FillResultTable();
  void FinishResultTable(rtl::TStringList& FieldNames, rtl::TStringList& DisplayNames);
  std::string AddResultIndex(bool AsDefinition);
  void MapIndexFieldNames(const rtl::TStringList& FieldNames, const rtl::TStringList& DisplayNames);
  // 10308 without a result table.
  void ApplyResultIndex(bool FreeSpec);
  void ApplyDistinctToResult();
  void CreateIndexSpecLists();
  void FreeIndexSpecLists();
  // A second cursor on the input's result table; see the grouping operator.
  virtual void OpenSecondCursor() {}
  virtual void FreeSecondCursor() {}
  // Runs before the fill: what a subclass must set up once its inputs ran.
  virtual void BeforeMaterialize() {}
  // Runs when DISTINCT is applied to an operator without filter: a join
  // hands it on to its inputs.
  virtual void ApplyDistinctToInputs() {}

  bool FIsRootAO = false;
  bool FIsAOTable = false;
  bool FIsAOGroupBy = false;
  std::unique_ptr<TVEXExpression> FFilterExpr;
  int64_t FTopRowCount = -1;
  int64_t FFirstRowNo = -1;
  bool FHasSetResultFields = false;
  std::string FResultTableName;
  bool FResultInMemory = false;
  bool FResultImmediate = false;
  std::string FResultDatabaseName;
  std::string FTableName;
  std::string FTableAlias;
  bool FIsMaterialized = false;
  std::unique_ptr<TVEXAODataset> FResultDataset;
  std::vector<int32_t> FResultFieldsOrder;
  int32_t FFieldCount = 0;
  bool FLeftAONull = false;
  bool FRightAONull = false;
  bool FDistinctApplied = false;
  std::string FDistinctFields;
  int32_t FDistinctFieldCount = 0;
  std::vector<int32_t> FDistinctFieldsMap;
  std::unique_ptr<rtl::TStringList> FResultIndexFieldsList;
  std::unique_ptr<rtl::TStringList> FResultIndexAscDescFieldsList;
  std::unique_ptr<rtl::TStringList> FResultIndexCaseInsFieldsList;
  bool FExpressionsExists = false;
  bool FIsLocked = false;
  // The shared locks a table operator holds: a set operation built while its
  // statement holds them takes and gives back one more of its own, and the
  // statement's stay until it gives them back.
  int32_t FLockCount = 0;
  bool FDisableTempFiles = false;
  TVEXVariant FValue;
  std::vector<TVEXFieldLink> FFieldLinks;
  std::unique_ptr<TVEXAO> FLeftAO;
  std::unique_ptr<TVEXAO> FRightAO;
  // The result table is a temporary table this operator created.
  bool FOwnsTemporaryResult = false;
};

// Share-locks every base table below Root (LockTables) with the bounded wait
// of a statement: up to 900 attempts, the locks of a failed attempt given
// back (20226 "Cannot unlock table" when that fails) and 100 ms slept
// through os::Clock before the next one. False when every attempt failed.
bool LockTablesWithRetries(TVEXAO& Root);

// Moves the conjuncts of Expr (or its whole root) that AO can evaluate on its
// own rows (columns of AO, else of the outer query) into AO's filter, where
// they are ANDed to what is there. True when something moved; Expr keeps the
// rest.
bool ApplyFilterParts(TVEXExpression& Expr, TVEXAO& AO, TVEXAO* ParentQueryAO,
                      TVEXCursor* ParentCursor);

// Splits IndexFieldNames (SplitFieldNames) into FieldNamesList; "DESC" where
// DescFields names the column, else "ASC"; "NO_CASE" where CaseInsFields
// names it, else "CASE".
void IndexSpecToLists(const std::string& IndexFieldNames, const std::string& DescFields,
                      const std::string& CaseInsFields, rtl::TStringList& FieldNamesList,
                      rtl::TStringList& AscDescList, rtl::TStringList& CaseSensitivityList);
// The reverse of IndexSpecToLists: the names joined by ";".
void IndexListsToSpec(std::string& IndexFieldNames, std::string& DescFields,
                      std::string& CaseInsFields, const rtl::TStringList& FieldNamesList,
                      const rtl::TStringList& AscDescList,
                      const rtl::TStringList& CaseSensitivityList);

}  // namespace vex
