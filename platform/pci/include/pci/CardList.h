#pragma once
// The program's card diagnostic: what the host's PCI bus holds for the bridge's ids, which
// backend serves, and what stands in the way of each card. Opens no card.

#include <string>

#include "pci/Facility.h"

namespace pci {

// The listing as the program prints it (Sorrel --list-cards, sorrelctl cards).
PCI_API std::string CardListText();

}  // namespace pci
