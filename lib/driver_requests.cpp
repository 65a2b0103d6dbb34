#include "driver_requests.h"

namespace tarvo {

namespace {

void PutU16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(uint8_t* out, uint32_t value) {
  PutU16(out, static_cast<uint16_t>(value));
  PutU16(out + 2, static_cast<uint16_t>(value >> 16));
}

uint16_t GetU16(const uint8_t* in) {
  return static_cast<uint16_t>(in[0] | in[1] << 8);
}

// Device, interface, endpoint, other.
constexpr int kClassCodes[] = {0x1A, 0x1B, 0x1C, 0x1F};
constexpr int kVendorCodes[] = {0x17, 0x18, 0x19, 0x20};

}  // namespace

int RequestFunctionCode(RequestKind kind, uint32_t recipient) {
  const uint32_t code = recipient & 0xFFu;
  if (code > 3) return -1;
  return kind == RequestKind::Class ? kClassCodes[code] : kVendorCodes[code];
}

bool DecodeRequestFunction(uint32_t function, RequestKind* kind, uint32_t* recipient) {
  for (uint32_t code = 0; code < 4; ++code) {
    if (static_cast<uint32_t>(kClassCodes[code]) == function) *kind = RequestKind::Class;
    if (static_cast<uint32_t>(kVendorCodes[code]) == function) *kind = RequestKind::Vendor;
    if (static_cast<uint32_t>(kClassCodes[code]) == function ||
        static_cast<uint32_t>(kVendorCodes[code]) == function) {
      *recipient = code;
      return true;
    }
  }
  return false;
}

void EncodeControlRequest(const ControlRequest& request, uint8_t* out) {
  PutU16(out + 0, request.function);
  PutU16(out + 2, 0);
  PutU32(out + 4, request.transferFlags);
  out[8] = 0;
  out[9] = request.request;
  PutU16(out + 10, request.value);
  PutU16(out + 12, request.index);
  PutU16(out + 14, 0);
}

ControlRequest DecodeControlRequest(const uint8_t* in) {
  return {
      .function = GetU16(in),
      .transferFlags = static_cast<uint32_t>(GetU16(in + 4) | GetU16(in + 6) << 16),
      .request = in[9],
      .value = GetU16(in + 10),
      .index = GetU16(in + 12),
  };
}

std::array<uint8_t, 4> DescriptorRequest(uint8_t descriptorType) {
  return {descriptorType, 0, 0, 0};
}

}  // namespace tarvo
