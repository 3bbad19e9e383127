#include "VfioBackend.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "LinuxKernel.h"

namespace vfio {
namespace {

constexpr const char* STAND_IN_PREFIX = "stand-in ";

std::atomic<const StandInEntry*> g_StandIn{nullptr};

// Says a line on stderr unless it is the one said last: the bus is described at every
// open, the situation rarely changes.
void NoteOnce(const std::string& line) {
  static std::mutex mutex;
  static std::string last;
  std::lock_guard lock(mutex);
  if (line != last) {
    last = line;
    if (!line.empty()) {
      std::fprintf(stderr, "%s\n", line.c_str());
    }
  }
}

std::string NoteFor(const Survey& survey, const std::vector<SurveyedCard>& served) {
  std::vector<SurveyedCard> others;
  for (const SurveyedCard& card : survey.cards) {
    if (!card.describable || !card.Bound()) {
      others.push_back(card);
    }
  }
  if (served.empty()) {
    return std::string("pci: no card is bound to vfio-pci") + (others.empty() ? "" : " (found " + NameOthers(others) + ")") +
           ", so the simulated Kite board serves; to drive a real card, bind it to vfio-pci as " + Guide() + " shows";
  }
  if (!others.empty()) {
    return "pci: left out, not usable through vfio-pci: " + NameOthers(others) + "; see " + Guide();
  }
  return {};
}

std::string CardLines(const pci::BusCard& card) {
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
            (card.IrqSharedWith.empty() ? std::string("not shared") : "shared with " + Joined(card.IrqSharedWith));
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

CVfioBackend::CVfioBackend(std::shared_ptr<IKernel> kernel, const Roots& roots, const std::vector<SurveyedCard>& cards,
                           std::shared_ptr<pci::detail::IBackend> hardware)
    : m_Kernel(std::move(kernel)), m_Groups(*m_Kernel, roots), m_Hardware(std::move(hardware)) {
  for (const SurveyedCard& card : cards) {
    m_Cards.push_back(std::make_unique<CVfioCard>(*m_Kernel, m_Groups, roots, card));
  }
}

std::vector<pci::Location> CVfioBackend::Scan(uint32_t vendorId, uint32_t deviceId) {
  std::vector<pci::Location> found;
  for (const auto& card : m_Cards) {
    const pci::BusCard& listing = card->Surveyed().listing;
    if (listing.VendorId == vendorId && listing.DeviceId == deviceId) {
      found.push_back(card->Surveyed().location);
    }
  }
  return found;
}

bool CVfioBackend::FindCard(const pci::Location& location, pci::detail::CardIndex& card) {
  for (size_t i = 0; i < m_Cards.size(); ++i) {
    const pci::Location& at = m_Cards[i]->Surveyed().location;
    if (at.Bus == location.Bus && at.Slot == location.Slot && at.Function == location.Function) {
      card = i;
      return true;
    }
  }
  return false;
}

// The BARs in order, then the interrupt line when the card has one, as the bridge layer
// expects of a PLX 9050.
void CVfioBackend::Resources(pci::detail::CardIndex card, pci::CardResources& resources) {
  const SurveyedCard& surveyed = m_Cards[card]->Surveyed();
  resources = {};
  uint32_t n = 0;
  for (const Bar& bar : surveyed.bars) {
    if (bar.size == 0) {
      continue;
    }
    pci::ResourceItem& item = resources.Items[n++];
    if (bar.memory) {
      item.Type = pci::ITEM_MEMORY;
      item.Memory.PhysicalAddress = static_cast<uint32_t>(bar.start);
      item.Memory.Size = static_cast<uint32_t>(bar.size);
    } else {
      item.Type = pci::ITEM_IO;
      item.Io.Port = static_cast<uint32_t>(bar.start);
      item.Io.Size = static_cast<uint32_t>(bar.size);
    }
  }
  if (surveyed.listing.Irq != 0) {
    pci::ResourceItem& irq = resources.Items[n++];
    irq.Type = pci::ITEM_INTERRUPT;
    irq.Exclusive = 1;
    irq.Interrupt.Line = surveyed.listing.Irq;
  }
  resources.ItemCount = n;
}

bool CVfioBackend::BarOf(pci::detail::CardIndex card, const pci::ResourceItem& item, uint32_t& bar) {
  const SurveyedCard& surveyed = m_Cards[card]->Surveyed();
  for (uint32_t j = 0; j < BAR_COUNT; ++j) {
    const Bar& b = surveyed.bars[j];
    const bool match = b.size != 0 && (b.memory ? item.Type == pci::ITEM_MEMORY && item.Memory.PhysicalAddress == b.start &&
                                                      item.Memory.Size == b.size
                                                : item.Type == pci::ITEM_IO && item.Io.Port == b.start &&
                                                      item.Io.Size == b.size);
    if (match) {
      bar = j;
      return true;
    }
  }
  return false;
}

std::string CVfioBackend::ClaimName(pci::detail::CardIndex card) {
  return "vfio-" + m_Cards[card]->Address() + ".lock";
}

uint32_t CVfioBackend::ConfigRead32(pci::detail::CardIndex card, uint32_t offset) {
  return m_Cards[card]->ConfigRead32(offset);
}

void CVfioBackend::ConfigWrite32(pci::detail::CardIndex card, uint32_t offset, uint32_t value) {
  m_Cards[card]->ConfigWrite32(offset, value);
}

pci::detail::ICard* CVfioBackend::Attach(pci::detail::CardIndex card) {
  return m_Cards[card]->Attach() ? m_Cards[card].get() : nullptr;
}

void InstallStandIn(const StandInEntry* entry) { g_StandIn = entry; }

bool StandInInstalled() { return g_StandIn.load() != nullptr; }

bool DescribeBus(std::string& description) {
  if (const StandInEntry* standIn = g_StandIn.load()) {
    std::string described;
    if (!standIn->describe(described)) {
      return false;
    }
    description = STAND_IN_PREFIX + described;
    return true;
  }
  const Roots roots = RootsFromEnvironment();
  CLinuxKernel kernel;
  const Survey survey = SurveyBus(kernel, roots);
  const std::vector<SurveyedCard> served = ServedCards(survey);
  NoteOnce(NoteFor(survey, served));
  if (served.empty()) {
    return false;
  }
  description = roots.sysfs + " " + roots.vfio;
  for (const SurveyedCard& card : served) {
    description += " " + card.listing.Address;
  }
  return true;
}

std::shared_ptr<pci::detail::IBackend> MakeBus(const std::string& description, std::string& error) {
  StandIn standIn;
  const StandInEntry* entry = g_StandIn.load();
  if (entry != nullptr && description.starts_with(STAND_IN_PREFIX)) {
    if (!entry->make(description.substr(std::char_traits<char>::length(STAND_IN_PREFIX)), standIn, error)) {
      return nullptr;
    }
  } else {
    standIn.kernel = std::make_shared<CLinuxKernel>();
  }
  const Roots roots = RootsFromEnvironment();
  const Survey survey = SurveyBus(*standIn.kernel, roots);
  return std::make_shared<CVfioBackend>(standIn.kernel, roots, ServedCards(survey), standIn.hardware);
}

pci::BusListing ListBus() {
  pci::BusListing listing;
  StandIn standIn;
  std::string description;
  std::string error;
  if (const StandInEntry* entry = g_StandIn.load()) {
    if (!entry->describe(description) || !entry->make(description, standIn, error)) {
      listing.Skipped.push_back("the stand-in kernel cannot serve: " + error);
      return listing;
    }
  } else {
    standIn.kernel = std::make_shared<CLinuxKernel>();
  }
  const Survey survey = SurveyBus(*standIn.kernel, RootsFromEnvironment());
  listing.Folder = survey.devices;
  listing.Skipped = survey.skipped;
  for (const SurveyedCard& card : survey.cards) {
    listing.Cards.push_back(card.listing);
  }
  return listing;
}

std::string ListCards() {
  const pci::BusListing listing = ListBus();
  std::string text = "Cards with the bridge's ids (10b5:9050) in " + listing.Folder + ": " +
                     std::to_string(listing.Cards.size()) + "\n";
  for (const pci::BusCard& card : listing.Cards) {
    text += CardLines(card);
  }
  if (!listing.Skipped.empty()) {
    text += "Skipped, their files missing or malformed:\n";
    for (const std::string& skipped : listing.Skipped) {
      text += "  " + skipped + "\n";
    }
  }
  return text + "Setting a card up: " + Guide() + "\n";
}

}  // namespace vfio
