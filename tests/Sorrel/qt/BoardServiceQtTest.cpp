// The window as the board service's host, in real windows on the simulated card: what a
// client asks shows in the controls as the operator's own change would, a refusal goes to
// the client and never to a box, the clients are named, and the window ends safely under them.

#include <google/protobuf/stubs/strutil.h>
#include <google/protobuf/text_format.h>
#include <grpcpp/grpcpp.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <set>
#include <thread>

#include "BoardClient.h"
#include "BoardRegisters.h"
#include "QtProgramTest.h"
#include "ServiceSocket.h"
#include "sorrel_board.grpc.pb.h"

namespace qt = QtHostTesting;
namespace v1 = sorrel::v1;
using namespace progtest;

namespace {

class BoardServiceQtTest : public QtProgramTest {
 protected:
  // A client on a connection of its own.
  static std::unique_ptr<v1::Board::Stub> Client() {
    grpc::ChannelArguments own;
    own.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    return v1::Board::NewStub(grpc::CreateCustomChannel("unix:" + service::DefaultSocketPath(),
                                                        grpc::InsecureChannelCredentials(), own));
  }
  // A client's call, its request written as text ("frame: 1"), made from a thread of its own
  // while this (the user-interface) thread runs the window.
  template <class Request, class Reply>
  static grpc::Status Call(v1::Board::Stub& client,
                           grpc::Status (v1::Board::Stub::*method)(grpc::ClientContext*, const Request&, Reply*),
                           const std::string& request, Reply* reply = nullptr) {
    Request parsed;
    EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(request, &parsed)) << request;
    Reply none;
    auto done = std::async(std::launch::async, [&] {
      grpc::ClientContext context;
      return (client.*method)(&context, parsed, reply != nullptr ? reply : &none);
    });
    while (done.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) qt::ProcessEvents();
    return done.get();
  }
  static grpc::Status SetParameters(v1::Board::Stub& client, int rate, int duty, int a, int b, v1::RunParameters* reply) {
    return Call(client, &v1::Board::Stub::SetRunParameters,
                "frame_rate: " + std::to_string(rate) + " laser_duty: " + std::to_string(duty) +
                    " laser_a_gain: " + std::to_string(a) + " laser_b_gain: " + std::to_string(b),
                reply);
  }
  static grpc::Status SetPower(v1::Board::Stub& client, bool on) {
    return Call(client, &v1::Board::Stub::SetPower, on ? "on: true" : "on: false");
  }
  static v1::BoardStatus Status(v1::Board::Stub& client) {
    v1::BoardStatus status;
    EXPECT_TRUE(Call(client, &v1::Board::Stub::GetStatus, "", &status).ok());
    return status;
  }
  std::string ServiceLine() { return qt::ControlText(Dlg(), IDC_SERVICE_STATE); }
  // Lets the window run until the service line reads text; false when it never did.
  bool LineBecomes(const std::string& text) {
    for (int i = 0; i < 400 && ServiceLine() != text; ++i) RunFor(std::chrono::milliseconds(5));
    return ServiceLine() == text;
  }
  void CloseUnderAClient(const std::function<void()>& close) {
    StandardWork({{"BoardService", "1"}, {"LC_Type", "0"}});
    ASSERT_EQ(Start(), std::nullopt);
    auto client = Client();
    v1::RunParameters reply;
    ASSERT_TRUE(SetParameters(*client, 10, 50, 200, 100, &reply).ok());
    ASSERT_TRUE(SetPower(*client, true).ok());
    ASSERT_NE(BoardRegister(simtest::REG_CONTROL) & CONTROL_SLM_POWER, 0u);
    std::atomic<bool> asking = true;
    std::thread asker([&] {
      while (asking) {
        grpc::ClientContext context;
        v1::BoardStatus status;
        client->GetStatus(&context, v1::StatusRequest(), &status);
      }
    });
    RunFor(std::chrono::milliseconds(30));
    close();
    asking = false;
    asker.join();
    EXPECT_FALSE(std::filesystem::exists(service::DefaultSocketPath()));
    EXPECT_EQ(BoardRegister(simtest::REG_TIMING_A) & 0xFF, 0u);
    EXPECT_EQ(BoardRegister(simtest::REG_TIMING_B) & 0xFF, 0u);
    EXPECT_EQ(BoardRegister(simtest::REG_CONTROL) & CONTROL_SLM_POWER, 0u);
  }
  static std::string Me() { return std::to_string(getpid()) + " " + service::ProgramName(getpid()); }
};

