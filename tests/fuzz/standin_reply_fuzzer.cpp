// libFuzzer target: the library's side of the driver stand-in reading whatever a driver sends.
// The first byte chooses four calls (two bits each: a pipe read, a pipe write, a control
// request with output, one without), the second the size of the callers' buffers, and the rest
// is everything the driver's end of the stream delivers before it falls silent. Each buffer is
// allocated to its exact size, so that a reply copied beyond it is caught. No input may crash,
// hang, leak, report more bytes than asked for, or leave a descriptor open.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "device_files.h"
#include "driver_requests.h"

namespace {

void Require(bool holds) {
  if (!holds) std::abort();
}

tarvo::Handle HandleOf(int fd) {
  return reinterpret_cast<tarvo::Handle>(static_cast<intptr_t>(fd));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  int ends[2];
  Require(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
  const int library = ends[0];
  const int driver = ends[1];
  // All the driver will ever say (the stream takes far more than the longest input), then the
  // end of what it sends; it keeps taking the library's requests unread.
  for (std::size_t at = 2; at < size;) {
    const ssize_t sent = send(driver, data + at, size - at, MSG_NOSIGNAL);
    Require(sent > 0);
    at += static_cast<std::size_t>(sent);
  }
  Require(shutdown(driver, SHUT_WR) == 0);

  namespace files = tarvo::standin_files;
  const tarvo::Handle handle = HandleOf(library);
  const uint32_t bufferSize = data[1];
  for (int call = 0; call < 4; ++call) {
    auto buffer = std::make_unique<uint8_t[]>(bufferSize);
    uint32_t transferred = 0;
    switch ((data[0] >> (2 * call)) & 3) {
      case 0:
        if (files::ReadFile(handle, buffer.get(), bufferSize, &transferred)) {
          Require(transferred <= bufferSize);
        }
        break;
      case 1: {
        const uint8_t command[] = {'E', 'N', 'D', '\r'};
        if (files::WriteFile(handle, command, sizeof command, &transferred)) {
          Require(transferred <= sizeof command);
        }
        break;
      }
      case 2: {
        const uint8_t input[] = {tarvo::kDeviceDescriptorType, 0, 0, 0};
        files::Control(handle, tarvo::IOCTL_GET_DESCRIPTOR, input, sizeof input, buffer.get(),
                       bufferSize);
        break;
      }
      default:
        files::Control(handle, tarvo::IOCTL_RESET_DEVICE, nullptr, 0, nullptr, 0);
        break;
    }
  }
  files::CloseHandle(handle);
  close(driver);
  Require(fcntl(library, F_GETFD) == -1 && errno == EBADF);
  return 0;
}
