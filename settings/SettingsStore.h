#pragma once
// The operator's settings as the machine-wide settings store keeps them: thirteen text values
// of one key, read with the rules that make every value sound and written back whole. The
// program loads and saves them through here, and so do the tools that drive the board from
// scripts, so both read every value alike.

#include <cstdint>
#include <string>

struct StoredSettings {
  uint16_t LaserDuty = 0;
  uint16_t FrameRate = 0;
  uint16_t LaserAGain = 0;
  uint16_t LaserBGain = 0;
  uint16_t LC_Type = 0;  // 0 amplitude, 1 phase
  uint16_t TrueFrames = 0;
  std::string BoardType;  // "Kite_SLM" or "Wren_SLM"
  std::string SequenceFile;
  int ApplyCorrection = 0;  // 0 or 1
  uint8_t HideComp = 0;     // 0 or 1
  std::string PhaseCompFileName;
  std::string SysPhaseCompFileName;
  uint8_t BoardService = 0;  // 1: the window serves the board to other programs

  // What the rules replaced that the operator is told about: a modulator type above 1
  // (now phase), and a board type of neither model (now "Kite_SLM").
  bool ModulatorTypeDefaulted = false;
  bool BoardTypeDefaulted = false;
};

// True frames as the rules and the drivers hold them.
constexpr uint16_t MIN_TRUE_FRAMES = 3;
constexpr uint16_t MAX_TRUE_FRAMES = 32767;
constexpr uint16_t HeldTrueFrames(uint16_t trueFrames) {
  return trueFrames < MIN_TRUE_FRAMES ? MIN_TRUE_FRAMES : trueFrames > MAX_TRUE_FRAMES ? MAX_TRUE_FRAMES : trueFrames;
}

// The stored values with the rules applied. Missing values, or a missing key, read as 0 or
// empty text before the rules.
StoredSettings ReadStoredSettings();

// Writes all thirteen values, changed or not; "BoardType" at most 40 characters. A store
// that cannot be written stays as it was (the store says why on standard error).
void WriteStoredSettings(const StoredSettings& settings);
