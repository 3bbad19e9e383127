// Ending the program: the close box's shutdown sequence in its order, and a termination
// signal from a terminal, before the window is ready and after.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "ProgramFixture.h"
#include "ui/Process.h"
#include "ui/Signals.h"

using namespace progtest;

namespace {

constexpr uint32_t CONTROL_SLM_POWER = 1u << 10;

class ShutdownTest : public ProgramTest {
 protected:
  void TearDown() override {
    StopWatchingTerminationSignals();
    ProgramTest::TearDown();
  }
  // Index of the first write at or after from that matches; writes.size() when none does.
  static size_t Find(const std::vector<std::pair<uint32_t, uint32_t>>& writes, size_t from,
                     const std::function<bool(uint32_t offset, uint32_t value)>& match) {
    for (size_t i = from; i < writes.size(); ++i) {
      if (match(writes[i].first, writes[i].second)) return i;
    }
    return writes.size();
  }
  // From write from on: laser gains to zero, then the SLM power off, then the card closed
  // (control register cleared), each after the last.
  void ExpectSafeOrder(const std::vector<std::pair<uint32_t, uint32_t>>& writes, size_t from) {
    const size_t gainA = Find(writes, from, [](uint32_t o, uint32_t v) { return o == simtest::REG_TIMING_A && (v & 0xFF) == 0; });
    const size_t gainB = Find(writes, from, [](uint32_t o, uint32_t v) { return o == simtest::REG_TIMING_B && (v & 0xFF) == 0; });
    const size_t powerOff = Find(writes, std::max(gainA, gainB), [](uint32_t o, uint32_t v) {
      return o == simtest::REG_CONTROL && (v & CONTROL_SLM_POWER) == 0;
    });
    const size_t closed = Find(writes, powerOff + 1, [](uint32_t o, uint32_t v) { return o == simtest::REG_CONTROL && v == 0; });
    ASSERT_LT(gainA, writes.size());
    ASSERT_LT(gainB, writes.size());
    ASSERT_LT(powerOff, writes.size());
    EXPECT_LT(closed, writes.size()) << "the card is closed last";
  }
};

TEST_F(ShutdownTest, TheCloseBoxMakesTheLasersSafeThenAsksThenSavesThenClosesTheCard) {
  StandardWork({{"LaserAGain", "200"}, {"LaserBGain", "150"}});
  Bus("kite", true);
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_POWER_ON);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 2);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);
  const size_t before = BoardWrites().size();
  uint32_t controlAtQuestion = 0, timingAtQuestion = 0;
  std::optional<std::string> storedAtQuestion;
  m_Host->SetScript(IDD_YES_NO, [&](CDialog& dlg, CScriptedHost& host) {
    controlAtQuestion = BoardRegister(simtest::REG_CONTROL);
    timingAtQuestion = BoardRegister(simtest::REG_TIMING_A);
    storedAtQuestion = StoredValue("LaserAGain");
    host.Click(dlg, IDNO);
  });
  const std::string sequenceBefore = ReadText(Work("Sequence_Files/demo.sif"));
  Close();
  EXPECT_EQ(timingAtQuestion & 0xFF, 0u) << "gains are zero before the question";
  EXPECT_EQ(controlAtQuestion & CONTROL_SLM_POWER, 0u) << "and the power is off";
  EXPECT_NE(controlAtQuestion, 0u) << "but the card is not yet closed";
  ExpectSafeOrder(BoardWrites(), before);
  EXPECT_EQ(ReadText(Work("Sequence_Files/demo.sif")), sequenceBefore) << "NO leaves the file as it was";
  EXPECT_EQ(StoredValue("LaserAGain"), "200") << "the stored gains keep their values";
  EXPECT_EQ(App().m_pBoard, nullptr);
  EXPECT_EQ(Dlg().ModalResult(), IDCANCEL);
}

// The operator asked to close: a save that fails there keeps the window, never the lasers.
TEST_F(ShutdownTest, ACloseWhoseSaveFailsLeavesTheLasersOffAndTheWindowShowingWhatTheBoardHolds) {
  StandardWork({{"LaserAGain", "200"}, {"LaserBGain", "150"}, {"LC_Type", "0"}});
  Bus("kite", true);
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_POWER_ON);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 2);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);
  m_Host->Click(Dlg(), IDC_START_STOP);
  std::filesystem::remove_all(Work("Sequence_Files"));
  AnswerQuestion(IDYES);
  const size_t before = BoardWrites().size();
  m_Host->PressEscape(Dlg());
  ASSERT_EQ(MessageLines().back(), "FILE ERROR: Can't create File " + Work("Sequence_Files/demo.sif"));
  ASSERT_NE(App().m_pBoard, nullptr) << "the window stays";
  const auto writes = BoardWrites();
  const size_t zeroed = Find(writes, before, [](uint32_t o, uint32_t v) { return o == simtest::REG_TIMING_B && (v & 0xFF) == 0; });
  ASSERT_LT(zeroed, writes.size());
  const size_t raised = Find(writes, zeroed, [](uint32_t o, uint32_t v) {
    return ((o == simtest::REG_TIMING_A || o == simtest::REG_TIMING_B) && (v & 0xFF) != 0) ||
           (o == simtest::REG_CONTROL && (v & CONTROL_SLM_POWER) != 0);
  });
  EXPECT_EQ(raised, writes.size()) << "a laser or the SLM switched on again by write " << raised;
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_POWER_STATE), "OFF");
  for (int slider : {IDC_GAIN_A_SLIDER, IDC_GAIN_B_SLIDER}) EXPECT_EQ(Dlg().TrackGetPos(slider), 255);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_GAIN_A), "0.0");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_GAIN_B), "0.0");
  EXPECT_FALSE(Dlg().IsDlgItemEnabled(IDC_GAIN_B_SLIDER)) << "the run still locks the sliders";

  // What the window shows is what the next close saves.
  m_Host->Click(Dlg(), IDC_START_STOP);
  Tick();
  m_Host->QueueFileAnswer(Work("kept.sif"));
  m_Host->Click(Dlg(), IDC_SAVE_SEQUENCE);
  Close();
  EXPECT_EQ(App().m_pBoard, nullptr);
  EXPECT_EQ(StoredValue("LaserAGain"), "0");
  EXPECT_EQ(StoredValue("LaserBGain"), "0");
}

