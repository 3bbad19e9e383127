// The board as scripts open and end it, on the simulated card: opened as the program opens
// it, every refusal in the system's words (a card another process holds names that process),
// values checked before they reach the board, the safe end however the board is left, and
// frames set from phases.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>
#include <thread>

#include "BoardGeometry.h"
#include "Child.h"
#include "PatternFiles.h"
#include "PhaseFrame.h"
#include "ScriptBoard.h"
#include "ScriptMessages.h"
#include "SimFixture.h"
#include "ui/Process.h"

using namespace simtest;
using scripting::CCardHeldError;
using scripting::CScriptBoard;
using scripting::CScriptError;

namespace {

// The register bits and fields the safe end is about, written out here.
constexpr uint32_t SLM_POWER = 1u << 10;
constexpr uint32_t RUN = 1u << 3;
constexpr uint32_t GAIN = 0xFF;

class ScriptBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSleepHook([](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20)); });
    UseBus("kite");
  }
  void TearDown() override { SetSleepHook({}); }

  static StoredSettings Settings() {
    StoredSettings s;
    s.FrameRate = 100;
    s.LaserDuty = 50;
    s.LaserAGain = 200;
    s.LaserBGain = 100;
    s.LC_Type = 1;
    s.TrueFrames = 3;
    return s;
  }
  static uint32_t Register(uint32_t offset) { return sim::testing::PeekRegister(SLOT0, 2, offset); }
};

TEST_F(ScriptBoardTest, OpensAsTheProgramDoesWithTheGivenSettings) {
  CScriptBoard board(Settings());
  EXPECT_STREQ(board.Spec().BoardName, "Kite_SLM");
  EXPECT_EQ(board.ModulatorType(), 1);
  EXPECT_EQ(Register(REG_TIMING_A) & GAIN, 200u);
  EXPECT_EQ(Register(REG_TIMING_B) & GAIN, 100u);
  EXPECT_EQ(board.TrueFrames(), 3);
  EXPECT_EQ(board.Parameters().FrameRate, 100);
  board.Close(false);

  StoredSettings fast = Settings();
  fast.FrameRate = 5000;
  CScriptBoard held(fast);
  EXPECT_EQ(held.Parameters().FrameRate, 1000) << "held to the board's maximum, as start-up holds it";
}

TEST_F(ScriptBoardTest, TheEndLeavesGainsZeroAndPowerOffAndClosesTheCard) {
  {
    CScriptBoard board(Settings());
    std::vector<uint8_t> frame(512 * 512, 7);
    ASSERT_TRUE(board.WriteFrame(0, frame.data()));
    ASSERT_TRUE(board.SetPower(true));
    ASSERT_TRUE(board.Run({0, 0}, true));
    EXPECT_EQ(board.Close(false), "lasers at zero gain, SLM power off");
    EXPECT_EQ(board.Close(false), "") << "a closed board is closed once";
    EXPECT_THROW(board.Select(0), CScriptError);
  }
  EXPECT_EQ(Register(REG_TIMING_A) & GAIN, 0u);
  EXPECT_EQ(Register(REG_TIMING_B) & GAIN, 0u);
  EXPECT_EQ(Register(REG_CONTROL) & (SLM_POWER | RUN), 0u);
  Card again;
  EXPECT_TRUE(again.Ok()) << "the card is free for the next holder";
}

TEST_F(ScriptBoardTest, ABoardLeftOpenEndsSafelyWhenItGoes) {
  {
    CScriptBoard board(Settings());
    ASSERT_TRUE(board.SetPower(true));
  }
  EXPECT_EQ(Register(REG_TIMING_A) & GAIN, 0u);
  EXPECT_EQ(Register(REG_CONTROL) & SLM_POWER, 0u);
}

