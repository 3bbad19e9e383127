#pragma once
// Test support for the simulated card: look into what the board holds and counts, without
// touching it. For tests and benchmarks only; a driver must never include this header, it
// sees the card through the facility like any real one.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
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
  // The run bit is off and no raised line waits for the host to take it: the counts stay as
  // they are until the card is started again, so raised = delivered + merged unless the host
  // dropped an interrupt.
  bool atRest = false;
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
SIM_TEST_API bool ReadDisplay(const pci::Location& location, DisplayInfo& info, uint8_t* pixels, size_t capacity);

// One image period as the board showed it: when it began, and the frame buffer the image
// field named then (the board takes the frame to show at each period's start).
struct ShownFrame {
  std::chrono::steady_clock::time_point start;
  uint32_t frame;
};

// Starts (or restarts, emptied) the card's record of the frames it shows while running,
// with room for capacity periods between two takes. False when no simulated card sits there.
SIM_TEST_API bool RecordShownFrames(const pci::Location& location, size_t capacity);
// Appends the periods recorded since the last take to frames, oldest first, and empties the
// record; returns how many periods found the record full and went unrecorded since then.
SIM_TEST_API uint64_t TakeShownFrames(const pci::Location& location, std::vector<ShownFrame>& frames);

// Follows a run through the shown-frame record. The run shows the frames of order in turn
// and starts again at the first; each period should show the next one. A repeat is a frame
// shown for a second period in a row (the next frame was selected only after that period
// began, as when the interrupts of two periods merged); a skip is a frame of the order that
// no period showed in its turn; a stray is a frame the order does not hold. Advances counts
// the steps the run took: one per interrupt the driver took.
class CShownOrder {
 public:
  struct Glitch {
    std::chrono::steady_clock::time_point start;  // the period that showed it
    uint32_t frame;
    uint32_t step;  // 0 a repeat, 2 or more a skip
  };

  explicit CShownOrder(const std::vector<uint32_t>& order) : m_Size(order.size()) {
    for (size_t p = 0; p < order.size(); ++p) m_Position.emplace(order[p], p);
  }
  void Add(const ShownFrame& shown) {
    ++m_Periods;
    const auto at = m_Position.find(shown.frame);
    if (at == m_Position.end()) {
      ++m_Strays;
      return;
    }
    if (m_Last) {
      const size_t step = (at->second + m_Size - *m_Last) % m_Size;
      if (step == 0) {
        ++m_Repeats;
      } else {
        m_Advances += step;
        m_Skips += step - 1;
      }
      if (step != 1 && m_Glitches.size() < MAX_GLITCHES) {
        m_Glitches.push_back({shown.start, shown.frame, static_cast<uint32_t>(step)});
      }
    }
    m_Last = at->second;
  }
  uint64_t Periods() const { return m_Periods; }
  uint64_t Repeats() const { return m_Repeats; }
  uint64_t Skips() const { return m_Skips; }
  uint64_t Strays() const { return m_Strays; }
  uint64_t Advances() const { return m_Advances; }
  const std::vector<Glitch>& Glitches() const { return m_Glitches; }  // the first few

 private:
  static constexpr size_t MAX_GLITCHES = 100;
  size_t m_Size;
  std::unordered_map<uint32_t, size_t> m_Position;
  std::optional<size_t> m_Last;
  uint64_t m_Periods = 0, m_Repeats = 0, m_Skips = 0, m_Strays = 0, m_Advances = 0;
  std::vector<Glitch> m_Glitches;
};

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
