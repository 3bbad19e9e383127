// The facility keeps what a kernel driver would: open handles, registrations with their
// claims and address windows, and interrupt threads. The backend only sees cards.

#include "pci/Facility.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Backend.h"
#include "Backends.h"
#include "BoardRegisters.h"
#include "CardChoice.h"
#include "Claims.h"
#include "Scheduling.h"
#include "ShownRing.h"

namespace pci {
namespace {

using detail::CardIndex;
using detail::IBackend;
using detail::ICard;
using detail::ShownRing;

// One BAR of a registered card as the host addresses it.
struct Window {
  uint32_t registration = 0;
  ICard* card = nullptr;  // kept attached by the registration
  uint32_t bar = 0;
  bool memory = true;
  uintptr_t mapped = 0;   // memory only
  uint32_t transfer = 0;  // memory: bus address; I/O: port
  uint32_t size = 0;
};

// Interrupts taken for a card, what it showed at each, and a way to wait for the next. The
// interrupt thread takes the lock only while someone waits, so an unwatched card's
// interrupts cost a record and an atomic add.
struct InterruptCount {
  std::atomic<uint64_t> taken{0};
  ShownRing shown;  // its newest: the taken whose driver routine has run
  std::atomic<int> waiting{0};
  std::mutex mutex;
  std::condition_variable changed;

  // After the driver's routine ran for the interrupt, so a waiter sees what it selected.
  void Announce(const DisplayInfo& info) {
    shown.Put(info);
    if (waiting.load() != 0) {
      // Ordered after a waiter's check of the newest record and before its sleep: no wake-up lost.
      std::lock_guard lock(mutex);
    }
    changed.notify_all();
  }

  uint64_t Wait(uint64_t seen, std::chrono::milliseconds timeout) {
    waiting.fetch_add(1);
    {
      std::unique_lock lock(mutex);
      changed.wait_for(lock, timeout, [&] { return shown.Newest() != seen; });
    }
    waiting.fetch_sub(1);
    return shown.Newest();
  }
};

struct Registration {
  DeviceHandle device = INVALID_DEVICE;
  std::shared_ptr<IBackend> backend;
  CardIndex index = 0;
  Location location{};
  // Interrupts taken for the card; shared with its interrupt thread, which may outlive
  // the registration by the time it takes to stop.
  std::shared_ptr<InterruptCount> interrupts = std::make_shared<InterruptCount>();
  ICard* card = nullptr;
  int claim = -1;
  std::vector<Window> windows;
};

struct InterruptThread {
  uint32_t registration = 0;
  ICard* card = nullptr;
  std::jthread thread;
};

constexpr uint32_t NO_DEVICE_VALUE = 0xFFFFFFFF;  // what a read from nowhere returns

bool Contains(uint64_t begin, uint32_t size, uint64_t address) {
  return address >= begin && address - begin < size;
}

bool Same(const Location& a, const Location& b) {
  return a.Bus == b.Bus && a.Slot == b.Slot && a.Function == b.Function;
}

class Facility {
 public:
  Facility() = default;
  Facility(const Facility&) = delete;
  Facility& operator=(const Facility&) = delete;

  // At process end every interrupt thread stops and every claim is dropped.
  ~Facility() {
    std::vector<DeviceHandle> devices;
    {
      std::lock_guard lock(m_Mutex);
      for (const auto& [device, backend] : m_Devices) {
        devices.push_back(device);
      }
    }
    for (DeviceHandle device : devices) {
      Close(device);
    }
  }

  DeviceHandle Open() {
    std::lock_guard lock(m_Mutex);
    if (m_Registrations.empty()) {
      // The bus may change between opens while no card is held, never under a holder.
      std::string description;
      const detail::BackendEntry* entry = detail::ChooseBackend(description);
      if (entry == nullptr) {
        std::fprintf(stderr, "pci: no way to reach PCI cards in this process\n");
        return INVALID_DEVICE;
      }
      if (!m_Backend || entry != m_Entry || description != m_Description) {
        std::string error;
        std::shared_ptr<IBackend> backend = entry->make(description, error);
        if (!backend) {
          std::fprintf(stderr, "%s\n", error.c_str());
          return INVALID_DEVICE;
        }
        m_Backend = std::move(backend);
        m_Entry = entry;
        m_Description = std::move(description);
      }
    }
    const DeviceHandle device = m_NextDevice++;
    m_Devices[device] = m_Backend;
    return device;
  }

