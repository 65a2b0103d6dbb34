// Finding, opening and asking the instrument's devices: discovery, device and pipe files, and
// driver control requests.
#ifndef TARVO_DEVICE_ACCESS_H
#define TARVO_DEVICE_ACCESS_H

#include <cstdint>

#include "platform.h"

namespace tarvo {

// The device interface class that the instrument's driver registers,
// {5FF884A1-B0E8-11D3-ABC7-0080C8792D99}.
constexpr InterfaceGuid INTERFACE_GUID = {
    0x5FF884A1, 0xB0E8, 0x11D3, {0xAB, 0xC7, 0x00, 0x80, 0xC8, 0x79, 0x2D, 0x99}};

// Path of the index-th present interface of the class, from malloc (the caller frees it), or
// nullptr when there is none.
char* FindDevicePath(const InterfaceGuid& guid, uint32_t index);

// Opens a device or pipe file under ioLock; invalid on failure.
Handle OpenDeviceFile(const char* path);

// The discovery loop: the first present interface that opens and fits in the table wins; with
// `wanted`, only the interface of that path is tried. Returns its device number, or -1.
int OpenDevice(const char* wanted = nullptr);

// Opens pipe `pipeNumber` of interface `interfaceNumber` of an open device (only the low 8 bits
// of each number count); invalid on failure.
Handle OpenPipeFile(int device, int32_t interfaceNumber, int32_t pipeNumber);

// Writes the pipe file name "<device path>\ifNNNpipeMMM" into `name`.
constexpr std::size_t kPipeNameSize = 360;
void FormatPipeName(const char* devicePath, int32_t interfaceNumber, int32_t pipeNumber,
                    char (&name)[kPipeNameSize]);

// One driver control request under ioLock; true when it succeeds.
bool DriverRequest(Handle handle, uint32_t code, const void* input, uint32_t inputSize,
                   void* output, uint32_t outputSize);

// Sends IOCTL_PROBE; true when the device answers.
bool ProbeDevice(Handle device);

}  // namespace tarvo

#endif  // TARVO_DEVICE_ACCESS_H
