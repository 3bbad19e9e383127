#include "RegStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/ReplaceFile.h"
#include "files/SafePath.h"

namespace {

constexpr const char* DEFAULT_FOLDER = "/var/lib/sorrel";
constexpr const char* FILE_NAME = "sorrel.reg";
constexpr const char* TOO_LARGE = "larger than 1 MiB";
constexpr const char* LOCK_NAME = "sorrel.lock";
constexpr mode_t FOLDER_MODE = 0775;  // the operators' group may save too
constexpr mode_t LOCK_MODE = 0660;    // the operators' group may lock; nobody else may open it
constexpr int LOCK_WAIT_MS = 10000;
constexpr int LOCK_POLL_MS = 2;

std::string StoreFolder() {
  const char* folder = std::getenv("SORREL_REGISTRY");
  return folder != nullptr && folder[0] != '\0' ? folder : DEFAULT_FOLDER;
}

// Why the store could not be read or saved, with the errno that tells whether rights
// were missing.
struct Failure {
  int error = 0;
  std::string reason;
};

Failure FromErrno(const char* what = "") {
  const int error = errno;
  return {error, what + FileErrorText(error)};
}

// The lock is a file of its own that only the operators' group may open, so no other user
// can hold it and keep the group waiting. It is made by the first save, given the folder's
// group.
class CStoreLock {
 public:
  CStoreLock(const std::string& folder, int operation, bool make) {
    const std::string path = folder + "/" + LOCK_NAME;
    m_fd = OpenSafely(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0 && errno == ENOENT) {
      int missing = ENOENT;
      if (make) {
        m_fd = MakeLock(path, folder);
        missing = errno;
      }
      // A folder that takes no new file has no lock: the store there can only be rewritten
      // in place, and its own lock guards that.
      if (m_fd < 0 && (missing == ENOENT || missing == EACCES || missing == EPERM || missing == EROFS)) {
        m_fd = OpenSafely(folder + "/" + FILE_NAME, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0) {
          m_Failure = {missing, FileErrorText(missing)};  // nothing to guard; the folder says why
          return;
        }
      }
    }
    if (m_fd < 0) {
      m_Failure = FromErrno("its lock cannot be opened: ");
      return;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      m_Failure = {EINVAL, "its lock is not a regular file"};
      return;
    }
    for (int waited = 0; ::flock(m_fd, operation | LOCK_NB) != 0; waited += LOCK_POLL_MS) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        m_Failure = FromErrno("its lock cannot be taken: ");
        return;
      }
      if (waited >= LOCK_WAIT_MS) {
        m_Failure = {EWOULDBLOCK, "another process kept its lock"};
        return;
      }
      ::usleep(LOCK_POLL_MS * 1000);
    }
    m_bHeld = true;
  }
  ~CStoreLock() {
    if (m_fd >= 0) ::close(m_fd);
  }
  CStoreLock(const CStoreLock&) = delete;
  CStoreLock& operator=(const CStoreLock&) = delete;

  bool Held() const { return m_bHeld; }
  const Failure& Failed() const { return m_Failure; }

 private:
  // A new lock file, or the one another process made meanwhile.
  static int MakeLock(const std::string& path, const std::string& folder) {
    const int fd = OpenSafely(path, O_RDONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, LOCK_MODE);
    if (fd < 0) return errno == EEXIST ? OpenSafely(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) (void)!::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    ::fchmod(fd, LOCK_MODE);  // not narrowed by the umask
    return fd;
  }

  int m_fd = -1;
  bool m_bHeld = false;
  Failure m_Failure;
};

// Reads the store's file whole; no file is no bytes, also where a folder of its path is a
// file (nothing to read there; the save says why it cannot write). Only a regular file is
// read, so a pipe or a folder in its place can neither hang nor confuse the reader.
bool ReadStoreFile(const std::string& path, std::string& bytes, Failure& failure) {
  bytes.clear();
  const int fd = OpenSafely(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return true;
    failure = FromErrno();
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    failure = {EINVAL, "not a regular file"};
  } else if (st.st_size > static_cast<off_t>(MAX_STORE_SIZE)) {
    failure = {EFBIG, TOO_LARGE};
  } else {
    // Room for one byte more than the file has tells a file that grew meanwhile; it may
    // grow up to one byte more than the limit, which tells a file too large.
    bytes.resize(static_cast<size_t>(st.st_size) + 1);
    size_t done = 0;
    for (;;) {
      if (done == bytes.size()) {
        if (done > MAX_STORE_SIZE) break;
        bytes.resize(std::min(2 * done, MAX_STORE_SIZE + 1));
      }
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failure = FromErrno();
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    if (failure.error == 0 && done > MAX_STORE_SIZE) failure = {EFBIG, TOO_LARGE};
  }
  ::close(fd);
  if (failure.error != 0) bytes.clear();
  return failure.error == 0;
}

// Makes the folder and any missing folder above it; false with errno when it cannot.
bool MakeFolder(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), FOLDER_MODE) == 0) {
      ::chmod(part.c_str(), FOLDER_MODE);  // not narrowed by the umask
    } else {
      const int error = errno;
      struct stat st {};
      if (::stat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        errno = error == EEXIST ? ENOTDIR : error;
        return false;
      }
    }
    if (slash == std::string::npos) return true;
  }
}

LONG Refuse(const std::string& path, const Failure& failure) {
  std::fprintf(stderr, "Settings not saved to %s: %s\n", path.c_str(), failure.reason.c_str());
  const int error = failure.error;
  const bool denied = error == EACCES || error == EPERM || error == EROFS || error == EPLANTEDLINK;
  return denied ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED;
}

}  // namespace

std::string StoreFilePath() { return StoreFolder() + "/" + FILE_NAME; }

CRegDocument ReadStore() {
  // Shared, so that a file being rewritten in place is not read half-done; a store whose
  // lock cannot be had is read all the same.
  const CStoreLock lock(StoreFolder(), LOCK_SH, false);
  const std::string path = StoreFilePath();
  std::string bytes;
  Failure failure;
  if (!ReadStoreFile(path, bytes, failure))
    std::fprintf(stderr, "Settings not read from %s: %s\n", path.c_str(), failure.reason.c_str());
  return CRegDocument(std::move(bytes));
}

LONG SaveKey(const std::string& key, const std::vector<RegValue>& changes) {
  const std::string folder = StoreFolder();
  const std::string path = StoreFilePath();
  if (!MakeFolder(folder)) return Refuse(path, FromErrno("its folder cannot be made: "));
  const CStoreLock lock(folder, LOCK_EX, true);
  if (!lock.Held()) return Refuse(path, lock.Failed());

  std::string bytes;
  Failure failure;
  if (!ReadStoreFile(path, bytes, failure)) return Refuse(path, failure);
  const CRegDocument document(std::move(bytes));
  if (changes.empty() && document.HasKey(key)) return ERROR_SUCCESS;  // nothing to add
  const std::string text = document.SavedText(key, changes);
  if (text.size() > MAX_STORE_SIZE) return Refuse(path, {EFBIG, std::string("it would become ") + TOO_LARGE});
  if (!ReplaceFile(path, {text})) return Refuse(path, FromErrno());
  return ERROR_SUCCESS;
}
