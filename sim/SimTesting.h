#pragma once
// Test support for the simulated card: look into what the board holds and counts, without
// touching it. For tests and benchmarks only; a driver must never include this header, it
// sees the card through the facility like any real one.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pci/Facility.h"

#define SIM_TEST_API __attribute__((visibility("default")))

namespace sim::testing {

// How long the busy bits stay set after a frame is selected for download: time a driver
// must wait out before each frame, which measurements of a download count as the card's.
constexpr std::chrono::microseconds BUSY_TIME{20};

struct CardDescription {
  std::string model;  // "kite", "wren" or "other"
  uint32_t id = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t buffers = 0;
  bool reordered = false;  // frames are stored in the interleaved byte order
};

// What the modulator shows: the frame named by the image field, as the panel sees it
// (reordered storage decoded), with the laser settings of the timing registers.
using DisplayInfo = pci::DisplayInfo;

struct InterruptCounts {
  uint64_t raised = 0;     // times the timing engine raised the line
  uint64_t merged = 0;     // raises that found the line still asserted
  uint64_t delivered = 0;  // interrupts the host took
  std::chrono::steady_clock::time_point lastRaise{};
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
// pci::ReadDisplay: false (info untouched) when this process holds no card at the location.
SIM_TEST_API bool ReadDisplay(const pci::Location& location, DisplayInfo& info, uint8_t* pixels, size_t capacity);

// The next pci::Open builds a fresh bus (new cards, empty frame memory) even when
// SORREL_SIM did not change. Has no effect while a card is registered.
SIM_TEST_API void ResetBus();

// Claims are per user, so test processes running side by side would contend for the same
// simulated cards. This points XDG_RUNTIME_DIR at a new private folder of this process
// (removed at exit) and returns it.
SIM_TEST_API std::string UsePrivateClaimFolder();

}  // namespace sim::testing
