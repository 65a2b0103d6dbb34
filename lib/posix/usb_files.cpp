// The USB devices that the user has named, reached from user space through libusb and presented
// as the instrument's kernel driver presents a device: a device file and a file for each pipe
// (usb_model.h says which endpoint a pipe is).
//
// - Only a device whose ids are named is listed or opened; with no id named libusb is not even
//   started. A device that will not open (no permission, in use) is traced with the reason.
// - A file's handle is the descriptor of an eventfd that stands for it, so that it is told from
//   the stand-in's sockets and never mistaken for another file.
// - Opening a pipe claims its interface (a kernel driver that holds it is detached); closing the
//   interface's last pipe gives it back. Each pipe is open to one file at a time.
// - A read is one IN transfer of the pipe (bulk or interrupt, as the endpoint is) that waits at
//   most kReadWaitMs: what came by then is the read's, 0 bytes when nothing did. A write is one
//   OUT transfer of at most kTransferWaitMs; a short write fails.
// - The driver's control codes: CONTROL_IN and CONTROL_OUT are a control transfer of the class
//   or vendor request that the request block names, to its recipient; GET_DESCRIPTOR is the
//   standard request for the device or configuration descriptor; RESET_PIPE clears the pipe's
//   halt; RESET_DEVICE resets the port (and opens the device again at its path, should it come
//   back as another); PROBE is a standard GET_STATUS of the device.
#include <libusb.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "device_files.h"
#include "driver_requests.h"
#include "usb_model.h"

