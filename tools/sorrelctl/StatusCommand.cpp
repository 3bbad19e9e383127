#include <cstdio>

#include "BoardSession.h"
#include "Commands.h"
#include "Terminal.h"
#include "pci/Facility.h"

namespace sorrelctl {

int StatusCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  return RunOnBoard(options, [&](CBoardSession& session) {
    scripting::CScriptBoard& board = session.Board();
    const SBoard_Spec& spec = board.Spec();
    SRun_Status run{};
    const bool known = board.Status(run);
    const scripting::RunParameters p = board.Parameters();
    Result("board         %s, %u x %u, %u frame buffers\n", spec.BoardName, spec.Width, spec.Height,
                spec.MaxFrames);
    Result("backend       %s\n", pci::ServingBackend());
    Result("modulator     %s\n", board.ModulatorType() == 1 ? "phase" : "amplitude");
    Result("true frames   %d\n", board.TrueFrames());
    Result("image frames  %d\n", board.ImageFrames());
    Result("SLM power     %s\n", board.Power() ? "on" : "off");
    Result("run           %s\n", !known ? "unknown" : (run.RunFlags & RUN_FLAG_ACTIVE) ? "active" : "idle");
    Result("frame rate    %d\n", p.FrameRate);
    Result("laser duty    %d\n", p.LaserDuty);
    Result("laser gains   %d, %d\n", p.LaserAGain, p.LaserBGain);
  });
}

}  // namespace sorrelctl
