// kvx-usb-emulator's driver: kvx-emulator's instrument as USB devices below libusb, in a
// umockdev testbed, for the tests of the library's USB device files.
#ifndef EMULATOR_DRIVER_UMOCKDEV_H
#define EMULATOR_DRIVER_UMOCKDEV_H

#include <cstdint>
#include <utility>
#include <vector>

#include "instrument.h"

namespace emulator {

// Vendor and product ids, one pair for each device.
using UsbIds = std::vector<std::pair<uint16_t, uint16_t>>;

struct UsbDevices {
  UsbIds ids;
  bool withoutPermission = false;  // the device nodes open for root only
  bool outFirst = false;           // the OUT endpoint before the IN one
};

// Presents one device for each id, at usb:1-1, usb:1-2 … (each answered by its own instrument),
// prints the testbed's folder ("UMOCKDEV_DIR=…") and serves until SIGINT or SIGTERM; the folder
// goes then. A device without permission is one that a user may see but not open. Returns the
// exit status.
int ServeUsbInstruments(const std::vector<Instrument*>& instruments, const UsbDevices& devices);

}  // namespace emulator

#endif  // EMULATOR_DRIVER_UMOCKDEV_H
