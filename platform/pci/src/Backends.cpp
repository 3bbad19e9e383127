// Which backend serves the process: the first entry of this table that can.

#include "Backends.h"

#include "SimBackend.h"

namespace pci::detail {
namespace {

const BackendEntry BACKENDS[] = {
    {"simulated", sim::DescribeBus, sim::MakeBus},
};

}  // namespace

const BackendEntry* ChooseBackend(std::string& description) {
  for (const BackendEntry& entry : BACKENDS) {
    if (entry.describe(description)) return &entry;
  }
  return nullptr;
}

}  // namespace pci::detail
