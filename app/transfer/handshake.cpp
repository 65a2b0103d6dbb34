// The handshake: each cycle waits for one answer from the instrument and answers it with the
// next command, by one table, from the first "END\r" to "N\r" and the data blocks.
#include "program_texts.h"
#include "transfer_engine.h"

namespace {

const char kIdentificationKind1[] = "STATUS2\r006T000100\r";
const char kIdentificationKind2[] = "STATUS2\r001T000100\r";

// One row of the handshake: the answer it takes, and what follows it.
struct HandshakeStep {
  std::string_view reply;  // the answer's first three characters; empty: any other answer
  bool identification;     // the answer must also be a whole identification
  std::string_view next;   // the command that answers it; empty: the answer ends the transfer
  int errorNumber;         // "送信エラー<errorNumber>:code" when that command cannot be sent
  int step;                // the step towards the data that it reaches (0: none)
  TransferEnd end;         // how the transfer ends, when `next` is empty
};

constexpr int kDataStep = 4;  // "N\r": the data blocks follow

constexpr HandshakeStep kHandshake[] = {
    {"? E", false, "STATUS2\r", 1, 1, TransferEnd::None},
    {"END", false, "STATUS2\r", 2, 1, TransferEnd::None},
    {"STA", true, "STATUS\r", 2, 2, TransferEnd::None},
    {"STA", false, "TRANS\r", 3, 3, TransferEnd::None},
    {"TRA", false, "N\r", 4, kDataStep, TransferEnd::None},
    {"YYY", false, {}, 0, 0, TransferEnd::EndedByInstrument},
    {"? T", false, {}, 0, 0, TransferEnd::NoData},
    {"? S", false, {}, 0, 0, TransferEnd::RefusedByInstrument},
    // Anything else is answered by starting again.
    {{}, false, "END\r", 5, 0, TransferEnd::None},
};

bool IsIdentification(const std::string& response) {
  return response == kIdentificationKind1 || response == kIdentificationKind2;
}

const HandshakeStep& StepFor(const std::string& response) {
  const std::string_view code = std::string_view(response).substr(0, 3);
  for (const HandshakeStep& row : kHandshake) {
    if (row.reply.empty()) return row;
    if (row.reply == code && (!row.identification || IsIdentification(response))) return row;
  }
  return kHandshake[std::size(kHandshake) - 1];
}

}  // namespace

void TransferEngine::RunHandshake() {
  for (;;) {
    clock_.Pause(kStepPauseMs);
    std::string response;
    if (!ReceiveAnswer(&response, [this](int) { return AwaitFirstAnswer(); })) return;

    const HandshakeStep& row = StepFor(response);
    if (row.next.empty()) {
      Finish(row.end);
      return;
    }
    if (row.identification) transfer_.instrumentKind = response == kIdentificationKind1 ? 1 : 2;
    if (const int32_t failed = Send(row.next); failed != LINK_OK) {
      FinishOnSendError(row.errorNumber, failed);
      return;
    }
    // Answers that only go round in circles ("END" after "STATUS2\r" for ever, replies that
    // nothing understands) are no progress.
    if (row.step > handshakeStep_) {
      handshakeStep_ = row.step;
      NoteProgress();
    }
    clock_.Pause(kStepPauseMs);
    if (row.step != kDataStep) continue;
    if (transfer_.instrumentKind == 1 || transfer_.instrumentKind == 2) {
      ReceiveBlocks();
    } else {
      // No instrument has ever identified itself: there is no way to read its data.
      Finish(TransferEnd::NotIdentified);
    }
    return;
  }
}
