#include "SequenceFrames.h"

#include "FrameComposition.h"
#include "ScriptBoard.h"
#include "ScriptMessages.h"

namespace scripting {

Compensation StoredCompensation(const StoredSettings& settings, const PatternGeometry& geometry) {
  Compensation c;
  c.Apply = settings.ApplyCorrection;
  if (c.Apply == 0) return c;
  c.Slm.resize(geometry.Pixels());
  c.Sys.resize(geometry.Pixels());
  int bitCount = 0;
  ReadStoredCompensationImage(c.Slm.data(), settings.PhaseCompFileName, geometry, bitCount);
  ReadStoredCompensationImage(c.Sys.data(), settings.SysPhaseCompFileName, geometry, bitCount);
  return c;
}

Compensation GivenCompensation(const std::string& slmFile, const std::string& sysFile, const PatternGeometry& geometry) {
  Compensation c;
  c.Apply = 1;
  c.Slm.resize(geometry.Pixels());
  c.Sys.resize(geometry.Pixels());
  int bitCount = 0;
  for (const auto& [image, file] : {std::pair{&c.Slm, &slmFile}, std::pair{&c.Sys, &sysFile}}) {
    if (!ReadPickedCompensationImage(image->data(), *file, geometry, bitCount)) {
      TakeMessages();  // the reader's own words say less than the file's name
      throw CScriptError("Could not read the compensation file: " + *file);
    }
  }
  return c;
}

ImageList ReadSequence(const std::string& path) {
  ImageList list;
  int state = 0;
  if (!ReadSequenceEntries(path, list, state)) throw CScriptError("Could not read SIF: " + path);
  return list;
}

bool ComposeEntry(Image_Entry& entry, uint8_t* frame, const PatternGeometry& geometry, const Compensation& compensation) {
  int bitCount = 0;
  ComposeFrameImage(entry, frame, geometry, compensation.Apply,
                    compensation.Apply != 0 ? compensation.Slm.data() : nullptr,
                    compensation.Apply != 0 ? compensation.Sys.data() : nullptr, bitCount);
  return entry.Valid != 0;
}

}  // namespace scripting
