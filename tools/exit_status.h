// The exit statuses of kvx-transfer and kvx-convert: what the way a transfer or a conversion
// ended tells the caller.
#ifndef TOOLS_EXIT_STATUS_H
#define TOOLS_EXIT_STATUS_H

#include "transfer_engine.h"

namespace kvx {

enum TransferExitStatusCode {
  kTransferFinished = 0,
  kTransferOtherEnd = 1,
  kTransferNoDriver = 3,
  kTransferNoCommunication = 4,
  kTransferSendFailed = 5,
  kTransferEndedByInstrument = 6,
  kTransferNoData = 7,
  kTransferDataDamaged = 8,
  kTransferCaptureFile = 9,
  kTransferCsvIncomplete = 10,
  kTransferAnotherTransfer = 11,
  kTransferSignalled = 128,  // plus the signal's number
};

// The exit status for the way the engine's last transfer ended; `stopSignal` is the signal that
// stopped it, when it was stopped.
int TransferExitStatus(const TransferEngine& engine, int stopSignal);

enum ConversionExitStatus {
  kConverted = 0,
  kConversionOtherEnd = 1,
  kCaptureUnreadable = 3,
  kFolderNotCreated = 4,
  kCsvNotWritten = 5,
  kNumbersUsedUp = 6,
  kConversionSignalled = 128,  // plus the signal's number
};

// kvx-convert's exit status for the way the conversion ended.
int ConversionExitStatusFor(ConversionEnd end, int stopSignal);

}  // namespace kvx

#endif  // TOOLS_EXIT_STATUS_H
