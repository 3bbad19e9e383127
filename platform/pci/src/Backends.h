#pragma once
// The facility's table of backends.

#include <span>
#include <string>

#include "Backend.h"

namespace pci::detail {

// The backend that serves this process now, with what it would serve; null when none can.
const BackendEntry* ChooseBackend(std::string& description);

// Every entry, in the order ChooseBackend tries them.
std::span<const BackendEntry> AllBackends();

// The entry of the backend pci::ServingBackend names; null when none can serve.
const BackendEntry* ServingEntry();

}  // namespace pci::detail
