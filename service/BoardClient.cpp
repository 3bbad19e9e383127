#include "BoardClient.h"

#include <grpcpp/grpcpp.h>

#include "ServiceTls.h"

namespace service {

namespace v1 = sorrel::v1;

namespace {

std::shared_ptr<grpc::Channel> Channel(const std::string& where, const std::string& tlsFolder) {
  if (tlsFolder.empty()) return grpc::CreateChannel("unix:" + where, grpc::InsecureChannelCredentials());
  return grpc::CreateChannel(where, ClientCredentials(ReadTlsFiles(tlsFolder, ETlsSide::Client)));
}

}  // namespace

CBoardClient::CBoardClient(const std::string& where, bool keepPower, const std::string& tlsFolder)
    : m_Where(where),
      m_TlsFolder(tlsFolder),
      m_KeepPower(keepPower),
      m_Stub(v1::Board::NewStub(Channel(where, tlsFolder))) {}

void CBoardClient::Prepare(grpc::ClientContext& context) const {
  if (m_KeepPower) context.AddMetadata("sorrel-keep-power", "1");
}

void CBoardClient::Check(const grpc::Status& status) const {
  if (status.ok()) return;
  // Without a connection gRPC's own text says little.
  if (status.error_code() == grpc::StatusCode::UNAVAILABLE) {
    const std::string& said = status.error_message();
    if (!m_TlsFolder.empty()) {
      if (said.find("andshake failed") != std::string::npos || said.find("Peer name") != std::string::npos) {
        throw CServiceError("the board service on " + m_Where + " shows a certificate this client does not take: " +
                            "not one of the authority in " + m_TlsFolder + "/" + TLS_AUTHORITY_FILE +
                            ", or not made for that name");
      }
      if (said.find("Socket closed") != std::string::npos) {
        throw CServiceError("the board service on " + m_Where + " did not take this client's certificate (" +
                            m_TlsFolder + "/" + TlsStem(ETlsSide::Client) + ".pem)");
      }
    }
    if (said.find("connect") != std::string::npos) throw CServiceError("no board service answers on " + m_Where);
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
