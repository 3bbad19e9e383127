#pragma once
// The facility's backend for the simulated bus: the cards SORREL_SIM describes.

#include <memory>
#include <string>
#include <vector>

#include "Backend.h"
#include "SimCard.h"

namespace sim {

class CSimBackend final : public pci::detail::IBackend {
 public:
  explicit CSimBackend(const std::vector<CardSpec>& cards);

  CSimCard* CardAt(const pci::Location& location);

  size_t CardCount() override { return m_Cards.size(); }
  std::vector<pci::Location> Scan(uint32_t vendorId, uint32_t deviceId) override;
  bool FindCard(const pci::Location& location, pci::detail::CardIndex& card) override;
  pci::Location LocationOf(pci::detail::CardIndex card) override { return m_Cards[card]->Where(); }
  void Resources(pci::detail::CardIndex card, pci::CardResources& resources) override;
  bool BarOf(pci::detail::CardIndex card, const pci::ResourceItem& item, uint32_t& bar) override;
  std::string ClaimName(pci::detail::CardIndex card) override;
  uint32_t ConfigRead32(pci::detail::CardIndex card, uint32_t offset) override;
  void ConfigWrite32(pci::detail::CardIndex card, uint32_t offset, uint32_t value) override;
  pci::detail::ICard* Attach(pci::detail::CardIndex card) override;
  void Detach(pci::detail::CardIndex card) override { m_Cards[card]->Detach(); }

 private:
  std::vector<std::unique_ptr<CSimCard>> m_Cards;
};

// The facility's table entry: the simulated bus always serves, as SORREL_SIM describes it
// (one Kite card when it is unset).
bool DescribeBus(std::string& description);
std::shared_ptr<pci::detail::IBackend> MakeBus(const std::string& description, std::string& error);

}  // namespace sim
