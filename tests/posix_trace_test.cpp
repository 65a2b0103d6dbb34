// Trace lines of the Linux build: on stderr, in UTF-8, only when TARVO_TRACE asks for them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "link.h"
#include "platform.h"

namespace {

// NOLINTBEGIN(concurrency-mt-unsafe): no other thread runs while the environment changes.
std::string TraceWith(const char* setting) {
  if (setting != nullptr) {
    setenv("TARVO_TRACE", setting, 1);
  } else {
    unsetenv("TARVO_TRACE");
  }
  ::testing::internal::CaptureStderr();
  tarvo::NativePlatform().trace(tarvo::kTraceReadFailed);
  std::string written = ::testing::internal::GetCapturedStderr();
  unsetenv("TARVO_TRACE");
  return written;
}
// NOLINTEND(concurrency-mt-unsafe)

TEST(PosixTraceTest, TraceLinesGoToStderrInUtf8WhenAskedFor) {
  EXPECT_EQ(TraceWith("1"), "ReadFile() state==0 異常終了\n");
  EXPECT_EQ(TraceWith(""), "");
  EXPECT_EQ(TraceWith(nullptr), "");
}

}  // namespace
