#pragma once
// The facility's table of backends.

#include <string>

#include "Backend.h"

namespace pci::detail {

// The backend that serves this process now, with what it would serve; null when none can.
const BackendEntry* ChooseBackend(std::string& description);

}  // namespace pci::detail
