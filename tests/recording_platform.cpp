#include "recording_platform.h"

#include <cstdio>
#include <cstring>

#include "device_table.h"

namespace testing_support {

namespace {

const tarvo::PlatformOps& Native() {
  return tarvo::NativePlatform();
}

// "device" for an interface path, the pipe's name for "<interface path>\ifNNNpipeMMM".
std::string FileName(const char* name) {
  const char* lastSlash = std::strrchr(name, '/');
  const char* backslash = std::strchr(lastSlash != nullptr ? lastSlash : name, '\\');
  return backslash != nullptr ? std::string(backslash + 1) : "device";
}

}  // namespace

RecordingPlatform* RecordingPlatform::current_ = nullptr;

RecordingPlatform::RecordingPlatform() : ops_(Native()) {
  ops_.open_file = OpenFile;
  ops_.close_handle = CloseHandle;
  ops_.read_file = ReadFile;
  ops_.write_file = WriteFile;
  ops_.control = Control;
  ops_.lock_enter = LockEnter;
  ops_.lock_leave = LockLeave;
  ops_.pause = Pause;
  ops_.trace = Trace;
  current_ = this;
  tarvo::SetPlatformForTesting(&ops_);
}

RecordingPlatform::~RecordingPlatform() {
  tarvo::SetPlatformForTesting(nullptr);
  current_ = nullptr;
}

std::vector<std::string> RecordingPlatform::Timeline() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timeline_;
}

void RecordingPlatform::ClearTimeline() {
  std::lock_guard<std::mutex> lock(mutex_);
  timeline_.clear();
}

std::vector<uint32_t> RecordingPlatform::Pauses() const {
  std::vector<uint32_t> pauses;
  for (const std::string& entry : Timeline()) {
    if (entry.rfind("pause ", 0) == 0)
      pauses.push_back(static_cast<uint32_t>(std::stoul(entry.substr(6))));
  }
  return pauses;
}

std::vector<std::string> RecordingPlatform::Traces() const {
  std::vector<std::string> traces;
  for (const std::string& entry : Timeline()) {
    if (entry.rfind("trace ", 0) == 0) traces.push_back(entry.substr(6));
  }
  return traces;
}

std::vector<std::string> RecordingPlatform::LockViolations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lockViolations_;
}

void RecordingPlatform::Record(const std::string& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  timeline_.push_back(entry);
}

std::string RecordingPlatform::FileOf(tarvo::Handle handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = files_.find(handle);
  return found != files_.end() ? found->second : "unknown";
}

void RecordingPlatform::CheckIoLock(const std::string& entry, bool wanted) {
  const bool held = ioLockOwner_.load() == std::this_thread::get_id();
  if (held == wanted) return;
  std::lock_guard<std::mutex> lock(mutex_);
  lockViolations_.push_back(entry + (wanted ? " without ioLock" : " holding ioLock"));
}

tarvo::Handle RecordingPlatform::OpenFile(const char* name) {
  RecordingPlatform& self = *current_;
  const std::string file = FileName(name);
  self.CheckIoLock("open " + file, true);
  const tarvo::Handle handle = Native().open_file(name);
  if (tarvo::IsValid(handle)) {
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.files_[handle] = file;
  }
  self.Record("open " + file + (tarvo::IsValid(handle) ? "" : " failed"));
  return handle;
}

void RecordingPlatform::CloseHandle(tarvo::Handle handle) {
  RecordingPlatform& self = *current_;
  self.Record("close " + self.FileOf(handle));
  {
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.files_.erase(handle);
  }
  Native().close_handle(handle);
}

bool RecordingPlatform::ReadFile(tarvo::Handle handle, void* buffer, uint32_t size,
                                 uint32_t* transferred) {
  RecordingPlatform& self = *current_;
  const std::string entry = "read " + self.FileOf(handle);
  self.CheckIoLock(entry, false);
  self.Record(entry);
  return Native().read_file(handle, buffer, size, transferred);
}

bool RecordingPlatform::WriteFile(tarvo::Handle handle, const void* buffer, uint32_t size,
                                  uint32_t* transferred) {
  RecordingPlatform& self = *current_;
  const std::string entry = "write " + self.FileOf(handle);
  self.CheckIoLock(entry, false);
  self.Record(entry);
  return Native().write_file(handle, buffer, size, transferred);
}

bool RecordingPlatform::Control(tarvo::Handle handle, uint32_t code, const void* input,
                                uint32_t inputSize, void* output, uint32_t outputSize) {
  RecordingPlatform& self = *current_;
  char codeText[16];
  (void)std::snprintf(codeText, sizeof codeText, "0x%06X", code);  // at most 10 characters
  const std::string entry = std::string("control ") + codeText + " " + self.FileOf(handle);
  self.CheckIoLock(entry, true);
  self.Record(entry);
  return Native().control(handle, code, input, inputSize, output, outputSize);
}

void RecordingPlatform::LockEnter(tarvo::LockStorage* lock) {
  Native().lock_enter(lock);
  if (lock == &tarvo::ioLock) current_->ioLockOwner_.store(std::this_thread::get_id());
}

void RecordingPlatform::LockLeave(tarvo::LockStorage* lock) {
  if (lock == &tarvo::ioLock) current_->ioLockOwner_.store(std::thread::id());
  Native().lock_leave(lock);
}

void RecordingPlatform::Pause(uint32_t milliseconds) {
  current_->Record("pause " + std::to_string(milliseconds));
}

void RecordingPlatform::Trace(const char* line) {
  current_->Record(std::string("trace ") + line);
}

}  // namespace testing_support
