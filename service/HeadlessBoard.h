#pragma once
// The board a headless service holds: the scripting core's, made safe once its clients
// have gone, since no operator is there to own it; phases are composed with the compensation
// and working folder it was given (sorrelctl serve: the stored settings' and its own).

#include <string>
#include <utility>

#include "ServedBoard.h"

namespace service {

class CHeadlessBoard final : public CServedBoard {
 public:
  CHeadlessBoard(scripting::CScriptBoard& board, scripting::Compensation compensation, std::string workingFolder)
      : m_Board(board), m_Compensation(std::move(compensation)), m_WorkingFolder(std::move(workingFolder)) {}

  const SBoard_Spec& Spec() const override { return m_Board.Spec(); }
  sorrel::v1::BoardStatus Status() override;
  bool SetPower(bool on) override { return m_Board.SetPower(on); }
  bool Select(int frame) override;
  scripting::RunParameters SetRunParameters(const scripting::RunParameters& parameters) override;
  bool WriteFrame(int frame, const uint8_t* pixels) override;
  scripting::PhaseHost PhaseComposition() override { return scripting::HostWith(m_Compensation, m_WorkingFolder); }
  bool Run(const std::vector<int>& frames, bool loop) override { return m_Board.Run(frames, loop); }
  void Stop() override { m_Board.Stop(); }
  // The scripting core's board takes its own lock for it.
  bool RunStatus(SRun_Status& status) override { return m_Board.Status(status); }
  bool RunStatusIsCurrent() const override { return true; }
  // The run stopped, both lasers at zero gain, the power off unless kept.
  void ClientsLeft(bool keepPower) override;

 private:
  scripting::CScriptBoard& m_Board;
  const scripting::Compensation m_Compensation;
  const std::string m_WorkingFolder;
  int m_Selected = -1;
  std::vector<uint8_t> m_Scratch;  // a frame in the board's order
};

}  // namespace service
