#include <cstdio>

#include "Commands.h"
#include "Terminal.h"
#include "pci/CardList.h"

namespace sorrelctl {

int CardsCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  Result("%s", pci::CardListText().c_str());
  return 0;
}

}  // namespace sorrelctl
