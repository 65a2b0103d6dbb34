// The driver stand-in's device files: each interface is a Unix stream socket in the registry
// folder, and each open file a stream that speaks the wire of standin_wire.h.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "device_files.h"
#include "standin_wire.h"

namespace tarvo::standin_files {

namespace {

int FdOf(Handle handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}
Handle HandleOf(int fd) {
  return reinterpret_cast<Handle>(static_cast<intptr_t>(fd));
}

// Names of the sockets in a registry folder, in ascending byte order.
std::vector<std::string> ListInterfaceSockets(const std::string& folder) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return names;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): this stream is read by this thread alone.
  while (const dirent* entry = readdir(dir.get())) {
    struct stat status;
    if (fstatat(dirfd(dir.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISSOCK(status.st_mode)) {
      names.emplace_back(entry->d_name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Connects a stream to the socket at `path`. A path too long for a socket address is reached
// through /proc/self/fd, which takes any path the file system takes.
int ConnectStream(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  int pathFd = -1;
  if (path.size() < sizeof address.sun_path) {
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  } else {
    pathFd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (pathFd < 0) return -1;
    (void)std::snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d", pathFd);
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    fd = -1;
  }
  if (pathFd >= 0) close(pathFd);
  return fd;
}

// The longest the driver may take to answer any request but a READ, and to deliver a reply
// once it has begun.
constexpr int kReplyWaitMs = 2000;

using Clock = std::chrono::steady_clock;

// Waits until the stream has something to receive (or has closed), until `deadline`; false
// when the time is up first.
bool AwaitInput(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd polled = {fd, POLLIN, 0};
    const int ready = poll(&polled, 1, static_cast<int>(std::max<decltype(left)>(left, 0)));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return true;  // The receive that follows reports the fault.
  }
}

// Receives exactly `size` bytes, each piece before `deadline`. What has come is taken at once;
// only when nothing is there does it wait.
bool ReceiveBefore(int fd, void* buffer, std::size_t size, Clock::time_point deadline) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    const ssize_t got = recv(fd, out, size, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) {
      if (!AwaitInput(fd, deadline)) return false;
      continue;
    }
    if (got <= 0) return false;
    out += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

Clock::time_point After(int milliseconds) {
  return Clock::now() + std::chrono::milliseconds(milliseconds);
}

// Waits for the reply to a READ. One that does not come within kReadWaitMs is cancelled, and
// the driver then answers at once: with nothing, or with what crossed the cancel.
bool AwaitReadReply(int fd) {
  if (AwaitInput(fd, After(static_cast<int>(kReadWaitMs)))) return true;
  uint8_t cancel = standin::kCancel;
  const iovec request[] = {{&cancel, 1}};
  return standin::SendFrame(fd, request, 1, kReplyWaitMs) && AwaitInput(fd, After(kReplyWaitMs));
}

// Sends one request (waiting at most kReplyWaitMs for the stream to take it) and receives its
// reply: the status, then at most `replyMax` bytes into `reply`; the reply is never read
// further than that, whatever length its frame claims. Any fault of the stream or of the
// reply's frame, and a driver that does not take the request or answer in time, leave the
// stream shut, so that this and every later call on it fail, as on a device that has gone.
bool Exchange(int fd, const iovec* request, int parts, uint32_t* status, void* reply,
              uint32_t replyMax, uint32_t* replySize, bool isRead = false) {
  if (fd < 0) return false;
  // The frame's length and the status together: a reply too short to hold a status breaks the
  // frame rules, and the stream is shut then whatever was read past it.
  uint8_t head[8];
  if (standin::SendFrame(fd, request, parts, kReplyWaitMs) &&
      (isRead ? AwaitReadReply(fd) : AwaitInput(fd, After(kReplyWaitMs)))) {
    const Clock::time_point deadline = After(kReplyWaitMs);
    if (ReceiveBefore(fd, head, sizeof head, deadline)) {
      const uint32_t bodySize = standin::GetU32(head);
      if (bodySize >= 4 && bodySize - 4 <= replyMax &&
          ReceiveBefore(fd, reply, bodySize - 4, deadline)) {
        *status = standin::GetU32(head + 4);
        *replySize = bodySize - 4;
        return true;
      }
    }
  }
  shutdown(fd, SHUT_RDWR);
  return false;
}

}  // namespace

std::vector<std::string> ListInterfaces(const InterfaceGuid& guid) {
  const std::string folder = standin::RegistryFolder(guid);
  std::vector<std::string> paths = ListInterfaceSockets(folder);
  for (std::string& name : paths)
    name.insert(0, folder + "/");
  return paths;
}

Handle OpenFile(const char* name) {
  // "<socket path>[\<remainder>]": the remainder starts at the first backslash of the last
  // path component.
  const char* lastSlash = std::strrchr(name, '/');
  const char* backslash = std::strchr(lastSlash != nullptr ? lastSlash : name, '\\');
  const std::size_t pathLength =
      backslash != nullptr ? static_cast<std::size_t>(backslash - name) : std::strlen(name);
  const char* remainder = backslash != nullptr ? backslash + 1 : "";

  int fd;
  try {
    fd = ConnectStream(std::string(name, pathLength));
  } catch (const std::bad_alloc&) {
    return InvalidHandle();
  }
  if (fd < 0) return InvalidHandle();
  uint8_t type = standin::kCreate;
  const iovec request[] = {{&type, 1}, {const_cast<char*>(remainder), std::strlen(remainder)}};
  uint32_t status = 0;
  uint32_t replySize = 0;
  if (!Exchange(fd, request, 2, &status, nullptr, 0, &replySize) || status != standin::kStatusOk) {
    close(fd);
    return InvalidHandle();
  }
  return HandleOf(fd);
}

void CloseHandle(Handle handle) {
  close(FdOf(handle));
}

bool ReadFile(Handle handle, void* buffer, uint32_t size, uint32_t* transferred) {
  uint8_t request[5] = {standin::kRead};
  standin::PutU32(request + 1, size);
  const iovec parts[] = {{request, sizeof request}};
  uint32_t status = 0;
  return Exchange(FdOf(handle), parts, 1, &status, buffer, size, transferred, true) &&
         status == standin::kStatusOk;
}

// A write larger than the driver takes in one request fails unsent, as a driver refuses a
// transfer too large for it; the file stays usable.
bool WriteFile(Handle handle, const void* buffer, uint32_t size, uint32_t* transferred) {
  if (size > standin::kMaxWriteSize) return false;
  const int fd = FdOf(handle);
  uint8_t type = standin::kWrite;
  const iovec parts[] = {{&type, 1}, {const_cast<void*>(buffer), size}};
  uint32_t status = 0;
  uint8_t count[4] = {};
  uint32_t countSize = 0;
  if (!Exchange(fd, parts, 2, &status, count, sizeof count, &countSize)) return false;
  // The reply holds the count whatever the status, and never more than was sent.
  if (countSize != sizeof count || standin::GetU32(count) > size) {
    shutdown(fd, SHUT_RDWR);
    return false;
  }
  if (status != standin::kStatusOk) return false;
  *transferred = standin::GetU32(count);
  return true;
}

bool Control(Handle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
             uint32_t outputSize) {
  if (inputSize > standin::kMaxControlInputSize) return false;  // unsent, as for a write
  uint8_t request[9] = {standin::kIoctl};
  standin::PutU32(request + 1, code);
  standin::PutU32(request + 5, outputSize);
  const iovec parts[] = {{request, sizeof request}, {const_cast<void*>(input), inputSize}};
  uint32_t status = 0;
  uint32_t replySize = 0;
  return Exchange(FdOf(handle), parts, 2, &status, output, outputSize, &replySize) &&
         status == standin::kStatusOk;
}

}  // namespace tarvo::standin_files
