// The device toolkit: pipes by number, control transfers and their request blocks, descriptors,
// resets, checks, and the device table under calls from several threads.
#include <mutex>
#include <set>
#include <thread>

#include "device_access.h"
#include "driver_requests.h"
#include "library_test_support.h"

namespace testing_support {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class ToolkitTest : public LibraryTest {
 protected:
  void SetUp() override { ASSERT_EQ(device_ = UTK_Open(), 0); }
  void TearDown() override {
    EXPECT_THAT(platform_.Traces(), IsEmpty());  // The toolkit reports through results only.
    LibraryTest::TearDown();
  }

  // The one control request the driver saw since the last call.
  Event TakeControl() {
    std::vector<Event> controls = driver_.EventsOf(Event::Control);
    EXPECT_EQ(controls.size(), seenControls_ + 1);
    seenControls_ = controls.size();
    return controls.empty() ? Event{} : controls.back();
  }

  FakeDriver driver_{{"instrument"}};
  int device_ = -1;
  std::size_t seenControls_ = 0;
};

TEST_F(ToolkitTest, PipeNamesTakeTheLowEightBitsOfEachNumber) {
  const tarvo::Handle pipes[] = {UTK_OpenPipe(device_, 256, 1), UTK_OpenPipe(device_, 0x1FF, 42),
                                 UTK_OpenPipe(device_, -1, 7)};

  EXPECT_THAT(Files(driver_.EventsOf(Event::Open)),
              ElementsAre("instrument:", "instrument:if000pipe001", "instrument:if255pipe042",
                          "instrument:if255pipe007"));
  for (tarvo::Handle pipe : pipes) {
    ASSERT_TRUE(tarvo::IsValid(pipe));
    tarvo::Platform().close_handle(pipe);
  }
}

TEST_F(ToolkitTest, APipeOfADeviceNotOpenIsNotOpenedAtAll) {
  EXPECT_EQ(UTK_OpenPipe(1, 0, 0), TARVO_INVALID_HANDLE);
  EXPECT_EQ(UTK_OpenPipe(-1, 0, 0), TARVO_INVALID_HANDLE);
  EXPECT_EQ(UTK_OpenPipe(128, 0, 0), TARVO_INVALID_HANDLE);
  driver_.RefuseOpen("instrument", "if000pipe003");
  EXPECT_EQ(UTK_OpenPipe(device_, 0, 3), TARVO_INVALID_HANDLE);

  EXPECT_EQ(CountOf(driver_.Events(), Event::Open), 2);
}

TEST_F(ToolkitTest, EachKindAndRecipientHasItsRequestCode) {
  struct Case {
    bool vendor;
    int32_t recipient;
    uint8_t code;
  };
  const Case cases[] = {{false, 0, 0x1A},    {false, 1, 0x1B}, {false, 2, 0x1C},
                        {false, 3, 0x1F},    {true, 0, 0x17},  {true, 1, 0x18},
                        {true, 2, 0x19},     {true, 3, 0x20},  {false, 0x101, 0x1B},
                        {true, 0x7703, 0x20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << (c.vendor ? "vendor" : "class") << " recipient " << c.recipient);
    auto* request = c.vendor ? UTK_VendorRequest : UTK_ClassRequest;
    EXPECT_EQ(request(device_, 0, c.recipient, 1, 0, 0, 0, nullptr), 1);
    const Event control = TakeControl();
    ASSERT_GE(control.data.size(), 2u);
    EXPECT_EQ(control.data[0], c.code);
    EXPECT_EQ(control.data[1], 0);
  }
}

TEST_F(ToolkitTest, ARecipientAboveThreeIsRefusedWithoutARequest) {
  char buffer[8];
  EXPECT_EQ(UTK_ClassRequest(device_, 1, 4, 1, 0, 0, 8, buffer), 0);
  EXPECT_EQ(UTK_VendorRequest(device_, 0, 0xFF, 1, 0, 0, 8, buffer), 0);
  EXPECT_THAT(driver_.EventsOf(Event::Control), IsEmpty());
}

TEST_F(ToolkitTest, AControlInSendsTheSixteenByteBlockAndFillsTheCallersBuffer) {
  driver_.AnswerControl(tarvo::IOCTL_CONTROL_IN, Reply::WithData({0xDE, 0xAD, 0xBE, 0xEF}));
  uint8_t buffer[0x40] = {};

  EXPECT_EQ(UTK_ClassRequest(device_, 1, 2, 0x1A5, 0x12345, 0xABCDE, 0x10040, buffer), 1);

  const Event control = TakeControl();
  EXPECT_EQ(control.code, 0x22000Cu);
  EXPECT_EQ(control.fileName, "");
  EXPECT_EQ(control.size, 0x40u);  // the low 16 bits of the length
  EXPECT_THAT(control.data, ElementsAreArray<uint8_t>({0x1C, 0x00, 0x00, 0x00,  // function
                                                       0x02, 0x00, 0x00, 0x00,  // to the host
                                                       0x00, 0xA5,              // bRequest
                                                       0x45, 0x23,              // wValue
                                                       0xDE, 0xBC,              // wIndex
                                                       0x00, 0x00}));
  EXPECT_THAT(std::vector<uint8_t>(buffer, buffer + 5), ElementsAre(0xDE, 0xAD, 0xBE, 0xEF, 0));
}

TEST_F(ToolkitTest, AControlOutSendsTheBlockFollowedByTheData) {
  uint8_t data[] = {1, 2, 3, 4, 5};

  EXPECT_EQ(UTK_VendorRequest(device_, 0, 1, 0x09, 0x0201, 0x0003, 3, data), 1);

  const Event control = TakeControl();
  EXPECT_EQ(control.code, 0x220010u);
  EXPECT_EQ(control.size, 0u);
  EXPECT_THAT(control.data, ElementsAreArray<uint8_t>({0x18, 0, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x01,
                                                       0x02, 0x03, 0x00, 0, 0, 1, 2, 3}));
}

TEST_F(ToolkitTest, LengthsCountOnlyTheirLowSixteenBits) {
  uint8_t buffer[4] = {};
  EXPECT_EQ(UTK_VendorRequest(device_, 0, 0, 1, 0, 0, 0, nullptr), 1);
  EXPECT_EQ(TakeControl().data.size(), 16u);

  EXPECT_EQ(UTK_VendorRequest(device_, 0, 0, 1, 0, 0, 65536, buffer), 1);
  EXPECT_EQ(TakeControl().data.size(), 16u);

  EXPECT_EQ(UTK_VendorRequest(device_, 1, 0, 1, 0, 0, 65536, buffer), 1);
  EXPECT_EQ(TakeControl().size, 0u);
}

TEST_F(ToolkitTest, AControlTransferFailsWhenTheRequestOrTheDeviceDoes) {
  driver_.AnswerControl(tarvo::IOCTL_CONTROL_OUT, Reply::Failure(31));
  EXPECT_EQ(UTK_ClassRequest(device_, 0, 0, 1, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(UTK_ClassRequest(device_ + 1, 0, 0, 1, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(UTK_VendorRequest(-1, 1, 0, 1, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(CountOf(driver_.Events(), Event::Control), 1);
}

TEST_F(ToolkitTest, CheckTellsAnsweringClosedAndSilentDevices) {
  EXPECT_EQ(UTK_Check(device_), 0);
  EXPECT_EQ(TakeControl().code, 0x220018u);

  driver_.AnswerControl(tarvo::IOCTL_PROBE, Reply::Failure(1167));
  EXPECT_EQ(UTK_Check(device_), 2);
  TakeControl();

  UTK_Close(device_);
  EXPECT_EQ(UTK_Check(device_), 1);
  EXPECT_EQ(UTK_Check(-1), 1);
  EXPECT_EQ(UTK_Check(128), 1);
  EXPECT_EQ(CountOf(driver_.Events(), Event::Control), 2);
}

TEST_F(ToolkitTest, DescriptorsAskForTheirTypeAndSize) {
  driver_.AnswerControl(tarvo::IOCTL_GET_DESCRIPTOR, Reply::WithData({18, 1, 0x10, 0x01}));
  uint8_t descriptor[18] = {};
  uint8_t configuration[64] = {};

  EXPECT_EQ(UTK_GetDeviceDescriptor(device_, descriptor), 1);
  const Event deviceRequest = TakeControl();
  EXPECT_EQ(UTK_GetConfigurationDescriptor(device_, configuration, sizeof configuration), 1);
  const Event configurationRequest = TakeControl();

  EXPECT_EQ(deviceRequest.code, 0x220014u);
  EXPECT_THAT(deviceRequest.data, ElementsAre(1, 0, 0, 0));
  EXPECT_EQ(deviceRequest.size, 18u);
  EXPECT_THAT(std::vector<uint8_t>(descriptor, descriptor + 4), ElementsAre(18, 1, 0x10, 0x01));
  EXPECT_THAT(configurationRequest.data, ElementsAre(2, 0, 0, 0));
  EXPECT_EQ(configurationRequest.size, 64u);
  // The buffer size is taken whole, not cut to 16 bits.
  std::vector<uint8_t> large(70000);
  EXPECT_EQ(UTK_GetConfigurationDescriptor(device_, large.data(), 70000), 1);
  EXPECT_EQ(TakeControl().size, 70000u);

  driver_.AnswerControl(tarvo::IOCTL_GET_DESCRIPTOR, Reply::Failure(31));
  EXPECT_EQ(UTK_GetDeviceDescriptor(device_, descriptor), 0);
  TakeControl();
  // A free slot: no request at all.
  EXPECT_EQ(UTK_GetDeviceDescriptor(device_ + 1, descriptor), 0);
  EXPECT_EQ(UTK_GetConfigurationDescriptor(device_ + 1, configuration, 64), 0);
  EXPECT_EQ(CountOf(driver_.Events(), Event::Control), 4);
}

TEST_F(ToolkitTest, ResetsGoToThePipeOrTheDevice) {
  const tarvo::Handle pipe = UTK_OpenPipe(device_, 0, 0);

  EXPECT_EQ(UTK_ResetPipe(pipe), 1);
  const Event pipeReset = TakeControl();
  EXPECT_EQ(UTK_ResetDevice(device_), 1);
  const Event deviceReset = TakeControl();

  EXPECT_EQ(pipeReset.code, 0x220008u);
  EXPECT_EQ(pipeReset.fileName, "if000pipe000");
  EXPECT_EQ(deviceReset.code, 0x220004u);
  EXPECT_EQ(deviceReset.fileName, "");
  for (const Event& reset : {pipeReset, deviceReset}) {
    EXPECT_THAT(reset.data, IsEmpty());
    EXPECT_EQ(reset.size, 0u);
  }

  driver_.AnswerControl(tarvo::IOCTL_RESET_PIPE, Reply::Failure(31));
  EXPECT_EQ(UTK_ResetPipe(pipe), 0);
  TakeControl();
  EXPECT_EQ(UTK_ResetDevice(device_ + 1), 0);
  EXPECT_EQ(CountOf(driver_.Events(), Event::Control), 3);
  tarvo::Platform().close_handle(pipe);
}

TEST_F(ToolkitTest, ClosingADeviceLeavesItsPipesToTheCaller) {
  const tarvo::Handle pipe = UTK_OpenPipe(device_, 0, 0);

  UTK_Close(device_);
  UTK_Close(-1);  // Numbers outside the table change nothing.
  UTK_Close(128);

  ASSERT_TRUE(ClosedAtLeast(driver_, 1));
  EXPECT_THAT(Files(driver_.EventsOf(Event::Close)), ElementsAre("instrument:"));
  // The pipe still works.
  EXPECT_EQ(UTK_ResetPipe(pipe), 1);
  tarvo::Platform().close_handle(pipe);
}

TEST_F(ToolkitTest, CallsFromSeveralThreadsNeverShareASlot) {
  UTK_Close(device_);
  constexpr int kThreads = 8;
  constexpr int kRounds = 25;
  std::mutex heldMutex;
  std::set<int> held;
  std::vector<std::string> faults;

  auto work = [&](int thread) {
    for (int round = 0; round < kRounds; ++round) {
      const int device = UTK_Open();
      {
        std::lock_guard<std::mutex> lock(heldMutex);
        if (device < 0 || !held.insert(device).second) {
          faults.push_back("device " + std::to_string(device) + " given out twice or not at all");
          return;
        }
      }
      uint8_t data[4] = {static_cast<uint8_t>(thread), static_cast<uint8_t>(round), 0xA5, 0x5A};
      const int32_t sent = UTK_VendorRequest(device, 0, 0, thread, round, 0, 4, data);
      const int32_t checked = UTK_Check(device);
      {
        std::lock_guard<std::mutex> lock(heldMutex);
        if (sent != 1 || checked != 0) faults.push_back("a request failed");
        held.erase(device);
      }
      UTK_Close(device);
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int thread = 0; thread < kThreads; ++thread)
    threads.emplace_back(work, thread);
  for (std::thread& thread : threads)
    thread.join();

  EXPECT_THAT(faults, IsEmpty());
  EXPECT_TRUE(AllSlotsFree());
  // Every block arrived whole and matches the call that sent it.
  int vendorRequests = 0;
  for (const Event& control : driver_.EventsOf(Event::Control)) {
    if (control.code != tarvo::IOCTL_CONTROL_OUT) continue;
    ++vendorRequests;
    ASSERT_EQ(control.data.size(), 20u);
    EXPECT_EQ(control.data[9], control.data[16]);   // bRequest is the thread
    EXPECT_EQ(control.data[10], control.data[17]);  // wValue is the round
    EXPECT_EQ(control.data[18], 0xA5);
  }
  EXPECT_EQ(vendorRequests, kThreads * kRounds);
}

}  // namespace
}  // namespace testing_support
