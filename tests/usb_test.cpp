// The library's USB device files through libusb, against kvx-emulator's instrument as USB
// devices that umockdev puts below libusb (kvx-usb-emulator): which devices are listed, the link
// and the toolkit's control transfers byte for byte, devices that go, stall, stay silent, have
// their endpoints the wrong way round or may not be opened, and whole kvx-transfer downloads.
// This program runs with umockdev's preload library below libusb (it starts itself again with it,
// as umockdev-wrapper does), and so do the programs that it starts.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device_access.h"
#include "device_descriptors.h"
#include "device_files.h"
#include "device_table.h"
#include "emulator_process.h"
#include "library_test_support.h"
#include "system_calls.h"

namespace testing_support {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A worked example's CSV text, kept in UTF-8 with LF, as the program writes it: code page 932
// with CR LF.
std::string WrittenCsv(const std::string& example) {
  std::string crlf;
  for (char c : ReadFile(std::string(KVX_SOURCE_DIR) + "/tests/data/" + example)) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  std::string cp932;
  EXPECT_TRUE(kvx::system::Utf8ToCp932(crlf, &cp932)) << example;
  return cp932;
}

class UsbTest : public LibraryTest {
 protected:
  // The devices go last, once the library has let go of them.
  void TearDown() override {
    LibraryTest::TearDown();
    tarvo::usb::Shutdown();  // the next test's devices are in another testbed
    usb_.reset();
    unsetenv("TARVO_USB_IDS");  // NOLINT(concurrency-mt-unsafe): no thread of the test reads it
  }

  // Presents the instrument as USB devices for the rest of the test.
  EmulatorProcess& Devices(const std::vector<std::string>& options) {
    usb_.reset();
    usb_ = EmulatorProcess::Usb(options);
    return *usb_;
  }

  // NOLINTNEXTLINE(concurrency-mt-unsafe): the library reads it on this thread only.
  static void Name(const std::string& ids) { setenv("TARVO_USB_IDS", ids.c_str(), 1); }

  static std::vector<std::string> Listed() {
    std::vector<std::string> paths;
    for (uint32_t i = 0;; ++i) {
      char* path = tarvo::FindDevicePath(tarvo::INTERFACE_GUID, i);
      if (path == nullptr) return paths;
      paths.emplace_back(path);
      std::free(path);
    }
  }

  static std::string Exchange(const std::string& command) {
    EXPECT_EQ(TarvoSend(command.data(), static_cast<uint32_t>(command.size())), LINK_OK);
    return ReceiveReply(5);
  }

