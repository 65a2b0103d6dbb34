// Load and unload of libtarvo.so: the device table and locks are ready before the first call,
// and devices still open are closed when the library goes, libusb's last of all.
#include "device_files.h"
#include "device_table.h"

namespace {

__attribute__((constructor)) void LibraryLoad() {
  tarvo::OnLibraryLoad();
}

__attribute__((destructor)) void LibraryUnload() {
  tarvo::OnLibraryUnload();
  tarvo::usb::Shutdown();
}

}  // namespace
