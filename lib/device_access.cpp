#include "device_access.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device_table.h"
#include "driver_requests.h"

namespace tarvo {

char* FindDevicePath(const InterfaceGuid& guid, uint32_t index) {
  return Platform().find_interface_path(guid, index);
}

Handle OpenDeviceFile(const char* path) {
  LockGuard guard(ioLock);
  return Platform().open_file(path);
}

int OpenDevice(const char* wanted) {
  for (uint32_t index = 0;; ++index) {
    char* path = FindDevicePath(INTERFACE_GUID, index);
    if (path == nullptr) return -1;
    // A path that does not fit a slot is passed over like an interface that does not open.
    if (std::strlen(path) >= kDevicePathSize ||
        (wanted != nullptr && std::strcmp(path, wanted) != 0)) {
      std::free(path);
      continue;
    }
    const Handle handle = OpenDeviceFile(path);
    if (!IsValid(handle)) {
      std::free(path);
      continue;
    }
    const int device = AddDevice(path, handle);
    std::free(path);
    if (device >= 0) return device;
    Platform().close_handle(handle);
  }
}

void FormatPipeName(const char* devicePath, int32_t interfaceNumber, int32_t pipeNumber,
                    char (&name)[kPipeNameSize]) {
  // The name always fits whole: the device path is shorter than kDevicePathSize, and each
  // number has three digits.
  static_assert(kPipeNameSize >= kDevicePathSize + sizeof "\\if000pipe000" - 1);
  (void)std::snprintf(name, sizeof name, "%s\\if%03upipe%03u", devicePath,
                      static_cast<unsigned>(interfaceNumber) & 0xFFu,
                      static_cast<unsigned>(pipeNumber) & 0xFFu);
}

Handle OpenPipeFile(int device, int32_t interfaceNumber, int32_t pipeNumber) {
  char devicePath[kDevicePathSize];
  if (!CopyDevicePath(device, devicePath)) return InvalidHandle();
  char name[kPipeNameSize];
  FormatPipeName(devicePath, interfaceNumber, pipeNumber, name);
  return OpenDeviceFile(name);
}

bool DriverRequest(Handle handle, uint32_t code, const void* input, uint32_t inputSize,
                   void* output, uint32_t outputSize) {
  LockGuard guard(ioLock);
  return Platform().control(handle, code, input, inputSize, output, outputSize);
}

bool ProbeDevice(Handle device) {
  unsigned char reply[kProbeReplySize];
  return DriverRequest(device, IOCTL_PROBE, nullptr, 0, reply, sizeof reply);
}

}  // namespace tarvo
