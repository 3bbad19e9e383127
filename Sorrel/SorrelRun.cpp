// The main dialog's run control: START/STOP and the run-status timer, the four sliders and
// their readouts, the SLM power buttons, the Loop box and the board setup.

#include <cstdio>
#include <numeric>
#include <vector>

#include "Sorrel.h"
#include "SorrelDlg.h"
#include "WindowBoard.h"

namespace {

constexpr int RUN_TIMER = 1;
constexpr unsigned RUN_TIMER_MS = 100;

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A gain's share of full scale as the readouts show it: gain x 100 in single precision,
// over 255.
std::string GainPercent(uint16_t gain) {
  const float scaled = static_cast<float>(gain * 100);
  return Format("%2.1f", static_cast<double>(scaled / 255));
}

// The controls a run locks, in the order they are locked.
constexpr int RUN_LOCKED[] = {
    IDC_SEQUENCE_NAME, IDC_BROWSE_SEQUENCE, IDC_DELETE_ENTRY,     IDC_INSERT_ENTRY,    IDC_EDIT_ENTRY,
    IDC_SAVE_SEQUENCE, IDC_RATE_SLIDER,     IDC_DUTY_SLIDER,      IDC_GAIN_A_SLIDER,   IDC_GAIN_B_SLIDER,
    IDC_BROWSE_SLM_COMP, IDC_BROWSE_SYS_COMP, IDC_APPLY_CORRECTION, IDC_LOOP,          IDC_BOARD_SETUP,
    IDC_BOARD_TYPE,
};

}  // namespace

void CSorrelDlg::OnStartStop() {
  CSorrelApp& app = *theApp;
  if (app.m_bRunning) {
    StopRun();
    return;
  }
  // A run needs at least one frame the board holds.
  const int positions = PlayablePositions();
  if (positions < 1) return;
  std::vector<int> shown(static_cast<size_t>(positions));
  std::iota(shown.begin(), shown.end(), 0);
  StartRun(std::vector<uint16_t>(FrameArray.get(), FrameArray.get() + positions), shown, m_bLoop != 0);
}

bool CSorrelDlg::StartRun(std::vector<uint16_t> frames, const std::vector<int>& shown, bool loop) {
  CSorrelApp& app = *theApp;
  EnableControls(false);
  m_RunCount = static_cast<int>(frames.size());
  m_RunPositions = shown;
  ListSetCurSel(IDC_IMAGE_LIST, m_RunPositions[0]);
  if (app.m_pBoard->SetRunMode(1, m_RunCount - 1, frames.data(), loop ? 1 : 0) != 0) {
    SetDlgItemText(IDC_START_STOP, "STOP");
    SetTimer(RUN_TIMER, RUN_TIMER_MS);
    app.m_bRunning = 1;
    UpdatePowerButtons();
    return true;
  }
  EnableControls(true);
  UpdatePowerButtons();
  return false;
}

void CSorrelDlg::StopRun() {
  CSorrelApp& app = *theApp;
  app.m_pBoard->SetRunMode(0, 0, nullptr, 0);
  app.m_bRunning = 0;
}

