#include "BoardClient.h"

#include <grpcpp/grpcpp.h>

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
  throw CServiceError(status.error_message());
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

void CBoardClient::SetPhase(int frame, const float* phases, size_t count, const std::string& wavelength) {
  grpc::ClientContext context;
  Prepare(context);
  v1::SetPhaseRequest request;
  request.set_frame(frame);
  request.mutable_phases()->Add(phases, phases + count);
  request.set_wavelength(wavelength);
  v1::SetPhaseReply reply;
  Check(m_Stub->SetPhase(&context, request, &reply));
}

}  // namespace service