TEST_F(ShutdownTest, ASignalAfterStartUpRunsTheShutdownWithoutTheQuestionAndEndsWithZero) {
  StandardWork({{"FrameRate", "200"}});
  Bus("kite", true);
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 1);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);
  m_Host->Click(Dlg(), IDC_START_STOP);  // running, lasers on
  const size_t before = BoardWrites().size();
  raise(SIGTERM);
  ::testing::internal::CaptureStderr();
  int status = -1;
  try {
    m_Host->DeliverSignals();
  } catch (const CProcessExit& e) {
    status = e.status;
  }
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 0);
  ExpectSafeOrder(BoardWrites(), before);
  EXPECT_EQ(std::count(m_Host->ModalRuns().begin(), m_Host->ModalRuns().end(), IDD_YES_NO), 0);
  EXPECT_NE(said.find("not saved"), std::string::npos) << said;
  EXPECT_EQ(StoredValue("FrameRate"), "200") << "the settings are saved";
  EXPECT_EQ(App().m_pBoard, nullptr);
}

// The signal's shutdown never waits on a box of its own: under the box of a power bit that
// will not follow, a second such box would hold the end until someone pressed OK.
TEST_F(ShutdownTest, ASignalUnderABoxOfTheBoardEndsWithoutAnotherBox) {
  StandardWork();
  Bus("kite", true);
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_POWER_ON);
  Faults("power-stuck");
  m_Host->SetMessageBoxHandler([this](const CScriptedHost::MessageRecord&) {
    raise(SIGTERM);
    m_Host->DeliverSignals();  // as the box's own event loop delivers it
    return IDOK;
  });
  const size_t before = BoardWrites().size();
  int status = -1;
  try {
    Close();
  } catch (const CProcessExit& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 0);
  EXPECT_EQ(MessageLines(), std::vector<std::string>{"ERROR: SLM Power not responding... Is DAC power plugged in?"});
  const auto writes = BoardWrites();
  const size_t gainA = Find(writes, before, [](uint32_t o, uint32_t v) { return o == simtest::REG_TIMING_A && (v & 0xFF) == 0; });
  EXPECT_LT(gainA, writes.size()) << "the lasers at zero gain";
  EXPECT_EQ(App().m_pBoard, nullptr);
}

// Before the window is ready the program ends by the signal itself, after making an
// existing board safe and without saving anything.
TEST_F(ShutdownTest, ASignalDuringThePowerUpEndsTheProgramByThatSignalWithTheBoardSafe) {
  StandardWork({{"FrameRate", "0"}, {"LaserAGain", "255"}});
  Bus("kite", true);
  // Forked as the test stands, so the child's trace lands in this test's folder.
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        bool raised = false;
        SetSleepHook([&raised](unsigned ms) {
          if (!raised) raise(SIGTERM);
          raised = true;
          std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20));  // the DAC still needs its time
        });
        Start();
        std::exit(3);  // not reached: the program ends by the signal
      },
      ::testing::KilledBySignal(SIGTERM), "");
  const auto writes = BoardWrites();
  ExpectSafeOrder(writes, 0);
  EXPECT_EQ(StoredValue("FrameRate"), "0") << "nothing is saved";
}

TEST_F(ShutdownTest, ASignalWhileAStartUpMessageWaitsEndsTheProgramAsSafely) {
  StandardWork({{"LC_Type", "7"}});
  Bus("kite", true);
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        m_Host->SetMessageBoxHandler([](const CScriptedHost::MessageRecord& m) {
          if (m.text == "Could not find PowerOff.bmp in Sorrel") raise(SIGINT);
          return IDOK;
        });
        unlink(Work("PowerOff.bmp").c_str());
        Start();
        std::exit(3);
      },
      ::testing::KilledBySignal(SIGINT), "");
  ExpectSafeOrder(BoardWrites(), 0);
}

}  // namespace
