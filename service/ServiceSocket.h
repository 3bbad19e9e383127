#pragma once
// The board service's Unix domain socket: where it lies, how the service takes the path
// (a stale file from a killed service replaced, a live one never), and who is calling.

#include <sys/socket.h>

#include <optional>
#include <string>

namespace service {

// $XDG_RUNTIME_DIR/sorrel/board.sock; empty when XDG_RUNTIME_DIR is not set.
std::string DefaultSocketPath();

// Something accepts a connection on the socket at path.
bool Answers(const std::string& path);

// A listening socket at path, the file mode 0600. A socket file nothing answers on is
// replaced; throws std::runtime_error when a service answers there, the path is something
// else, or the socket cannot be made. The default path's folder is made 0700 when missing.
int Listen(const std::string& path);

// The credentials of the process at the other end of a connected Unix socket.
std::optional<ucred> PeerCredentials(int fd);

// The program name of process pid as the kernel keeps it (/proc/pid/comm); empty when gone.
std::string ProgramName(pid_t pid);

// Empty when a peer with these credentials may call a service running as uid; otherwise
// why not, in one line.
std::string RefusedPeer(const std::optional<ucred>& peer, uid_t uid);

}  // namespace service
