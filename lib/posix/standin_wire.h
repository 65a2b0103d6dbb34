// The wire of the Linux driver stand-in, shared by the library (the client) and the programs
// that play the driver (the servers).
//
// Registry: the folder $TARVO_DEVICE_ROOT (default /tmp/tarvo-<uid>) holds one folder per
// interface class, named by its GUID in lower case with braces. Each Unix stream socket in it
// is one present device interface, listed in ascending byte order of the names; a device
// interface path is the socket's full path.
//
// Opening a file "<interface path>[\<remainder>]" connects a new stream to the socket and sends
// CREATE with the remainder (empty for the device itself, "if000pipe001" for a pipe). Every
// request and every reply is a frame: a u32 little-endian body length, then the body.
//   CREATE {u8 1, name bytes}                    -> {u32 status}
//   READ   {u8 2, u32 max}                       -> {u32 status, 0..max bytes read}
//   WRITE  {u8 3, data bytes}                    -> {u32 status, u32 count written}
//   IOCTL  {u8 4, u32 code, u32 outMax, input}   -> {u32 status, 0..outMax output bytes}
//   CANCEL {u8 5}                                -> no reply of its own
// Status 0 is success, anything else an error number. One request is in flight per stream; a
// READ waits until the driver answers it. CANCEL, sent while a READ waits, makes the driver
// answer that READ at once, with no bytes when nothing has come; a CANCEL that crosses the
// READ's reply is ignored. A stream that closes means the device is gone.
//
// Sizes: a WRITE carries at most kMaxWriteSize bytes and an IOCTL's input at most
// kMaxControlInputSize (a control transfer's 16-byte request block and its data, whose length
// is 16 bits), so no request body exceeds kMaxRequestSize; the driver closes a stream that
// announces a larger one. READ max and IOCTL outMax may be anything: they are the caller's
// buffer, which the reply never overfills, and a driver allocates by what it has to say, not by
// them (a control request's output is one control transfer's data, at most kMaxControlDataSize
// bytes). A reply that breaks these rules (longer than asked, or without its status or count)
// means the device is gone.
#ifndef TARVO_STANDIN_WIRE_H
#define TARVO_STANDIN_WIRE_H

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver_requests.h"
#include "platform.h"

namespace standin {

inline constexpr uint8_t kCreate = 1;
inline constexpr uint8_t kRead = 2;
inline constexpr uint8_t kWrite = 3;
inline constexpr uint8_t kIoctl = 4;
inline constexpr uint8_t kCancel = 5;

constexpr uint32_t kStatusOk = 0;

constexpr uint32_t kMaxWriteSize = 64 * 1024;
constexpr uint32_t kMaxControlDataSize = 0xFFFF;
constexpr uint32_t kMaxControlInputSize =
    static_cast<uint32_t>(tarvo::kControlRequestSize) + kMaxControlDataSize;
constexpr uint32_t kMaxRequestSize =
    9 + kMaxControlInputSize > 1 + kMaxWriteSize ? 9 + kMaxControlInputSize : 1 + kMaxWriteSize;

// The registry folder of an interface class: "$TARVO_DEVICE_ROOT/{guid}".
std::string RegistryFolder(const tarvo::InterfaceGuid& guid);

// The name of an interface class's folder: the GUID in lower case with braces.
std::string InterfaceClassName(const tarvo::InterfaceGuid& guid);

inline void PutU32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t GetU32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

// Sends one frame whose body is the concatenation of `parts` (at most 7), waiting at most
// `timeoutMs` in all for the stream to take it; false when it fails or the time is up first.
bool SendFrame(int fd, const iovec* parts, int count, int timeoutMs);

}  // namespace standin

#endif  // TARVO_STANDIN_WIRE_H
