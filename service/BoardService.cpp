#include "BoardService.h"

#include <grpcpp/grpcpp.h>
#include <grpcpp/server_posix.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "BoardGeometry.h"
#include "BoardStatus.h"
#include "CallBudget.h"
#include "FrameChannels.h"
#include "ScriptMessages.h"
#include "ServiceSocket.h"
#include "StatusWatch.h"
#include "cpu/AlignedBytes.h"
#include "sorrel_board.grpc.pb.h"

namespace service {

namespace v1 = sorrel::v1;

namespace {

// A frame of phases plus room for the rest of the message.
constexpr size_t MESSAGE_ROOM = 64 * 1024;
// A call that changes the lasers or the power with this metadata leaves the power on.
constexpr const char* KEEP_POWER_KEY = "sorrel-keep-power";
// How long a status stream's call waits between looks at whether its client has gone.
constexpr std::chrono::milliseconds STREAM_LOOK{100};
// How long the service's end waits for calls still running (a stream whose client stopped
// reading) before it cancels them.
constexpr std::chrono::seconds END_WAIT{1};

// The board said no; its messages, or fallback, are the text.
class CRefused : public std::runtime_error {
 public:
  explicit CRefused(const std::string& fallback)
      : std::runtime_error(scripting::JoinedTexts(scripting::TakeMessages(), fallback)) {}
};

// A connection handed to gRPC, known by its descriptor and the socket's inode: the
// descriptor's number comes back for another connection once gRPC closed it.
struct Connection {
  int Fd;
  ino_t Inode;
  auto operator<=>(const Connection&) const = default;
};

std::optional<Connection> Identify(int fd) {
  struct stat s {};
  if (fstat(fd, &s) != 0 || !S_ISSOCK(s.st_mode)) return std::nullopt;
  return Connection{fd, s.st_ino};
}

bool Open(const Connection& c) {
  const std::optional<Connection> now = Identify(c.Fd);
  if (!now || now->Inode != c.Inode) return false;
  pollfd p{c.Fd, POLLRDHUP, 0};
  return poll(&p, 1, 0) == 0;
}

}  // namespace

class CBoardService::CImpl final : public v1::Board::Service, public CChannelCalls {
 public:
  CImpl(CServedBoard& board, const std::string& path, int maxClients, int maxRate, const SServiceAccess& access,
        ClientsObserver observer)
      : m_Board(board),
        m_Path(path),
        m_MaxClients(maxClients),
        m_Callers{getuid(), access.Group},
        m_Observer(std::move(observer)),
        m_MaxRate(maxRate),
        m_Watch(board),
        m_Wake(eventfd(0, EFD_CLOEXEC)) {
    // The wake-up first: a TCP client may call as soon as the server has started.
    try {
      m_Listener = Listen(path, access.Group);
      OpenChannels(access.Group);
      Start(access);
    } catch (...) {
      if (m_Listener >= 0) {
        close(m_Listener);
        unlink(path.c_str());
      }
      m_Channels.reset();
      close(m_Wake);
      throw;
    }
    m_Acceptor = std::thread([this] { Accept(); });
  }

  ~CImpl() override {
    m_Stopping = true;
    WakeAcceptor();
    m_Acceptor.join();
    close(m_Listener);
    unlink(m_Path.c_str());
    m_Channels.reset();
    m_Watch.End();
    m_Server->Shutdown(std::chrono::system_clock::now() + END_WAIT);
    close(m_Wake);
    // The last calls are ordered before this by gRPC alone; the locks show it to the thread
    // checker, for what the calls wrote under them here and in the host's board.
    {
      std::lock_guard lock(m_BoardMutex);
      cpu::FrameVector().swap(m_PhaseFrame);
    }
    std::lock_guard lock(m_ConnectionsMutex);
    m_Served.clear();
    m_Turned.clear();
  }

  const std::string& Path() const { return m_Path; }
  const std::string& TcpAddress() const { return m_TcpAddress; }

