#include <cstdio>

#include "Commands.h"
#include "pci/CardList.h"

namespace sorrelctl {

int CardsCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  std::fputs(pci::CardListText().c_str(), stdout);
  return 0;
}

}  // namespace sorrelctl
