#pragma once
// Shared by the facility, simulated-card and bridge tests: every case starts on a fresh
// simulated bus of its own choosing, with claims kept in a folder of this process only
// (ctest runs test processes side by side).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SimTesting.h"
#include "pci/Facility.h"

namespace simtest {

constexpr uint32_t PLX_VENDOR = 0x10B5;
constexpr uint32_t PLX_DEVICE = 0x9050;

// Board registers and bits as the card defines them, written out here independently.
constexpr uint32_t REG_CONTROL = 0x00;
constexpr uint32_t REG_STATUS = 0x04;
constexpr uint32_t REG_FRAME_SELECT = 0x08;
constexpr uint32_t REG_FRAME_COUNTS = 0x0C;
constexpr uint32_t REG_TIMING_A = 0x10;
constexpr uint32_t REG_TIMING_B = 0x14;
constexpr uint32_t REG_INT_ACK = 0x24;
constexpr uint32_t REG_CONTROL_VERSION = 0x2C;
constexpr uint32_t REG_SDRAM0 = 0x30;
constexpr uint32_t INTCSR = 0x4C;
constexpr uint32_t INTCSR_ENABLE = 0x40;

// First card of a bus.
constexpr pci::Location SLOT0{1, 0, 0};

// Without a description the process's usual choice decides: the test's own empty sysfs
// holds no real card, so the default simulated bus serves whatever cards the machine has.
inline void UseBus(const char* description) {
  sim::testing::UsePrivateClaimFolder();
  if (description != nullptr) {
    setenv("SORREL_SIM", description, 1);
  } else {
    unsetenv("SORREL_SIM");
    setenv("SORREL_SYSFS_ROOT", "/nonexistent/sorrel-test-sysfs", 1);
  }
  unsetenv("SORREL_SIM_TRACE");
  sim::testing::ResetBus();
}

// Polls until done() or the limit; for board latencies that run on their own clock.
template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// The byte order the drivers' reorder produces (run = 16 Kite, 8 Wren): in each group of
// four runs, output byte 4k + j is input byte run*j + k.
inline std::vector<uint8_t> Interleave(const std::vector<uint8_t>& picture, uint32_t run) {
  std::vector<uint8_t> stored(picture.size());
  for (size_t group = 0; group < picture.size(); group += 4 * run) {
    for (uint32_t j = 0; j < 4; ++j) {
      for (uint32_t k = 0; k < run; ++k) {
        stored[group + 4 * k + j] = picture[group + run * j + k];
      }
    }
  }
  return stored;
}

// A picture whose every byte depends on its position, so any misplaced byte shows.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<uint8_t>((i * 131 + (i >> 9) * 7 + seed * 29) & 0xFF);
  }
  return bytes;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One card of the current bus, registered through the facility for the test's scope.
class Card {
 public:
  explicit Card(const pci::Location& location = SLOT0) {
    m_Device = pci::Open();
    if (m_Device != pci::INVALID_DEVICE && pci::CardInfo(m_Device, location, m_Record.Resources)) {
      pci::RegisterCard(m_Device, m_Record);
    }
  }
  Card(const Card&) = delete;
  Card& operator=(const Card&) = delete;
  ~Card() {
    if (m_Record.RegistrationHandle != 0) {
      pci::ReleaseCard(m_Device, m_Record);
    }
    pci::Close(m_Device);
  }
  bool Ok() const { return m_Record.RegistrationHandle != 0; }
  uint32_t Read(uint32_t offset) const { return pci::ReadMem32(Mapped(2) + offset); }
  void Write(uint32_t offset, uint32_t value) const { pci::WriteMem32(Mapped(2) + offset, value); }
  uint32_t ReadBridge(uint32_t offset) const { return pci::ReadMem32(Mapped(0) + offset); }
  void WriteBridge(uint32_t offset, uint32_t value) const { pci::WriteMem32(Mapped(0) + offset, value); }
  void WriteFrame(const std::vector<uint8_t>& bytes) const {
    pci::Transfer(m_Device, Transfer(3), bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  pci::DeviceHandle Device() const { return m_Device; }
  const pci::RegistrationRecord& Record() const { return m_Record; }
  // Addresses of the n-th resource item (BAR0, BAR1 I/O, BAR2, BAR3, interrupt).
  uintptr_t Mapped(int item) const { return static_cast<uintptr_t>(m_Record.Resources.Items[item].Memory.MappedAddress); }
  uint32_t Transfer(int item) const { return m_Record.Resources.Items[item].Memory.TransferAddress; }
  uint32_t InterruptHandle() const { return m_Record.Resources.Items[4].Interrupt.Handle; }

 private:
  pci::DeviceHandle m_Device = pci::INVALID_DEVICE;
  pci::RegistrationRecord m_Record{};
};

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/sorrel-test-XXXXXX";
    m_Path = mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(m_Path); }
  const std::filesystem::path& Path() const { return m_Path; }

 private:
  std::filesystem::path m_Path;
};

// Space-2 register writes of a registers.log, as (offset, value).
inline std::vector<std::pair<uint32_t, uint32_t>> BoardWrites(const std::filesystem::path& log) {
  std::istringstream in(ReadFile(log));
  std::vector<std::pair<uint32_t, uint32_t>> writes;
  std::string line;
  while (std::getline(in, line)) {
    unsigned long long us = 0;
    unsigned space = 0, offset = 0, value = 0;
    if (std::sscanf(line.c_str(), "%llu W %u %x %x", &us, &space, &offset, &value) == 4 && space == 2) {
      writes.emplace_back(offset, value);
    }
  }
  return writes;
}

}  // namespace simtest
