// Loading and unloading the shared library itself: devices the toolkit left open are closed when
// the library goes.
#include <dlfcn.h>

#include "library_test_support.h"

namespace testing_support {
namespace {

using ::testing::ElementsAre;

template <typename Function>
Function Lookup(void* library, const char* name) {
  return reinterpret_cast<Function>(dlsym(library, name));
}

TEST(LibraryUnloadTest, UnloadingClosesTheDevicesLeftOpenButNoPipes) {
  FakeDriver driver({"instrument"});
  void* library = dlopen(TARVO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();  // NOLINT(concurrency-mt-unsafe): per thread in glibc
  auto init = Lookup<int32_t (*)()>(library, "TarvoInit");
  auto open = Lookup<int32_t (*)()>(library, "UTK_Open");
  auto openPipe = Lookup<TARVO_HANDLE (*)(int32_t, int32_t, int32_t)>(library, "UTK_OpenPipe");
  auto resetPipe = Lookup<int32_t (*)(TARVO_HANDLE)>(library, "UTK_ResetPipe");
  ASSERT_NE(open, nullptr);
  ASSERT_NE(openPipe, nullptr);

  ASSERT_NE(init, nullptr);
  ASSERT_EQ(init(), LINK_OK);  // device 0
  ASSERT_EQ(open(), 1);
  ASSERT_EQ(open(), 2);
  const TARVO_HANDLE pipe = openPipe(2, 0, 0);
  ASSERT_NE(pipe, TARVO_INVALID_HANDLE);
  ASSERT_EQ(resetPipe(pipe), 1);

  ASSERT_EQ(dlclose(library), 0);

  ASSERT_TRUE(ClosedAtLeast(driver, 3));
  EXPECT_THAT(Files(driver.EventsOf(Event::Close)),
              ElementsAre("instrument:", "instrument:", "instrument:"));
  // The toolkit's pipe belongs to the caller, and the link's pipes are left as they are.
  EXPECT_EQ(driver.OpenFiles(), 3);
  tarvo::Platform().close_handle(pipe);
}

}  // namespace
}  // namespace testing_support
