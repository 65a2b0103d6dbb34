// The emulated instrument as a USB device: a vendor-specific device with one configuration of
// one interface, whose two bulk endpoints are the link's pipes, IN 0x81 (pipe 0) and then
// OUT 0x01 (pipe 1). Its drivers give these descriptors when asked for them.
#ifndef EMULATOR_DEVICE_DESCRIPTORS_H
#define EMULATOR_DEVICE_DESCRIPTORS_H

#include <cstdint>
#include <vector>

namespace emulator {

constexpr uint16_t kVendorId = 0x1234;
constexpr uint16_t kProductId = 0x0300;

std::vector<uint8_t> DeviceDescriptor(uint16_t vendor = kVendorId, uint16_t product = kProductId);
// `outFirst`: the two endpoints the other way round, as a device that the link cannot use.
std::vector<uint8_t> ConfigurationDescriptor(bool outFirst = false);

}  // namespace emulator

#endif  // EMULATOR_DEVICE_DESCRIPTORS_H
