#pragma once
// Cases run once on each vector path: a path this processor cannot run is reported skipped.

#include <gtest/gtest.h>

#include <string>

#include "cpu/Paths.h"

template <class Base = ::testing::Test>
class OnEveryPath : public Base, public ::testing::WithParamInterface<cpu::Path> {
 protected:
  void SetUp() override {
    Base::SetUp();
    if (!cpu::ProcessorRuns(GetParam())) GTEST_SKIP() << "this processor cannot run the " << cpu::PathName(GetParam()) << " path";
  }
  cpu::Path Path() const { return GetParam(); }
  int Index() const { return static_cast<int>(GetParam()); }
};

inline std::string PathCaseName(const ::testing::TestParamInfo<cpu::Path>& info) { return cpu::PathName(info.param); }

#define INSTANTIATE_ON_EVERY_PATH(Suite) \
  INSTANTIATE_TEST_SUITE_P(Path, Suite, ::testing::ValuesIn(cpu::PATHS), PathCaseName)
