#include "SimBackend.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace sim {

CSimBackend::CSimBackend(const std::vector<CardSpec>& cards) {
  for (size_t i = 0; i < cards.size(); ++i) {
    // With several cards each traces into a folder of its own.
    std::string subfolder = cards.size() > 1 ? "slot-" + std::to_string(i) : std::string();
    m_Cards.push_back(std::make_unique<CSimCard>(cards[i], i, std::move(subfolder)));
  }
}

CSimCard* CSimBackend::CardAt(const pci::Location& location) {
  pci::detail::CardIndex card = 0;
  return FindCard(location, card) ? m_Cards[card].get() : nullptr;
}

std::vector<pci::Location> CSimBackend::Scan(uint32_t vendorId, uint32_t deviceId) {
  std::vector<pci::Location> found;
  if (vendorId == PLX_VENDOR_ID && deviceId == PLX_DEVICE_ID) {
    for (const auto& card : m_Cards) {
      found.push_back(card->Where());
    }
  }
  return found;
}

bool CSimBackend::FindCard(const pci::Location& location, pci::detail::CardIndex& card) {
  for (size_t i = 0; i < m_Cards.size(); ++i) {
    const pci::Location at = m_Cards[i]->Where();
    if (at.Bus == location.Bus && at.Slot == location.Slot && at.Function == location.Function) {
      card = i;
      return true;
    }
  }
  return false;
}

void CSimBackend::Resources(pci::detail::CardIndex card, pci::CardResources& resources) {
  m_Cards[card]->Resources(resources);
}

std::string CSimBackend::ClaimName(pci::detail::CardIndex card) {
  // Two processes given the same bus contend for the same cards; other buses do not.
  const CSimCard& c = *m_Cards[card];
  char name[64];
  std::snprintf(name, sizeof name, "sim-%02x-%02x-%s-%02x.lock", c.Where().Bus, c.Where().Slot,
                ModelName(c.Spec().model), c.Spec().id);
  return name;
}

bool CSimBackend::BarOf(pci::detail::CardIndex card, const pci::ResourceItem& item, uint32_t& bar) {
  return m_Cards[card]->BarOf(item, bar);
}

// A simulated space is an inaccessible reservation: its addresses are unique in the process,
// the facility routes accesses to the card model, and a stray direct access faults at once.
uintptr_t CSimBackend::Map(pci::detail::CardIndex, uint32_t, uint32_t size) {
  void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return p == MAP_FAILED ? 0 : reinterpret_cast<uintptr_t>(p);
}

void CSimBackend::Unmap(uintptr_t address, uint32_t size) { munmap(reinterpret_cast<void*>(address), size); }

uint32_t CSimBackend::ConfigRead32(pci::detail::CardIndex card, uint32_t offset) {
  return m_Cards[card]->ConfigRead(offset);
}

void CSimBackend::ConfigWrite32(pci::detail::CardIndex card, uint32_t offset, uint32_t value) {
  m_Cards[card]->ConfigWrite(offset, value);
}

uint32_t CSimBackend::Read32(pci::detail::CardIndex card, uint32_t bar, uint32_t offset) {
  return m_Cards[card]->Read32(bar, offset);
}

void CSimBackend::Write32(pci::detail::CardIndex card, uint32_t bar, uint32_t offset, uint32_t value) {
  m_Cards[card]->Write32(bar, offset, value);
}

void CSimBackend::WriteBlock(pci::detail::CardIndex card, uint32_t bar, uint32_t offset, const void* source,
                             uint32_t bytes) {
  m_Cards[card]->WriteBlock(bar, offset, source, bytes);
}

bool CSimBackend::WaitInterrupt(pci::detail::CardIndex card, std::stop_token stop) {
  return m_Cards[card]->WaitInterrupt(std::move(stop));
}

bool CSimBackend::ReadDisplay(pci::detail::CardIndex card, pci::DisplayInfo& info, uint8_t* pixels,
                              size_t capacity) {
  return m_Cards[card]->ReadDisplay(info, pixels, capacity);
}

}  // namespace sim

namespace pci::detail {

std::string BackendDescription() {
  const char* value = std::getenv(sim::BUS_VARIABLE);
  return value != nullptr ? value : sim::DEFAULT_BUS;
}

std::shared_ptr<IBackend> MakeBackend(const std::string& description, std::string& error) {
  std::vector<sim::CardSpec> cards;
  if (!sim::ParseBus(description, cards, error)) {
    return nullptr;
  }
  return std::make_shared<sim::CSimBackend>(cards);
}

}  // namespace pci::detail
