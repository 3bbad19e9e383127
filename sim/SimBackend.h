#pragma once
// The facility's backend for the simulated bus: the cards SORREL_SIM describes.

#include <memory>
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
  std::string ClaimName(pci::detail::CardIndex card) override;
  bool Attach(pci::detail::CardIndex card) override { return m_Cards[card]->Attach(); }
  void Detach(pci::detail::CardIndex card) override { m_Cards[card]->Detach(); }
  bool BarOf(pci::detail::CardIndex card, const pci::ResourceItem& item, uint32_t& bar) override;
  uintptr_t Map(pci::detail::CardIndex card, uint32_t bar, uint32_t size) override;
  void Unmap(uintptr_t address, uint32_t size) override;
  uint32_t ConfigRead32(pci::detail::CardIndex card, uint32_t offset) override;
  void ConfigWrite32(pci::detail::CardIndex card, uint32_t offset, uint32_t value) override;
  uint32_t Read32(pci::detail::CardIndex card, uint32_t bar, uint32_t offset) override;
  void Write32(pci::detail::CardIndex card, uint32_t bar, uint32_t offset, uint32_t value) override;
  void WriteBlock(pci::detail::CardIndex card, uint32_t bar, uint32_t offset, const void* source,
                  uint32_t bytes) override;
  bool WaitInterrupt(pci::detail::CardIndex card, std::stop_token stop) override;
  bool ReadDisplay(pci::detail::CardIndex card, pci::DisplayInfo& info, uint8_t* pixels, size_t capacity) override;

 private:
  std::vector<std::unique_ptr<CSimCard>> m_Cards;
};

}  // namespace sim
