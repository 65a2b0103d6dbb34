// libFuzzer target: any capture text, converted by either instrument kind in either display mode.
// Files live in memory (the tests' own), and the "disk" holds 96 KiB, so that captures that
// promise millions of samples end with a full disk rather than fill the machine. No input may
// crash, hang, leak or leave a file open, and a capture that kvx-convert's check takes for the
// instrument's own must convert without a notice of an odd group.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "capture_decoding.h"
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
  const std::string capture(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool accepted = !kvx::FirstCaptureFault(capture, instrumentKind);
  transfer.capturePath = files.Write("/capture", capture);
  transfer.payloadLength = static_cast<int32_t>(size - 1);
  const kvx::ConversionOutcome outcome =
      kvx::ConvertCapture(instrumentKind, (data[0] >> 1) & 1, ui, files, transfer);
  if (accepted && !outcome.notices.empty()) std::abort();  // accepted, yet converted as odd
  if (files.OpenFiles() != 0) std::abort();                // a CSV file left open
  if (transfer.sampleIndex != 0) std::abort();             // a group left half counted
  return 0;
}
