#include "device_table.h"

#include <cstring>

namespace tarvo {

LockStorage tableLock;
LockStorage ioLock;

namespace {

struct DeviceSlot {
  char path[kDevicePathSize];
  Handle handle;
};

DeviceSlot DeviceTable[MAX_DEVICES];  // NOLINT(readability-identifier-naming): its documented name

bool IsDeviceNumber(int device) {
  return device >= 0 && device < MAX_DEVICES;
}

void EmptySlot(DeviceSlot& slot) {
  slot.path[0] = '\0';
  slot.handle = InvalidHandle();
}

}  // namespace

void OnLibraryLoad() {
  const PlatformOps& ops = Platform();
  ops.lock_init(&ioLock);
  for (DeviceSlot& slot : DeviceTable)
    EmptySlot(slot);
  ops.lock_init(&tableLock);
}

void OnLibraryUnload() {
  for (int device = 0; device < MAX_DEVICES; ++device) {
    if (IsDeviceOpen(device)) CloseDevice(device);
  }
}

int AddDevice(const char* path, Handle handle) {
  LockGuard guard(tableLock);
  if (!IsValid(handle)) return -1;
  const std::size_t length = std::strlen(path);
  if (length >= kDevicePathSize) return -1;
  for (int device = 0; device < MAX_DEVICES; ++device) {
    DeviceSlot& slot = DeviceTable[device];
    if (IsValid(slot.handle)) continue;
    slot.handle = handle;
    std::memcpy(slot.path, path, length + 1);
    return device;
  }
  return -1;
}

void CloseDevice(int device) {
  if (!IsDeviceNumber(device)) return;
  LockGuard guard(tableLock);
  DeviceSlot& slot = DeviceTable[device];
  if (IsValid(slot.handle)) Platform().close_handle(slot.handle);
  EmptySlot(slot);
}

// Slots are read under tableLock too, so that a toolkit call on one thread never sees a slot
// half taken or half freed by another.
bool IsDeviceOpen(int device) {
  return IsValid(DeviceHandle(device));
}

Handle DeviceHandle(int device) {
  if (!IsDeviceNumber(device)) return InvalidHandle();
  LockGuard guard(tableLock);
  return DeviceTable[device].handle;
}

bool CopyDevicePath(int device, char (&path)[kDevicePathSize]) {
  path[0] = '\0';
  if (!IsDeviceNumber(device)) return false;
  LockGuard guard(tableLock);
  const DeviceSlot& slot = DeviceTable[device];
  if (!IsValid(slot.handle)) return false;
  std::memcpy(path, slot.path, kDevicePathSize);
  return true;
}

}  // namespace tarvo
