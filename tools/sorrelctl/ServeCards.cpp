// A card's board library keeps its state per process, so one process serves one card: each
// card gets a worker, this tool executed anew (/proc/self/exe) as a serve of that card alone,
// with its safe end, limits and group. Workers are started by fork and exec from this process
// while it has no thread of its own.

#include "ServeCards.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "ServiceSocket.h"
#include "Terminal.h"
#include "pci/Facility.h"

namespace sorrelctl {

namespace {

struct SWorker {
  std::string Card;  // its address, as pci::CardAddress writes it
  std::string Socket;
};

std::vector<SWorker> Workers(const std::vector<std::string>& cards, const std::string& first) {
  std::vector<SWorker> workers;
  for (const std::string& card : cards) {
    const std::string address = pci::ChoiceAddress(card);
    if (address.empty()) {
      const std::string why = pci::ChooseCard(card);
      throw CUsageError(why.empty() ? "serve: with several cards each --card is a PCI address, which names its "
                                      "socket, not the slot number " + card
                                    : "--card: " + why);
    }
    const auto same = std::find_if(workers.begin(), workers.end(), [&](const SWorker& w) { return w.Card == address; });
    if (same != workers.end()) {
      throw CUsageError("serve: --card " + cards[same - workers.begin()] + " and --card " + card +
                        " name the same card");
    }
    workers.push_back({address, workers.empty() ? first : service::CardSocketPath(first, address)});
  }
  return workers;
}

// The worker's process; -1 when none could be made.
pid_t Start(const std::vector<std::string>& command, const sigset_t& mask, const std::string& card) {
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // The worker ends safely with this process; if this process ended already, it never starts.
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(1);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  execv("/proc/self/exe", argv.data());
  dprintf(STDERR_FILENO, "sorrelctl: serve: cannot start the worker of card %s: %s\n", card.c_str(),
          std::strerror(errno));
  _exit(1);
}

// Ended with status 0, or by a termination signal after its safe end.
bool Clean(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status) == 0;
  const int signal = WTERMSIG(status);
  return signal == SIGTERM || signal == SIGINT || signal == SIGHUP;
}

std::string HowEnded(int status) {
  return WIFEXITED(status) ? "with status " + std::to_string(WEXITSTATUS(status))
                           : std::string("by SIG") + sigabbrev_np(WTERMSIG(status));
}

}  // namespace

int ServeCards(const COptions& options, const std::string& first) {
  const std::vector<SWorker> workers = Workers(options.Values("--card"), first);
  const std::vector<std::string> common = options.OptionsWithout({"--card", "--socket"});
  sigset_t watched, before;
  sigemptyset(&watched);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&watched, signal);
  // Held from before the first worker starts, so none comes between a start and the wait.
  sigprocmask(SIG_BLOCK, &watched, &before);
  std::map<pid_t, const SWorker*> running;
  bool clean = true;
  for (const SWorker& worker : workers) {
    std::vector<std::string> command = {"sorrelctl", "serve"};
    command.insert(command.end(), common.begin(), common.end());
    command.insert(command.end(), {"--card", worker.Card, "--socket", worker.Socket});
    if (const pid_t pid = Start(command, before, worker.Card); pid > 0) {
      running[pid] = &worker;
    } else {
      Say("serve: cannot start the worker of card " + worker.Card + ": " + std::strerror(errno));
      clean = false;
    }
  }
  // A card that is not served (absent, busy, its worker gone) leaves the others served.
  bool ending = false;
  while (!running.empty()) {
    const int signal = sigwaitinfo(&watched, nullptr);
    if (signal != SIGCHLD) {
      if (signal < 0) continue;
      ending = true;
      for (const auto& [pid, worker] : running) kill(pid, signal);
      continue;
    }
    int status = 0;
    for (pid_t pid; (pid = waitpid(-1, &status, WNOHANG)) > 0;) {
      const auto ended = running.find(pid);
      if (ended == running.end()) continue;
      if (!Clean(status)) {
        clean = false;
        const std::string others = !ending && running.size() > 1 ? "; the other cards are still served" : "";
        Say("serve: card " + ended->second->Card + " is not served: its worker ended " + HowEnded(status) + others);
      }
      running.erase(ended);
    }
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
  return clean ? 0 : 1;
}

}  // namespace sorrelctl
