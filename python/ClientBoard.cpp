#include "ClientBoard.h"

#include <cstring>

#include "BoardModels.h"
#include "FrameArrays.h"

namespace py = pybind11;
namespace v1 = sorrel::v1;

namespace sorrelpy {
namespace {

// Runs a call to the service with the GIL released.
template <class Call>
auto Released(Call&& call) {
  py::gil_scoped_release release;
  return std::forward<Call>(call)();
}

}  // namespace

CClientBoard::CClientBoard(const std::string& where, bool keepPower, const std::string& tlsFolder)
    : CModuleBoard(keepPower), m_Client(std::make_shared<service::CBoardClient>(where, keepPower, tlsFolder)) {
  const v1::BoardStatus status = BoardStatus();
  // What the status leaves out (frame time, rate limits) is the model's.
  m_Spec = scripting::ModelSpec(scripting::BoardModelOfType(status.board_name()));
  std::strncpy(m_Spec.BoardName, status.board_name().c_str(), sizeof(m_Spec.BoardName) - 1);
  m_Spec.Width = static_cast<uint16_t>(status.width());
  m_Spec.Height = static_cast<uint16_t>(status.height());
  m_Spec.MaxFrames = static_cast<uint16_t>(status.frame_buffers());
}

std::shared_ptr<service::CBoardClient> CClientBoard::Client() {
  CheckOwner();
  if (!m_Client) throw scripting::CScriptError("The board is closed");
  return m_Client;
}

v1::BoardStatus CClientBoard::BoardStatus() {
  const auto client = Client();
  return Released([&] { return client->Status(); });
}

const SBoard_Spec& CClientBoard::Spec() {
  CheckOwner();
  return m_Spec;
}

void CClientBoard::WriteFrame(int frame, const py::handle& argument) {
  const auto client = Client();
  const FrameView view = CheckedFrame(argument, m_Spec.Width, m_Spec.Height, "write_frame: the frame");
  Released([&] {
    client->WriteFrame(frame, [&](uint8_t* pixels) { CopyFrame(view, pixels, m_Spec.Width, m_Spec.Height); });
  });
}

void CClientBoard::SetPhase(int frame, const float* phases, const std::string& wavelength) {
  const auto client = Client();
  Released([&] { client->SetPhase(frame, phases, size_t{m_Spec.Width} * m_Spec.Height, wavelength); });
}

scripting::RunParameters CClientBoard::Parameters() {
  const v1::RunParameters p = BoardStatus().parameters();
  return {p.frame_rate(), p.laser_duty(), p.laser_a_gain(), p.laser_b_gain()};
}

void CClientBoard::SetRunParameters(const scripting::RunParameters& parameters) {
  const auto client = Client();
  v1::RunParameters request;
  request.set_frame_rate(parameters.FrameRate);
  request.set_laser_duty(parameters.LaserDuty);
  request.set_laser_a_gain(parameters.LaserAGain);
  request.set_laser_b_gain(parameters.LaserBGain);
  m_Changed = true;
  Released([&] { client->SetRunParameters(request); });
}

void CClientBoard::Run(const std::vector<int>& frames, bool loop) {
  const auto client = Client();
  m_Changed = true;
  Released([&] { client->StartRun(frames, loop); });
}

void CClientBoard::Stop() {
  const auto client = Client();
  Released([&] { client->StopRun(); });
}

SRun_Status CClientBoard::Status() {
  const v1::BoardStatus status = BoardStatus();
  if (status.run_state() == v1::RUN_STATE_UNKNOWN) throw scripting::CScriptError("The board gave no run status");
  return {static_cast<uint16_t>(status.run_state() == v1::RUN_STATE_ACTIVE ? RUN_FLAG_ACTIVE : 0),
          static_cast<uint16_t>(status.last_index()), static_cast<uint16_t>(status.current_index())};
}

void CClientBoard::Select(int frame) {
  const auto client = Client();
  Released([&] { client->Select(frame); });
}

bool CClientBoard::Power() { return BoardStatus().slm_power(); }

void CClientBoard::SetPower(bool on) {
  const auto client = Client();
  m_Changed = true;
  Released([&] { client->SetPower(on); });
}

int CClientBoard::TrueFrames() { return BoardStatus().true_frames(); }

int CClientBoard::ImageFrames() { return BoardStatus().image_frames(); }

double CClientBoard::ReachedFrameRate() { return BoardStatus().reached_frame_rate(); }

std::string CClientBoard::Close(bool keepPower) {
  if (Closed()) return {};
  std::shared_ptr<service::CBoardClient> client = Client();
  m_Client.reset();  // closed from here on, whatever the service says
  // Said without touching the power: another client may have switched it since.
  if (m_Changed && keepPower != KeepPower()) Released([&] { client->SetKeepPower(keepPower); });
  const std::string path = client->Where();
  Released([&] { client.reset(); });
  return "left the board service on " + path + ", which ends the board safely once its last client has left" +
         (keepPower ? ", the SLM power kept" : "");
}

}  // namespace sorrelpy