void CSorrelDlg::OnTimer(const Event& e) {
  if (e.id != RUN_TIMER) return;
  CSorrelApp& app = *theApp;
  if (app.m_pBoard == nullptr || m_RunCount < 1) {
    KillTimer(RUN_TIMER);
    return;
  }
  // Each tick starts from a defined record: a board that cannot report ends the display of
  // the run rather than showing what an earlier tick left.
  SRun_Status status{};
  const bool given = app.m_pBoard->GetRunStatus(&status) != 0;
  if (!given) SetDlgItemText(IDC_START_STOP, "ERROR");
  if (m_pServedBoard) m_pServedBoard->NoteRunStatus(given, status);
  if ((status.RunFlags & RUN_FLAG_ACTIVE) == 0) {
    KillTimer(RUN_TIMER);
    ProgressSetPos(IDC_RUN_PROGRESS, 0);
    SetDlgItemText(IDC_START_STOP, "START");
    EnableControls(true);
    UpdatePowerButtons();
    ListSetCurSel(IDC_IMAGE_LIST, m_RunPositions[(status.CurrentIndex + 1u) % static_cast<unsigned>(m_RunCount)]);
    InvalidateScreenImage();
    // The run is over, whoever ended it: the next START starts one.
    app.m_bRunning = 0;
  }
  if (GetDlgItemText(IDC_SCREEN_REFRESH) == "Enabled") {
    if (status.CurrentIndex != m_LastShownPosition && status.CurrentIndex < m_RunCount) {
      m_LastShownPosition = status.CurrentIndex;
      const int position = m_RunPositions[m_LastShownPosition];
      ListSetCurSel(IDC_IMAGE_LIST, position);
      ShowEntryInfo(EntryAt(position));
      InvalidateScreenImage();
    }
    ProgressSetPos(IDC_RUN_PROGRESS,
                   static_cast<int>((m_LastShownPosition + 1u) * 100u / static_cast<unsigned>(m_RunCount)));
  }
}

void CSorrelDlg::EnableControls(bool enable) {
  for (int id : RUN_LOCKED) EnableDlgItem(id, enable);
  SetDlgItemText(IDC_START_STOP, enable ? "START" : "STOP");
  EnableDlgItem(IDC_IMAGE_LIST, enable);
}

void CSorrelDlg::SetupSliders() {
  CSorrelApp& app = *theApp;
  const SBoard_Spec* spec = app.m_pBoard->BoardSpec();
  m_RateMinText.clear();
  m_RateMaxText.clear();
  m_MinRate = static_cast<int>(spec->MinFrameRate);
  m_MaxRate = static_cast<int>(spec->MaxFrameRate);
  m_RateMinText = std::to_string(m_MinRate);
  m_RateMaxText = std::to_string(m_MaxRate);

  TrackSetRange(IDC_RATE_SLIDER, m_MinRate, m_MaxRate, false);
  TrackSetPos(IDC_RATE_SLIDER, m_MinRate + m_MaxRate - app.FrameRate);
  TrackSetRange(IDC_DUTY_SLIDER, 0, 100, false);
  TrackSetPos(IDC_DUTY_SLIDER, 100 - app.LaserDuty);
  SetDlgItemText(IDC_DUTY_CAPTION, "Laser Duty");
  SetDlgItemText(IDC_DUTY_TOP, "100%");
  SetDlgItemText(IDC_DUTY_BOTTOM, "0%");
  TrackSetRange(IDC_GAIN_A_SLIDER, 0, 255, false);
  TrackSetPos(IDC_GAIN_A_SLIDER, 255 - app.LaserAGain);
  SetDlgItemText(IDC_GAIN_A_CAPTION, "Laser A Gain");
  SetDlgItemText(IDC_GAIN_A_TOP, "100");
  SetDlgItemText(IDC_GAIN_A_BOTTOM, "0");
  TrackSetRange(IDC_GAIN_B_SLIDER, 0, 255, false);
  TrackSetPos(IDC_GAIN_B_SLIDER, 255 - (app.LC_Type == 1 ? app.LaserAGain : app.LaserBGain));
  SetDlgItemText(IDC_GAIN_B_CAPTION, "Laser B Gain");
  SetDlgItemText(IDC_GAIN_B_TOP, "100");
  SetDlgItemText(IDC_GAIN_B_BOTTOM, "0");
  UpdateData(false);
}

