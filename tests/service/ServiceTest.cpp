// The board service's refusals as a client meets them: a frame of the wrong size, a frame
// the board does not have, a message beyond one frame, a client beyond the limit or its
// rate, a TCP client without a certificate of the service's authority, a frame channel not
// handed to its opener or with a file that may shrink; the board made safe
// once the last client has left; frames set from phases as a local script sets them; and the
// status stream during a run, beside clients that never read theirs or with its own thread
// held back, ended with the service.

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "BoardClient.h"
#include "BoardService.h"
#include "Certificates.h"
#include "FrameChannel.h"
#include "HeadlessBoard.h"
#include "PatternFiles.h"
#include "ServiceSocket.h"
#include "ScriptBoard.h"
#include "ServiceSocket.h"
#include "SimFixture.h"
#include "sorrel_board.grpc.pb.h"
#include "ui/Process.h"

namespace {

namespace v1 = sorrel::v1;

// The headless board with a gate the status stream's thread passes to read the run: a test
// that holds it holds the thread back as a busy machine would.
class CGatedBoard final : public service::CServedBoard {
 public:
  explicit CGatedBoard(service::CServedBoard& board) : m_Board(board) {}
  const SBoard_Spec& Spec() const override { return m_Board.Spec(); }
  v1::BoardStatus Status() override { return m_Board.Status(); }
  bool SetPower(bool on) override { return m_Board.SetPower(on); }
  bool Select(int frame) override { return m_Board.Select(frame); }
  scripting::RunParameters SetRunParameters(const scripting::RunParameters& p) override {
    return m_Board.SetRunParameters(p);
  }
  bool WriteFrame(int frame, const uint8_t* pixels) override { return m_Board.WriteFrame(frame, pixels); }
  scripting::PhaseHost PhaseComposition() override { return m_Board.PhaseComposition(); }
  bool Run(const std::vector<int>& frames, bool loop) override { return m_Board.Run(frames, loop); }
  void Stop() override { m_Board.Stop(); }
  bool RunStatus(SRun_Status& status) override {
    std::lock_guard pass(Gate);
    return m_Board.RunStatus(status);
  }
  bool RunStatusIsCurrent() const override { return m_Board.RunStatusIsCurrent(); }
  void ClientsLeft(bool keepPower) override { m_Board.ClientsLeft(keepPower); }

  std::mutex Gate;

 private:
  service::CServedBoard& m_Board;
};

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

