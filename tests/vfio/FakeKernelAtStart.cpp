// Linked into a test program, starts it with the stand-in kernel when SORREL_TEST_KERNEL is
// "fake": the program's tests then reach the simulated cards through the VFIO backend.

#include <cstdlib>
#include <cstring>

#include "VfioTesting.h"

namespace {

[[maybe_unused]] const bool g_FakeKernel = [] {
  const char* kernel = std::getenv(vfio::testing::KERNEL_VARIABLE);
  if (kernel == nullptr || std::strcmp(kernel, "fake") != 0) {
    return false;
  }
  vfio::testing::UseFakeKernel();
  return true;
}();

}  // namespace
