// Which backend serves the process: the first entry of this table that can. SORREL_SIM
// asks for the simulated bus; otherwise real cards bound to vfio-pci serve when there are
// any, and the simulated bus (one Kite card) when there are none. A test's stand-in kernel
// serves the bus SORREL_SIM describes through the VFIO backend.

#include "Backends.h"

#include <cstdlib>

#include "SimBackend.h"
#include "VfioBackend.h"

namespace pci::detail {
namespace {

bool DescribeRealCards(std::string& description) {
  return (vfio::StandInInstalled() || std::getenv(sim::BUS_VARIABLE) == nullptr) && vfio::DescribeBus(description);
}

const BackendEntry BACKENDS[] = {
    {"vfio", DescribeRealCards, vfio::MakeBus},
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
