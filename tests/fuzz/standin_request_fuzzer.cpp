// libFuzzer target: the driver side of the driver stand-in serving whatever clients send. The
// first byte says where the rest is cut in two: each part is all that one client sends on a
// stream of its own before it stops sending, both served by one DriverServer for a small device
// with a receive pipe, a send pipe and control requests, much as the emulator's. What a write
// carries steers the device: its first byte may drop the stream, drop every stream, fail, or
// be the reply to a read left waiting. No input may crash, hang, leak, leave a descriptor open,
// or bring a reply frame too short for its status.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "driver_server.h"
#include "standin_wire.h"

namespace {

void Require(bool holds) {
  if (!holds) std::abort();
}

class SmallDevice : public standin::DeviceBehaviour {
 public:
  explicit SmallDevice(standin::DriverServer& server) : server_(server) {}

  uint32_t Open(const standin::OpenFile& file) override {
    return file.name.empty() || file.name == "if000pipe000" || file.name == "if000pipe001" ? 0 : 2;
  }

  std::optional<standin::Reply> Read(const standin::OpenFile& file, uint32_t max) override {
    if (file.name != "if000pipe000") return standin::Reply::Failure(1);
    if (pending_.empty()) {
      waiting_ = file.id;
      waitingMax_ = max;
      return std::nullopt;
    }
    return TakePending(max);
  }

  standin::Reply Write(const standin::OpenFile& file, const standin::Bytes& data) override {
    if (file.name != "if000pipe001") return standin::Reply::Failure(1);
    switch (data.empty() ? 0 : data[0]) {
      case 'D':
        return standin::Reply::Drop();
      case 'X':
        waiting_.reset();
        server_.DropAll();
        return standin::Reply::Drop();
      case 'F':
        return standin::Reply::Failure(31);
      default:
        break;
    }
    pending_ = data;
    if (waiting_) {
      const int reader = *waiting_;
      waiting_.reset();
      server_.AnswerRead(reader, TakePending(waitingMax_));
    }
    return standin::Reply::Written(static_cast<uint32_t>(data.size()));
  }

  standin::Reply Control(const standin::OpenFile& /*file*/, uint32_t code, uint32_t outMax,
                         const standin::Bytes& input) override {
    if (code == 0) return standin::Reply::Drop();
    if ((code & 1) != 0) return standin::Reply::Failure(code);
    // What it has to say: as much of the input as the buffer takes, at most a control
    // transfer's data.
    const std::size_t length =
        std::min<std::size_t>({input.size(), outMax, standin::kMaxControlDataSize});
    return standin::Reply::WithData(
        standin::Bytes(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(length)));
  }

  void ReadCancelled(const standin::OpenFile& file) override {
    if (waiting_ == file.id) waiting_.reset();
  }

  void Closed(const standin::OpenFile& file) override {
    if (waiting_ == file.id) waiting_.reset();
  }

 private:
  standin::Reply TakePending(uint32_t max) {
    standin::Bytes data = std::move(pending_);
    pending_.clear();
    if (data.size() > max) data.resize(max);
    return standin::Reply::WithData(std::move(data));
  }

  standin::DriverServer& server_;
  standin::Bytes pending_;
  std::optional<int> waiting_;
  uint32_t waitingMax_ = 0;
};

// Every whole reply frame in what the client end has received holds at least a status.
void CheckReplies(int client) {
  std::vector<uint8_t> received;
  uint8_t chunk[4096];
  for (ssize_t got; (got = recv(client, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;)
    received.insert(received.end(), chunk, chunk + got);
  for (std::size_t at = 0; received.size() - at >= 4;) {
    const uint32_t length = standin::GetU32(received.data() + at);
    Require(length >= 4);
    at += 4 + static_cast<std::size_t>(length);
    if (at > received.size()) break;  // cut short by a dropped stream
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t cut = 1 + (size - 1) * data[0] / 255;
  const std::size_t parts[2][2] = {{1, cut}, {cut, size}};
  int clients[2];
  int served[2];
  {
    standin::DriverServer server;
    SmallDevice device(server);
    for (int i = 0; i < 2; ++i) {
      int ends[2];
      Require(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
      clients[i] = ends[0];
      served[i] = ends[1];
      // The stream takes far more than the longest input.
      const std::size_t length = parts[i][1] - parts[i][0];
      Require(length == 0 || send(clients[i], data + parts[i][0], length, MSG_NOSIGNAL) ==
                                 static_cast<ssize_t>(length));
      Require(shutdown(clients[i], SHUT_WR) == 0);
      server.AdoptStream(served[i], device);
    }
    server.RunWhileStreamsOpen();
  }
  for (int i = 0; i < 2; ++i) {
    Require(fcntl(served[i], F_GETFD) == -1 && errno == EBADF);  // closed by the server
    CheckReplies(clients[i]);
    close(clients[i]);
  }
  return 0;
}
