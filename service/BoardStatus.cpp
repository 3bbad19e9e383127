#include "BoardStatus.h"

#include "pci/Facility.h"

namespace service {

namespace v1 = sorrel::v1;

void Put(const scripting::RunParameters& p, v1::RunParameters* out) {
  out->set_frame_rate(p.FrameRate);
  out->set_laser_duty(p.LaserDuty);
  out->set_laser_a_gain(p.LaserAGain);
  out->set_laser_b_gain(p.LaserBGain);
}

v1::BoardStatus Describe(scripting::CScriptBoard& board) {
  v1::BoardStatus status;
  const SBoard_Spec& spec = board.Spec();
  status.set_board_name(spec.BoardName);
  status.set_width(spec.Width);
  status.set_height(spec.Height);
  status.set_frame_buffers(spec.MaxFrames);
  status.set_backend(pci::ServingBackend());
  if (const std::vector<pci::Location> held = pci::RegisteredCards(); !held.empty()) {
    status.set_card(pci::CardAddress(held.front()));
  }
  status.set_modulator(board.ModulatorType() == 1 ? v1::MODULATOR_PHASE : v1::MODULATOR_AMPLITUDE);
  status.set_true_frames(board.TrueFrames());
  status.set_image_frames(board.ImageFrames());
  status.set_reached_frame_rate(ReachedFrameRate(spec, status.image_frames()));
  status.set_slm_power(board.Power());
  SRun_Status run{};
  status.set_run_state(!board.Status(run)                 ? v1::RUN_STATE_UNKNOWN
                       : (run.RunFlags & RUN_FLAG_ACTIVE) ? v1::RUN_STATE_ACTIVE
                                                          : v1::RUN_STATE_IDLE);
  status.set_current_index(run.CurrentIndex);
  status.set_last_index(run.LastIndex);
  Put(board.Parameters(), status.mutable_parameters());
  status.set_selected_frame(-1);
  return status;
}

}  // namespace service
