#pragma once
// The board on the card this process opened, with the scratch frame every write goes through
// (the driver rewrites a frame in place when its board stores frames reordered, so a script's
// array is never handed to it), and the end the script asked for when it leaves the board
// without closing it.

#include <memory>

#include "ModuleBoard.h"
#include "SequenceFrames.h"
#include "cpu/AlignedBytes.h"

namespace sorrelpy {

class CCardBoard final : public CModuleBoard {
 public:
  // With the core held.
  CCardBoard(const StoredSettings& settings, bool keepPower);
  ~CCardBoard() override;  // the safe end, with the power as open_board asked

  const SBoard_Spec& Spec() override { return Board().Spec(); }
  bool Closed() override { return Inherited() || !m_Board->IsOpen(); }
  // Checks the array (GIL held), then writes it as it lies or copies it into the scratch
  // frame first (GIL released).
  void WriteFrame(int frame, const pybind11::handle& array) override;
  // Composed with the stored compensation and the working folder of the board's opening.
  void SetPhase(int frame, const float* phases, const std::string& wavelength) override;
  scripting::RunParameters Parameters() override { return Board().Parameters(); }
  void SetRunParameters(const scripting::RunParameters& parameters) override;
  void Run(const std::vector<int>& frames, bool loop) override;
  void Stop() override;
  SRun_Status Status() override;
  void Select(int frame) override;
  bool Power() override;
  void SetPower(bool on) override;
  int TrueFrames() override;
  int ImageFrames() override;
  double ReachedFrameRate() override;
  std::string Close(bool keepPower) override;

  // With the core held, in the process that opened it: the safe end with the power as
  // open_board asked; what it left.
  std::string EndHeld();

 private:
  scripting::CScriptBoard& Board();

  std::unique_ptr<scripting::CScriptBoard> m_Board;
  cpu::FrameVector m_Scratch;
  scripting::Compensation m_Compensation;
  std::string m_WorkingFolder;
};

}  // namespace sorrelpy
