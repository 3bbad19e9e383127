#pragma once
// The calls one client may make: a bucket of one second's worth, refilled at the rate, so a
// burst after a quiet moment passes and a steady flood above the rate does not.

#include <algorithm>
#include <chrono>

namespace service {

class CCallBudget {
 public:
  using Clock = std::chrono::steady_clock;

  explicit CCallBudget(int perSecond) : m_Rate(perSecond), m_Left(perSecond), m_At(Clock::now()) {}

  // One call taken from the budget; false when none is left.
  bool Take(Clock::time_point now) {
    m_Left = std::min(m_Rate, m_Left + m_Rate * std::chrono::duration<double>(now - m_At).count());
    m_At = now;
    if (m_Left < 1) return false;
    m_Left -= 1;
    return true;
  }

 private:
  double m_Rate;
  double m_Left;
  Clock::time_point m_At;
};

}  // namespace service
