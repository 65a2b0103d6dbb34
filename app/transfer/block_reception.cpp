// Block reception: each data block is received, its checksum checked, and its payload stored,
// with "AGAIN\r" for a bad block and "NEXT\r" for a good one, until "YYY" ends the data and
// the capture becomes CSV files.
#include <string>
#include <string_view>

#include "block_checksum.h"
#include "program_texts.h"
#include "transfer_engine.h"

namespace {

constexpr std::size_t kLongestBlock = 243;  // 120 data bytes, the checksum and a final character
constexpr int kBlocksLit = 5;               // the status line blinks: five blocks lit, one dark
constexpr int kBadBlocksAllowed = 2;
// Empty receives are repeated at once, as the instrument expects; after this many in a row a
// short pause comes between them, so that waiting costs next to no processor time.
constexpr int kImmediateRetries = 10;
constexpr uint32_t kRetryPauseMs = 50;

}  // namespace

void TransferEngine::ReceiveBlocks() {
  for (;;) {
    clock_.Pause(kStepPauseMs);
    std::string response;
    const auto nothingYet = [this](int emptyReceives) {
      if (emptyReceives >= kImmediateRetries) clock_.Pause(kRetryPauseMs);
      return true;
    };
    if (!ReceiveAnswer(&response, nothingYet)) return;

    if (response.compare(0, 3, "YYY") == 0) {  // the end of the data
      dataEnded_ = true;
      const bool closed = files_.CloseFile(transfer_.captureFile);
      transfer_.captureFile = kNoFile;
      if (!closed) {
        // The system could not finish the capture: what it holds may not be all that came, so
        // nothing is made from it.
        Finish(TransferEnd::CaptureNotWritten);
        return;
      }
      if (transfer_.instrumentKind == 1) ConvertToCsvKind1();
      if (transfer_.instrumentKind == 2) ConvertToCsvKind2();
      KeepOrDeleteCapture();
      if (conversion.end == kvx::ConversionEnd::Stopped) {
        Finish(TransferEnd::Stopped);
      } else if (conversion.end == kvx::ConversionEnd::NoMemory) {
        Finish(TransferEnd::NoMemory);
      } else {
        Finish(TransferEnd::Finished);
      }
      return;
    }

    ReportBlockArrived();
    const std::string_view block = std::string_view(response).substr(0, kLongestBlock);
    if (!kvx::BlockIsGood(block)) {
      progress.resends = ++transfer_.resendCount;
      if (transfer_.resendCount > kBadBlocksAllowed) {
        Finish(TransferEnd::DataDamaged);
        return;
      }
      if (const int32_t failed = Send("AGAIN\r"); failed != LINK_OK) {
        FinishOnSendError(7, failed);
        return;
      }
      clock_.Pause(kStepPauseMs);
      continue;
    }

    const std::string_view payload = block.substr(0, block.size() - 3);
    if (!payload.empty() &&
        !files_.WriteFileBytes(transfer_.captureFile, payload.data(), payload.size())) {
      // The capture cannot hold the data: the transfer cannot go on without losing some.
      Finish(TransferEnd::CaptureNotWritten);
      return;
    }
    transfer_.payloadLength += static_cast<int32_t>(payload.size());
    ++progress.blocksStored;
    progress.charactersStored = transfer_.payloadLength;
    NoteProgress();
    if (const int32_t failed = Send("NEXT\r"); failed != LINK_OK) {
      FinishOnSendError(8, failed);
      return;
    }
    clock_.Pause(kStepPauseMs);
  }
}

void TransferEngine::ReportBlockArrived() {
  ++progress.blocksArrived;
  if (++transfer_.blockCounter == kBlocksLit + 1) {
    observer_.ShowStatus("");
    transfer_.blockCounter = 0;
  }
  if (transfer_.blockCounter == 1) observer_.ShowStatus(std::string(kvx::texts::kCommunicating));
  observer_.BlockArrived(progress);
}

void TransferEngine::ConvertToCsvKind1() {
  ConvertCapture(1);
}

void TransferEngine::ConvertToCsvKind2() {
  ConvertCapture(2);
}

void TransferEngine::ConvertCapture(int instrumentKind) {
  // The conversion tells the operator through the observer and asks the clock for stops.
  struct Reporter : kvx::ConversionObserver {
    Reporter(TransferObserver& o, TransferClock& c) : observer(o), clock(c) {}
    void Alert(const std::string& message) override { observer.Alert(message); }
    bool StopRequested() override { return clock.StopRequested(); }
    TransferObserver& observer;
    TransferClock& clock;
  } reporter(observer_, clock_);
  conversion = kvx::ConvertCapture(instrumentKind, displayMode_, reporter, files_, transfer_);
  if (conversion.end == kvx::ConversionEnd::CaptureNotOpened) observer_.ShowStatus("");
}
