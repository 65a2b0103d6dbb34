// The library against kvx-emulator, a separate process: discovery finds it, a transfer's whole
// dialogue round-trips, and every fault it can play shows up as the library reports it.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "dataset.h"
#include "emulator_process.h"
#include "instrument.h"
#include "library_test_support.h"
#include "platform.h"

namespace testing_support {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const char kIdentificationKind1[] = "STATUS2\r006T000100\r";
const char kIdentificationKind2[] = "STATUS2\r001T000100\r";

class EmulatorTest : public LibraryTest {
 protected:
  // Sends a command and receives its reply, as the program does (asking again while nothing
  // has arrived, and counting how often).
  std::string Exchange(const std::string& command) {
    EXPECT_EQ(TarvoSend(command.data(), static_cast<uint32_t>(command.size())), LINK_OK) << command;
    return Receive();
  }

  std::string Receive() {
    for (int attempt = 0; attempt < 100; ++attempt) {
      char buffer[TARVO_RECEIVE_MAX];
      uint32_t length = 0;
      const int32_t result = TarvoReceive(buffer, &length);
      if (result != LINK_OK) return "(failed " + std::to_string(result) + ")";
      if (length > 0) return std::string(buffer, length);
      ++emptyReceives_;
    }
    return "(nothing)";
  }

  // One receive, as it comes.
  struct Received {
    int32_t result;
    std::string bytes;
    milliseconds took;
  };
  static Received ReceiveOnce() {
    char buffer[TARVO_RECEIVE_MAX];
    uint32_t length = 0;
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = TarvoReceive(buffer, &length);
    const auto took =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    return {result, std::string(buffer, result == LINK_OK ? length : 0), took};
  }

  // A receive that found nothing after waiting its full time for the device.
  static void ExpectNothingAfterTheWait(const Received& received) {
    EXPECT_EQ(received.result, LINK_OK);
    EXPECT_EQ(received.bytes, "");
    EXPECT_GE(received.took, milliseconds(tarvo::kReadWaitMs - 50));
    EXPECT_LT(received.took, milliseconds(tarvo::kReadWaitMs + 2000));
  }

  static void Send(const char* command) {
    EXPECT_EQ(TarvoSend(command, static_cast<uint32_t>(std::strlen(command))), LINK_OK) << command;
  }

  // The handshake up to the first block.
  std::string StartData() {
    EXPECT_EQ(Exchange("END\r"), "END\r");
    Exchange("STATUS2\r");
    EXPECT_EQ(Exchange("STATUS\r"), "STATUS\r00000000\r");
    EXPECT_EQ(Exchange("TRANS\r"), "TRANS\r");
    return Exchange("N\r");
  }

  // A capture file of these hexadecimal digits, removed with the test.
  std::string CaptureFile(const std::string& digits) {
    char pattern[] = "/tmp/kvx-capture-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    capturePaths_.push_back(pattern);
    std::ofstream(pattern) << digits;
    return pattern;
  }

  ~EmulatorTest() override {
    for (const std::string& path : capturePaths_)
      (void)std::remove(path.c_str());
  }

  int emptyReceives_ = 0;
  std::vector<std::string> capturePaths_;
};

// The sum of a block's data bytes and its checksum byte ends in 00.
bool ChecksumIsGood(const std::string& block) {
  const std::string digits = block.substr(0, block.size() - 1);  // without the final character
  int sum = 0;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    sum += std::stoi(digits.substr(i, 2), nullptr, 16);
  }
  return sum % 256 == 0;
}

std::string Payload(const std::string& block) {
  return block.substr(0, block.size() - 3);
}

