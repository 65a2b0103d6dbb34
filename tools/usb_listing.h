// What tarvo-link tells of the USB devices attached, where the library reaches them itself
// (Linux, through libusb: usb/). On Windows the instrument's kernel driver presents it, and
// there is no such listing.
#ifndef TOOLS_USB_LISTING_H
#define TOOLS_USB_LISTING_H

#include <string>

namespace cli::usb {

// Prints one line for each USB device attached: its path, its ids, whether they are named (as
// the library reads TARVO_USB_IDS and /etc/tarvo/usb-ids), and whether interface 0 has pipes 0
// and 1 as the link needs them. Reads the descriptors that the system keeps: no device is sent
// anything. False, with the reason on stderr, when the devices cannot be listed.
bool PrintDevices();

// Whether the id "vvvv:pppp" is named: 0 yes, 1 no, 2 not an id (the udev rule's question).
int NamedStatus(const std::string& id);

}  // namespace cli::usb

#endif  // TOOLS_USB_LISTING_H
