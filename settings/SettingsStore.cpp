#include "SettingsStore.h"

#include <vector>

#include "registry/Registry.h"

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

StoredSettings ReadStoredSettings() {
  StoredSettings s;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    s.LaserDuty = QueryNumber(key, "LaserDuty");
    s.FrameRate = QueryNumber(key, "FrameRate");
    s.LaserAGain = QueryNumber(key, "LaserAGain");
    s.LaserBGain = QueryNumber(key, "LaserBGain");
    s.LC_Type = QueryNumber(key, "LC_Type");
    s.TrueFrames = QueryNumber(key, "TrueFrames");
    s.BoardType = QueryText(key, "BoardType");
    s.SequenceFile = QueryText(key, "SequenceFile");
    s.ApplyCorrection = QueryNumber(key, "ApplyCorrection") != 0 ? 1 : 0;
    s.HideComp = QueryNumber(key, "HideComp") != 0 ? 1 : 0;
    s.PhaseCompFileName = QueryText(key, "PhaseCompFileName");
    s.SysPhaseCompFileName = QueryText(key, "SysPhaseCompFileName");
    s.BoardService = QueryNumber(key, "BoardService") != 0 ? 1 : 0;
    RegCloseKey(key);
  }
  // Without stored settings every value reads as a missing one, and the rules make them sound.
  if (s.FrameRate == 0 || s.FrameRate > 1000) s.FrameRate = 1;
  if (s.LaserDuty > 100) s.LaserDuty = 50;
  if (s.LaserAGain > 255) s.LaserAGain = 255;
  if (s.LaserBGain > 255) s.LaserBGain = 0;
  if (s.LC_Type > 1) {
    s.LC_Type = 1;
    s.ModulatorTypeDefaulted = true;
  }
  s.TrueFrames = HeldTrueFrames(s.TrueFrames);
  if (s.BoardType != "Kite_SLM" && s.BoardType != "Wren_SLM") {
    s.BoardType = "Kite_SLM";
    s.BoardTypeDefaulted = true;
  }
  return s;
}

void WriteStoredSettings(const StoredSettings& s) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  SetNumber(key, "LaserDuty", s.LaserDuty);
  SetNumber(key, "FrameRate", s.FrameRate);
  SetNumber(key, "LaserAGain", s.LaserAGain);
  SetNumber(key, "LaserBGain", s.LaserBGain);
  SetNumber(key, "LC_Type", s.LC_Type);
  SetNumber(key, "TrueFrames", s.TrueFrames);
  SetText(key, "BoardType", s.BoardType.substr(0, BOARD_TYPE_LIMIT));
  SetText(key, "SequenceFile", s.SequenceFile);
  SetText(key, "PhaseCompFileName", s.PhaseCompFileName);
  SetText(key, "SysPhaseCompFileName", s.SysPhaseCompFileName);
  SetNumber(key, "ApplyCorrection", s.ApplyCorrection);
  SetNumber(key, "HideComp", s.HideComp);
  SetNumber(key, "BoardService", s.BoardService);
  RegCloseKey(key);
}
