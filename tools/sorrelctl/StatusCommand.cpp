#include <cstdio>

#include "BoardSession.h"
#include "BoardStatus.h"
#include "Commands.h"
#include "Terminal.h"

namespace sorrelctl {

namespace {

void Print(const sorrel::v1::BoardStatus& s) {
  const char* run = s.run_state() == sorrel::v1::RUN_STATE_ACTIVE ? "active"
                    : s.run_state() == sorrel::v1::RUN_STATE_IDLE ? "idle"
                                                                  : "unknown";
  Result("board         %s, %u x %u, %u frame buffers\n", s.board_name().c_str(), s.width(), s.height(),
         s.frame_buffers());
  Result("card          %s\n", s.card().c_str());
  Result("backend       %s\n", s.backend().c_str());
  Result("modulator     %s\n", s.modulator() == sorrel::v1::MODULATOR_PHASE ? "phase" : "amplitude");
  Result("true frames   %d\n", s.true_frames());
  Result("image frames  %d\n", s.image_frames());
  Result("SLM power     %s\n", s.slm_power() ? "on" : "off");
  Result("run           %s\n", run);
  Result("frame rate    %d\n", s.parameters().frame_rate());
  Result("reached rate  %.2f\n", s.reached_frame_rate());
  Result("laser duty    %d\n", s.parameters().laser_duty());
  Result("laser gains   %d, %d\n", s.parameters().laser_a_gain(), s.parameters().laser_b_gain());
}

}  // namespace

int StatusCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  if (const auto service = ServiceFor(options)) {
    return RunOnService(*service, options, [](service::CBoardClient& client) { Print(client.Status()); });
  }
  return RunOnBoard(options, [](CBoardSession& session) { Print(service::Describe(session.Board())); });
}

}  // namespace sorrelctl
