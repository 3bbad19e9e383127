// Running the sequence on the simulated board: START and STOP, the run-status timer
// following the board's real interrupts, Loop, screen refresh, the sliders, the power
// buttons and the board setup.

#include <chrono>
#include <set>
#include <thread>

#include "ProgramFixture.h"
#include "files/Paths.h"

using namespace progtest;

namespace {

constexpr uint32_t CONTROL_SLM_POWER = 1u << 10;

class RunTest : public ProgramTest {
 protected:
  bool Locked() const {
    for (int id : {IDC_SEQUENCE_NAME, IDC_BROWSE_SEQUENCE, IDC_DELETE_ENTRY, IDC_INSERT_ENTRY, IDC_EDIT_ENTRY,
                   IDC_SAVE_SEQUENCE, IDC_RATE_SLIDER, IDC_DUTY_SLIDER, IDC_GAIN_A_SLIDER, IDC_BROWSE_SLM_COMP,
                   IDC_BROWSE_SYS_COMP, IDC_APPLY_CORRECTION, IDC_LOOP, IDC_BOARD_SETUP, IDC_BOARD_TYPE,
                   IDC_IMAGE_LIST}) {
      if (m_Dlg->IsDlgItemEnabled(id)) return false;
    }
    return true;
  }
};

TEST_F(RunTest, ARunWithoutLoopEndsByItselfAndTheNextStartStartsAgain) {
  StandardWork({{"FrameRate", "1000"}});
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_LOOP);  // off
  m_Host->Click(Dlg(), IDC_START_STOP);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "STOP");
  EXPECT_TRUE(Locked());
  EXPECT_TRUE(Dlg().IsDlgItemEnabled(IDC_POWER_OFF)) << "a run switches the SLM on";
  EXPECT_NE(BoardRegister(simtest::REG_CONTROL) & CONTROL_SLM_POWER, 0u);
  EXPECT_TRUE(m_Host->TimerActive(Dlg(), 1));

  Tick(50);  // three entries at a thousand a second are long over
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
  EXPECT_FALSE(Locked());
  EXPECT_FALSE(m_Host->TimerActive(Dlg(), 1));
  // The tick that sees the end still follows the board to the last entry.
  EXPECT_EQ(Dlg().ProgressGetPos(IDC_RUN_PROGRESS), 100);
  EXPECT_EQ(Dlg().ListGetCurSel(IDC_IMAGE_LIST), 2);

  // The run that ended by itself is over: one press starts the next.
  m_Host->Click(Dlg(), IDC_START_STOP);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "STOP");
  EXPECT_TRUE(m_Host->TimerActive(Dlg(), 1));
}

TEST_F(RunTest, ALoopingRunIsFollowedByTheListAndStoppedByStop) {
  StandardWork({{"FrameRate", "10"}});
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_START_STOP);
  std::set<int> seen;
  for (int i = 0; i < 12; ++i) {
    Tick(60);
    SRun_Status status{};
    ASSERT_EQ(App().m_pBoard->GetRunStatus(&status), 1);
    seen.insert(Dlg().ListGetCurSel(IDC_IMAGE_LIST));
    EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "STOP");
  }
  EXPECT_EQ(seen, (std::set<int>{0, 1, 2})) << "the selection follows the board round the sequence";
  const int progress = Dlg().ProgressGetPos(IDC_RUN_PROGRESS);
  EXPECT_TRUE(progress == 33 || progress == 66 || progress == 100) << progress;
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_ENTRY_PATTERN),
            NameAndExtension(App().m_ImageList[static_cast<size_t>(Dlg().ListGetCurSel(IDC_IMAGE_LIST))]->PatternFile));

  m_Host->Click(Dlg(), IDC_START_STOP);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "STOP") << "until the next tick";
  Tick();
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
  EXPECT_FALSE(Locked());
}

TEST_F(RunTest, WithScreenRefreshDisabledTheWindowDoesNotFollowTheRun) {
  StandardWork({{"FrameRate", "10"}});
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_SCREEN_REFRESH);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SCREEN_REFRESH), "Disabled");
  m_Host->Click(Dlg(), IDC_START_STOP);
  for (int i = 0; i < 5; ++i) Tick(60);
  EXPECT_EQ(Dlg().ProgressGetPos(IDC_RUN_PROGRESS), 0);
  EXPECT_EQ(Dlg().ListGetCurSel(IDC_IMAGE_LIST), 0);
  m_Host->Click(Dlg(), IDC_SCREEN_REFRESH);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SCREEN_REFRESH), "Enabled");
  m_Host->Click(Dlg(), IDC_START_STOP);
  Tick();
}

TEST_F(RunTest, AnEmptySequenceDoesNotStart) {
  StandardWork();
  WriteText(Work("Sequence_Files/demo.sif"), "");
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_START_STOP);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
  EXPECT_FALSE(m_Host->TimerActive(Dlg(), 1));
  EXPECT_FALSE(Locked());
}

TEST_F(RunTest, ThePowerButtonsSwitchTheSlmAndShowIt) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_POWER_STATE), "OFF");
  EXPECT_TRUE(Dlg().IsDlgItemEnabled(IDC_POWER_ON));
  EXPECT_FALSE(Dlg().IsDlgItemEnabled(IDC_POWER_OFF));
  EXPECT_TRUE(Dlg().GetButtonState(IDC_POWER_OFF));
  m_Host->Click(Dlg(), IDC_POWER_ON);
  EXPECT_NE(BoardRegister(simtest::REG_CONTROL) & CONTROL_SLM_POWER, 0u);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_POWER_STATE), "ON");
  EXPECT_TRUE(Dlg().GetButtonState(IDC_POWER_ON));
  EXPECT_TRUE(Dlg().IsDlgItemEnabled(IDC_POWER_OFF));
  m_Host->Click(Dlg(), IDC_POWER_OFF);
  EXPECT_EQ(BoardRegister(simtest::REG_CONTROL) & CONTROL_SLM_POWER, 0u);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_POWER_STATE), "OFF");
}

