// The query component: the dataset through which an application runs SQL.
//
// A query holds the SQL text (a string list whose change handler keeps the
// parameter list in step with the text) and its parameters, hands both to a
// statement processor and shows the result cursor of the text's last
// statement as its records; ExecSQL runs the text for its effect only. A
// master data source, through TVEXQueryDataLink, fills the parameters the
// application did not set itself and re-runs the query whenever the master's
// current record changes.
//
// Design notes
//   1. Prepared exactly while FStmtHandle is set. Prepare sets the dataset's
//      database flag 1 (which opens the database) and makes the processor;
//      Open (flag 0) and ExecSQL (flag 2) prepare on their own when needed.
//      Clearing the last flag unprepares (SetDBFlag), so a query that was not
//      prepared explicitly gives its processor back at Close and at the end
//      of ExecSQL; a failed preparation leaves no processor.
//   2. The result cursor belongs to the processor's last statement: the
//      dataset holds it as its external cursor (FExternalHandle) and never
//      frees it. It lives until the next execution, UnPrepare or the
//      processor's end, which is why unpreparing drops the dataset's handles
//      first.
//   3. RowsAffected reads the processor's count while prepared; unpreparing
//      saves that count into FRowsAffected when the last execution produced
//      no cursor (FCheckRowsAffected), so a count outlives the processor that
//      an unprepared ExecSQL makes and frees.
//   4. Each run copies Params into the processor's parameter list, converted
//      to engine values by data type (RunStatement); an empty Params leaves
//      the processor's list as it was.
//   5. A colon written between double quotes ("...:..." as one quoted name)
//      makes no parameter: the change handler hides it from the platform's
//      parameter parser and puts it back in Text.
//
// Threads: used on the thread that owns the components.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "components/VEXDataSet.h"
#include "db/DataSet.h"
#include "db/Params.h"
#include "rtl/Lists.h"
#include "sql/VEXSQLProcessor.h"

namespace vex {

class TVEXQuery;

// The link of a detail query to its master data source.
class TVEXQueryDataLink : public db::TDetailDataLink {
 public:
  explicit TVEXQueryDataLink(TVEXQuery* AQuery) : FQuery(AQuery) {}
  db::TDataSet* GetDetailDataSet() override;

 protected:
  // The master opened or closed: the query's RefreshParams when it is active.
  void ActiveChanged() override;
  // Posts or cancels a pending edit of the active query.
  void CheckBrowseMode() override;
  // The master moved or its record changed as a whole (Field nil): the
  // query's RefreshParams when it is active.
  void RecordChanged(db::TField* Field) override;

 private:
  TVEXQuery* FQuery;
};

class TVEXQuery : public TVEXDataSet {
 public:
  // RequestLive False, ParamCheck True, RowsAffected -1, empty Params.
  explicit TVEXQuery(rtl::TComponent* AOwner);
  // Closes and unprepares (never raises).
  ~TVEXQuery() override;

  // ---- the SQL text and its parameters
  // The text as lines. A change through the list fires the change handler:
  // the query is closed and unprepared and, with ParamCheck, Params rebuilt
  // from the text, keeping the values of parameters whose names survive.
  rtl::TStringList& SQL() { return FSQL; }
  const rtl::TStringList& SQL() const { return FSQL; }
  // Nothing when Value holds the current text; otherwise the list takes
  // Value's lines in one change.
  void SetSQL(const rtl::TStringList& Value);
  db::TParams& Params() { return FParams; }
  const db::TParams& Params() const { return FParams; }
  // Takes the values of the same-named parameters of Value only.
  void SetParams(const db::TParams& Value) { FParams.AssignValues(Value); }
  uint16_t ParamCount() const { return static_cast<uint16_t>(FParams.Count()); }
  // The platform's "Parameter '%s' not found" for an unknown name.
  db::TParam* ParamByName(std::string_view Value) { return FParams.ParamByName(Value); }
  // The text with each named parameter replaced by "?"; informational only.
  const std::string& Text() const { return FText; }
  bool ParamCheck() const { return FParamCheck; }
  void SetParamCheck(bool Value) { FParamCheck = Value; }
  bool RequestLive() const { return FRequestLive; }
  void SetRequestLive(bool Value) { FRequestLive = Value; }
  // The buffer kept as the component's binary "Data"; execution never reads
  // it and a change of the text drops it.
  const std::optional<std::string>& SQLBinary() const { return FSQLBinary; }
  void SetSQLBinary(std::optional<std::string> Value) { FSQLBinary = std::move(Value); }

