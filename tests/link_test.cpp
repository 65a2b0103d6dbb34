// Moving messages over the link, judging failed transfers, and resetting the device.
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "device_access.h"
#include "driver_requests.h"
#include "library_test_support.h"
#include "link.h"
#include "registry_listener.h"
#include "standin_wire.h"

namespace testing_support {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::string_view kWriteFailed = "WriteFile() state==0 \x88\xd9\x8f\xed\x8f\x49\x97\xb9\n";
constexpr std::string_view kReadFailed = "ReadFile() state==0 \x88\xd9\x8f\xed\x8f\x49\x97\xb9\n";
constexpr uint32_t kDeviceNotConnected = 1167;

class LinkTest : public LibraryTest {
 protected:
  // Starts the link on a driver with one instrument.
  void StartLink() { ASSERT_EQ(TarvoInit(), LINK_OK); }

  int32_t Receive(std::string* text, uint32_t* length) {
    char buffer[TARVO_RECEIVE_MAX + 16];
    std::memset(buffer, '#', sizeof buffer);
    const int32_t result = TarvoReceive(buffer, length);
    if (result == LINK_OK) text->assign(buffer, *length);
    // Nothing is ever written past the 512 bytes the caller provides.
    EXPECT_EQ(std::string(buffer + TARVO_RECEIVE_MAX, 16), std::string(16, '#'));
    return result;
  }

  FakeDriver driver_{{"instrument"}};
};

TEST_F(LinkTest, TheTraceLinesAreTheirCodePage932Bytes) {
  // 異常終了 is 88 D9 8F ED 8F 49 97 B9 in code page 932.
  EXPECT_EQ(std::string(tarvo::kTraceWriteFailed), kWriteFailed);
  EXPECT_EQ(std::string(tarvo::kTraceReadFailed), kReadFailed);
  EXPECT_EQ(std::string(tarvo::kTraceResetEntry), "Entry TarvoReset()\n");
  EXPECT_EQ(std::string(tarvo::kTraceResetExit), "Exit TarvoReset()\n");
}

TEST_F(LinkTest, SendWritesTheMessageAsOneTransferOnTheSendPipe) {
  StartLink();
  const std::string longMessage(700, 'x');

  EXPECT_EQ(TarvoSend("END\r", 4), LINK_OK);
  EXPECT_EQ(TarvoSend(longMessage.data(), 700), LINK_OK);

  const std::vector<Event> writes = driver_.EventsOf(Event::Write);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].fileName, "if000pipe001");
  EXPECT_EQ(writes[0].data, ToBytes("END\r"));
  EXPECT_EQ(writes[1].data, ToBytes(longMessage));
  EXPECT_THAT(platform_.Traces(), IsEmpty());
}

TEST_F(LinkTest, SendSucceedsWhenTheDriverTakesFewerBytes) {
  StartLink();
  driver_.AnswerWrites(Reply::Written(1));
  EXPECT_EQ(TarvoSend("STATUS\r", 7), LINK_OK);
}

TEST_F(LinkTest, ReceiveGivesOneReadOfTheReceivePipeAsItCame) {
  StartLink();
  driver_.QueueRead("STATUS2\r006T000100\r");
  driver_.QueueRead("");
  driver_.QueueRead(std::string(512, '7'));

  std::string text;
  uint32_t length = 0;
  EXPECT_EQ(Receive(&text, &length), LINK_OK);
  EXPECT_EQ(text, "STATUS2\r006T000100\r");
  EXPECT_EQ(length, 19u);
  // A read that completes with nothing: success with length 0.
  EXPECT_EQ(Receive(&text, &length), LINK_OK);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(Receive(&text, &length), LINK_OK);
  EXPECT_EQ(length, 512u);

  const std::vector<Event> reads = driver_.EventsOf(Event::Read);
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[0].fileName, "if000pipe000");
  EXPECT_EQ(reads[0].size, 512u);
}

TEST_F(LinkTest, TransfersOnAClosedLinkGiveNotOpenWithTheirTraceLines) {
  char buffer[TARVO_RECEIVE_MAX];
  uint32_t length = 0;
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_NOT_OPEN);
  EXPECT_EQ(TarvoReceive(buffer, &length), LINK_NOT_OPEN);
  EXPECT_EQ(length, 512u);

  StartLink();
  TarvoExit();
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_NOT_OPEN);
  EXPECT_EQ(TarvoReceive(buffer, &length), LINK_NOT_OPEN);
  EXPECT_EQ(length, 512u);

  EXPECT_THAT(platform_.Traces(),
              ElementsAre(kWriteFailed, kReadFailed, kWriteFailed, kReadFailed));
}

