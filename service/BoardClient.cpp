#include "BoardClient.h"

#include <grpcpp/create_channel_posix.h>
#include <grpcpp/grpcpp.h>
#include <sys/socket.h>

#include <cstring>

#include "BoardStatus.h"
#include "ServiceSocket.h"
#include "ServiceTls.h"
#include "pci/Facility.h"

namespace service {

namespace v1 = sorrel::v1;

namespace {

std::shared_ptr<grpc::Channel> ChannelTo(const std::string& where, const std::string& tlsFolder) {
  if (!tlsFolder.empty()) {
    return grpc::CreateChannel(where, ClientCredentials(ReadTlsFiles(tlsFolder, ETlsSide::Client)));
  }
  const std::string& path = where;
  const int fd = Connect(path);
  if (fd < 0) throw CServiceError("no board service answers on " + path);
  // A send buffer that holds a whole frame: a frame goes in one write rather than in pieces,
  // each waiting for the service to drain the one before.
  const int bytes = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof(bytes));
  return grpc::CreateInsecureChannelFromFd("", fd);
}

}  // namespace

std::string OpeningOptionRefused(const std::string& option, const std::string& path) {
  return option + " does not apply: the board service on " + path + " holds the board as it opened it";
}

std::optional<std::string> LocalService(bool cardChosen) {
  for (const std::string& first : {DefaultSocketPath(), std::string(MACHINE_SOCKET_PATH)}) {
    if (first.empty()) continue;
    // Without a choice, the first card a service serves is the one this process would open.
    for (const std::string& path : cardChosen ? ServedSockets(first) : std::vector<std::string>{first}) {
      if (!Answers(path)) continue;
      // A service of another card leaves the chosen one to be opened beside it.
      if (cardChosen) {
        try {
          if (!pci::IsChosen(CBoardClient(path, false).Status().card())) continue;
        } catch (const CServiceError&) {
          continue;
        }
      }
      return path;
    }
  }
  return std::nullopt;
}

CBoardClient::CBoardClient(const std::string& where, bool keepPower, const std::string& tlsFolder)
    : m_Where(where),
      m_TlsFolder(tlsFolder),
      m_KeepPower(keepPower),
      m_Stub(v1::Board::NewStub(ChannelTo(where, tlsFolder))) {}

template <class Reply, class Send>
Reply CBoardClient::Call(Send send) {
  grpc::ClientContext context;
  if (m_KeepPower) context.AddMetadata("sorrel-keep-power", "1");
  Reply reply;
  Check(send(context, reply));
  return reply;
}

void CBoardClient::Check(const grpc::Status& status) const {
  switch (status.error_code()) {
    case grpc::StatusCode::OK:
      return;
    case grpc::StatusCode::INVALID_ARGUMENT:
      throw std::invalid_argument(status.error_message());
    case grpc::StatusCode::OUT_OF_RANGE:
      throw std::out_of_range(status.error_message());
    case grpc::StatusCode::UNAVAILABLE:
    case grpc::StatusCode::CANCELLED:
      // The connection failed or has gone, and gRPC's own text says little.
      if (m_TlsFolder.empty()) {
        if (!Answers(m_Where)) throw CServiceError("the board service on " + m_Where + " no longer answers");
        break;
      }
      if (const std::string& said = status.error_message();
          said.find("andshake failed") != std::string::npos || said.find("Peer name") != std::string::npos) {
        throw CServiceError("the board service on " + m_Where + " shows a certificate this client does not take: " +
                            "not one of the authority in " + m_TlsFolder + "/" + TLS_AUTHORITY_FILE +
                            ", or not made for that name");
      } else if (said.find("Socket closed") != std::string::npos) {
        throw CServiceError("the board service on " + m_Where + " did not take this client's certificate (" +
                            m_TlsFolder + "/" + TlsStem(ETlsSide::Client) + ".pem)");
      } else if (said.find("connect") != std::string::npos) {
        throw CServiceError("no board service answers on " + m_Where);
      }
      break;
    default:
      break;
  }
  throw CServiceError(status.error_message(), status.error_code());
}

v1::BoardStatus CBoardClient::Status() {
  return Call<v1::BoardStatus>([&](auto& context, auto& reply) { return m_Stub->GetStatus(&context, {}, &reply); });
}

bool CBoardClient::SetPower(bool on) {
  v1::SetPowerRequest request;
  request.set_on(on);
  return Call<v1::SetPowerReply>([&](auto& context, auto& reply) {
           return m_Stub->SetPower(&context, request, &reply);
         }).on();
}

void CBoardClient::Select(int frame) {
  std::lock_guard lock(m_FrameMutex);
  if (CFrameChannel* channel = Channel()) return Check(channel->Call(EChannelCall::Select, frame));
  v1::SelectRequest request;
  request.set_frame(frame);
  Call<v1::SelectReply>([&](auto& context, auto& reply) { return m_Stub->Select(&context, request, &reply); });
}

