#include "exit_status.h"

namespace kvx {

int TransferExitStatus(const TransferEngine& engine, int stopSignal) {
  switch (engine.transferEnd) {
    case TransferEnd::Finished:
      return engine.conversion.end == ConversionEnd::Converted ? kTransferFinished
                                                               : kTransferCsvIncomplete;
    case TransferEnd::NoDriver:
      return kTransferNoDriver;
    case TransferEnd::LostLink:
    case TransferEnd::NoProgress:
    case TransferEnd::RefusedByInstrument:
    case TransferEnd::NotIdentified:
      return kTransferNoCommunication;
    case TransferEnd::SendFailed:
      return kTransferSendFailed;
    case TransferEnd::EndedByInstrument:
      return kTransferEndedByInstrument;
    case TransferEnd::NoData:
      return kTransferNoData;
    case TransferEnd::DataDamaged:
      return kTransferDataDamaged;
    case TransferEnd::TemporaryFileNotCreated:
    case TransferEnd::CaptureNotOpened:
    case TransferEnd::CaptureNotWritten:
      return kTransferCaptureFile;
    case TransferEnd::Stopped:
      return kTransferSignalled + stopSignal;
    case TransferEnd::NoMemory:
    case TransferEnd::None:
      break;
  }
  return kTransferOtherEnd;
}

const char* TransferEndName(TransferEnd end) {
  switch (end) {
    case TransferEnd::None:
      return "none";
    case TransferEnd::Finished:
      return "finished";
    case TransferEnd::TemporaryFileNotCreated:
      return "temporary-file-not-created";
    case TransferEnd::CaptureNotOpened:
      return "capture-not-opened";
    case TransferEnd::NoDriver:
      return "no-driver";
    case TransferEnd::LostLink:
      return "lost-link";
    case TransferEnd::NoProgress:
      return "no-progress";
    case TransferEnd::SendFailed:
      return "send-failed";
    case TransferEnd::EndedByInstrument:
      return "ended-by-instrument";
    case TransferEnd::NoData:
      return "no-data";
    case TransferEnd::RefusedByInstrument:
      return "refused-by-instrument";
    case TransferEnd::NotIdentified:
      return "not-identified";
    case TransferEnd::DataDamaged:
      return "data-damaged";
    case TransferEnd::CaptureNotWritten:
      return "capture-not-written";
    case TransferEnd::Stopped:
      return "stopped";
    case TransferEnd::NoMemory:
      return "no-memory";
  }
  return "none";
}

int ConversionExitStatusFor(ConversionEnd end, int stopSignal) {
  switch (end) {
    case ConversionEnd::Converted:
      return kConverted;
    case ConversionEnd::CaptureNotOpened:
      return kCaptureUnreadable;
    case ConversionEnd::FolderNotCreated:
      return kFolderNotCreated;
    case ConversionEnd::CsvNotWritten:
      return kCsvNotWritten;
    case ConversionEnd::NumbersUsedUp:
      return kNumbersUsedUp;
    case ConversionEnd::NoMemory:
      return kConversionOtherEnd;
    case ConversionEnd::Stopped:
      break;
  }
  return kConversionSignalled + stopSignal;
}

}  // namespace kvx
