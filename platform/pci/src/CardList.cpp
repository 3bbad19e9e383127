#include "pci/CardList.h"

#include "Backends.h"

namespace pci {

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

}  // namespace pci