TEST_F(EmulatorTest, AWholeTransferRoundTripsAndTheLogHoldsItsDialogue) {
  const std::string capture =
      "0102FD"
      "00EB7FFF8001"
      "FF9C";  // 11 bytes: blocks of 4, 4, 3
  EmulatorProcess emulator({"--capture", CaptureFile(capture), "--block-bytes", "4"});
  ASSERT_EQ(TarvoInit(), LINK_OK);

  EXPECT_EQ(Exchange("END\r"), "END\r");
  EXPECT_EQ(Exchange("STATUS2\r"), kIdentificationKind1);
  EXPECT_EQ(Exchange("STATUS\r"), "STATUS\r00000000\r");
  EXPECT_EQ(Exchange("TRANS\r"), "TRANS\r");
  std::string received;
  std::string block = Exchange("N\r");
  for (int blocks = 0; block != "YYY\r" && blocks < 10; ++blocks) {
    EXPECT_TRUE(ChecksumIsGood(block)) << block;
    EXPECT_EQ(block.back(), '\r');
    received += Payload(block);
    block = Exchange("NEXT\r");
  }
  EXPECT_EQ(received, capture);
  TarvoExit();

  ASSERT_TRUE(emulator.WaitForLogLine("link closed"));
  EXPECT_THAT(
      emulator.Log(),
      ElementsAre("link opened", "command \"END\\r\"", "reply \"END\\r\"", "command \"STATUS2\\r\"",
                  "reply \"STATUS2\\r006T000100\\r\"", "command \"STATUS\\r\"",
                  "reply \"STATUS\\r00000000\\r\"", "command \"TRANS\\r\"", "reply \"TRANS\\r\"",
                  "command \"N\\r\"", "reply block 1 of 3 \"0102FD0000\\r\"", "command \"NEXT\\r\"",
                  "reply block 2 of 3 \"EB7FFF8017\\r\"", "command \"NEXT\\r\"",
                  "reply block 3 of 3 \"01FF9C64\\r\"", "command \"NEXT\\r\"", "reply \"YYY\\r\"",
                  "link closed"));
}

TEST_F(EmulatorTest, TheBuiltInDayComesInFullBlocksForBothKinds) {
  for (int kind : {1, 2}) {
    EmulatorProcess emulator({"--kind", std::to_string(kind)});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange("END\r"), "END\r");
    EXPECT_EQ(Exchange("STATUS2\r"), kind == 1 ? kIdentificationKind1 : kIdentificationKind2);
    EXPECT_EQ(Exchange("STATUS\r"), "STATUS\r00000000\r");
    EXPECT_EQ(Exchange("TRANS\r"), "TRANS\r");
    std::string received;
    for (std::string block = Exchange("N\r"); block != "YYY\r"; block = Exchange("NEXT\r")) {
      ASSERT_LE(block.size(), 243u);
      ASSERT_TRUE(ChecksumIsGood(block));
      received += Payload(block);
    }
    EXPECT_EQ(received, emulator::BuiltInCapture(kind));
    TarvoExit();
  }
  // A day at 10-minute intervals, a freezer every 500 ms, a room without times.
  EXPECT_EQ(emulator::BuiltInCapture(1).size(), 3 * 60 + (144 + 40 + 12) * 4u);
  EXPECT_EQ(emulator::BuiltInCapture(2).size(), 3 * 60 + (144 + 40 + 12) * 12u);
}

TEST_F(EmulatorTest, AgainResendsAndTransfersFollowOneAnother) {
  EmulatorProcess emulator({"--capture", CaptureFile("0102030405060708"), "--block-bytes", "2"});
  ASSERT_EQ(TarvoInit(), LINK_OK);
  const std::string first = StartData();
  EXPECT_EQ(Exchange("AGAIN\r"), first);
  const std::string second = Exchange("NEXT\r");
  EXPECT_EQ(Exchange("AGAIN\r"), second);
  // "END\r" in the data phase ends the transfer: "NEXT\r" is not understood any more.
  EXPECT_EQ(Exchange("END\r"), "END\r");
  EXPECT_EQ(Exchange("NEXT\r"), "? E\r");
  TarvoExit();

  // The next transfer starts from the first block again.
  ASSERT_EQ(TarvoInit(), LINK_OK);
  EXPECT_EQ(StartData(), first);
  TarvoExit();
}

