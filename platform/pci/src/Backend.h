#pragma once
// What the facility asks of whatever carries out its calls: the simulated bus today, a
// sysfs/VFIO backend for real cards later. The facility keeps handles, claims, address
// tables and interrupt threads; a backend only knows its cards by their index on its bus.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "pci/Facility.h"

namespace pci::detail {

using CardIndex = size_t;

class IBackend {
 public:
  virtual ~IBackend() = default;

  virtual size_t CardCount() = 0;
  virtual std::vector<Location> Scan(uint32_t vendorId, uint32_t deviceId) = 0;
  virtual bool FindCard(const Location& location, CardIndex& card) = 0;
  virtual Location LocationOf(CardIndex card) = 0;
  // Resources as the bus reports them now (BAR addresses from configuration space).
  virtual void Resources(CardIndex card, CardResources& resources) = 0;
  // Name of the lock file that stands for the card, unique per card on this machine.
  virtual std::string ClaimName(CardIndex card) = 0;

  // Takes the card for this process (the claim lock is already held). False: refused.
  virtual bool Attach(CardIndex card) = 0;
  virtual void Detach(CardIndex card) = 0;
  // The BAR that decodes a memory or I/O item of the card's resources.
  virtual bool BarOf(CardIndex card, const ResourceItem& item, uint32_t& bar) = 0;
  // Makes a memory BAR addressable from the process; 0 when it cannot.
  virtual uintptr_t Map(CardIndex card, uint32_t bar, uint32_t size) = 0;
  virtual void Unmap(uintptr_t address, uint32_t size) = 0;

  virtual uint32_t ConfigRead32(CardIndex card, uint32_t offset) = 0;
  virtual void ConfigWrite32(CardIndex card, uint32_t offset, uint32_t value) = 0;
  // 32-bit access to a memory or I/O BAR at a byte offset inside it.
  virtual uint32_t Read32(CardIndex card, uint32_t bar, uint32_t offset) = 0;
  virtual void Write32(CardIndex card, uint32_t bar, uint32_t offset, uint32_t value) = 0;
  virtual void WriteBlock(CardIndex card, uint32_t bar, uint32_t offset, const void* source, uint32_t bytes) = 0;

  // Blocks until the card's interrupt is asserted towards the host (and counts it as
  // delivered), or until stop is requested: then returns false.
  virtual bool WaitInterrupt(CardIndex card, std::stop_token stop) = 0;

  virtual bool ReadDisplay(CardIndex card, DisplayInfo& info, uint8_t* pixels, size_t capacity) = 0;
};

// What the environment says the bus is. The facility builds a new backend from it when
// it changed and no card is registered.
std::string BackendDescription();
// The backend for a description; null with a message in error when it is malformed.
std::shared_ptr<IBackend> MakeBackend(const std::string& description, std::string& error);

// The backend of the facility's current bus (null before the first Open); for the
// simulated card's test-support calls.
std::shared_ptr<IBackend> CurrentBackend();
// Makes the next Open read the bus description again even if it did not change.
void ForgetBackend();

}  // namespace pci::detail
