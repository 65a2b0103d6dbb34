// The listening socket of a driver that a test plays by hand: the interface "instrument" in a
// registry root of the test's own (TARVO_DEVICE_ROOT points at it from now on), removed with
// everything in it at the end.
#ifndef TESTS_REGISTRY_LISTENER_H
#define TESTS_REGISTRY_LISTENER_H

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "device_access.h"
#include "standin_wire.h"

namespace testing_support {

class RegistryListener {
 public:
  RegistryListener() {
    char pattern[] = "/tmp/tarvo-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    root_ = pattern;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): set before the driver's thread starts.
    setenv("TARVO_DEVICE_ROOT", root_.c_str(), 1);
    const std::string folder = standin::RegistryFolder(tarvo::INTERFACE_GUID);
    std::filesystem::create_directories(folder);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = folder + "/instrument";
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd_, 16) != 0) {
      throw std::runtime_error("cannot listen");
    }
  }
  ~RegistryListener() {
    close(fd_);
    std::filesystem::remove_all(root_);
  }
  RegistryListener(const RegistryListener&) = delete;
  RegistryListener& operator=(const RegistryListener&) = delete;

  int Fd() const { return fd_; }

 private:
  std::string root_;
  int fd_ = -1;
};

}  // namespace testing_support

#endif  // TESTS_REGISTRY_LISTENER_H
