// What goes to the instrument's kernel driver: its six control codes and the request blocks of
// control transfers and descriptor requests.
#ifndef TARVO_DRIVER_REQUESTS_H
#define TARVO_DRIVER_REQUESTS_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvo {

// The Windows control-code rule: device type 0x22 (unknown device), buffered transfer
// method (0), any access (0).
constexpr uint32_t DriverControlCode(uint32_t function) {
  return (0x22u << 16) | (function << 2);
}

constexpr uint32_t IOCTL_RESET_DEVICE = DriverControlCode(1);    // 0x220004, device handle
constexpr uint32_t IOCTL_RESET_PIPE = DriverControlCode(2);      // 0x220008, pipe handle
constexpr uint32_t IOCTL_CONTROL_IN = DriverControlCode(3);      // 0x22000C, data to the host
constexpr uint32_t IOCTL_CONTROL_OUT = DriverControlCode(4);     // 0x220010, data to the device
constexpr uint32_t IOCTL_GET_DESCRIPTOR = DriverControlCode(5);  // 0x220014
constexpr uint32_t IOCTL_PROBE = DriverControlCode(6);           // 0x220018

// IOCTL_PROBE's reply is read into a buffer of this size and thrown away.
constexpr uint32_t kProbeReplySize = 1024;

enum class RequestKind { Class, Vendor };

// The driver's request-block function code for a class or vendor request to a recipient
// (low 8 bits of `recipient`: 0 device, 1 interface, 2 endpoint, 3 other); -1 for any other.
int RequestFunctionCode(RequestKind kind, uint32_t recipient);
// The other way round: false for a code that names no class or vendor request.
bool DecodeRequestFunction(uint32_t function, RequestKind* kind, uint32_t* recipient);

// The 16 bytes that open every control transfer, little-endian.
constexpr std::size_t kControlRequestSize = 16;
constexpr uint32_t kTransferToHost = 2;    // transferFlags of IOCTL_CONTROL_IN
constexpr uint32_t kTransferToDevice = 0;  // transferFlags of IOCTL_CONTROL_OUT

struct ControlRequest {
  uint16_t function;
  uint32_t transferFlags;
  uint8_t request;
  uint16_t value;
  uint16_t index;
};

void EncodeControlRequest(const ControlRequest& request, uint8_t* out);
// Reads the 16 bytes that EncodeControlRequest writes.
ControlRequest DecodeControlRequest(const uint8_t* in);

// The 4-byte input of IOCTL_GET_DESCRIPTOR: descriptor type, index 0, language 0.
constexpr uint8_t kDeviceDescriptorType = 1;
constexpr uint8_t kConfigurationDescriptorType = 2;
constexpr uint32_t kDeviceDescriptorSize = 18;

std::array<uint8_t, 4> DescriptorRequest(uint8_t descriptorType);

}  // namespace tarvo

#endif  // TARVO_DRIVER_REQUESTS_H
