// The conversion of a capture file into CSV files, one per measurement group, for both
// instrument kinds.
#ifndef KVX_CSV_CONVERSION_H
#define KVX_CSV_CONVERSION_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "file_system.h"
#include "transfer_state.h"

namespace kvx {

enum class ConversionEnd {
  Converted,         // every group of the capture was written
  NoMemory,          // no working buffer for the capture; nothing was written or shown
  CaptureNotOpened,  // the capture file could not be read; nothing was written
  // The walk stopped at a group, with its message; the groups before it remain:
  FolderNotCreated,  // QM-DATA could not be made
  CsvNotWritten,     // the group's file could not be created, written or closed
  NumbersUsedUp,     // the group's file would be past QM-9999.csv
  Stopped,           // the operator asked it to stop; the file being written is gone
};

// A measurement group that does not look like the instrument's own data. Its rows are written
// all the same, as the capture layout says.
struct GroupNotice {
  int32_t group = 0;               // from 1
  std::string file;                // its CSV file's name, when it has one
  std::size_t headerLength = 0;    // characters of its header record (60 unless cut short)
  int32_t declaredSamples = 0;     // the count its header gives
  int32_t presentSamples = 0;      // the whole samples the capture holds for it
  std::size_t nonHexadecimal = 0;  // offset in the capture of the first sample character that is
                                   // no hexadecimal digit, when `hasNonHexadecimal`
  bool hasNonHexadecimal = false;
};

// What a conversion asks of its front end while it runs. Texts are code page 932 bytes.
class ConversionObserver {
 public:
  virtual ~ConversionObserver() = default;
  // A message that the operator must acknowledge; returns when it has been.
  virtual void Alert(const std::string& message) = 0;
  // Whether the operator has asked the conversion to stop; it looks between groups and every
  // few thousand samples.
  virtual bool StopRequested() = 0;
};

struct ConversionOutcome {
  ConversionEnd end = ConversionEnd::Converted;
  std::vector<GroupNotice> notices;  // groups cut short or holding other characters
  int32_t groups = 0;                // groups whose CSV file is complete
  int64_t samples = 0;               // the samples those groups declare
};

// Converts the capture at transfer.capturePath (its first transfer.payloadLength characters)
// into CSV files below transfer.saveFolder, for an instrument of kind 1 or 2, with relative
// (displayMode 0) or absolute (1) times. Every message goes to `observer`, every file through
// `files`. Without memory for its working buffer it shows nothing and gives NoMemory: the front
// end then shows "メモリが確保できません" and ends the process with status 1.
ConversionOutcome ConvertCapture(int instrumentKind, int32_t displayMode,
                                 ConversionObserver& observer, FileSystem& files,
                                 TransferState& transfer);

}  // namespace kvx

#endif  // KVX_CSV_CONVERSION_H
