#include "ComposeAhead.h"

#include <chrono>
#include <new>

namespace {

// How long a wait spins before it sleeps. Waking a thread whose core has gone idle costs
// tens of microseconds on some machines, about as long as the composition it waits for.
constexpr std::chrono::microseconds SPIN_TIME{1000};

}  // namespace

CComposeAhead::CComposeAhead(size_t frameBytes, ComposeFunction compose) : m_Compose(std::move(compose)) {
  for (int i = 0; i < 2; ++i) {
    m_Frames[i] = cpu::NewAlignedBytes(frameBytes, std::nothrow);
    m_Slots[i].frame = m_Frames[i].get();
  }
  if (Ready()) m_Worker = std::jthread([this] { Work(); });
}

CComposeAhead::~CComposeAhead() { Stop(); }

int CComposeAhead::WaitWhile(int state) {
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

void CComposeAhead::Start(const Image_Entry& entry) {
  if (!Ready() || WaitWhile(PENDING) == STOPPED) return;
  Composed& slot = m_Slots[m_Next];
  slot.entry = entry;
  slot.bitCount = 0;
  slot.messages.clear();
  m_State.store(PENDING, std::memory_order_release);
  m_State.notify_all();
}

CComposeAhead::Composed& CComposeAhead::Take() {
  WaitWhile(PENDING);
  Composed& slot = m_Slots[m_Next];
  m_Next ^= 1;
  return slot;
}

void CComposeAhead::Stop() {
  WaitWhile(PENDING);
  m_State.store(STOPPED, std::memory_order_release);
  m_State.notify_all();
  if (m_Worker.joinable()) m_Worker.join();
}

void CComposeAhead::Work() {
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
