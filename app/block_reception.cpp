// Block reception: each data block is received, its checksum checked, and its payload stored,
// with "AGAIN\r" for a bad block and "NEXT\r" for a good one, until "YYY" ends the data and
// the capture becomes CSV files.
#include <string>
#include <string_view>

#include "block_checksum.h"
#include "program_texts.h"
#include "tarvodlg.h"

namespace {

constexpr std::size_t kLongestBlock = 243;  // 120 data bytes, the checksum and a final character
constexpr int kBlocksLit = 5;               // the status line blinks: five blocks lit, one dark
constexpr int kBadBlocksAllowed = 2;
// Empty receives are repeated at once, as the instrument expects; after this many in a row a
// short pause comes between them, so that waiting costs next to no processor time.
constexpr int kImmediateRetries = 10;
constexpr uint32_t kRetryPauseMs = 50;

}  // namespace

void CTarvoDlg::ReceiveBlocks() {
  for (;;) {
    ui_.Pause(kStepPauseMs);
    std::string response;
    const auto nothingYet = [this](int emptyReceives) {
      if (emptyReceives >= kImmediateRetries) ui_.Pause(kRetryPauseMs);
      return true;
    };
    if (!ReceiveAnswer(&response, nothingYet)) return;

    if (response.compare(0, 3, "YYY") == 0) {  // the end of the data
      const bool closed = files_.CloseFile(transfer_.captureFile);
      transfer_.captureFile = kNoFile;
      if (!closed) {
        // The system could not finish the capture: what it holds may not be all that came, so
        // nothing is made from it. The instrument has finished: there is nothing to tell it.
        EndOnCaptureNotWritten(false);
        return;
      }
      if (transfer_.instrumentKind == 1) ConvertToCsvKind1();
      if (transfer_.instrumentKind == 2) ConvertToCsvKind2();
      KeepOrDeleteCapture();
      if (conversion.end == kvx::ConversionEnd::Stopped) {
        transferEnd = TransferEnd::Stopped;  // The instrument has finished: nothing to tell it.
        EndOfTransferCleanup();
        ShowStatus("");
        return;
      }
      ui_.Pause(kEndPauseMs);
      EndOfTransferCleanup();
      transferEnd = TransferEnd::Finished;
      ShowStatus(kvx::texts::kFinished);
      return;
    }

    // The status line's heartbeat.
    if (++transfer_.blockCounter == kBlocksLit + 1) {
      ShowStatus("");
      ui_.RepaintNow();
      transfer_.blockCounter = 0;
    }
    if (transfer_.blockCounter == 1) {
      ShowStatus(kvx::texts::kCommunicating);
      ui_.RepaintNow();
    }
    ui_.LetOneMessageThrough();

    const std::string_view block = std::string_view(response).substr(0, kLongestBlock);
    if (!kvx::BlockIsGood(block)) {
      if (++transfer_.resendCount > kBadBlocksAllowed) {
        transferEnd = TransferEnd::DataDamaged;
        ui_.ShowMessage(std::string(kvx::texts::kDataCorruptedMessage));
        Send("END\r");  // Whether it arrives makes no difference now.
        ShowStatus(kvx::texts::kDataCorrupted);
        CloseAndDeleteCapture();
        ui_.Pause(kEndPauseMs);
        EndOfTransferCleanup();
        return;
      }
      if (const int32_t failed = Send("AGAIN\r"); failed != LINK_OK) {
        EndOnSendError(7, failed);
        return;
      }
      ui_.Pause(kStepPauseMs);
      continue;
    }

    const std::string_view payload = block.substr(0, block.size() - 3);
    if (!payload.empty() &&
        !files_.WriteFileBytes(transfer_.captureFile, payload.data(), payload.size())) {
      // The capture cannot hold the data: the transfer cannot go on without losing some.
      EndOnCaptureNotWritten(true);
      return;
    }
    transfer_.payloadLength += static_cast<int32_t>(payload.size());
    NoteProgress();
    if (const int32_t failed = Send("NEXT\r"); failed != LINK_OK) {
      EndOnSendError(8, failed);
      return;
    }
    ui_.Pause(kStepPauseMs);
  }
}

void CTarvoDlg::EndOnCaptureNotWritten(bool tellInstrument) {
  transferEnd = TransferEnd::CaptureNotWritten;
  ui_.ShowMessage(std::string(kvx::texts::kTemporaryFileNotCreated));
  if (tellInstrument) Send("END\r");
  CloseAndDeleteCapture();
  ui_.Pause(kEndPauseMs);
  EndOfTransferCleanup();
  ShowStatus("");
}
