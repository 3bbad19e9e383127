#include "SimCard.h"

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "Scheduling.h"
#include "cpu/FrameCopy.h"

namespace sim {
namespace {

// Bus addresses: each card gets its own 16 MB of memory space and 128 ports.
constexpr uint32_t MEMORY_BASE = 0x80000000;
constexpr uint32_t MEMORY_STRIDE = 0x01000000;
constexpr uint32_t PORT_BASE = 0x4000;
constexpr uint32_t PORT_STRIDE = 0x80;
// BAR0 sits at an odd 128-byte boundary (address bit 7 set), as some firmware leaves it.
constexpr uint32_t BAR0_OFFSET = 0x80;
constexpr uint32_t BAR2_OFFSET = 0x1000;
constexpr uint32_t BAR3_OFFSET = 0x40000;
constexpr uint32_t MEMORY_PREFETCHABLE = 0x8;
constexpr uint32_t IO_SPACE = 0x1;
constexpr uint32_t FIRST_IRQ = 16;

constexpr uint32_t CFG_ID = 0x00;
constexpr uint32_t CFG_COMMAND = 0x04;
constexpr uint32_t CFG_CLASS = 0x08;
constexpr uint32_t CFG_LATENCY = 0x0C;
constexpr uint32_t CFG_BAR0 = 0x10;
constexpr uint32_t CFG_BAR5 = 0x24;
constexpr uint32_t CFG_SUBSYSTEM = 0x2C;
constexpr uint32_t CFG_INTERRUPT = 0x3C;
constexpr uint32_t CFG_SIZE = 0x100;

constexpr uint32_t FRAME_BAR = 3;

}  // namespace

const Geometry& GeometryOf(Model model) { return model == Model::Wren ? board::WREN : board::KITE; }

CSimCard::CSimCard(const CardSpec& spec, size_t index, std::string traceSubfolder)
    : m_Spec(spec),
      m_Geometry(GeometryOf(spec.model)),
      m_Location{static_cast<uint32_t>(1 + index / 32), static_cast<uint32_t>(index % 32), 0},
      m_TraceSubfolder(std::move(traceSubfolder)),
      m_Bars{{BRIDGE_SPACE_SIZE, MEMORY_PREFETCHABLE, true},
             {BRIDGE_SPACE_SIZE, IO_SPACE, false},
             {BOARD_SPACE_SIZE, 0, true},
             {m_Geometry.FrameBytes(), MEMORY_PREFETCHABLE, true},
             {0, 0, true},
             {0, 0, true}},
      m_Faults(spec.faults),
      m_Frames(m_Geometry.buffers) {
  const uint32_t memory = MEMORY_BASE + static_cast<uint32_t>(index) * MEMORY_STRIDE;
  m_Config[CFG_ID / 4] = PLX_DEVICE_ID << 16 | PLX_VENDOR_ID;
  m_Config[CFG_COMMAND / 4] = 0x02800003;  // memory and I/O decoding on; medium DEVSEL
  m_Config[CFG_CLASS / 4] = 0x06800001;    // other bridge, revision 1
  m_Config[CFG_BAR0 / 4 + 0] = (memory + BAR0_OFFSET) | m_Bars[0].flags;
  m_Config[CFG_BAR0 / 4 + 1] = (PORT_BASE + static_cast<uint32_t>(index) * PORT_STRIDE) | m_Bars[1].flags;
  m_Config[CFG_BAR0 / 4 + 2] = (memory + BAR2_OFFSET) | m_Bars[2].flags;
  m_Config[CFG_BAR0 / 4 + 3] = (memory + BAR3_OFFSET) | m_Bars[3].flags;
  m_Config[CFG_SUBSYSTEM / 4] = PLX_DEVICE_ID << 16 | PLX_VENDOR_ID;
  m_Config[CFG_INTERRUPT / 4] = 0x0100 | (FIRST_IRQ + static_cast<uint32_t>(index % 8));  // INTA
}

CSimCard::~CSimCard() { Detach(); }

bool CSimCard::StoresReordered() const {
  return (m_Spec.model == Model::Kite || m_Spec.model == Model::Wren) && board::StoresInterleaved(m_Geometry, m_Spec.id);
}

std::string CSimCard::Name(uint32_t bar) const {
  char text[64];
  std::snprintf(text, sizeof text, "%s card %u:%02u BAR%u", ModelName(m_Spec.model), m_Location.Bus,
                m_Location.Slot, bar);
  return text;
}

// ---- configuration space ----

uint32_t CSimCard::BarAddress(uint32_t bar) const {
  return m_Config[CFG_BAR0 / 4 + bar] & (m_Bars[bar].memory ? ~0xFu : ~0x3u);
}

uint32_t CSimCard::ConfigRead(uint32_t offset) {
  if (offset >= CFG_SIZE || (offset & 3) != 0) {
    std::fprintf(stderr, "sim: %s: configuration read at 0x%x refused\n", ModelName(m_Spec.model), offset);
    return 0xFFFFFFFF;
  }
  std::lock_guard lock(m_Mutex);
  return m_Config[offset / 4];
}

void CSimCard::ConfigWrite(uint32_t offset, uint32_t value) {
  if (offset >= CFG_SIZE || (offset & 3) != 0) {
    std::fprintf(stderr, "sim: %s: configuration write at 0x%x refused\n", ModelName(m_Spec.model), offset);
    return;
  }
  std::lock_guard lock(m_Mutex);
  uint32_t& reg = m_Config[offset / 4];
  if (offset >= CFG_BAR0 && offset <= CFG_BAR5) {
    // Address bits take the value; size bits read back as 0 (so sizing works) and the
    // flag bits stay what the BAR is.
    const Bar& bar = m_Bars[(offset - CFG_BAR0) / 4];
    if (bar.size != 0) {
      const uint32_t limit = bar.memory ? 0xFFFFFFFF : 0xFFFF;
      reg = (value & ~(bar.size - 1) & limit & (bar.memory ? ~0xFu : ~0x3u)) | bar.flags;
    }
  } else if (offset == CFG_COMMAND) {
    reg = (reg & 0xFFFF0000) | (value & 0xFFFF);
  } else if (offset == CFG_LATENCY) {
    reg = (reg & 0xFFFF0000) | (value & 0xFFFF);
  } else if (offset == CFG_INTERRUPT) {
    reg = (reg & 0xFFFFFF00) | (value & 0xFF);
  } else {
    std::fprintf(stderr, "sim: %s: write 0x%08x to read-only configuration register 0x%02x ignored\n",
                 ModelName(m_Spec.model), value, offset);
  }
}

void CSimCard::Resources(pci::CardResources& resources) {
  std::lock_guard lock(m_Mutex);
  resources = {};
  uint32_t n = 0;
  for (uint32_t bar = 0; bar <= FRAME_BAR; ++bar) {
    pci::ResourceItem& item = resources.Items[n++];
    if (m_Bars[bar].memory) {
      item.Type = pci::ITEM_MEMORY;
      item.Memory.PhysicalAddress = BarAddress(bar);
      item.Memory.Size = m_Bars[bar].size;
    } else {
      item.Type = pci::ITEM_IO;
      item.Io.Port = BarAddress(bar);
      item.Io.Size = m_Bars[bar].size;
    }
  }
  pci::ResourceItem& irq = resources.Items[n++];
  irq.Type = pci::ITEM_INTERRUPT;
  irq.Exclusive = 1;
  irq.Interrupt.Line = m_Config[CFG_INTERRUPT / 4] & 0xFF;
  resources.ItemCount = n;
}

bool CSimCard::BarOf(const pci::ResourceItem& item, uint32_t& bar) {
  std::lock_guard lock(m_Mutex);
  for (uint32_t j = 0; j < 6; ++j) {
    const Bar& b = m_Bars[j];
    if (b.size == 0) {
      continue;
    }
    const bool match = b.memory ? item.Type == pci::ITEM_MEMORY && item.Memory.PhysicalAddress == BarAddress(j) &&
                                      item.Memory.Size == b.size
                                : item.Type == pci::ITEM_IO && item.Io.Port == BarAddress(j) && item.Io.Size == b.size;
    if (match) {
      bar = j;
      return true;
    }
  }
  return false;
}

// ---- claiming ----

// A simulated space is an inaccessible reservation: its addresses are unique in the process,
// the facility routes accesses to the card model, and a stray direct access faults at once.
uintptr_t CSimCard::Map(uint32_t, uint32_t size) {
  void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return p == MAP_FAILED ? 0 : reinterpret_cast<uintptr_t>(p);
}

void CSimCard::Unmap(uintptr_t address, uint32_t size) { munmap(reinterpret_cast<void*>(address), size); }

bool CSimCard::Attach() {
  std::lock_guard lock(m_Mutex);
  if ((m_Faults & FAULT_HELD) != 0 || m_Attached) {
    return false;
  }
  m_Attached = true;
  if (!m_EverAttached) {
    m_Epoch = Clock::now();
  }
  const char* trace = std::getenv(TRACE_VARIABLE);
  if (trace != nullptr && trace[0] != '\0') {
    std::string folder = trace;
    if (!m_TraceSubfolder.empty()) {
      mkdir(folder.c_str(), 0755);  // the card's folder goes inside it
      folder += "/" + m_TraceSubfolder;
    }
    std::lock_guard frames(m_FrameMutex);
    m_Trace.Start(folder, !m_EverAttached, m_Epoch);
  }
  m_EverAttached = true;
  m_Engine = std::jthread([this](std::stop_token stop) { Engine(stop); });
  return true;
}

void CSimCard::Detach() {
  {
    std::lock_guard lock(m_Mutex);
    if (!m_Attached) {
      return;
    }
    m_Attached = false;
  }
  m_Engine.request_stop();
  if (m_Engine.joinable()) {
    m_Engine.join();
  }
  std::lock_guard lock(m_Mutex);
  std::lock_guard frames(m_FrameMutex);
  m_Trace.Stop();
}

// ---- register spaces ----

bool CSimCard::Aligned(uint32_t bar, uint32_t& offset) const {
  if (bar >= 6 || m_Bars[bar].size == 0 || offset >= m_Bars[bar].size) {
    std::fprintf(stderr, "sim: %s: access at 0x%x is outside the space\n", Name(bar).c_str(), offset);
    return false;
  }
  if ((offset & 3) != 0) {
    std::fprintf(stderr, "sim: %s: unaligned access at 0x%x taken at 0x%x\n", Name(bar).c_str(), offset,
                 offset & ~3u);
    offset &= ~3u;
  }
  return true;
}

uint32_t CSimCard::Read32(uint32_t bar, uint32_t offset) {
  if (!Aligned(bar, offset)) {
    return 0xFFFFFFFF;
  }
  if (bar == FRAME_BAR) {
    uint32_t buffer = 0;
    {
      std::lock_guard lock(m_Mutex);
      buffer = (m_FrameSelect >> 16) & FieldMask();
    }
    std::lock_guard frames(m_FrameMutex);
    uint32_t value = 0;
    if (m_Frames[buffer]) {
      std::memcpy(&value, m_Frames[buffer].get() + offset, 4);
    }
    return value;
  }
  std::lock_guard lock(m_Mutex);
  Settle(Clock::now());
  return bar == 2 ? BoardRead(offset) : BridgeRead(offset);
}

void CSimCard::Write32(uint32_t bar, uint32_t offset, uint32_t value) {
  if (!Aligned(bar, offset)) {
    return;
  }
  if (bar == FRAME_BAR) {
    WriteBlock(bar, offset, &value, 4);
    return;
  }
  std::lock_guard lock(m_Mutex);
  Settle(Clock::now());
  m_Trace.RegisterWrite(bar, offset, value);
  if (bar == 2) {
    BoardWrite(offset, value);
  } else {
    BridgeWrite(offset, value);
  }
}

uint32_t CSimCard::BridgeRead(uint32_t offset) {
  const uint32_t value = m_Bridge[offset / 4];
  if (offset == BRIDGE_INTCSR) {
    return value | (m_Line ? INTCSR_LOCAL_STATUS : 0);
  }
  return value;
}

void CSimCard::BridgeWrite(uint32_t offset, uint32_t value) {
  if (offset == BRIDGE_INTCSR) {
    m_Bridge[offset / 4] = value & ~INTCSR_LOCAL_STATUS;
    m_LineChanged.notify_all();
    return;
  }
  m_Bridge[offset / 4] = value;
}

uint32_t CSimCard::Status() const {
  const Clock::time_point now = Clock::now();
  uint32_t status = (m_Spec.id & 0xFF) << 24;
  if ((m_Faults & FAULT_3V3_LOW) == 0) {
    status |= STATUS_3V3_GOOD | INIT_DONE;
  }
  if ((m_Faults & FAULT_DAC) != 0) {
    status |= STATUS_DAC_FAULT;
  } else if ((m_Control & CONTROL_DAC_POWER) != 0 && now >= m_DacOnAt + DAC_POWER_DELAY) {
    status |= STATUS_DAC_GOOD;
  }
  if (m_BusyStuck || now < m_BusyUntil) {
    status |= STATUS_BUSY_MASK;
  }
  return status;
}

uint32_t CSimCard::BoardRead(uint32_t offset) {
  switch (offset) {
    case REG_CONTROL:
      return m_Control;
    case REG_STATUS:
      return Status();
    case REG_FRAME_SELECT:
      return m_FrameSelect;
    case REG_FRAME_COUNTS:
      return m_FrameCounts;
    case REG_TIMING_A:
      return m_TimingA;
    case REG_TIMING_B:
      return m_TimingB;
    case REG_INT_ACK:
      return 0;
    case REG_CONTROL_VERSION:
      return CONTROL_VERSION;
    case REG_SDRAM0:
      return MEMORY_VERSION;
    default:
      break;
  }
  if (offset > REG_SDRAM0 && offset <= REG_SDRAM3) {
    return (m_Faults & FAULT_3V3_LOW) != 0 ? 0 : SDRAM_READY;
  }
  std::fprintf(stderr, "sim: %s: read of unassigned board register 0x%02x gives 0\n", Name(2).c_str(), offset);
  return 0;
}

void CSimCard::BoardWrite(uint32_t offset, uint32_t value) {
  switch (offset) {
    case REG_CONTROL: {
      const uint32_t old = m_Control;
      if ((m_Faults & FAULT_POWER_STUCK) != 0) {
        value = (value & ~CONTROL_SLM_POWER) | (old & CONTROL_SLM_POWER);
      }
      if ((value & CONTROL_DAC_POWER) != 0 && (old & CONTROL_DAC_POWER) == 0) {
        m_DacOnAt = Clock::now();
      }
      m_Control = value;
      if ((value & CONTROL_RUN) != (old & CONTROL_RUN)) {
        const Clock::time_point now = Clock::now();
        m_NextRaise = now + Period();  // a run starts a fresh image period
        if ((value & CONTROL_RUN) != 0) {
          NoteShown(now);
        }
        m_RunChanged.notify_all();
      }
      return;
    }
    case REG_FRAME_SELECT:
      m_FrameSelect = value;
      m_BusyUntil = Clock::now() + BUSY_TIME;
      m_BusyStuck = m_BusyStuck || (m_Faults & FAULT_BUSY_STUCK) != 0;
      return;
    case REG_FRAME_COUNTS:
      m_FrameCounts = value;
      return;
    case REG_TIMING_A:
      m_TimingA = value;
      return;
    case REG_TIMING_B:
      m_TimingB = value;
      return;
    case REG_INT_ACK:
      m_Line = false;
      return;
    default:
      break;
  }
  std::fprintf(stderr, "sim: %s: write 0x%08x to %s board register 0x%02x ignored\n", Name(2).c_str(), value,
               offset == REG_STATUS || offset >= REG_CONTROL_VERSION ? "read-only" : "unassigned", offset);
}

// ---- frame memory ----

void CSimCard::WriteBlock(uint32_t bar, uint32_t offset, const void* source, uint32_t bytes) {
  if (bar != FRAME_BAR) {
    if ((bytes & 3) != 0) {
      std::fprintf(stderr, "sim: %s: block of %u bytes taken as whole registers only\n", Name(bar).c_str(), bytes);
    }
    for (uint32_t done = 0; done + 4 <= bytes; done += 4) {
      uint32_t value = 0;
      std::memcpy(&value, static_cast<const uint8_t*>(source) + done, 4);
      Write32(bar, offset + done, value);
    }
    return;
  }
  if (!Aligned(bar, offset)) {
    return;
  }
  const uint32_t size = m_Geometry.FrameBytes();
  if ((bytes & 3) != 0 || bytes > size - offset) {
    const uint32_t clipped = std::min(bytes, size - offset) & ~3u;
    std::fprintf(stderr, "sim: %s: block of %u bytes at 0x%x taken as %u bytes\n", Name(bar).c_str(), bytes, offset,
                 clipped);
    bytes = clipped;
  }
  uint32_t buffer = 0;
  {
    std::lock_guard lock(m_Mutex);
    buffer = (m_FrameSelect >> 16) & FieldMask();
  }
  std::lock_guard frames(m_FrameMutex);
  cpu::AlignedBytes& frame = m_Frames[buffer];
  if (!frame) {
    frame = cpu::NewAlignedBytes(size, cpu::PAGE);  // only the bytes this block does not cover need clearing
    std::memset(frame.get(), 0, offset);
    std::memset(frame.get() + offset + bytes, 0, size - offset - bytes);
  }
  cpu::CopyFrameBytes(frame.get() + offset, source, bytes);
  if (m_Trace.Active()) {
    std::vector<uint8_t> shown(size);
    Decode(frame.get(), shown.data());
    m_Trace.Frame(buffer, frame.get(), shown.data(), m_Geometry.width, m_Geometry.height);
  }
}

void CSimCard::Decode(const uint8_t* stored, uint8_t* picture) const {
  board::DecodeFrame(stored, picture, m_Geometry.FrameBytes(), m_Geometry.runBytes, StoresReordered());
}

bool CSimCard::StoredFrame(uint32_t buffer, std::vector<uint8_t>& bytes) {
  std::lock_guard frames(m_FrameMutex);
  if (buffer >= m_Frames.size() || !m_Frames[buffer]) {
    return false;
  }
  bytes.assign(m_Frames[buffer].get(), m_Frames[buffer].get() + m_Geometry.FrameBytes());
  return true;
}

bool CSimCard::DecodedFrame(uint32_t buffer, std::vector<uint8_t>& bytes) {
  std::lock_guard frames(m_FrameMutex);
  if (buffer >= m_Frames.size() || !m_Frames[buffer]) {
    return false;
  }
  bytes.resize(m_Geometry.FrameBytes());
  Decode(m_Frames[buffer].get(), bytes.data());
  return true;
}

void CSimCard::ReadDisplay(DisplayInfo& info, uint8_t* pixels, size_t capacity) {
  {
    std::lock_guard lock(m_Mutex);
    info.Width = m_Geometry.width;
    info.Height = m_Geometry.height;
    info.Powered = (m_Control & CONTROL_SLM_POWER) != 0 ? 1 : 0;
    info.Running = (m_Control & CONTROL_RUN) != 0 ? 1 : 0;
    info.Image = m_FrameSelect & FieldMask();
    info.ImageFrames = std::max<uint32_t>(1, m_FrameCounts & 0xFFFF);
    info.LaserAGain = m_TimingA & 0xFF;
    info.LaserBGain = m_TimingB & 0xFF;
    info.DarkA16 = (m_TimingA >> 16) * 16 + ((m_TimingA >> 8) & 0xFF);
    info.DarkB16 = (m_TimingB >> 16) * 16 + ((m_TimingB >> 8) & 0xFF);
  }
  const size_t size = m_Geometry.FrameBytes();
  if (pixels != nullptr && capacity >= size) {
    std::lock_guard frames(m_FrameMutex);
    if (info.Powered != 0 && m_Frames[info.Image]) {
      Decode(m_Frames[info.Image].get(), pixels);
    } else {
      std::memset(pixels, 0, size);
    }
  }
}

// ---- timing engine and interrupt line ----

Clock::duration CSimCard::Period() const {
  const uint64_t frames = std::max<uint32_t>(1, m_FrameCounts & 0xFFFF);
  return std::chrono::nanoseconds(frames * m_Geometry.frameNs);
}

void CSimCard::RaiseLocked(Clock::time_point now) {
  if ((m_Faults & FAULT_NO_IRQ) != 0) {
    return;
  }
  ++m_Counts.raised;
  if (m_Line) {
    ++m_Counts.merged;
  }
  m_Line = true;
  m_Counts.lastRaise = now;
  m_LineChanged.notify_all();
}

// Raises every period that has ended by now. Called before anyone looks at or changes the
// card, and by the engine at each period's end: however late a thread runs, the card is
// always as if the engine had raised on time, and the level-triggered line merges periods
// nobody acknowledged in between.
void CSimCard::Settle(Clock::time_point now) {
  while ((m_Control & CONTROL_RUN) != 0 && m_NextRaise <= now) {
    RaiseLocked(now);
    NoteShown(m_NextRaise);
    m_NextRaise += Period();
  }
}

// The frame a period shows is the one the image field names when it begins; a routine that
// selects the next frame only after that shows the same frame for a second period.
void CSimCard::NoteShown(Clock::time_point start) {
  if (m_ShownCapacity == 0) {
    return;
  }
  if (m_Shown.size() < m_ShownCapacity) {
    m_Shown.push_back({start, m_FrameSelect & FieldMask()});
  } else {
    ++m_ShownDropped;
  }
}

// The engine's only job is to be there at each period's end, so the host's interrupt
// thread is woken on time.
void CSimCard::Engine(std::stop_token stop) {
  // A board's timing does not wait for the host's other work: wake at the period's edge,
  // ahead of ordinary threads where the system allows it.
  prctl(PR_SET_TIMERSLACK, 1UL);
  pci::detail::PreferRealTime(pci::detail::SIM_ENGINE_PRIORITY);
  std::unique_lock lock(m_Mutex);
  // A stop ends the engine even while the run bit is set: the wait then returns its predicate.
  while (m_RunChanged.wait(lock, stop, [this] { return (m_Control & CONTROL_RUN) != 0; }) && !stop.stop_requested()) {
    const Clock::time_point next = m_NextRaise;
    m_RunChanged.wait_until(lock, stop, next,
                            [&] { return (m_Control & CONTROL_RUN) == 0 || m_NextRaise != next; });
    Settle(Clock::now());
  }
}

bool CSimCard::WaitInterrupt(std::stop_token stop) {
  std::unique_lock lock(m_Mutex);
  if (stop.stop_requested()) {
    return false;
  }
  // Level-triggered: while the bridge masks it, a raised line simply waits.
  if (!m_LineChanged.wait(lock, stop, [this] { return m_Line && (m_Bridge[BRIDGE_INTCSR / 4] & INTCSR_PCI_INT_ENABLE) != 0; })) {
    return false;
  }
  ++m_Counts.delivered;
  m_Trace.InterruptDelivered();
  return true;
}

void CSimCard::RecordShown(size_t capacity) {
  std::vector<ShownFrame> room;
  room.reserve(capacity);
  std::lock_guard lock(m_Mutex);
  Settle(Clock::now());
  m_Shown.swap(room);
  m_ShownCapacity = capacity;
  m_ShownDropped = 0;
}

uint64_t CSimCard::TakeShown(std::vector<ShownFrame>& frames) {
  std::lock_guard lock(m_Mutex);
  Settle(Clock::now());
  frames.insert(frames.end(), m_Shown.begin(), m_Shown.end());
  m_Shown.clear();
  return std::exchange(m_ShownDropped, 0);
}

void CSimCard::SetFaults(uint32_t faults, bool on) {
  std::lock_guard lock(m_Mutex);
  Settle(Clock::now());
  m_Faults = on ? m_Faults | faults : m_Faults & ~faults;
  if (!on && (faults & FAULT_BUSY_STUCK) != 0) {
    m_BusyStuck = false;  // the board recovers
  }
}

InterruptCounts CSimCard::Counts() {
  std::lock_guard lock(m_Mutex);
  Settle(Clock::now());
  InterruptCounts counts = m_Counts;
  const bool waiting = m_Line && (m_Bridge[BRIDGE_INTCSR / 4] & INTCSR_PCI_INT_ENABLE) != 0;
  counts.atRest = (m_Control & CONTROL_RUN) == 0 && !waiting;
  return counts;
}

}  // namespace sim