v1::RunParameters CBoardClient::SetRunParameters(const v1::RunParameters& parameters) {
  return Call<v1::RunParameters>(
      [&](auto& context, auto& reply) { return m_Stub->SetRunParameters(&context, parameters, &reply); });
}

void CBoardClient::WriteFrame(int frame, const std::function<void(uint8_t*)>& fill) {
  std::lock_guard lock(m_FrameMutex);
  if (CFrameChannel* channel = Channel()) {
    fill(channel->Pixels());
    return Check(channel->Call(EChannelCall::WriteFrame, frame));
  }
  m_Request.set_frame(frame);
  std::string& pixels = *m_Request.mutable_pixels();
  pixels.resize(FrameBytes());
  fill(reinterpret_cast<uint8_t*>(pixels.data()));
  Call<v1::WriteFrameReply>(
      [&](auto& context, auto& reply) { return m_Stub->WriteFrame(&context, m_Request, &reply); });
}

size_t CBoardClient::FrameBytes() {
  if (m_FrameBytes == 0) {
    const v1::BoardStatus status = Status();
    m_FrameBytes = size_t{status.width()} * status.height();
  }
  return m_FrameBytes;
}

CFrameChannel* CBoardClient::Channel() {
  // A command that sends one frame or selection is spared the channel's opening.
  if (m_ChannelAsked || !m_TlsFolder.empty() || ++m_FrameCalls < 2) return m_Channel.get();
  m_ChannelAsked = true;
  grpc::ClientContext context;
  v1::FrameChannel given;
  ChannelToken token{};
  if (!m_Stub->OpenFrameChannel(&context, {}, &given).ok() || given.token().size() != token.size()) return nullptr;
  std::memcpy(token.data(), given.token().data(), token.size());
  try {
    m_Channel = std::make_unique<CFrameChannel>(given.path(), token, FrameBytes());
  } catch (const std::runtime_error&) {
    // The calls still reach the service as messages.
  }
  return m_Channel.get();
}

void CBoardClient::StartRun(const std::vector<int>& frames, bool loop) {
  v1::StartRunRequest request;
  request.mutable_frames()->Add(frames.begin(), frames.end());
  request.set_loop(loop);
  Call<v1::StartRunReply>([&](auto& context, auto& reply) { return m_Stub->StartRun(&context, request, &reply); });
}

void CBoardClient::StopRun() {
  Call<v1::StopRunReply>([&](auto& context, auto& reply) { return m_Stub->StopRun(&context, {}, &reply); });
}

void CBoardClient::SetKeepPower(bool keep) {
  v1::SetKeepPowerRequest request;
  request.set_keep(keep);
  Call<v1::SetKeepPowerReply>(
      [&](auto& context, auto& reply) { return m_Stub->SetKeepPower(&context, request, &reply); });
}

void CBoardClient::SetPhase(int frame, const float* phases, size_t count, const std::string& wavelength) {
  v1::SetPhaseRequest request;
  request.set_frame(frame);
  request.mutable_phases()->Add(phases, phases + count);
  request.set_wavelength(wavelength);
  Call<v1::SetPhaseReply>([&](auto& context, auto& reply) { return m_Stub->SetPhase(&context, request, &reply); });
}

scripting::RunParameters CBoardClient::SetRunParameters(const scripting::RunParameters& parameters) {
  v1::RunParameters request;
  Put(parameters, &request);
  const v1::RunParameters reply = SetRunParameters(request);
  return {reply.frame_rate(), reply.laser_duty(), reply.laser_a_gain(), reply.laser_b_gain()};
}

void CBoardClient::WriteFrame(int frame, const uint8_t* pixels) {
  WriteFrame(frame, [&](uint8_t* to) { std::memcpy(to, pixels, FrameBytes()); });
}

void CBoardClient::Watch(const v1::WatchRequest& request, const std::function<bool(const v1::StatusUpdate&)>& each) {
  grpc::ClientContext context;
  if (m_KeepPower) context.AddMetadata("sorrel-keep-power", "1");
  std::unique_ptr<grpc::ClientReader<v1::StatusUpdate>> reader = m_Stub->WatchStatus(&context, request);
  v1::StatusUpdate update;
  bool wanted = true;
  while (wanted && reader->Read(&update)) wanted = each(update);
  if (!wanted) {
    context.TryCancel();
    while (reader->Read(&update)) {
    }
  }
  const grpc::Status status = reader->Finish();
  if (!wanted && status.error_code() == grpc::StatusCode::CANCELLED) return;
  Check(status);
}

}  // namespace service
