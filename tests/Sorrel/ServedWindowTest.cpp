// The window serving its board, under the scripted host: a client's call waits while a modal
// run of the window's is open, so nothing changes under the operator's dialog, and runs once
// the window takes input again.

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <future>
#include <thread>

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

}  // namespace
