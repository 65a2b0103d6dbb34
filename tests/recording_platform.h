// Puts a platform table in front of the native backend for the life of the object. It keeps a
// timeline of what the library asked of the platform, records pauses and trace lines instead of
// sleeping and writing them, and checks the rule of ioLock: held around every open and control
// request, never around a pipe read or write. Everything else reaches the native backend.
#ifndef TESTS_RECORDING_PLATFORM_H
#define TESTS_RECORDING_PLATFORM_H

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"

namespace testing_support {

class RecordingPlatform {
 public:
  RecordingPlatform();
  ~RecordingPlatform();
  RecordingPlatform(const RecordingPlatform&) = delete;
  RecordingPlatform& operator=(const RecordingPlatform&) = delete;

  // In order: "open <file>" (with " failed" when it did), "close <file>", "read <file>",
  // "write <file>", "control 0x<code> <file>", "pause <ms>", "trace <line>". A file is "device"
  // for a device itself, else the pipe's name ("if000pipe001").
  std::vector<std::string> Timeline() const;
  void ClearTimeline();

  std::vector<uint32_t> Pauses() const;
  std::vector<std::string> Traces() const;

  // Opens and control requests made without ioLock, and reads and writes made with it.
  std::vector<std::string> LockViolations() const;

 private:
  static tarvo::Handle OpenFile(const char* name);
  static void CloseHandle(tarvo::Handle handle);
  static bool ReadFile(tarvo::Handle handle, void* buffer, uint32_t size, uint32_t* transferred);
  static bool WriteFile(tarvo::Handle handle, const void* buffer, uint32_t size,
                        uint32_t* transferred);
  static bool Control(tarvo::Handle handle, uint32_t code, const void* input, uint32_t inputSize,
                      void* output, uint32_t outputSize);
  static void LockEnter(tarvo::LockStorage* lock);
  static void LockLeave(tarvo::LockStorage* lock);
  static void Pause(uint32_t milliseconds);
  static void Trace(const char* line);

  void Record(const std::string& entry);
  std::string FileOf(tarvo::Handle handle) const;
  void CheckIoLock(const std::string& entry, bool wanted);

  static RecordingPlatform* current_;
  tarvo::PlatformOps ops_;
  std::atomic<std::thread::id> ioLockOwner_{};
  mutable std::mutex mutex_;
  std::vector<std::string> timeline_;
  std::map<tarvo::Handle, std::string> files_;
  std::vector<std::string> lockViolations_;
};

}  // namespace testing_support

#endif  // TESTS_RECORDING_PLATFORM_H
