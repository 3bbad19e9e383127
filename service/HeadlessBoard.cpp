#include "HeadlessBoard.h"

#include "BoardStatus.h"

namespace service {

sorrel::v1::BoardStatus CHeadlessBoard::Status() {
  sorrel::v1::BoardStatus status = Describe(m_Board);
  status.set_selected_frame(m_Selected);
  return status;
}

bool CHeadlessBoard::Select(int frame) {
  if (!m_Board.Select(frame)) return false;
  m_Selected = frame;
  return true;
}

scripting::RunParameters CHeadlessBoard::SetRunParameters(const scripting::RunParameters& parameters) {
  m_Board.SetRunParameters(parameters);
  return m_Board.Parameters();
}

bool CHeadlessBoard::WriteFrame(int frame, const uint8_t* pixels) {
  // The caller's bytes go as they are, reordered through the scratch when the board wants it.
  m_Scratch.resize(size_t{Spec().Width} * Spec().Height);
  return m_Board.WriteFrameFrom(frame, pixels, m_Scratch.data());
}

void CHeadlessBoard::ClientsLeft(bool keepPower) {
  m_Board.Stop();
  scripting::RunParameters parameters = m_Board.Parameters();
  parameters.LaserAGain = parameters.LaserBGain = 0;
  m_Board.SetRunParameters(parameters);
  if (!keepPower) m_Board.SetPower(false);
}

}  // namespace service
