#pragma once
// What the facility asks of whatever carries out its calls: the simulated bus, or real
// cards through sysfs and VFIO. The facility keeps handles, claims, address windows and
// interrupt threads; a backend knows its cards by their index on its bus, and lends the
// facility one object per card it has attached.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "pci/Facility.h"

namespace pci::detail {

using CardIndex = size_t;

// A card this process has attached, lent by its backend until Detach: the accesses of the
// card's windows and the waits on its interrupt line go straight to it.
class ICard {
 public:
  // Makes a memory BAR addressable from the process; 0 when it cannot.
  virtual uintptr_t Map(uint32_t bar, uint32_t size) = 0;
  virtual void Unmap(uintptr_t address, uint32_t size) = 0;
  // 32-bit access to a memory or I/O BAR at a byte offset inside it.
  virtual uint32_t Read32(uint32_t bar, uint32_t offset) = 0;
  virtual void Write32(uint32_t bar, uint32_t offset, uint32_t value) = 0;
  virtual void WriteBlock(uint32_t bar, uint32_t offset, const void* source, uint32_t bytes) = 0;
  // Connects the card's interrupt line to WaitInterrupt before the interrupt thread starts;
  // false, with the reason on stderr, when the host refuses the line. Disconnects it after
  // the thread has stopped.
  virtual bool EnableInterrupt() { return true; }
  virtual void DisableInterrupt() {}
  // Blocks until the card's interrupt is asserted towards the host (and counts it as
  // delivered), or until stop is requested: then returns false.
  virtual bool WaitInterrupt(std::stop_token stop) = 0;
  // What the card's modulator shows now (Interrupts left to the facility); see
  // pci::ReadDisplay.
  virtual void ReadDisplay(DisplayInfo& info, uint8_t* pixels, size_t capacity) = 0;

 protected:
  ~ICard() = default;  // owned by the backend, never through this face
};

class IBackend {
 public:
  virtual ~IBackend() = default;

  virtual size_t CardCount() = 0;
  virtual std::vector<Location> Scan(uint32_t vendorId, uint32_t deviceId) = 0;
  virtual bool FindCard(const Location& location, CardIndex& card) = 0;
  virtual Location LocationOf(CardIndex card) = 0;
  // Resources as the bus reports them now (BAR addresses from configuration space).
  virtual void Resources(CardIndex card, CardResources& resources) = 0;
  // The BAR that decodes a memory or I/O item of the card's resources.
  virtual bool BarOf(CardIndex card, const ResourceItem& item, uint32_t& bar) = 0;
  // Name of the lock file that stands for the card, unique per card on this machine.
  virtual std::string ClaimName(CardIndex card) = 0;
  virtual uint32_t ConfigRead32(CardIndex card, uint32_t offset) = 0;
  virtual void ConfigWrite32(CardIndex card, uint32_t offset, uint32_t value) = 0;

  // Takes the card for this process (the claim lock is already held): the card to work
  // on until Detach, or null when it is refused.
  virtual ICard* Attach(CardIndex card) = 0;
  virtual void Detach(CardIndex card) = 0;

  // The backend whose cards stand behind this one's when a test's stand-in kernel serves
  // them; null when this backend reaches its cards itself.
  virtual std::shared_ptr<IBackend> Hardware() { return nullptr; }
};

// One way of reaching cards, as the facility's table of backends lists it.
struct BackendEntry {
  const char* name;
  // What this backend would serve now, compared between opens to tell whether the bus
  // changed; false when it cannot serve this process.
  bool (*describe)(std::string& description);
  // The backend for a description; null with the reason in error.
  std::shared_ptr<IBackend> (*make)(const std::string& description, std::string& error);
  // For the card listing; each may be null. Why this backend serves, said after its name
  // when it does.
  std::string (*reason)();
  // What the host's PCI bus holds for the bridge's ids, as this backend finds it.
  BusListing (*survey)();
  // Its lines of the listing, after the line naming the serving backend.
  std::string (*list)();
};

// The backend of the facility's current bus (null before the first Open); for the
// simulated card's test-support calls.
std::shared_ptr<IBackend> CurrentBackend();
// Makes the next Open choose and build its backend again even if nothing changed.
void ForgetBackend();

}  // namespace pci::detail
