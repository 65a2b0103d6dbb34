// kvx-transfer's exit status: what the way a transfer ended tells the caller.
#ifndef TOOLS_TRANSFER_EXIT_STATUS_H
#define TOOLS_TRANSFER_EXIT_STATUS_H

#include "tarvodlg.h"

namespace kvx {

enum TransferExitStatus {
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

// The exit status for the way the dialog's last transfer ended; `stopSignal` is the signal that
// stopped it, when it was stopped.
int ExitStatusFor(const CTarvoDlg& dialog, int stopSignal);

}  // namespace kvx

#endif  // TOOLS_TRANSFER_EXIT_STATUS_H
