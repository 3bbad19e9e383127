// ExitProcess in the Qt host, called inside a modal run after a message box: the process
// ends with the status asked for, promptly, with its output written and nothing on
// standard error about a crash or objects torn down. Runs a small program for it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
  bool ended = false;  // within the time limit
  int exitCode = -1;   // -1 when it did not exit
  int signal = 0;      // the signal that ended it, if one did
  std::string out;
  std::string err;
};

Outcome RunProgram(std::vector<std::string> args, std::chrono::seconds limit) {
  Outcome o;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return o;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (spawned != 0) {
    close(out[0]);
    close(err[0]);
    return o;
  }

  const auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&o.out, &o.err};
  int open = 2;
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    if (poll(fds, 2, 50) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  o.ended = std::chrono::steady_clock::now() < deadline;
  if (WIFEXITED(status)) o.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) o.signal = WTERMSIG(status);
  for (pollfd& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  return o;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

TEST(QtExitProcess, EndsTheProcessFromInsideAModalRun) {
  for (const char* status : {"0", "7"}) {
    const Outcome o = RunProgram({UI_QT_EXIT_PROBE, status}, std::chrono::seconds(10));
    EXPECT_TRUE(o.ended) << "status " << status;
    EXPECT_EQ(o.signal, 0) << "status " << status;
    EXPECT_EQ(o.exitCode, std::stoi(status));
    EXPECT_EQ(o.out, "answered");
    const std::string err = Lower(o.err);
    for (const char* word : {"qobject", "qthread", "qapplication", "destroy", "crash", "abort", "segmentation",
                             "terminate", "exitprocess returned"}) {
      EXPECT_EQ(err.find(word), std::string::npos) << "standard error: " << o.err;
    }
  }
}

}  // namespace
