#include <cstdio>

#include "BoardSession.h"
#include "Commands.h"
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
    std::printf("board         %s, %u x %u, %u frame buffers\n", spec.BoardName, spec.Width, spec.Height,
                spec.MaxFrames);
    std::printf("backend       %s\n", pci::ServingBackend());
    std::printf("modulator     %s\n", board.ModulatorType() == 1 ? "phase" : "amplitude");
    std::printf("true frames   %d\n", board.TrueFrames());
    std::printf("image frames  %d\n", board.ImageFrames());
    std::printf("SLM power     %s\n", board.Power() ? "on" : "off");
    std::printf("run           %s\n", !known ? "unknown" : (run.RunFlags & RUN_FLAG_ACTIVE) ? "active" : "idle");
    std::printf("frame rate    %d\n", p.FrameRate);
    std::printf("laser duty    %d\n", p.LaserDuty);
    std::printf("laser gains   %d, %d\n", p.LaserAGain, p.LaserBGain);
  });
}

}  // namespace sorrelctl
