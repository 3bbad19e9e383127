// The operator's settings, kept machine-wide in the settings store from one run of the
// program to the next: loaded once at start-up, saved once at shutdown.

#include "SettingsStore.h"
#include "Sorrel.h"
#include "SorrelDlg.h"
#include "files/Paths.h"
#include "ui/Host.h"

void CSorrelDlg::ShowCompensationControls(bool show) {
  for (int id : {IDC_APPLY_CORRECTION, IDC_SLM_COMP_CAPTION, IDC_SLM_COMP_NAME, IDC_SYS_COMP_CAPTION,
                 IDC_SYS_COMP_NAME, IDC_BROWSE_SLM_COMP, IDC_BROWSE_SYS_COMP}) {
    ShowDlgItem(id, show);
  }
}

void CSorrelDlg::LoadSettings() {
  CSorrelApp& app = *theApp;
  const StoredSettings stored = ReadStoredSettings();
  app.LaserDuty = stored.LaserDuty;
  app.FrameRate = stored.FrameRate;
  app.LaserAGain = stored.LaserAGain;
  app.LaserBGain = stored.LaserBGain;
  app.LC_Type = stored.LC_Type;
  app.TrueFrames = stored.TrueFrames;
  app.m_BoardType = stored.BoardType;
  app.m_SequenceFile = stored.SequenceFile;
  m_bApplyCorrection = stored.ApplyCorrection;
  m_bHideComp = stored.HideComp;
  m_PhaseCompFileName = stored.PhaseCompFileName;
  m_SysPhaseCompFileName = stored.SysPhaseCompFileName;
  m_bServeBoard = stored.BoardService;

  if (stored.ModulatorTypeDefaulted) {
    MessageBox(this, "Error reading modulator type from registry, defaulted to Phase", "ERROR", MessageIcon::Stop);
  }
  SetDlgItemText(IDC_SLM_COMP_CAPTION, "SLM Phase Optimization");
  SetDlgItemText(IDC_SYS_COMP_CAPTION, "System Phase Optimization");
  ShowCompensationControls(app.LC_Type != 0 && m_bHideComp == 0);
  if (stored.BoardTypeDefaulted) {
    MessageBox(this, "Error reading Board Type from registry, defaulted to Kite_SLM", "ERROR", MessageIcon::Stop);
  }
  m_PhaseCompName = NameAndExtension(m_PhaseCompFileName);
  m_SysPhaseCompName = NameAndExtension(m_SysPhaseCompFileName);
}

void CSorrelDlg::SaveSettings() {
  const CSorrelApp& app = *theApp;
  StoredSettings settings;
  settings.LaserDuty = app.LaserDuty;
  settings.FrameRate = app.FrameRate;
  settings.LaserAGain = app.LaserAGain;
  settings.LaserBGain = app.LaserBGain;
  settings.LC_Type = app.LC_Type;
  settings.TrueFrames = app.TrueFrames;
  settings.BoardType = app.m_BoardType;
  settings.SequenceFile = app.m_SequenceFile;
  settings.ApplyCorrection = m_bApplyCorrection;
  settings.HideComp = m_bHideComp;
  settings.PhaseCompFileName = m_PhaseCompFileName;
  settings.SysPhaseCompFileName = m_SysPhaseCompFileName;
  settings.BoardService = m_bServeBoard;
  WriteStoredSettings(settings);
}
