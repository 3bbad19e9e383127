#pragma once
// The one seam between the VFIO backend and the kernel: every system call the backend
// makes, its loads and stores on mapped card memory, and its reading of sysfs. The backend
// holds one; tests hand it a stand-in that serves simulated cards the way vfio-pci would.

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vfio {

class IKernel {
 public:
  virtual ~IKernel() = default;

  // As the system calls of the same names: -1 (MAP_FAILED for Mmap) with errno set.
  virtual int Open(const std::string& path, int flags) = 0;
  virtual int Close(int fd) = 0;
  virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
  virtual ssize_t Pread(int fd, void* buffer, size_t bytes, off_t offset) = 0;
  virtual ssize_t Pwrite(int fd, const void* buffer, size_t bytes, off_t offset) = 0;
  // A shared mapping of a device file at offset; with fd -1 an inaccessible reservation.
  virtual void* Mmap(size_t length, int protection, int fd, off_t offset) = 0;
  virtual int Munmap(void* address, size_t length) = 0;
  // A non-blocking, close-on-exec eventfd counting from 0.
  virtual int Eventfd() = 0;
  virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
  virtual ssize_t Read(int fd, void* buffer, size_t bytes) = 0;
  virtual ssize_t Write(int fd, const void* buffer, size_t bytes) = 0;

  // 32-bit loads and stores on mapped card memory; a block goes as 32-bit units in order.
  virtual uint32_t Load32(uintptr_t address) = 0;
  virtual void Store32(uintptr_t address, uint32_t value) = 0;
  virtual void StoreBlock32(uintptr_t address, const void* source, size_t bytes) = 0;

  // sysfs: a small text file whole, where a link points, the names in a folder. False
  // with errno set when the file, link or folder cannot be read.
  virtual bool ReadText(const std::string& path, std::string& text) = 0;
  virtual bool ReadLink(const std::string& path, std::string& target) = 0;
  virtual bool ListFolder(const std::string& path, std::vector<std::string>& names) = 0;
  // Whether this process may open the file for reading and writing; errno says why not.
  virtual bool MayOpen(const std::string& path) = 0;
};

}  // namespace vfio
