#include "CardHolder.h"

#include "pci/Facility.h"

uint64_t ClaimRefusalsSoFar() { return pci::LastClaimRefusal().Serial; }

std::string CardHolderText(uint64_t refusalsBefore) {
  const pci::ClaimRefusal refusal = pci::LastClaimRefusal();
  if (refusal.Serial == refusalsBefore) return {};
  if (refusal.ProcessId == 0) return "The card is held by another process";
  return "The card is held by process " + std::to_string(refusal.ProcessId) + " (" + refusal.Program + ")";
}