TEST_F(EmulatorTest, HandshakeFaults) {
  {
    EmulatorProcess emulator({"--first-end-error"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange("END\r"), "? E\r");
    EXPECT_EQ(Exchange("END\r"), "END\r");
    TarvoExit();
    ASSERT_EQ(TarvoInit(), LINK_OK);  // a new transfer: its first "END\r" again
    EXPECT_EQ(Exchange("END\r"), "? E\r");
    TarvoExit();
  }
  for (const char* refusal : {"TRANS=? T", "N=YYY", "STATUS=? S"}) {
    EmulatorProcess emulator({"--refuse", refusal});
    const std::string command = std::string(refusal).substr(0, std::string(refusal).find('='));
    const std::string reply = std::string(refusal).substr(command.size() + 1) + "\r";
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange(command + "\r"), reply) << refusal;
    TarvoExit();
  }
  for (const char* identification : {"STATUS2\\r000T000100\\r", "STATUS2\\r006T000100"}) {
    EmulatorProcess emulator({"--identification", identification});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    std::string expected;
    ASSERT_TRUE(emulator::Unescape(identification, &expected));
    EXPECT_EQ(Exchange("STATUS2\r"), expected);
    TarvoExit();
  }
}

TEST_F(EmulatorTest, EmptyReadsComeBeforeEachReply) {
  EmulatorProcess emulator({"--empty-reads", "2"});
  ASSERT_EQ(TarvoInit(), LINK_OK);
  EXPECT_EQ(Exchange("END\r"), "END\r");
  EXPECT_EQ(emptyReceives_, 2);
  EXPECT_EQ(Exchange("STATUS2\r"), kIdentificationKind1);
  EXPECT_EQ(emptyReceives_, 4);
  TarvoExit();
}

