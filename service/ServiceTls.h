#pragma once
// The board service over TCP, always with mutual TLS: each machine's folder of TLS files,
// the credentials gRPC is given on either side, and which connection a TCP caller is on.
//
// A machine's folder holds the authority's certificate, ca.pem, and the machine's own
// certificate and key: server.pem and server.key for the service, client.pem and client.key
// for a client (sorrelctl certs makes them).

#include <memory>
#include <string>

namespace grpc {
class ChannelCredentials;
class ServerContext;
class ServerCredentials;
}  // namespace grpc

namespace service {

enum class ETlsSide { Server, Client };

constexpr const char* TLS_AUTHORITY_FILE = "ca.pem";
// "server" or "client": the stem of the side's certificate (.pem) and key (.key).
const char* TlsStem(ETlsSide side);

// The PEM texts of one machine's folder.
struct STlsFiles {
  std::string Authority;
  std::string Certificate;
  std::string Key;
};

// Throws std::runtime_error naming the first file of the side's that cannot be read.
STlsFiles ReadTlsFiles(const std::string& folder, ETlsSide side);

// The service's side: its certificate shown, a client's certificate asked for and checked
// against the authority before any call.
std::shared_ptr<grpc::ServerCredentials> ServerCredentials(const STlsFiles& files);
// A client's side: the service's certificate checked against the authority and the address
// dialled, the client's own shown.
std::shared_ptr<grpc::ChannelCredentials> ClientCredentials(const STlsFiles& files);

// The descriptor of this process's TCP connection whose far end gRPC names peer
// ("ipv4:ADDRESS:PORT", "ipv6:[ADDRESS]:PORT"); -1 when there is none.
int TcpConnection(const std::string& peer);
// Who a TCP caller is, for the operator: the name its certificate was made for and where it
// calls from, "analysis at 10.0.0.7:40312".
std::string TcpCaller(const grpc::ServerContext& context);

}  // namespace service
