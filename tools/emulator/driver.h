// The driver side of the emulator, one implementation per platform: on Linux the driver
// stand-in's socket (driver_posix.cpp), on Windows a registered device interface whose pipes are
// named pipes (driver_win32.cpp).
#ifndef EMULATOR_DRIVER_H
#define EMULATOR_DRIVER_H

#include <string>

#include "instrument.h"

namespace emulator {

// Presents the instrument as a device interface named `name` and serves it, one transfer after
// another, until the emulator is interrupted or terminated; then removes the interface. Returns
// the process's exit status.
int ServeInstrument(Instrument& instrument, const std::string& name);

// The name an interface gets when none is asked for.
std::string DefaultInterfaceName();

}  // namespace emulator

#endif  // EMULATOR_DRIVER_H
