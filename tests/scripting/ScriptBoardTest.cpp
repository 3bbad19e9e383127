// The board as scripts open and end it, on the simulated card: opened as the program opens
// it, every refusal in the system's words (a card another process holds names that process),
// values checked before they reach the board, and the safe end however the board is left.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "Child.h"
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

}  // namespace
