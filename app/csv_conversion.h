// The conversion of a capture file into CSV files, one per measurement group, for both
// instrument kinds.
#ifndef KVX_CSV_CONVERSION_H
#define KVX_CSV_CONVERSION_H

#include <cstdint>

#include "program_platform.h"
#include "transfer_state.h"

namespace kvx {

enum class ConversionEnd {
  Converted,         // every group of the capture was written
  CaptureNotOpened,  // the capture file could not be read; nothing was written
  Stopped,           // a group's file could not be made or written; the groups before it remain
};

// Converts the capture at transfer.capturePath (its first transfer.payloadLength characters)
// into CSV files below transfer.saveFolder, for an instrument of kind 1 or 2, with relative
// (displayMode 0) or absolute (1) times. Every message to the operator goes through the
// platform. A working buffer that cannot be had ends the process with status 1.
ConversionEnd ConvertCapture(int instrumentKind, int32_t displayMode, ProgramPlatform& platform,
                             TransferState& transfer);

}  // namespace kvx

#endif  // KVX_CSV_CONVERSION_H
