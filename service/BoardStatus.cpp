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

v1::BoardStatus Describe(const BoardFacts& facts) {
  v1::BoardStatus status;
  const SBoard_Spec& spec = facts.Spec;
  status.set_board_name(spec.BoardName);
  status.set_width(spec.Width);
  status.set_height(spec.Height);
  status.set_frame_buffers(spec.MaxFrames);
  status.set_backend(pci::ServingBackend());
  if (const std::vector<pci::Location> held = pci::RegisteredCards(); !held.empty()) {
    status.set_card(pci::CardAddress(held.front()));
  }
  status.set_modulator(facts.ModulatorType == 1 ? v1::MODULATOR_PHASE : v1::MODULATOR_AMPLITUDE);
  status.set_true_frames(facts.TrueFrames);
  status.set_image_frames(facts.ImageFrames);
  status.set_reached_frame_rate(ReachedFrameRate(spec, status.image_frames()));
  status.set_slm_power(facts.Power);
  status.set_run_state(!facts.HasRun                              ? v1::RUN_STATE_UNKNOWN
                       : (facts.Run.RunFlags & RUN_FLAG_ACTIVE) ? v1::RUN_STATE_ACTIVE
                                                                : v1::RUN_STATE_IDLE);
  status.set_current_index(facts.Run.CurrentIndex);
  status.set_last_index(facts.Run.LastIndex);
  Put(facts.Parameters, status.mutable_parameters());
  status.set_selected_frame(facts.SelectedFrame);
  return status;
}

v1::BoardStatus Describe(scripting::CScriptBoard& board) {
  BoardFacts facts;
  facts.Spec = board.Spec();
  facts.ModulatorType = board.ModulatorType();
  facts.TrueFrames = board.TrueFrames();
  facts.ImageFrames = board.ImageFrames();
  facts.Power = board.Power();
  facts.HasRun = board.Status(facts.Run);
  facts.Parameters = board.Parameters();
  return Describe(facts);
}

}  // namespace service
