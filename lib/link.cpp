// The exported link functions TarvoInit, TarvoExit, TarvoSend, TarvoReceive and TarvoReset, and
// the discovery functions TarvoDevicePath and TarvoInitDevice.
#include "link.h"

#include <cstdlib>
#include <cstring>

#include "device_access.h"
#include "device_table.h"
#include "driver_requests.h"

namespace tarvo {

namespace {

// The link belongs to one caller, so its state takes no lock.
int linkDevice = -1;
Handle receivePipe = TARVO_INVALID_HANDLE;
Handle sendPipe = TARVO_INVALID_HANDLE;
// The instrument that TarvoInitDevice chose, which TarvoReset starts the link to again; empty
// after TarvoInit, which takes the first that opens.
char chosenPath[kDevicePathSize] = "";

constexpr int32_t kReceivePipe = 0;
constexpr int32_t kSendPipe = 1;

void ClosePipe(Handle& pipe) {
  if (IsValid(pipe)) Platform().close_handle(pipe);
  pipe = InvalidHandle();
}

void CloseLink() {
  ClosePipe(receivePipe);
  ClosePipe(sendPipe);
  CloseDevice(linkDevice);
  linkDevice = -1;
}

int32_t ReportFailedTransfer(const char* traceLine) {
  Platform().trace(traceLine);
  const int failure = ClassifyLinkFailure();
  return failure != 0 ? failure : LINK_IO_FAILED;
}

// The body of TarvoInit and TarvoInitDevice. A second start while the link is open begins
// afresh, so that nothing of the first link is left open.
int32_t StartLink(const char* wantedPath) {
  CloseLink();
  linkDevice = OpenDevice(wantedPath);
  if (linkDevice < 0) return LINK_NO_DEVICE;
  receivePipe = OpenPipeFile(linkDevice, 0, kReceivePipe);
  sendPipe = OpenPipeFile(linkDevice, 0, kSendPipe);
  if (IsValid(receivePipe) && IsValid(sendPipe)) return LINK_OK;
  CloseLink();
  return LINK_NO_DEVICE;
}

}  // namespace

int ClassifyLinkFailure() {
  const Handle device = DeviceHandle(linkDevice);
  if (!IsValid(device)) return LINK_NOT_OPEN;
  if (!ProbeDevice(device)) return LINK_NO_DEVICE;
  return 0;
}

}  // namespace tarvo

using namespace tarvo;

int32_t TARVO_CALL TarvoInit(void) {
  chosenPath[0] = '\0';
  return StartLink(nullptr);
}

void TARVO_CALL TarvoExit(void) {
  CloseLink();
}

int32_t TARVO_CALL TarvoSend(const void* buffer, uint32_t length) {
  uint32_t written = 0;
  if (Platform().write_file(sendPipe, buffer, length, &written)) return LINK_OK;
  return ReportFailedTransfer(kTraceWriteFailed);
}

int32_t TARVO_CALL TarvoReceive(void* buffer, uint32_t* length) {
  *length = TARVO_RECEIVE_MAX;
  uint32_t received = 0;
  if (!Platform().read_file(receivePipe, buffer, TARVO_RECEIVE_MAX, &received)) {
    return ReportFailedTransfer(kTraceReadFailed);
  }
  *length = received;
  return LINK_OK;
}

int32_t TARVO_CALL TarvoReset(void) {
  Platform().trace(kTraceResetEntry);
  const Handle device = DeviceHandle(linkDevice);
  if (!IsValid(device) || !DriverRequest(device, IOCTL_RESET_DEVICE, nullptr, 0, nullptr, 0)) {
    return LINK_RESET_FAILED;
  }
  TarvoExit();
  Platform().pause(kResetPauseMs);
  const int32_t result = StartLink(chosenPath[0] != '\0' ? chosenPath : nullptr);
  Platform().trace(kTraceResetExit);
  return result;
}

int32_t TARVO_CALL TarvoDevicePath(uint32_t index, char* buffer) {
  buffer[0] = '\0';
  char* path = FindDevicePath(INTERFACE_GUID, index);
  if (path == nullptr) return -1;
  const std::size_t length = std::strlen(path);
  if (length < kDevicePathSize) std::memcpy(buffer, path, length + 1);
  std::free(path);
  return static_cast<int32_t>(length);
}

int32_t TARVO_CALL TarvoInitDevice(const char* path) {
  if (path == nullptr) return TarvoInit();
  const std::size_t length = std::strlen(path);
  // No slot holds so long a path, so no instrument of it can be opened.
  if (length >= kDevicePathSize) {
    CloseLink();
    return LINK_NO_DEVICE;
  }
  std::memcpy(chosenPath, path, length + 1);
  return StartLink(chosenPath);
}