  grpc::Status GetStatus(grpc::ServerContext* context, const v1::StatusRequest*, v1::BoardStatus* reply) override {
    return Serve(context, [&] { *reply = m_Board.Status(); });
  }

  grpc::Status SetPower(grpc::ServerContext* context, const v1::SetPowerRequest* request,
                        v1::SetPowerReply* reply) override {
    return Serve(context, [&] {
      NoteChange(context);
      const bool on = m_Board.SetPower(request->on());
      if (on != request->on()) throw CRefused(std::string("SLM power did not switch ") + (on ? "off" : "on"));
      reply->set_on(on);
    });
  }

  grpc::Status Select(grpc::ServerContext* context, const v1::SelectRequest* request, v1::SelectReply*) override {
    return Serve(context, [&] { Show(request->frame()); });
  }

  grpc::Status SetRunParameters(grpc::ServerContext* context, const v1::RunParameters* request,
                                v1::RunParameters* reply) override {
    return Serve(context, [&] {
      NoteChange(context);
      Put(m_Board.SetRunParameters({request->frame_rate(), request->laser_duty(), request->laser_a_gain(),
                                    request->laser_b_gain()}),
          reply);
    });
  }

  grpc::Status WriteFrame(grpc::ServerContext* context, const v1::WriteFrameRequest* request,
                          v1::WriteFrameReply*) override {
    return Serve(context, [&] {
      CheckSize(request->pixels().size(), "bytes");
      Write(request->frame(), reinterpret_cast<const uint8_t*>(request->pixels().data()));
    });
  }

  grpc::Status SetPhase(grpc::ServerContext* context, const v1::SetPhaseRequest* request,
                        v1::SetPhaseReply*) override {
    return Serve(context, [&] {
      CheckSize(static_cast<size_t>(request->phases_size()), "phases");
      const PatternGeometry geometry = BoardGeometry(m_Board.Spec());
      m_PhaseFrame.resize(geometry.Pixels());
      scripting::ComposePhaseFrame(request->phases().data(), request->wavelength(), m_Board.PhaseComposition(),
                                   geometry, m_PhaseFrame.data());
      Write(request->frame(), m_PhaseFrame.data());
    });
  }

  grpc::Status StartRun(grpc::ServerContext* context, const v1::StartRunRequest* request,
                        v1::StartRunReply*) override {
    return Serve(context, [&] {
      NoteChange(context);
      if (!m_Board.Run({request->frames().begin(), request->frames().end()}, request->loop())) {
        throw CRefused("The run did not start");
      }
    });
  }

  grpc::Status StopRun(grpc::ServerContext* context, const v1::StopRunRequest*, v1::StopRunReply*) override {
    return Serve(context, [&] { m_Board.Stop(); });
  }

  grpc::Status SetKeepPower(grpc::ServerContext* context, const v1::SetKeepPowerRequest* request,
                            v1::SetKeepPowerReply*) override {
    return Serve(context, [&] {
      m_KeepPower = request->keep();
      m_ClientsChanged = true;
    });
  }

  // Runs on a thread of its own for as long as the stream lasts; never takes the board's lock.
  grpc::Status WatchStatus(grpc::ServerContext* context, const v1::WatchRequest* request,
                           grpc::ServerWriter<v1::StatusUpdate>* writer) override {
    std::optional<Connection> connection;
    if (grpc::Status refused = Admit(*context, &connection); !refused.ok()) return refused;
    std::shared_ptr<CStatusWatch::CStream> stream = m_Watch.Open(*request);
    // The connection's count of streams, given back however the stream ends.
    struct Opened {
      CImpl& service;
      Connection connection;
      ~Opened() { service.StreamEnded(connection); }
    } opened{*this, *connection};
    while (!context->IsCancelled()) {
      if (std::optional<v1::StatusUpdate> update = stream->Next(STREAM_LOOK)) {
        if (!writer->Write(*update)) break;
      } else if (stream->Ended()) {
        return grpc::Status::OK;
      }
    }
    return {grpc::StatusCode::CANCELLED, "the client left the stream"};
  }

