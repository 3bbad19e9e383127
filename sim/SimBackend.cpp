#include "SimBackend.h"

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

uint32_t CSimBackend::ConfigRead32(pci::detail::CardIndex card, uint32_t offset) {
  return m_Cards[card]->ConfigRead(offset);
}

void CSimBackend::ConfigWrite32(pci::detail::CardIndex card, uint32_t offset, uint32_t value) {
  m_Cards[card]->ConfigWrite(offset, value);
}

pci::detail::ICard* CSimBackend::Attach(pci::detail::CardIndex card) {
  return m_Cards[card]->Attach() ? m_Cards[card].get() : nullptr;
}

bool DescribeBus(std::string& description) {
  const char* value = std::getenv(BUS_VARIABLE);
  description = value != nullptr ? value : DEFAULT_BUS;
  return true;
}

std::shared_ptr<pci::detail::IBackend> MakeBus(const std::string& description, std::string& error) {
  std::vector<CardSpec> cards;
  if (!ParseBus(description, cards, error)) {
    return nullptr;
  }
  return std::make_shared<CSimBackend>(cards);
}

}  // namespace sim
