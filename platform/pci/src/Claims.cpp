#include "Claims.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace pci::detail {

namespace {

// A folder named by the environment, used only when it is this user's own: a root process
// run with another user's environment must not leave its folders there.
std::string OwnFolderNamedBy(const char* variable) {
  const char* folder = std::getenv(variable);
  struct stat st {};
  if (folder == nullptr || folder[0] != '/' || stat(folder, &st) != 0 || !S_ISDIR(st.st_mode) ||
      st.st_uid != getuid()) {
    return {};
  }
  return folder;
}

// Where claims may live, best first. Every process of a user walks the same list, so they
// agree on the folder.
std::vector<std::string> CandidateFolders() {
  std::vector<std::string> candidates;
  const std::string runtime = OwnFolderNamedBy("XDG_RUNTIME_DIR");
  if (!runtime.empty()) {
    candidates.push_back(runtime + "/sorrel-pci");
  }
  const char* temporary = std::getenv("TMPDIR");
  const std::string shared = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
  candidates.push_back(shared + "/sorrel-pci-" + std::to_string(getuid()));
  const std::string home = OwnFolderNamedBy("HOME");
  if (!home.empty()) {
    candidates.push_back(home + "/.sorrel-pci");
  }
  return candidates;
}

// The candidate made or taken as it is; empty when it cannot serve, with the reason and
// the way out on stderr.
std::string UsableFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "pci: cannot create the claim folder %s: %s\n", folder.c_str(), std::strerror(errno));
    return {};
  }
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) {
    std::fprintf(stderr, "pci: cannot examine the claim folder %s: %s\n", folder.c_str(), std::strerror(errno));
    return {};
  }
  // Someone else's folder, or one others can write into, could hand us their lock files.
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    std::fprintf(stderr,
                 "pci: not using the claim folder %s: it must be a directory owned by this user (uid %u) and "
                 "writable by nobody else, and it is %s owned by uid %u with mode %04o; its owner or root may "
                 "remove it (rm -r '%s') once no Sorrel of that user runs\n",
                 folder.c_str(), static_cast<unsigned>(getuid()), S_ISDIR(st.st_mode) ? "a directory" : "no directory",
                 static_cast<unsigned>(st.st_uid), static_cast<unsigned>(st.st_mode & 07777), folder.c_str());
    return {};
  }
  return folder;
}

}  // namespace

std::string ClaimFolder() {
  for (const std::string& candidate : CandidateFolders()) {
    std::string folder = UsableFolder(candidate);
    if (!folder.empty()) {
      return folder;
    }
  }
  std::fprintf(stderr, "pci: no claim folder can be used, so no card can be claimed\n");
  return {};
}

namespace {

constexpr size_t HOLDER_RECORD_LIMIT = 256;

// The descriptors that hold this process's claims. A lock lives as long as any descriptor
// of it, and a forked child gets copies: the child closes its copies at once, so a claim
// is never held by a process that did not take it.
struct HeldClaims {
  std::mutex mutex;
  std::vector<int> fds;

  HeldClaims() {
    pthread_atfork([] { Held().mutex.lock(); }, [] { Held().mutex.unlock(); },
                   [] {
                     HeldClaims& held = Held();
                     for (const int fd : held.fds) close(fd);
                     held.fds.clear();
                     held.mutex.unlock();
                   });
  }
  // Never destroyed: the facility drops its claims at process end, after other statics are gone.
  static HeldClaims& Held() {
    static HeldClaims& held = *new HeldClaims;
    return held;
  }
};

// The holder's record: its process id and program name on one line.
void RecordHolder(int fd) {
  std::string record = std::to_string(getpid()) + " " + program_invocation_short_name + "\n";
  if (ftruncate(fd, 0) != 0 || pwrite(fd, record.data(), record.size(), 0) != static_cast<ssize_t>(record.size())) {
    std::fprintf(stderr, "pci: cannot record this process with its claim: %s\n", std::strerror(errno));
  }
}

// The record a live holder left; unknown when there is none yet or its process has ended.
ClaimHolder ReadHolder(int fd) {
  char text[HOLDER_RECORD_LIMIT];
  const ssize_t got = pread(fd, text, sizeof text - 1, 0);
  ClaimHolder holder;
  if (got <= 0) {
    return holder;
  }
  text[got] = '\0';
  char* rest = nullptr;
  const long pid = std::strtol(text, &rest, 10);
  if (pid <= 0 || pid > INT32_MAX || *rest != ' ' || (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) {
    return holder;
  }
  holder.ProcessId = static_cast<int>(pid);
  for (const char* c = rest + 1; *c != '\0' && *c != '\n'; ++c) {
    holder.Program += (*c >= 0x20 && *c != 0x7F) ? *c : '?';
  }
  return holder;
}

}  // namespace

int TakeClaim(const std::string& name, bool& refused, ClaimHolder& holder) {
  HeldClaims& held = HeldClaims::Held();
  std::lock_guard lock(held.mutex);  // no fork between taking a claim and listing it
  refused = false;
  holder = {};
  const std::string folder = ClaimFolder();
  if (folder.empty()) {
    return -1;
  }
  const std::string path = folder + "/" + name;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    std::fprintf(stderr, "pci: cannot open the claim %s: %s\n", path.c_str(), std::strerror(errno));
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      refused = true;
      holder = ReadHolder(fd);
    } else {
      std::fprintf(stderr, "pci: cannot lock the claim %s: %s\n", path.c_str(), std::strerror(errno));
    }
    close(fd);
    return -1;
  }
  RecordHolder(fd);
  held.fds.push_back(fd);
  return fd;
}

void DropClaim(int fd) {
  HeldClaims& held = HeldClaims::Held();
  std::lock_guard lock(held.mutex);
  // A claim this process got by a fork was closed then; its number may name another file now.
  if (std::erase(held.fds, fd) != 0) {
    close(fd);  // closing the last descriptor drops the lock
  }
}

}  // namespace pci::detail