namespace tarvo::usb {

namespace {

constexpr unsigned kTransferWaitMs = 5000;  // a write, or a control transfer
constexpr unsigned kProbeWaitMs = 1000;

// One device that is open, shared by its device file and its pipe files.
struct OpenDevice {
  std::string path;
  UsbId id;
  libusb_device_handle* handle = nullptr;
  // Handles of the device before a reset brought it back as another: a transfer of another
  // thread may still use one, so they are closed with the device.
  std::vector<libusb_device_handle*> retired;
  int files = 0;
  std::map<int, int> claims;            // interface → its pipes open
  std::set<std::pair<int, int>> pipes;  // (interface, pipe) open
};

struct UsbFile {
  std::shared_ptr<OpenDevice> device;
  bool isPipe = false;
  int interfaceNumber = 0;
  int pipe = 0;
  uint8_t endpoint = 0;
  bool interrupt = false;
};

struct State {
  libusb_context* context = nullptr;
  std::map<std::string, std::shared_ptr<OpenDevice>> devices;  // by path
  std::map<int, UsbFile> files;                                // by the descriptor
};

// Lives as long as the process: nothing here is destroyed in an order of its own at unload.
pthread_mutex_t stateMutex = PTHREAD_MUTEX_INITIALIZER;
State* state = nullptr;

class StateLock {
 public:
  StateLock() { pthread_mutex_lock(&stateMutex); }
  ~StateLock() { pthread_mutex_unlock(&stateMutex); }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
};

int FdOf(Handle handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}
Handle HandleOf(int fd) {
  return reinterpret_cast<Handle>(static_cast<intptr_t>(fd));
}

void Trace(const std::string& text) {
  Platform().trace(("tarvo: " + text + "\n").c_str());
}

std::string Reason(int error) {
  return libusb_strerror(error);
}

// The libusb context, started on first need; nullptr when libusb cannot start. Under the lock.
libusb_context* Context() {
  if (state == nullptr) state = new State;
  if (state->context == nullptr) {
    const int started = libusb_init(&state->context);
    if (started != 0) {
      state->context = nullptr;
      Trace("libusb does not start: " + Reason(started));
      return nullptr;
    }
    libusb_set_option(state->context, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);
  }
  return state->context;
}

// Calls `visit(device, id)` for each named device present until it returns true; false (traced)
// when the devices cannot be listed. Under the lock.
template <typename Visit>
bool VisitNamedDevices(const std::vector<UsbId>& ids, Visit visit) {
  libusb_context* context = Context();
  if (context == nullptr) return false;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  if (count < 0) {
    Trace("the USB devices cannot be listed: " + Reason(static_cast<int>(count)));
    return false;
  }
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
    const UsbId id{descriptor.idVendor, descriptor.idProduct};
    if (std::find(ids.begin(), ids.end(), id) != ids.end() && visit(list[i], id)) break;
  }
  libusb_free_device_list(list, 1);
  return true;
}

// The named device at `path`, referenced for the caller, or nullptr. Under the lock.
libusb_device* FindNamedDevice(const std::string& path, const std::vector<UsbId>& ids, UsbId* id) {
  libusb_device* found = nullptr;
  VisitNamedDevices(ids, [&](libusb_device* device, const UsbId& named) {
    if (DevicePath(device) != path) return false;
    *id = named;
    found = libusb_ref_device(device);
    return true;
  });
  return found;
}

// Opens the device at `path` anew: its handle, or nullptr with the reason traced.
libusb_device_handle* OpenAt(const std::string& path, const std::vector<UsbId>& ids, UsbId* id) {
  libusb_device* device = FindNamedDevice(path, ids, id);
  if (device == nullptr) return nullptr;
  libusb_device_handle* handle = nullptr;
  const int opened = libusb_open(device, &handle);
  libusb_unref_device(device);
  if (opened == LIBUSB_ERROR_ACCESS) {
    Trace(path + " (" + IdText(*id) + "): no permission to open it. The udev rule of the tools " +
          "lets the logged-in user in once its id is in " + kIdsFile +
          " (then unplug it or run: udevadm trigger)");
  } else if (opened != 0) {
    Trace(path + " (" + IdText(*id) + ") does not open: " + Reason(opened));
  }
  return opened == 0 ? handle : nullptr;
}

// The open device at `path`, shared, or opened now. Under the lock.
std::shared_ptr<OpenDevice> DeviceAt(const std::string& path) {
  if (state != nullptr) {
    auto found = state->devices.find(path);
    if (found != state->devices.end()) return found->second;
  }
  std::vector<std::string> malformed;
  const std::vector<UsbId> ids = NamedIds(&malformed);
  UsbId id;
  libusb_device_handle* handle = ids.empty() ? nullptr : OpenAt(path, ids, &id);
  if (handle == nullptr) return nullptr;
  auto device = std::make_shared<OpenDevice>();
  device->path = path;
  device->id = id;
  device->handle = handle;
  state->devices[path] = device;
  return device;
}

void CloseIfUnused(const std::shared_ptr<OpenDevice>& device) {
  if (device->files > 0) return;
  for (libusb_device_handle* handle : device->retired)
    libusb_close(handle);
  libusb_close(device->handle);
  state->devices.erase(device->path);
}

// Takes pipe `pipe` of interface `interfaceNumber` for `file`, claiming the interface. Under the
// lock.
bool OpenPipe(OpenDevice& device, int interfaceNumber, int pipe, UsbFile* file) {
  const std::string name = device.path + " pipe " + std::to_string(pipe) + " of interface " +
                           std::to_string(interfaceNumber);
  libusb_config_descriptor* config = nullptr;
  const int read = libusb_get_active_config_descriptor(libusb_get_device(device.handle), &config);
  if (read != 0) {
    Trace(name + ": no configuration: " + Reason(read));
    return false;
  }
  const libusb_endpoint_descriptor* endpoint = PipeEndpoint(config, interfaceNumber, pipe);
  const bool fits = endpoint != nullptr && PipeFits(pipe, *endpoint);
  if (fits) {
    file->endpoint = endpoint->bEndpointAddress;
    file->interrupt =
        (endpoint->bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_INTERRUPT;
  }
  libusb_free_config_descriptor(config);
  if (!fits) {
    Trace(name + ": no such endpoint, or not one the pipe can be (" +
          (pipe == 0   ? "a bulk or interrupt IN endpoint"
           : pipe == 1 ? "a bulk or interrupt OUT endpoint"
                       : "a bulk or interrupt endpoint") +
          ")");
    return false;
  }
  if (device.pipes.count({interfaceNumber, pipe}) != 0) return false;  // one file at a time
  if (device.claims[interfaceNumber] == 0) {
    libusb_set_auto_detach_kernel_driver(device.handle, 1);
    const int claimed = libusb_claim_interface(device.handle, interfaceNumber);
    if (claimed != 0) {
      device.claims.erase(interfaceNumber);
      Trace(name + ": the interface cannot be claimed: " + Reason(claimed));
      return false;
    }
  }
  ++device.claims[interfaceNumber];
  device.pipes.insert({interfaceNumber, pipe});
  file->isPipe = true;
  file->interfaceNumber = interfaceNumber;
  file->pipe = pipe;
  return true;
}

void ClosePipe(OpenDevice& device, const UsbFile& file) {
  device.pipes.erase({file.interfaceNumber, file.pipe});
  if (--device.claims[file.interfaceNumber] > 0) return;
  device.claims.erase(file.interfaceNumber);
  libusb_release_interface(device.handle, file.interfaceNumber);  // a gone device: nothing to do
}

// "ifNNNpipeMMM", three decimal digits each, as the library names a pipe's file.
bool ParsePipeName(const char* name, int* interfaceNumber, int* pipe) {
  const auto number = [](const char* digits, int* value) {
    *value = 0;
    for (int i = 0; i < 3; ++i) {
      if (digits[i] < '0' || digits[i] > '9') return false;
      *value = *value * 10 + (digits[i] - '0');
    }
    return true;
  };
  return std::strlen(name) == 12 && std::strncmp(name, "if", 2) == 0 &&
         std::strncmp(name + 5, "pipe", 4) == 0 && number(name + 2, interfaceNumber) &&
         number(name + 9, pipe);
}

// The file behind `handle`, copied (its device stays while the copy does), and the device's
// libusb handle as it is now; false for none.
bool FileOf(Handle handle, UsbFile* file, libusb_device_handle** device) {
  const StateLock lock;
  if (state == nullptr) return false;
  auto found = state->files.find(FdOf(handle));
  if (found == state->files.end()) return false;
  *file = found->second;
  *device = file->device->handle;
  return true;
}

std::string NameOf(const UsbFile& file) {
  return file.device->path + (file.isPipe
                                  ? " pipe " + std::to_string(file.pipe) + " of interface " +
                                        std::to_string(file.interfaceNumber)
                                  : "");
}

// A control transfer of the class or vendor request in the driver's request block.
bool RequestTransfer(libusb_device_handle* handle, bool toHost, const uint8_t* input,
                     uint32_t inputSize, void* output, uint32_t outputSize, int* result) {
  if (inputSize < kControlRequestSize) return false;
  const ControlRequest block = DecodeControlRequest(input);
  RequestKind kind = RequestKind::Class;
  uint32_t recipient = 0;
  if (!DecodeRequestFunction(block.function, &kind, &recipient)) return false;
  const unsigned direction = toHost ? LIBUSB_ENDPOINT_IN : LIBUSB_ENDPOINT_OUT;
  const unsigned type =
      kind == RequestKind::Class ? LIBUSB_REQUEST_TYPE_CLASS : LIBUSB_REQUEST_TYPE_VENDOR;
  const auto requestType = static_cast<uint8_t>(direction | type | recipient);
  // A control transfer's data is at most 65535 bytes: its length field has 16 bits.
  unsigned char* data = toHost ? static_cast<unsigned char*>(output)
                               : const_cast<unsigned char*>(input + kControlRequestSize);
  const auto length = static_cast<uint16_t>(
      std::min<uint32_t>(toHost ? outputSize : inputSize - uint32_t{kControlRequestSize}, 0xFFFF));
  *result = libusb_control_transfer(handle, requestType, block.request, block.value, block.index,
                                    data, length, kTransferWaitMs);
  return toHost ? *result >= 0 : *result == length;
}

// A port reset; a device that comes back as another is opened again at its path. Under the lock.
bool ResetDevice(OpenDevice& device, int* result) {
  *result = libusb_reset_device(device.handle);
  if (*result != LIBUSB_ERROR_NOT_FOUND) return *result == 0;
  std::vector<std::string> malformed;
  UsbId id;
  libusb_device_handle* again = OpenAt(device.path, NamedIds(&malformed), &id);
  if (again == nullptr) return false;
  device.retired.push_back(device.handle);
  device.handle = again;
  for (const auto& [interfaceNumber, pipes] : device.claims) {
    libusb_set_auto_detach_kernel_driver(again, 1);
    *result = libusb_claim_interface(again, interfaceNumber);
    if (*result != 0) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> ListDevices(bool traceIds) {
  std::vector<std::string> malformed;
  const std::vector<UsbId> ids = NamedIds(&malformed);
  if (traceIds) {
    for (const std::string& entry : malformed)
      Trace(entry + " is no vvvv:pppp id: passed over");
  }
  std::vector<std::string> paths;
  if (ids.empty()) return paths;
  const StateLock lock;
  VisitNamedDevices(ids, [&](libusb_device* device, const UsbId& /*id*/) {
    paths.push_back(DevicePath(device));
    return false;
  });
  std::sort(paths.begin(), paths.end());
  return paths;
}

bool Names(const char* name) {
  return std::strncmp(name, kPathPrefix, sizeof kPathPrefix - 1) == 0;
}

bool Owns(Handle handle) {
  const StateLock lock;
  return state != nullptr && state->files.count(FdOf(handle)) != 0;
}

Handle OpenFile(const char* name) {
  // "<device path>[\ifNNNpipeMMM]"
  const char* backslash = std::strchr(name, '\\');
  const std::string path(
      name, backslash != nullptr ? static_cast<std::size_t>(backslash - name) : std::strlen(name));
  int interfaceNumber = 0;
  int pipe = 0;
  if (backslash != nullptr && !ParsePipeName(backslash + 1, &interfaceNumber, &pipe)) {
    return InvalidHandle();
  }
  const StateLock lock;
  const std::shared_ptr<OpenDevice> device = DeviceAt(path);
  if (!device) return InvalidHandle();
  UsbFile file;
  file.device = device;
  const int fd = eventfd(0, EFD_CLOEXEC);
  if (fd < 0 || (backslash != nullptr && !OpenPipe(*device, interfaceNumber, pipe, &file))) {
    if (fd >= 0) close(fd);
    CloseIfUnused(device);
    return InvalidHandle();
  }
  ++device->files;
  state->files[fd] = file;
  return HandleOf(fd);
}

void CloseHandle(Handle handle) {
  const StateLock lock;
  if (state == nullptr) return;
  auto found = state->files.find(FdOf(handle));
  if (found == state->files.end()) return;
  const UsbFile file = found->second;
  state->files.erase(found);
  close(FdOf(handle));
  if (file.isPipe) ClosePipe(*file.device, file);
  --file.device->files;
  CloseIfUnused(file.device);
}

bool ReadFile(Handle handle, void* buffer, uint32_t size, uint32_t* transferred) {
  UsbFile file;
  libusb_device_handle* device = nullptr;
  if (!FileOf(handle, &file, &device) || !file.isPipe ||
      (file.endpoint & LIBUSB_ENDPOINT_DIR_MASK) != LIBUSB_ENDPOINT_IN) {
    return false;
  }
  int got = 0;
  auto* data = static_cast<unsigned char*>(buffer);
  const int length = static_cast<int>(std::min<uint32_t>(size, 0x7FFFFFFF));
  const int result =
      file.interrupt
          ? libusb_interrupt_transfer(device, file.endpoint, data, length, &got, kReadWaitMs)
          : libusb_bulk_transfer(device, file.endpoint, data, length, &got, kReadWaitMs);
  // A read that waited its time and was cancelled keeps what had come.
  if (result == 0 || result == LIBUSB_ERROR_TIMEOUT) {
    *transferred = static_cast<uint32_t>(got);
    return true;
  }
  Trace(NameOf(file) + ": the read failed: " + Reason(result));
  return false;
}

bool WriteFile(Handle handle, const void* buffer, uint32_t size, uint32_t* transferred) {
  UsbFile file;
  libusb_device_handle* device = nullptr;
  if (!FileOf(handle, &file, &device) || !file.isPipe ||
      (file.endpoint & LIBUSB_ENDPOINT_DIR_MASK) != LIBUSB_ENDPOINT_OUT || size > 0x7FFFFFFF) {
    return false;
  }
  int sent = 0;
  auto* data = static_cast<unsigned char*>(const_cast<void*>(buffer));
  const int length = static_cast<int>(size);
  const int result =
      file.interrupt
          ? libusb_interrupt_transfer(device, file.endpoint, data, length, &sent, kTransferWaitMs)
          : libusb_bulk_transfer(device, file.endpoint, data, length, &sent, kTransferWaitMs);
  if (result == 0 && sent == length) {
    *transferred = size;
    return true;
  }
  Trace(NameOf(file) + ": the write failed: " +
        (result == 0 ? std::to_string(sent) + " of " + std::to_string(length) + " bytes went out"
                     : Reason(result)));
  return false;
}

bool Control(Handle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
             uint32_t outputSize) {
  UsbFile file;
  libusb_device_handle* device = nullptr;
  if (!FileOf(handle, &file, &device)) return false;
  const auto* in = static_cast<const uint8_t*>(input);
  int result = 0;
  bool done = false;
  if (code == IOCTL_CONTROL_IN || code == IOCTL_CONTROL_OUT) {
    done = RequestTransfer(device, code == IOCTL_CONTROL_IN, in, inputSize, output, outputSize,
                           &result);
  } else if (code == IOCTL_GET_DESCRIPTOR) {
    result = inputSize < 1
                 ? LIBUSB_ERROR_INVALID_PARAM
                 : libusb_get_descriptor(device, in[0], 0, static_cast<unsigned char*>(output),
                                         static_cast<int>(std::min<uint32_t>(outputSize, 0xFFFF)));
    done = result >= 0;
  } else if (code == IOCTL_RESET_PIPE) {
    result = file.isPipe ? libusb_clear_halt(device, file.endpoint) : LIBUSB_ERROR_INVALID_PARAM;
    done = result == 0;
  } else if (code == IOCTL_RESET_DEVICE) {
    const StateLock lock;
    done = ResetDevice(*file.device, &result);
  } else if (code == IOCTL_PROBE) {
    unsigned char status[2];
    result = libusb_control_transfer(device, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_STATUS, 0, 0,
                                     status, sizeof status, kProbeWaitMs);
    done = result >= 0;
  } else {
    return false;
  }
  if (!done) {
    char what[64];
    (void)std::snprintf(what, sizeof what, ": request 0x%06X failed: ", code);
    Trace(NameOf(file) + what + (result < 0 ? Reason(result) : "a short transfer"));
  }
  return done;
}

void Shutdown() {
  const StateLock lock;
  if (state == nullptr) return;
  for (const auto& [fd, file] : state->files)
    close(fd);
  state->files.clear();
  for (const auto& [path, device] : state->devices) {
    for (const auto& [interfaceNumber, pipes] : device->claims)
      libusb_release_interface(device->handle, interfaceNumber);
    for (libusb_device_handle* retired : device->retired)
      libusb_close(retired);
    libusb_close(device->handle);
  }
  state->devices.clear();
  if (state->context != nullptr) libusb_exit(state->context);
  state->context = nullptr;
}

}  // namespace tarvo::usb
