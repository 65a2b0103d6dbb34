// Puts a platform table in front of the native backend for the life of the object: pauses are
// recorded instead of slept, trace lines are recorded instead of written, and driver control
// requests are watched for running at the same time. Everything else reaches the native backend.
#ifndef TESTS_RECORDING_PLATFORM_H
#define TESTS_RECORDING_PLATFORM_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform.h"

namespace testing_support {

class RecordingPlatform {
 public:
  RecordingPlatform();
  ~RecordingPlatform();
  RecordingPlatform(const RecordingPlatform&) = delete;
  RecordingPlatform& operator=(const RecordingPlatform&) = delete;

  std::vector<uint32_t> Pauses() const;
  std::vector<std::string> Traces() const;
  // The most driver control requests that were ever in the platform at once.
  int MostControlsAtOnce() const { return mostControls_.load(); }

 private:
  static void Pause(uint32_t milliseconds);
  static void Trace(const char* line);
  static bool Control(tarvo::Handle handle, uint32_t code, const void* input, uint32_t inputSize,
                      void* output, uint32_t outputSize);

  static RecordingPlatform* current_;
  tarvo::PlatformOps ops_;
  mutable std::mutex mutex_;
  std::vector<uint32_t> pauses_;
  std::vector<std::string> traces_;
  std::atomic<int> controls_{0};
  std::atomic<int> mostControls_{0};
};

}  // namespace testing_support

#endif  // TESTS_RECORDING_PLATFORM_H
