#include "BoardClient.h"

#include <grpcpp/grpcpp.h>

#include "BoardStatus.h"

namespace service {

namespace v1 = sorrel::v1;

CBoardClient::CBoardClient(const std::string& socketPath, bool keepPower)
    : m_Path(socketPath),
      m_KeepPower(keepPower),
      m_Stub(v1::Board::NewStub(grpc::CreateChannel("unix:" + socketPath, grpc::InsecureChannelCredentials()))) {}

void CBoardClient::Prepare(grpc::ClientContext& context) const {
  if (m_KeepPower) context.AddMetadata("sorrel-keep-power", "1");
}

void CBoardClient::Check(const grpc::Status& status) const {
  if (status.ok()) return;
  // Without a connection gRPC's own text says little.
  if (status.error_code() == grpc::StatusCode::UNAVAILABLE && status.error_message().find("connect") != std::string::npos) {
    throw CServiceError("no board service answers on " + m_Path);
  }
  throw CServiceError(status.error_message(), status.error_code());
}

v1::BoardStatus CBoardClient::Status() {
  grpc::ClientContext context;
  Prepare(context);
  v1::BoardStatus reply;
  Check(m_Stub->GetStatus(&context, {}, &reply));
  return reply;
}

bool CBoardClient::SetPower(bool on) {
  grpc::ClientContext context;
  Prepare(context);
  v1::SetPowerRequest request;
  request.set_on(on);
  v1::SetPowerReply reply;
  Check(m_Stub->SetPower(&context, request, &reply));
  return reply.on();
}

void CBoardClient::Select(int frame) {
  grpc::ClientContext context;
  Prepare(context);
  v1::SelectRequest request;
  request.set_frame(frame);
  v1::SelectReply reply;
  Check(m_Stub->Select(&context, request, &reply));
}

scripting::RunParameters CBoardClient::SetRunParameters(const scripting::RunParameters& parameters) {
  grpc::ClientContext context;
  Prepare(context);
  v1::RunParameters request, reply;
  Put(parameters, &request);
  Check(m_Stub->SetRunParameters(&context, request, &reply));
  return {reply.frame_rate(), reply.laser_duty(), reply.laser_a_gain(), reply.laser_b_gain()};
}

void CBoardClient::WriteFrame(int frame, const uint8_t* pixels) {
  if (m_FrameBytes == 0) {
    const v1::BoardStatus status = Status();
    m_FrameBytes = size_t{status.width()} * status.height();
  }
  grpc::ClientContext context;
  Prepare(context);
  v1::WriteFrameRequest request;
  request.set_frame(frame);
  request.set_pixels(pixels, m_FrameBytes);
  v1::WriteFrameReply reply;
  Check(m_Stub->WriteFrame(&context, request, &reply));
}

void CBoardClient::StartRun(const std::vector<int>& frames, bool loop) {
  grpc::ClientContext context;
  Prepare(context);
  v1::StartRunRequest request;
  request.mutable_frames()->Add(frames.begin(), frames.end());
  request.set_loop(loop);
  v1::StartRunReply reply;
  Check(m_Stub->StartRun(&context, request, &reply));
}

void CBoardClient::StopRun() {
  grpc::ClientContext context;
  Prepare(context);
  v1::StopRunReply reply;
  Check(m_Stub->StopRun(&context, {}, &reply));
}

void CBoardClient::Watch(const v1::WatchRequest& request, const std::function<bool(const v1::StatusUpdate&)>& each) {
  grpc::ClientContext context;
  Prepare(context);
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
