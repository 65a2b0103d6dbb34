// The emulator's driver on Linux: a driver stand-in socket whose device file answers the
// control requests and whose pipes carry the instrument's commands (pipe 1 of interface 0) and
// replies (pipe 0). Like a USB device that one program has claimed, each pipe is open to one
// file at a time; the device file to any number.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>

#include "device_descriptors.h"
#include "driver.h"
#include "driver_requests.h"
#include "driver_server.h"
#include "reply_queue.h"
#include "standin_wire.h"

namespace emulator {

namespace {

constexpr uint32_t kInvalidFunction = 1;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kGeneralFailure = 31;
constexpr uint32_t kSharingViolation = 32;
const char kReceivePipe[] = "if000pipe000";
const char kSendPipe[] = "if000pipe001";

class EmulatedDevice : public standin::DeviceBehaviour {
  using Clock = std::chrono::steady_clock;

 public:
  EmulatedDevice(standin::DriverServer& server, Instrument& instrument)
      : server_(server), instrument_(instrument) {}

  uint32_t Open(const standin::OpenFile& file) override {
    const bool known = file.name.empty() || file.name == kReceivePipe || file.name == kSendPipe;
    if (!known) {
      instrument_.Log().Line("open " + Quoted(file.name) + ": no such pipe");
      return kFileNotFound;
    }
    if (!file.name.empty()) {
      if (pipeHolders_.count(file.name) != 0) {
        instrument_.Log().Line("open " + Quoted(file.name) + ": refused, the pipe is in use");
        return kSharingViolation;
      }
      pipeHolders_[file.name] = file.id;
    }
    if (file.name == kSendPipe) {
      replies_.Clear();
      instrument_.LinkOpened();
    }
    return 0;
  }

  std::optional<standin::Reply> Read(const standin::OpenFile& file, uint32_t max) override {
    if (file.name != kReceivePipe) return standin::Reply::Failure(kInvalidFunction);
    if (instrument_.ReadsComeEmpty()) return NothingYet();
    std::optional<standin::Reply> reply = NextReply(max);
    if (!reply) {
      // Answered when the next reply is due, or when the next command comes.
      waitingRead_ = file.id;
      waitingMax_ = max;
    }
    return reply;
  }

  standin::Reply Write(const standin::OpenFile& file, const standin::Bytes& data) override {
    if (file.name != kSendPipe) return standin::Reply::Failure(kInvalidFunction);
    const Outcome outcome = instrument_.Command(std::string(data.begin(), data.end()));
    switch (outcome.action) {
      case Outcome::WriteFails:
        return standin::Reply::Failure(kGeneralFailure);
      case Outcome::DropNow:
        DropLink();
        return standin::Reply::Drop();
      case Outcome::Silent:
      case Outcome::EmptyReads:
      case Outcome::Reply:
      case Outcome::DropLater:
        break;
    }
    if (replies_.Add(outcome, ReplyQueue::SteadyNowMs(), instrument_.EmptyReadsBeforeReply())) {
      instrument_.Log().Line("the reply to the command before is dropped");
    }
    if (outcome.action == Outcome::Silent) {
      instrument_.Log().Line("reply: none (silent)");
    } else if (outcome.action == Outcome::EmptyReads) {
      AnswerWaitingRead([this] { return NothingYet(); });
    } else {
      AnswerWaitingRead([this] { return NextReply(waitingMax_); });
    }
    return standin::Reply::Written(static_cast<uint32_t>(data.size()));
  }

  standin::Reply Control(const standin::OpenFile& file, uint32_t code, uint32_t outMax,
                         const standin::Bytes& input) override {
    char text[64];
    (void)std::snprintf(text, sizeof text, "control 0x%06X on %s", code,
                        file.name.empty() ? "the device" : file.name.c_str());
    standin::Reply reply = AnswerControl(code, outMax, input);
    instrument_.Log().Line(std::string(text) + (reply.status == 0 ? "" : ": failed"));
    return reply;
  }

  void ReadCancelled(const standin::OpenFile& file) override {
    if (waitingRead_ != file.id) return;
    waitingRead_.reset();
    instrument_.Log().Line("read cancelled: nothing yet");
  }

  void Closed(const standin::OpenFile& file) override {
    auto holder = pipeHolders_.find(file.name);
    if (holder != pipeHolders_.end() && holder->second == file.id) pipeHolders_.erase(holder);
    if (waitingRead_ == file.id) waitingRead_.reset();
    if (file.name == kSendPipe) {
      replies_.Clear();
      instrument_.LinkClosed();
    }
  }