void CSorrelDlg::UpdateReadouts() {
  CSorrelApp& app = *theApp;
  COrvBoard& board = *app.m_pBoard;
  m_DutyText.clear();
  m_ToggleRateText.clear();
  m_FrameRateText.clear();
  m_GainAText.clear();
  m_GainBText.clear();

  app.LaserDuty = static_cast<uint16_t>(100 - TrackGetPos(IDC_DUTY_SLIDER));
  m_DutyText = Format("%2.1f", app.LaserDuty);

  const uint32_t f = board.BoardSpec()->FrameTime;
  int t = board.GetTrueFrames();
  if (t == 0) t = app.TrueFrames;
  m_ToggleRateText = Format("%6.2f Hz", 10000000.0 / static_cast<double>(static_cast<uint64_t>(t) * f * 2));

  app.FrameRate = static_cast<uint16_t>(m_MaxRate + m_MinRate - TrackGetPos(IDC_RATE_SLIDER));
  const int g = board.GetImageFrames();
  m_FrameRateText = Format("%6.2f", g == 0 ? app.FrameRate : ReachedFrameRate(*board.BoardSpec(), g));

  app.LaserAGain = static_cast<uint16_t>(255 - TrackGetPos(IDC_GAIN_A_SLIDER));
  m_GainAText = GainPercent(app.LaserAGain);

  if (app.LC_Type == 1) {
    // In phase mode laser B follows laser A.
    EnableDlgItem(IDC_GAIN_B_SLIDER, false);
    TrackSetPos(IDC_GAIN_B_SLIDER, 255 - app.LaserAGain);
    app.LaserBGain = static_cast<uint16_t>(255 - TrackGetPos(IDC_GAIN_A_SLIDER));
  } else {
    EnableDlgItem(IDC_GAIN_B_SLIDER, app.m_bRunning == 0);  // a run locks it
    app.LaserBGain = static_cast<uint16_t>(255 - TrackGetPos(IDC_GAIN_B_SLIDER));
  }
  m_GainBText = GainPercent(app.LaserBGain);
  UpdateData(false);
}

void CSorrelDlg::OnVScroll(const Event& e) {
  UpdateReadouts();
  if (e.code == SB_ENDSCROLL) {
    CSorrelApp& app = *theApp;
    app.m_pBoard->SetRunParameters(app.FrameRate, app.LaserDuty, app.LaserAGain, app.LaserBGain);
  }
  UpdateReadouts();
}

void CSorrelDlg::UpdatePowerButtons() {
  const int p = theApp->m_pBoard->GetPower();
  EnableDlgItem(IDC_POWER_ON, p == 0);
  SetButtonState(IDC_POWER_ON, p != 0);
  EnableDlgItem(IDC_POWER_OFF, p != 0);
  SetButtonState(IDC_POWER_OFF, p == 0);
  SetDlgItemText(IDC_POWER_STATE, p != 0 ? "ON" : "OFF");
  UpdateData(false);
}

void CSorrelDlg::OnPowerToggle() {
  COrvBoard& board = *theApp->m_pBoard;
  board.SetPower(board.GetPower() == 0 ? 1 : 0);
  UpdatePowerButtons();
  InvalidateScreenImage();
}

void CSorrelDlg::OnLoop() { UpdateData(true); }

void CSorrelDlg::OnBoardSetup() {
  CSorrelApp& app = *theApp;
  int type = app.LC_Type;
  int trueFrames = app.TrueFrames;
  if (app.m_pBoard->SetupDialog(&type, &trueFrames) == 0) return;
  if (trueFrames != app.TrueFrames) app.TrueFrames = static_cast<uint16_t>(trueFrames);
  const bool typeChanged = type != app.LC_Type;
  if (typeChanged) app.LC_Type = static_cast<uint16_t>(type);
  const uint32_t maxRate = app.m_pBoard->BoardSpec()->MaxFrameRate;
  if (app.LC_Type == 0) {
    ShowCompensationControls(false);
    if (app.FrameRate > 1000) app.FrameRate = 1000;
  } else {
    ShowCompensationControls(m_bHideComp == 0);
    if (app.FrameRate > maxRate) app.FrameRate = static_cast<uint16_t>(maxRate);
  }
  app.m_pBoard->SetRunParameters(app.FrameRate, app.LaserDuty, app.LaserAGain, app.LaserBGain);
  if (typeChanged) DownloadSequence(0);
  SetupSliders();
  UpdateReadouts();
}
