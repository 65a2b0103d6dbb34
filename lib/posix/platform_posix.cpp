// The Linux backend: device files are the driver stand-in's (see standin_wire.h) or, for the USB
// devices that the user has named, libusb's (device_files.h); locks are pthread mutexes, and
// trace lines go to stderr when TARVO_TRACE asks for them.
#include <iconv.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "device_files.h"
#include "platform.h"

namespace tarvo {

namespace {

// The stand-in's interfaces first, then the named USB devices; a malformed id is traced once, as
// the listing reaches the USB devices.
char* FindInterfacePath(const InterfaceGuid& guid, uint32_t index) {
  try {
    const std::vector<std::string> interfaces = standin_files::ListInterfaces(guid);
    std::string path;
    if (index < interfaces.size()) {
      path = interfaces[index];
    } else {
      const std::vector<std::string> devices = usb::ListDevices(index == interfaces.size());
      if (index - interfaces.size() >= devices.size()) return nullptr;
      path = devices[index - interfaces.size()];
    }
    auto* copy = static_cast<char*>(std::malloc(path.size() + 1));
    if (copy != nullptr) std::memcpy(copy, path.c_str(), path.size() + 1);
    return copy;
  } catch (const std::bad_alloc&) {
    return nullptr;  // Running out of memory during discovery is finding no device.
  }
}

Handle OpenFile(const char* name) {
  return usb::Names(name) ? usb::OpenFile(name) : standin_files::OpenFile(name);
}

void CloseHandle(Handle handle) {
  if (usb::Owns(handle)) {
    usb::CloseHandle(handle);
  } else {
    standin_files::CloseHandle(handle);
  }
}

bool ReadFile(Handle handle, void* buffer, uint32_t size, uint32_t* transferred) {
  return usb::Owns(handle) ? usb::ReadFile(handle, buffer, size, transferred)
                           : standin_files::ReadFile(handle, buffer, size, transferred);
}

bool WriteFile(Handle handle, const void* buffer, uint32_t size, uint32_t* transferred) {
  return usb::Owns(handle) ? usb::WriteFile(handle, buffer, size, transferred)
                           : standin_files::WriteFile(handle, buffer, size, transferred);
}

bool Control(Handle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
             uint32_t outputSize) {
  return usb::Owns(handle)
             ? usb::Control(handle, code, input, inputSize, output, outputSize)
             : standin_files::Control(handle, code, input, inputSize, output, outputSize);
}

pthread_mutex_t* MutexOf(LockStorage* lock) {
  static_assert(sizeof(pthread_mutex_t) <= sizeof(LockStorage::bytes));
  return std::launder(reinterpret_cast<pthread_mutex_t*>(lock->bytes));
}

void LockInit(LockStorage* lock) {
  pthread_mutex_init(new (lock->bytes) pthread_mutex_t, nullptr);
}
void LockEnter(LockStorage* lock) {
  pthread_mutex_lock(MutexOf(lock));
}
void LockLeave(LockStorage* lock) {
  pthread_mutex_unlock(MutexOf(lock));
}

void Pause(uint32_t milliseconds) {
  timespec left = {static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// Trace lines are code page 932; the terminal gets them in UTF-8 (as they are, should the
// conversion be unavailable).
void Trace(const char* line) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the library never changes the environment.
  const char* wanted = std::getenv("TARVO_TRACE");
  if (wanted == nullptr || wanted[0] == '\0') return;
  char utf8[256];
  const char* text = line;
  std::size_t textSize = std::strlen(line);
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter != reinterpret_cast<iconv_t>(-1)) {
    char* in = const_cast<char*>(line);
    std::size_t inLeft = textSize;
    char* out = utf8;
    std::size_t outLeft = sizeof utf8;
    if (iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) {
      text = utf8;
      textSize = sizeof utf8 - outLeft;
    }
    iconv_close(converter);
  }
  const ssize_t written = write(STDERR_FILENO, text, textSize);
  (void)written;  // Nowhere to report a trace line that could not be written.
}

constexpr PlatformOps kPosixOps = {
    .find_interface_path = FindInterfacePath,
    .open_file = OpenFile,
    .close_handle = CloseHandle,
    .read_file = ReadFile,
    .write_file = WriteFile,
    .control = Control,
    .lock_init = LockInit,
    .lock_enter = LockEnter,
    .lock_leave = LockLeave,
    .pause = Pause,
    .trace = Trace,
};

}  // namespace

const PlatformOps& NativePlatform() {
  return kPosixOps;
}

}  // namespace tarvo
