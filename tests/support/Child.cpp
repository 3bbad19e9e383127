#include "Child.h"

#include <grp.h>
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

bool DropToOrdinaryUser() {
  return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(NOBODY) == 0 && setuid(NOBODY) == 0);
}

bool LimitFileSize(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{bytes, bytes};
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

CHoldingChild::CHoldingChild(const Take& take) {
  int ready[2];
  if (pipe(ready) != 0) return;
  m_Pid = fork();
  if (m_Pid == 0) {
    take([fd = ready[1]](bool got) {
      const char state = got ? 'y' : 'n';
      if (write(fd, &state, 1) != 1) _exit(2);
      for (;;) pause();  // until killed
    });
    _exit(1);  // take returned without saying
  }
  close(ready[1]);
  char state = 0;
  m_Held = m_Pid > 0 && read(ready[0], &state, 1) == 1 && state == 'y';
  close(ready[0]);
}

void CHoldingChild::End() {
  if (m_Pid <= 0) return;
  kill(m_Pid, SIGKILL);
  waitpid(m_Pid, nullptr, 0);
  m_Pid = -1;
}
