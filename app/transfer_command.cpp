// The "データ転送" command: choosing the folder, preparing the capture file, starting the link
// and sending the first command; and the clean-up with which every transfer ends.
#include "program_texts.h"
#include "tarvo.h"
#include "tarvodlg.h"

std::string ChooseSaveFolder(ProgramPlatform& platform, const std::string& initialFolder) {
  return platform.ChooseFolder(std::string(kvx::texts::kChooseFolderTitle), initialFolder);
}

void CTarvoDlg::OnDataTransfer() {
  transferEnd = TransferEnd::None;
  conversion = {};
  keptCapture.clear();
  transfer_.saveFolder = ChooseSaveFolder(platform_, "c");
  if (transfer_.saveFolder.empty()) return;

  platform_.EnableButton(DialogButton::Transfer, false);
  platform_.EnableButton(DialogButton::Close, false);
  platform_.ExchangeData(*this,
                         DataDirection::ToMembers);  // the display mode, for the whole transfer

  if (!platform_.TemporaryFolder(&transfer_.tempDir) ||
      !platform_.CreateUniqueFile(transfer_.tempDir, "ini", &transfer_.capturePath)) {
    transferEnd = TransferEnd::TemporaryFileNotCreated;
    platform_.ShowMessage(std::string(kvx::texts::kTemporaryFileNotCreated));
    EnableButtons();
    return;
  }
  if (!platform_.OpenFileForWriting(transfer_.capturePath, &transfer_.captureFile)) {
    transfer_.captureFile = kNoFile;
    transferEnd = TransferEnd::CaptureNotOpened;
    platform_.ShowMessage(std::string(kvx::texts::kCreationFailed));
    platform_.RemoveFile(transfer_.capturePath);
    EnableButtons();
    return;
  }
  if (TarvoInit() != LINK_OK) {
    transferEnd = TransferEnd::NoDriver;
    CloseAndDeleteCapture();
    platform_.ShowMessage(std::string(kvx::texts::kDriverNotRecognised));
    EnableButtons();
    return;
  }

  handshakeStep_ = 0;
  NoteProgress();
  ShowStatus(kvx::texts::kCommunicating);
  platform_.Pause(kStepPauseMs);
  if (Send("END\r") != LINK_OK) {
    EndOnLostLink();
    return;
  }
  RunHandshake();
}

void CTarvoDlg::EndOfTransferCleanup() {
  CloseAndDeleteCapture();  // The capture may be gone already.
  TarvoExit();
  transfer_.ClearCounters();
  EnableButtons();
}

void CTarvoDlg::EnableButtons() {
  platform_.EnableButton(DialogButton::Transfer, true);
  platform_.EnableButton(DialogButton::Close, true);
}

void CTarvoDlg::ShowStatus(std::string_view text) {
  statusText = text;
  platform_.ExchangeData(*this, DataDirection::ToControls);
}

void CTarvoDlg::CloseAndDeleteCapture() {
  if (transfer_.captureFile != kNoFile) {
    platform_.CloseFile(transfer_.captureFile);
    transfer_.captureFile = kNoFile;
  }
  if (keptCapture != transfer_.capturePath) platform_.RemoveFile(transfer_.capturePath);
}

int32_t CTarvoDlg::Send(std::string_view command) {
  return TarvoSend(command.data(), static_cast<uint32_t>(command.size()));
}

void CTarvoDlg::EndTransfer(TransferEnd end, std::string_view message) {
  transferEnd = end;
  platform_.ShowMessage(std::string(message));
  CloseAndDeleteCapture();
  platform_.Pause(kEndPauseMs);
  EndOfTransferCleanup();
}

void CTarvoDlg::EndOnLostLink(TransferEnd end) {
  transferEnd = end;
  platform_.ShowMessage(std::string(kvx::texts::kCannotCommunicate));
  CloseAndDeleteCapture();
  ShowStatus("");
  EndOfTransferCleanup();
}

void CTarvoDlg::EndOnSendError(int number, int32_t code) {
  // "送信エラー<number>:<code>", as "%d" prints the code.
  EndTransfer(TransferEnd::SendFailed, std::string(kvx::texts::kSendError) +
                                           std::to_string(number) + ":" + std::to_string(code));
}

void CTarvoDlg::NoteProgress() {
  lastProgressMs_ = platform_.MonotonicMilliseconds();
}

bool CTarvoDlg::EndedByStopOrStall() {
  if (platform_.StopRequested()) {
    // The instrument is told, as after the third bad block; the operator asked for this end,
    // so there is no message.
    transferEnd = TransferEnd::Stopped;
    Send("END\r");
    CloseAndDeleteCapture();
    ShowStatus("");
    EndOfTransferCleanup();
    return true;
  }
  if (platform_.MonotonicMilliseconds() - lastProgressMs_ >= progressTimeoutMs) {
    EndOnLostLink(TransferEnd::NoProgress);
    return true;
  }
  return false;
}
