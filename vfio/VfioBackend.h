#pragma once
// The facility's backend for real cards on Linux: the cards with the bridge's ids that
// sysfs shows bound to vfio-pci, each reached through its IOMMU group's device file.

#include <memory>
#include <string>
#include <vector>

#include "Backend.h"
#include "Kernel.h"
#include "Survey.h"
#include "VfioCard.h"
#include "VfioGroups.h"

namespace vfio {

class CVfioBackend final : public pci::detail::IBackend {
 public:
  // hardware: what a stand-in kernel serves, for tests; null for the real kernel.
  CVfioBackend(std::shared_ptr<IKernel> kernel, const Roots& roots, const std::vector<SurveyedCard>& cards,
               std::shared_ptr<pci::detail::IBackend> hardware);

  IKernel& Kernel() { return *m_Kernel; }

  size_t CardCount() override { return m_Cards.size(); }
  std::vector<pci::Location> Scan(uint32_t vendorId, uint32_t deviceId) override;
  bool FindCard(const pci::Location& location, pci::detail::CardIndex& card) override;
  pci::Location LocationOf(pci::detail::CardIndex card) override { return m_Cards[card]->Surveyed().location; }
  void Resources(pci::detail::CardIndex card, pci::CardResources& resources) override;
  bool BarOf(pci::detail::CardIndex card, const pci::ResourceItem& item, uint32_t& bar) override;
  std::string ClaimName(pci::detail::CardIndex card) override;
  uint32_t ConfigRead32(pci::detail::CardIndex card, uint32_t offset) override;
  void ConfigWrite32(pci::detail::CardIndex card, uint32_t offset, uint32_t value) override;
  pci::detail::ICard* Attach(pci::detail::CardIndex card) override;
  void Detach(pci::detail::CardIndex card) override { m_Cards[card]->Detach(); }
  std::shared_ptr<pci::detail::IBackend> Hardware() override { return m_Hardware; }

 private:
  std::shared_ptr<IKernel> m_Kernel;
  CVfioGroups m_Groups;
  std::vector<std::unique_ptr<CVfioCard>> m_Cards;  // go before the groups they hold
  std::shared_ptr<pci::detail::IBackend> m_Hardware;
};

// A kernel that tests put in the real one's place, with the simulated cards it serves.
struct StandIn {
  std::shared_ptr<IKernel> kernel;
  std::shared_ptr<pci::detail::IBackend> hardware;
};

struct StandInEntry {
  bool (*describe)(std::string& description);
  bool (*make)(const std::string& description, StandIn& standIn, std::string& error);
};

// From the next pci::Open on, the backend reaches its cards through entry's kernel; null
// puts the real kernel back.
void InstallStandIn(const StandInEntry* entry);
bool StandInInstalled();

// The facility's table entry: serves when some card with the bridge's ids is bound to
// vfio-pci (or a stand-in kernel is installed). When none is, says on stderr, once per
// change, which cards were found and how to bind one.
bool DescribeBus(std::string& description);
std::shared_ptr<pci::detail::IBackend> MakeBus(const std::string& description, std::string& error);

// What sysfs shows, through the kernel the backend would use.
pci::BusListing ListBus();
// The card listing's lines for what ListBus shows: each card with what stands in the way
// of it, and where the guide to setting one up is.
std::string ListCards();

}  // namespace vfio
