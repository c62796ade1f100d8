// The seams through which the storage layer calls the layers above it.
//
// Storage evaluates filters, Locate conditions and column defaults with the SQL
// layer's expression object, fills a new index by scanning the table through
// the component layer's cursor, and hands BLOBs out as the component layer's
// BLOB streams. Storage must not include those layers, so it sees them only as
// the abstract classes below; the upper layers derive their objects from them
// and install one factory per seam when the engine starts (see
// foundation/VEXStartup.h), and take it away again when it stops. This header
// is the only door from storage upward; the layer check enforces that.
//
// Contract of every seam:
//   - Installing returns the factory installed before, so a test can install
//     a fake and put the previous one back.
//   - Before the layer above installs its factory the accessor answers
//     nullptr; callers say what they do without it (a field definition then
//     takes every default as a constant).
//   - The factory must outlive its installation; the objects it makes belong
//     to the caller that asked for them.
//
// Threads: installing is done by the engine's start-up and shut-down, before
// and after all other work; the accessors may be called from any thread. The
// objects made through a seam are used by one thread at a time, the one that
// holds the database lock of the table they work on.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace vex {

class TVEXVariant;
class TVEXStream;
class TVEXIndexDef;
class TVEXIndexDefs;
// Storage classes that the upper seams name and that the storage layer
// defines as it grows: the cursor (one user's view of one table), the scan
// conditions of an index search and the SQL layer's expression nodes, which
// storage only holds and hands back.
class TVEXCursor;
class TVEXScanSearchCondition;
class TVEXScanSearchConditionArray;
class TVEXExprNode;
// The SQL layer's relational operator, which storage only passes through.
class TVEXAO;

// --- Expression object ------------------------------------------------------

// What storage calls on a parsed expression: a filter, a Locate or key-search
// condition, or a DEFAULT evaluated for every new record. The SQL layer's
// expression object derives from it; storage never parses.
class TVEXBaseExpression {
 public:
  virtual ~TVEXBaseExpression() = default;

  // The expression's value; it belongs to the expression and stays valid until
  // the next evaluation. nullptr when there is nothing to evaluate. With
  // TrueFalseNullLogic false a null result reads as Boolean False.
  virtual TVEXVariant* GetValue(bool TrueFalseNullLogic) = 0;
  // GetValue(false) read as a Boolean; raises when there is nothing to
  // evaluate.
  virtual bool GetResult() = 0;
  // True when nothing is left to evaluate (every conjunct went to an index
  // condition); such an expression is not evaluated.
  virtual bool IsEmpty() const = 0;
  // Points the expression's column references at a record buffer before an
  // evaluation; with ApplyToParentQueryFields only the references into the
  // parent query.
  virtual void AssignCursorBuffer(const uint8_t* Buffer, bool ApplyToParentQueryFields) = 0;

  // Index-scan conditions derived from the expression's comparisons, for the
  // table search: added to ScanConditions for every index of IndexDefs that
  // can serve one.
  virtual void CreateIndexScanConditions(const TVEXIndexDefs& IndexDefs,
                                         TVEXScanSearchConditionArray& ScanConditions,
                                         int32_t SessionID) = 0;
  // Extends ScanCondition by the next column of a multi-column index; false
  // when no comparison of the expression can.
  virtual bool ExtendMultiFieldIndexCondition(TVEXScanSearchCondition& ScanCondition,
                                              const TVEXIndexDef& IndexDef) = 0;
  // Detaches the nodes behind the chosen scan conditions; the conditions keep
  // them and hand them back through AddNode. Numbers outside 0..255 are not
  // chosen.
  virtual void RemoveExtractedNodes(TVEXScanSearchConditionArray& ScanConditions,
                                    int32_t ScanConditionNo, int32_t ScanEndConditionNo) = 0;
  virtual void AddNode(TVEXExprNode* Node) = 0;
  // Binds the expression's column references to Cursor's fields, with the
  // parent query's operator and cursor for outer references (a cursor's SQL
  // filter). Nothing for an expression without column references.
  virtual void AssignCursor(TVEXCursor* /*Cursor*/, TVEXAO* /*ParentQueryAO*/,
                            TVEXCursor* /*ParentCursor*/) {}
};

// Parses the DEFAULT text of a column for the field definitions.
class TVEXExpressionParser {
 public:
  virtual ~TVEXExpressionParser() = default;
  // True when Value is a DEFAULT text to evaluate per record rather than a
  // constant. Never raises.
  virtual bool IsDefaultValueExpression(const TVEXVariant& Value) = 0;
  // A new expression with Text parsed into it as a DEFAULT value expression;
  // nullptr when the text does not parse. Never raises.
  virtual std::unique_ptr<TVEXBaseExpression> CreateDefaultValueExpression(
      std::u16string_view Text) = 0;
};

TVEXExpressionParser* InstallExpressionParser(TVEXExpressionParser* Parser);
TVEXExpressionParser* ExpressionParser();

// --- Record scan that fills a new index --------------------------------------

// Every record of one table, read through a cursor of the layer above on the
// same table object, in physical order. The B-tree adds the cursor's current
// record to the index it is building at each step.
class TVEXRecordScan {
 public:
  virtual ~TVEXRecordScan() = default;
  // Moves to the next record (the first on the first call); false after the
  // last. Read failures raise.
  virtual bool Next() = 0;
  // The scan's own cursor, standing on the record Next moved to (its current
  // record id and record buffer).
  virtual TVEXCursor& Cursor() = 0;
};

class TVEXRecordScanner {
 public:
  virtual ~TVEXRecordScanner() = default;
  // A new scan over the table of Cursor, in Cursor's session, through a cursor
  // of its own; Cursor itself does not move.
  virtual std::unique_ptr<TVEXRecordScan> OpenRecordScan(TVEXCursor& Cursor) = 0;
};

TVEXRecordScanner* InstallRecordScanner(TVEXRecordScanner* Scanner);
TVEXRecordScanner* RecordScanner();

// --- Engine BLOB stream -----------------------------------------------------

enum TVEXBLOBOpenMode : uint8_t { bomWrite, bomRead, bomReadWrite };

// Makes the engine BLOB stream a table object hands out when a cursor opens a
// BLOB field.
class TVEXBLOBStreamFactory {
 public:
  virtual ~TVEXBLOBStreamFactory() = default;
  // A stream over TemporaryStream (the field's data, a compressed-BLOB stream
  // over an inner stream), which it takes over, for field FieldNo (the table's
  // field number) of Cursor's current record.
  virtual std::unique_ptr<TVEXStream> CreateBLOBStream(std::unique_ptr<TVEXStream> TemporaryStream,
                                                       TVEXCursor& Cursor,
                                                       TVEXBLOBOpenMode OpenMode,
                                                       int32_t FieldNo) = 0;
};

// The stream a factory took over, as a table object reaches it again when the
// cursor writes a BLOB value back. The factory's BLOB streams implement it.
class TVEXBLOBStreamAccess {
 public:
  virtual ~TVEXBLOBStreamAccess() = default;
  virtual TVEXStream& TemporaryStream() = 0;
};

TVEXBLOBStreamFactory* InstallBLOBStreamFactory(TVEXBLOBStreamFactory* Factory);
TVEXBLOBStreamFactory* BLOBStreamFactory();

}  // namespace vex
