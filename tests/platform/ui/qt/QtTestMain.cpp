// Qt host tests run on the offscreen platform, so no display is needed, inside the
// host's own application set-up.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/QtHost.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RunWithQtHost(argc, argv, [] { return RUN_ALL_TESTS(); });
}
