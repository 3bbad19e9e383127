#include "files/ReplaceFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "files/SafePath.h"

namespace {

bool WriteAll(int fd, std::initializer_list<std::string_view> pieces) {
  for (std::string_view piece : pieces) {
    while (!piece.empty()) {
      const ssize_t n = ::write(fd, piece.data(), piece.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        return false;
      }
      piece.remove_prefix(static_cast<size_t>(n));
    }
  }
  return true;
}

off_t TotalSize(std::initializer_list<std::string_view> pieces) {
  off_t size = 0;
  for (std::string_view piece : pieces) size += static_cast<off_t>(piece.size());
  return size;
}

// Closes fd; false when the close reports a failure (the last chance to hear of a write
// the file system could not keep).
bool CloseChecked(int fd) { return ::close(fd) == 0; }

// Temporary files left by saves whose process is gone (killed in the middle, say) are
// removed before another is made beside them, so they never pile up. Only names this code
// gives are touched, and only while no process of that id lives.
void RemoveStaleTemporaries(int folder) {
  const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
  if (dir == nullptr) {
    if (listed >= 0) ::close(listed);
    return;
  }
  const int errorBefore = errno;
  while (const dirent* entry = ::readdir(dir)) {
    unsigned pid = 0, serial = 0;
    int end = 0;
    if (std::sscanf(entry->d_name, ".sorrel-%x-%x.tmp%n", &pid, &serial, &end) != 2 || entry->d_name[end] != '\0') {
      continue;
    }
    const pid_t owner = static_cast<pid_t>(pid);
    if (owner <= 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
    ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
  errno = errorBefore;
}

// A new file in folder under a short name of its own, so that a target whose name is as
// long as the file system allows still has room beside it.
int CreateTemporary(int folder, std::string& temp) {
  static std::atomic<unsigned> counter{0};
  RemoveStaleTemporaries(folder);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    // Named for the process that writes it, as RemoveStaleTemporaries reads the name.
    std::snprintf(name, sizeof name, ".sorrel-%x-%x.tmp", static_cast<unsigned>(::getpid()), counter++);
    temp = name;
    const int fd = ::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The owner, group and mode of the file being replaced; owner and group only where this
// process may give them away, the group alone where it may at least keep that.
bool TakeOver(int fd, const struct stat& old) {
  if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  }
  // After the owner: a change of owner clears the set-id bits.
  return ::fchmod(fd, old.st_mode & 07777) == 0;
}

bool RewriteInPlace(const CFileSpot& spot, std::initializer_list<std::string_view> pieces) {
  const int fd = ::openat(spot.Folder(), spot.Name().c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, pieces) && ::ftruncate(fd, TotalSize(pieces)) == 0 && ::fsync(fd) == 0;
  const int failure = errno;
  if (!CloseChecked(fd) && ok) return false;
  errno = failure;
  return ok;
}

}  // namespace

bool ReplaceFile(const std::string& target, std::initializer_list<std::string_view> pieces) {
  CFileSpot spot;
  if (!spot.Find(target)) return false;
  const int folder = spot.Folder();
  const char* name = spot.Name().c_str();
  struct stat old {};
  const bool exists = ::fstatat(folder, name, &old, AT_SYMLINK_NOFOLLOW) == 0;

  std::string temp;
  const int fd = CreateTemporary(folder, temp);
  if (fd < 0) {
    const int refused = errno;
    const bool writableInPlace = exists && S_ISREG(old.st_mode) &&
                                 (refused == EACCES || refused == EPERM || refused == ENAMETOOLONG);
    if (writableInPlace) return RewriteInPlace(spot, pieces);
    errno = refused;
    return false;
  }
  bool ok = WriteAll(fd, pieces);
  if (ok && exists) ok = TakeOver(fd, old);
  if (ok) ok = ::fsync(fd) == 0;
  int failure = errno;
  if (!CloseChecked(fd) && ok) {
    ok = false;
    failure = errno;
  }
  // A rename replaces whatever has the name by then, a link included, and never follows it.
  if (ok && ::renameat(folder, temp.c_str(), folder, name) != 0) {
    ok = false;
    failure = errno;
  }
  if (!ok) {
    ::unlinkat(folder, temp.c_str(), 0);
    errno = failure;
    return false;
  }
  // The rename itself lasts only once the folder is on disk.
  const int dir = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}
