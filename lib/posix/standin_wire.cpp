#include "standin_wire.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace standin {

std::string InterfaceClassName(const tarvo::InterfaceGuid& guid) {
  char name[40];
  (void)std::snprintf(name, sizeof name, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                      guid.data1, guid.data2, guid.data3, guid.data4[0], guid.data4[1],
                      guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6],
                      guid.data4[7]);
  return name;
}

std::string RegistryFolder(const tarvo::InterfaceGuid& guid) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the library never changes the environment.
  const char* root = std::getenv("TARVO_DEVICE_ROOT");
  std::string folder = root != nullptr && root[0] != '\0'
                           ? std::string(root)
                           : "/tmp/tarvo-" + std::to_string(getuid());
  return folder + "/" + InterfaceClassName(guid);
}

bool SendFrame(int fd, const iovec* parts, int count, int timeoutMs) {
  constexpr int kMaxParts = 7;
  if (count > kMaxParts) return false;
  uint8_t header[4];
  iovec vector[kMaxParts + 1];
  std::size_t bodySize = 0;
  vector[0] = {header, sizeof header};
  for (int i = 0; i < count; ++i) {
    vector[i + 1] = parts[i];
    bodySize += parts[i].iov_len;
  }
  if (bodySize > UINT32_MAX) return false;
  PutU32(header, static_cast<uint32_t>(bodySize));

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  msghdr message{};
  message.msg_iov = vector;
  message.msg_iovlen = static_cast<std::size_t>(count) + 1;
  while (message.msg_iovlen > 0) {
    const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return false;
      // The stream is full: wait for room, as long as the time allows.
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd polled = {fd, POLLOUT, 0};
      if (poll(&polled, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
      continue;
    }
    // Step past what went out; a partial send leaves the rest for the next round.
    auto left = static_cast<std::size_t>(sent);
    while (message.msg_iovlen > 0 && left >= message.msg_iov->iov_len) {
      left -= message.msg_iov->iov_len;
      ++message.msg_iov;
      --message.msg_iovlen;
    }
    if (message.msg_iovlen > 0) {
      message.msg_iov->iov_base = static_cast<uint8_t*>(message.msg_iov->iov_base) + left;
      message.msg_iov->iov_len -= left;
    }
  }
  return true;
}

}  // namespace standin
