#include "storage/VEXSeams.h"

#include <atomic>

namespace vex {

namespace {

// Plain atomics rather than objects: a seam holds no state of its own, so
// nothing here needs creating or freeing; the start-up installs and removes.
std::atomic<TVEXExpressionParser*> gExpressionParser{nullptr};
std::atomic<TVEXRecordScanner*> gRecordScanner{nullptr};
std::atomic<TVEXBLOBStreamFactory*> gBLOBStreamFactory{nullptr};

}  // namespace

TVEXExpressionParser* InstallExpressionParser(TVEXExpressionParser* Parser) {
  return gExpressionParser.exchange(Parser);
}
TVEXExpressionParser* ExpressionParser() { return gExpressionParser.load(); }

TVEXRecordScanner* InstallRecordScanner(TVEXRecordScanner* Scanner) {
  return gRecordScanner.exchange(Scanner);
}
TVEXRecordScanner* RecordScanner() { return gRecordScanner.load(); }

TVEXBLOBStreamFactory* InstallBLOBStreamFactory(TVEXBLOBStreamFactory* Factory) {
  return gBLOBStreamFactory.exchange(Factory);
}
TVEXBLOBStreamFactory* BLOBStreamFactory() { return gBLOBStreamFactory.load(); }

}  // namespace vex