TEST_F(LinkTest, AFailedTransferIsJudgedByTheProbe) {
  StartLink();
  driver_.AnswerWrites(Reply::Failure(31));
  driver_.QueueRead(Reply::Failure(31));
  driver_.QueueRead(Reply::Failure(31));
  std::string text;
  uint32_t length = 0;

  // The device still answers the probe: the transfer itself failed.
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_IO_FAILED);
  EXPECT_EQ(Receive(&text, &length), LINK_IO_FAILED);
  EXPECT_EQ(length, 512u);

  // The device does not answer the probe any more.
  driver_.AnswerControl(tarvo::IOCTL_PROBE, Reply::Failure(kDeviceNotConnected));
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_NO_DEVICE);
  EXPECT_EQ(Receive(&text, &length), LINK_NO_DEVICE);
  EXPECT_EQ(length, 512u);

  EXPECT_THAT(platform_.Traces(),
              ElementsAre(kWriteFailed, kReadFailed, kWriteFailed, kReadFailed));
  // The trace line is written before the device is probed.
  const std::vector<std::string> timeline = platform_.Timeline();
  ASSERT_GE(timeline.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(timeline.end() - 3, timeline.end()),
              ElementsAre("read if000pipe000", "trace " + std::string(kReadFailed),
                          "control 0x220018 device"));
  const std::vector<Event> probes = driver_.EventsOf(Event::Control);
  ASSERT_EQ(probes.size(), 4u);
  for (const Event& probe : probes) {
    EXPECT_EQ(probe.code, 0x220018u);
    EXPECT_EQ(probe.fileName, "");  // sent on the device, not on a pipe
    EXPECT_EQ(probe.size, 1024u);
    EXPECT_THAT(probe.data, IsEmpty());
  }
}

TEST_F(LinkTest, AnUnpluggedInstrumentFailsEveryTransferFromThenOn) {
  StartLink();
  driver_.DropAllStreams();
  std::string text;
  uint32_t length = 0;

  EXPECT_EQ(Receive(&text, &length), LINK_NO_DEVICE);
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_NO_DEVICE);
  EXPECT_EQ(Receive(&text, &length), LINK_NO_DEVICE);
  // The library never closes the link by itself.
  EXPECT_TRUE(tarvo::IsDeviceOpen(0));
}

TEST_F(LinkTest, AReadLongerThanAskedFailsWithoutOverrunningTheBuffer) {
  StartLink();
  driver_.QueueRead(std::string(600, 'x'));
  std::string text;
  uint32_t length = 0;

  EXPECT_EQ(Receive(&text, &length), LINK_IO_FAILED);
  EXPECT_EQ(length, 512u);
  // The receive pipe is out of step with the driver: it stays failed.
  driver_.QueueRead("END\r");
  EXPECT_EQ(Receive(&text, &length), LINK_IO_FAILED);
}

TEST_F(LinkTest, ResetRestartsTheLinkAfterItsPause) {
  StartLink();
  platform_.ClearTimeline();

  EXPECT_EQ(TarvoReset(), LINK_OK);

  EXPECT_THAT(
      platform_.Timeline(),
      ElementsAre("trace Entry TarvoReset()\n", "control 0x220004 device", "close if000pipe000",
                  "close if000pipe001", "close device", "pause 5000", "open device",
                  "open if000pipe000", "open if000pipe001", "trace Exit TarvoReset()\n"));
  const std::vector<Event> controls = driver_.EventsOf(Event::Control);
  ASSERT_EQ(controls.size(), 1u);
  EXPECT_EQ(controls[0].code, 0x220004u);
  EXPECT_EQ(controls[0].fileName, "");
  EXPECT_EQ(controls[0].size, 0u);
  EXPECT_THAT(controls[0].data, IsEmpty());
  ASSERT_TRUE(ClosedAtLeast(driver_, 3));
  EXPECT_EQ(CountOf(driver_.Events(), Event::Open), 6);
  EXPECT_EQ(driver_.OpenFiles(), 3);
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_OK);
}

