// Which backend serves the process: the first entry of this table that can. SORREL_SIM
// asks for the simulated bus; otherwise real cards bound to vfio-pci serve when there are
// any, and the simulated bus (one Kite card) when there are none. A test's stand-in kernel
// serves the bus SORREL_SIM describes through the VFIO backend. Only this table names the
// backends: the facility and the card listing reach them through its entries.

#include "Backends.h"

#include <cstdlib>

#include "SimBackend.h"
#include "VfioBackend.h"

namespace pci::detail {
namespace {

bool DescribeRealCards(std::string& description) {
  return (vfio::StandInInstalled() || std::getenv(sim::BUS_VARIABLE) == nullptr) && vfio::DescribeBus(description);
}

// The simulated bus serves when real cards do not: the listing says what turned them away.
std::string WhySimulated() {
  return std::getenv(sim::BUS_VARIABLE) != nullptr ? " (SORREL_SIM is set)" : " (no card is bound to vfio-pci)";
}

const BackendEntry BACKENDS[] = {
    {"vfio", DescribeRealCards, vfio::MakeBus, nullptr, vfio::ListBus, vfio::ListCards},
    {"simulated", sim::DescribeBus, sim::MakeBus, WhySimulated, nullptr, nullptr},
};

}  // namespace

std::span<const BackendEntry> AllBackends() { return BACKENDS; }

const BackendEntry* ChooseBackend(std::string& description) {
  for (const BackendEntry& entry : BACKENDS) {
    if (entry.describe(description)) return &entry;
  }
  return nullptr;
}

}  // namespace pci::detail