  // Closing a handle releases what it still holds, as closing a kernel driver handle does.
  void Close(DeviceHandle device) {
    std::vector<uint32_t> held;
    {
      std::lock_guard lock(m_Mutex);
      if (m_Devices.erase(device) == 0) {
        return;
      }
      for (const auto& [handle, registration] : m_Registrations) {
        if (registration.device == device) {
          held.push_back(handle);
        }
      }
    }
    for (uint32_t handle : held) {
      Release(handle);
    }
  }

  std::shared_ptr<IBackend> BackendOf(DeviceHandle device) {
    std::lock_guard lock(m_Mutex);
    auto it = m_Devices.find(device);
    if (it == m_Devices.end()) {
      std::fprintf(stderr, "pci: %d is not an open device handle\n", device);
      return nullptr;
    }
    return it->second;
  }

  std::shared_ptr<IBackend> Current() {
    std::lock_guard lock(m_Mutex);
    return m_Backend;
  }

  // The backend of the held cards while there are any; otherwise the one the next Open
  // would choose.
  const detail::BackendEntry* Serving() {
    std::lock_guard lock(m_Mutex);
    if (!m_Registrations.empty()) {
      return m_Entry;
    }
    std::string description;
    return detail::ChooseBackend(description);
  }

  void Forget() {
    std::lock_guard lock(m_Mutex);
    if (m_Registrations.empty()) {
      m_Backend.reset();
    }
  }

  void Register(DeviceHandle device, RegistrationRecord& record) {
    record.RegistrationHandle = 0;
    std::shared_ptr<IBackend> backend = BackendOf(device);
    if (!backend) {
      return;
    }
    if (record.CheckOnly != 0) {
      std::fprintf(stderr, "pci: check-only registration is not supported\n");
      return;
    }
    CardIndex index = 0;
    if (!OwnerOf(*backend, record.Resources, index)) {
      std::fprintf(stderr, "pci: the resource description does not describe one card of the bus\n");
      return;
    }
    Registration registration;
    registration.device = device;
    registration.backend = backend;
    registration.index = index;
    registration.location = backend->LocationOf(index);
    bool refused = false;
    detail::ClaimHolder holder;
    registration.claim = detail::TakeClaim(backend->ClaimName(index), refused, holder);
    if (registration.claim < 0) {
      // Held by another holder: refused without a word, as the caller expects; who holds
      // it is kept for callers that name the holder.
      if (refused) {
        std::lock_guard lock(m_Mutex);
        m_Refusal = ClaimRefusal{m_Refusal.Serial + 1, holder.ProcessId, holder.Program};
      }
      return;
    }
    registration.card = backend->Attach(index);
    if (registration.card == nullptr) {
      detail::DropClaim(registration.claim);
      return;
    }

    std::unique_lock lock(m_Mutex);
    const uint32_t handle = m_NextRegistration++;
    CardResources& resources = record.Resources;
    const uint32_t count = std::min(resources.ItemCount, MAX_ITEMS);
    for (uint32_t i = 0; i < count; ++i) {
      ResourceItem& item = resources.Items[i];
      if (item.Type == ITEM_INTERRUPT) {
        item.Interrupt.Handle = handle;
        continue;
      }
      if (item.Type != ITEM_MEMORY && item.Type != ITEM_IO) {
        continue;
      }
      Window window;
      window.registration = handle;
      window.card = registration.card;
      window.memory = item.Type == ITEM_MEMORY;
      window.transfer = window.memory ? item.Memory.PhysicalAddress : item.Io.Port;
      window.size = window.memory ? item.Memory.Size : item.Io.Size;
      backend->BarOf(index, item, window.bar);  // OwnerOf has matched every item to a BAR
      if (window.memory) {
        window.mapped = registration.card->Map(window.bar, window.size);
        if (window.mapped == 0) {
          std::fprintf(stderr, "pci: BAR%u of the card cannot be mapped\n", window.bar);
          lock.unlock();
          Unwind(registration);
          return;
        }
        item.Memory.TransferAddress = window.transfer;
        item.Memory.MappedAddress = window.mapped;
      }
      registration.windows.push_back(window);
    }
    {
      std::unique_lock windows(m_WindowMutex);
      m_Windows.insert(m_Windows.end(), registration.windows.begin(), registration.windows.end());
    }
    m_Registrations.emplace(handle, std::move(registration));
    record.RegistrationHandle = handle;
  }

