// The board service's refusals as a client meets them: a frame of the wrong size, a frame
// the board does not have, a message beyond one frame, a client beyond the limit; and the
// board made safe once the last client has left.

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BoardService.h"
#include "HeadlessBoard.h"
#include "ScriptBoard.h"
#include "ServiceSocket.h"
#include "SimFixture.h"
#include "sorrel_board.grpc.pb.h"
#include "ui/Process.h"

namespace {

namespace v1 = sorrel::v1;

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSleepHook([](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20)); });
    simtest::UseBus("kite");
    char folder[] = "/tmp/sorrel-service-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    m_Folder = folder;
    StoredSettings settings;
    settings.FrameRate = 100;
    settings.TrueFrames = 3;
    m_Board = std::make_unique<scripting::CScriptBoard>(settings);
  }
  void TearDown() override {
    m_Service.reset();
    m_Board->Close(false);
    std::filesystem::remove_all(m_Folder);
    SetSleepHook({});
  }

  void Serve(int maxClients = service::CBoardService::DEFAULT_MAX_CLIENTS, service::ClientsObserver observer = {}) {
    m_Served = std::make_unique<service::CHeadlessBoard>(*m_Board);
    m_Service = std::make_unique<service::CBoardService>(*m_Served, m_Folder + "/board.sock", maxClients,
                                                         std::move(observer));
  }
  static grpc::Status Ask(v1::Board::Stub& client) {
    grpc::ClientContext context;
    v1::BoardStatus status;
    return client.GetStatus(&context, v1::StatusRequest(), &status);
  }
  // A client on a connection of its own.
  std::unique_ptr<v1::Board::Stub> Client() {
    grpc::ChannelArguments own;
    own.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    return v1::Board::NewStub(
        grpc::CreateCustomChannel("unix:" + m_Folder + "/board.sock", grpc::InsecureChannelCredentials(), own));
  }
  static grpc::Status Write(v1::Board::Stub& client, int frame, size_t bytes) {
    return Write(client, frame, std::string(bytes, '\x5a'));
  }
  static grpc::Status Write(v1::Board::Stub& client, int frame, const std::string& pixels) {
    grpc::ClientContext context;
    v1::WriteFrameRequest request;
    request.set_frame(frame);
    request.set_pixels(pixels);
    v1::WriteFrameReply reply;
    return client.WriteFrame(&context, request, &reply);
  }

  std::string m_Folder;
  std::unique_ptr<scripting::CScriptBoard> m_Board;
  std::unique_ptr<service::CHeadlessBoard> m_Served;
  std::unique_ptr<service::CBoardService> m_Service;
};

constexpr size_t FRAME = 512 * 512;

