#pragma once
// Threads that stand for hardware timing (the card's engine, the interrupt thread) must not
// wait behind ordinary work, or the board's interrupts merge. Where the system allows it
// they run ahead of ordinary threads; elsewhere they stay as they are.

#include <pthread.h>
#include <sched.h>

namespace pci::detail {

// The simulated card's engine stands for the board's own clock, so it runs above the
// interrupt thread that answers it.
constexpr int INTERRUPT_THREAD_PRIORITY = 10;
constexpr int SIM_ENGINE_PRIORITY = INTERRUPT_THREAD_PRIORITY + 10;

inline void PreferRealTime(int priority) {
  sched_param param{};
  param.sched_priority = priority;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace pci::detail
