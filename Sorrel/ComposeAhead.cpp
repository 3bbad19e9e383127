#include "ComposeAhead.h"

#include <algorithm>
#include <chrono>
#include <new>

namespace {

// How long a wait spins before it sleeps. Waking a thread whose core has gone idle costs
// tens of microseconds on some machines, about as long as the composition it waits for.
constexpr std::chrono::microseconds SPIN_TIME{200};
constexpr size_t MOST_LANES = 2;  // more only wait for the card and the memory

}  // namespace

// One thread and two frames: it composes into one while the caller holds the other.
class CComposeAhead::CLane {
 public:
  CLane(size_t frameBytes, const ComposeFunction& compose) : m_Compose(compose) {
    for (int i = 0; i < 2; ++i) {
      m_Frames[i] = cpu::NewAlignedBytes(frameBytes, std::nothrow);
      m_Slots[i].frame = m_Frames[i].get();
    }
    if (Ready()) m_Worker = std::jthread([this] { Work(); });
  }
  ~CLane() { Stop(); }

  bool Ready() const { return m_Frames[0] != nullptr && m_Frames[1] != nullptr; }

  void Start(const Image_Entry& entry) {
    if (!Ready() || WaitWhile(PENDING) == STOPPED) return;
    Composed& slot = m_Slots[m_Next];
    slot.entry = entry;
    slot.bitCount = 0;
    slot.messages.clear();
    m_State.store(PENDING, std::memory_order_release);
    m_State.notify_all();
  }

  Composed& Take() {
    WaitWhile(PENDING);
    Composed& slot = m_Slots[m_Next];
    m_Next ^= 1;
    return slot;
  }

  void Stop() {
    WaitWhile(PENDING);
    m_State.store(STOPPED, std::memory_order_release);
    m_State.notify_all();
    if (m_Worker.joinable()) m_Worker.join();
  }

 private:
  enum : int { IDLE, PENDING, STOPPED };

  // Spins a while, then sleeps, until the state is no longer state; returns the new one.
  int WaitWhile(int state) {
    const auto until = std::chrono::steady_clock::now() + SPIN_TIME;
    int now = m_State.load(std::memory_order_acquire);
    while (now == state && std::chrono::steady_clock::now() < until) {
      std::this_thread::yield();
      now = m_State.load(std::memory_order_acquire);
    }
    while (now == state) {
      m_State.wait(state, std::memory_order_acquire);
      now = m_State.load(std::memory_order_acquire);
    }
    return now;
  }

  void Work() {
    while (WaitWhile(IDLE) == PENDING) {
      Composed& slot = m_Slots[m_Next];
      HoldMessagesOnThisThread(&slot.messages);
      m_Compose(slot.entry, slot.frame, slot.bitCount);
      HoldMessagesOnThisThread(nullptr);
      // Stop waits for this frame, so nothing else changes the state meanwhile.
      m_State.store(IDLE, std::memory_order_release);
      m_State.notify_all();
    }
  }

  const ComposeFunction& m_Compose;
  cpu::AlignedBytes m_Frames[2];
  Composed m_Slots[2];
  int m_Next = 0;  // the slot Start fills and Take hands out; changed only while not PENDING
  std::atomic<int> m_State{IDLE};  // PENDING: slot m_Next is being composed
  std::jthread m_Worker;
};

size_t CComposeAhead::LanesForThisMachine() {
  const size_t cores = std::thread::hardware_concurrency();
  return std::clamp<size_t>(cores, 1, MOST_LANES);
}

CComposeAhead::CComposeAhead(size_t frameBytes, ComposeFunction compose, size_t lanes)
    : m_Compose(std::move(compose)) {
  for (size_t i = 0; i < std::max<size_t>(lanes, 1); ++i) m_Lanes.push_back(std::make_unique<CLane>(frameBytes, m_Compose));
}

CComposeAhead::~CComposeAhead() { Stop(); }

bool CComposeAhead::Ready() const {
  return std::all_of(m_Lanes.begin(), m_Lanes.end(), [](const auto& lane) { return lane->Ready(); });
}

void CComposeAhead::Start(const Image_Entry& entry) { m_Lanes[m_Started++ % m_Lanes.size()]->Start(entry); }

CComposeAhead::Composed& CComposeAhead::Take() { return m_Lanes[m_Taken++ % m_Lanes.size()]->Take(); }

void CComposeAhead::Stop() {
  for (auto& lane : m_Lanes) lane->Stop();
}