TEST_F(ScriptBoardTest, KeepingThePowerLeavesTheCardOpenForTheNextBoardOfTheProcess) {
  {
    CScriptBoard board(Settings());
    ASSERT_TRUE(board.SetPower(true));
    EXPECT_EQ(board.Close(true), "lasers at zero gain, SLM power left on");
  }
  EXPECT_NE(Register(REG_CONTROL) & SLM_POWER, 0u);
  EXPECT_EQ(Register(REG_TIMING_A) & GAIN, 0u);
  {
    Card other;
    EXPECT_FALSE(other.Ok()) << "the powered card stays this process's";
  }
  {
    CScriptBoard next(Settings());  // the same modulator type and true frames: taken over
    EXPECT_TRUE(next.Power());
    EXPECT_EQ(Register(REG_TIMING_A) & GAIN, 200u);
  }
  EXPECT_EQ(Register(REG_CONTROL) & SLM_POWER, 0u);

  {
    StoredSettings few = Settings();
    few.TrueFrames = 0;  // start-up holds it to 3
    CScriptBoard board(few);
    ASSERT_TRUE(board.SetPower(true));
    board.Close(true);
  }
  {
    CScriptBoard next(Settings());
    EXPECT_TRUE(next.Power()) << "the same true frames once held: taken over";
  }

  {
    CScriptBoard board(Settings());
    ASSERT_TRUE(board.SetPower(true));
    board.Close(true);
  }
  StoredSettings amplitude = Settings();
  amplitude.LC_Type = 0;
  CScriptBoard rebuilt(amplitude);  // another modulator type: built again, from power off
  EXPECT_FALSE(rebuilt.Power());
  EXPECT_EQ(rebuilt.ModulatorType(), 0);
  EXPECT_EQ(rebuilt.Close(true), "lasers at zero gain, SLM power off") << "nothing to keep when it is off";
}

TEST_F(ScriptBoardTest, ACardAnotherProcessHoldsIsRefusedNamingIt) {
  CHoldingChild holder([](const auto& held) {
    Card card;
    held(card.Ok());
  });
  ASSERT_TRUE(holder.Held());
  try {
    CScriptBoard refused(Settings());
    ADD_FAILURE() << "opened a card another process holds";
  } catch (const CCardHeldError& e) {
    EXPECT_EQ(std::string(e.what()),
              "The card is held by process " + std::to_string(holder.Pid()) + " (" + program_invocation_short_name + ")");
  }
  EXPECT_TRUE(scripting::TakeMessages().empty()) << "the board's own words were folded into the refusal";
  holder.End();
  CScriptBoard now(Settings());
  EXPECT_TRUE(now.IsOpen());
}

TEST_F(ScriptBoardTest, ASecondBoardOfTheSameProcessIsRefusedAndTheFirstKeepsItsCard) {
  CScriptBoard first(Settings());
  EXPECT_THROW(CScriptBoard second(Settings()), CCardHeldError);
  std::vector<uint8_t> frame(512 * 512, 9);
  EXPECT_TRUE(first.WriteFrame(3, frame.data()));
  std::vector<uint8_t> shown;
  ASSERT_TRUE(sim::testing::DecodedFrame(SLOT0, 3, shown));
  EXPECT_EQ(shown, frame);
}

struct Failure {
  const char* bus;
  const char* text;
};

TEST_F(ScriptBoardTest, NoUsableBoardIsRefusedInTheBoardsOwnWords) {
  const Failure failures[] = {
      {"none", "Could not locate PCI board, is the PCI board plugged into computer?"},
      {"kite:held", "There are no available 512 PCI boards to open, is the software already running?"},
      {"other", "The hardware found was not 256 or 512 hardware"},
      {"kite:3v3-low", "3.3 Volt Status Low; INIT Bits 0 0 0 0; SDRAM Bits 19 0 0 0"},
      {"kite:dac-fault", "Could not power the DAC board. Is DAC power cable connected?"},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.bus);
    UseBus(f.bus);
    try {
      CScriptBoard board(Settings());
      ADD_FAILURE() << "opened";
    } catch (const CCardHeldError& e) {
      ADD_FAILURE() << "no process holds the card: " << e.what();
    } catch (const CScriptError& e) {
      EXPECT_EQ(std::string(e.what()), f.text);
    }
  }
  UseBus("kite");
  CScriptBoard after(Settings());
  EXPECT_TRUE(after.IsOpen()) << "a refused open leaves nothing behind";
}

