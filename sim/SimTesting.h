#pragma once
// Test support for the simulated card: look into what the board holds and counts, without
// touching it. For tests and benchmarks only; a driver must never include this header, it
// sees the card through the facility like any real one.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "SimRecords.h"
#include "pci/Facility.h"

#define SIM_TEST_API __attribute__((visibility("default")))

namespace sim::testing {

struct CardDescription {
  std::string model;  // "kite", "wren" or "other"
  uint32_t id = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t buffers = 0;
  bool reordered = false;  // frames are stored in the interleaved byte order
};

// The card at a location of the current bus (the one the last pci::Open saw).
SIM_TEST_API std::optional<CardDescription> CardAt(const pci::Location& location);
// A register as the driver would read it, without the facility and without side effects.
// bar 0 or 1: the bridge's local registers; bar 2: the board registers.
SIM_TEST_API uint32_t PeekRegister(const pci::Location& location, uint32_t bar, uint32_t offset);
// A frame buffer as stored, or decoded as the modulator would show it; false when the
// buffer was never written.
SIM_TEST_API bool StoredFrame(const pci::Location& location, uint32_t buffer, std::vector<uint8_t>& bytes);
SIM_TEST_API bool DecodedFrame(const pci::Location& location, uint32_t buffer, std::vector<uint8_t>& bytes);
SIM_TEST_API InterruptCounts Counts(const pci::Location& location);
// The counts once the card has come to rest (after the run was stopped, an interrupt may
// still be on its way to the host); atRest stays false when it has not within limit, which
// only stops a hang.
SIM_TEST_API InterruptCounts CountsAtRest(const pci::Location& location,
                                          std::chrono::milliseconds limit = std::chrono::seconds(30));
// pci::ReadDisplay: false (info untouched) when this process holds no card at the location.
SIM_TEST_API bool ReadDisplay(const pci::Location& location, pci::DisplayInfo& info, uint8_t* pixels, size_t capacity);

// Starts (or restarts, emptied) the card's record of the frames it shows while running,
// with room for capacity periods between two takes. False when no simulated card sits there.
SIM_TEST_API bool RecordShownFrames(const pci::Location& location, size_t capacity);
// Appends the periods recorded since the last take to frames, oldest first, and empties the
// record; returns how many periods found the record full and went unrecorded since then.
SIM_TEST_API uint64_t TakeShownFrames(const pci::Location& location, std::vector<ShownFrame>& frames);

// Switches faults of a card on or off while it runs, named as SORREL_SIM names them
// ("busy-stuck:no-irq"). False when no simulated card sits there or a name is unknown.
SIM_TEST_API bool SetFaults(const pci::Location& location, const std::string& options, bool on);

// The next pci::Open builds a fresh bus (new cards, empty frame memory) even when
// SORREL_SIM did not change. Has no effect while a card is registered.
SIM_TEST_API void ResetBus();

// Claims are per user, so test processes running side by side would contend for the same
// simulated cards. This points XDG_RUNTIME_DIR at a new private folder of this process
// (removed at exit) and returns it.
SIM_TEST_API std::string UsePrivateClaimFolder();

}  // namespace sim::testing
