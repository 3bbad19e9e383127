#pragma once
// What the card received, written into the SORREL_SIM_TRACE folder as it happens: one
// line per register write or delivered interrupt in registers.log (one write(2) each, to
// an append-only file, so a killed process leaves a readable trace) and every written
// frame buffer as stored (.raw) and as shown (.pgm), each replaced whole by a rename.

#include <chrono>
#include <cstdint>
#include <string>

namespace sim {

constexpr const char* TRACE_VARIABLE = "SORREL_SIM_TRACE";

class CSimTrace {
 public:
  CSimTrace() = default;
  CSimTrace(const CSimTrace&) = delete;
  CSimTrace& operator=(const CSimTrace&) = delete;
  ~CSimTrace() { Stop(); }

  // Starts tracing into folder (created when missing); fresh starts an empty log.
  // Times count from epoch.
  void Start(const std::string& folder, bool fresh, std::chrono::steady_clock::time_point epoch);
  void Stop();
  bool Active() const { return m_Log >= 0; }

  void RegisterWrite(uint32_t space, uint32_t offset, uint32_t value);
  void InterruptDelivered();
  void Frame(uint32_t buffer, const uint8_t* stored, const uint8_t* shown, uint32_t width, uint32_t height);

 private:
  void Line(const char* text, int length);
  uint64_t Microseconds() const;

  std::string m_Folder;
  int m_Log = -1;
  std::chrono::steady_clock::time_point m_Epoch;
};

}  // namespace sim
