#include "FrameChannels.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "ServiceSocket.h"
#include "SystemError.h"

namespace service {

namespace {

// How long a channel looks for its next call before its thread sleeps: a
// client's calls in a row, with a little of its own work between them, come within it.
constexpr std::chrono::microseconds CALL_SPIN{200};
// How long a new channel may take to send its token.
constexpr int OPEN_WAIT_MS = 1000;

void Reply(int socket, const grpc::Status& status) {
  const std::string reply = ChannelReply(status);
  [[maybe_unused]] const ssize_t n = send(socket, reply.data(), reply.size(), MSG_NOSIGNAL);
}

}  // namespace

CFrameChannels::CFrameChannels(const std::string& path, std::optional<gid_t> group, size_t frameBytes, int maxChannels,
                               CChannelCalls& calls)
    : m_Path(path), m_FrameBytes(frameBytes), m_MaxChannels(static_cast<size_t>(maxChannels)), m_Calls(calls) {
  m_Listener = Listen(path, group, SOCK_SEQPACKET);
  m_Wake = eventfd(0, EFD_CLOEXEC);
  if (m_Wake < 0) {
    close(m_Listener);
    unlink(path.c_str());
    throw SystemError("cannot make the frame channels' wake-up");
  }
  m_Acceptor = std::thread([this] { Accept(); });
}

CFrameChannels::~CFrameChannels() {
  m_Stopping = true;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(m_Wake, &one, sizeof(one));
  m_Acceptor.join();
  close(m_Listener);
  close(m_Wake);
  unlink(m_Path.c_str());
  {
    std::lock_guard lock(m_Mutex);
    for (Channel& channel : m_Channels) shutdown(channel.Socket, SHUT_RDWR);
  }
  // No channel comes or goes any more; a channel's thread may still take the lock.
  for (Channel& channel : m_Channels) {
    channel.Thread.join();
    close(channel.Socket);
  }
}

void CFrameChannels::Accept() {
  for (;;) {
    pollfd waits[] = {{m_Listener, POLLIN, 0}, {m_Wake, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0) continue;
    if (m_Stopping) return;
    const int fd = accept4(m_Listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(m_Mutex);
    std::erase_if(m_Channels, [](Channel& channel) {
      if (!channel.Ended) return false;
      channel.Thread.join();
      close(channel.Socket);
      return true;
    });
    if (m_Channels.size() >= m_MaxChannels) {
      Reply(fd, {grpc::StatusCode::RESOURCE_EXHAUSTED,
                 "the board service keeps at most " + std::to_string(m_MaxChannels) + " frame channels open"});
      close(fd);
      continue;
    }
    Channel& channel = m_Channels.emplace_back();
    channel.Socket = fd;
    channel.Thread = std::thread([this, &channel] { Carry(channel); });
  }
}

void CFrameChannels::Carry(Channel& channel) {
  if (const uint8_t* pixels = Open(channel)) {
    char call[64];
    for (;;) {
      const ssize_t n = ReceiveSoon(channel.Socket, call, sizeof(call), CALL_SPIN);
      if (n <= 0) break;
      SChannelCall asked{};
      std::memcpy(&asked, call, sizeof(asked));
      const grpc::Status outcome = n == sizeof(asked)
                                       ? m_Calls.Serve(*channel.Client, asked, pixels)
                                       : grpc::Status(grpc::StatusCode::INVALID_ARGUMENT,
                                                      "a frame channel's call is " + std::to_string(sizeof(asked)) +
                                                          " bytes, not " + std::to_string(n));
      Reply(channel.Socket, outcome);
      // The connection that opened the channel has ended, or the service is ending.
      if (outcome.error_code() == grpc::StatusCode::UNAVAILABLE) break;
    }
    munmap(const_cast<uint8_t*>(pixels), m_FrameBytes);
  }
  shutdown(channel.Socket, SHUT_RDWR);
  channel.Ended = true;
}

const uint8_t* CFrameChannels::Open(Channel& channel) {
  pollfd wait{channel.Socket, POLLIN, 0};
  if (poll(&wait, 1, OPEN_WAIT_MS) <= 0) return nullptr;
  ChannelToken token{};
  iovec data{token.data(), token.size()};
  // Room for one descriptor: the kernel closes any further ones sent.
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  const ssize_t n = recvmsg(channel.Socket, &message, MSG_CMSG_CLOEXEC);
  int file = -1;
  if (n >= 0) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS && c->cmsg_len == CMSG_LEN(sizeof(int))) {
        std::memcpy(&file, CMSG_DATA(c), sizeof(int));
      }
    }
  }
  struct stat shared {};
  const int seals = file >= 0 ? fcntl(file, F_GET_SEALS) : -1;
  grpc::Status refused = grpc::Status::OK;
  std::optional<uint64_t> client;
  if (n != static_cast<ssize_t>(token.size()) || file < 0) {
    refused = {grpc::StatusCode::INVALID_ARGUMENT,
               "a frame channel opens with its 16-byte token and the "
               "descriptor of its shared file"};
  } else if (fstat(file, &shared) != 0 || !S_ISREG(shared.st_mode) ||
             static_cast<size_t>(shared.st_size) < m_FrameBytes) {
    refused = {grpc::StatusCode::INVALID_ARGUMENT,
               "the frame channel's shared file holds fewer than " + std::to_string(m_FrameBytes) + " bytes"};
  } else if (seals < 0 || (seals & F_SEAL_SHRINK) == 0) {
    refused = {grpc::StatusCode::INVALID_ARGUMENT, "the frame channel's shared file is not sealed against shrinking"};
  } else if (client = m_Calls.Claim(token, PeerCredentials(channel.Socket)); !client) {
    refused = {grpc::StatusCode::PERMISSION_DENIED,
               "the frame channel's token is not one the board service handed "
               "to this process, or it was used"};
  }
  void* pixels = refused.ok() ? mmap(nullptr, m_FrameBytes, PROT_READ, MAP_SHARED, file, 0) : MAP_FAILED;
  if (refused.ok() && pixels == MAP_FAILED) {
    refused = {grpc::StatusCode::INVALID_ARGUMENT, "the frame channel's shared file cannot be mapped"};
  }
  if (file >= 0) close(file);
  if (refused.ok()) {
    std::lock_guard lock(m_Mutex);
    channel.Client = client;
    EndOthers(channel);
  }
  Reply(channel.Socket, refused);
  return refused.ok() ? static_cast<const uint8_t*>(pixels) : nullptr;
}

void CFrameChannels::EndOthers(const Channel& channel) {
  for (Channel& other : m_Channels) {
    if (&other != &channel && other.Client == channel.Client && !other.Ended) shutdown(other.Socket, SHUT_RDWR);
  }
}

}  // namespace service