TEST_F(LinkTest, AFailedResetRequestLeavesTheLinkAsItWas) {
  StartLink();
  driver_.AnswerControl(tarvo::IOCTL_RESET_DEVICE, Reply::Failure(31));

  EXPECT_EQ(TarvoReset(), LINK_RESET_FAILED);

  EXPECT_THAT(platform_.Traces(), ElementsAre("Entry TarvoReset()\n"));
  EXPECT_THAT(platform_.Pauses(), IsEmpty());
  EXPECT_EQ(CountOf(driver_.Events(), Event::Close), 0);
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_OK);
}

TEST_F(LinkTest, ResetWithoutALinkFailsWithoutARequest) {
  EXPECT_EQ(TarvoReset(), LINK_RESET_FAILED);

  EXPECT_THAT(platform_.Traces(), ElementsAre("Entry TarvoReset()\n"));
  EXPECT_THAT(driver_.Events(), IsEmpty());
}

TEST_F(LinkTest, AResetWhoseRestartFailsEndsWithTheLinkClosed) {
  StartLink();
  driver_.RefuseOpen("instrument", "");

  EXPECT_EQ(TarvoReset(), LINK_NO_DEVICE);

  EXPECT_THAT(platform_.Traces(), ElementsAre("Entry TarvoReset()\n", "Exit TarvoReset()\n"));
  EXPECT_TRUE(AllSlotsFree());
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_NOT_OPEN);
}

TEST_F(LinkTest, AReadThatNothingAnswersEndsEmptyAfterItsWaitAndLosesNothing) {
  StartLink();
  std::string text;
  uint32_t length = 99;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Receive(&text, &length), LINK_OK);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(length, 0u);
  EXPECT_GE(waited, std::chrono::milliseconds(tarvo::kReadWaitMs - 50));
  EXPECT_LT(waited, std::chrono::milliseconds(tarvo::kReadWaitMs + 1500));

  // What comes after the cancelled read is there for the next one.
  driver_.QueueRead("END\r");
  EXPECT_EQ(Receive(&text, &length), LINK_OK);
  EXPECT_EQ(text, "END\r");
  EXPECT_EQ(TarvoSend("STATUS2\r", 8), LINK_OK);
}

// A driver that takes every file and then never answers anything: not a read, not its cancel,
// not a write, not the probe.
class MuteDriver {
 public:
  MuteDriver() {
    thread_ = std::thread([this] { Serve(); });
  }
  ~MuteDriver() {
    stopping_ = true;
    thread_.join();
    for (int fd : streams_)
      close(fd);
  }

 private:
  // Each stream's first request is its CREATE, which is answered; nothing after it is.
  void Serve() {
    while (!stopping_) {
      pollfd polled = {listener_.Fd(), POLLIN, 0};
      if (poll(&polled, 1, 20) != 1) continue;
      const int fd = accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
      uint8_t header[4];
      if (fd < 0 || recv(fd, header, 4, MSG_WAITALL) != 4) continue;
      std::vector<uint8_t> body(standin::GetU32(header));
      recv(fd, body.data(), body.size(), MSG_WAITALL);
      const uint8_t reply[8] = {4, 0, 0, 0, 0, 0, 0, 0};  // status 0
      send(fd, reply, sizeof reply, MSG_NOSIGNAL);
      streams_.push_back(fd);
    }
  }

  RegistryListener listener_;
  std::vector<int> streams_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

TEST_F(LibraryTest, ADriverThatNeverAnswersFailsTheTransferInsteadOfHangingIt) {
  MuteDriver driver;
  ASSERT_EQ(TarvoInit(), LINK_OK);
  // The read, its cancel and the probe each wait their time, and no more. Should they wait for
  // ever, the test fails after a while rather than hang (the calls are left to their thread).
  auto results = std::make_shared<std::promise<std::pair<int32_t, int32_t>>>();
  std::future<std::pair<int32_t, int32_t>> ended = results->get_future();
  std::thread([results] {
    char buffer[TARVO_RECEIVE_MAX];
    uint32_t length = 0;
    const int32_t received = TarvoReceive(buffer, &length);
    results->set_value({received, TarvoSend("END\r", 4)});
  }).detach();
  ASSERT_EQ(ended.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(ended.get(), std::make_pair(LINK_NO_DEVICE, LINK_NO_DEVICE));
}

}  // namespace
}  // namespace testing_support
