#include "LinuxKernel.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vfio {
namespace {

// sysfs attributes are at most a page; anything longer is not one of them.
constexpr size_t MAX_TEXT = 65536;

}  // namespace

int CLinuxKernel::Open(const std::string& path, int flags) { return open(path.c_str(), flags | O_CLOEXEC); }

int CLinuxKernel::Close(int fd) { return close(fd); }

int CLinuxKernel::Ioctl(int fd, unsigned long request, void* argument) { return ioctl(fd, request, argument); }

ssize_t CLinuxKernel::Pread(int fd, void* buffer, size_t bytes, off_t offset) {
  return pread(fd, buffer, bytes, offset);
}

ssize_t CLinuxKernel::Pwrite(int fd, const void* buffer, size_t bytes, off_t offset) {
  return pwrite(fd, buffer, bytes, offset);
}

void* CLinuxKernel::Mmap(size_t length, int protection, int fd, off_t offset) {
  if (fd < 0) {
    return mmap(nullptr, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  }
  return mmap(nullptr, length, protection, MAP_SHARED, fd, offset);
}

int CLinuxKernel::Munmap(void* address, size_t length) { return munmap(address, length); }

int CLinuxKernel::Eventfd() { return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

int CLinuxKernel::Poll(pollfd* fds, nfds_t count, int timeoutMs) { return poll(fds, count, timeoutMs); }

ssize_t CLinuxKernel::Read(int fd, void* buffer, size_t bytes) { return read(fd, buffer, bytes); }

ssize_t CLinuxKernel::Write(int fd, const void* buffer, size_t bytes) { return write(fd, buffer, bytes); }

uint32_t CLinuxKernel::Load32(uintptr_t address) { return *reinterpret_cast<const volatile uint32_t*>(address); }

void CLinuxKernel::Store32(uintptr_t address, uint32_t value) {
  *reinterpret_cast<volatile uint32_t*>(address) = value;
}

// One 32-bit store per unit, in address order: the bridge's local bus is 32 bits wide and
// a copy routine's wider or reordered stores are not what the card expects.
void CLinuxKernel::StoreBlock32(uintptr_t address, const void* source, size_t bytes) {
  auto* target = reinterpret_cast<volatile uint32_t*>(address);
  const auto* from = static_cast<const uint8_t*>(source);
  for (size_t done = 0; done + 4 <= bytes; done += 4) {
    uint32_t value = 0;
    std::memcpy(&value, from + done, 4);
    target[done / 4] = value;
  }
}

bool CLinuxKernel::ReadText(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  text.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0 || text.size() + static_cast<size_t>(got) > MAX_TEXT) {
      const int error = got < 0 ? errno : EFBIG;
      close(fd);
      errno = error;
      return false;
    }
    if (got == 0) {
      break;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return true;
}

bool CLinuxKernel::ReadLink(const std::string& path, std::string& target) {
  char buffer[4096];
  const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
  if (length < 0) {
    return false;
  }
  if (static_cast<size_t>(length) == sizeof buffer) {
    errno = ENAMETOOLONG;
    return false;
  }
  target.assign(buffer, static_cast<size_t>(length));
  return true;
}

bool CLinuxKernel::ListFolder(const std::string& path, std::vector<std::string>& names) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    return false;
  }
  names.clear();
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  closedir(dir);
  return true;
}

bool CLinuxKernel::MayOpen(const std::string& path) { return access(path.c_str(), R_OK | W_OK) == 0; }

}  // namespace vfio
