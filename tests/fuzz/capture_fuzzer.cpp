// libFuzzer target: any capture text, converted by either instrument kind in either display mode.
// Files live in memory (the tests' own), and the "disk" holds 96 KiB, so that captures that
// promise millions of samples end with a full disk rather than fill the machine. No input may
// crash, hang, leak or leave a file open.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "csv_conversion.h"
#include "program_fakes.h"
#include "transfer_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the instrument kind and the display mode; the rest is the capture.
  const int instrumentKind = (data[0] & 1) + 1;
  program_testing::RecordingOperator ui;
  program_testing::MemoryFileSystem files;
  files.bytesUntilFull = 96 << 10;
  files.MakeFolder("/chosen");
  TransferState transfer;
  transfer.saveFolder = "/chosen";
  transfer.capturePath =
      files.Write("/capture", std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  transfer.payloadLength = static_cast<int32_t>(size - 1);
  kvx::ConvertCapture(instrumentKind, (data[0] >> 1) & 1, ui, files, transfer);
  if (files.OpenFiles() != 0) std::abort();     // a CSV file left open
  if (transfer.sampleIndex != 0) std::abort();  // a group left half counted
  return 0;
}