  ClaimRefusal LastRefusal() {
    std::lock_guard lock(m_Mutex);
    return m_Refusal;
  }

  void Release(DeviceHandle device, const RegistrationRecord& record) {
    {
      std::lock_guard lock(m_Mutex);
      auto it = m_Registrations.find(record.RegistrationHandle);
      if (it == m_Registrations.end() || it->second.device != device) {
        std::fprintf(stderr, "pci: release of a card this handle has not registered\n");
        return;
      }
    }
    Release(record.RegistrationHandle);
  }

  uint32_t ConfigRead32(DeviceHandle device, const Location& location, uint32_t offset) {
    std::shared_ptr<IBackend> backend = BackendOf(device);
    CardIndex card = 0;
    if (!backend || !backend->FindCard(location, card)) {
      return NO_DEVICE_VALUE;
    }
    return backend->ConfigRead32(card, offset);
  }

  void ConfigWrite32(DeviceHandle device, const Location& location, uint32_t offset, uint32_t value) {
    std::shared_ptr<IBackend> backend = BackendOf(device);
    CardIndex card = 0;
    if (backend && backend->FindCard(location, card)) {
      backend->ConfigWrite32(card, offset, value);
    }
  }

  void Transfer(uint32_t address, const void* source, uint32_t bytes) {
    std::shared_lock lock(m_WindowMutex);
    uint32_t offset = 0;
    const Window* window = Decoding(true, address, offset, "block transfer");
    if (window == nullptr) {
      return;
    }
    if (bytes > window->size - offset) {
      std::fprintf(stderr, "pci: block transfer of %u bytes at 0x%08x runs past its space; clipped\n", bytes,
                   address);
      bytes = window->size - offset;
    }
    window->card->WriteBlock(window->bar, offset, source, bytes);
  }

  uint32_t ReadMem32(uintptr_t address) {
    std::shared_lock lock(m_WindowMutex);
    const Window* window = Mapped(address);
    if (window == nullptr) {
      return NO_DEVICE_VALUE;
    }
    return window->card->Read32(window->bar, static_cast<uint32_t>(address - window->mapped));
  }

  void WriteMem32(uintptr_t address, uint32_t value) {
    std::shared_lock lock(m_WindowMutex);
    const Window* window = Mapped(address);
    if (window != nullptr) {
      window->card->Write32(window->bar, static_cast<uint32_t>(address - window->mapped), value);
    }
  }

  bool EnableInterrupts(ThreadHandle* thread, DeviceHandle device, InterruptRecord* record, InterruptRoutine routine,
                        void* argument) {
    if (thread == nullptr || record == nullptr || routine == nullptr) {
      std::fprintf(stderr, "pci: interrupt thread requested without its record or routine\n");
      return false;
    }
    std::lock_guard lock(m_Mutex);
    auto it = m_Registrations.find(record->Handle);
    if (it == m_Registrations.end() || it->second.device != device) {
      std::fprintf(stderr, "pci: interrupt handle %u is not one of this device handle's cards\n", record->Handle);
      return false;
    }
    for (const auto& [key, running] : m_Threads) {
      if (running->registration == record->Handle) {
        std::fprintf(stderr, "pci: the card's interrupt thread already runs\n");
        return false;
      }
    }
    // The thread keeps the bus alive; the registration keeps the card attached until it
    // has stopped the thread.
    std::shared_ptr<IBackend> backend = it->second.backend;
    ICard* card = it->second.card;
    std::shared_ptr<InterruptCount> interrupts = it->second.interrupts;
    if (!card->EnableInterrupt()) {
      return false;
    }
    auto running = std::make_unique<InterruptThread>();
    running->registration = record->Handle;
    running->card = card;
    running->thread = std::jthread([this, backend, card, interrupts, record, routine, argument](std::stop_token stop) {
      detail::PreferRealTime(detail::INTERRUPT_THREAD_PRIORITY);
      while (card->WaitInterrupt(stop)) {
        if ((record->Options & INTERRUPT_CMD_COPY) != 0) {
          for (uint32_t i = 0; i < record->CommandCount; ++i) {
            RunCommand(record->Commands[i]);
          }
        }
        ++record->Count;
        DisplayInfo shown{};
        shown.Interrupts = interrupts->taken.fetch_add(1) + 1;
        routine(argument);
        card->ReadDisplay(shown, nullptr, 0);  // the card's own short lock, nothing more
        interrupts->Announce(shown);
      }
    });
    *thread = reinterpret_cast<ThreadHandle>(running.get());
    m_Threads.emplace(*thread, std::move(running));
    return true;
  }

