#pragma once
// The kernel as it is: each call of the seam is the system call or file access it names.

#include "Kernel.h"

namespace vfio {

class CLinuxKernel final : public IKernel {
 public:
  int Open(const std::string& path, int flags) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* argument) override;
  ssize_t Pread(int fd, void* buffer, size_t bytes, off_t offset) override;
  ssize_t Pwrite(int fd, const void* buffer, size_t bytes, off_t offset) override;
  void* Mmap(size_t length, int protection, int fd, off_t offset) override;
  int Munmap(void* address, size_t length) override;
  int Eventfd() override;
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;
  ssize_t Read(int fd, void* buffer, size_t bytes) override;
  ssize_t Write(int fd, const void* buffer, size_t bytes) override;
  uint32_t Load32(uintptr_t address) override;
  void Store32(uintptr_t address, uint32_t value) override;
  void StoreBlock32(uintptr_t address, const void* source, size_t bytes) override;
  bool ReadText(const std::string& path, std::string& text) override;
  bool ReadLink(const std::string& path, std::string& target) override;
  bool ListFolder(const std::string& path, std::vector<std::string>& names) override;
  bool MayOpen(const std::string& path) override;
};

}  // namespace vfio
