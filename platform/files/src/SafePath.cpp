#include "files/SafePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>

namespace {

constexpr int LINK_LIMIT = 40;  // as the kernel allows on one path

bool Trusted(uid_t owner) { return owner == ::geteuid() || owner == 0; }

// A link may be followed when its owner is trusted, or when nobody untrusted could have
// put it where it is.
bool MayFollow(const struct stat& link, int folder) {
  if (Trusted(link.st_uid)) return true;
  struct stat st {};
  if (::fstat(folder, &st) != 0) return false;
  return Trusted(st.st_uid) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

void PrependParts(const std::string& path, std::deque<std::string>& parts) {
  std::deque<std::string> ahead;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) ahead.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  parts.insert(parts.begin(), ahead.begin(), ahead.end());
}

int OpenStart(const std::string& path) {
  return ::open(!path.empty() && path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Replaces *fd by next (closing the old one); false when next is no descriptor.
bool MoveTo(int& fd, int next) {
  const int error = errno;
  ::close(fd);
  fd = next;
  errno = error;
  return fd >= 0;
}

}  // namespace

std::string FileErrorText(int error) {
  if (error == EPLANTEDLINK) {
    return "it is reached through a symbolic link that another user could have planted, "
           "which is not followed (remove the link, or name the file itself)";
  }
  return std::strerror(error);
}

CFileSpot::~CFileSpot() {
  if (m_Folder >= 0) ::close(m_Folder);
}

bool CFileSpot::Find(const std::string& path) {
  if (m_Folder >= 0) ::close(m_Folder);
  m_Name.clear();
  auto fail = [this](int error) {
    MoveTo(m_Folder, -1);
    errno = error;
    return false;
  };
  if (path.empty()) return fail(ENOENT);
  m_Folder = OpenStart(path);
  if (m_Folder < 0) return false;
  std::deque<std::string> parts;
  PrependParts(path, parts);
  int links = 0;
  while (!parts.empty()) {
    const std::string part = std::move(parts.front());
    parts.pop_front();
    if (part == ".") continue;
    struct stat st {};
    if (::fstatat(m_Folder, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || !parts.empty()) return fail(errno);
      m_Name = part;  // a new file
      return true;
    }
    if (S_ISLNK(st.st_mode)) {
      if (!MayFollow(st, m_Folder)) return fail(EPLANTEDLINK);
      if (++links > LINK_LIMIT) return fail(ELOOP);
      char target[PATH_MAX];
      const ssize_t length = ::readlinkat(m_Folder, part.c_str(), target, sizeof target);
      if (length < 0) return fail(errno);
      if (length == 0 || static_cast<size_t>(length) >= sizeof target) return fail(ENAMETOOLONG);
      const std::string followed(target, static_cast<size_t>(length));
      if (followed[0] == '/' && !MoveTo(m_Folder, OpenStart(followed))) return fail(errno);
      PrependParts(followed, parts);
      continue;
    }
    if (parts.empty()) {
      m_Name = part;
      return true;
    }
    // Never through a link put there since the look above.
    if (!MoveTo(m_Folder, ::openat(m_Folder, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)))
      return fail(errno);
  }
  return fail(EISDIR);  // the path names a folder, not a file in it
}

int OpenSafely(const std::string& path, int flags, mode_t mode) {
  CFileSpot spot;
  if (!spot.Find(path)) return -1;
  return ::openat(spot.Folder(), spot.Name().c_str(), flags | O_NOFOLLOW, mode);
}