  // ---- preparing and running
  bool Prepared() const { return FPrepared; }
  void SetPrepared(bool Value);
  // Flag 1 (opening the database), then a processor holding the text:
  // 30141 "Cannot perform this operation on an open dataset" while the
  // dataset holds a cursor, 30142 "No SQL statement available" for a text
  // shorter than two characters.
  void Prepare();
  void UnPrepare();
  // Runs the whole text for its effect; the query must be closed. 20034 "No
  // SQL statement available" for an SQL list without lines. Flag 2 is
  // cleared on every way out (design note 1).
  void ExecSQL();
  // The rows the last execution affected (design note 3); -1 before any.
  int32_t RowsAffected() const;
  // The processor while prepared, else nullptr.
  TVEXSQLProcessor* StmtHandle() const { return FStmtHandle.get(); }

  // ---- master data source
  db::TDataSource* DataSource() const;
  // "Circular datalinks are not allowed" for a source that shows this query.
  void SetDataSource(db::TDataSource* Value);
  db::TDataSource* GetDataSource() override { return DataSource(); }
  // For each parameter in order that the master has a field of: that field,
  // and the query's own field of the name when it has one.
  void GetDetailLinkFields(std::vector<db::TField*>& MasterFields,
                           std::vector<db::TField*>& DetailFields) override;

  // ---- the dataset's operations
  bool IsQuery() const override { return true; }
  // Close, then UnPrepare.
  void CloseAndRelease() override;
  // Clearing the last flag unprepares first.
  void SetDBFlag(int32_t Flag, bool Value) override;

  // ---- provider support
  std::string PSGetTableName() const;
  void PSSetCommandText(const std::string& CommandText);
  void PSExecute() { ExecSQL(); }
  // The ORDER BY of the text as an index definition, or nullptr.
  std::unique_ptr<db::TIndexDef> PSGetDefaultOrder();
  db::TParams& PSGetParams() { return FParams; }
  // A non-empty list becomes Params; the query is closed.
  void PSSetParams(const db::TParams& AParams);

 protected:
  friend class TVEXQueryDataLink;
  // The statement's result cursor, with the database in silent mode for the
  // run; 20001 (from the dataset) when the text's last statement has none.
  TVEXCursor* CreateHandle() override;
  // A read-only result is refreshed by running the text again.
  void InternalRefresh() override;

 private:
  void SetPrepare(bool Value);
  TVEXCursor* ExecuteStatement(bool WantCursor);
  TVEXCursor* RunStatement(bool WantCursor);
  void SetParamsFromMaster();
  void RefreshParams();
  void QueryChanged();

  std::unique_ptr<TVEXSQLProcessor> FStmtHandle;
  rtl::TStringList FSQL;
  bool FPrepared = false;
  db::TParams FParams;
  std::string FText;
  std::unique_ptr<TVEXQueryDataLink> FDataLink;
  int32_t FRowsAffected = -1;
  bool FRequestLive = false;
  std::optional<std::string> FSQLBinary;
  bool FParamCheck = true;
  bool FCheckRowsAffected = false;
};

#ifdef VALMORA_TEST_HOOKS
// Tests run queries over small statements of their own: while Rows is not
// empty, every processor a query makes dispatches over Rows instead of the
// engine's statements. Answers the previous setting.
std::span<const TVEXStatementRow> SetQueryStatementRowsForTesting(
    std::span<const TVEXStatementRow> Rows);
#endif

}  // namespace vex
