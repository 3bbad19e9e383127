#pragma once
// Test support for the VFIO backend: a stand-in kernel that serves the simulated cards of
// SORREL_SIM through sysfs and vfio-pci's files, regions and interrupt semantics, so the
// drivers can be run through the backend without hardware. For tests and benchmarks only.

#include <cstdint>
#include <string>

#define VFIO_TEST_API __attribute__((visibility("default")))

namespace vfio::testing {

// Set in the environment of a test program, "fake" makes the program start with the stand-in
// kernel (see the test-support library that reads it).
constexpr const char* KERNEL_VARIABLE = "SORREL_TEST_KERNEL";

// How the machine differs from a well set-up one. All but the first apply to the first card.
struct FakeOptions {
  bool noIommu = false;             // no IOMMU: every group is the no-IOMMU mode's noiommu-N
  bool sharedIrq = false;           // another device sits on its interrupt line: the kernel refuses the line
  bool groupNotViable = false;      // another device of its group is bound to a sound driver
  std::string driver = "vfio-pci";  // the driver bound to it; empty: none
};

// What the stand-in kernel has seen of all its cards since it was made.
struct FakeCounts {
  uint32_t openFiles = 0;           // its files (container, groups, devices, sysfs) still open
  uint32_t mappedBars = 0;          // bit n: BAR n of some card is mapped now
  uint64_t fileAccesses[6] = {};    // BAR accesses through the device file
  uint64_t mappedAccesses[6] = {};  // BAR accesses through a mapping
  uint64_t signalled = 0;           // interrupts signalled on an eventfd
  uint64_t unmasks = 0;             // unmask requests
  uint64_t heldWhileMasked = 0;     // signals that waited for an unmask: the card asserted its line while masked
};

// From the next pci::Open on, the VFIO backend serves the bus SORREL_SIM describes through
// the stand-in kernel; SORREL_SIM no longer turns the backend away.
VFIO_TEST_API void UseFakeKernel(const FakeOptions& options = {});
// Back to the real kernel and the usual choice of backend.
VFIO_TEST_API void UseRealKernel();
// The counts of the stand-in kernel of the current bus; all zero when there is none.
VFIO_TEST_API FakeCounts KernelCounts();

}  // namespace vfio::testing
