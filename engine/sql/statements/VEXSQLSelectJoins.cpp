// Joined FROM items (interim: the join operator is not there yet).
#include "foundation/VEXExcept.h"
#include "sql/statements/VEXSQLSelect.h"
#include "sql/statements/VEXTableReference.h"

namespace vex {

bool IsOuterJoin(const TVEXAO&) { return false; }

std::unique_ptr<TVEXAO> TVEXSQLSelect::BuildJoinedTableAO(TVEXTableReference&, db::TDataSet*,
                                                          TVEXAO*, TVEXCursor*, bool) {
  throw EVEXException(20270, "ON condition for JOIN is not applicable");
}

std::unique_ptr<TVEXAO> TVEXSQLSelect::BuildFromListAO(std::unique_ptr<TVEXAO>,
                                                       TVEXTableReference&, db::TDataSet*,
                                                       TVEXAO*, TVEXCursor*, bool) {
  throw EVEXException(20270, "ON condition for JOIN is not applicable");
}

}  // namespace vex