  std::vector<Location> Held() {
    std::lock_guard lock(m_Mutex);
    std::vector<Location> held;
    for (const auto& [handle, registration] : m_Registrations) {
      held.push_back(registration.location);
    }
    return held;
  }

  // Under the facility's lock, so the card stays attached while it answers; the card's own
  // locks keep the answer short for its interrupt thread.
  bool ReadDisplay(const Location& location, DisplayInfo& info, uint8_t* pixels, size_t capacity) {
    std::lock_guard lock(m_Mutex);
    for (const auto& [handle, registration] : m_Registrations) {
      if (Same(registration.location, location)) {
        registration.card->ReadDisplay(info, pixels, capacity);
        // Counted before its routine runs: a reader that finds it equal to the newest record
        // read before knows no routine ran in between.
        info.Interrupts = registration.interrupts->taken.load();
        return true;
      }
    }
    return false;
  }

  uint64_t WaitInterrupt(const Location& location, uint64_t seen, std::chrono::milliseconds timeout) {
    std::shared_ptr<InterruptCount> interrupts = InterruptsAt(location);
    return interrupts ? interrupts->Wait(seen, timeout) : seen;
  }

  size_t ShownSince(const Location& location, uint64_t seen, DisplayInfo* out, size_t capacity, uint64_t& lost) {
    lost = 0;
    std::shared_ptr<InterruptCount> interrupts = InterruptsAt(location);
    return interrupts ? interrupts->shown.Since(seen, out, capacity, lost) : 0;
  }

  void MakeHeldCardsSafe() {
    std::lock_guard lock(m_Mutex);
    for (const auto& [handle, registration] : m_Registrations) {
      ICard& card = *registration.card;
      for (uint32_t timing : {REG_TIMING_A, REG_TIMING_B}) {
        card.Write32(BOARD_REGISTERS_BAR, timing, card.Read32(BOARD_REGISTERS_BAR, timing) & ~TIMING_GAIN_MASK);
      }
      card.Write32(BOARD_REGISTERS_BAR, REG_CONTROL,
                   card.Read32(BOARD_REGISTERS_BAR, REG_CONTROL) & ~CONTROL_SLM_POWER);
    }
  }

  void DisableInterrupts(ThreadHandle thread) {
    std::unique_ptr<InterruptThread> running;
    {
      std::lock_guard lock(m_Mutex);
      auto it = m_Threads.find(thread);
      if (it == m_Threads.end()) {
        std::fprintf(stderr, "pci: no interrupt thread with that handle\n");
        return;
      }
      if (it->second->thread.get_id() == std::this_thread::get_id()) {
        std::fprintf(stderr, "pci: an interrupt routine cannot stop its own thread\n");
        return;
      }
      running = std::move(it->second);
      m_Threads.erase(it);
    }
    Stop(*running);
  }

 private:
  std::shared_ptr<InterruptCount> InterruptsAt(const Location& location) {
    std::lock_guard lock(m_Mutex);
    for (const auto& [handle, registration] : m_Registrations) {
      if (Same(registration.location, location)) return registration.interrupts;
    }
    return nullptr;
  }

  // The card every memory and I/O item of a resource description belongs to.
  static bool OwnerOf(IBackend& backend, const CardResources& wanted, CardIndex& owner) {
    const uint32_t count = std::min(wanted.ItemCount, MAX_ITEMS);
    for (CardIndex card = 0; card < backend.CardCount(); ++card) {
      bool all = true;
      bool any = false;
      for (uint32_t i = 0; i < count && all; ++i) {
        const ResourceItem& item = wanted.Items[i];
        if (item.Type == ITEM_MEMORY || item.Type == ITEM_IO) {
          uint32_t bar = 0;
          all = backend.BarOf(card, item, bar);
          any = true;
        }
      }
      if (all && any) {
        owner = card;
        return true;
      }
    }
    return false;
  }