TEST_F(ServiceTest, AFrameIsRefusedForItsSizeOrNumberWithTheBoardsText) {
  Serve();
  auto client = Client();
  // A frame that is taken arrives on the card as the client sent it.
  std::string picture(FRAME, '\0');
  for (size_t i = 0; i < FRAME; ++i) picture[i] = static_cast<char>(i * 7 + i / 512);
  ASSERT_TRUE(Write(*client, 3, picture).ok());
  std::vector<uint8_t> shown;
  ASSERT_TRUE(sim::testing::DecodedFrame(simtest::SLOT0, 3, shown));
  EXPECT_TRUE(shown == std::vector<uint8_t>(picture.begin(), picture.end()));
  const grpc::Status shorter = Write(*client, 3, FRAME - 1);
  EXPECT_EQ(shorter.error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_EQ(shorter.error_message(), "a frame of Kite_SLM is 512 x 512 = 262144 bytes, not 262143");
  const grpc::Status missing = Write(*client, 1024, FRAME);
  EXPECT_EQ(missing.error_code(), grpc::StatusCode::OUT_OF_RANGE);
  EXPECT_EQ(missing.error_message(), "frame 1024 is not one of the board's frame buffers 0..1023");
  // Far beyond a frame is refused before it is read whole.
  EXPECT_EQ(Write(*client, 3, 4 * FRAME).error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
}

TEST_F(ServiceTest, AClientBeyondTheLimitIsToldWhyAndTheOthersAreServed) {
  Serve(1);
  auto first = Client();
  auto second = Client();
  EXPECT_TRUE(Write(*first, 0, FRAME).ok());
  const grpc::Status turned = Write(*second, 0, FRAME);
  EXPECT_EQ(turned.error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
  EXPECT_EQ(turned.error_message(), "the board service serves at most 1 clients at once; try again when one has ended");
  EXPECT_TRUE(Write(*first, 1, FRAME).ok());
}

// The host learns who is served, as each comes and goes: the process and its program.
TEST_F(ServiceTest, TheObserverIsToldTheClientsAsTheyComeAndGo) {
  std::mutex mutex;
  std::vector<std::vector<std::string>> told;
  Serve(2, [&](const std::vector<service::ServiceClient>& clients) {
    std::vector<std::string> names;
    for (const service::ServiceClient& c : clients) names.push_back(std::to_string(c.Pid) + " " + c.Program);
    std::lock_guard lock(mutex);
    told.push_back(names);
  });
  const auto last = [&] {
    std::lock_guard lock(mutex);
    return told.empty() ? std::vector<std::string>{"nothing told"} : told.back();
  };
  const auto becomes = [&](const std::vector<std::string>& names) {
    for (int i = 0; i < 1000 && last() != names; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return last() == names;
  };
  const std::string me = std::to_string(getpid()) + " " + service::ProgramName(getpid());
  EXPECT_EQ(service::ProgramName(getpid()), "ServiceTests");
  auto first = Client();
  ASSERT_TRUE(Ask(*first).ok());
  EXPECT_TRUE(becomes({me}));
  auto second = Client();
  ASSERT_TRUE(Ask(*second).ok());
  EXPECT_TRUE(becomes({me, me}));
  auto turned = Client();
  EXPECT_EQ(Ask(*turned).error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
  EXPECT_EQ(last().size(), 2u) << "a client turned away is not served";
  first.reset();
  second.reset();
  EXPECT_TRUE(becomes({})) << last().size();
  m_Service.reset();  // it tells no more, before what it told goes
}

// A client switches the power and the lasers on and leaves: once none is connected the
// lasers go to zero gain, and the power off unless the client asked to keep it.
TEST_F(ServiceTest, TheLastClientToLeaveLeavesTheLasersAtZeroAndThePowerAsAsked) {
  Serve();
  for (const bool keep : {false, true}) {
    {
      auto client = Client();
      grpc::ClientContext power, gains;
      for (grpc::ClientContext* context : {&power, &gains}) {
        if (keep) context->AddMetadata("sorrel-keep-power", "1");
      }
      v1::SetPowerRequest on;
      on.set_on(true);
      v1::SetPowerReply switched;
      ASSERT_TRUE(client->SetPower(&power, on, &switched).ok());
      v1::RunParameters lasers, sent;
      lasers.set_frame_rate(100);
      lasers.set_laser_duty(50);
      lasers.set_laser_a_gain(200);
      lasers.set_laser_b_gain(100);
      ASSERT_TRUE(client->SetRunParameters(&gains, lasers, &sent).ok());
      EXPECT_TRUE(m_Board->Power());
    }
    // The limit only keeps a service that never notices from hanging the test.
    for (int i = 0; i < 3000 && (m_Board->Parameters().LaserAGain != 0 || m_Board->Power() != keep); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const scripting::RunParameters left = m_Board->Parameters();
    EXPECT_EQ(left.LaserAGain, 0) << "kept " << keep;
    EXPECT_EQ(left.LaserBGain, 0) << "kept " << keep;
    EXPECT_EQ(m_Board->Power(), keep);
  }
}

}  // namespace