  grpc::Status OpenFrameChannel(grpc::ServerContext* context, const v1::FrameChannelRequest*,
                                v1::FrameChannel* reply) override {
    if (grpc::Status refused = Admit(*context, nullptr); !refused.ok()) return refused;
    const std::string peer = context->peer();
    if (peer.rfind("fd:", 0) != 0) {
      return {grpc::StatusCode::UNIMPLEMENTED, "frame channels are for clients on the board service's machine"};
    }
    if (!m_Channels) return {grpc::StatusCode::UNIMPLEMENTED, m_NoChannels};
    ChannelToken token{};
    if (getrandom(token.data(), token.size(), 0) != static_cast<ssize_t>(token.size())) {
      return {grpc::StatusCode::INTERNAL, "the board service could not make a frame channel's token"};
    }
    std::lock_guard lock(m_ConnectionsMutex);
    const std::optional<Connection> connection = Identify(std::atoi(peer.c_str() + 3));
    const auto client = connection ? m_Served.find(*connection) : m_Served.end();
    if (client == m_Served.end()) return {grpc::StatusCode::UNAVAILABLE, "the connection has ended"};
    client->second.Token = token;
    reply->set_path(m_Channels->Path());
    reply->set_token(token.data(), token.size());
    return grpc::Status::OK;
  }

  std::optional<uint64_t> Claim(const ChannelToken& token, const std::optional<ucred>& peer) override {
    std::lock_guard lock(m_ConnectionsMutex);
    for (auto& [connection, client] : m_Served) {
      if (client.Token != token) continue;
      client.Token.reset();
      if (!peer || peer->pid != client.Who.Pid || !RefusedPeer(peer, m_Callers).empty()) return std::nullopt;
      return client.Serial;
    }
    return std::nullopt;
  }

  grpc::Status Serve(uint64_t serial, const SChannelCall& call, const uint8_t* pixels) override {
    {
      std::lock_guard lock(m_ConnectionsMutex);
      const auto client = std::find_if(m_Served.begin(), m_Served.end(),
                                       [&](const auto& served) { return served.second.Serial == serial; });
      if (client == m_Served.end()) {
        return {grpc::StatusCode::UNAVAILABLE, "the connection that opened this frame channel has ended"};
      }
      if (!client->second.Budget.Take(CCallBudget::Clock::now())) return RateRefusal();
    }
    return Carried([&] {
      switch (call.Call) {
        case EChannelCall::WriteFrame:
          return Write(call.Frame, pixels);
        case EChannelCall::Select:
          return Show(call.Frame);
      }
      throw std::invalid_argument("a frame channel has no call " + std::to_string(static_cast<uint32_t>(call.Call)));
    });
  }

 private:
  // Under the board's lock, as every call on the board.
  void Write(int frame, const uint8_t* pixels) {
    if (!m_Board.WriteFrame(frame, pixels)) throw CRefused("Frame " + std::to_string(frame) + " could not be written");
  }

  void Show(int frame) {
    if (!m_Board.Select(frame)) throw CRefused("Frame " + std::to_string(frame) + " could not be selected");
  }

  // Beside the socket; a service without them still serves every call through its socket.
  void OpenChannels(std::optional<gid_t> group) {
    const SBoard_Spec& spec = m_Board.Spec();
    try {
      m_Channels = std::make_unique<CFrameChannels>(m_Path + ".frames", group, size_t{spec.Width} * spec.Height,
                                                    m_MaxClients, *this);
    } catch (const std::runtime_error& e) {
      m_NoChannels = std::string("the board service has no frame channels: ") + e.what();
    }
  }

  grpc::Status RateRefusal() const {
    return {grpc::StatusCode::RESOURCE_EXHAUSTED, "the board service takes at most " + std::to_string(m_MaxRate) +
                                                      " calls a second from one client; this one called faster"};
  }

