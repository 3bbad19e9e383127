#include "FrameChannel.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "ServiceSocket.h"
#include "SystemError.h"

namespace service {

namespace {

// How long the client looks for a reply before it sleeps: longer than a frame's write takes.
constexpr std::chrono::microseconds REPLY_SPIN{500};

}  // namespace

ssize_t ReceiveSoon(int fd, void* buffer, size_t size, std::chrono::microseconds spin) {
  const auto until = std::chrono::steady_clock::now() + spin;
  do {
    const ssize_t n = recv(fd, buffer, size, MSG_DONTWAIT);
    if (n >= 0 || (errno != EAGAIN && errno != EINTR)) return n;
    // A thread waiting for this processor, perhaps the one that is to send, goes first.
    sched_yield();
  } while (std::chrono::steady_clock::now() < until);
  for (;;) {
    const ssize_t n = recv(fd, buffer, size, 0);
    if (n >= 0 || errno != EINTR) return n;
  }
}

std::string ChannelReply(const grpc::Status& status) {
  const int32_t code = status.error_code();
  std::string reply(reinterpret_cast<const char*>(&code), sizeof(code));
  return reply + status.error_message().substr(0, CHANNEL_REPLY_BYTES - sizeof(code));
}

grpc::Status ReplyStatus(const char* reply, ssize_t size) {
  int32_t code = 0;
  if (size < static_cast<ssize_t>(sizeof(code))) return {grpc::StatusCode::UNAVAILABLE, "the frame channel has ended"};
  std::memcpy(&code, reply, sizeof(code));
  if (code == 0) return grpc::Status::OK;
  return {static_cast<grpc::StatusCode>(code), std::string(reply + sizeof(code), size - sizeof(code))};
}

CFrameChannel::CFrameChannel(const std::string& path, const ChannelToken& token, size_t frameBytes)
    : m_Bytes(frameBytes) {
  m_File = memfd_create("sorrel-frame", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (m_File < 0) throw SystemError("cannot make the frame channel's shared file");
  // Sealed against shrinking: the service reads what it mapped without fear of a fault.
  if (ftruncate(m_File, static_cast<off_t>(frameBytes)) != 0 ||
      fcntl(m_File, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL) != 0) {
    const std::runtime_error error = SystemError("cannot size the frame channel's shared file");
    close(m_File);
    throw error;
  }
  void* pixels = mmap(nullptr, frameBytes, PROT_READ | PROT_WRITE, MAP_SHARED, m_File, 0);
  m_Socket = Connect(path, SOCK_SEQPACKET);
  if (pixels == MAP_FAILED || m_Socket < 0) {
    const std::runtime_error error = SystemError("cannot open the frame channel " + path);
    if (pixels != MAP_FAILED) munmap(pixels, frameBytes);
    if (m_Socket >= 0) close(m_Socket);
    close(m_File);
    throw error;
  }
  m_Pixels = static_cast<uint8_t*>(pixels);
  char control[CMSG_SPACE(sizeof(int))] = {};
  iovec data{const_cast<uint8_t*>(token.data()), token.size()};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  cmsghdr* rights = CMSG_FIRSTHDR(&message);
  rights->cmsg_level = SOL_SOCKET;
  rights->cmsg_type = SCM_RIGHTS;
  rights->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(rights), &m_File, sizeof(int));
  char reply[CHANNEL_REPLY_BYTES];
  const bool sent = sendmsg(m_Socket, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(token.size());
  const grpc::Status opened =
      sent ? ReplyStatus(reply, ReceiveSoon(m_Socket, reply, sizeof(reply), REPLY_SPIN)) : grpc::Status::CANCELLED;
  if (!opened.ok()) {
    Release();
    throw std::runtime_error("the frame channel " + path + " was refused: " + opened.error_message());
  }
}

CFrameChannel::~CFrameChannel() { Release(); }

void CFrameChannel::Release() {
  if (m_Pixels != nullptr) munmap(m_Pixels, m_Bytes);
  if (m_Socket >= 0) close(m_Socket);
  if (m_File >= 0) close(m_File);
  m_Pixels = nullptr;
  m_Socket = m_File = -1;
}

grpc::Status CFrameChannel::Call(EChannelCall call, int frame) {
  const SChannelCall message{call, frame};
  char reply[CHANNEL_REPLY_BYTES];
  if (send(m_Socket, &message, sizeof(message), MSG_NOSIGNAL) != sizeof(message)) {
    return {grpc::StatusCode::UNAVAILABLE, "the frame channel has ended"};
  }
  return ReplyStatus(reply, ReceiveSoon(m_Socket, reply, sizeof(reply), REPLY_SPIN));
}

}  // namespace service
