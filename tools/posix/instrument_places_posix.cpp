// On Linux the link finds an instrument in the driver stand-in's registry, or as a USB device
// whose ids the ids file names.
#include "command_line.h"
#include "device_access.h"
#include "instrument_places.h"
#include "standin_wire.h"
#include "usb_model.h"

namespace cli::system {

std::string InstrumentPlaces() {
  return cli::Format(cli::Tr("the driver stand-in's registry %s (its root is TARVO_DEVICE_ROOT) "
                             "and the USB devices whose ids %s names"),
                     standin::RegistryFolder(tarvo::INTERFACE_GUID).c_str(), tarvo::usb::kIdsFile);
}

}  // namespace cli::system
