// The two kinds of device that the Linux backend reaches, each with the operations of the
// platform table that concern device files (platform.h states their contracts): the driver
// stand-in's interfaces (standin_files.cpp) and the USB devices that the user has named, through
// libusb (usb_files.cpp). Discovery lists the stand-in's first; a name or handle belongs to USB
// when usb::Names or usb::Owns says so, and to the stand-in otherwise.
#ifndef TARVO_DEVICE_FILES_H
#define TARVO_DEVICE_FILES_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

namespace tarvo {

namespace standin_files {
// The interface paths of the class, in ascending byte order.
std::vector<std::string> ListInterfaces(const InterfaceGuid& guid);
Handle OpenFile(const char* name);
void CloseHandle(Handle handle);
bool ReadFile(Handle handle, void* buffer, uint32_t size, uint32_t* transferred);
bool WriteFile(Handle handle, const void* buffer, uint32_t size, uint32_t* transferred);
bool Control(Handle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
             uint32_t outputSize);
}  // namespace standin_files

namespace usb {
// The paths of the named devices present, in ascending order; none, and nothing touched, when no
// id is named. With `traceIds`, each malformed id gets one trace line.
std::vector<std::string> ListDevices(bool traceIds);
// Whether a device or pipe file name, or an open handle, is a USB device's.
bool Names(const char* name);
bool Owns(Handle handle);
Handle OpenFile(const char* name);
void CloseHandle(Handle handle);
bool ReadFile(Handle handle, void* buffer, uint32_t size, uint32_t* transferred);
bool WriteFile(Handle handle, const void* buffer, uint32_t size, uint32_t* transferred);
bool Control(Handle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
             uint32_t outputSize);
// When the library is unloaded: closes every USB file still open and lets libusb go.
void Shutdown();
}  // namespace usb

}  // namespace tarvo

#endif  // TARVO_DEVICE_FILES_H