  std::unique_ptr<EmulatorProcess> usb_;
};

TEST_F(UsbTest, OnlyNamedDevicesAreListedAfterTheStandinsInterfaces) {
  EmulatorProcess& usb = Devices({"--ids", "1234:0300,1234:0301"});
  struct Case {
    std::string named;
    std::vector<std::string> listed;
    std::vector<std::string> traces;
  };
  const Case cases[] = {
      {"", {}, {}},  // no id named: no USB device is touched
      {"1234:0301", {"usb:1-2"}, {}},
      {"1234:0300, 1234:0301", {"usb:1-1", "usb:1-2"}, {}},
      {"12:34,1234:0300,xyz",
       {"usb:1-1"},
       {"tarvo: TARVO_USB_IDS: \"12:34\" is no vvvv:pppp id: passed over\n",
        "tarvo: TARVO_USB_IDS: \"xyz\" is no vvvv:pppp id: passed over\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    Name(c.named);
    platform_.ClearTimeline();
    EXPECT_EQ(Listed(), c.listed);
    EXPECT_EQ(platform_.Traces(), c.traces);
  }
  // tarvo-link lists what is attached, the named ones marked, and whether they fit the link.
  std::string listing;
  EXPECT_EQ(RunProgram({TARVO_LINK, "--scan-usb"}, {"TARVO_USB_IDS=1234:0301"}, &listing), 0);
  const std::string fits = "interface 0: pipe 0 IN 0x81 bulk, pipe 1 OUT 0x01 bulk (fits the link)";
  EXPECT_EQ(listing, "usb:1-1        1234:0300        " + fits +
                         "\nusb:1-2        1234:0301 named  " + fits + "\n");
  EXPECT_THAT(usb.Log(), IsEmpty()) << "listing touched a device";

  // The stand-in's interfaces come first, then the USB devices.
  EmulatorProcess standin({});
  Name("1234:0301");
  EXPECT_THAT(Listed(), ElementsAre(standin.InterfacePath(), "usb:1-2"));
}

TEST_F(UsbTest, TheLinkAndTheToolkitSpeakUsbAsTheRequestCodeTableSays) {
  EmulatorProcess& usb = Devices({"--kind", "2"});
  Name("1234:0300");
  ASSERT_EQ(TarvoInit(), LINK_OK);
  EXPECT_EQ(Exchange("STATUS2\r"), "STATUS2\r001T000100\r");
  const int device = UTK_Open();
  ASSERT_GE(device, 0);

  // Class and vendor requests to each recipient, out and in: the setup packet and the data that
  // goes out, byte for byte.
  int n = 0;
  for (bool vendor : {false, true}) {
    for (int recipient = 0; recipient < 4; ++recipient) {
      for (int in : {0, 1}) {
        uint8_t data[4] = {static_cast<uint8_t>(n), 0xA5, 0x00, 0xFF};
        EXPECT_EQ((vendor ? UTK_VendorRequest : UTK_ClassRequest)(
                      device, in, recipient, 0x40 + n, 0x1200 + n, 0x3400 + n, sizeof data, data),
                  1);
        char setup[48];
        (void)std::snprintf(setup, sizeof setup, "control %02x %02x %02x 12 %02x 34 04 00",
                            (in != 0 ? 0x80 : 0) | (vendor ? 0x40 : 0x20) | recipient, 0x40 + n, n,
                            n);
        char sent[24];
        (void)std::snprintf(sent, sizeof sent, " data %02x a5 00 ff", n);
        const std::string line = std::string(setup) + (in != 0 ? "" : sent);
        EXPECT_TRUE(usb.WaitForLogLine(line)) << line;
        ++n;
      }
    }
  }
  EXPECT_EQ(UTK_VendorRequest(device, 0, 4, 1, 0, 0, 0, nullptr), 0);  // no such recipient

  uint8_t descriptor[18] = {};
  EXPECT_EQ(UTK_GetDeviceDescriptor(device, descriptor), 1);
  EXPECT_EQ(std::vector<uint8_t>(descriptor, descriptor + 18), emulator::DeviceDescriptor());
  uint8_t configuration[64] = {};
  EXPECT_EQ(UTK_GetConfigurationDescriptor(device, configuration, sizeof configuration), 1);
  EXPECT_EQ(std::vector<uint8_t>(configuration, configuration + 32),
            emulator::ConfigurationDescriptor());
  EXPECT_EQ(UTK_Check(device), 0);
  for (const char* line : {"control 80 06 00 01 00 00 12 00", "control 80 06 00 02 00 00 40 00",
                           "control 80 00 00 00 00 00 02 00"}) {
    EXPECT_TRUE(usb.WaitForLogLine(line)) << line;
  }

  // The link holds its pipes; once it is closed, they are the toolkit's. There is no third.
  EXPECT_EQ(UTK_OpenPipe(device, 0, 0), TARVO_INVALID_HANDLE);
  TarvoExit();
  const TARVO_HANDLE receive = UTK_OpenPipe(device, 0, 0);
  ASSERT_NE(receive, TARVO_INVALID_HANDLE);
  EXPECT_EQ(UTK_ResetPipe(receive), 1);
  EXPECT_EQ(UTK_OpenPipe(device, 0, 2), TARVO_INVALID_HANDLE);
  EXPECT_EQ(UTK_ResetDevice(device), 1);
  EXPECT_TRUE(usb.WaitForLogLine("clear halt 81"));
  EXPECT_TRUE(usb.WaitForLogLine("port reset"));
  tarvo::Platform().close_handle(receive);
}

TEST_F(UsbTest, ADeviceThatGoesStallsOrStaysSilentFailsAsTheLinkSays) {
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> commands;  // after "END\r", each sent and received in turn
    int32_t lastSent;                   // the last one's send
    std::string lastReceived;           // and its receive
  };
  const Case cases[] = {
      // Unplugged after the command, as the command comes, and in the middle of the blocks.
      {{"--drop-at-reply", "STATUS2"}, {"STATUS2\r"}, LINK_OK, "(failed -8)"},
      {{"--drop-at-command", "STATUS2"}, {"STATUS2\r"}, LINK_NO_DEVICE, ""},
      {{"--drop-at-block", "2", "--block-bytes", "1"}, {"N\r", "NEXT\r"}, LINK_OK, "(failed -8)"},
      // The OUT pipe stalled, the device still answering.
      {{"--fail-writes-from", "STATUS2"}, {"STATUS2\r"}, LINK_IO_FAILED, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0]);
    Devices(c.options);
    Name("1234:0300");
    ASSERT_EQ(TarvoInit(), LINK_OK);
    EXPECT_EQ(Exchange("END\r"), "END\r");
    if (c.commands.size() > 1) {
      EXPECT_EQ(Exchange(c.commands[0]).size(), 5u);  // a block of one byte
    }
    const std::string& last = c.commands.back();
    EXPECT_EQ(TarvoSend(last.data(), static_cast<uint32_t>(last.size())), c.lastSent);
    if (c.lastSent == LINK_OK) {
      EXPECT_EQ(ReceiveReply(5), c.lastReceived);
    }
    TarvoExit();
    tarvo::usb::Shutdown();
  }
  // The stalled pipe is traced with libusb's words for it.
  const std::vector<std::string> traces = platform_.Traces();
  EXPECT_THAT(traces, ::testing::Contains(HasSubstr("the write failed: Pipe error")));

  // A read that nothing answers gives nothing after its second, and the wait costs next to no
  // processor time (under umockdev a waiting read asks the emulated node again and again: the
  // real kernel lets it sleep).
  Devices({"--silent-from", "END"});
  Name("1234:0300");
  ASSERT_EQ(TarvoInit(), LINK_OK);
  ASSERT_EQ(TarvoSend("END\r", 4), LINK_OK);
  rusage before;
  getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  char buffer[TARVO_RECEIVE_MAX];
  uint32_t length = 1;
  EXPECT_EQ(TarvoReceive(buffer, &length), LINK_OK);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  rusage after;
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(length, 0u);
  EXPECT_GE(took.count(), 950);
  EXPECT_LT(took.count(), 3000);
  const auto cpuMs = [](const rusage& usage) {
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
  };
  EXPECT_LT(cpuMs(after) - cpuMs(before), took.count() / 4);
}

TEST_F(UsbTest, ADeviceThatTheLinkCannotUseOrTheUserMayNotOpenIsNotOpened) {
  {
    // Its first endpoint sends and its second receives: the link's pipes cannot be either.
    Devices({"--out-first"});
    Name("1234:0300");
    EXPECT_EQ(TarvoInit(), LINK_NO_DEVICE);
    EXPECT_THAT(platform_.Traces(),
                ::testing::Contains("tarvo: usb:1-1 pipe 0 of interface 0: no such endpoint, or "
                                    "not one the pipe can be (a bulk or interrupt IN endpoint)\n"));
    tarvo::usb::Shutdown();
  }
  // A device node that only root may open, tried by another user.
  Devices({"--without-permission"});
  std::vector<std::string> command = {TARVO_LINK};
  if (geteuid() == 0) {
    command.insert(command.begin(),
                   {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  }
  std::string output;
  const int status = RunProgram(command, {"TARVO_USB_IDS=1234:0300", "TARVO_TRACE=1"}, &output);
  if (status == 126 || status == 127) GTEST_SKIP() << "another user cannot run " TARVO_LINK;
  EXPECT_EQ(status, 1);
  EXPECT_THAT(output, HasSubstr("TarvoInit: -8"));
  EXPECT_THAT(output, HasSubstr("tarvo: usb:1-1 (1234:0300): no permission to open it."));
  EXPECT_THAT(output, HasSubstr("udev"));
}

TEST_F(UsbTest, WholeDownloadsOverUsbGiveTheWorkedExamplesFiles) {
  struct Case {
    int kind;
    const char* time;
    const char* expected;
  };
  for (const Case& c : {Case{1, "relative", "worked-example-kind1-relative.csv"},
                        Case{1, "absolute", "worked-example-kind1-absolute.csv"},
                        Case{2, "relative", "worked-example-kind2.csv"},
                        Case{2, "absolute", "worked-example-kind2.csv"}}) {
    SCOPED_TRACE(std::to_string(c.kind) + " " + c.time);
    const std::string capture = std::string(KVX_SOURCE_DIR) + "/tests/data/worked-example-kind" +
                                std::to_string(c.kind) + ".capture";
    const std::string folder =
        Devices({"--kind", std::to_string(c.kind), "--capture", capture}).Root() + "/save";
    std::filesystem::create_directories(folder + "/tmp");
    // Kind 2's worked example is the second file of its folder.
    std::filesystem::create_directories(folder + "/QM-DATA");
    if (c.kind == 2) std::ofstream(folder + "/QM-DATA/QM-0001.csv") << "earlier\n";
    std::string output;
    EXPECT_EQ(RunProgram({KVX_TRANSFER, "--folder", folder, "--time", c.time},
                         {"TARVO_USB_IDS=1234:0300", "TMPDIR=" + folder + "/tmp"}, &output),
              0)
        << output;
    EXPECT_EQ(ReadFile(folder + "/QM-DATA/QM-000" + std::to_string(c.kind) + ".csv"),
              WrittenCsv(c.expected));
    EXPECT_THAT(std::filesystem::is_empty(folder + "/tmp"), true) << "a capture file was left";
  }
  {
    // The device unplugged in the middle of the blocks: a lost instrument, nothing left.
    const std::string folder =
        Devices({"--drop-at-block", "3", "--block-bytes", "10"}).Root() + "/save";
    std::filesystem::create_directories(folder + "/tmp");
    std::string output;
    EXPECT_EQ(RunProgram({KVX_TRANSFER, "--folder", folder},
                         {"TARVO_USB_IDS=1234:0300", "TMPDIR=" + folder + "/tmp"}, &output),
              4)
        << output;
    EXPECT_THAT(output, HasSubstr("計測器と通信できません。"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/QM-DATA"));
    EXPECT_TRUE(std::filesystem::is_empty(folder + "/tmp"));
  }
}

}  // namespace
}  // namespace testing_support

// Starts the program again with umockdev's preload library, unless it has it. A sanitizer's
// runtime would otherwise insist on coming first among the libraries.
int main(int argc, char** argv) {
  const char* preload = std::getenv("LD_PRELOAD");  // NOLINT(concurrency-mt-unsafe): no thread yet
  if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
    setenv("LD_PRELOAD", "libumockdev-preload.so.0", 1);  // NOLINT(concurrency-mt-unsafe)
    const char* asan = std::getenv("ASAN_OPTIONS");       // NOLINT(concurrency-mt-unsafe)
    const std::string options =
        (asan != nullptr ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    execv("/proc/self/exe", argv);
    std::perror("usb-tests: cannot start again with umockdev's preload library");
    return 1;
  }
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
