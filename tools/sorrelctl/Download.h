#pragma once
// A sequence written into the board's frame buffers as Sorrel's download writes it: entry i
// composed and written to frame buffer i, with a progress line on a terminal; to the board
// the command opened or through a board service.

#include <functional>

#include "BoardClient.h"
#include "BoardSession.h"
#include "PatternImage.h"
#include "SequenceFile.h"
#include "SequenceFrames.h"

namespace sorrelctl {

// Where the frames go.
struct FrameTarget {
  const char* boardName;
  PatternGeometry geometry;
  size_t frameBuffers;
  std::function<bool(int frame, uint8_t* pixels)> write;  // false: the board refused it
  std::function<void()> between;                         // after each entry
};

// The board this command opened; a termination signal ends the download between entries.
FrameTarget BoardTarget(CBoardSession& session);
// The board a service holds, as status describes it.
FrameTarget ServiceTarget(service::CBoardClient& client, const sorrel::v1::BoardStatus& status);

// Every entry is composed and written even when one fails, as the program does; then an
// entry that could not be read whole, or a write the board refused, is an error.
void DownloadEntries(ImageList& list, const scripting::Compensation& compensation, const FrameTarget& target);

}  // namespace sorrelctl
