#include "Claims.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pci::detail {

std::string ClaimFolder() {
  std::string folder;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
    folder = std::string(runtime) + "/sorrel-pci";
  } else {
    folder = "/tmp/sorrel-pci-" + std::to_string(getuid());
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "pci: cannot create the claim folder %s: %s\n", folder.c_str(), std::strerror(errno));
    return {};
  }
  if (lstat(folder.c_str(), &st) != 0) {
    std::fprintf(stderr, "pci: cannot examine the claim folder %s: %s\n", folder.c_str(), std::strerror(errno));
    return {};
  }
  // Someone else's folder, or one others can write into, could hand us their lock files.
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    std::fprintf(stderr,
                 "pci: refusing the claim folder %s: it must be a directory owned by this user and "
                 "writable by nobody else\n",
                 folder.c_str());
    return {};
  }
  return folder;
}

int TakeClaim(const std::string& name) {
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
    if (errno != EWOULDBLOCK) {
      std::fprintf(stderr, "pci: cannot lock the claim %s: %s\n", path.c_str(), std::strerror(errno));
    }
    close(fd);
    return -1;
  }
  return fd;
}

void DropClaim(int fd) {
  if (fd >= 0) {
    close(fd);  // closing the last descriptor drops the lock
  }
}

}  // namespace pci::detail