TEST_F(ScriptBoardTest, ValuesTheBoardDoesNotTakeAreRefusedBeforeTheyReachIt) {
  CScriptBoard board(Settings());
  const auto writes = [] { return Register(REG_TIMING_A); };
  const uint32_t before = writes();
  for (const scripting::RunParameters& p : {scripting::RunParameters{0, 50, 10, 10},
                                            scripting::RunParameters{1001, 50, 10, 10},
                                            scripting::RunParameters{100, 101, 10, 10},
                                            scripting::RunParameters{100, 50, 256, 10},
                                            scripting::RunParameters{100, 50, 10, -1}}) {
    EXPECT_THROW(board.SetRunParameters(p), std::invalid_argument);
  }
  EXPECT_EQ(writes(), before);
  EXPECT_EQ(board.Parameters().LaserAGain, 200);
  std::vector<uint8_t> frame(512 * 512);
  EXPECT_THROW(board.WriteFrame(1024, frame.data()), std::out_of_range);
  EXPECT_THROW(board.WriteFrame(-1, frame.data()), std::out_of_range);
  EXPECT_THROW(board.Select(1024), std::out_of_range);
  EXPECT_THROW(board.Run({}, false), std::invalid_argument);
  EXPECT_THROW(board.Run({0, 1024}, false), std::out_of_range);
  EXPECT_THROW(board.Run({-1}, false), std::out_of_range);
  board.SetRunParameters({1000, 0, 255, 0});
  EXPECT_EQ(Register(REG_TIMING_A) & GAIN, 255u);
}

// Phases: a level's phase written out here as 2 pi x level / 256.
constexpr size_t PIXELS = 512 * 512;
constexpr double PI = std::numbers::pi;
float PhaseOf(double level) { return static_cast<float>(2 * PI * level / 256); }

std::vector<uint8_t> Shown(int frame) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(sim::testing::DecodedFrame(SLOT0, static_cast<uint32_t>(frame), bytes));
  return bytes;
}

// Level (3x + 5y) mod 256 at each pixel, its phase 0.3 of a level above it and a few waves
// away (-2 ... 2), so that nothing lands on a rounding edge and every pixel wraps.
int Level(size_t i) { return static_cast<int>((i % 512 * 3 + i / 512 * 5) % 256); }
std::vector<float> Ramp() {
  std::vector<float> phases(PIXELS);
  for (size_t i = 0; i < PIXELS; ++i) phases[i] = PhaseOf(Level(i) + 0.3 + 256.0 * (static_cast<int>(i % 5) - 2));
  return phases;
}

TEST_F(ScriptBoardTest, SetPhaseTakesEachPhaseToTheNearestLevelOfItsWrappedWave) {
  CScriptBoard board(Settings());
  std::vector<float> phases = Ramp();
  // A phase and the level it gives; -pi, 2 pi and 4 pi + x give the level of their wrapped value.
  const std::pair<float, int> edges[] = {
      {0.0f, 0},           {static_cast<float>(PI), 128}, {static_cast<float>(-PI), 128},
      {PhaseOf(256), 0},   {PhaseOf(10.2), 10},           {PhaseOf(512 + 10.2), 10},
      {PhaseOf(10.4), 10}, {PhaseOf(10.6), 11},           {PhaseOf(255.6), 0},
      {PhaseOf(-1), 255},  {PhaseOf(-512 - 0.7), 255},    {static_cast<float>(1000 * PI + PI / 2), 64}};
  for (size_t k = 0; k < std::size(edges); ++k) phases[k] = edges[k].first;
  const size_t huge = std::size(edges);
  phases[huge] = 3.0e38f;  // finite however large: taken, its level whatever its float gives
  ASSERT_TRUE(board.SetPhase(5, phases.data(), "", scripting::PhaseHost{}));
  const std::vector<uint8_t> shown = Shown(5);
  ASSERT_EQ(shown.size(), PIXELS);
  for (size_t k = 0; k < std::size(edges); ++k) EXPECT_EQ(shown[k], edges[k].second) << "phase " << edges[k].first;
  size_t wrong = 0;
  for (size_t i = huge + 1; i < PIXELS; ++i) wrong += shown[i] != Level(i);
  EXPECT_EQ(wrong, 0u);
}

