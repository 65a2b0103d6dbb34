// Where the link looks for an instrument, said when it found none: one implementation per
// platform (posix/, win32/).
#ifndef TOOLS_INSTRUMENT_PLACES_H
#define TOOLS_INSTRUMENT_PLACES_H

#include <string>

namespace cli::system {

// The places, as a sentence's end in UTF-8 ("the driver stand-in's registry … and …"); empty
// where the program's own message says it all.
std::string InstrumentPlaces();

}  // namespace cli::system

#endif  // TOOLS_INSTRUMENT_PLACES_H
