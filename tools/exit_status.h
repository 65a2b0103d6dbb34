// The exit statuses of kvx-transfer and kvx-convert: what the way a transfer or a conversion
// ended tells the caller.
#ifndef TOOLS_EXIT_STATUS_H
#define TOOLS_EXIT_STATUS_H

#include "transfer_engine.h"

namespace kvx {

inline constexpr int kTransferFinished = 0;
inline constexpr int kTransferOtherEnd = 1;
inline constexpr int kTransferNoDriver = 3;
inline constexpr int kTransferNoCommunication = 4;
inline constexpr int kTransferSendFailed = 5;
inline constexpr int kTransferEndedByInstrument = 6;
inline constexpr int kTransferNoData = 7;
inline constexpr int kTransferDataDamaged = 8;
inline constexpr int kTransferCaptureFile = 9;
inline constexpr int kTransferCsvIncomplete = 10;
inline constexpr int kTransferAnotherTransfer = 11;
inline constexpr int kTransferSignalled = 128;  // plus the signal's number

// The exit status for the way the engine's last transfer ended; `stopSignal` is the signal that
// stopped it, when it was stopped.
int TransferExitStatus(const TransferEngine& engine, int stopSignal);

// The end's name for scripts: "finished", "no-driver", "lost-link" and so on.
const char* TransferEndName(TransferEnd end);

inline constexpr int kConverted = 0;
inline constexpr int kConversionOtherEnd = 1;
inline constexpr int kCaptureUnreadable = 3;
inline constexpr int kFolderNotCreated = 4;
inline constexpr int kCsvNotWritten = 5;
inline constexpr int kNumbersUsedUp = 6;
inline constexpr int kConversionSignalled = 128;  // plus the signal's number

// kvx-convert's exit status for the way the conversion ended.
int ConversionExitStatusFor(ConversionEnd end, int stopSignal);

}  // namespace kvx

#endif  // TOOLS_EXIT_STATUS_H
