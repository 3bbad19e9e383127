#include "ServiceTls.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <grpc/grpc_security_constants.h>
#include <grpcpp/security/auth_context.h>
#include <grpcpp/security/credentials.h>
#include <grpcpp/security/server_credentials.h>
#include <grpcpp/server_context.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace service {

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || !text) {
    throw std::runtime_error("cannot read the TLS file " + path + ": " +
                             (errno != 0 ? std::strerror(errno) : "read error"));
  }
  return text.str();
}

// An address with its port, IPv4 ones mapped into IPv6 alike whichever way they come.
struct SEndpoint {
  in6_addr Address{};
  in_port_t Port = 0;
  bool operator==(const SEndpoint& o) const {
    return Port == o.Port && std::memcmp(&Address, &o.Address, sizeof(Address)) == 0;
  }
};

std::optional<SEndpoint> FromSocket(const sockaddr_storage& a) {
  SEndpoint e;
  if (a.ss_family == AF_INET6) {
    const auto& six = reinterpret_cast<const sockaddr_in6&>(a);
    e.Address = six.sin6_addr;
    e.Port = six.sin6_port;
    return e;
  }
  if (a.ss_family != AF_INET) return std::nullopt;
  const auto& four = reinterpret_cast<const sockaddr_in&>(a);
  e.Address.s6_addr[10] = e.Address.s6_addr[11] = 0xff;
  std::memcpy(&e.Address.s6_addr[12], &four.sin_addr, 4);
  e.Port = four.sin_port;
  return e;
}

std::optional<SEndpoint> FromPeer(const std::string& peer) {
  const bool six = peer.rfind("ipv6:[", 0) == 0;
  if (!six && peer.rfind("ipv4:", 0) != 0) return std::nullopt;
  const size_t begin = six ? 6 : 5;
  const size_t end = six ? peer.find("]:", begin) : peer.rfind(':');
  if (end == std::string::npos || end < begin) return std::nullopt;
  const std::string address = peer.substr(begin, end - begin);
  const std::string port = peer.substr(end + (six ? 2 : 1));
  char* rest = nullptr;
  const unsigned long number = std::strtoul(port.c_str(), &rest, 10);
  if (port.empty() || *rest != '\0' || number > 65535) return std::nullopt;
  sockaddr_storage a{};
  if (six) {
    auto& s = reinterpret_cast<sockaddr_in6&>(a);
    s.sin6_family = AF_INET6;
    s.sin6_port = htons(static_cast<in_port_t>(number));
    if (inet_pton(AF_INET6, address.c_str(), &s.sin6_addr) != 1) return std::nullopt;
  } else {
    auto& s = reinterpret_cast<sockaddr_in&>(a);
    s.sin_family = AF_INET;
    s.sin_port = htons(static_cast<in_port_t>(number));
    if (inet_pton(AF_INET, address.c_str(), &s.sin_addr) != 1) return std::nullopt;
  }
  return FromSocket(a);
}

}  // namespace

const char* TlsStem(ETlsSide side) { return side == ETlsSide::Server ? "server" : "client"; }

STlsFiles ReadTlsFiles(const std::string& folder, ETlsSide side) {
  const std::string stem = folder + "/" + TlsStem(side);
  return {ReadText(folder + "/" + TLS_AUTHORITY_FILE), ReadText(stem + ".pem"), ReadText(stem + ".key")};
}

std::shared_ptr<grpc::ServerCredentials> ServerCredentials(const STlsFiles& files) {
  grpc::SslServerCredentialsOptions options(GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY);
  options.pem_root_certs = files.Authority;
  options.pem_key_cert_pairs.push_back({files.Key, files.Certificate});
  return grpc::SslServerCredentials(options);
}

std::shared_ptr<grpc::ChannelCredentials> ClientCredentials(const STlsFiles& files) {
  grpc::SslCredentialsOptions options;
  options.pem_root_certs = files.Authority;
  options.pem_private_key = files.Key;
  options.pem_cert_chain = files.Certificate;
  return grpc::SslCredentials(options);
}

int TcpConnection(const std::string& peer) {
  const std::optional<SEndpoint> wanted = FromPeer(peer);
  if (!wanted) return -1;
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  int found = -1;
  while (const dirent* entry = readdir(fds)) {
    // What a descriptor is, read from its link: other threads' files are never touched.
    char target[64];
    const ssize_t size = readlinkat(dirfd(fds), entry->d_name, target, sizeof(target) - 1);
    if (size <= 0 || std::string_view(target, static_cast<size_t>(size)).rfind("socket:", 0) != 0) continue;
    const int fd = std::atoi(entry->d_name);
    sockaddr_storage far{};
    socklen_t length = sizeof(far);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&far), &length) != 0) continue;
    if (FromSocket(far) == wanted) {
      found = fd;
      break;
    }
  }
  closedir(fds);
  return found;
}

std::string TcpCaller(const grpc::ServerContext& context) {
  std::string where = context.peer();
  for (std::string_view family : {"ipv4:", "ipv6:"}) {
    if (where.starts_with(family)) where.erase(0, family.size());
  }
  const std::shared_ptr<const grpc::AuthContext> auth = context.auth_context();
  const std::vector<grpc::string_ref> names =
      auth ? auth->FindPropertyValues(GRPC_X509_CN_PROPERTY_NAME) : std::vector<grpc::string_ref>{};
  if (names.empty()) return where;
  return std::string(names.front().data(), names.front().size()) + " at " + where;
}

}  // namespace service
