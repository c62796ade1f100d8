#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "foundation/VEXConverts.h"
#include "foundation/VEXOperationTypes.h"

namespace vex {
namespace {

// The promotion table by type numbers: row = left type, column = right type;
// "a/b" gives a for arithmetic and b for comparison; "-" is incompatible. Every
// pair with a type that has no row or column (0, 18, 23, 24, 25) is incompatible.
constexpr const char* kPromotionTable = R"(
| left \ right | 1 | 2 | 3 | 4 | 5 | 6 | 7 | 8 | 9 | 10 | 11 | 12 | 13 | 14 | 15 | 16 | 17 | 19 | 20 | 21 | 22 |
| 1 | 1 | 2 | 3 | 4 | 1 | 1 | 1 | 1 | 1 | 1 | 1 | 1 | 1 | 1 | 1/15 | 1/16 | 1/17 | 1 | 2 | 1 | 1 |
| 2 | 2 | 2 | 2 | 4 | 2 | 2 | 2 | 2 | 2 | 2 | 2 | 2 | 2 | 2 | 2/15 | 2/16 | 2/17 | 2 | 2 | 2 | 2 |
| 3 | 3 | 2 | 3 | 4 | 3 | 3 | 3 | 3 | 3 | 3 | 3 | 3 | 3 | 3 | 3/15 | 3/16 | 3/17 | 3 | 4 | 3 | 3 |
| 4 | 4 | 4 | 4 | 4 | 4 | 4 | 4 | 4 | 4 | 4 | 4 | 4 | 4 | 4 | 4/15 | 4/16 | 4/17 | 4 | 4 | 4 | 4 |
| 5 | 1 | 2 | 3 | 4 | 5 | 6 | 7 | 8 | 6 | 10 | 11 | 12 | 13 | 14 | 15 | 16 | 17 | - | - | 5 | 22 |
| 6 | 1 | 2 | 3 | 4 | 6 | 6 | 7 | 8 | 6 | 10 | 11 | 12 | 13 | 14 | 15 | 16 | 17 | - | - | 6 | 22 |
| 7 | 1 | 2 | 3 | 4 | 7 | 7 | 7 | 8 | 7 | 7 | 8 | 12 | 13 | 14 | 15 | 16 | 17 | - | - | 7 | 22 |
| 8 | 1 | 2 | 3 | 4 | 8 | 8 | 8 | 8 | 8 | 8 | 8 | 12 | 13 | 14 | 15 | 16 | 17 | - | - | 8 | 22 |
| 9 | 1 | 2 | 3 | 4 | 6 | 6 | 7 | 8 | 9 | 10 | 11 | 12 | 13 | 14 | 15 | 16 | 17 | - | - | 9 | 22 |
| 10 | 1 | 2 | 3 | 4 | 7 | 7 | 7 | 8 | 10 | 10 | 11 | 12 | 13 | 14 | 15 | 16 | 17 | - | - | 10 | 22 |
| 11 | 1 | 2 | 3 | 4 | 8 | 8 | 8 | 8 | 11 | 11 | 11 | 12 | 13 | 14 | 15 | 16 | 17 | - | - | 11 | 22 |
| 12 | 1 | 2 | 3 | 4 | 12 | 12 | 12 | 12 | 12 | 12 | 12 | 12 | 13 | 14 | 15 | 16 | 17 | - | - | 12 | 22 |
| 13 | 1 | 2 | 3 | 4 | 13 | 13 | 13 | 13 | 13 | 13 | 13 | 13 | 13 | 14 | 15 | 16 | 17 | - | - | 13 | 22 |
| 14 | 1 | 2 | 3 | 4 | 14 | 14 | 14 | 14 | 14 | 14 | 14 | 14 | 14 | 14 | 15 | 16 | 17 | - | - | 14 | 22 |
| 15 | 1/15 | 2/15 | 3/15 | 4/15 | 15 | 15 | 15 | 15 | 15 | 15 | 15 | 15 | 15 | 15 | 15 | 17 | 17 | - | - | - | - |
| 16 | 1/16 | 2/16 | 3/16 | 4/16 | 16 | 16 | 16 | 16 | 16 | 16 | 16 | 16 | 16 | 16 | 17 | 16 | 17 | - | - | - | - |
| 17 | 1/17 | 2/17 | 3/17 | 4/17 | 17 | 17 | 17 | 17 | 17 | 17 | 17 | 17 | 17 | 17 | 17 | 17 | 17 | - | - | - | - |
| 19 | 1 | 2 | 3 | 4 | - | - | - | - | - | - | - | - | - | - | - | - | - | 1 | 2 | - | - |
| 20 | 2 | 2 | 4 | 4 | - | - | - | - | - | - | - | - | - | - | - | - | - | 2 | 2 | - | - |
| 21 | 1 | 2 | 3 | 4 | 5 | 6 | 7 | 8 | 9 | 10 | 11 | 12 | 13 | 14 | - | - | - | - | - | 21 | - |
| 22 | 1 | 2 | 3 | 4 | 22 | 22 | 22 | 22 | 22 | 22 | 22 | 12 | 13 | 14 | - | - | - | - | - | - | 22 |
)";

struct Cell {
  int arithmetic = 0;
  int comparison = 0;
};

// Parses the table into a 26 x 26 grid of cells, all incompatible by default.
std::vector<std::vector<Cell>> ParseTable() {
  std::vector<std::vector<Cell>> grid(kBaseFieldTypeCount, std::vector<Cell>(kBaseFieldTypeCount));
  std::istringstream lines(kPromotionTable);
  std::string line;
  std::vector<int> columns;
  auto split = [](const std::string& row) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream in(row.substr(1));
    while (std::getline(in, cell, '|')) {
      cell.erase(0, cell.find_first_not_of(' '));
      cell.erase(cell.find_last_not_of(' ') + 1);
      cells.push_back(cell);
    }
    return cells;
  };
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    const std::vector<std::string> cells = split(line);
    if (cells[0] == "left \\ right") {
      for (size_t i = 1; i < cells.size(); ++i) columns.push_back(std::stoi(cells[i]));
      continue;
    }
    const int row = std::stoi(cells[0]);
    EXPECT_EQ(cells.size(), columns.size() + 1) << "row " << row;
    for (size_t i = 1; i < cells.size() && i <= columns.size(); ++i) {
      Cell& cell = grid[row][columns[i - 1]];
      const std::string& text = cells[i];
      if (text == "-") continue;
      const size_t slash = text.find('/');
      cell.arithmetic = std::stoi(text.substr(0, slash));
      cell.comparison =
          slash == std::string::npos ? cell.arithmetic : std::stoi(text.substr(slash + 1));
    }
  }
  EXPECT_EQ(columns.size(), 21u);
  return grid;
}

