// The process-wide table of open devices and the two locks of the library.
#ifndef TARVO_DEVICE_TABLE_H
#define TARVO_DEVICE_TABLE_H

#include <cstddef>

#include "platform.h"

namespace tarvo {

constexpr int MAX_DEVICES = 128;

// A slot holds a device interface path of at most 259 characters and its terminating NUL.
constexpr std::size_t kDevicePathSize = TARVO_DEVICE_PATH_MAX;

// Guards taking and freeing slots.
extern LockStorage tableLock;
// Held around every open of a device or pipe file and every driver control request, never
// around pipe reads and writes.
extern LockStorage ioLock;

// When the library is loaded: sets up both locks and empties every slot.
void OnLibraryLoad();
// When the library is unloaded: closes every device still open in the table. The link's pipes
// stay as they are and the locks stay set up.
void OnLibraryUnload();

// Stores an open handle and its path in the lowest free slot; -1 when the handle is invalid,
// the path does not fit a slot, or all slots are in use.
int AddDevice(const char* path, Handle handle);

// Closes the slot's handle and frees the slot; a number outside 0-127 changes nothing.
void CloseDevice(int device);

bool IsDeviceOpen(int device);

// The slot's handle; invalid for a free slot or a number outside 0-127.
Handle DeviceHandle(int device);

// The path stored in an open slot (empty for a free one).
bool CopyDevicePath(int device, char (&path)[kDevicePathSize]);

}  // namespace tarvo

#endif  // TARVO_DEVICE_TABLE_H
