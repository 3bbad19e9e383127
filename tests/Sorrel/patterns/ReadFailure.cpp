#include "ReadFailure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>

namespace {

std::atomic<bool> s_Armed{false};
dev_t s_Device = 0;
ino_t s_Inode = 0;
int s_FirstFailing = 0;
std::atomic<int> s_Reads{0};

}  // namespace

extern "C" ssize_t __real_read(int fd, void* buffer, size_t count);

extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
  struct stat st;
  if (s_Armed.load() && ::fstat(fd, &st) == 0 && st.st_dev == s_Device && st.st_ino == s_Inode &&
      ++s_Reads >= s_FirstFailing) {
    errno = EIO;
    return -1;
  }
  return __real_read(fd, buffer, count);
}

CFailingReads::CFailingReads(const std::string& path, int firstFailing) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("no file " + path);
  s_Device = st.st_dev;
  s_Inode = st.st_ino;
  s_FirstFailing = firstFailing;
  s_Reads = 0;
  s_Armed = true;
}

CFailingReads::~CFailingReads() { s_Armed = false; }

int CFailingReads::Reads() const { return s_Reads.load(); }
