#include "pci/CardList.h"

#include <cstdio>
#include <cstring>

#include "Backends.h"

namespace pci {
namespace {

constexpr const char* OPTION = "--list-cards";

}  // namespace

std::string CardListText() {
  const detail::BackendEntry* serving = detail::ServingEntry();
  std::string text = std::string("Backend serving this process: ") + (serving != nullptr ? serving->name : "none");
  if (serving != nullptr && serving->reason != nullptr) {
    text += serving->reason();
  }
  text += "\n";
  for (const detail::BackendEntry& entry : detail::AllBackends()) {
    if (entry.list != nullptr) {
      text += entry.list();
    }
  }
  return text;
}

bool ListCardsIfAsked(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], OPTION) == 0) {
      std::fputs(CardListText().c_str(), stdout);
      return true;
    }
  }
  return false;
}

}  // namespace pci