TEST_F(BoardServiceQtTest, AClientsChangesShowInTheControlsAsTheOperatorsWould) {
  StandardWork({{"BoardService", "1"}, {"LC_Type", "0"}, {"FrameRate", "10"}});
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_TRUE(qt::ControlChecked(Dlg(), IDC_BOARD_SERVICE));
  EXPECT_EQ(ServiceLine(), "Board service: no clients");
  auto client = Client();
  EXPECT_EQ(Status(*client).selected_frame(), 0) << "the window's selection";
  EXPECT_TRUE(LineBecomes("Board service: 1 client (" + Me() + ")")) << ServiceLine();

  v1::RunParameters reply;
  ASSERT_TRUE(SetParameters(*client, 20, 30, 100, 50, &reply).ok());
  EXPECT_EQ(reply.frame_rate(), 20);
  EXPECT_EQ(reply.laser_b_gain(), 50);
  const int rateMin = Dlg().TrackGetRangeMin(IDC_RATE_SLIDER);
  const int rateMax = Dlg().TrackGetRangeMax(IDC_RATE_SLIDER);
  EXPECT_EQ(qt::ControlValue(Dlg(), IDC_RATE_SLIDER), rateMin + rateMax - 20);
  EXPECT_EQ(qt::ControlValue(Dlg(), IDC_DUTY_SLIDER), 70);
  EXPECT_EQ(qt::ControlValue(Dlg(), IDC_GAIN_A_SLIDER), 155);
  EXPECT_EQ(qt::ControlValue(Dlg(), IDC_GAIN_B_SLIDER), 205);
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_DUTY), "30.0");
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_GAIN_A), "39.2");
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_GAIN_B), "19.6");
  EXPECT_EQ(BoardRegister(simtest::REG_TIMING_A) & 0xFF, 100u);

  ASSERT_TRUE(SetPower(*client, true).ok());
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_POWER_STATE), "ON");
  EXPECT_FALSE(qt::ControlEnabled(Dlg(), IDC_POWER_ON));
  EXPECT_TRUE(qt::ControlEnabled(Dlg(), IDC_POWER_OFF));

  ASSERT_TRUE(Call(*client, &v1::Board::Stub::Select, "frame: 1").ok());
  EXPECT_EQ(qt::ListCurrentRow(Dlg(), IDC_IMAGE_LIST), 1);
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_ENTRY_PATTERN), "rings.bmp");
  EXPECT_EQ(Status(*client).selected_frame(), 1);

  // The selected entry's frame written anew: the board holds it and the screen image shows it.
  std::string pixels(512 * 512, '\0');
  for (int y = 0; y < 512; ++y) {
    for (int x = 0; x < 512; ++x) pixels[static_cast<size_t>(y) * 512 + static_cast<size_t>(x)] = static_cast<char>(y + 2 * x);
  }
  ASSERT_TRUE(Call(*client, &v1::Board::Stub::WriteFrame, "frame: 1 pixels: \"" + google::protobuf::CEscape(pixels) + "\"").ok());
  EXPECT_EQ(ShownFrame(1), std::vector<uint8_t>(pixels.begin(), pixels.end()));
  RunFor(std::chrono::milliseconds(50));
  const qt::ClientImage image = qt::GrabClient(Dlg());
  for (int y : {0, 37, 127}) {
    for (int x : {0, 64, 127}) {
      const uint8_t v = static_cast<uint8_t>(4 * y + 8 * x);
      EXPECT_EQ(image.At(44 + x, 323 + y), RGB(v, v, v)) << x << "," << y;
    }
  }

  // A run the client starts and stops: the button and the list follow as for START. Each
  // entry shows for two ticks of the run timer, so every one is seen.
  ASSERT_TRUE(SetParameters(*client, 5, 30, 100, 50, &reply).ok());
  ASSERT_TRUE(Call(*client, &v1::Board::Stub::StartRun, "frames: [2, 0] loop: true").ok());
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_START_STOP), "STOP");
  EXPECT_FALSE(qt::ControlEnabled(Dlg(), IDC_BROWSE_SEQUENCE));
  std::set<int> rows;
  RunFor(std::chrono::milliseconds(1500), [&] { rows.insert(qt::ListCurrentRow(Dlg(), IDC_IMAGE_LIST)); });
  EXPECT_EQ(rows, (std::set<int>{2, 0})) << "the rows of the client's frames, and no other";
  ASSERT_TRUE(Call(*client, &v1::Board::Stub::StopRun, "").ok());
  RunFor(std::chrono::milliseconds(300));
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_START_STOP), "START");
  EXPECT_TRUE(qt::ControlEnabled(Dlg(), IDC_BROWSE_SEQUENCE));

  // A script's selections, the second through its frame channel, move the list as the operator's would.
  {
    service::CBoardClient script(service::DefaultSocketPath(), false);
    for (int frame : {2, 1}) {
      auto call = std::async(std::launch::async, [&] { script.Select(frame); });
      while (call.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) qt::ProcessEvents();
      call.get();
      EXPECT_EQ(qt::ListCurrentRow(Dlg(), IDC_IMAGE_LIST), frame);
    }
  }

  client.reset();
  EXPECT_TRUE(LineBecomes("Board service: no clients")) << ServiceLine();
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_POWER_STATE), "ON") << "the operator owns the board once the clients have gone";
}