  void Serve(int maxClients = service::CBoardService::DEFAULT_MAX_CLIENTS, service::ClientsObserver observer = {},
             int maxRate = service::CBoardService::DEFAULT_MAX_RATE) {
    m_Served = std::make_unique<service::CHeadlessBoard>(*m_Board, m_Compensation, m_Folder);
    m_Gated = std::make_unique<CGatedBoard>(*m_Served);
    m_Service = std::make_unique<service::CBoardService>(*m_Gated, m_Folder + "/board.sock", maxClients, maxRate,
                                                         m_Access, std::move(observer));
  }
  // Serves on the loopback address too, with a lab's certificates made in lab/ (the service's
  // machine and the client "analysis").
  void ServeTcp(int maxClients = service::CBoardService::DEFAULT_MAX_CLIENTS, service::ClientsObserver observer = {}) {
    service::MakeCertificates(m_Folder + "/lab", {"127.0.0.1"}, {"analysis"});
    m_Access.TcpAddress = "127.0.0.1:0";
    m_Access.Tls = service::ReadTlsFiles(m_Folder + "/lab/server", service::ETlsSide::Server);
    Serve(maxClients, std::move(observer));
  }
  static grpc::Status Ask(v1::Board::Stub& client) {
    grpc::ClientContext context;
    v1::BoardStatus status;
    return client.GetStatus(&context, v1::StatusRequest(), &status);
  }
  // A looping run over frames 0 to 3 at the board's top rate.
  void RunFast() {
    m_Board->SetRunParameters({1000, 50, 0, 0});
    ASSERT_TRUE(m_Board->Run({0, 1, 2, 3}, true));
  }
  // The first count updates of a stream (fewer when it ends first).
  static std::vector<v1::StatusUpdate> Read(grpc::ClientReader<v1::StatusUpdate>& stream, size_t count) {
    std::vector<v1::StatusUpdate> updates;
    v1::StatusUpdate update;
    while (updates.size() < count && stream.Read(&update)) updates.push_back(update);
    return updates;
  }
  // Every frame shown between the first update and the last is in some update's frames_passed.
  static void ExpectFramesAddUp(const std::vector<v1::StatusUpdate>& updates) {
    ASSERT_GE(updates.size(), 2u);
    uint64_t passed = 0;
    for (size_t i = 1; i < updates.size(); ++i) passed += updates[i].frames_passed();
    EXPECT_EQ(passed, updates.back().frames_shown() - updates.front().frames_shown());
  }
  // A client on a connection of its own.
  std::unique_ptr<v1::Board::Stub> Client() {
    return Client("unix:" + m_Folder + "/board.sock", grpc::InsecureChannelCredentials());
  }
  static std::unique_ptr<v1::Board::Stub> Client(const std::string& target,
                                                 const std::shared_ptr<grpc::ChannelCredentials>& credentials) {
    grpc::ChannelArguments own;
    own.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    return v1::Board::NewStub(grpc::CreateCustomChannel(target, credentials, own));
  }
  // A client of the TCP address with the lab's authority and these files of a client's.
  std::unique_ptr<v1::Board::Stub> TlsClient(const std::string& clientFolder) {
    return Client(m_Service->TcpAddress(),
                  service::ClientCredentials(service::ReadTlsFiles(clientFolder, service::ETlsSide::Client)));
  }
  // A frame channel's socket and token, asked for on client's connection.
  static std::pair<std::string, service::ChannelToken> ChannelOf(v1::Board::Stub& client) {
    grpc::ClientContext context;  // holds the connection while it lives
    v1::FrameChannel given;
    service::ChannelToken token{};
    EXPECT_TRUE(client.OpenFrameChannel(&context, {}, &given).ok());
    EXPECT_EQ(given.token().size(), token.size());
    std::memcpy(token.data(), given.token().data(), std::min(token.size(), given.token().size()));
    return {given.path(), token};
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
  std::unique_ptr<CGatedBoard> m_Gated;
  std::unique_ptr<service::CBoardService> m_Service;
  service::SServiceAccess m_Access;
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

// The host learns who is served, as each comes and goes: the process and its program. A
// client that set the lasers and left is not the last while another is connected: the board
// is made safe only once they all have gone.
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
  {
    grpc::ClientContext context;  // holds the connection while it lives
    v1::RunParameters lasers, sent;
    lasers.set_frame_rate(100);
    lasers.set_laser_a_gain(200);
    ASSERT_TRUE(first->SetRunParameters(&context, lasers, &sent).ok());
  }
  EXPECT_TRUE(becomes({me}));
  auto second = Client();
  ASSERT_TRUE(Ask(*second).ok());
  EXPECT_TRUE(becomes({me, me}));
  auto turned = Client();
  EXPECT_EQ(Ask(*turned).error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
  EXPECT_EQ(last().size(), 2u) << "a client turned away is not served";
  first.reset();
  EXPECT_TRUE(becomes({me}));
  EXPECT_EQ(m_Board->Parameters().LaserAGain, 200) << "made safe while a client was still connected";
  second.reset();
  turned.reset();
  EXPECT_TRUE(becomes({})) << last().size();
  // The limit only keeps a service that never ends the board from hanging the test.
  for (int i = 0; i < 3000 && m_Board->Parameters().LaserAGain != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(m_Board->Parameters().LaserAGain, 0);
  m_Service.reset();  // it tells no more, before what it told goes
}

// A client, local or over TCP, switches the power and the lasers on and leaves: once none is
// connected the lasers go to zero gain, and the power off unless the client asked to keep it.
TEST_F(ServiceTest, TheLastClientToLeaveLeavesTheLasersAtZeroAndThePowerAsAsked) {
  ServeTcp();
  for (const auto& [tcp, keep] : {std::pair{false, false}, {false, true}, {true, false}, {true, true}}) {
    {
      auto client = tcp ? TlsClient(m_Folder + "/lab/analysis") : Client();
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
    EXPECT_EQ(left.LaserAGain, 0) << "kept " << keep << ", TCP " << tcp;
    EXPECT_EQ(left.LaserBGain, 0) << "kept " << keep << ", TCP " << tcp;
    EXPECT_EQ(m_Board->Power(), keep) << "TCP " << tcp;
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

// A client showing a certificate of the service's authority is served over TCP and named to
// the host by its certificate; the lab's keys are the owner's alone. (The refused ones are met
// from another process, in test_sorrelctl.py: the system's gRPC client, retrying a refused
// connection on threads of its own, is one the thread checker cannot follow.)
TEST_F(ServiceTest, ATcpClientWithACertificateOfTheServicesAuthorityIsServed) {
  std::mutex mutex;
  std::vector<service::ServiceClient> told;
  ServeTcp(service::CBoardService::DEFAULT_MAX_CLIENTS, [&](const std::vector<service::ServiceClient>& clients) {
    std::lock_guard lock(mutex);
    told = clients;
  });
  auto analysis = TlsClient(m_Folder + "/lab/analysis");
  EXPECT_TRUE(Write(*analysis, 2, FRAME).ok());
  const auto named = [&] {
    std::lock_guard lock(mutex);
    return told.size() == 1 ? told[0].Program : "";
  };
  for (int i = 0; i < 1000 && named().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_TRUE(named().starts_with("analysis at 127.0.0.1:")) << named();
  grpc::ClientContext context;
  v1::FrameChannel channel;
  EXPECT_EQ(analysis->OpenFrameChannel(&context, {}, &channel).error_code(), grpc::StatusCode::UNIMPLEMENTED);
  for (const char* key : {"/lab/server/server.key", "/lab/analysis/client.key"}) {
    EXPECT_EQ(std::filesystem::status(m_Folder + key).permissions(), std::filesystem::perms::owner_read |
                                                                        std::filesystem::perms::owner_write)
        << key;
  }
  m_Service.reset();  // it tells no more, before what it told goes
}

// A TCP client counts against the limit as a local one does, hears the same refusal, and
// frees its place when it leaves.
TEST_F(ServiceTest, ATcpClientCountsAgainstTheLimitUntilItLeaves) {
  ServeTcp(1);
  {
    auto local = Client();
    ASSERT_TRUE(Write(*local, 0, FRAME).ok());
    const grpc::Status turned = Write(*TlsClient(m_Folder + "/lab/analysis"), 0, FRAME);
    EXPECT_EQ(turned.error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
    EXPECT_EQ(turned.error_message(),
              "the board service serves at most 1 clients at once; try again when one has ended");
  }
  {
    auto remote = TlsClient(m_Folder + "/lab/analysis");
    // The limit only keeps a service that never notices the local client left from hanging the test.
    grpc::Status served;
    for (int i = 0; i < 3000 && !(served = Write(*remote, 0, FRAME)).ok(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(served.ok()) << served.error_message();
    EXPECT_EQ(Write(*Client(), 0, FRAME).error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
  }
  auto local = Client();
  grpc::Status served;
  for (int i = 0; i < 3000 && !(served = Write(*local, 1, FRAME)).ok(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(served.ok()) << served.error_message();
}

// A member of the socket's group by a supplementary group is known from its process, and
// only while that process is still the peer's user's.
TEST(ServiceCallers, AGroupMemberIsServedByItsSupplementaryGroupsWhileItsProcessIsItsUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a process a group";
  const gid_t group = 4242;
  int ready[2];
  int done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t member = fork();
  ASSERT_GE(member, 0);
  if (member == 0) {
    char byte = setgroups(1, &group) == 0 ? 1 : 0;
    [[maybe_unused]] ssize_t n = write(ready[1], &byte, 1);
    n = read(done[0], &byte, 1);
    _exit(0);
  }
  char set = 0;
  ASSERT_EQ(read(ready[0], &set, 1), 1);
  ASSERT_EQ(set, 1);
  const gid_t own = 65533;
  const service::SCallers members{getuid() + 1, group};
  EXPECT_EQ(service::RefusedPeer(ucred{member, getuid(), own}, members), "");
  EXPECT_EQ(service::RefusedPeer(ucred{member, getuid() + 2, group}, members), "");
  // The process the credentials name is now another user's.
  EXPECT_EQ(service::RefusedPeer(ucred{member, getuid() + 2, own}, members),
            "the board service serves only the processes of user 1 and of the members of group 4242, not process " +
                std::to_string(member) + " of user 2");
  EXPECT_NE(service::RefusedPeer(ucred{member, getuid(), own}, {getuid() + 1, std::nullopt}), "");
  EXPECT_NE(service::RefusedPeer(ucred{member, getuid(), own}, {getuid() + 1, group + 1}), "");
  char byte = 0;
  EXPECT_EQ(write(done[1], &byte, 1), 1);
  waitpid(member, nullptr, 0);
  for (const int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

// During a run a stream brings every frame, each counted once; one asking for every 10th
// frame or for a few updates a second gets fewer, with what it skipped in frames_passed.
TEST_F(ServiceTest, TheStreamFollowsARunFrameByFrameOrAsSparselyAsAsked) {
  Serve();
  RunFast();
  auto client = Client();
  grpc::ClientContext all, tenth, few;
  v1::WatchRequest every, everyTenth, perSecond;
  everyTenth.set_frames_every_n(10);
  perSecond.set_max_per_second(20);
  auto allStream = client->WatchStatus(&all, every);
  auto tenthStream = client->WatchStatus(&tenth, everyTenth);
  const auto start = std::chrono::steady_clock::now();
  auto fewStream = client->WatchStatus(&few, perSecond);
  const std::vector<v1::StatusUpdate> frames = Read(*allStream, 300);
  const std::vector<v1::StatusUpdate> tenths = Read(*tenthStream, 30);
  const std::vector<v1::StatusUpdate> sparse = Read(*fewStream, 5);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ExpectFramesAddUp(frames);
  ExpectFramesAddUp(tenths);
  ExpectFramesAddUp(sparse);
  for (size_t i = 1; i < frames.size(); ++i) {
    EXPECT_GE(frames[i].frames_passed(), 1u) << i;
    EXPECT_EQ(frames[i].run_state(), v1::RUN_STATE_ACTIVE);
    EXPECT_LT(frames[i].position(), 4);
    EXPECT_EQ(frames[i].frame(), (frames[i].position() + 1) % 4) << "frames 0 to 3 run in order, the next selected";
  }
  for (size_t i = 1; i < tenths.size(); ++i) EXPECT_GE(tenths[i].frames_passed(), 10u) << i;
  // Five updates at most 20 a second take at least 0.2 s; however slow the machine, never less.
  EXPECT_GE(took, 0.2);
  for (auto* context : {&all, &tenth, &few}) context->TryCancel();
}

// Holds the stream's thread back for the next frames the card shows, doing meanwhile what is
// given; the interrupts taken when it began and when it let go.
std::pair<uint64_t, uint64_t> HoldBack(CGatedBoard& board, uint64_t frames, const std::function<void()>& meanwhile) {
  std::lock_guard held(board.Gate);
  const uint64_t from = pci::WaitInterrupt(simtest::SLOT0, 0, std::chrono::milliseconds(0));
  meanwhile();
  // The limit only keeps a card that stopped interrupting from hanging the test.
  for (uint64_t shown = from; shown < from + frames;) {
    const uint64_t next = pci::WaitInterrupt(simtest::SLOT0, shown, std::chrono::seconds(2));
    if (next == shown) ADD_FAILURE() << "the card stopped interrupting";
    if (next == shown) return {from, shown};
    shown = next;
  }
  return {from, pci::WaitInterrupt(simtest::SLOT0, 0, std::chrono::milliseconds(0))};
}

// However late the stream's thread runs, a stream asking for every frame brings each in an
// update of its own, with where the run was at it while the run stepped through the delay;
// across a restart, the reading that found the frames rather than a position made up.
TEST_F(ServiceTest, AStreamWhoseThreadRunsLateStillBringsEachFrameOnItsOwn) {
  Serve();
  m_Board->SetRunParameters({200, 50, 0, 0});
  ASSERT_TRUE(m_Board->Run({0, 1, 2, 3, 4, 5}, true));
  auto client = Client();
  grpc::ClientContext context;
  auto stream = client->WatchStatus(&context, {});
  ASSERT_EQ(Read(*stream, 5).size(), 5u);  // past the run's first step, which a reading cannot place
  const uint64_t held = HoldBack(*m_Gated, 50, [] {}).second;
  std::vector<v1::StatusUpdate> updates = Read(*stream, 1);
  while (updates.back().frames_shown() < held + 5) updates.push_back(Read(*stream, 1).at(0));
  ExpectFramesAddUp(updates);
  for (size_t i = 1; i < updates.size(); ++i) {
    ASSERT_EQ(updates[i].frames_passed(), 1u) << i;
    EXPECT_EQ(updates[i].position(), (updates[i - 1].position() + 1) % 6) << i;
    EXPECT_EQ(updates[i].frame(), (updates[i].position() + 1) % 6) << i;
  }

  const auto [from, to] = HoldBack(*m_Gated, 20, [&] { EXPECT_TRUE(m_Board->Run({0, 1, 2}, true)); });
  std::vector<v1::StatusUpdate> found;
  for (v1::StatusUpdate u; stream->Read(&u) && u.frames_shown() <= to;) {
    EXPECT_EQ(u.frames_passed(), 1u);
    if (u.frames_shown() > from + 1) found.push_back(u);
  }
  ASSERT_FALSE(found.empty());
  for (const v1::StatusUpdate& u : found) {
    EXPECT_EQ(u.position(), found.back().position()) << "frame " << u.frames_shown() << " of " << from << " to " << to;
    EXPECT_EQ(u.run_state(), v1::RUN_STATE_ACTIVE);
  }
  context.TryCancel();
}

// A client that opened streams and never reads them holds back no one: another client's calls
// are served and its own stream keeps up; and the service still ends.
TEST_F(ServiceTest, AStreamNobodyReadsHoldsBackNoOne) {
  Serve();
  RunFast();
  auto idle = Client();
  std::vector<std::unique_ptr<grpc::ClientContext>> contexts;
  std::vector<std::unique_ptr<grpc::ClientReader<v1::StatusUpdate>>> unread;
  for (int i = 0; i < service::CBoardService::MAX_STREAMS; ++i) {
    contexts.push_back(std::make_unique<grpc::ClientContext>());
    unread.push_back(idle->WatchStatus(contexts.back().get(), {}));
  }
  // Each open, as its first update says (the service takes calls in any order), and then one
  // beyond the limit of a client's streams is refused.
  v1::StatusUpdate none;
  for (auto& stream : unread) ASSERT_TRUE(stream->Read(&none));
  grpc::ClientContext beyond;
  auto refused = idle->WatchStatus(&beyond, {});
  EXPECT_FALSE(refused->Read(&none));
  const grpc::Status why = refused->Finish();
  EXPECT_EQ(why.error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
  EXPECT_EQ(why.error_message(), "the board service keeps at most 4 status streams open for one client");

  auto busy = Client();
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the unread streams fill their buffers
  for (int i = 0; i < 200; ++i) {
    grpc::ClientContext context;
    v1::BoardStatus status;
    ASSERT_TRUE(busy->GetStatus(&context, {}, &status).ok()) << i;
    ASSERT_TRUE(Write(*busy, 10 + i % 4, FRAME).ok()) << i;
  }
  grpc::ClientContext watching;
  auto read = busy->WatchStatus(&watching, {});
  ExpectFramesAddUp(Read(*read, 100));
  // What an unread stream kept, read late, still counts every frame.
  ExpectFramesAddUp(Read(*unread.front(), 2000));
  watching.TryCancel();
}

// A stream ends with OK when the service ends, with the updates it held.
TEST_F(ServiceTest, TheStreamEndsWhenTheServiceEnds) {
  Serve();
  auto client = Client();
  grpc::ClientContext context;
  auto stream = client->WatchStatus(&context, {});
  ASSERT_EQ(Read(*stream, 1).size(), 1u);
  std::thread ending([this] { m_Service.reset(); });
  v1::StatusUpdate update;
  while (stream->Read(&update)) {
  }
  EXPECT_TRUE(stream->Finish().ok());
  ending.join();
}

TEST_F(ServiceTest, AClientCallingFasterThanTheRateIsToldWhy) {
  Serve(service::CBoardService::DEFAULT_MAX_CLIENTS, {}, 2);
  auto client = Client();
  std::vector<grpc::Status> answers;
  for (int i = 0; i < 10; ++i) {
    grpc::ClientContext context;
    v1::SelectRequest request;
    request.set_frame(i);
    v1::SelectReply reply;
    answers.push_back(client->Select(&context, request, &reply));
  }
  EXPECT_TRUE(answers.front().ok());
  EXPECT_EQ(answers.back().error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
  EXPECT_EQ(answers.back().error_message(),
            "the board service takes at most 2 calls a second from one client; this one called faster");
  // Another client has a budget of its own, and its frame channel's calls draw on it.
  auto other = Client();
  EXPECT_TRUE(Write(*other, 0, FRAME).ok());
  const auto [path, token] = ChannelOf(*other);
  service::CFrameChannel channel(path, token, FRAME);
  const grpc::Status refused = channel.Call(service::EChannelCall::Select, 0);
  EXPECT_EQ(refused.error_message(),
            "the board service takes at most 2 calls a second from one client; this one called faster");
  // The service's end ends its channels.
  m_Service.reset();
  EXPECT_EQ(channel.Call(service::EChannelCall::Select, 0).error_code(), grpc::StatusCode::UNAVAILABLE);
}

// The service's reply to a channel opened with token and the descriptor file (none: -1).
grpc::Status OpenChannel(const std::string& path, const service::ChannelToken& token, int file) {
  const int fd = service::Connect(path, SOCK_SEQPACKET);
  iovec data{const_cast<uint8_t*>(token.data()), token.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  if (file >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    cmsghdr* rights = CMSG_FIRSTHDR(&message);
    *rights = {CMSG_LEN(sizeof(int)), SOL_SOCKET, SCM_RIGHTS};
    std::memcpy(CMSG_DATA(rights), &file, sizeof(int));
  }
  char reply[service::CHANNEL_REPLY_BYTES];
  EXPECT_EQ(sendmsg(fd, &message, 0), static_cast<ssize_t>(token.size()));
  const grpc::Status status = service::ReplyStatus(reply, recv(fd, reply, sizeof(reply), 0));
  close(fd);
  return status;
}

// A frame channel serves the connection it was handed to alone, through a file the client
// cannot shrink under the service, and its calls meet the checks and texts of the calls
// they stand for, until that connection ends.
TEST_F(ServiceTest, AFrameChannelIsItsConnectionsAloneAndRefusesAsItsCallsWould) {
  Serve();
  auto stub = Client();
  auto [path, token] = ChannelOf(*stub);
  const int loose = memfd_create("loose", MFD_CLOEXEC);
  ASSERT_EQ(ftruncate(loose, FRAME), 0);
  const grpc::Status shrinkable = OpenChannel(path, token, loose);
  close(loose);
  EXPECT_EQ(shrinkable.error_message(), "the frame channel's shared file is not sealed against shrinking");
  EXPECT_EQ(OpenChannel(path, token, -1).error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  service::ChannelToken guessed = token;
  guessed[0] ^= 1;
  EXPECT_EQ(OpenChannel(path, guessed, -1).error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_THROW(service::CFrameChannel(path, guessed, FRAME), std::runtime_error);

  service::CFrameChannel channel(path, token, FRAME);
  EXPECT_THROW(service::CFrameChannel(path, token, FRAME), std::runtime_error) << "a token opens one channel";
  std::vector<uint8_t> picture(FRAME);
  for (size_t i = 0; i < FRAME; ++i) channel.Pixels()[i] = picture[i] = static_cast<uint8_t>(i * 7 + i / 512);
  ASSERT_TRUE(channel.Call(service::EChannelCall::WriteFrame, 3).ok());
  std::vector<uint8_t> shown;
  ASSERT_TRUE(sim::testing::DecodedFrame(simtest::SLOT0, 3, shown));
  EXPECT_TRUE(shown == picture);
  const grpc::Status missing = channel.Call(service::EChannelCall::Select, 1024);
  EXPECT_EQ(missing.error_code(), grpc::StatusCode::OUT_OF_RANGE);
  EXPECT_EQ(missing.error_message(), "frame 1024 is not one of the board's frame buffers 0..1023");
  EXPECT_EQ(channel.Call(static_cast<service::EChannelCall>(9), 0).error_code(), grpc::StatusCode::INVALID_ARGUMENT);

  // Another process with the connection's next token is not its client.
  std::tie(path, token) = ChannelOf(*stub);
  const pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    const int file = memfd_create("other", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    const bool sealed = ftruncate(file, FRAME) == 0 && fcntl(file, F_ADD_SEALS, F_SEAL_SHRINK) == 0;
    _exit(sealed ? static_cast<int>(OpenChannel(path, token, file).error_code()) : 100);
  }
  int status = 0;
  ASSERT_EQ(waitpid(other, &status, 0), other);
  EXPECT_EQ(WEXITSTATUS(status), grpc::StatusCode::PERMISSION_DENIED);
  EXPECT_TRUE(channel.Call(service::EChannelCall::Select, 3).ok()) << "the open channel stays the client's";

  stub.reset();
  grpc::Status after;
  for (int i = 0; i < 3000 && (after = channel.Call(service::EChannelCall::Select, 0)).ok(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(after.error_code(), grpc::StatusCode::UNAVAILABLE);
  EXPECT_EQ(after.error_message(), "the connection that opened this frame channel has ended");
}

// Runs and selects of frames the board does not have, and an empty run, are refused with the
// board's text; the board runs on as it was.
TEST_F(ServiceTest, ARunOrSelectOfFramesTheBoardDoesNotHaveIsRefused) {
  Serve();
  auto client = Client();
  auto run = [&](std::vector<int> frames) {
    grpc::ClientContext context;
    v1::StartRunRequest request;
    for (int f : frames) request.add_frames(f);
    v1::StartRunReply reply;
    return client->StartRun(&context, request, &reply);
  };
  const grpc::Status beyond = run({0, 1024});
  EXPECT_EQ(beyond.error_code(), grpc::StatusCode::OUT_OF_RANGE);
  EXPECT_EQ(beyond.error_message(), "frame 1024 is not one of the board's frame buffers 0..1023");
  EXPECT_EQ(run({-1}).error_code(), grpc::StatusCode::OUT_OF_RANGE);
  const grpc::Status empty = run({});
  EXPECT_EQ(empty.error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_EQ(empty.error_message(), "a run needs at least one frame");
  grpc::ClientContext context;
  v1::SelectRequest select;
  select.set_frame(-5);
  v1::SelectReply reply;
  EXPECT_EQ(client->Select(&context, select, &reply).error_code(), grpc::StatusCode::OUT_OF_RANGE);
  SRun_Status status{};
  ASSERT_TRUE(m_Board->Status(status));
  EXPECT_EQ(status.RunFlags & RUN_FLAG_ACTIVE, 0);
}

}  // namespace
