#include "recording_platform.h"

#include <chrono>
#include <thread>

namespace testing_support {

RecordingPlatform* RecordingPlatform::current_ = nullptr;

RecordingPlatform::RecordingPlatform() : ops_(tarvo::NativePlatform()) {
  ops_.pause = Pause;
  ops_.trace = Trace;
  ops_.control = Control;
  current_ = this;
  tarvo::SetPlatformForTesting(&ops_);
}

RecordingPlatform::~RecordingPlatform() {
  tarvo::SetPlatformForTesting(nullptr);
  current_ = nullptr;
}

std::vector<uint32_t> RecordingPlatform::Pauses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pauses_;
}

std::vector<std::string> RecordingPlatform::Traces() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return traces_;
}

void RecordingPlatform::Pause(uint32_t milliseconds) {
  std::lock_guard<std::mutex> lock(current_->mutex_);
  current_->pauses_.push_back(milliseconds);
}

void RecordingPlatform::Trace(const char* line) {
  std::lock_guard<std::mutex> lock(current_->mutex_);
  current_->traces_.emplace_back(line);
}

bool RecordingPlatform::Control(tarvo::Handle handle, uint32_t code, const void* input,
                                uint32_t inputSize, void* output, uint32_t outputSize) {
  RecordingPlatform& self = *current_;
  const int atOnce = ++self.controls_;
  int most = self.mostControls_.load();
  while (atOnce > most && !self.mostControls_.compare_exchange_weak(most, atOnce)) {
  }
  // Long enough for a request on another thread to overlap this one, were it not held off.
  std::this_thread::sleep_for(std::chrono::microseconds(200));
  const bool ok =
      tarvo::NativePlatform().control(handle, code, input, inputSize, output, outputSize);
  --self.controls_;
  return ok;
}

}  // namespace testing_support
