// The one way every transfer ends, by a table of the ends: the operator's message, "END\r" to
// an instrument that may still be sending, the capture file gone, a pause, the clean-up, and
// the status line each end leaves, always in this order.
#include "program_texts.h"
#include "transfer_engine.h"

namespace {

namespace texts = kvx::texts;

// When an end sets the status line: not at all, before its pause (so that the operator sees
// it while the end finishes), or last, after the clean-up.
enum class StatusAt { Kept, BeforePause, Last };

struct EndPath {
  TransferEnd end;
  std::string_view message;  // the operator's message; empty: none, or one made at the end
  bool tellsInstrument;      // "END\r", when the instrument may still be sending
  bool pauses;               // a pause before the clean-up
  StatusAt statusAt;
  std::string_view status;  // the status line the end leaves, unless Kept
};

constexpr EndPath kEndPaths[] = {
    {TransferEnd::Finished, {}, false, true, StatusAt::Last, texts::kFinished},
    {TransferEnd::TemporaryFileNotCreated,
     texts::kTemporaryFileNotCreated,
     false,
     false,
     StatusAt::Kept,
     {}},
    {TransferEnd::CaptureNotOpened, texts::kCreationFailed, false, false, StatusAt::Kept, {}},
    {TransferEnd::NoDriver, texts::kDriverNotRecognised, false, false, StatusAt::Kept, {}},
    {TransferEnd::LostLink, texts::kCannotCommunicate, false, false, StatusAt::BeforePause, ""},
    {TransferEnd::NoProgress, texts::kCannotCommunicate, false, false, StatusAt::BeforePause, ""},
    {TransferEnd::SendFailed, {}, false, true, StatusAt::Kept, {}},
    {TransferEnd::EndedByInstrument, texts::kEndCommandCame, false, true, StatusAt::Kept, {}},
    {TransferEnd::NoData, texts::kNoData, false, true, StatusAt::Last, ""},
    {TransferEnd::RefusedByInstrument, texts::kCannotCommunicate, false, true, StatusAt::Last, ""},
    {TransferEnd::NotIdentified, texts::kCannotCommunicate, false, true, StatusAt::Last, ""},
    {TransferEnd::DataDamaged, texts::kDataCorruptedMessage, true, true, StatusAt::BeforePause,
     texts::kDataCorrupted},
    {TransferEnd::CaptureNotWritten, texts::kTemporaryFileNotCreated, true, true, StatusAt::Last,
     ""},
    // The operator asked for this end: no message.
    {TransferEnd::Stopped, {}, true, false, StatusAt::BeforePause, ""},
    {TransferEnd::NoMemory, texts::kNoMemory, false, false, StatusAt::Kept, {}},
};

const EndPath& PathOf(TransferEnd end) {
  for (const EndPath& path : kEndPaths) {
    if (path.end == end) return path;
  }
  return kEndPaths[0];  // unreachable: every end but None has its row
}

}  // namespace

void TransferEngine::Finish(TransferEnd end, const std::string& message) {
  const EndPath& path = PathOf(end);
  transferEnd = end;
  const std::string shown = message.empty() ? std::string(path.message) : message;
  if (!shown.empty()) observer_.Alert(shown);
  // Whether it arrives makes no difference now.
  if (path.tellsInstrument && linkStarted_ && !dataEnded_) Send("END\r");
  if (path.statusAt == StatusAt::BeforePause) observer_.ShowStatus(std::string(path.status));
  CloseAndDeleteCapture();
  if (path.pauses) clock_.Pause(kEndPauseMs);
  EndOfTransferCleanup();
  if (path.statusAt == StatusAt::Last) observer_.ShowStatus(std::string(path.status));
}

void TransferEngine::FinishOnSendError(int number, int32_t code) {
  // "送信エラー<number>:<code>", as "%d" prints the code.
  Finish(TransferEnd::SendFailed,
         std::string(texts::kSendError) + std::to_string(number) + ":" + std::to_string(code));
}

void TransferEngine::EndOfTransferCleanup() {
  CloseAndDeleteCapture();  // Only what an earlier step could not remove is left to try again.
  if (linkStarted_) link_.Exit();
  linkStarted_ = false;
  transfer_.ClearCounters();
  observer_.SetBusy(false);
}

void TransferEngine::CloseAndDeleteCapture() {
  if (transfer_.captureFile != kNoFile) {
    files_.CloseFile(transfer_.captureFile);
    transfer_.captureFile = kNoFile;
  }
  if (captureOnDisk_ && files_.RemoveFile(transfer_.capturePath)) captureOnDisk_ = false;
}
