#pragma once
// The order in which a running card showed its frames, judged against the order it was to
// show them in.

#include <chrono>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "SimRecords.h"

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
  void Add(const sim::ShownFrame& shown) {
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

