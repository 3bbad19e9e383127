#include <cstdio>

#include "BoardGeometry.h"
#include "Commands.h"
#include "Download.h"
#include "ScriptMessages.h"
#include "SequenceOptions.h"
#include "Terminal.h"
#include "files/Paths.h"

namespace sorrelctl {

void DownloadEntries(CBoardSession& session, ImageList& list, const scripting::Compensation& compensation) {
  scripting::CScriptBoard& board = session.Board();
  const PatternGeometry geometry = BoardGeometry(board.Spec());
  std::vector<uint8_t> frame(geometry.Pixels());
  std::vector<size_t> invalid;
  size_t refused = 0;
  CProgress progress;
  for (size_t p = 0; p < list.size(); ++p) {
    progress.Show("download: entry " + std::to_string(p + 1) + " of " + std::to_string(list.size()));
    if (!scripting::ComposeEntry(*list[p], frame.data(), geometry, compensation)) invalid.push_back(p);
    // Positions beyond the board's frame buffers have none to go to, as in the program.
    if (p >= board.Spec().MaxFrames || !board.WriteFrame(static_cast<int>(p), frame.data())) ++refused;
    session.CheckSignal();
  }
  progress.End();
  SayMessages();  // the readers' words, after the progress line
  if (refused != 0) throw scripting::CScriptError("At least one WriteFrameBuffer call failed");
  if (!invalid.empty()) throw scripting::CScriptError(InvalidEntriesText(invalid));
}

int DownloadCommand(const COptions& options) {
  options.ExpectOperands(1, "SEQUENCE.sif");
  const std::string path = options.Operands()[0];
  return RunOnBoard(options, [&](CBoardSession& session) {
    ImageList list = ReadEntries(path);
    scripting::CScriptBoard& board = session.Board();
    const scripting::Compensation compensation =
        ChosenCompensation(options, session.Settings(), BoardGeometry(board.Spec()));
    DownloadEntries(session, list, compensation);
    session.Settings().SequenceFile = AbsolutePath(path);
    Result("%zu frames downloaded to %s\n", list.size(), board.Spec().BoardName);
  });
}

}  // namespace sorrelctl
