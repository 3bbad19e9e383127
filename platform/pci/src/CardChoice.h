#pragma once
// The card this process chose to open, applied to what a backend's scan found.

#include <vector>

#include "pci/Facility.h"

namespace pci::detail {

// found without the cards the process's choice leaves out.
std::vector<Location> KeepChosen(std::vector<Location> found);

}  // namespace pci::detail
