#pragma once
// A sequence written into the board's frame buffers as Sorrel's download writes it: entry i
// composed and written to frame buffer i, with a progress line on a terminal.

#include "BoardSession.h"
#include "SequenceFile.h"
#include "SequenceFrames.h"

namespace sorrelctl {

// Every entry is composed and written even when one fails, as the program does; then an
// entry that could not be read whole, or a write the board refused, is an error.
void DownloadEntries(CBoardSession& session, ImageList& list, const scripting::Compensation& compensation);

}  // namespace sorrelctl
