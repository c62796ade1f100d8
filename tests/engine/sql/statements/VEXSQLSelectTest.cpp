// SELECT statements run through the query component over a small database:
// select lists, WHERE, ORDER BY, DISTINCT and TOP, grouping, derived tables,
// INTO, the read-only flag and the table locks.
#include <gtest/gtest.h>

#include <string>

#include "engine/sql/statements/SelectFixture.h"
#include "foundation/VEXExcept.h"
#include "support/NativeError.h"

namespace {

using namespace vex;
using testsupport::CodeOf;
using vextest::Rows;

class Select : public vextest::SelectFixture {};

TEST_F(Select, WholeTableInPhysicalOrder) {
  EXPECT_EQ(Run("SELECT * FROM Room"), (Rows{"3|c|1", "1|a|2", "2|b|1", "4|B|-"}));
}

}  // namespace
