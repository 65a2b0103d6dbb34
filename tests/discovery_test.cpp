// Finding and opening the instrument: which interface the link takes, what it passes over, and
// that nothing stays open when it cannot start.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "device_access.h"
#include "library_test_support.h"

namespace testing_support {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using DiscoveryTest = LibraryTest;

TEST_F(DiscoveryTest, NoInstrumentGivesNoDeviceWithNothingOpen) {
  {
    FakeDriver emptyRegistry;
    EXPECT_EQ(TarvoInit(), LINK_NO_DEVICE);
    EXPECT_TRUE(AllSlotsFree());
    TarvoExit();
  }
  // Not even the registry folder: the driver was never installed.
  EXPECT_EQ(TarvoInit(), LINK_NO_DEVICE);
  EXPECT_EQ(UTK_Open(), -1);
  EXPECT_TRUE(AllSlotsFree());
}

TEST_F(DiscoveryTest, TakesTheFirstListedInterfaceAndOpensReceiveThenSendPipe) {
  FakeDriver driver({"b-second", "a-first"});

  ASSERT_EQ(TarvoInit(), LINK_OK);

  EXPECT_THAT(Files(driver.EventsOf(Event::Open)),
              ElementsAre("a-first:", "a-first:if000pipe000", "a-first:if000pipe001"));
  EXPECT_TRUE(tarvo::IsDeviceOpen(0));
}

TEST_F(DiscoveryTest, AnInterfaceThatRefusesIsSkippedForTheNext) {
  FakeDriver driver({"a", "b"});
  driver.RefuseOpen("a", "");

  ASSERT_EQ(TarvoInit(), LINK_OK);

  EXPECT_THAT(Files(driver.EventsOf(Event::Open)),
              ElementsAre("a:", "b:", "b:if000pipe000", "b:if000pipe001"));
  // The refused interface never took a slot.
  EXPECT_TRUE(tarvo::IsDeviceOpen(0));
  EXPECT_FALSE(tarvo::IsDeviceOpen(1));
}

TEST_F(DiscoveryTest, InterfacesAreTheSocketsInByteOrderOfTheirNames) {
  FakeDriver driver({"b", "B", "a"});
  const std::string folder = driver.InterfacePath("");
  std::ofstream(folder + "0-plain-file") << "not a device";
  mkdir((folder + "0-folder").c_str(), 0700);

  std::vector<std::string> found;
  while (char* path =
             tarvo::FindDevicePath(tarvo::INTERFACE_GUID, static_cast<uint32_t>(found.size()))) {
    found.emplace_back(path);
    std::free(path);
  }

  EXPECT_THAT(found, ElementsAre(folder + "B", folder + "a", folder + "b"));
}

TEST_F(DiscoveryTest, TheListIsTheOrderOfDiscoveryAndAChosenPathIsTheOnlyOneTried) {
  FakeDriver driver({"b", "c", "a"});
  driver.RefuseOpen("c", "");
  std::vector<std::string> listed;
  char path[TARVO_DEVICE_PATH_MAX];
  int32_t length = 0;
  while ((length = TarvoDevicePath(static_cast<uint32_t>(listed.size()), path)) >= 0) {
    EXPECT_EQ(static_cast<size_t>(length), std::strlen(path));
    listed.emplace_back(path);
  }
  EXPECT_THAT(listed, ElementsAre(driver.InterfacePath("a"), driver.InterfacePath("b"),
                                  driver.InterfacePath("c")));

  ASSERT_EQ(TarvoInitDevice(listed[1].c_str()), LINK_OK);
  // A reset starts the link again to the same instrument.
  ASSERT_EQ(TarvoReset(), LINK_OK);
  // One that does not open is not exchanged for another, nor is a path not listed.
  EXPECT_EQ(TarvoInitDevice(listed[2].c_str()), LINK_NO_DEVICE);
  EXPECT_EQ(TarvoInitDevice((listed[0] + "/").c_str()), LINK_NO_DEVICE);

  EXPECT_THAT(Files(driver.EventsOf(Event::Open)),
              ElementsAre("b:", "b:if000pipe000", "b:if000pipe001", "b:", "b:if000pipe000",
                          "b:if000pipe001", "c:"));
  EXPECT_TRUE(AllSlotsFree());
}

TEST_F(DiscoveryTest, EveryInterfaceRefusingGivesNoDevice) {
  FakeDriver driver({"a", "b"});
  driver.RefuseOpen("a", "");
  driver.RefuseOpen("b", "");

  EXPECT_EQ(TarvoInit(), LINK_NO_DEVICE);
  EXPECT_TRUE(AllSlotsFree());
  EXPECT_EQ(driver.OpenFiles(), 0);
}

TEST_F(DiscoveryTest, ARefusedSendPipeClosesTheReceivePipeAndFreesTheSlot) {
  FakeDriver driver({"a"});
  driver.RefuseOpen("a", "if000pipe001");

  EXPECT_EQ(TarvoInit(), LINK_NO_DEVICE);

  EXPECT_TRUE(AllSlotsFree());
  ASSERT_TRUE(ClosedAtLeast(driver, 2));
  EXPECT_THAT(Files(driver.EventsOf(Event::Close)),
              ::testing::UnorderedElementsAre("a:", "a:if000pipe000"));
  EXPECT_EQ(driver.OpenFiles(), 0);
  // The link is closed: nothing to send on.
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_NOT_OPEN);
}

