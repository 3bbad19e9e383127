#pragma once
// What the commands that compose a sequence share: the compensation the options choose, the
// sequence's entries, and how an entry is named in what the tool says.

#include <string>

#include "Options.h"
#include "PatternImage.h"
#include "SequenceFile.h"
#include "SequenceFrames.h"
#include "SettingsStore.h"

namespace sorrelctl {

// --compensation SLM SYS (read as the program reads picked files), --no-compensation, or
// else the stored choice (read as start-up reads it).
scripting::Compensation ChosenCompensation(const COptions& options, const StoredSettings& settings,
                                           const PatternGeometry& geometry);

// The entries of a sequence file; an error when it cannot be read or holds none.
ImageList ReadEntries(const std::string& path);

// "2 entries could not be read whole (their pattern or LUT): 0, 4"; empty when none.
std::string InvalidEntriesText(const std::vector<size_t>& positions);

}  // namespace sorrelctl
