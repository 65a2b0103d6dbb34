// On Linux the link finds an instrument in the driver stand-in's registry, or as a USB device
// whose ids the ids file names.
#include "device_access.h"
#include "instrument_places.h"
#include "standin_wire.h"
#include "usb_model.h"

namespace cli::system {

std::string InstrumentPlaces() {
  return "the driver stand-in's registry " + standin::RegistryFolder(tarvo::INTERFACE_GUID) +
         " (its root is TARVO_DEVICE_ROOT) and the USB devices whose ids " + tarvo::usb::kIdsFile +
         " names";
}

}  // namespace cli::system