TEST_F(EmulatorTest, BlockFaults) {
  const std::string capture(480, 'A');  // two blocks of 120 bytes
  {
    EmulatorProcess emulator(
        {"--capture", CaptureFile(capture), "--corrupt", "1", "--corrupt-always", "2"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_FALSE(ChecksumIsGood(StartData()));
    EXPECT_TRUE(ChecksumIsGood(Exchange("AGAIN\r")));
    EXPECT_FALSE(ChecksumIsGood(Exchange("NEXT\r")));
    EXPECT_FALSE(ChecksumIsGood(Exchange("AGAIN\r")));
    TarvoExit();
  }
  {
    EmulatorProcess emulator(
        {"--capture", CaptureFile(capture), "--cut-block", "1:20", "--long-block", "2"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(StartData().size(), 20u);
    EXPECT_EQ(Exchange("AGAIN\r").size(), 243u);
    const std::string longBlock = Exchange("NEXT\r");
    EXPECT_EQ(longBlock.size(), 245u);
    EXPECT_TRUE(ChecksumIsGood(longBlock.substr(0, 243)));
    EXPECT_EQ(Exchange("AGAIN\r").size(), 243u);
    TarvoExit();
  }
  {
    EmulatorProcess emulator({"--capture", CaptureFile(capture), "--cut-block", "1"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(StartData().size(), 121u);  // half of 243
    TarvoExit();
  }
  {
    // A text of its own instead of the block, characters after its carriage return included.
    EmulatorProcess emulator({"--capture",
                              CaptureFile(std::string(240, 'A') + std::string(240, 'B')),
                              "--block-text", "2=GGGG00\\rA\\x01"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    const std::string first = StartData();
    EXPECT_EQ(first.size(), 243u);
    EXPECT_EQ(Exchange("NEXT\r"), "GGGG00\rA\x01");
    const std::string again = Exchange("AGAIN\r");
    EXPECT_EQ(again.size(), 243u);
    EXPECT_TRUE(ChecksumIsGood(again));
    EXPECT_NE(again, first);
    EXPECT_EQ(Exchange("AGAIN\r"), again);
    EXPECT_TRUE(emulator.WaitForLogLine("reply block 2 of 2 replaced by \"GGGG00\\rA\\x01\""));
    TarvoExit();
  }
}

TEST_F(EmulatorTest, AnswerFaultsLastFromTheirCommandOn) {
  {
    // Silent from "STATUS2\r": each command is taken, and a receive finds nothing in its time.
    EmulatorProcess emulator({"--silent-from", "STATUS2"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange("END\r"), "END\r");
    for (const char* command : {"STATUS2\r", "END\r"}) {
      Send(command);
      ExpectNothingAfterTheWait(ReceiveOnce());
    }
    TarvoExit();
    ASSERT_TRUE(emulator.WaitForLogLine("link closed"));
    EXPECT_THAT(emulator.Log(),
                ElementsAre("link opened", "command \"END\\r\"", "reply \"END\\r\"",
                            "command \"STATUS2\\r\"", "reply: none (silent)",
                            "read cancelled: nothing yet", "command \"END\\r\"",
                            "reply: none (silent)", "read cancelled: nothing yet", "link closed"));
  }
  {
    // Empty reads from the second "END\r": every receive finds nothing at once.
    EmulatorProcess emulator({"--empty-reads-from", "END:2"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange("END\r"), "END\r");
    for (const char* command : {"END\r", "STATUS2\r"}) {
      Send(command);
      for (int read = 0; read < 3; ++read) {
        const Received nothing = ReceiveOnce();
        EXPECT_EQ(nothing.result, LINK_OK);
        EXPECT_EQ(nothing.bytes, "");
        EXPECT_LT(nothing.took, milliseconds(tarvo::kReadWaitMs / 2)) << command;
      }
    }
    TarvoExit();
  }
  {
    EmulatorProcess emulator({"--unknown-replies-from", "STATUS"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange("END\r"), "END\r");
    EXPECT_EQ(Exchange("STATUS2\r"), kIdentificationKind1);
    for (const char* command : {"STATUS\r", "TRANS\r", "END\r"}) {
      EXPECT_EQ(Exchange(command), "???\r") << command;
    }
    TarvoExit();
  }
  {
    // Late from "STATUS2\r" on: a receive meanwhile finds nothing in its time, and the replies
    // to two commands sent one after the other come in order, neither given up for the other.
    EmulatorProcess emulator({"--reply-delay", "1200:STATUS2", "--kind", "2"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange("END\r"), "END\r");
    Send("STATUS2\r");
    Send("END\r");
    ExpectNothingAfterTheWait(ReceiveOnce());
    EXPECT_EQ(ReceiveOnce().bytes, kIdentificationKind2);
    EXPECT_EQ(ReceiveOnce().bytes, "END\r");
    TarvoExit();
  }
  {
    // Only the first reply of each transfer is late, as from an instrument that wakes up.
    EmulatorProcess emulator({"--first-reply-delay", "1200"});
    for (int transfer = 0; transfer < 2; ++transfer) {
      ASSERT_EQ(TarvoInit(), LINK_OK);
      Send("END\r");
      ExpectNothingAfterTheWait(ReceiveOnce());
      EXPECT_EQ(ReceiveOnce().bytes, "END\r");
      Send("STATUS2\r");
      const Received next = ReceiveOnce();
      EXPECT_EQ(next.bytes, kIdentificationKind1);
      EXPECT_LT(next.took, milliseconds(tarvo::kReadWaitMs / 2));
      TarvoExit();
    }
  }
}

TEST_F(EmulatorTest, AReadThatNothingAnswersEndsAfterItsWaitAndLosesNothing) {
  EmulatorProcess emulator({});
  ASSERT_EQ(TarvoInit(), LINK_OK);
  ExpectNothingAfterTheWait(ReceiveOnce());
  Send("END\r");
  const Received reply = ReceiveOnce();
  EXPECT_EQ(reply.result, LINK_OK);
  EXPECT_EQ(reply.bytes, "END\r");
  TarvoExit();
}

TEST_F(EmulatorTest, EachPipeOpensForOneFileAtATime) {
  EmulatorProcess emulator({});
  ASSERT_EQ(TarvoInit(), LINK_OK);
  const int device = UTK_Open();  // the device itself opens any number of times
  ASSERT_GE(device, 0);
  EXPECT_EQ(UTK_OpenPipe(device, 0, 0), TARVO_INVALID_HANDLE);
  EXPECT_EQ(UTK_OpenPipe(device, 0, 1), TARVO_INVALID_HANDLE);
  EXPECT_EQ(Exchange("END\r"), "END\r");  // the link keeps its pipes
  TarvoExit();

  const tarvo::Handle receive = UTK_OpenPipe(device, 0, 0);
  const tarvo::Handle send = UTK_OpenPipe(device, 0, 1);
  ASSERT_TRUE(tarvo::IsValid(receive));
  ASSERT_TRUE(tarvo::IsValid(send));
  EXPECT_EQ(TarvoInit(), LINK_NO_DEVICE);
  tarvo::Platform().close_handle(receive);
  EXPECT_EQ(TarvoInit(), LINK_NO_DEVICE);  // the send pipe is still held
  tarvo::Platform().close_handle(send);
  EXPECT_EQ(TarvoInit(), LINK_OK);
  TarvoExit();
  UTK_Close(device);

  const std::vector<std::string> log = emulator.Log();
  EXPECT_EQ(
      std::count(log.begin(), log.end(), "open \"if000pipe000\": refused, the pipe is in use"), 2);
  EXPECT_EQ(
      std::count(log.begin(), log.end(), "open \"if000pipe001\": refused, the pipe is in use"), 3);
}

TEST_F(EmulatorTest, AGoneDeviceFailsWithNoDeviceAndAFailedWriteWithTransferFailed) {
  {
    // The device goes as "STATUS\r" comes: the send fails, and so does the probe.
    EmulatorProcess emulator({"--drop-at-command", "STATUS"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange("END\r"), "END\r");
    EXPECT_EQ(Exchange("STATUS2\r"), kIdentificationKind1);
    EXPECT_EQ(TarvoSend("STATUS\r", 7), LINK_NO_DEVICE);
    EXPECT_EQ(Receive(), "(failed -8)");
    TarvoExit();
    // It is back for the next transfer.
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange("END\r"), "END\r");
    TarvoExit();
  }
  {
    // The device goes after taking the command, before its reply: the receive fails.
    EmulatorProcess emulator({"--drop-at-reply", "END:2"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange("END\r"), "END\r");
    EXPECT_EQ(Exchange("END\r"), "(failed -8)");
    TarvoExit();
  }
  {
    EmulatorProcess emulator({"--drop-at-block", "2", "--block-bytes", "1"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(StartData().size(), 5u);
    EXPECT_EQ(Exchange("NEXT\r"), "(failed -8)");
    EXPECT_TRUE(emulator.WaitForLogLine("device gone instead of the reply (block 2)"));
    TarvoExit();
  }
  {
    // Writes fail from the second "NEXT\r" on, while the device still answers: -9.
    EmulatorProcess emulator({"--fail-writes-from", "NEXT:2", "--block-bytes", "1"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    StartData();
    EXPECT_EQ(Exchange("NEXT\r").size(), 5u);
    EXPECT_EQ(TarvoSend("NEXT\r", 5), LINK_IO_FAILED);
    EXPECT_EQ(TarvoSend("AGAIN\r", 6), LINK_IO_FAILED);
    TarvoExit();
  }
  {
    // The same with a driver that does not answer its probe: -8.
    EmulatorProcess emulator({"--fail-writes-from", "END", "--fail-probe"});
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(TarvoSend("END\r", 4), LINK_NO_DEVICE);
    TarvoExit();
  }
}

TEST_F(EmulatorTest, TheToolkitReachesTheEmulatedDevice) {
  for (bool answering : {true, false}) {
    EmulatorProcess emulator(answering ? std::vector<std::string>{}
                                       : std::vector<std::string>{"--fail-probe"});
    const int device = UTK_Open();
    ASSERT_GE(device, 0);
    EXPECT_EQ(UTK_Check(device), answering ? 0 : 2);
    uint8_t descriptor[18] = {};
    EXPECT_EQ(UTK_GetDeviceDescriptor(device, descriptor), 1);
    EXPECT_EQ(descriptor[0], 18);
    EXPECT_EQ(descriptor[1], 1);
    uint8_t configuration[64] = {};
    EXPECT_EQ(UTK_GetConfigurationDescriptor(device, configuration, sizeof configuration), 1);
    EXPECT_EQ(configuration[1], 2);
    EXPECT_EQ(UTK_VendorRequest(device, 0, 0, 1, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(UTK_ResetDevice(device), 1);
    EXPECT_EQ(UTK_OpenPipe(device, 0, 5), TARVO_INVALID_HANDLE);
    UTK_Close(device);
    EXPECT_TRUE(emulator.WaitForLogLine("control 0x220014 on the device"));
  }
}

TEST(EmulatorOptionsTest, BadOptionsAndCapturesAreRefusedInOneLine) {
  char pattern[] = "/tmp/kvx-capture-XXXXXX";
  const int fd = mkstemp(pattern);
  ASSERT_GE(fd, 0);
  close(fd);
  struct Case {
    std::vector<std::string> options;
    const char* reason;
  };
  std::ofstream(pattern) << "0102G3";
  const Case cases[] = {
      {{"--kind", "3"}, "--kind must be 1 to 2"},
      {{"--block-bytes", "121"}, "--block-bytes must be 1 to 120"},
      {{"--refuse", "TRANS=OK"}, "--refuse needs"},
      {{"--drop-at-command", "HELLO"}, "no command HELLO"},
      {{"--corrupt", "1,x"}, "--corrupt needs a number"},
      {{"--identification", "\\q"}, "a broken escape"},
      {{"--silent-from", "HELLO"}, "--silent-from: no command HELLO"},
      {{"--empty-reads-from", "NEXT:0"}, "--empty-reads-from must be 1 to 999999"},
      {{"--unknown-replies-from", "END:x"}, "--unknown-replies-from needs a number"},
      {{"--reply-delay", "1000:HELLO"}, "--reply-delay: no command HELLO"},
      {{"--first-reply-delay", "600001"}, "--first-reply-delay must be 0 to 600000"},
      {{"--block-text", "2"}, "--block-text needs K=TEXT"},
      {{"--block-text", "2="}, "--block-text needs K=TEXT"},
      {{"--block-text", "0=X"}, "--block-text must be 1 to 999999"},
      {{"--block-text", "1=\\x4"}, "--block-text: a broken escape"},
      {{"--bogus"}, "unknown option --bogus"},
      {{"--capture", "/nonexistent/capture"}, "cannot read the capture file /nonexistent"},
      {{"--capture", pattern}, "(character 5 is not one)"},
  };
  for (const Case& c : cases) {
    std::string errors;
    EXPECT_EQ(RunEmulator(c.options, &errors), 2) << c.reason;
    EXPECT_THAT(errors.substr(0, errors.find('\n')), HasSubstr(c.reason));
  }
  std::ofstream(pattern) << "012";
  std::string errors;
  EXPECT_EQ(RunEmulator({"--capture", pattern}, &errors), 2);
  EXPECT_THAT(errors, HasSubstr("an even number of hexadecimal digits"));
  (void)std::remove(pattern);
}

TEST(EmulatorOptionsTest, StopsOnTerminationAndRemovesItsInterface) {
  EmulatorProcess emulator({});
  EXPECT_EQ(emulator.Stop(), 0);
  EXPECT_FALSE(emulator.InterfacePresent());

  // Started with the stop signals blocked (a child inherits the mask), it stops all the same.
  sigset_t stops;
  sigset_t before;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, &before);
  EmulatorProcess masked({});
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  EXPECT_TRUE(masked.StopsWithin(SIGTERM, std::chrono::seconds(2)));
  EXPECT_FALSE(masked.InterfacePresent());
}

}  // namespace
}  // namespace testing_support