TEST(GetOperationResultType, FollowsThePromotionTableForEveryOrderedPair) {
  const auto grid = ParseTable();
  for (int left = 0; left < kBaseFieldTypeCount; ++left) {
    for (int right = 0; right < kBaseFieldTypeCount; ++right) {
      const auto l = static_cast<TVEXBaseFieldType>(left);
      const auto r = static_cast<TVEXBaseFieldType>(right);
      EXPECT_EQ(GetOperationResultType(l, r, false), grid[left][right].arithmetic)
          << left << " op " << right;
      EXPECT_EQ(GetOperationResultType(l, r, true), grid[left][right].comparison)
          << left << " compared with " << right;
    }
  }
}

TEST(GetOperationResultType, IsAsymmetricWhereTheTableIs) {
  struct Pair {
    TVEXBaseFieldType left, right, leftFirst, rightFirst;
  };
  const Pair pairs[] = {
      {bftSingle, bftCurrency, bftCurrency, bftSingle},
      {bftDouble, bftCurrency, bftCurrency, bftDouble},
      {bftSignedInt16, bftUnsignedInt16, bftUnsignedInt16, bftSignedInt32},
      {bftSignedInt8, bftUnsignedInt16, bftUnsignedInt16, bftSignedInt32},
  };
  for (const Pair& p : pairs) {
    EXPECT_EQ(GetOperationResultType(p.left, p.right, false), p.leftFirst)
        << int(p.left) << "," << int(p.right);
    EXPECT_EQ(GetOperationResultType(p.right, p.left, false), p.rightFirst)
        << int(p.right) << "," << int(p.left);
  }
}

TEST(GetAdvancedOperationResultType, PrefersTheLeftThenTheRightTypeThenTheFirstOfThePromotedType) {
  struct Case {
    TVEXAdvancedFieldType left, right;
    bool forComparison;
    TVEXAdvancedFieldType expected;
  };
  const Case cases[] = {
      // The left type survives when its storage type is the promoted one...
      {aftAutoInc, aftInteger, false, aftAutoInc},
      {aftInteger, aftAutoInc, false, aftInteger},
      {aftGuid, aftInteger, false, aftGuid},
      {aftTimeStamp, aftDate, false, aftTimeStamp},
      // ...else the right one...
      {aftSingle, aftCurrency, false, aftCurrency},
      {aftCurrency, aftSingle, false, aftSingle},
      {aftString, aftDate, true, aftDate},
      {aftString, aftDate, false, aftString},
      {aftShortint, aftAutoIncLargeint, false, aftAutoIncLargeint},
      // ...else the first advanced type of the promoted storage type.
      {aftShortint, aftByte, false, aftSmallint},
      {aftDate, aftTime, false, aftDateTime},
      {aftMemo, aftWideMemo, false, aftWideChar},
      {aftInteger, aftCardinal, false, aftLargeint},
      // Incompatible pairs.
      {aftBlob, aftInteger, false, aftUnknown},
      {aftBytes, aftBytes, false, aftUnknown},
      {aftBoolean, aftDate, true, aftUnknown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetAdvancedOperationResultType(c.left, c.right, c.forComparison), c.expected)
        << AdvancedFieldTypeToSQLName(c.left) << " with " << AdvancedFieldTypeToSQLName(c.right)
        << (c.forComparison ? " (comparison)" : "");
  }
}

}  // namespace
}  // namespace vex
