#include "platform.h"

#include <atomic>

namespace tarvo {

namespace {
std::atomic<const PlatformOps*> testPlatform{nullptr};
}  // namespace

const PlatformOps& Platform() {
  const PlatformOps* ops = testPlatform.load(std::memory_order_acquire);
  return ops != nullptr ? *ops : NativePlatform();
}

void SetPlatformForTesting(const PlatformOps* ops) {
  testPlatform.store(ops, std::memory_order_release);
}

}  // namespace tarvo
