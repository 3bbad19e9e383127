#pragma once
// The whole program in real windows (offscreen platform) on the simulated card.

#include <chrono>
#include <functional>
#include <thread>

#include "ProgramFixture.h"
#include "ui/QtHostTesting.h"

namespace progtest {

class QtProgramTest : public ProgramTest {
 protected:
  QtProgramTest() : ProgramTest(false) {}
  void Show(CDialog& dlg) override { QtHostTesting::Open(dlg); }
  void TearDown() override {
    if (m_Dlg) QtHostTesting::Close(*m_Dlg);
    ProgramTest::TearDown();
  }
  // Lets the event loop and the board run for a while.
  static void RunFor(std::chrono::milliseconds span, const std::function<void()>& each = {}) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
      QtHostTesting::ProcessEvents();
      if (each) each();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
};

}  // namespace progtest
