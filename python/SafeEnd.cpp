#include "SafeEnd.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "CoreCalls.h"
#include "CardBoard.h"
#include "ScriptMessages.h"
#include "ui/Signals.h"

namespace sorrelpy {
namespace {

constexpr int GUARDED[] = {SIGTERM, SIGHUP};

// Core held.
std::vector<CCardBoard*> g_Boards;
int g_SignalReadFd = -1;

// What the signal handler touches.
std::atomic<int> g_SignalWriteFd{-1};
std::atomic<pid_t> g_Guardian{0};  // the process whose thread waits for the signals

void OnSignal(int signal) {
  const int saved = errno;
  if (getpid() != g_Guardian.load()) {
    // A child that has not dropped its parent's guard yet: what the default would do.
    ::signal(signal, SIG_DFL);
    raise(signal);  // delivered once this handler returns
  } else {
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe already holds a signal, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = write(g_SignalWriteFd.load(), &number, 1);
  }
  errno = saved;
}

void EndHeld(const std::string& why) {
  for (CCardBoard* board : g_Boards) {
    const std::string left = board->EndHeld();
    for (const scripting::ScriptMessage& m : scripting::TakeMessages()) {
      std::fprintf(stderr, "sorrel: %s\n", m.Text.c_str());
    }
    if (!left.empty()) std::fprintf(stderr, "sorrel: %s: %s\n", why.c_str(), left.c_str());
  }
}

void AwaitSignal(int readFd) {
  unsigned char number = 0;
  ssize_t got = 0;
  do {
    got = read(readFd, &number, 1);
  } while (got < 0 && errno == EINTR);
  if (got != 1) return;
  // Kept to the end: nothing reaches a board once it has been made safe.
  CoreMutex().lock();
  EndHeld(std::string("ended by SIG") + sigabbrev_np(number));
  EndByTerminationSignal(number);
}

// In a forked child: no boards, no waiting thread, the signals at their default again.
void ForgetInChild() {
  g_Boards.clear();
  for (const int signal : GUARDED) {
    struct sigaction now {};
    if (sigaction(signal, nullptr, &now) == 0 && now.sa_handler == OnSignal) ::signal(signal, SIG_DFL);
  }
  if (g_SignalReadFd >= 0) {
    close(g_SignalReadFd);
    close(g_SignalWriteFd.exchange(-1));
    g_SignalReadFd = -1;
  }
}

[[maybe_unused]] const int g_AtFork = pthread_atfork(nullptr, nullptr, ForgetInChild);

}  // namespace

void Remember(CCardBoard& board) { g_Boards.push_back(&board); }

void Forget(CCardBoard& board) { std::erase(g_Boards, &board); }

void EndOpenBoards(const std::string& why) {
  std::lock_guard lock(CoreMutex());
  EndHeld(why);
}

void GuardTerminationSignals() {
  if (g_SignalReadFd < 0) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      std::fprintf(stderr, "sorrel: cannot watch for SIGTERM and SIGHUP: %s\n", std::strerror(errno));
      return;
    }
    g_SignalReadFd = fds[0];
    g_SignalWriteFd.store(fds[1]);
    g_Guardian.store(getpid());
    std::thread(AwaitSignal, fds[0]).detach();
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : GUARDED) sigaddset(&action.sa_mask, signal);
  action.sa_flags = SA_RESTART;
  for (const int signal : GUARDED) {
    struct sigaction now {};
    // A handler the script chose stays its own.
    if (sigaction(signal, nullptr, &now) == 0 && (now.sa_flags & SA_SIGINFO) == 0 && now.sa_handler == SIG_DFL) {
      sigaction(signal, &action, nullptr);
    }
  }
}

}  // namespace sorrelpy
