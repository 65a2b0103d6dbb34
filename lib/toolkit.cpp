// The exported device toolkit: the UTK_ functions.
#include <cstdlib>
#include <cstring>

#include "device_access.h"
#include "device_table.h"
#include "driver_requests.h"

namespace tarvo {

namespace {

int32_t ControlTransfer(RequestKind kind, int32_t device, int32_t direction, int32_t recipient,
                        int32_t request, int32_t value, int32_t index, int32_t length,
                        void* buffer) {
  const Handle handle = DeviceHandle(device);
  if (!IsValid(handle)) return 0;
  const int function = RequestFunctionCode(kind, static_cast<uint32_t>(recipient));
  if (function < 0) return 0;

  const bool toHost = direction != 0;
  const ControlRequest block = {
      .function = static_cast<uint16_t>(function),
      .transferFlags = toHost ? kTransferToHost : kTransferToDevice,
      .request = static_cast<uint8_t>(request),
      .value = static_cast<uint16_t>(value),
      .index = static_cast<uint16_t>(index),
  };
  const uint32_t dataSize = static_cast<uint32_t>(length) & 0xFFFFu;

  if (toHost) {
    uint8_t input[kControlRequestSize];
    EncodeControlRequest(block, input);
    return DriverRequest(handle, IOCTL_CONTROL_IN, input, sizeof input, buffer, dataSize) ? 1 : 0;
  }
  const uint32_t inputSize = static_cast<uint32_t>(kControlRequestSize) + dataSize;
  auto* input = static_cast<uint8_t*>(std::malloc(inputSize));
  if (input == nullptr) return 0;
  EncodeControlRequest(block, input);
  if (dataSize != 0) std::memcpy(input + kControlRequestSize, buffer, dataSize);
  const bool ok = DriverRequest(handle, IOCTL_CONTROL_OUT, input, inputSize, nullptr, 0);
  std::free(input);
  return ok ? 1 : 0;
}

int32_t GetDescriptor(int32_t device, uint8_t type, void* buffer, uint32_t size) {
  const Handle handle = DeviceHandle(device);
  if (!IsValid(handle)) return 0;
  const std::array<uint8_t, 4> input = DescriptorRequest(type);
  return DriverRequest(handle, IOCTL_GET_DESCRIPTOR, input.data(),
                       static_cast<uint32_t>(input.size()), buffer, size)
             ? 1
             : 0;
}

}  // namespace

}  // namespace tarvo

using namespace tarvo;

int32_t TARVO_CALL UTK_Open(void) {
  return OpenDevice();
}

void TARVO_CALL UTK_Close(int32_t device) {
  CloseDevice(device);
}

TARVO_HANDLE TARVO_CALL UTK_OpenPipe(int32_t device, int32_t interfaceNumber, int32_t pipeNumber) {
  return OpenPipeFile(device, interfaceNumber, pipeNumber);
}

int32_t TARVO_CALL UTK_ClassRequest(int32_t device, int32_t direction, int32_t recipient,
                                    int32_t request, int32_t value, int32_t index, int32_t length,
                                    void* buffer) {
  return ControlTransfer(RequestKind::Class, device, direction, recipient, request, value, index,
                         length, buffer);
}

int32_t TARVO_CALL UTK_VendorRequest(int32_t device, int32_t direction, int32_t recipient,
                                     int32_t request, int32_t value, int32_t index, int32_t length,
                                     void* buffer) {
  return ControlTransfer(RequestKind::Vendor, device, direction, recipient, request, value, index,
                         length, buffer);
}

int32_t TARVO_CALL UTK_Check(int32_t device) {
  const Handle handle = DeviceHandle(device);
  if (!IsValid(handle)) return 1;
  return ProbeDevice(handle) ? 0 : 2;
}

int32_t TARVO_CALL UTK_ResetPipe(TARVO_HANDLE pipe) {
  return DriverRequest(pipe, IOCTL_RESET_PIPE, nullptr, 0, nullptr, 0) ? 1 : 0;
}

int32_t TARVO_CALL UTK_ResetDevice(int32_t device) {
  const Handle handle = DeviceHandle(device);
  if (!IsValid(handle)) return 0;
  return DriverRequest(handle, IOCTL_RESET_DEVICE, nullptr, 0, nullptr, 0) ? 1 : 0;
}

int32_t TARVO_CALL UTK_GetDeviceDescriptor(int32_t device, void* buffer) {
  return GetDescriptor(device, kDeviceDescriptorType, buffer, kDeviceDescriptorSize);
}

int32_t TARVO_CALL UTK_GetConfigurationDescriptor(int32_t device, void* buffer, uint32_t size) {
  return GetDescriptor(device, kConfigurationDescriptorType, buffer, size);
}
