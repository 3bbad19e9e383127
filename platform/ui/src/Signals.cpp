#include "ui/Signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <utility>

namespace {

constexpr int WATCHED[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t WATCHED_COUNT = sizeof WATCHED / sizeof WATCHED[0];

static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may touch only lock-free atomics");

// The only state the signal handler touches.
std::atomic<int> g_Pending{0};  // first signal recorded, 0 for none
std::atomic<int> g_WakeFd{-1};  // write end of the self-pipe

struct SelfPipe {
  int read = -1;
  int write = -1;
};

const SelfPipe& ThePipe() {
  static const SelfPipe pipe = [] {
    SelfPipe p;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
      p.read = fds[0];
      p.write = fds[1];
    } else {
      std::perror("ui: termination signal pipe");
    }
    return p;
  }();
  return pipe;
}

// User-interface thread only.
struct Watch {
  std::function<void(int)> handler;
  bool watching = false;
  bool delivering = false;
  struct sigaction previous[WATCHED_COUNT] = {};
};

Watch& TheWatch() {
  static Watch watch;
  return watch;
}

void OnTerminationSignal(int signal) {
  const int savedErrno = errno;
  int none = 0;
  g_Pending.compare_exchange_strong(none, signal);
  const char wake = 1;
  // A full pipe already holds a wake-up, so a failed write loses nothing.
  [[maybe_unused]] const ssize_t written = write(g_WakeFd.load(), &wake, 1);
  errno = savedErrno;
}

void DrainPipe() {
  char bytes[64];
  while (read(ThePipe().read, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace

void WatchTerminationSignals(std::function<void(int signal)> handler) {
  Watch& w = TheWatch();
  w.handler = std::move(handler);
  if (w.watching) return;
  g_WakeFd.store(ThePipe().write);
  struct sigaction action = {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  for (int s : WATCHED) sigaddset(&action.sa_mask, s);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < WATCHED_COUNT; ++i) sigaction(WATCHED[i], &action, &w.previous[i]);
  w.watching = true;
}

void StopWatchingTerminationSignals() {
  Watch& w = TheWatch();
  if (w.watching) {
    for (size_t i = 0; i < WATCHED_COUNT; ++i) sigaction(WATCHED[i], &w.previous[i], nullptr);
    w.watching = false;
  }
  w.handler = nullptr;
  g_Pending.store(0);
}

int PendingTerminationSignal() { return g_Pending.load(); }

bool DeliverPendingTerminationSignal() {
  DrainPipe();
  Watch& w = TheWatch();
  if (w.delivering) return false;
  const int signal = g_Pending.load();
  if (signal == 0) return false;
  // Copied: the handler may replace itself or stop watching.
  const std::function<void(int)> handler = w.handler;
  // Consumed when the handler is done, however it ends, so that signals arriving while it
  // runs are absorbed by the one it is handling.
  struct Consume {
    Watch& w;
    ~Consume() {
      w.delivering = false;
      g_Pending.store(0);
    }
  } consume{w};
  w.delivering = true;
  if (!handler) return false;
  handler(signal);
  return true;
}

void EndByTerminationSignal(int signal) {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::fflush(nullptr);
  raise(signal);
  // A signal whose default is not to end the process still ends it.
  _exit(128 + signal);
}

int TerminationSignalFd() { return ThePipe().read; }
