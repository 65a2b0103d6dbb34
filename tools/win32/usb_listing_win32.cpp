#include <cstdio>

#include "command_line.h"
#include "usb_listing.h"

namespace cli::usb {

bool PrintDevices() {
  cli::Err(
      cli::Tr("tarvo-link: on Windows the instrument's driver presents it: there is no "
              "listing of USB devices\n"));
  return false;
}

int NamedStatus(const std::string& /*id*/) {
  return 1;
}

}  // namespace cli::usb
