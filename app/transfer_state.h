// The one process-wide record of the transfer and the CSV writers.
#ifndef KVX_TRANSFER_STATE_H
#define KVX_TRANSFER_STATE_H

#include <cstdint>
#include <string>

#include "file_system.h"

struct TransferState {
  FileHandle captureFile = kNoFile;  // the capture file while the transfer writes it
  std::string capturePath;           // full path of the capture file
  std::string tempDir;               // the user's temporary folder

  // Cleared together at the end of every transfer.
  bool responseSeen = false;   // the handshake has had a non-empty response
  int32_t lastFileNumber = 0;  // number of the last CSV file, or the highest one found
  bool folderScanned = false;  // the output folder has been searched for CSV numbers
  int32_t sampleIndex = 0;     // sample within the current measurement group
  int32_t sampleCount = 0;     // samples of the current measurement group
  int32_t payloadLength = 0;   // characters in the capture file
  int32_t blockCounter = 0;    // data blocks since the status line last blinked
  int32_t resendCount = 0;     // checksum failures in this transfer

  // Never cleared.
  int32_t instrumentKind = 0;  // 0 none yet, 1 or 2 as identified
  double scaledValue = 0;      // value of the current kind-2 sample
  std::string saveFolder;      // the folder chosen for this transfer

  void ClearCounters() {
    responseSeen = folderScanned = false;
    lastFileNumber = sampleIndex = sampleCount = payloadLength = blockCounter = resendCount = 0;
  }
};

#endif  // KVX_TRANSFER_STATE_H
