#pragma once
// What the simulated card counts and records of its own running, and how long it stays busy:
// the card's own facts, which drivers' measurements and the card's readers both go by.

#include <chrono>
#include <cstdint>

namespace sim {

// How long the busy bits stay set after a frame is selected for download: time a driver
// must wait out before each frame, which measurements of a download count as the card's.
constexpr std::chrono::microseconds BUSY_TIME{20};

struct InterruptCounts {
  uint64_t raised = 0;     // times the timing engine raised the line
  uint64_t merged = 0;     // raises that found the line still asserted
  uint64_t delivered = 0;  // interrupts the host took
  std::chrono::steady_clock::time_point lastRaise{};
  // The run bit is off and no raised line waits for the host to take it: the counts stay as
  // they are until the card is started again, so raised = delivered + merged unless the host
  // dropped an interrupt.
  bool atRest = false;
};

// One image period as the board showed it: when it began, and the frame buffer the image
// field named then (the board takes the frame to show at each period's start).
struct ShownFrame {
  std::chrono::steady_clock::time_point start;
  uint32_t frame;
};

}  // namespace sim
