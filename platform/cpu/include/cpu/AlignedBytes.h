#pragma once
// Frame-sized buffers that start on a cache line (or a page), so the vector paths and the
// frame copies meet every buffer the system allocates at the same alignment.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace cpu {

constexpr size_t CACHE_LINE = 64;
constexpr size_t PAGE = 4096;

struct AlignedDelete {
  std::align_val_t alignment{CACHE_LINE};
  void operator()(uint8_t* bytes) const { ::operator delete[](bytes, alignment); }
};
using AlignedBytes = std::unique_ptr<uint8_t[], AlignedDelete>;

// count bytes, uninitialised, at the given power-of-two alignment; throws std::bad_alloc as
// new does when there is no memory, or gives null with std::nothrow.
inline AlignedBytes NewAlignedBytes(size_t count, size_t alignment = CACHE_LINE) {
  const std::align_val_t align{alignment};
  return AlignedBytes(static_cast<uint8_t*>(::operator new[](count, align)), AlignedDelete{align});
}
inline AlignedBytes NewAlignedBytes(size_t count, const std::nothrow_t&, size_t alignment = CACHE_LINE) {
  const std::align_val_t align{alignment};
  return AlignedBytes(static_cast<uint8_t*>(::operator new[](count, align, std::nothrow)), AlignedDelete{align});
}

// The allocator of a std::vector whose data starts on a cache line.
template <class T>
struct CacheLineAllocator {
  using value_type = T;
  CacheLineAllocator() = default;
  template <class U>
  CacheLineAllocator(const CacheLineAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t{CACHE_LINE})); }
  void deallocate(T* p, size_t) { ::operator delete(p, std::align_val_t{CACHE_LINE}); }
  template <class U>
  bool operator==(const CacheLineAllocator<U>&) const {
    return true;
  }
};

using FrameVector = std::vector<uint8_t, CacheLineAllocator<uint8_t>>;

}  // namespace cpu
