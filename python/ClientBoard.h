#pragma once
// The board a board service holds, driven through it: every call goes to the service as
// sorrelctl's do (service::CBoardClient), with the GIL released while it waits. The service
// makes the board safe once its last client has left; closing this board leaves.

#include <memory>

#include "BoardClient.h"
#include "ModuleBoard.h"

namespace sorrelpy {

class CClientBoard final : public CModuleBoard {
 public:
  // Connects to the service on the socket at where, or with tlsFolder on the TCP address
  // where; throws sorrel.Error when none answers.
  CClientBoard(const std::string& where, bool keepPower, const std::string& tlsFolder = {});

  const SBoard_Spec& Spec() override;
  bool Closed() override { return Inherited() || !m_Client; }
  // Checks the array, then gathers its pixels straight into what goes to the service.
  void WriteFrame(int frame, const pybind11::handle& array) override;
  // Composed by the service with what its host applies.
  void SetPhase(int frame, const float* phases, const std::string& wavelength) override;
  scripting::RunParameters Parameters() override;
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
  // Leaves the service. When this board changed the lasers or the power, a keepPower other
  // than the one connected with is said to the service first: the power as it is sent again
  // to be kept, or switched off now.
  std::string Close(bool keepPower) override;

 private:
  // A call in flight keeps the client it started on, whichever thread closes the board.
  std::shared_ptr<service::CBoardClient> Client();
  sorrel::v1::BoardStatus BoardStatus();

  std::shared_ptr<service::CBoardClient> m_Client;
  SBoard_Spec m_Spec{};
  bool m_Changed = false;  // a call of this board changed the lasers or the power
};

}  // namespace sorrelpy
