#include "ServiceSocket.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "SystemError.h"

namespace service {

namespace {

sockaddr_un Address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path)) {
    throw std::runtime_error("the socket path '" + path + "' is empty or longer than " +
                             std::to_string(sizeof(address.sun_path) - 1) + " bytes");
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

// The numbers after label on the line of /proc/<pid>/status that starts with it.
std::vector<unsigned long> StatusNumbers(pid_t pid, const std::string& label) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::vector<unsigned long> numbers;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(label, 0) != 0) continue;
    std::istringstream values(line.substr(label.size()));
    for (unsigned long n = 0; values >> n;) numbers.push_back(n);
    break;
  }
  return numbers;
}

// The credentials name the peer's group alone; its process names the supplementary ones,
// while that process is still the peer's user's (its id not yet handed to another).
bool Member(const ucred& peer, gid_t group) {
  if (peer.gid == group) return true;
  const std::vector<unsigned long> uids = StatusNumbers(peer.pid, "Uid:");
  if (uids.size() < 2 || uids[1] != peer.uid) return false;
  for (const unsigned long g : StatusNumbers(peer.pid, "Groups:")) {
    if (g == group) return true;
  }
  return false;
}

std::string Folder(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

constexpr std::string_view CARD_PREFIX = "board-", CARD_SUFFIX = ".sock";

}  // namespace

std::string DefaultSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') return {};
  return std::string(runtime) + "/sorrel/board.sock";
}

std::string CardSocketPath(const std::string& first, const std::string& address) {
  return Folder(first) + std::string(CARD_PREFIX) + address + std::string(CARD_SUFFIX);
}

std::vector<std::string> ServedSockets(const std::string& first) {
  std::vector<std::string> further;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(Folder(first), error)) {
    const std::string name = entry.path().filename();
    if (name.starts_with(CARD_PREFIX) && name.ends_with(CARD_SUFFIX)) further.push_back(Folder(first) + name);
  }
  std::sort(further.begin(), further.end());
  further.insert(further.begin(), first);
  return further;
}

int Connect(const std::string& path, int type) {
  sockaddr_un address{};
  try {
    address = Address(path);
  } catch (const std::runtime_error&) {
    return -1;
  }
  const int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool Answers(const std::string& path, int type) {
  const int fd = Connect(path, type);
  if (fd < 0) return false;
  close(fd);
  return true;
}

int Listen(const std::string& path, std::optional<gid_t> group, int type) {
  const sockaddr_un address = Address(path);
  if (const std::string home = DefaultSocketPath(); !home.empty() && Folder(path) == Folder(home)) {
    const std::string folder = path.substr(0, path.rfind('/'));
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) throw SystemError("cannot make " + folder);
  }
  struct stat existing {};
  if (lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) throw std::runtime_error(path + " exists and is not a socket");
    if (Answers(path, type)) throw std::runtime_error("a board service already answers on " + path);
    // Left by a service that was killed.
    if (unlink(path.c_str()) != 0) throw SystemError("cannot replace the stale socket " + path);
  }
  // Non-blocking: a client gone between the wake-up and the accept must not stall it.
  const int fd = socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) throw SystemError("cannot make a socket");
  // The file is owner-only from the moment it exists.
  const mode_t mask = umask(0177);
  const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  umask(mask);
  // The group is given the file before the mode lets it in.
  if (bound != 0 || (group && chown(path.c_str(), static_cast<uid_t>(-1), *group) != 0) ||
      chmod(path.c_str(), group ? 0660 : 0600) != 0 || listen(fd, 16) != 0) {
    const std::runtime_error error = SystemError("cannot listen on " + path);
    close(fd);
    throw error;
  }
  return fd;
}

std::optional<ucred> PeerCredentials(int fd) {
  ucred peer{};
  socklen_t size = sizeof(peer);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof(peer)) return std::nullopt;
  // A TCP socket answers too, with no process behind it.
  if (peer.pid == 0) return std::nullopt;
  return peer;
}

std::string ProgramName(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

std::string RefusedPeer(const std::optional<ucred>& peer, const SCallers& callers) {
  if (!peer) return "the board service cannot tell which user is calling, and serves only the users it knows";
  if (peer->uid == callers.Uid || (callers.Group && Member(*peer, *callers.Group))) return {};
  const std::string members = callers.Group ? " and of the members of group " + std::to_string(*callers.Group) : "";
  return "the board service serves only the processes of user " + std::to_string(callers.Uid) + members +
         ", not process " + std::to_string(peer->pid) + " of user " + std::to_string(peer->uid);
}

}  // namespace service
