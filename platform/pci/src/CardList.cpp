#include "pci/CardList.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "SimBus.h"
#include "Survey.h"

namespace pci {
namespace {

constexpr const char* OPTION = "--list-cards";

std::string Why(const std::string& backend) {
  if (backend != "simulated") {
    return "";
  }
  return std::getenv(sim::BUS_VARIABLE) != nullptr ? " (SORREL_SIM is set)" : " (no card is bound to vfio-pci)";
}

std::string CardLines(const BusCard& card) {
  char ids[64];
  std::snprintf(ids, sizeof ids, "  ids %04x:%04x  subsystem %04x:%04x", card.VendorId, card.DeviceId,
                card.SubsystemVendorId, card.SubsystemId);
  std::string text = "  " + card.Address + ids;
  text += "  driver " + (card.Driver.empty() ? std::string("(none)") : card.Driver);
  text += "  IOMMU group " + (card.IommuGroup.empty() ? std::string("(none)") : card.IommuGroup);
  if (card.Irq == 0) {
    text += "  no irq";
  } else {
    text += "  irq " + std::to_string(card.Irq) + ", " +
            (card.IrqSharedWith.empty() ? std::string("not shared") : "shared with " + vfio::Joined(card.IrqSharedWith));
  }
  text += "\n";
  if (card.Usable()) {
    return text + "    usable\n";
  }
  for (const std::string& problem : card.Problems) {
    text += "    - " + problem + "\n";
  }
  return text;
}

}  // namespace

std::string CardListText() {
  const std::string backend = ServingBackend();
  const BusListing listing = ListBus();
  std::string text = "Backend serving this process: " + backend + Why(backend) + "\n";
  text += "Cards with the bridge's ids (10b5:9050) in " + listing.Folder + ": " + std::to_string(listing.Cards.size()) +
          "\n";
  for (const BusCard& card : listing.Cards) {
    text += CardLines(card);
  }
  if (!listing.Skipped.empty()) {
    text += "Skipped, their files missing or malformed:\n";
    for (const std::string& skipped : listing.Skipped) {
      text += "  " + skipped + "\n";
    }
  }
  return text + "Setting a card up: " + vfio::Guide() + "\n";
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
