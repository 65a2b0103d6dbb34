#include "device_descriptors.h"

namespace emulator {

// USB 1.1, vendor-specific class, 64-byte control packets, release 1.00, manufacturer and product
// strings 1 and 2, no serial number, one configuration.
std::vector<uint8_t> DeviceDescriptor(uint16_t vendor, uint16_t product) {
  const auto low = [](uint16_t value) { return static_cast<uint8_t>(value); };
  const auto high = [](uint16_t value) { return static_cast<uint8_t>(value >> 8); };
  return {18,   1, 0x10, 1, 0xFF, 0, 0, 64, low(vendor), high(vendor), low(product), high(product),
          0x00, 1, 1,    2, 0,    1};
}

std::vector<uint8_t> ConfigurationDescriptor(bool outFirst) {
  const uint8_t first = outFirst ? 0x01 : 0x81;
  const uint8_t second = outFirst ? 0x81 : 0x01;
  return {9, 2, 32,     0, 1,  1,    0, 0x80, 50,  // one interface, bus-powered, 100 mA
          9, 4, 0,      0, 2,  0xFF, 0, 0,    0,   // interface 0, two endpoints, vendor-specific
          7, 5, first,  2, 64, 0,    0,            // bulk, 64-byte packets: pipe 0
          7, 5, second, 2, 64, 0,    0};           // pipe 1
}

}  // namespace emulator