  void Release(uint32_t handle) {
    std::vector<std::unique_ptr<InterruptThread>> threads;
    Registration registration;
    {
      std::lock_guard lock(m_Mutex);
      auto it = m_Registrations.find(handle);
      if (it == m_Registrations.end()) {
        return;
      }
      for (auto t = m_Threads.begin(); t != m_Threads.end();) {
        if (t->second->registration == handle) {
          threads.push_back(std::move(t->second));
          t = m_Threads.erase(t);
        } else {
          ++t;
        }
      }
      registration = std::move(it->second);
      m_Registrations.erase(it);
    }
    for (auto& running : threads) {
      Stop(*running);
    }
    {
      std::unique_lock windows(m_WindowMutex);
      std::erase_if(m_Windows, [handle](const Window& w) { return w.registration == handle; });
    }
    Unwind(registration);
  }

  // Gives back what a registration took: mappings, the card, the claim.
  static void Unwind(Registration& registration) {
    for (const Window& window : registration.windows) {
      if (window.memory) {
        registration.card->Unmap(window.mapped, window.size);
      }
    }
    registration.backend->Detach(registration.index);
    detail::DropClaim(registration.claim);
  }

  static void Stop(InterruptThread& running) {
    running.thread.request_stop();
    if (running.thread.get_id() == std::this_thread::get_id()) {
      running.thread.detach();  // released from its own routine: it ends when the routine returns
    } else {
      running.thread.join();
    }
    running.card->DisableInterrupt();
  }

  template <typename Match>
  const Window* Find(bool memory, Match match) const {
    for (const Window& window : m_Windows) {
      if (window.memory == memory && match(window)) {
        return &window;
      }
    }
    return nullptr;
  }

  // The window of the given kind whose transfer addresses hold address, and the offset
  // into it; null, with a word on stderr naming what was attempted, when none does.
  const Window* Decoding(bool memory, uint32_t address, uint32_t& offset, const char* what) const {
    const Window* window = Find(memory, [address](const Window& w) { return Contains(w.transfer, w.size, address); });
    if (window == nullptr) {
      std::fprintf(stderr, "pci: %s at 0x%08x, which no registered card decodes\n", what, address);
      return nullptr;
    }
    offset = address - window->transfer;
    return window;
  }

  const Window* Mapped(uintptr_t address) const {
    const Window* window = Find(true, [address](const Window& w) { return Contains(w.mapped, w.size, address); });
    if (window == nullptr) {
      std::fprintf(stderr, "pci: access to %#lx, which is no mapped space of a registered card\n",
                   static_cast<unsigned long>(address));
    }
    return window;
  }

  void RunCommand(TransferCommand& command) {
    const bool memory = command.Command == READ_MEM32 || command.Command == WRITE_MEM32;
    const bool read = command.Command == READ_MEM32 || command.Command == READ_PORT32;
    if (!memory && command.Command != READ_PORT32 && command.Command != WRITE_PORT32) {
      std::fprintf(stderr, "pci: unknown interrupt-time command %u\n", command.Command);
      return;
    }
    std::shared_lock lock(m_WindowMutex);
    uint32_t offset = 0;
    const Window* window = Decoding(memory, command.Address, offset, "interrupt-time command");
    if (window == nullptr) {
      return;
    }
    if (read) {
      command.Value = window->card->Read32(window->bar, offset);
    } else {
      window->card->Write32(window->bar, offset, command.Value);
    }
  }

  std::mutex m_Mutex;
  std::shared_ptr<IBackend> m_Backend;
  const detail::BackendEntry* m_Entry = nullptr;
  std::string m_Description;
  std::map<DeviceHandle, std::shared_ptr<IBackend>> m_Devices;
  DeviceHandle m_NextDevice = 1;
  std::map<uint32_t, Registration> m_Registrations;
  uint32_t m_NextRegistration = 1;
  std::map<ThreadHandle, std::unique_ptr<InterruptThread>> m_Threads;
  ClaimRefusal m_Refusal;

