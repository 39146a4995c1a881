#include "helper/channel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace quillnet::helper {
namespace {

// A message carries at most one descriptor.
constexpr std::size_t kControlSize = CMSG_SPACE(sizeof(int));

// A socket call, made again while a signal interrupts it.
template <typename Call>
ssize_t Retried(Call call) {
  ssize_t result = 0;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

// Sends `bytes` as one message, `passed` along where it is not -1; true when all of it went.
bool SendWhole(int fd, std::span<const std::uint8_t> bytes, int passed) {
  iovec data{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
  alignas(cmsghdr) std::array<char, kControlSize> control{};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  if (passed >= 0) {
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof passed);
    std::memcpy(CMSG_DATA(header), &passed, sizeof passed);
  }
  return Retried([&] { return ::sendmsg(fd, &message, MSG_NOSIGNAL); }) ==
         static_cast<ssize_t>(bytes.size());
}

// One message into `bytes`: its length, 0 when the other end closed, -1 with errno set when the
// receive failed. With `passed`, the descriptor that came along is taken (-1 when none did);
// without it, any is dropped. More descriptors than the one a message may carry fail the
// receive, and none of them is kept.
ssize_t ReceiveWhole(int fd, std::span<std::uint8_t> bytes, int flags, int* passed) {
  iovec data{bytes.data(), bytes.size()};
  alignas(cmsghdr) std::array<char, kControlSize> control{};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  if (passed != nullptr) {
    *passed = -1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
  }
  const ssize_t length =
      Retried([&] { return ::recvmsg(fd, &message, flags | MSG_CMSG_CLOEXEC); });
  if (length <= 0 || passed == nullptr) return length;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS &&
        header->cmsg_len == CMSG_LEN(sizeof(int))) {
      std::memcpy(passed, CMSG_DATA(header), sizeof *passed);
    }
  }
  if ((message.msg_flags & MSG_CTRUNC) != 0) {
    if (*passed >= 0) ::close(*passed);
    *passed = -1;
    errno = EMSGSIZE;
    return -1;
  }
  return length;
}

}  // namespace

bool SendRequest(int fd, const Request& request) {
  return SendWhole(fd, EncodeRequest(request), -1);
}

bool SendReply(int fd, const Reply& reply, int passed) {
  return SendWhole(fd, EncodeReply(reply), passed);
}

bool ReceiveRequest(int fd, Request& request, bool dontWait) {
  request = {};
  // One byte more than a request, so that a longer message does not pass for one.
  std::array<std::uint8_t, kRequestSize + 1> bytes{};
  const ssize_t length = ReceiveWhole(fd, bytes, dontWait ? MSG_DONTWAIT : 0, nullptr);
  if (length < 0) return dontWait && (errno == EAGAIN || errno == EWOULDBLOCK);
  if (length == 0) return false;
  request = ParseRequest(std::span(bytes.data(), static_cast<std::size_t>(length)));
  return true;
}

bool ReceiveReply(int fd, Reply& reply, int& passed) {
  std::array<std::uint8_t, kReplySize + 1> bytes{};
  const ssize_t length = ReceiveWhole(fd, bytes, 0, &passed);
  if (length <= 0) return false;
  reply = ParseReply(std::span(bytes.data(), static_cast<std::size_t>(length)));
  if (reply.kind == ReplyKind::kRefused || (reply.kind == ReplyKind::kSocket) != (passed >= 0)) {
    if (passed >= 0) ::close(passed);
    passed = -1;
    return false;
  }
  return true;
}

}  // namespace quillnet::helper
