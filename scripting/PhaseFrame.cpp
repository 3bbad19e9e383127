#include "PhaseFrame.h"

#include <unistd.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "FrameComposition.h"
#include "LUTFile.h"
#include "ui/Process.h"

namespace scripting {
namespace {

constexpr double LEVELS_PER_RADIAN = 256.0 / (2.0 * std::numbers::pi);

bool NameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-';
}

// The table of the wavelength, or why there is none.
void WavelengthTable(const std::string& workingFolder, const std::string& wavelength, uint8_t table[256]) {
  if (wavelength.empty()) {
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
    return;
  }
  const std::string file = WavelengthLutFile(workingFolder, wavelength);
  if (ReadLUTFile(file, table)) return;
  if (access(file.c_str(), F_OK) != 0) {
    throw std::invalid_argument("no LUT file for the wavelength " + wavelength + ": " + file);
  }
  throw std::invalid_argument("the LUT file for the wavelength " + wavelength +
                              " is not 256 lines \"index value\": " + file);
}

void CheckFinite(const float* phases, const PatternGeometry& geometry) {
  const size_t count = geometry.Pixels();
  for (size_t i = 0; i < count; ++i) {
    if (!std::isfinite(phases[i])) {
      throw std::invalid_argument("the phase at row " + std::to_string(i / static_cast<size_t>(geometry.width)) +
                                  ", column " + std::to_string(i % static_cast<size_t>(geometry.width)) +
                                  " is not a finite number");
    }
  }
}

// round(phase / 2 pi x 256) mod 256, wrapped before it is rounded so that no phase, however
// large, leaves the range lround takes.
uint8_t Level(float phase) {
  double level = static_cast<double>(phase) * LEVELS_PER_RADIAN;
  level -= 256.0 * std::floor(level / 256.0);
  return static_cast<uint8_t>(std::lround(level) & 255);
}

}  // namespace

PhaseHost HostWith(const Compensation& compensation, const std::string& workingFolder) {
  const bool apply = compensation.Apply != 0;
  return {compensation.Apply, apply ? compensation.Slm.data() : nullptr, apply ? compensation.Sys.data() : nullptr,
          workingFolder};
}

std::string CurrentWorkingFolder() {
  std::string folder;
  if (!GetCurrentDirectory(folder)) return "./";
  return folder.ends_with('/') ? folder : folder + "/";
}

std::string WavelengthLutFile(const std::string& workingFolder, const std::string& wavelength) {
  bool named = !wavelength.empty() && wavelength.front() != '.';
  for (char c : wavelength) named = named && NameCharacter(c);
  if (!named) {
    throw std::invalid_argument("a wavelength is named by letters, digits, '.', '_' and '-' (e.g. 633nm), not '" +
                                wavelength + "'");
  }
  const std::string folder = workingFolder.empty() || workingFolder.ends_with('/') ? workingFolder : workingFolder + "/";
  return folder + WAVELENGTH_LUT_FOLDER + "/" + wavelength + ".lut";
}

void ComposePhaseFrame(const float* phases, const std::string& wavelength, const PhaseHost& host,
                       const PatternGeometry& geometry, uint8_t* frame) {
  CheckFinite(phases, geometry);
  uint8_t table[256];
  WavelengthTable(host.WorkingFolder, wavelength, table);
  const size_t count = geometry.Pixels();
  for (size_t i = 0; i < count; ++i) frame[i] = Level(phases[i]);
  CompensateAndMap(frame, geometry, table, host.ApplyCorrection, host.SlmPhaseComp, host.SysPhaseComp);
}

}  // namespace scripting
