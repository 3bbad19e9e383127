// The operator's settings, kept machine-wide in the settings store from one run of the
// program to the next: loaded once at start-up, saved once at shutdown.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Sorrel.h"
#include "SorrelDlg.h"
#include "files/Paths.h"
#include "registry/Registry.h"
#include "ui/Host.h"

namespace {

constexpr const char* SETTINGS_KEY = "SOFTWARE\\Orvane Radara\\Sorrel";
constexpr size_t BOARD_TYPE_LIMIT = 40;  // characters of "BoardType" a save writes

// A value's text: everything before its first NUL; missing or unreadable values read as
// empty text.
std::string QueryText(HKEY key, const char* name) {
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0) return {};
  std::vector<BYTE> bytes(size);
  if (RegQueryValueExA(key, name, nullptr, nullptr, bytes.data(), &size) != ERROR_SUCCESS) return {};
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  size_t length = 0;
  while (length < size && text[length] != '\0') ++length;
  return std::string(text, length);
}

// A value's number: leading blanks, an optional sign and the digits up to the first other
// character, as decimal; no digits read as 0. Only the low 16 bits are kept.
uint16_t QueryNumber(HKEY key, const char* name) {
  const std::string text = QueryText(key, name);
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + static_cast<uint64_t>(text[i] - '0');
  if (negative) value = 0 - value;
  return static_cast<uint16_t>(value);
}

void SetText(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

void SetNumber(HKEY key, const char* name, int value) { SetText(key, name, std::to_string(value)); }

}  // namespace

void CSorrelDlg::ShowCompensationControls(bool show) {
  for (int id : {IDC_APPLY_CORRECTION, IDC_SLM_COMP_CAPTION, IDC_SLM_COMP_NAME, IDC_SYS_COMP_CAPTION,
                 IDC_SYS_COMP_NAME, IDC_BROWSE_SLM_COMP, IDC_BROWSE_SYS_COMP}) {
    ShowDlgItem(id, show);
  }
}

void CSorrelDlg::LoadSettings() {
  CSorrelApp& app = *theApp;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    app.LaserDuty = QueryNumber(key, "LaserDuty");
    app.FrameRate = QueryNumber(key, "FrameRate");
    app.LaserAGain = QueryNumber(key, "LaserAGain");
    app.LaserBGain = QueryNumber(key, "LaserBGain");
    app.LC_Type = QueryNumber(key, "LC_Type");
    app.TrueFrames = QueryNumber(key, "TrueFrames");
    app.m_BoardType = QueryText(key, "BoardType");
    app.m_SequenceFile = QueryText(key, "SequenceFile");
    m_bApplyCorrection = QueryNumber(key, "ApplyCorrection") != 0 ? 1 : 0;
    m_bHideComp = QueryNumber(key, "HideComp") != 0 ? 1 : 0;
    m_PhaseCompFileName = QueryText(key, "PhaseCompFileName");
    m_SysPhaseCompFileName = QueryText(key, "SysPhaseCompFileName");
    RegCloseKey(key);
  } else {
    // No stored settings yet: every value reads as a missing one, and the rules below
    // make them sound.
    app.LaserDuty = app.FrameRate = app.LaserAGain = app.LaserBGain = app.LC_Type = app.TrueFrames = 0;
    app.m_BoardType.clear();
    app.m_SequenceFile.clear();
    m_bApplyCorrection = 0;
    m_bHideComp = 0;
    m_PhaseCompFileName.clear();
    m_SysPhaseCompFileName.clear();
  }

  if (app.FrameRate == 0 || app.FrameRate > 1000) app.FrameRate = 1;
  if (app.LaserDuty > 100) app.LaserDuty = 50;
  if (app.LaserAGain > 255) app.LaserAGain = 255;
  if (app.LaserBGain > 255) app.LaserBGain = 0;
  if (app.LC_Type > 1) {
    app.LC_Type = 1;
    MessageBox(this, "Error reading modulator type from registry, defaulted to Phase", "ERROR", MessageIcon::Stop);
  }
  SetDlgItemText(IDC_SLM_COMP_CAPTION, "SLM Phase Optimization");
  SetDlgItemText(IDC_SYS_COMP_CAPTION, "System Phase Optimization");
  ShowCompensationControls(app.LC_Type != 0 && m_bHideComp == 0);
  if (app.TrueFrames < 3) app.TrueFrames = 3;
  if (app.TrueFrames >= 32767) app.TrueFrames = 32767;
  if (app.m_BoardType != "Kite_SLM" && app.m_BoardType != "Wren_SLM") {
    app.m_BoardType = "Kite_SLM";
    MessageBox(this, "Error reading Board Type from registry, defaulted to Kite_SLM", "ERROR", MessageIcon::Stop);
  }
  m_PhaseCompName = NameAndExtension(m_PhaseCompFileName);
  m_SysPhaseCompName = NameAndExtension(m_SysPhaseCompFileName);
}

void CSorrelDlg::SaveSettings() {
  const CSorrelApp& app = *theApp;
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      &key, &disposition) != ERROR_SUCCESS) {
    return;
  }
  SetNumber(key, "LaserDuty", app.LaserDuty);
  SetNumber(key, "FrameRate", app.FrameRate);
  SetNumber(key, "LaserAGain", app.LaserAGain);
  SetNumber(key, "LaserBGain", app.LaserBGain);
  SetNumber(key, "LC_Type", app.LC_Type);
  SetNumber(key, "TrueFrames", app.TrueFrames);
  SetText(key, "BoardType", app.m_BoardType.substr(0, BOARD_TYPE_LIMIT));
  SetText(key, "SequenceFile", app.m_SequenceFile);
  SetText(key, "PhaseCompFileName", m_PhaseCompFileName);
  SetText(key, "SysPhaseCompFileName", m_SysPhaseCompFileName);
  SetNumber(key, "ApplyCorrection", m_bApplyCorrection);
  SetNumber(key, "HideComp", m_bHideComp);
  RegCloseKey(key);
}
