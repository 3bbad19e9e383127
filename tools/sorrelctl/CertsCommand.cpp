#include "Certificates.h"
#include "Commands.h"
#include "ServiceTls.h"
#include "Terminal.h"

namespace sorrelctl {

int CertsCommand(const COptions& options) {
  options.ExpectOperands(1, "DIR");
  for (const char* needed : {"--server", "--client"}) {
    if (!options.Has(needed)) throw CUsageError(std::string("certs: ") + needed + " NAME[,NAME...] is required");
  }
  const std::string& folder = options.Operands()[0];
  const std::vector<std::string> clients = options.List("--client");
  service::MakeCertificates(folder, options.List("--server"), clients);
  Result("%s/%s: the service's files (serve --tls-dir)\n", folder.c_str(), service::TlsStem(service::ETlsSide::Server));
  for (const std::string& client : clients) Result("%s/%s: client %s's files (--tls-dir)\n", folder.c_str(), client.c_str(), client.c_str());
  return 0;
}

}  // namespace sorrelctl