 private:
  // What a read gets now: the reply to the oldest command not yet answered, an empty read still
  // owed, or the end of the link; none while no reply is due (then the read is looked at again
  // when the oldest is).
  std::optional<standin::Reply> NextReply(uint32_t max) {
    Outcome outcome;
    uint64_t dueMs = 0;
    switch (replies_.Take(ReplyQueue::SteadyNowMs(), &outcome, &dueMs)) {
      case ReplyQueue::Next::Nothing:
        return std::nullopt;
      case ReplyQueue::Next::NotYet:
        WakeAt(dueMs);
        return std::nullopt;
      case ReplyQueue::Next::EmptyRead:
        return NothingYet();
      case ReplyQueue::Next::Reply:
        break;
    }
    if (outcome.action == Outcome::DropLater) {
      instrument_.Log().Line("device gone instead of the reply" +
                             (outcome.label.empty() ? "" : " (" + outcome.label + ")"));
      DropLink();
      return standin::Reply::Drop();
    }
    std::string reply = outcome.reply;
    if (reply.size() > max) reply.resize(max);
    instrument_.Log().Line("reply " + (outcome.label.empty() ? "" : outcome.label + " ") +
                           Quoted(reply));
    return standin::Reply::WithData(standin::Bytes(reply.begin(), reply.end()));
  }

  // Comes back to a waiting read at `dueMs`.
  void WakeAt(uint64_t dueMs) {
    if (dueMs == wakeAtMs_) return;
    wakeAtMs_ = dueMs;
    server_.PostAt(Clock::time_point(std::chrono::milliseconds(dueMs)),
                   [this] { AnswerWaitingRead([this] { return NextReply(waitingMax_); }); });
  }

  standin::Reply NothingYet() {
    instrument_.Log().Line("reply: nothing yet");
    return standin::Reply::WithData({});
  }

  // Answers the read left waiting, if there is one, with what `reply` gives, if it gives any (a
  // read with no reply yet goes on waiting); the reader is taken first, as the reply may drop the
  // link.
  template <typename MakeReply>
  void AnswerWaitingRead(MakeReply reply) {
    if (!waitingRead_) return;
    const int reader = *waitingRead_;
    waitingRead_.reset();
    const std::optional<standin::Reply> answer = reply();
    if (answer) {
      server_.AnswerRead(reader, *answer);
    } else {
      waitingRead_ = reader;
    }
  }

  standin::Reply AnswerControl(uint32_t code, uint32_t outMax, const standin::Bytes& input) {
    switch (code) {
      case tarvo::IOCTL_PROBE:
        return instrument_.AnswersProbe() ? standin::Reply::Success()
                                          : standin::Reply::Failure(kGeneralFailure);
      case tarvo::IOCTL_RESET_DEVICE:
      case tarvo::IOCTL_RESET_PIPE:
      case tarvo::IOCTL_CONTROL_OUT:
        return standin::Reply::Success();
      case tarvo::IOCTL_CONTROL_IN:
        // The data of one control transfer, whose length is 16 bits, however large the
        // caller's buffer.
        return standin::Reply::WithData(
            standin::Bytes(std::min(outMax, standin::kMaxControlDataSize), 0));
      case tarvo::IOCTL_GET_DESCRIPTOR: {
        const bool configuration =
            !input.empty() && input[0] == tarvo::kConfigurationDescriptorType;
        standin::Bytes descriptor = configuration ? ConfigurationDescriptor() : DeviceDescriptor();
        if (descriptor.size() > outMax) descriptor.resize(outMax);
        return standin::Reply::WithData(descriptor);
      }
      default:
        return standin::Reply::Failure(kInvalidFunction);
    }
  }

  // The device goes away: every open file of it fails from now on.
  void DropLink() {
    instrument_.Log().Line("link dropped");
    waitingRead_.reset();
    replies_.Clear();
    server_.DropAll();
  }

  standin::DriverServer& server_;
  Instrument& instrument_;
  ReplyQueue replies_;
  uint64_t wakeAtMs_ = 0;                   // when a waiting read is looked at again
  std::map<std::string, int> pipeHolders_;  // pipe name → the file that has it open
  std::optional<int> waitingRead_;
  uint32_t waitingMax_ = 0;
};

}  // namespace

std::string DefaultInterfaceName() {
  return "0000-kvx-emulator";
}

int ServeInstrument(Instrument& instrument, const std::string& name) {
  standin::DriverServer server;
  EmulatedDevice device(server, instrument);
  return server.PresentAndServe("kvx-emulator", name, device);
}

}  // namespace emulator
