#include "Child.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace {
constexpr uid_t NOBODY = 65534;
}

int InChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool DropToOrdinaryUser() { return geteuid() != 0 || (setgid(NOBODY) == 0 && setuid(NOBODY) == 0); }

bool LimitFileSize(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{bytes, bytes};
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}
