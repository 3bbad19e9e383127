#include "OrvFactory.h"

#include <memory>

#include "KiteBoard.h"
#include "WrenBoard.h"

COrvFactory::COrvFactory() = default;
COrvFactory::~COrvFactory() = default;

COrvBoard* COrvFactory::BuildBoard(uint16_t modulatorType, uint16_t trueFrames) {
  bool claimed = false;
  // A model that declines has already closed every card it opened, so its object holds
  // nothing and is released at once.
  {
    auto kite = std::make_unique<CKiteBoard>(modulatorType, trueFrames, &claimed);
    if (claimed) return kite.release();
  }
  {
    auto wren = std::make_unique<CWrenBoard>(modulatorType, trueFrames, &claimed);
    if (claimed) return wren.release();
  }
  return new COrvBoard;
}
