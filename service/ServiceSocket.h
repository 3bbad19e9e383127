#pragma once
// The board service's Unix domain socket: where it lies, how the service takes the path
// (a stale file from a killed service replaced, a live one never), and who may call.

#include <sys/socket.h>

#include <optional>
#include <string>
#include <vector>

namespace service {

// $XDG_RUNTIME_DIR/sorrel/board.sock; empty when XDG_RUNTIME_DIR is not set.
std::string DefaultSocketPath();
// The machine-wide service's socket, for the members of the sorrel group (its systemd unit's).
constexpr const char* MACHINE_SOCKET_PATH = SORREL_MACHINE_SOCKET;

// Where a service of several cards serves each card after the first, whose socket is first:
// board-<address>.sock in first's folder, the address as pci::CardAddress writes it.
std::string CardSocketPath(const std::string& first, const std::string& address);
// first, then the sockets of first's folder named as CardSocketPath names them, in name order.
std::vector<std::string> ServedSockets(const std::string& first);

// A socket of type connected to the one at path; -1 when nothing accepts the connection.
int Connect(const std::string& path, int type = SOCK_STREAM);
// Something accepts a connection on the socket of type at path.
bool Answers(const std::string& path, int type = SOCK_STREAM);

// A listening socket of type at path, the file mode 0600, or 0660 and of group when one is
// given. A socket file nothing answers on is replaced; throws std::runtime_error when a service
// answers there, the path is something else, or the socket cannot be made. The default
// path's folder is made 0700 when missing, for the cards served beside it too.
int Listen(const std::string& path, std::optional<gid_t> group = std::nullopt, int type = SOCK_STREAM);

// The credentials of the process at the other end of a connected Unix socket.
std::optional<ucred> PeerCredentials(int fd);

// The program name of process pid as the kernel keeps it (/proc/pid/comm); empty when gone.
std::string ProgramName(pid_t pid);

// Who a service serves on its socket: the processes of its own user, and those of the
// members of its socket's group when it has one.
struct SCallers {
  uid_t Uid;
  std::optional<gid_t> Group;
};

// Empty when a peer with these credentials is one of callers; otherwise why not, in one line.
// Membership is the peer's group or one of its supplementary groups.
std::string RefusedPeer(const std::optional<ucred>& peer, const SCallers& callers);

}  // namespace service