// The levels go through the LUT the wavelength names, each wavelength its own; a wavelength
// without one is refused naming the file, and the frame stays as it was.
TEST_F(ScriptBoardTest, SetPhaseMapsThroughTheLutOfTheWavelength) {
  CTempFolder work;
  ASSERT_EQ(mkdir(work.Path("LUT_Files").c_str(), 0755), 0);
  const std::vector<int> red = ScrambledValues(3), green = ScrambledValues(11);
  WriteLut(work.Path("LUT_Files/633nm.lut"), red);
  WriteLut(work.Path("LUT_Files/532nm.lut"), green);
  WriteText(work.Path("LUT_Files/405nm.lut"), "0 0\n1 1\n");
  const scripting::PhaseHost host{0, nullptr, nullptr, work.Path()};
  CScriptBoard board(Settings());
  const std::vector<float> phases = Ramp();
  for (const auto& [frame, wavelength, table] : {std::tuple{6, "633nm", &red}, std::tuple{7, "532nm", &green}}) {
    ASSERT_TRUE(board.SetPhase(frame, phases.data(), wavelength, host));
    const std::vector<uint8_t> shown = Shown(frame);
    size_t wrong = 0;
    for (size_t i = 0; i < PIXELS; ++i) wrong += shown[i] != (*table)[static_cast<size_t>(Level(i))];
    EXPECT_EQ(wrong, 0u) << wavelength;
  }
  const auto refusal = [&](const std::string& wavelength) {
    try {
      board.SetPhase(6, phases.data(), wavelength, host);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("not refused");
  };
  const std::vector<uint8_t> before = Shown(6);
  EXPECT_EQ(refusal("830nm"), "no LUT file for the wavelength 830nm: " + work.Path("LUT_Files/830nm.lut"));
  EXPECT_EQ(refusal("405nm"), "the LUT file for the wavelength 405nm is not 256 lines \"index value\": " +
                                  work.Path("LUT_Files/405nm.lut"));
  EXPECT_EQ(refusal("../LUT_Files/633nm"),
            "a wavelength is named by letters, digits, '.', '_' and '-' (e.g. 633nm), not '../LUT_Files/633nm'");
  EXPECT_TRUE(Shown(6) == before);
}

// The frame of phases is the frame the program composes from a bitmap of the same levels,
// with the same compensation images and LUT.
TEST_F(ScriptBoardTest, SetPhaseAddsTheCompensationAsTheProgramComposesAPattern) {
  CTempFolder work;
  ASSERT_EQ(mkdir(work.Path("LUT_Files").c_str(), 0755), 0);
  WriteLut(work.Path("LUT_Files/633nm.lut"), ScrambledValues(5));
  WriteSquareBitmap(work.Path("levels.bmp"), 512, 8, [](int y, int x) { return Level(size_t(y) * 512 + size_t(x)); });
  WriteSquareBitmap(work.Path("slm.bmp"), 512, 8, [](int y, int x) { return Noise(y, x) & 0xFF; });
  WriteSquareBitmap(work.Path("sys.bmp"), 512, 8, [](int y, int x) { return Noise(x + 7, y) & 0xFF; });
  StoredSettings settings = Settings();
  settings.ApplyCorrection = 1;
  settings.PhaseCompFileName = work.Path("slm.bmp");
  settings.SysPhaseCompFileName = work.Path("sys.bmp");
  CScriptBoard board(settings);
  const PatternGeometry geometry = BoardGeometry(board.Spec());
  const scripting::Compensation compensation = scripting::StoredCompensation(settings, geometry);

  Image_Entry entry;
  entry.PatternFile = work.Path("levels.bmp");
  entry.LUTFile = work.Path("LUT_Files/633nm.lut");
  std::vector<uint8_t> composed(PIXELS);
  ASSERT_TRUE(scripting::ComposeEntry(entry, composed.data(), geometry, compensation));

  const std::vector<float> phases = Ramp();
  ASSERT_TRUE(board.SetPhase(8, phases.data(), "633nm", scripting::HostWith(compensation, work.Path())));
  EXPECT_TRUE(Shown(8) == composed);
  ASSERT_TRUE(board.SetPhase(9, phases.data(), "633nm", scripting::HostWith({}, work.Path())));
  EXPECT_FALSE(Shown(9) == composed) << "the compensation images change the frame";
}

TEST_F(ScriptBoardTest, PhasesThatAreNotFiniteAreRefusedAndTheFrameStaysAsItWas) {
  CScriptBoard board(Settings());
  std::vector<float> phases = Ramp();
  ASSERT_TRUE(board.SetPhase(2, phases.data(), "", {}));
  const std::vector<uint8_t> before = Shown(2);
  for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity()}) {
    std::vector<float> spoilt = Ramp();
    spoilt[3 * 512 + 7] = bad;
    try {
      board.SetPhase(2, spoilt.data(), "", {});
      ADD_FAILURE() << bad << " was taken";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "the phase at row 3, column 7 is not a finite number");
    }
  }
  EXPECT_THROW(board.SetPhase(1024, phases.data(), "", {}), std::out_of_range);
  EXPECT_TRUE(Shown(2) == before);
}

}  // namespace
