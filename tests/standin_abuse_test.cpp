// The driver stand-in against hostile peers. The driver side (a kvx-emulator process) facing
// clients that flood it without reading, ask for huge sizes, announce huge frames or come when
// it has no descriptor left: it keeps serving everyone else, allocates only what it has to say,
// and stops at once on a signal. The library facing a driver whose replies break the frame
// rules or who stops reading: it fails the call, as for a device gone, and never hangs.
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "device_access.h"
#include "device_table.h"
#include "driver_requests.h"
#include "emulator_process.h"
#include "library_test_support.h"
#include "registry_listener.h"
#include "standin_wire.h"

namespace testing_support {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

Bytes U32(uint32_t value) {
  Bytes bytes(4);
  standin::PutU32(bytes.data(), value);
  return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Frame(const Bytes& body) {
  return Concat({U32(static_cast<uint32_t>(body.size())), body});
}

Bytes CreateRequest(const std::string& name) {
  return Concat({{standin::kCreate}, ToBytes(name)});
}
Bytes ReadRequest(uint32_t max) {
  return Concat({{standin::kRead}, U32(max)});
}
Bytes WriteRequest(const Bytes& data) {
  return Concat({{standin::kWrite}, data});
}
Bytes ControlRequest(uint32_t code, uint32_t outMax, const Bytes& input) {
  return Concat({{standin::kIoctl}, U32(code), U32(outMax), input});
}
// A control transfer from the device: its 16-byte request block.
Bytes ControlInRequest(uint32_t outMax) {
  return ControlRequest(tarvo::IOCTL_CONTROL_IN, outMax, Bytes(tarvo::kControlRequestSize, 0));
}

// One stream to a device interface, as any program may open it, frame by frame.
class RawStream {
 public:
  explicit RawStream(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("cannot connect to " + path);
    }
  }
  ~RawStream() { close(fd_); }
  RawStream(const RawStream&) = delete;
  RawStream& operator=(const RawStream&) = delete;

  // Sends all of `bytes`; false when the stream is gone.
  bool SendBytes(const Bytes& bytes) const {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  bool Send(const Bytes& body) const { return SendBytes(Frame(body)); }

  // Sends a request `times` over at one go, without waiting; false when they did not all fit.
  bool SendAtOnce(const Bytes& body, int times) const {
    Bytes frames;
    for (int i = 0; i < times; ++i) {
      const Bytes frame = Frame(body);
      frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return send(fd_, frames.data(), frames.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
           static_cast<ssize_t>(frames.size());
  }

  // The body of the next reply, or nothing when none comes whole within `limit`.
  std::optional<Bytes> Reply(milliseconds limit = seconds(5)) const {
    const Clock::time_point deadline = Clock::now() + limit;
    Bytes length(4);
    if (!Receive(length.data(), length.size(), deadline)) return std::nullopt;
    Bytes body(standin::GetU32(length.data()));
    if (body.size() > (1u << 20) || !Receive(body.data(), body.size(), deadline)) {
      return std::nullopt;
    }
    return body;
  }

  // The status of the next reply, or -1 when none comes.
  int64_t ReplyStatus(milliseconds limit = seconds(5)) const {
    const std::optional<Bytes> body = Reply(limit);
    return body && body->size() >= 4 ? static_cast<int64_t>(standin::GetU32(body->data())) : -1;
  }

  // Whether the driver closes the stream within `limit` (unread replies may be left in it).
  bool ClosedWithin(milliseconds limit) const {
    const Clock::time_point deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      pollfd polled = {fd_, POLLRDHUP, 0};
      if (poll(&polled, 1, 20) > 0 && (polled.revents & (POLLHUP | POLLERR)) != 0) return true;
    }
    return false;
  }

 private:
  bool Receive(uint8_t* out, std::size_t size, Clock::time_point deadline) const {
    while (size > 0) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      pollfd polled = {fd_, POLLIN, 0};
      if (left <= 0 || poll(&polled, 1, static_cast<int>(left)) <= 0) return false;
      const ssize_t got = recv(fd_, out, size, 0);
      if (got <= 0) return false;
      out += got;
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }

  int fd_ = -1;
};

// A whole link as the program opens it, one command and its reply, and the link closed.
std::string LinkExchange(const std::string& command) {
  if (TarvoInit() != LINK_OK) return "(no link)";
  std::string reply = TarvoSend(command.data(), static_cast<uint32_t>(command.size())) == LINK_OK
                          ? ReceiveReply()
                          : "(send failed)";
  TarvoExit();
  return reply;
}

// What /proc tells of a process.
double ProcessorSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::vector<std::string> field;
  for (std::string word; fields >> word;)
    field.push_back(word);
  // From the state (field 3) on: utime is field 14 and stime field 15, in clock ticks.
  const double ticks = std::stod(field.at(11)) + std::stod(field.at(12));
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long PeakResidentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

int LowestFreeDescriptor(pid_t pid) {
  std::set<int> open;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    open.insert(std::stoi(entry.path().filename().string()));
  }
  int free = 0;
  while (open.count(free) != 0)
    ++free;
  return free;
}

class EmulatorAbuseTest : public LibraryTest {};

TEST_F(EmulatorAbuseTest, AClientThatNeverReadsIsDroppedWhileOthersAreServedAndStopsNothing) {
  EmulatorProcess emulator({});
  // Each request asks for the most a control transfer brings (64 KiB), and none is read.
  RawStream flooder(emulator.InterfacePath());
  ASSERT_TRUE(flooder.Send(CreateRequest("")));
  ASSERT_EQ(flooder.ReplyStatus(), 0);
  ASSERT_TRUE(flooder.SendAtOnce(ControlInRequest(standin::kMaxControlDataSize), 200));

  // Everyone else is served as ever, and the flooder is let go.
  EXPECT_EQ(LinkExchange("END\r"), "END\r");
  EXPECT_TRUE(flooder.ClosedWithin(seconds(5)));

  // A stop signal ends the emulator at once, even with a client that reads nothing.
  RawStream second(emulator.InterfacePath());
  ASSERT_TRUE(second.Send(CreateRequest("")));
  ASSERT_TRUE(second.SendAtOnce(ControlInRequest(standin::kMaxControlDataSize), 200));
  EXPECT_TRUE(emulator.StopsWithin(SIGTERM, seconds(2)));
  EXPECT_FALSE(emulator.InterfacePresent());
}

TEST_F(EmulatorAbuseTest, HugeSizesInRequestsAllocateNothingOfTheirSize) {
  // A single allocation of what the request names (4 GiB) stops the emulator outright, rather
  // than fill the machine, should it ever be tried.
  std::vector<std::string> guard;
  for (const char* sanitizer : {"ASAN_OPTIONS", "TSAN_OPTIONS"}) {
    const char* given = std::getenv(sanitizer);  // NOLINT(concurrency-mt-unsafe): no thread yet
    guard.push_back(std::string(sanitizer) + "=" + (given != nullptr ? given : "") +
                    ":max_allocation_size_mb=256");
  }
  EmulatorProcess emulator({}, guard);

  RawStream device(emulator.InterfacePath());
  ASSERT_TRUE(device.Send(CreateRequest("")));
  ASSERT_EQ(device.ReplyStatus(), 0);
  // A control transfer moves at most 65535 bytes, whatever buffer it is given.
  ASSERT_TRUE(device.Send(ControlInRequest(0xFFFFFFFF)));
  const std::optional<Bytes> controlIn = device.Reply();
  ASSERT_TRUE(controlIn);
  EXPECT_EQ(standin::GetU32(controlIn->data()), 0u);
  EXPECT_EQ(controlIn->size(), 4 + standin::kMaxControlDataSize);
  ASSERT_TRUE(device.Send(ControlRequest(tarvo::IOCTL_GET_DESCRIPTOR, 0xFFFFFFFF,
                                         {tarvo::kDeviceDescriptorType, 0, 0, 0})));
  const std::optional<Bytes> descriptor = device.Reply();
  ASSERT_TRUE(descriptor);
  EXPECT_EQ(descriptor->size(), 4 + tarvo::kDeviceDescriptorSize);

  // A read as large as can be asked for gets the reply as it is.
  {
    RawStream receive(emulator.InterfacePath());
    RawStream send(emulator.InterfacePath());
    ASSERT_TRUE(receive.Send(CreateRequest("if000pipe000")));
    ASSERT_EQ(receive.ReplyStatus(), 0);
    ASSERT_TRUE(send.Send(CreateRequest("if000pipe001")));
    ASSERT_EQ(send.ReplyStatus(), 0);
    ASSERT_TRUE(send.Send(WriteRequest(ToBytes("END\r"))));
    ASSERT_EQ(send.ReplyStatus(), 0);
    ASSERT_TRUE(receive.Send(ReadRequest(0xFFFFFFFF)));
    EXPECT_EQ(receive.Reply(), Concat({U32(0), ToBytes("END\r")}));
  }

  EXPECT_LT(PeakResidentKiB(emulator.Pid()), 1024 * 1024);
  EXPECT_EQ(LinkExchange("END\r"), "END\r");
  EXPECT_EQ(emulator.Stop(), 0);
}

TEST_F(EmulatorAbuseTest, AFrameLargerThanAnyRequestDropsItsStreamAndTheLargestRequestsPass) {
  EmulatorProcess emulator({});
  RawStream device(emulator.InterfacePath());
  ASSERT_TRUE(device.Send(CreateRequest("")));
  ASSERT_EQ(device.ReplyStatus(), 0);
  // The largest requests there are: a control transfer with all the data it can carry, and a
  // write of the most one takes (which the device itself refuses).
  ASSERT_TRUE(device.Send(
      ControlRequest(tarvo::IOCTL_CONTROL_OUT, 0, Bytes(standin::kMaxControlInputSize, 0x5A))));
  EXPECT_EQ(device.ReplyStatus(), 0);
  ASSERT_TRUE(device.Send(WriteRequest(Bytes(standin::kMaxWriteSize, 'x'))));
  EXPECT_EQ(device.ReplyStatus(), 1);

  // One byte more is no request: the stream is closed without waiting for its body.
  RawStream broken(emulator.InterfacePath());
  ASSERT_TRUE(broken.SendBytes(U32(standin::kMaxRequestSize + 1)));
  EXPECT_TRUE(broken.ClosedWithin(seconds(2)));
  RawStream huge(emulator.InterfacePath());
  ASSERT_TRUE(huge.SendBytes(Concat({U32(0xFFFFFFFF), {standin::kWrite}})));
  EXPECT_TRUE(huge.ClosedWithin(seconds(2)));

  // A frame left half sent holds up neither the others nor an interrupt.
  RawStream half(emulator.InterfacePath());
  ASSERT_TRUE(half.SendBytes(Concat({U32(100), {standin::kCreate}})));
  EXPECT_EQ(LinkExchange("END\r"), "END\r");
  EXPECT_TRUE(emulator.StopsWithin(SIGINT, seconds(2)));
  EXPECT_FALSE(emulator.InterfacePresent());
}

TEST_F(EmulatorAbuseTest, AFullDescriptorTableIsWaitedOutWithoutSpinning) {
  EmulatorProcess emulator({});
  ASSERT_EQ(TarvoInit(), LINK_OK);
  // The emulator may open no more files: the next client cannot be accepted.
  rlimit original;
  ASSERT_EQ(prlimit(emulator.Pid(), RLIMIT_NOFILE, nullptr, &original), 0);
  rlimit full = original;
  full.rlim_cur = static_cast<rlim_t>(LowestFreeDescriptor(emulator.Pid()));
  ASSERT_EQ(prlimit(emulator.Pid(), RLIMIT_NOFILE, &full, nullptr), 0);
  RawStream waiting(emulator.InterfacePath());
  ASSERT_TRUE(waiting.Send(CreateRequest("")));

  // While it waits, it takes next to no processor time and serves the link it has.
  const double before = ProcessorSeconds(emulator.Pid());
  const Clock::time_point start = Clock::now();
  for (int round = 0; Clock::now() - start < seconds(2); ++round) {
    ASSERT_EQ(TarvoSend("END\r", 4), LINK_OK);
    ASSERT_EQ(ReceiveReply(), "END\r") << round;
    std::this_thread::sleep_for(milliseconds(100));
  }
  EXPECT_LT(ProcessorSeconds(emulator.Pid()) - before, 0.5);
  EXPECT_EQ(waiting.ReplyStatus(milliseconds(0)), -1);

  // Once descriptors are free again, the waiting client is taken.
  ASSERT_EQ(prlimit(emulator.Pid(), RLIMIT_NOFILE, &original, nullptr), 0);
  EXPECT_EQ(waiting.ReplyStatus(seconds(3)), 0);
  TarvoExit();
  EXPECT_EQ(LinkExchange("END\r"), "END\r");
}

// A driver played byte by byte from the test: it answers each stream's CREATE with success and
// every later request with `answer`, sent as it is, frame or not. One that `stopsReading` takes
// the CREATE, sends `answer` 64 times ahead and never reads again.
class HostileDriver {
 public:
  explicit HostileDriver(Bytes answer, bool stopsReading = false)
      : answer_(std::move(answer)), stopsReading_(stopsReading) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~HostileDriver() {
    stopping_ = true;
    thread_.join();
    for (int fd : streams_)
      close(fd);
  }

 private:
  void Serve() {
    while (!stopping_) {
      std::vector<pollfd> polled = {{listener_.Fd(), POLLIN, 0}};
      for (int fd : reading_)
        polled.push_back({fd, POLLIN, 0});
      if (poll(polled.data(), polled.size(), 20) <= 0) continue;
      if (polled[0].revents != 0) Accept();
      for (std::size_t i = 1; i < polled.size(); ++i) {
        if (polled[i].revents != 0) Answer(polled[i].fd);
      }
    }
  }

  void Accept() {
    const int fd = accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    streams_.push_back(fd);
    if (!TakeRequest(fd)) return;
    const Bytes created = Frame(U32(standin::kStatusOk));
    send(fd, created.data(), created.size(), MSG_NOSIGNAL);
    if (!stopsReading_) {
      reading_.push_back(fd);
      return;
    }
    for (int i = 0; i < 64; ++i)
      send(fd, answer_.data(), answer_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }

  void Answer(int fd) {
    if (TakeRequest(fd)) send(fd, answer_.data(), answer_.size(), MSG_NOSIGNAL);
  }

  static bool TakeRequest(int fd) {
    uint8_t header[4];
    if (recv(fd, header, 4, MSG_WAITALL) != 4) return false;
    Bytes body(standin::GetU32(header));
    return recv(fd, body.data(), body.size(), MSG_WAITALL) == static_cast<ssize_t>(body.size());
  }

  Bytes answer_;
  bool stopsReading_;
  RegistryListener listener_;
  std::vector<int> streams_;
  std::vector<int> reading_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Runs `call` on a thread of its own and gives its result, or nothing should it not end within
// `limit` (the call is left to its thread then, so that the test fails instead of hanging).
template <typename Call>
std::optional<int32_t> EndsWithin(seconds limit, Call call) {
  auto result = std::make_shared<std::promise<int32_t>>();
  std::future<int32_t> ended = result->get_future();
  std::thread([result, call] { result->set_value(call()); }).detach();
  if (ended.wait_for(limit) != std::future_status::ready) return std::nullopt;
  return ended.get();
}

TEST_F(LibraryTest, ARepliesLengthBeyondTheCallersBufferFailsAtOnceWithoutReadingIt) {
  // A reply that claims 4 GiB, of which only the status ever comes.
  HostileDriver driver(Concat({U32(0xFFFFFFFF), U32(0)}));
  const int device = UTK_Open();
  ASSERT_GE(device, 0);
  uint8_t descriptor[tarvo::kDeviceDescriptorSize] = {};
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(UTK_GetDeviceDescriptor(device, descriptor), 0);
  EXPECT_EQ(UTK_Check(device), 2);  // the device is gone for the library from then on
  EXPECT_LT(Clock::now() - start, milliseconds(tarvo::kReadWaitMs));
  UTK_Close(device);

  ASSERT_EQ(TarvoInit(), LINK_OK);
  char buffer[TARVO_RECEIVE_MAX];
  uint32_t length = 0;
  EXPECT_EQ(TarvoReceive(buffer, &length), LINK_NO_DEVICE);
  EXPECT_EQ(length, static_cast<uint32_t>(TARVO_RECEIVE_MAX));
}

TEST_F(LibraryTest, AWriteReplyWithoutItsCountOrWithMoreThanWasSentFails) {
  for (const Bytes& answer : {Frame(U32(0)),                            // no count
                              Frame(Concat({U32(0), {4, 0}})),          // half a count
                              Frame(Concat({U32(0), U32(5)})),          // one more than sent
                              Frame(Concat({U32(0), U32(4), {0}}))}) {  // a byte too many
    HostileDriver driver(answer);
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_NE(TarvoSend("END\r", 4), LINK_OK) << ::testing::PrintToString(answer);
    TarvoExit();
  }
  // What a sound write reply says passes.
  HostileDriver driver(Frame(Concat({U32(0), U32(4)})));
  ASSERT_EQ(TarvoInit(), LINK_OK);
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_OK);
}

TEST_F(LibraryTest, ADriverThatStopsReadingFailsTheSendInsteadOfHangingIt) {
  HostileDriver driver(Frame(Concat({U32(0), U32(standin::kMaxWriteSize)})), true);
  ASSERT_EQ(TarvoInit(), LINK_OK);
  // The largest sends fill the stream after a few; one that finds no room waits its time and
  // fails.
  const std::optional<int32_t> result = EndsWithin(seconds(30), [] {
    const std::vector<char> message(standin::kMaxWriteSize, 'x');
    for (int round = 0; round < 64; ++round) {
      const int32_t sent = TarvoSend(message.data(), standin::kMaxWriteSize);
      if (sent != LINK_OK) return sent;
    }
    return LINK_OK;
  });
  ASSERT_TRUE(result);
  EXPECT_NE(*result, LINK_OK);
}

TEST_F(LibraryTest, ARequestLargerThanTheDriverTakesFailsUnsentAndTheLinkLivesOn) {
  FakeDriver driver({"instrument"});
  ASSERT_EQ(TarvoInit(), LINK_OK);
  const std::vector<char> message(standin::kMaxWriteSize + 1, 'x');
  EXPECT_EQ(TarvoSend(message.data(), standin::kMaxWriteSize + 1), LINK_IO_FAILED);
  const int device = UTK_Open();
  ASSERT_GE(device, 0);
  const std::vector<uint8_t> input(standin::kMaxControlInputSize + 1);
  EXPECT_FALSE(tarvo::DriverRequest(tarvo::DeviceHandle(device), tarvo::IOCTL_CONTROL_OUT,
                                    input.data(), static_cast<uint32_t>(input.size()), nullptr, 0));
  EXPECT_THAT(driver.EventsOf(Event::Write), ::testing::IsEmpty());
  for (const Event& control : driver.EventsOf(Event::Control))
    EXPECT_NE(control.code, tarvo::IOCTL_CONTROL_OUT);
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_OK);
  UTK_Close(device);
}

}  // namespace
}  // namespace testing_support