TEST_F(DiscoveryTest, ARefusedReceivePipeStillTriesTheSendPipe) {
  FakeDriver driver({"a"});
  driver.RefuseOpen("a", "if000pipe000");

  EXPECT_EQ(TarvoInit(), LINK_NO_DEVICE);

  EXPECT_THAT(Files(driver.EventsOf(Event::Open)),
              ElementsAre("a:", "a:if000pipe000", "a:if000pipe001"));
  ASSERT_TRUE(ClosedAtLeast(driver, 2));
  EXPECT_EQ(driver.OpenFiles(), 0);
  EXPECT_TRUE(AllSlotsFree());
}

TEST_F(DiscoveryTest, APathThatDoesNotFitASlotIsPassedOverUnopened) {
  // Interface paths of exactly 260 ("00") and 259 ("1") characters; "00" is listed first.
  char pattern[] = "/tmp/tarvo-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folderTail = "/{5ff884a1-b0e8-11d3-abc7-0080c8792d99}/";
  std::string root = std::string(pattern) + "/";
  root += std::string(260 - 2 - root.size() - folderTail.size(), 'r');
  {
    FakeDriver driver({"00", "1"}, root);
    ASSERT_EQ(driver.InterfacePath("00").size(), 260u);

    ASSERT_EQ(TarvoInit(), LINK_OK);

    EXPECT_THAT(Files(driver.EventsOf(Event::Open)),
                ElementsAre("1:", "1:if000pipe000", "1:if000pipe001"));
    TarvoExit();
    // The list names it by its length alone.
    char path[TARVO_DEVICE_PATH_MAX] = "left over";
    EXPECT_EQ(TarvoDevicePath(0, path), 260);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(TarvoInitDevice(driver.InterfacePath("00").c_str()), LINK_NO_DEVICE);
  }
  rmdir(pattern);
}

TEST_F(DiscoveryTest, ASecondInitStartsAfreshWithoutLeakingFilesOrSlots) {
  FakeDriver driver({"a"});
  ASSERT_EQ(TarvoInit(), LINK_OK);

  ASSERT_EQ(TarvoInit(), LINK_OK);

  ASSERT_TRUE(ClosedAtLeast(driver, 3));
  EXPECT_EQ(driver.OpenFiles(), 3);
  EXPECT_TRUE(tarvo::IsDeviceOpen(0));
  EXPECT_FALSE(tarvo::IsDeviceOpen(1));
}

TEST_F(DiscoveryTest, ExitClosesReceivePipeSendPipeAndDeviceOnceAndThenNothing) {
  FakeDriver driver({"a"});
  TarvoExit();  // Before any start: nothing to close.
  ASSERT_EQ(TarvoInit(), LINK_OK);
  platform_.ClearTimeline();

  TarvoExit();
  TarvoExit();

  EXPECT_THAT(platform_.Timeline(),
              ElementsAre("close if000pipe000", "close if000pipe001", "close device"));
  EXPECT_TRUE(AllSlotsFree());
  EXPECT_EQ(TarvoSend("END\r", 4), LINK_NOT_OPEN);
}

TEST_F(DiscoveryTest, AFullTableTurnsEveryNewDeviceAway) {
  FakeDriver driver({"a"});
  for (int expected = 0; expected < tarvo::MAX_DEVICES; ++expected) {
    ASSERT_EQ(UTK_Open(), expected);
  }

  EXPECT_EQ(UTK_Open(), -1);
  EXPECT_EQ(TarvoInit(), LINK_NO_DEVICE);

  // Both turned-away devices were closed again at once.
  ASSERT_TRUE(ClosedAtLeast(driver, 2));
  EXPECT_EQ(driver.OpenFiles(), tarvo::MAX_DEVICES);
  // A freed slot is the next one taken.
  UTK_Close(5);
  EXPECT_EQ(UTK_Open(), 5);
}

}  // namespace
}  // namespace testing_support
