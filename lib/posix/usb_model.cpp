#include "usb_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tarvo::usb {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex16(std::string_view text, uint16_t* value) {
  if (text.size() != 4) return false;
  unsigned sum = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    sum = sum * 16 + static_cast<unsigned>(digit);
  }
  *value = static_cast<uint16_t>(sum);
  return true;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

void AddOnce(std::vector<UsbId>* ids, const UsbId& id) {
  if (std::find(ids->begin(), ids->end(), id) == ids->end()) ids->push_back(id);
}

}  // namespace

bool ParseId(std::string_view text, UsbId* id) {
  const std::size_t colon = text.find(':');
  return colon != std::string_view::npos && ParseHex16(text.substr(0, colon), &id->vendor) &&
         ParseHex16(text.substr(colon + 1), &id->product);
}

std::string IdText(const UsbId& id) {
  char text[10];
  (void)std::snprintf(text, sizeof text, "%04x:%04x", id.vendor, id.product);
  return text;
}

std::vector<UsbId> ParseIds(std::string_view text, const std::string& source,
                            std::vector<std::string>* malformed) {
  std::vector<UsbId> ids;
  while (!text.empty()) {
    const std::size_t lineEnd = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, lineEnd);
    text.remove_prefix(std::min(lineEnd + 1, text.size()));
    line = line.substr(0, line.find('#'));
    while (!line.empty()) {
      const std::size_t comma = std::min(line.find(','), line.size());
      const std::string_view entry = Trimmed(line.substr(0, comma));
      line.remove_prefix(std::min(comma + 1, line.size()));
      UsbId id;
      if (ParseId(entry, &id)) {
        AddOnce(&ids, id);
      } else if (!entry.empty()) {
        malformed->push_back(source + ": \"" + std::string(entry) + "\"");
      }
    }
  }
  return ids;
}

std::vector<UsbId> NamedIds(std::vector<std::string>* malformed) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the library never changes the environment.
  const char* variable = std::getenv(kIdsVariable);
  std::vector<UsbId> ids = ParseIds(variable != nullptr ? variable : "", kIdsVariable, malformed);
  std::ifstream file(kIdsFile);
  if (file) {
    std::ostringstream text;
    text << file.rdbuf();
    for (const UsbId& id : ParseIds(text.str(), kIdsFile, malformed))
      AddOnce(&ids, id);
  }
  return ids;
}

std::string DevicePath(libusb_device* device) {
  uint8_t ports[8];
  const int count = libusb_get_port_numbers(device, ports, sizeof ports);
  std::string path = kPathPrefix + std::to_string(libusb_get_bus_number(device));
  for (int i = 0; i < count; ++i) {
    path += i == 0 ? '-' : '.';
    path += std::to_string(ports[i]);
  }
  return path;
}

const libusb_endpoint_descriptor* PipeEndpoint(const libusb_config_descriptor* config,
                                               int interfaceNumber, int pipe) {
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& interface = config->interface[i];
    for (int a = 0; a < interface.num_altsetting; ++a) {
      const libusb_interface_descriptor& setting = interface.altsetting[a];
      if (setting.bInterfaceNumber != interfaceNumber || setting.bAlternateSetting != 0) continue;
      return pipe >= 0 && pipe < setting.bNumEndpoints ? &setting.endpoint[pipe] : nullptr;
    }
  }
  return nullptr;
}

bool PipeFits(int pipe, const libusb_endpoint_descriptor& endpoint) {
  const int type = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
  if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT) return false;
  const bool in = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
  if (pipe == 0) return in;
  if (pipe == 1) return !in;
  return true;
}

bool LinkPipesFit(const libusb_config_descriptor* config) {
  for (int pipe : {0, 1}) {
    const libusb_endpoint_descriptor* endpoint = PipeEndpoint(config, 0, pipe);
    if (endpoint == nullptr || !PipeFits(pipe, *endpoint)) return false;
  }
  return true;
}

}  // namespace tarvo::usb