  // A frame's worth of values, or the refusal that says how many there are to be.
  void CheckSize(size_t given, const char* unit) const {
    const SBoard_Spec& spec = m_Board.Spec();
    const size_t size = size_t{spec.Width} * spec.Height;
    if (given != size) {
      throw std::invalid_argument("a frame of " + std::string(spec.BoardName) + " is " + std::to_string(spec.Width) +
                                  " x " + std::to_string(spec.Height) + " = " + std::to_string(size) + " " + unit +
                                  ", not " + std::to_string(given));
    }
  }

  void Start(const SServiceAccess& access) {
    const SBoard_Spec& spec = m_Board.Spec();
    grpc::ServerBuilder builder;
    builder.RegisterService(this);
    const int largest = static_cast<int>(size_t{spec.Width} * spec.Height * sizeof(float) + MESSAGE_ROOM);
    builder.SetMaxReceiveMessageSize(largest);
    // A frame arrives in one window and few HTTP/2 frames rather than in 16 KiB pieces, each
    // window waiting for its update: a frame's write costs a few copies, not round trips.
    builder.AddChannelArgument(GRPC_ARG_HTTP2_STREAM_LOOKAHEAD_BYTES, largest);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_FRAME_SIZE, largest);
    const std::string& tcp = access.TcpAddress;
    int port = 0;
    if (!tcp.empty()) builder.AddListeningPort(tcp, ServerCredentials(access.Tls), &port);
    m_Server = builder.BuildAndStart();
    if (!tcp.empty() && port == 0) {
      throw std::runtime_error("the board service cannot listen on " + tcp +
                               ": the address is taken or not this machine's, or the TLS files do not fit together");
    }
    if (!m_Server) throw std::runtime_error("the board service could not start");
    if (port != 0) m_TcpAddress = tcp.substr(0, tcp.rfind(':') + 1) + std::to_string(port);
  }

  // Under the board's lock: the board is a client's now, to be made safe when the last one leaves.
  void NoteChange(grpc::ServerContext* context) {
    const auto& metadata = context->client_metadata();
    const auto keep = metadata.find(KEEP_POWER_KEY);
    m_KeepPower = keep != metadata.end() && keep->second == "1";
    m_ClientsChanged = true;
  }

