#pragma once
// What a card showed at each of its last SHOWN_RECORDS interrupts. The interrupt thread
// writes one record per interrupt and never waits; any thread reads. A reader that finds a
// record rewritten under it counts that interrupt as lost rather than hand out half of two.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "pci/Facility.h"

namespace pci::detail {

class ShownRing {
 public:
  // The interrupt thread's alone: the record of the interrupt after the newest, numbered by
  // info.Interrupts.
  void Put(const DisplayInfo& info) {
    Slot& slot = m_Slots[info.Interrupts % SHOWN_RECORDS];
    uint64_t words[WORDS];
    std::memcpy(words, &info, sizeof info);
    slot.interrupt.store(0, std::memory_order_relaxed);
    // Each word released: a reader that sees one of them new sees the slot marked too.
    for (size_t i = 0; i < WORDS; ++i) slot.words[i].store(words[i], std::memory_order_release);
    slot.interrupt.store(info.Interrupts, std::memory_order_release);
    m_Newest.store(info.Interrupts);  // in one order with a waiter's count of itself: no wake-up lost
  }

  // The newest record's interrupt; 0 before the first.
  uint64_t Newest() const { return m_Newest.load(); }

  // See pci::ShownSince.
  size_t Since(uint64_t seen, DisplayInfo* out, size_t capacity, uint64_t& lost) const {
    lost = 0;
    const uint64_t newest = Newest();
    if (newest <= seen) return 0;
    uint64_t next = seen + 1;
    if (newest - seen > SHOWN_RECORDS) {
      next = newest - SHOWN_RECORDS + 1;
      lost = next - seen - 1;
    }
    size_t count = 0;
    for (; next <= newest && count < capacity; ++next) {
      if (Read(next, out[count])) {
        ++count;
      } else if (count == 0) {
        ++lost;  // the writer passed it while it was read
      } else {
        break;  // the next call counts what the writer passed by then
      }
    }
    return count;
  }

 private:
  static_assert(std::is_trivially_copyable_v<DisplayInfo> && sizeof(DisplayInfo) % sizeof(uint64_t) == 0);
  static constexpr size_t WORDS = sizeof(DisplayInfo) / sizeof(uint64_t);

  struct Slot {
    std::atomic<uint64_t> interrupt{0};  // whose record it holds; 0 while it is rewritten
    std::array<std::atomic<uint64_t>, WORDS> words{};
  };

  bool Read(uint64_t interrupt, DisplayInfo& info) const {
    const Slot& slot = m_Slots[interrupt % SHOWN_RECORDS];
    if (slot.interrupt.load(std::memory_order_acquire) != interrupt) return false;
    uint64_t words[WORDS];
    for (size_t i = 0; i < WORDS; ++i) words[i] = slot.words[i].load(std::memory_order_acquire);
    if (slot.interrupt.load(std::memory_order_relaxed) != interrupt) return false;
    std::memcpy(&info, words, sizeof info);
    return true;
  }

  std::array<Slot, SHOWN_RECORDS> m_Slots;
  std::atomic<uint64_t> m_Newest{0};
};

}  // namespace pci::detail