// The tool finds the window's service on its own and drives the board through the window.
TEST_F(BoardServiceQtTest, TheToolDrivesTheBoardThroughTheWindow) {
  StandardWork({{"BoardService", "1"}});
  ASSERT_EQ(Start(), std::nullopt);
  const auto tool = [](const std::string& arguments) {
    std::string output;
    auto done = std::async(std::launch::async, [&] {
      FILE* pipe = popen((std::string(SORRELCTL) + " " + arguments + " 2>&1").c_str(), "r");
      char buffer[256];
      while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
      return pipe != nullptr ? pclose(pipe) : -1;
    });
    while (done.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) qt::ProcessEvents();
    EXPECT_EQ(done.get(), 0) << arguments << ": " << output;
    return output;
  };
  // Before any run or status the window has read: the card's own run bit says idle.
  EXPECT_NE(tool("watch --count 1").find("  idle  "), std::string::npos);
  EXPECT_EQ(tool("power on"), "SLM power on\n");
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_POWER_STATE), "ON");
  EXPECT_EQ(tool("select 2"), "frame 2 selected\n");
  EXPECT_EQ(qt::ListCurrentRow(Dlg(), IDC_IMAGE_LIST), 2);
  EXPECT_NE(tool("status").find("Kite_SLM"), std::string::npos);
  EXPECT_TRUE(LineBecomes("Board service: no clients")) << ServiceLine();
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_POWER_STATE), "ON") << "the operator owns the board once the tool has gone";
}

TEST_F(BoardServiceQtTest, ARefusalGoesToTheClientAndNoBoxOpens) {
  StandardWork({{"BoardService", "1"}, {"LC_Type", "0"}});
  ASSERT_EQ(Start(), std::nullopt);
  auto client = Client();
  v1::RunParameters reply;
  const grpc::Status bad = SetParameters(*client, 10, 50, 300, 0, &reply);
  EXPECT_EQ(bad.error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_EQ(bad.error_message(), "laser A gain 300 is not within 0..255");
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_GAIN_A), "78.4") << "the window keeps what the board holds";

  Faults("power-stuck");
  const grpc::Status refused = SetPower(*client, true);
  EXPECT_EQ(refused.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(refused.error_message(), "SLM Power not responding... Is DAC power plugged in?");
  RunFor(std::chrono::milliseconds(50));
  EXPECT_FALSE(qt::ActiveMessageBox()) << "nobody at the window has to answer a client's refusal";
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_POWER_STATE), "OFF");
}

TEST_F(BoardServiceQtTest, TheBoxTurnsTheServiceOnAndOffAndTheCloseSavesIt) {
  StandardWork({{"LC_Type", "0"}});
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_FALSE(qt::ControlChecked(Dlg(), IDC_BOARD_SERVICE)) << "off unless the settings say on";
  EXPECT_FALSE(service::Answers(service::DefaultSocketPath()));
  qt::ClickControl(Dlg(), IDC_BOARD_SERVICE);
  EXPECT_TRUE(service::Answers(service::DefaultSocketPath()));
  EXPECT_EQ(ServiceLine(), "Board service: no clients");
  qt::ClickControl(Dlg(), IDC_BOARD_SERVICE);
  EXPECT_FALSE(service::Answers(service::DefaultSocketPath()));
  EXPECT_EQ(ServiceLine(), "Board service off");

  // Another service on the socket: the operator is told, and this one stays off.
  const int other = service::Listen(service::DefaultSocketPath());
  std::optional<qt::MessageBoxInfo> told;
  qt::Post([&] {
    told = qt::ActiveMessageBox();
    qt::DismissActiveMessageBox();
  });
  qt::ClickControl(Dlg(), IDC_BOARD_SERVICE);
  RunFor(std::chrono::milliseconds(50));
  ASSERT_TRUE(told);
  EXPECT_EQ(told->text, "Another board service already answers on " + service::DefaultSocketPath() +
                            "; this window's board service stays off.");
  EXPECT_FALSE(qt::ControlChecked(Dlg(), IDC_BOARD_SERVICE));
  close(other);
  std::filesystem::remove(service::DefaultSocketPath());

  qt::ClickControl(Dlg(), IDC_BOARD_SERVICE);
  qt::CloseWindow(Dlg());
  EXPECT_EQ(StoredValue("BoardService"), "1");
}

// However the window is closed under a connected client that keeps asking, the service goes
// first (its socket with it), no call holds the close up, and the board ends safe.
TEST_F(BoardServiceQtTest, TheCloseBoxEndsSafelyUnderAConnectedClient) {
  CloseUnderAClient([&] { qt::CloseWindow(Dlg()); });
}

TEST_F(BoardServiceQtTest, EscapeEndsSafelyUnderAConnectedClient) {
  CloseUnderAClient([&] { qt::PressKey(Dlg(), qt::Key::Escape); });
}

}  // namespace
