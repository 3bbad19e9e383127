#pragma once
// The program's card diagnostic: what the host's PCI bus holds for the bridge's ids, which
// backend serves, and what stands in the way of each card. Opens no card.

#include <string>

#include "pci/Facility.h"

namespace pci {

// The listing as the program prints it.
PCI_API std::string CardListText();

// When the command line asks for it (--list-cards), prints the listing on standard output
// and returns true: the program then ends without opening a window.
PCI_API bool ListCardsIfAsked(int argc, char** argv);

}  // namespace pci
