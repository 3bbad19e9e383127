#pragma once
// A sequence composed as the program downloads it: each entry on the board's frame, mapped
// through its LUT, with the two compensation images added when compensation is on. The
// composition itself is the pattern library's (ComposeFrameImage); this only gathers what
// it is composed with.

#include <cstdint>
#include <string>
#include <vector>

#include "PatternImage.h"
#include "SequenceFile.h"
#include "SettingsStore.h"
#include "cpu/AlignedBytes.h"

namespace scripting {

// What every frame is composed with.
struct Compensation {
  int Apply = 0;
  cpu::FrameVector Slm;  // frame-sized, or empty when Apply is 0
  cpu::FrameVector Sys;
};

// The program's choice: the stored switch, and the stored files read as start-up reads them
// (as bitmaps, whatever their names; an unreadable one adds 48 to every pixel, as it does in
// the program).
Compensation StoredCompensation(const StoredSettings& settings, const PatternGeometry& geometry);
// Compensation on with the two files given, read as the program reads a picked one (by
// kind); throws CScriptError naming a file that cannot be read.
Compensation GivenCompensation(const std::string& slmFile, const std::string& sysFile, const PatternGeometry& geometry);

// The entries of a sequence file, paths made absolute; throws CScriptError ("Could not read
// SIF") when it cannot be read. A file without entries gives none, and the reader's "Empty
// SIF" waits among the messages.
ImageList ReadSequence(const std::string& path);

// Composes the entry into frame (geometry.Pixels() bytes) exactly as the program's download
// does; false, as the entry's Valid flag, when its pattern or LUT could not be read.
bool ComposeEntry(Image_Entry& entry, uint8_t* frame, const PatternGeometry& geometry, const Compensation& compensation);

}  // namespace scripting
