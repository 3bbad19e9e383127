#include <gtest/gtest.h>

#include <cstdlib>

#include "Child.h"
#include "cpu/Paths.h"

namespace {

// The path a fresh process chooses with SORREL_CPU set to value (unset when null).
cpu::Path ChosenWith(const char* value) {
  const int status = InChild([value] {
    if (value == nullptr) {
      unsetenv("SORREL_CPU");
    } else {
      setenv("SORREL_CPU", value, 1);
    }
    return static_cast<int>(cpu::ChosenPath());
  });
  return static_cast<cpu::Path>(status);
}

cpu::Path Best() {
  cpu::Path best = cpu::Path::Portable;
  for (cpu::Path path : cpu::PATHS)
    if (cpu::ProcessorRuns(path)) best = path;
  return best;
}

// Unset or unknown, the best path the processor runs; otherwise the lower of the two, so a
// machine is never asked for instructions it lacks.
TEST(CpuPaths, SorrelCpuCapsTheChoice) {
  EXPECT_EQ(ChosenWith(nullptr), Best());
  EXPECT_EQ(ChosenWith("fastest"), Best());
  EXPECT_EQ(ChosenWith("portable"), cpu::Path::Portable);
  for (cpu::Path path : cpu::PATHS)
    EXPECT_EQ(ChosenWith(cpu::PathName(path)), std::min(path, Best())) << cpu::PathName(path);
}

}  // namespace
