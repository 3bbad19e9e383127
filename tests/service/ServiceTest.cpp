// The board service's refusals as a client meets them: a frame of the wrong size, a frame
// the board does not have, a message beyond one frame, a client beyond the limit; the board
// made safe once the last client has left; and frames set from phases as a local script sets
// them.

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BoardClient.h"
#include "BoardService.h"
#include "HeadlessBoard.h"
#include "PatternFiles.h"
#include "ScriptBoard.h"
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

  void Serve(int maxClients = service::CBoardService::DEFAULT_MAX_CLIENTS) {
    m_Served = std::make_unique<service::CHeadlessBoard>(*m_Board, m_Compensation, m_Folder);
    m_Service = std::make_unique<service::CBoardService>(*m_Served, m_Folder + "/board.sock", maxClients);
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

  std::string m_Folder;  // the socket's, and the working folder phases are composed in
  scripting::Compensation m_Compensation;  // what the service composes phases with
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
  // Far beyond a frame of phases (4 bytes a pixel) is refused before it is read whole.
  EXPECT_EQ(Write(*client, 3, 5 * FRAME).error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
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

// A level (x + 3y) mod 256 a wave or two away at each pixel, 0.3 of a level above it.
std::vector<float> Phases() {
  std::vector<float> phases(FRAME);
  for (size_t i = 0; i < FRAME; ++i) {
    const double level = static_cast<double>((i % 512 + i / 512 * 3) % 256) + 0.3 + 256.0 * static_cast<double>(i % 3);
    phases[i] = static_cast<float>(2 * M_PI * level / 256);
  }
  return phases;
}

std::vector<uint8_t> Shown(int frame) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(sim::testing::DecodedFrame(simtest::SLOT0, static_cast<uint32_t>(frame), bytes));
  return bytes;
}

// Through the service phases are composed with what its host applies: the frame the card
// holds is the one a script's call with the same compensation and LUT leaves.
TEST_F(ServiceTest, SetPhaseLeavesTheFrameALocalCallLeaves) {
  m_Compensation = {1, cpu::FrameVector(FRAME), cpu::FrameVector(FRAME)};
  for (size_t i = 0; i < FRAME; ++i) {
    m_Compensation.Slm[i] = static_cast<uint8_t>(Noise(static_cast<int>(i / 512), static_cast<int>(i % 512)));
    m_Compensation.Sys[i] = static_cast<uint8_t>(i * 7 + i / 512);
  }
  ASSERT_EQ(mkdir((m_Folder + "/LUT_Files").c_str(), 0755), 0);
  WriteLut(m_Folder + "/LUT_Files/633nm.lut", ScrambledValues(5));
  Serve();
  const std::vector<float> phases = Phases();
  service::CBoardClient client(m_Folder + "/board.sock", false);
  client.SetPhase(3, phases.data(), phases.size(), "633nm");
  ASSERT_TRUE(m_Board->SetPhase(4, phases.data(), "633nm", scripting::HostWith(m_Compensation, m_Folder)));
  const std::vector<uint8_t> served = Shown(3);
  EXPECT_TRUE(served == Shown(4));
  ASSERT_TRUE(m_Board->SetPhase(5, phases.data(), "633nm", scripting::HostWith({}, m_Folder)));
  EXPECT_FALSE(served == Shown(5)) << "the service added its host's compensation";

  // Refused with nothing written, each with its status: a wrong count, a wavelength without
  // a LUT, a frame the board does not have.
  auto stub = Client();
  const auto setPhase = [&](int frame, const std::vector<float>& values, const std::string& wavelength) {
    grpc::ClientContext context;
    v1::SetPhaseRequest request;
    request.set_frame(frame);
    request.mutable_phases()->Add(values.begin(), values.end());
    request.set_wavelength(wavelength);
    v1::SetPhaseReply reply;
    return stub->SetPhase(&context, request, &reply);
  };
  const grpc::Status shorter = setPhase(3, std::vector<float>(FRAME - 1), "633nm");
  EXPECT_EQ(shorter.error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_EQ(shorter.error_message(), "a frame of Kite_SLM is 512 x 512 = 262144 phases, not 262143");
  const grpc::Status unknown = setPhase(3, phases, "830nm");
  EXPECT_EQ(unknown.error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_EQ(unknown.error_message(), "no LUT file for the wavelength 830nm: " + m_Folder + "/LUT_Files/830nm.lut");
  EXPECT_EQ(setPhase(1024, phases, "633nm").error_code(), grpc::StatusCode::OUT_OF_RANGE);
  EXPECT_TRUE(Shown(3) == served);
}

}  // namespace
