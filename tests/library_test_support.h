// What the library's tests share: a fixture that records pauses and trace lines and leaves the
// library closed after every test, and short ways to read the driver's events.
#ifndef TESTS_LIBRARY_TEST_SUPPORT_H
#define TESTS_LIBRARY_TEST_SUPPORT_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_table.h"
#include "fake_driver.h"
#include "recording_platform.h"
#include "tarvo.h"

namespace testing_support {

class LibraryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_THAT(platform_.LockViolations(), ::testing::IsEmpty());
    TarvoExit();
    for (int device = 0; device < tarvo::MAX_DEVICES; ++device)
      UTK_Close(device);
  }

  static bool AllSlotsFree() {
    for (int device = 0; device < tarvo::MAX_DEVICES; ++device) {
      if (tarvo::IsDeviceOpen(device)) return false;
    }
    return true;
  }

  RecordingPlatform platform_;
};

// "<interface>:<file>" for each event, "" naming the device itself.
inline std::vector<std::string> Files(const std::vector<Event>& events) {
  std::vector<std::string> files;
  files.reserve(events.size());
  for (const Event& event : events)
    files.push_back(event.interfaceName + ":" + event.fileName);
  return files;
}

inline int CountOf(const std::vector<Event>& events, Event::Kind kind) {
  int count = 0;
  for (const Event& event : events)
    count += event.kind == kind ? 1 : 0;
  return count;
}

// A receive that asks again while nothing has arrived, as the program does, `attempts` times at
// most: the reply, "(nothing)", or "(failed <code>)".
inline std::string ReceiveReply(int attempts = 10) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    char buffer[TARVO_RECEIVE_MAX];
    uint32_t length = 0;
    const int32_t result = TarvoReceive(buffer, &length);
    if (result != LINK_OK) return "(failed " + std::to_string(result) + ")";
    if (length > 0) return std::string(buffer, length);
  }
  return "(nothing)";
}

// Waits until the driver has seen `closes` files closed.
inline bool ClosedAtLeast(const FakeDriver& driver, int closes) {
  return driver.WaitFor([closes](const std::vector<Event>& events) {
    return CountOf(events, Event::Close) >= closes;
  });
}

}  // namespace testing_support

#endif  // TESTS_LIBRARY_TEST_SUPPORT_H
