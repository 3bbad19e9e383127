// The window serving its board, under the scripted host: a client's call waits while a modal
// run of the window's is open, so nothing changes under the operator's dialog, and runs once
// the window takes input again.

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>
#include <thread>

#include "BoardClient.h"
#include "BoardRegisters.h"
#include "ProgramFixture.h"
#include "ServiceSocket.h"
#include "sorrel_board.grpc.pb.h"

using namespace progtest;
namespace v1 = sorrel::v1;

namespace {

using ServedWindowTest = ProgramTest;

TEST_F(ServedWindowTest, AClientsCallWaitsForTheOperatorsDialogToEnd) {
  StandardWork({{"BoardService", "1"}});
  ASSERT_EQ(Start(), std::nullopt);
  auto client = v1::Board::NewStub(
      grpc::CreateChannel("unix:" + service::DefaultSocketPath(), grpc::InsecureChannelCredentials()));
  std::future<grpc::Status> call;
  bool waited = false;
  m_Host->SetScript(IDD_IMAGE_LIST_EDIT, [&](CDialog&, CScriptedHost& host) {
    call = std::async(std::launch::async, [&] {
      grpc::ClientContext context;
      v1::SetPowerRequest on;
      on.set_on(true);
      v1::SetPowerReply reply;
      return client->SetPower(&context, on, &reply);
    });
    for (int i = 0; i < 20; ++i) {
      host.AdvanceTime(50);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    waited = call.wait_for(std::chrono::seconds(0)) == std::future_status::timeout &&
             (BoardRegister(simtest::REG_CONTROL) & CONTROL_SLM_POWER) == 0;
  });
  m_Host->Click(Dlg(), IDC_EDIT_ENTRY);
  EXPECT_TRUE(waited) << "the power went on under the operator's dialog";
  while (call.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) m_Host->AdvanceTime(50);
  EXPECT_TRUE(call.get().ok());
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_POWER_STATE), "ON");
}

// A client's phases are composed with what the window applies at the moment of the call:
// its compensation images while its switch is on, and the LUTs of its working folder.
TEST_F(ServedWindowTest, AClientsPhasesTakeTheWindowsCompensationAsItIsNow) {
  WritePattern("Image_Files/slm.bmp", 512, Dim);
  WritePattern("Image_Files/system.bmp", 512, Rings);
  StandardWork({{"BoardService", "1"},
                {"ApplyCorrection", "1"},
                {"PhaseCompFileName", Work("Image_Files/slm.bmp")},
                {"SysPhaseCompFileName", Work("Image_Files/system.bmp")}});
  ASSERT_EQ(mkdir(Work("LUT_Files").c_str(), 0755), 0);
  std::filesystem::copy_file(Work("Image_Files/invert.lut"), Work("LUT_Files/633nm.lut"));
  ASSERT_EQ(Start(), std::nullopt);
  service::CBoardClient client(service::DefaultSocketPath(), false);
  std::vector<float> phases(512 * 512);
  for (int i = 0; i < 512 * 512; ++i) phases[i] = static_cast<float>(Ramp(i / 512, i % 512) * 2 * M_PI / 256);
  const auto setPhase = [&](int frame) {
    auto call = std::async(std::launch::async, [&] { client.SetPhase(frame, phases.data(), phases.size(), "633nm"); });
    while (call.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) m_Host->AdvanceTime(50);
    call.get();
  };
  const Picture slm = Dim, sys = Rings;
  setPhase(5);
  EXPECT_EQ(ShownFrame(5), ExpectedFrame(512, Ramp, Inverse, &slm, &sys));
  m_Host->Click(Dlg(), IDC_APPLY_CORRECTION);
  setPhase(6);
  EXPECT_EQ(ShownFrame(6), ExpectedFrame(512, Ramp, Inverse));
}

}  // namespace