  std::shared_mutex m_WindowMutex;
  std::vector<Window> m_Windows;
};

Facility& TheFacility() {
  static Facility facility;
  return facility;
}

}  // namespace

namespace detail {

std::shared_ptr<IBackend> CurrentBackend() { return TheFacility().Current(); }
void ForgetBackend() { TheFacility().Forget(); }
const BackendEntry* ServingEntry() { return TheFacility().Serving(); }

}  // namespace detail

DeviceHandle Open() { return TheFacility().Open(); }
void Close(DeviceHandle device) { TheFacility().Close(device); }

uint32_t Version(DeviceHandle device) { return TheFacility().BackendOf(device) ? VERSION : 0; }

uint32_t Scan(DeviceHandle device, uint32_t vendorId, uint32_t deviceId, Location locations[MAX_CARDS]) {
  std::shared_ptr<detail::IBackend> backend = TheFacility().BackendOf(device);
  if (!backend) {
    return 0;
  }
  const std::vector<Location> found = detail::KeepChosen(backend->Scan(vendorId, deviceId));
  const size_t count = std::min<size_t>(found.size(), MAX_CARDS);
  std::copy_n(found.begin(), count, locations);
  return static_cast<uint32_t>(count);
}

bool CardInfo(DeviceHandle device, const Location& location, CardResources& resources) {
  std::shared_ptr<detail::IBackend> backend = TheFacility().BackendOf(device);
  detail::CardIndex card = 0;
  if (!backend || !backend->FindCard(location, card)) {
    return false;
  }
  backend->Resources(card, resources);
  return true;
}

void RegisterCard(DeviceHandle device, RegistrationRecord& record) { TheFacility().Register(device, record); }
void ReleaseCard(DeviceHandle device, RegistrationRecord& record) { TheFacility().Release(device, record); }

uint32_t ConfigRead32(DeviceHandle device, const Location& location, uint32_t offset) {
  return TheFacility().ConfigRead32(device, location, offset);
}

void ConfigWrite32(DeviceHandle device, const Location& location, uint32_t offset, uint32_t value) {
  TheFacility().ConfigWrite32(device, location, offset, value);
}

void Transfer(DeviceHandle device, uint32_t transferAddress, const void* source, uint32_t bytes) {
  if (TheFacility().BackendOf(device)) {
    TheFacility().Transfer(transferAddress, source, bytes);
  }
}

uint32_t ReadMem32(uintptr_t address) { return TheFacility().ReadMem32(address); }
void WriteMem32(uintptr_t address, uint32_t value) { TheFacility().WriteMem32(address, value); }

bool InterruptThreadEnable(ThreadHandle* thread, DeviceHandle device, InterruptRecord* record,
                           InterruptRoutine routine, void* argument) {
  return TheFacility().EnableInterrupts(thread, device, record, routine, argument);
}

void InterruptThreadDisable(ThreadHandle thread) { TheFacility().DisableInterrupts(thread); }

ClaimRefusal LastClaimRefusal() { return TheFacility().LastRefusal(); }

std::vector<Location> RegisteredCards() { return TheFacility().Held(); }

size_t ShownSince(const Location& location, uint64_t seen, DisplayInfo* out, size_t capacity, uint64_t& lost) {
  return TheFacility().ShownSince(location, seen, out, capacity, lost);
}

void FollowInterrupts() { detail::PreferRealTime(detail::INTERRUPT_THREAD_PRIORITY - 1); }

bool ReadDisplay(const Location& location, DisplayInfo& info, uint8_t* pixels, size_t capacity) {
  return TheFacility().ReadDisplay(location, info, pixels, capacity);
}

uint64_t WaitInterrupt(const Location& location, uint64_t seen, std::chrono::milliseconds timeout) {
  return TheFacility().WaitInterrupt(location, seen, timeout);
}

void MakeHeldCardsSafe() { TheFacility().MakeHeldCardsSafe(); }

const char* ServingBackend() {
  const detail::BackendEntry* entry = TheFacility().Serving();
  return entry != nullptr ? entry->name : "none";
}

// The first backend that looks at the host's bus surveys it.
BusListing ListBus() {
  for (const detail::BackendEntry& entry : detail::AllBackends()) {
    if (entry.survey != nullptr) {
      return entry.survey();
    }
  }
  return {};
}

}  // namespace pci
