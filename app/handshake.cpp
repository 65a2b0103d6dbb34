// The handshake: each cycle waits for one response from the instrument and answers it with the
// next command, from the first "END\r" to "N\r" and the data blocks.
#include "program_texts.h"
#include "tarvodlg.h"

namespace {

const char kIdentificationKind1[] = "STATUS2\r006T000100\r";
const char kIdentificationKind2[] = "STATUS2\r001T000100\r";

}  // namespace

void CTarvoDlg::RunHandshake() {
  for (;;) {
    ui_.Pause(kStepPauseMs);
    std::string response;
    if (!ReceiveAnswer(&response, [this](int) { return AwaitFirstAnswer(); })) return;
    const std::string code = response.substr(0, 3);

    int32_t sent = LINK_OK;
    int errorNumber = 0;
    int step = 0;  // the step towards the data that this answer reaches, if any
    if (code == "? E") {
      sent = Send("STATUS2\r");
      errorNumber = 1;
      step = 1;
    } else if (code == "END") {
      sent = Send("STATUS2\r");
      errorNumber = 2;
      step = 1;
    } else if (code == "STA" &&
               (response == kIdentificationKind1 || response == kIdentificationKind2)) {
      transfer_.instrumentKind = response == kIdentificationKind1 ? 1 : 2;
      sent = Send("STATUS\r");
      errorNumber = 2;
      step = 2;
    } else if (code == "STA") {
      sent = Send("TRANS\r");
      errorNumber = 3;
      step = 3;
    } else if (code == "TRA") {
      if (const int32_t failed = Send("N\r"); failed != LINK_OK) {
        EndOnSendError(4, failed);
        return;
      }
      NoteProgress();
      ui_.Pause(kStepPauseMs);
      if (transfer_.instrumentKind == 1 || transfer_.instrumentKind == 2) {
        ReceiveBlocks();
        return;
      }
      // No instrument has ever identified itself: there is no way to read its data.
      EndTransfer(TransferEnd::NotIdentified, kvx::texts::kCannotCommunicate);
      ShowStatus("");
      return;
    } else if (code == "YYY") {
      EndTransfer(TransferEnd::EndedByInstrument, kvx::texts::kEndCommandCame);
      return;
    } else if (code == "? T") {
      EndTransfer(TransferEnd::NoData, kvx::texts::kNoData);
      ShowStatus("");
      return;
    } else if (code == "? S") {
      EndTransfer(TransferEnd::RefusedByInstrument, kvx::texts::kCannotCommunicate);
      ShowStatus("");
      return;
    } else {
      sent = Send("END\r");
      errorNumber = 5;
    }
    if (sent != LINK_OK) {
      EndOnSendError(errorNumber, sent);
      return;
    }
    // Answers that only go round in circles ("END" after "STATUS2\r" for ever, replies that
    // nothing understands) are no progress.
    if (step > handshakeStep_) {
      handshakeStep_ = step;
      NoteProgress();
    }
    ui_.Pause(kStepPauseMs);
  }
}

bool CTarvoDlg::AwaitFirstAnswer() {
  ui_.Pause(kStepPauseMs);
  // Once the instrument has answered, it is awake: a late answer is waited for, never asked
  // for again. Before that, "END\r" goes out once more only when the last one has had time to
  // be answered, and its answer, should it come after all, is owed.
  if (transfer_.responseSeen != 0 ||
      ui_.MonotonicMilliseconds() - lastEndSentMs_ < kFirstAnswerWaitMs) {
    return true;
  }
  if (Send("END\r") != LINK_OK) {
    EndOnLostLink();
    return false;
  }
  lastEndSentMs_ = ui_.MonotonicMilliseconds();
  ++answersOwed_;
  return true;
}