TEST_F(RunTest, SlidersShowTheirValuesAndTheBoardHearsOnlyTheEndOfAMovement) {
  StandardWork({{"LC_Type", "0"}, {"LaserAGain", "128"}, {"LaserBGain", "255"}, {"LaserDuty", "50"}});
  Bus("kite", true);
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_GAIN_A), "50.2");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_GAIN_B), "100.0");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_DUTY), "50.0");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_TOGGLE_RATE), "1015.64 Hz");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_RATE_MIN), "1");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_RATE_MAX), "1000");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_GAIN_A_CAPTION), "Laser A Gain");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_DUTY_TOP), "100%");

  const size_t writesBefore = BoardWrites().size();
  m_Host->DragTrackBar(Dlg(), IDC_GAIN_A_SLIDER, 0);  // the top: full gain
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_GAIN_A), "100.0");
  const auto writes = BoardWrites();
  size_t timingWrites = 0;
  for (size_t i = writesBefore; i < writes.size(); ++i) timingWrites += writes[i].first == simtest::REG_TIMING_A;
  EXPECT_EQ(timingWrites, 1u) << "one SetRunParameters, at the end of the drag";
  EXPECT_EQ(BoardRegister(simtest::REG_TIMING_A) & 0xFF, 255u);

  m_Host->DragTrackBar(Dlg(), IDC_RATE_SLIDER, 1);  // the top of the range
  EXPECT_EQ(App().FrameRate, 1000);
  m_Host->DragTrackBar(Dlg(), IDC_RATE_SLIDER, 1000);
  EXPECT_EQ(App().FrameRate, 1);
}

TEST_F(RunTest, InPhaseModeLaserBFollowsLaserA) {
  StandardWork({{"LC_Type", "1"}, {"LaserAGain", "77"}, {"LaserBGain", "10"}});
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(BoardRegister(simtest::REG_TIMING_B) & 0xFF, 10u) << "start-up sends the gain it loaded";
  EXPECT_FALSE(Dlg().IsDlgItemEnabled(IDC_GAIN_B_SLIDER));
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_GAIN_B), Dlg().GetDlgItemText(IDC_GAIN_A));
  m_Host->DragTrackBar(Dlg(), IDC_GAIN_A_SLIDER, 55);
  EXPECT_EQ(Dlg().TrackGetPos(IDC_GAIN_B_SLIDER), 55);
  EXPECT_EQ(BoardRegister(simtest::REG_TIMING_B) & 0xFF, 200u);
  Close();
  EXPECT_EQ(StoredValue("LaserBGain"), "200") << "saved as it followed laser A";
}

TEST_F(RunTest, BoardSetupToAmplitudeHidesCompensationAndDownloadsAgain) {
  StandardWork({{"LC_Type", "1"}});
  ASSERT_EQ(Start(), std::nullopt);
  const size_t captionsBefore = m_Host->TextHistory(IDD_SORREL_DIALOG, IDC_START_STOP).size();
  m_Host->SetScript(1, [](CDialog& dlg, CScriptedHost& host) {
    host.Click(dlg, 1004);  // Amplitude
    host.Click(dlg, 1012);  // OK
  });
  m_Host->Click(Dlg(), IDC_BOARD_SETUP);
  EXPECT_EQ(App().LC_Type, 0);
  EXPECT_FALSE(Dlg().IsDlgItemVisible(IDC_BROWSE_SLM_COMP));
  EXPECT_FALSE(Dlg().IsDlgItemVisible(IDC_APPLY_CORRECTION));
  const auto captions = m_Host->TextHistory(IDD_SORREL_DIALOG, IDC_START_STOP);
  EXPECT_EQ(std::vector<std::string>(captions.begin() + static_cast<long>(captionsBefore), captions.end()),
            (std::vector<std::string>{"LOADING   3", "LOADING   2", "LOADING   1", "START"}));
  EXPECT_TRUE(Dlg().IsDlgItemEnabled(IDC_GAIN_B_SLIDER));
}

TEST_F(RunTest, ChangingOnlyTheTrueFramesDownloadsNothing) {
  StandardWork({{"LC_Type", "1"}});
  ASSERT_EQ(Start(), std::nullopt);
  const size_t captionsBefore = m_Host->TextHistory(IDD_SORREL_DIALOG, IDC_START_STOP).size();
  m_Host->SetScript(1, [](CDialog& dlg, CScriptedHost& host) {
    host.TypeText(dlg, 1010, "5");
    host.LeaveControl(dlg, 1010);
    host.Click(dlg, 1012);
  });
  m_Host->Click(Dlg(), IDC_BOARD_SETUP);
  EXPECT_EQ(App().TrueFrames, 5);
  EXPECT_EQ(App().LC_Type, 1);
  EXPECT_EQ(m_Host->TextHistory(IDD_SORREL_DIALOG, IDC_START_STOP).size(), captionsBefore);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_TOGGLE_RATE), "609.38 Hz");
}

}  // namespace
