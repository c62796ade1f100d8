// A stand-in for the SQL layer's expression object behind the storage seams,
// for the tests of column defaults.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "foundation/VEXVariant.h"
#include "storage/VEXSeams.h"

namespace vex::testing {

// An expression that gives Value; every other operation of the expression
// object does nothing.
class FakeExpression : public TVEXBaseExpression {
 public:
  explicit FakeExpression(std::u16string text) : Text(std::move(text)) {}
  TVEXVariant* GetValue(bool) override { return &Value; }
  bool GetResult() override { return false; }
  bool IsEmpty() const override { return false; }
  void AssignCursorBuffer(const uint8_t*, bool) override {}
  void CreateIndexScanConditions(const TVEXIndexDefs&, TVEXScanSearchConditionArray&,
                                 int32_t) override {}
  bool ExtendMultiFieldIndexCondition(TVEXScanSearchCondition&, const TVEXIndexDef&) override {
    return false;
  }
  void RemoveExtractedNodes(TVEXScanSearchConditionArray&, int32_t, int32_t) override {}
  void AddNode(TVEXExprNode*) override {}
  std::u16string Text;
  TVEXVariant Value;
};

// Installs a parser for its lifetime and puts the previous one back.
class InstalledParser {
 public:
  explicit InstalledParser(TVEXExpressionParser* parser)
      : FPrevious(InstallExpressionParser(parser)) {}
  ~InstalledParser() { InstallExpressionParser(FPrevious); }
  InstalledParser(const InstalledParser&) = delete;
  InstalledParser& operator=(const InstalledParser&) = delete;

 private:
  TVEXExpressionParser* FPrevious;
};

}  // namespace vex::testing
