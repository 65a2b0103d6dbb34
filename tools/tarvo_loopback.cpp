// tarvo-loopback: a driver stand-in for trying the link without an instrument. It presents one
// device interface of the instrument's class, and its instrument sends back every message that
// it receives on the send pipe.
#include <cstdio>
#include <deque>
#include <optional>
#include <string>

#include "command_line.h"
#include "driver_requests.h"
#include "driver_server.h"

namespace {

const char kUsage[] =
    "Usage: tarvo-loopback [--name NAME] [--quiet]\n"
    "\n"
    "Presents one device interface of the instrument's USB driver, as a socket in\n"
    "$TARVO_DEVICE_ROOT/{5ff884a1-b0e8-11d3-abc7-0080c8792d99}/ (TARVO_DEVICE_ROOT defaults to\n"
    "/tmp/tarvo-<uid>), until interrupted. Its instrument answers every message written to pipe 1\n"
    "of interface 0 with the same bytes on pipe 0. The probe and reset requests succeed; other\n"
    "control requests fail.\n"
    "\n"
    "  --name NAME  the interface's socket name (default 0000-loopback)\n"
    "  --quiet      do not print the requests as they come\n"
    "  --help       show this text\n";

constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kInvalidFunction = 1;

class LoopbackDevice : public standin::DeviceBehaviour {
 public:
  LoopbackDevice(standin::DriverServer& server, bool quiet) : server_(server), quiet_(quiet) {}

  uint32_t Open(const standin::OpenFile& file) override {
    const bool known = file.name.empty() || file.name == kReceivePipe || file.name == kSendPipe;
    Log(file, "open", known ? "ok" : "refused");
    return known ? 0 : kFileNotFound;
  }

  std::optional<standin::Reply> Read(const standin::OpenFile& file, uint32_t max) override {
    if (file.name != kReceivePipe) return standin::Reply::Failure(kInvalidFunction);
    if (messages_.empty()) {
      waitingRead_ = file.id;
      waitingMax_ = max;
      return std::nullopt;  // Answered when the next message comes.
    }
    return standin::Reply::WithData(TakeMessage(file, max));
  }

  standin::Reply Write(const standin::OpenFile& file, const standin::Bytes& data) override {
    if (file.name != kSendPipe) return standin::Reply::Failure(kInvalidFunction);
    Log(file, "write", Printable(data));
    messages_.push_back(data);
    AnswerWaitingRead();
    return standin::Reply::Written(static_cast<uint32_t>(data.size()));
  }

  standin::Reply Control(const standin::OpenFile& file, uint32_t code, uint32_t,
                         const standin::Bytes&) override {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", code);
    Log(file, "control", text);
    if (code == tarvo::IOCTL_PROBE || code == tarvo::IOCTL_RESET_DEVICE ||
        code == tarvo::IOCTL_RESET_PIPE) {
      return standin::Reply::Success();
    }
    return standin::Reply::Failure(kInvalidFunction);
  }

  void Closed(const standin::OpenFile& file) override {
    if (waitingRead_ == file.id) waitingRead_.reset();
    Log(file, "closed", "");
  }

 private:
  static constexpr const char* kReceivePipe = "if000pipe000";
  static constexpr const char* kSendPipe = "if000pipe001";

  void AnswerWaitingRead() {
    if (!waitingRead_ || messages_.empty()) return;
    const int file = *waitingRead_;
    waitingRead_.reset();
    server_.AnswerRead(file,
                       standin::Reply::WithData(TakeMessage({file, kReceivePipe}, waitingMax_)));
  }

  // The next message, or its first `max` bytes: the rest comes with the next read, as from a
  // device that sends in pieces.
  standin::Bytes TakeMessage(const standin::OpenFile& file, uint32_t max) {
    standin::Bytes message = std::move(messages_.front());
    messages_.pop_front();
    if (message.size() > max) {
      messages_.emplace_front(message.begin() + max, message.end());
      message.resize(max);
    }
    Log(file, "read", Printable(message));
    return message;
  }

  static std::string Printable(const standin::Bytes& data) {
    return cli::Printable(data.data(), data.size());
  }

  void Log(const standin::OpenFile& file, const char* what, const std::string& detail) {
    if (quiet_) return;
    std::printf("[%d] %s %s%s%s\n", file.id, file.name.empty() ? "(device)" : file.name.c_str(),
                what, detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stdout);
  }

  standin::DriverServer& server_;
  bool quiet_;
  std::deque<standin::Bytes> messages_;
  std::optional<int> waitingRead_;
  uint32_t waitingMax_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const cli::Arguments arguments =
      cli::Parse(argc, argv, {{"name", true}, {"quiet", false}}, kUsage);
  if (!arguments.operands.empty()) cli::UsageError("unexpected " + arguments.operands[0], kUsage);
  const std::string name = arguments.Value("name", "0000-loopback");

  standin::DriverServer server;
  LoopbackDevice device(server, arguments.Has("quiet"));
  return server.PresentAndServe("tarvo-loopback", name, device);
}
