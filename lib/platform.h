// The one seam between the library's portable logic and the operating system.
//
// Each platform has one backend (lib/win32: SetupAPI and kernel calls; lib/posix: the driver
// stand-in over Unix sockets), chosen at build time. A backend is a const table of operations;
// the library reaches the system only through the table that Platform() returns, so tests can
// put a table of their own in front of it to record pauses and trace lines or to inject faults.
#ifndef TARVO_PLATFORM_H
#define TARVO_PLATFORM_H

#include <cstdint>

#include "tarvo.h"

namespace tarvo {

using Handle = TARVO_HANDLE;

inline Handle InvalidHandle() {
  return TARVO_INVALID_HANDLE;
}
inline bool IsValid(Handle handle) {
  return handle != InvalidHandle();
}

// A device interface class, laid out as the usual 16-byte GUID.
struct InterfaceGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// Room for one lock of the platform (a critical section, a pthread mutex). Locks live in
// static storage, so setting them up cannot fail.
struct LockStorage {
  alignas(16) unsigned char bytes[64];
};

// The longest a pipe read waits for the device before it gives up and reports nothing.
constexpr uint32_t kReadWaitMs = 1000;

// The operations are named as the C calls they stand for.
// NOLINTBEGIN(readability-identifier-naming)
struct PlatformOps {
  // Path of the index-th present device interface of the class, in a buffer from malloc that
  // the caller frees; nullptr when there is none, or when memory runs out on the way.
  char* (*find_interface_path)(const InterfaceGuid& guid, uint32_t index);

  // Opens a device or pipe file for synchronous reading and writing; invalid on failure.
  Handle (*open_file)(const char* name);
  void (*close_handle)(Handle handle);

  // One synchronous transfer each; false when the platform call fails. A read waits at most
  // kReadWaitMs for the device: when nothing has come by then, it is cancelled and completes
  // with 0 bytes, as a read that finds nothing does; what comes later is read by a later read.
  bool (*read_file)(Handle handle, void* buffer, uint32_t size, uint32_t* transferred);
  bool (*write_file)(Handle handle, const void* buffer, uint32_t size, uint32_t* transferred);

  // One synchronous driver control request; false when it fails.
  bool (*control)(Handle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
                  uint32_t outputSize);

  void (*lock_init)(LockStorage* lock);
  void (*lock_enter)(LockStorage* lock);
  void (*lock_leave)(LockStorage* lock);

  void (*pause)(uint32_t milliseconds);

  // Writes one trace line (code page 932 bytes, ending in "\n") to the debugger output.
  void (*trace)(const char* line);
};  // NOLINTEND(readability-identifier-naming)

// The backend of the platform this library was built for.
const PlatformOps& NativePlatform();

// The table in use: NativePlatform() unless a test has put another in front of it.
const PlatformOps& Platform();

// Lets a test run the library against another table; nullptr restores the native one.
void SetPlatformForTesting(const PlatformOps* ops);

// Holds a lock for the life of the guard.
class LockGuard {
 public:
  explicit LockGuard(LockStorage& lock) : ops_(Platform()), lock_(lock) { ops_.lock_enter(&lock_); }
  ~LockGuard() { ops_.lock_leave(&lock_); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  const PlatformOps& ops_;
  LockStorage& lock_;
};

}  // namespace tarvo

#endif  // TARVO_PLATFORM_H
