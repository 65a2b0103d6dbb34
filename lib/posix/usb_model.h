// How the instrument's driver model maps onto a USB device reached through libusb: which devices
// the user has named, the path that names a device, and which endpoint a pipe is. Shared by the
// library's USB device files and by tarvo-link, which lists what is attached.
#ifndef TARVO_USB_MODEL_H
#define TARVO_USB_MODEL_H

#include <libusb.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::usb {

// A device's vendor and product id, written "vvvv:pppp" (four hexadecimal digits each).
struct UsbId {
  uint16_t vendor = 0;
  uint16_t product = 0;
  bool operator==(const UsbId& other) const {
    return vendor == other.vendor && product == other.product;
  }
};

// Where the user names the instruments' ids: an environment variable ("vvvv:pppp", several
// separated by commas) and a file (one a line; "#" begins a comment).
constexpr char kIdsVariable[] = "TARVO_USB_IDS";
constexpr char kIdsFile[] = "/etc/tarvo/usb-ids";

// "vvvv:pppp" into `id`; false for anything else.
bool ParseId(std::string_view text, UsbId* id);
std::string IdText(const UsbId& id);

// The ids in `text`: entries separated by commas or line ends, "#" to the line's end a comment,
// blanks around an entry ignored. Each entry that is no id is added to `malformed` as
// "<source>: \"<entry>\"".
std::vector<UsbId> ParseIds(std::string_view text, const std::string& source,
                            std::vector<std::string>* malformed);

// The ids of both sources, the variable's first, each once; none when neither names any.
std::vector<UsbId> NamedIds(std::vector<std::string>* malformed);

// The device's path, "usb:<bus>-<port>.<port>…" (its bus and the ports from the root hub), which
// stays the same as long as it is plugged into the same port.
std::string DevicePath(libusb_device* device);
constexpr char kPathPrefix[] = "usb:";

// Pipe `pipe` of interface `interfaceNumber`: the pipe-th endpoint of the interface in its
// alternate setting 0; nullptr when the configuration has no such endpoint.
const libusb_endpoint_descriptor* PipeEndpoint(const libusb_config_descriptor* config,
                                               int interfaceNumber, int pipe);

// Whether the endpoint can be that pipe: a bulk or interrupt endpoint, and for the link's two
// pipes the direction the link needs (it reads pipe 0 and writes pipe 1).
bool PipeFits(int pipe, const libusb_endpoint_descriptor& endpoint);

// Whether interface 0 has pipes 0 and 1 as the link needs them.
bool LinkPipesFit(const libusb_config_descriptor* config);

}  // namespace tarvo::usb

#endif  // TARVO_USB_MODEL_H
