#include <cstdio>

#include "BoardGeometry.h"
#include "Commands.h"
#include "Download.h"
#include "ScriptMessages.h"
#include "SequenceOptions.h"
#include "Terminal.h"
#include "files/Paths.h"

namespace sorrelctl {

FrameTarget BoardTarget(CBoardSession& session) {
  scripting::CScriptBoard& board = session.Board();
  return {board.Spec().BoardName, BoardGeometry(board.Spec()), board.Spec().MaxFrames,
          [&board](int frame, uint8_t* pixels) { return board.WriteFrame(frame, pixels); },
          [&session] { session.CheckSignal(); }};
}

FrameTarget ServiceTarget(service::CBoardClient& client, const sorrel::v1::BoardStatus& status) {
  SBoard_Spec spec{};
  spec.Width = static_cast<uint16_t>(status.width());
  spec.Height = static_cast<uint16_t>(status.height());
  return {status.board_name().c_str(), BoardGeometry(spec), status.frame_buffers(),
          [&client](int frame, uint8_t* pixels) {
            try {
              client.WriteFrame(frame, pixels);
              return true;
            } catch (const service::CServiceError& e) {
              if (e.Code() != grpc::StatusCode::FAILED_PRECONDITION) throw;
              return false;
            }
          },
          [] {}};
}

void DownloadEntries(ImageList& list, const scripting::Compensation& compensation, const FrameTarget& target) {
  std::vector<uint8_t> frame(target.geometry.Pixels());
  std::vector<size_t> invalid;
  size_t refused = 0;
  CProgress progress;
  for (size_t p = 0; p < list.size(); ++p) {
    progress.Show("download: entry " + std::to_string(p + 1) + " of " + std::to_string(list.size()));
    if (!scripting::ComposeEntry(*list[p], frame.data(), target.geometry, compensation)) invalid.push_back(p);
    // Positions beyond the board's frame buffers have none to go to, as in the program.
    if (p >= target.frameBuffers || !target.write(static_cast<int>(p), frame.data())) ++refused;
    target.between();
  }
  progress.End();
  SayMessages();  // the readers' words, after the progress line
  if (refused != 0) throw scripting::CScriptError("At least one WriteFrameBuffer call failed");
  if (!invalid.empty()) throw scripting::CScriptError(InvalidEntriesText(invalid));
}

int DownloadCommand(const COptions& options) {
  options.ExpectOperands(1, "SEQUENCE.sif");
  const std::string path = options.Operands()[0];
  if (const auto service = ServiceFor(options)) {
    return RunOnService(*service, options, [&](service::CBoardClient& client) {
      ImageList list = ReadEntries(path);
      const sorrel::v1::BoardStatus status = client.Status();
      const FrameTarget target = ServiceTarget(client, status);
      DownloadEntries(list, ChosenCompensation(options, ReadStoredSettings(), target.geometry), target);
      Result("%zu frames downloaded to %s\n", list.size(), target.boardName);
    });
  }
  return RunOnBoard(options, [&](CBoardSession& session) {
    ImageList list = ReadEntries(path);
    const FrameTarget target = BoardTarget(session);
    DownloadEntries(list, ChosenCompensation(options, session.Settings(), target.geometry), target);
    session.Settings().SequenceFile = AbsolutePath(path);
    Result("%zu frames downloaded to %s\n", list.size(), target.boardName);
  });
}

}  // namespace sorrelctl