  // Once no client is connected, the host's end for a board the clients changed.
  void EndIfLeft() {
    std::lock_guard lock(m_BoardMutex);
    if (!m_ClientsChanged) return;
    m_ClientsChanged = false;
    scripting::TakeMessages();
    try {
      m_Board.ClientsLeft(m_KeepPower);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "board service: the board could not be made safe after its last client: %s\n", e.what());
    }
  }

  // The caller checked, then the call on the board alone, its refusal as a status.
  template <class Call>
  grpc::Status Serve(grpc::ServerContext* context, Call call) {
    if (grpc::Status refused = Admit(*context, nullptr); !refused.ok()) return refused;
    return Carried(call);
  }

  // The call on the board alone, its refusal as a status.
  template <class Call>
  grpc::Status Carried(Call call) {
    std::lock_guard lock(m_BoardMutex);
    scripting::TakeMessages();  // a call's refusal names only what it met itself
    try {
      call();
      return grpc::Status::OK;
    } catch (const std::invalid_argument& e) {
      return {grpc::StatusCode::INVALID_ARGUMENT, e.what()};
    } catch (const std::out_of_range& e) {
      return {grpc::StatusCode::OUT_OF_RANGE, e.what()};
    } catch (const CRefused& e) {
      return {grpc::StatusCode::FAILED_PRECONDITION, e.what()};
    } catch (const scripting::CScriptError& e) {
      return {grpc::StatusCode::UNAVAILABLE, e.what()};
    } catch (const std::exception& e) {
      return {grpc::StatusCode::INTERNAL, e.what()};
    }
  }

  // Every call is checked again: the connection it came on, its user now, whether it is one
  // of the clients the service takes, and the client's rate. With stream, a status stream
  // that counts as open on the connection (*stream) until the caller gives it back.
  grpc::Status Admit(const grpc::ServerContext& context, std::optional<Connection>* stream) {
    const std::string peer = context.peer();
    // Under the lock the acceptor took the connection under: gRPC's hand-over between the
    // two threads is one the thread checker cannot see.
    std::lock_guard lock(m_ConnectionsMutex);
    std::optional<Connection> connection;
    if (peer.rfind("fd:", 0) == 0) {
      // gRPC names a connection it was handed by its descriptor: "fd:N".
      connection = Identify(std::atoi(peer.c_str() + 3));
      const std::string refused = RefusedPeer(connection ? PeerCredentials(connection->Fd) : std::nullopt, m_Callers);
      if (!refused.empty()) return {grpc::StatusCode::PERMISSION_DENIED, refused};
    } else {
      // A TCP client: gRPC took its connection, and served it only once its certificate
      // proved it one of the authority's; it counts from its first call.
      connection = Identify(TcpConnection(peer));
      if (!connection) {
        return {grpc::StatusCode::PERMISSION_DENIED, "the board service cannot tell which connection " + peer + " is"};
      }
      if (m_Served.count(*connection) == 0 && m_Turned.count(*connection) == 0) {
        Take(*connection, TcpCaller(context));
        WakeAcceptor();
      }
    }
    // A connection beyond the limit is not one of the served.
    const auto client = m_Served.find(*connection);
    if (client == m_Served.end()) {
      return {grpc::StatusCode::RESOURCE_EXHAUSTED, "the board service serves at most " +
                                                        std::to_string(m_MaxClients) +
                                                        " clients at once; try again when one has ended"};
    }
    if (!client->second.Budget.Take(CCallBudget::Clock::now())) return RateRefusal();
    if (stream != nullptr) {
      if (client->second.Streams >= CBoardService::MAX_STREAMS) {
        return {grpc::StatusCode::RESOURCE_EXHAUSTED, "the board service keeps at most " +
                                                          std::to_string(CBoardService::MAX_STREAMS) +
                                                          " status streams open for one client"};
      }
      ++client->second.Streams;
      *stream = *connection;
    }
    return grpc::Status::OK;
  }

  // Takes the connections and watches them end; when the last has ended the board is made
  // safe before the next connection is taken.
  void Accept() {
    std::vector<pollfd> waits;
    for (;;) {
      waits = {{m_Listener, POLLIN, 0}, {m_Wake, POLLIN, 0}};
      {
        std::lock_guard lock(m_ConnectionsMutex);
        for (const auto& [c, client] : m_Served) waits.push_back({c.Fd, POLLRDHUP, 0});
        for (const Connection& c : m_Turned) waits.push_back({c.Fd, POLLRDHUP, 0});
      }
      if (poll(waits.data(), waits.size(), -1) < 0) continue;
      if (waits[1].revents != 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(m_Wake, &count, sizeof(count));
        if (m_Stopping) return;
      }
      if (Forget() && Connected() == 0) EndIfLeft();
      Tell();
      if (waits[0].revents == 0) continue;
      int fd = -1;
      {
        std::lock_guard lock(m_ConnectionsMutex);
        fd = accept4(m_Listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        const std::optional<Connection> connection = Identify(fd);
        if (!connection) {
          close(fd);
          continue;
        }
        Take(*connection, {});
      }
      Tell();
      grpc::AddInsecureChannelFromFd(m_Server.get(), fd);
    }
  }

  // Under m_ConnectionsMutex. Beyond the limit a client is still served its refusal, so it
  // reads why. A served client is known by its process when local, by its certificate's name
  // and address (caller) when not.
  void Take(const Connection& connection, const std::string& caller) {
    if (static_cast<int>(m_Served.size()) >= m_MaxClients) {
      m_Turned.insert(connection);
      return;
    }
    const std::optional<ucred> local = PeerCredentials(connection.Fd);
    m_Served.emplace(connection, Client{CCallBudget(m_MaxRate), 0, m_NextSerial++,
                                        local ? ServiceClient{local->pid, ProgramName(local->pid)} : ServiceClient{0, caller}, {}});
  }

  // The acceptor looks again at what it watches, and ends when the service is stopping.
  void WakeAcceptor() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(m_Wake, &one, sizeof(one));
  }

  // The observer learns who is served now, in the order they came, when that has changed.
  void Tell() {
    if (!m_Observer) return;
    std::vector<std::pair<uint64_t, ServiceClient>> served;
    {
      std::lock_guard lock(m_ConnectionsMutex);
      for (const auto& [connection, client] : m_Served) served.push_back({client.Serial, client.Who});
    }
    std::sort(served.begin(), served.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<uint64_t> serials;
    std::vector<ServiceClient> clients;
    for (auto& [serial, who] : served) {
      serials.push_back(serial);
      clients.push_back(std::move(who));
    }
    if (serials == m_Told) return;
    m_Told = std::move(serials);
    m_Observer(clients);
  }

  void StreamEnded(const Connection& connection) {
    std::lock_guard lock(m_ConnectionsMutex);
    if (auto client = m_Served.find(connection); client != m_Served.end()) --client->second.Streams;
  }

  // Drops the connections that have ended; true when there were any.
  bool Forget() {
    std::lock_guard lock(m_ConnectionsMutex);
    return std::erase_if(m_Served, [](const auto& served) { return !Open(served.first); }) +
               std::erase_if(m_Turned, [](const Connection& c) { return !Open(c); }) !=
           0;
  }

  size_t Connected() {
    std::lock_guard lock(m_ConnectionsMutex);
    return m_Served.size() + m_Turned.size();
  }

  // A connection the service serves, and who it is for the observer.
  struct Client {
    CCallBudget Budget;
    int Streams = 0;  // status streams open on it
    uint64_t Serial;  // the order they came in
    ServiceClient Who;
    std::optional<ChannelToken> Token;  // the frame channel's handed out and not yet opened
  };

  CServedBoard& m_Board;
  const std::string m_Path;
  const int m_MaxClients;
  const SCallers m_Callers;
  std::string m_TcpAddress;
  const ClientsObserver m_Observer;
  const int m_MaxRate;
  CStatusWatch m_Watch;
  std::unique_ptr<grpc::Server> m_Server;
  std::unique_ptr<CFrameChannels> m_Channels;
  std::string m_NoChannels;  // why there are none
  int m_Wake = -1;
  int m_Listener = -1;
  std::atomic<bool> m_Stopping = false;
  std::thread m_Acceptor;

  std::mutex m_BoardMutex;
  cpu::FrameVector m_PhaseFrame;  // the frame SetPhase composes, under the board's lock
  bool m_ClientsChanged = false;  // a client changed the lasers or the power since the last safe end
  bool m_KeepPower = false;       // the last of those changes asked to keep the power

  std::mutex m_ConnectionsMutex;
  std::map<Connection, Client> m_Served;
  std::set<Connection> m_Turned;
  uint64_t m_NextSerial = 0;
  std::vector<uint64_t> m_Told;  // the clients the observer was told last, on the acceptor's thread
};

std::string ClientsLine(const std::vector<ServiceClient>& clients) {
  if (clients.empty()) return "Board service: no clients";
  std::string line = "Board service: " + std::to_string(clients.size()) + (clients.size() == 1 ? " client (" : " clients (");
  for (size_t i = 0; i < clients.size(); ++i) {
    if (i > 0) line += ", ";
    line += clients[i].Pid != 0 ? std::to_string(clients[i].Pid) + " " + clients[i].Program : clients[i].Program;
  }
  return line + ")";
}

CBoardService::CBoardService(CServedBoard& board, const std::string& socketPath, int maxClients, int maxRate,
                             const SServiceAccess& access, ClientsObserver observer)
    : m_Impl(std::make_unique<CImpl>(board, socketPath, maxClients, maxRate, access, std::move(observer))) {}

CBoardService::~CBoardService() = default;

const std::string& CBoardService::SocketPath() const { return m_Impl->Path(); }

const std::string& CBoardService::TcpAddress() const { return m_Impl->TcpAddress(); }

}  // namespace service
