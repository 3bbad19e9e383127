#pragma once
// Shared by the driver tests: each case builds a model board on a simulated bus of its
// own, under the scripted host, with the power-up sleeps shortened. The model values
// below are written out from the boards' documentation, independently of the drivers.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KiteBoard.h"
#include "KiteBoardModel.h"
#include "SimFixture.h"
#include "WrenBoard.h"
#include "WrenBoardModel.h"
#include "ui/Process.h"
#include "ui/ScriptedHost.h"

namespace drvtest {

using namespace simtest;

constexpr uint32_t CONTROL_RUN = 1u << 3;
constexpr uint32_t CONTROL_SLM_POWER = 1u << 10;
constexpr uint32_t CONTROL_PHASE = 1u << 11;

struct SetupIds {
  int Template, Amplitude, Phase, ToggleRate, TrueFrames, DriverVersion, ControlVersion, MemoryVersion,
      SerialNumber, Presence, BoardId, Bus, Slot, DeviceId, VendorId, DetA, DetB, OkButton;
};

struct Kite {
  using Board = CKiteBoard;
  static constexpr auto BoardSpec = kite::BoardSpec;
  static constexpr auto ToStoredOrder = kite::ToStoredOrder;
  static constexpr auto WriteFrameFrom = kite::WriteFrameFrom;
  static constexpr const char* Card = "kite";
  static constexpr uint32_t ReorderId = 0x00, PlainId = 0x01;
  static constexpr uint32_t MaxFrames = 1024, Width = 512, Height = 512, Run = 16, FieldBits = 10;
  static constexpr uint32_t FrameTime = 1641, DownloadInterrupts = 3;
  static constexpr double ToggleK = 3282;
  static constexpr const char* PresetToggleRate = "1015.6409";
  static constexpr const char* SetupCaption = "512x512 SLM Driver Board Setup";
  static constexpr const char* NoBoards =
      "There are no available 512 PCI boards to open, is the software already running?";
  static constexpr SetupIds Ids{1,   1004, 1005, 1008, 1010, 146,  147,  148,  101,
                                145, 1016, 1057, 1059, 1060, 1058, 1013, 1014, 1012};
};

struct Wren {
  using Board = CWrenBoard;
  static constexpr auto BoardSpec = wren::BoardSpec;
  static constexpr auto ToStoredOrder = wren::ToStoredOrder;
  static constexpr auto WriteFrameFrom = wren::WriteFrameFrom;
  static constexpr const char* Card = "wren";
  static constexpr uint32_t ReorderId = 0x40, PlainId = 0x41;
  static constexpr uint32_t MaxFrames = 4096, Width = 256, Height = 256, Run = 8, FieldBits = 12;
  static constexpr uint32_t FrameTime = 1644, DownloadInterrupts = 2;
  static constexpr double ToggleK = 3288;
  static constexpr const char* PresetToggleRate = "1013.7875";
  static constexpr const char* SetupCaption = "256x256 SLM Driver Board Setup";
  static constexpr const char* NoBoards =
      "There are no available 256 PCI boards to open, is the software already running?";
  static constexpr SetupIds Ids{1004, 1025, 1026, 1027, 1028, 1035, 1036, 1037, 1033,
                                1034, 1044, 1029, 1030, 1031, 1032, 1040, 1041, 1043};
};

// Image frames for a rate, rounded half up, in whole numbers: 10^7 / (rate * FrameTime).
inline uint32_t ImageFrames(uint32_t rate, uint32_t frameTime) {
  const uint64_t d = uint64_t{rate} * frameTime;
  return static_cast<uint32_t>((2 * 10000000ull + d) / (2 * d));
}

struct Timing {
  uint32_t h, t1, f1, t2, f2;
};

// The timing registers' contents, in sixteenths of a board frame, for duties whose
// fractions are exact in binary (multiples of 25 %).
inline Timing ExpectedTiming(uint32_t rate, uint32_t duty, uint32_t frameTime, bool phase, uint32_t trueFrames) {
  uint32_t h = ImageFrames(rate, frameTime);
  if (phase) {
    h = (h + trueFrames - 1) / trueFrames * trueFrames;
    if ((h / trueFrames) % 2) h += trueFrames;
    const uint32_t off16 = 16 * h * (100 - duty) / 100;  // off time in sixteenths
    const uint32_t half = h / 2;
    if (off16 < 16 * half) return {h, off16 / 16, off16 % 16, 0, 0};
    return {h, half, 0, off16 / 16 - half, off16 % 16};
  }
  h += h % 2;
  const uint32_t each16 = 8 * h * (100 - duty) / 100;
  return {h, each16 / 16, each16 % 16, each16 / 16, each16 % 16};
}

inline uint32_t FieldOf(uint32_t value, int shift, uint32_t bits) { return (value >> shift) & ((1u << bits) - 1); }

template <class M>
class BoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Host = &CScriptedHost::Install();
    SetSleepHook([this](unsigned ms) {
      m_Sleeps.push_back(ms);
      std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20));
    });
  }
  void TearDown() override {
    m_Board.reset();
    SetSleepHook({});
  }

  // A fresh bus; with a trace folder the card logs what it receives.
  void Bus(const std::string& description, const std::filesystem::path* trace = nullptr) {
    UseBus(description.c_str());
    if (trace) setenv("SORREL_SIM_TRACE", trace->c_str(), 1);
  }
  std::string Card(const char* options = "") { return std::string(M::Card) + options; }

  // Builds this test's model board on the bus; the claim flag is returned.
  bool Build(uint16_t modulatorType = 0, uint16_t trueFrames = 3) {
    bool claimed = false;
    m_Board.reset();  // one board per library at a time, as in the program
    m_Board = std::make_unique<typename M::Board>(modulatorType, trueFrames, &claimed);
    return claimed;
  }
  // The run of a fast board: 1000 images a second.
  void BuildFast(const char* options = "") {
    Bus(Card(options));
    ASSERT_TRUE(Build());
    m_Board->SetRunParameters(1000, 50, 0, 0);
  }

  uint32_t Peek(uint32_t offset, pci::Location at = SLOT0) { return sim::testing::PeekRegister(at, 2, offset); }
  uint32_t ImageField() { return FieldOf(Peek(REG_FRAME_SELECT), 0, M::FieldBits); }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : m_Host->Messages()) texts.push_back(m.text);
    return texts;
  }
  SRun_Status Status() {
    SRun_Status s{0xFFFF, 0xFFFF, 0xFFFF};
    EXPECT_EQ(m_Board->GetRunStatus(&s), 1);
    return s;
  }

  CScriptedHost* m_Host = nullptr;
  std::unique_ptr<typename M::Board> m_Board;
  std::vector<unsigned> m_Sleeps;
};

using Models = ::testing::Types<Kite, Wren>;

class ModelNames {
 public:
  template <class M>
  static std::string GetName(int) {
    return M::Card;
  }
};

}  // namespace drvtest
