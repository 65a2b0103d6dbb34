// The emulator's own data: a day of an office's temperatures and two short checks, as the
// instrument of either kind would deliver them.
#ifndef EMULATOR_DATASET_H
#define EMULATOR_DATASET_H

#include <string>

namespace emulator {

// The capture text of the built-in dataset for an instrument of kind 1 or 2: three measurement
// groups (a day at 10-minute intervals with one reading over range, a freezer checked every
// 500 ms, a room in Fahrenheit without times and one reading under range).
std::string BuiltInCapture(int kind);

}  // namespace emulator

#endif  // EMULATOR_DATASET_H
