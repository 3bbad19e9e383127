#pragma once
// A lab's certificates for the board service over TCP: one authority of its own and, signed
// by it, a certificate for the service's machine and one for each client machine.

#include <string>
#include <vector>

namespace service {

// Writes under folder one folder per machine, as ServiceTls.h lays it out: server/ for the
// service, whose certificate holds serverNames (the host names and IP addresses clients dial
// it by; the first is its common name), and one named after each client, the name its
// certificate's common name. Every file is replaced whole, keys owner-only (0600), each machine's
// folder owner-only when it is made. The authority's key is not kept: a machine added later means making
// them all anew. Throws std::runtime_error for a name that is not a host name or an IP
// address, a client named "server" or twice, or a file that cannot be written.
void MakeCertificates(const std::string& folder, const std::vector<std::string>& serverNames,
                      const std::vector<std::string>& clients);

}  // namespace service
