#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "usb_listing.h"
#include "usb_model.h"

namespace cli::usb {

namespace {

using tarvo::usb::UsbId;

// "pipe 0 IN 0x81 bulk, pipe 1 OUT 0x01 bulk", and whether they fit the link.
std::string InterfaceZero(libusb_device* device) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != 0 &&
      libusb_get_config_descriptor(device, 0, &config) != 0) {
    return cli::Tr("no configuration to read");
  }
  std::string text = "interface 0:";
  for (int pipe = 0;; ++pipe) {
    const libusb_endpoint_descriptor* endpoint = tarvo::usb::PipeEndpoint(config, 0, pipe);
    if (endpoint == nullptr) break;
    static const char* const kTypes[] = {"control", "isochronous", "bulk", "interrupt"};
    char line[64];
    (void)std::snprintf(
        line, sizeof line, "%s pipe %d %s 0x%02x %s", pipe == 0 ? "" : ",", pipe,
        (endpoint->bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN ? "IN"
                                                                                      : "OUT",
        endpoint->bEndpointAddress, kTypes[endpoint->bmAttributes & LIBUSB_TRANSFER_TYPE_MASK]);
    text += line;
  }
  if (text == "interface 0:") text += cli::Tr(" no endpoint");
  text += tarvo::usb::LinkPipesFit(config) ? cli::Tr(" (fits the link)")
                                           : cli::Tr(" (not as the link needs)");
  libusb_free_config_descriptor(config);
  return text;
}

}  // namespace

bool PrintDevices() {
  std::vector<std::string> malformed;
  const std::vector<UsbId> named = tarvo::usb::NamedIds(&malformed);
  for (const std::string& entry : malformed)
    cli::Err(cli::Tr("tarvo-link: %s is no vvvv:pppp id\n"), entry.c_str());
  libusb_context* context = nullptr;
  if (const int started = libusb_init(&context); started != 0) {
    cli::Err(cli::Tr("tarvo-link: the USB devices cannot be listed: %s\n"),
             libusb_strerror(started));
    return false;
  }
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  if (count < 0) {
    cli::Err(cli::Tr("tarvo-link: the USB devices cannot be listed: %s\n"),
             libusb_strerror(static_cast<int>(count)));
    libusb_exit(context);
    return false;
  }
  std::vector<std::string> lines;
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
    const UsbId id{descriptor.idVendor, descriptor.idProduct};
    const bool isNamed = std::find(named.begin(), named.end(), id) != named.end();
    char head[64];
    (void)std::snprintf(head, sizeof head, "%-14s %s %s  ", tarvo::usb::DevicePath(list[i]).c_str(),
                        IdText(id).c_str(), isNamed ? "named" : "     ");
    lines.push_back(head + InterfaceZero(list[i]));
  }
  libusb_free_device_list(list, 1);
  libusb_exit(context);
  std::sort(lines.begin(), lines.end());
  for (const std::string& line : lines)
    cli::Out("%s\n", line.c_str());
  if (lines.empty()) cli::Out(cli::Tr("no USB device is attached\n"));
  return true;
}

int NamedStatus(const std::string& id) {
  UsbId wanted;
  if (!tarvo::usb::ParseId(id, &wanted)) return 2;
  std::vector<std::string> malformed;
  const std::vector<UsbId> named = tarvo::usb::NamedIds(&malformed);
  return std::find(named.begin(), named.end(), wanted) != named.end() ? 0 : 1;
}

}  // namespace cli::usb
