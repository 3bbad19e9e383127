#pragma once
// A frame made from phases in radians: each wrapped to one wave and turned into the 256 grey
// levels of one wave, level = round(phase / 2 pi x 256) mod 256 (a level's phases lie within
// half a level of it); then finished as the program finishes a pattern (CompensateAndMap):
// the host's compensation images added and the frame mapped through the LUT of the
// wavelength. Every caller that sets phases makes its frame here.

#include <cstdint>
#include <string>

#include "PatternImage.h"
#include "SequenceFrames.h"

namespace scripting {

// What a frame of phases is composed with, as its host applies it now: the compensation
// switch and images (frame-sized, both given when ApplyCorrection is set; the host's own,
// read only while the frame is made) and the working folder whose LUT_Files hold the LUTs.
struct PhaseHost {
  int ApplyCorrection = 0;
  const uint8_t* SlmPhaseComp = nullptr;
  const uint8_t* SysPhaseComp = nullptr;
  std::string WorkingFolder;
};

// A script's host: the compensation as held, in this working folder.
PhaseHost HostWith(const Compensation& compensation, const std::string& workingFolder);

// The folder the process works in, as the program takes its working folder when it starts:
// the current directory, ending in '/'.
std::string CurrentWorkingFolder();

// The LUT file of a wavelength: <working folder>/<WAVELENGTH_LUT_FOLDER>/<wavelength>.lut, e.g. "633nm"
// chooses LUT_Files/633nm.lut. Throws std::invalid_argument for a name that is not one
// (empty, or anything but letters, digits, '.', '_' and '-', or starting with '.').
std::string WavelengthLutFile(const std::string& workingFolder, const std::string& wavelength);

// Composes geometry.Pixels() phases (radians, screen order) into frame as described above.
// An empty wavelength maps through the identity. Throws std::invalid_argument, with frame
// untouched, for a phase that is not finite (naming its row and column), a wavelength name
// that is not one, and a wavelength whose LUT file is missing or not a LUT (naming the file).
void ComposePhaseFrame(const float* phases, const std::string& wavelength, const PhaseHost& host,
                       const PatternGeometry& geometry, uint8_t* frame);

}  // namespace scripting
