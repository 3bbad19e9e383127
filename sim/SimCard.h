#pragma once
// One simulated card: a PLX 9050 bridge with a Kite, Wren or other board behind it. Like
// a device model, it dispatches on register offsets, takes time where the board takes
// time (so a driver has to poll), and never falls over when a driver misbehaves: it says
// so on stderr, clamps and goes on.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "Backend.h"
#include "BoardFrames.h"
#include "BoardRegisters.h"
#include "SimBus.h"
#include "SimRecords.h"
#include "SimTrace.h"
#include "cpu/AlignedBytes.h"
#include "pci/Facility.h"

namespace sim {

using Clock = std::chrono::steady_clock;

// How long the board takes. Drivers wait for these by polling; tests shorten the drivers'
// own 1000 ms sleeps, so these stay well below 50 ms (BUSY_TIME of SimRecords.h, too).
constexpr auto DAC_POWER_DELAY = std::chrono::milliseconds(20);  // REG_CONTROL bit 8 -> REG_STATUS bit 11

// What the board reports about itself.
constexpr uint32_t CONTROL_VERSION = 12;  // shown as " 1.12"
constexpr uint32_t MEMORY_VERSION = 25;   // REG_SDRAM0, shown as " 1.25"
constexpr uint32_t SDRAM_READY = 0xF;     // REG_SDRAM1..3: every bank ready
constexpr uint32_t INIT_DONE = 0xF;       // REG_STATUS bits 0-3

// Sizes of the BARs: bridge registers (memory and I/O), board registers; the frame window
// is one frame of the board.
constexpr uint32_t BRIDGE_SPACE_SIZE = 0x80;
constexpr uint32_t BOARD_SPACE_SIZE = 0x100;

using Geometry = board::Shape;

const Geometry& GeometryOf(Model model);

using pci::DisplayInfo;

// Attached by the facility, the card is the object its accesses and interrupt waits reach.
class CSimCard final : public pci::detail::ICard {
 public:
  CSimCard(const CardSpec& spec, size_t index, std::string traceSubfolder);
  CSimCard(const CSimCard&) = delete;
  CSimCard& operator=(const CSimCard&) = delete;
  ~CSimCard();

  const CardSpec& Spec() const { return m_Spec; }
  const Geometry& Shape() const { return m_Geometry; }
  pci::Location Where() const { return m_Location; }
  bool StoresReordered() const;

  // Bus side.
  uint32_t ConfigRead(uint32_t offset);
  void ConfigWrite(uint32_t offset, uint32_t value);
  void Resources(pci::CardResources& resources);
  bool BarOf(const pci::ResourceItem& item, uint32_t& bar);
  bool Attach();
  void Detach();

  // What the attached card offers the facility.
  uintptr_t Map(uint32_t bar, uint32_t size) override;
  void Unmap(uintptr_t address, uint32_t size) override;
  uint32_t Read32(uint32_t bar, uint32_t offset) override;
  void Write32(uint32_t bar, uint32_t offset, uint32_t value) override;
  void WriteBlock(uint32_t bar, uint32_t offset, const void* source, uint32_t bytes) override;
  bool WaitInterrupt(std::stop_token stop) override;
  void ReadDisplay(DisplayInfo& info, uint8_t* pixels, size_t capacity) override;

  // Test side (reads have no side effects on this board, so Read32 serves as a peek).
  bool StoredFrame(uint32_t buffer, std::vector<uint8_t>& bytes);
  bool DecodedFrame(uint32_t buffer, std::vector<uint8_t>& bytes);
  InterruptCounts Counts();
  void RecordShown(size_t capacity);
  uint64_t TakeShown(std::vector<ShownFrame>& frames);
  void SetFaults(uint32_t faults, bool on);

 private:
  struct Bar {
    uint32_t size;
    uint32_t flags;  // low bits that read back as set
    bool memory;
  };

  uint32_t BarAddress(uint32_t bar) const;  // under m_Mutex
  uint32_t FieldMask() const { return (1u << m_Geometry.fieldBits) - 1; }
  uint32_t BridgeRead(uint32_t offset);
  void BridgeWrite(uint32_t offset, uint32_t value);
  uint32_t BoardRead(uint32_t offset);
  void BoardWrite(uint32_t offset, uint32_t value);
  uint32_t Status() const;
  Clock::duration Period() const;
  void RaiseLocked(Clock::time_point now);
  void Settle(Clock::time_point now);
  void NoteShown(Clock::time_point start);  // under m_Mutex
  void Engine(std::stop_token stop);
  void Decode(const uint8_t* stored, uint8_t* picture) const;
  bool Aligned(uint32_t bar, uint32_t& offset) const;
  std::string Name(uint32_t bar) const;

  const CardSpec m_Spec;
  const Geometry m_Geometry;
  const pci::Location m_Location;
  const std::string m_TraceSubfolder;
  Bar m_Bars[6];

  std::mutex m_Mutex;
  std::condition_variable_any m_RunChanged;   // the timing engine waits on it
  std::condition_variable_any m_LineChanged;  // the host's interrupt thread waits on it
  uint32_t m_Faults;  // the card description's fault bits, switched by tests while the card runs
  uint32_t m_Config[64] = {};
  uint32_t m_Bridge[BRIDGE_SPACE_SIZE / 4] = {};
  uint32_t m_Control = 0;
  uint32_t m_FrameSelect = 0;
  uint32_t m_FrameCounts = 0;
  uint32_t m_TimingA = 0;
  uint32_t m_TimingB = 0;
  Clock::time_point m_DacOnAt{};
  Clock::time_point m_BusyUntil{};
  bool m_BusyStuck = false;
  bool m_Line = false;
  Clock::time_point m_NextRaise{};  // end of the current image period while running
  InterruptCounts m_Counts;
  // The shown-frame record: room reserved when it starts, so the engine never allocates.
  std::vector<ShownFrame> m_Shown;
  size_t m_ShownCapacity = 0;
  uint64_t m_ShownDropped = 0;
  bool m_Attached = false;
  bool m_EverAttached = false;
  Clock::time_point m_Epoch{};
  CSimTrace m_Trace;
  std::jthread m_Engine;

  // Frame memory has its own lock so a download never holds up an interrupt.
  std::mutex m_FrameMutex;
  std::vector<cpu::AlignedBytes> m_Frames;  // each on a page of its own, as a card's window is
};

}  // namespace sim
