// The "データ転送" command: choosing the folder, preparing the capture file, starting the link
// and sending the first command; and the clean-up with which every transfer ends.
#include "program_texts.h"
#include "tarvo.h"
#include "tarvodlg.h"

std::string ChooseSaveFolder(ProgramPlatform& platform, const std::string& initialFolder) {
  return platform.ChooseFolder(std::string(kvx::texts::kChooseFolderTitle), initialFolder);
}

void CTarvoDlg::OnDataTransfer() {
  transfer_.saveFolder = ChooseSaveFolder(platform_, "c");
  if (transfer_.saveFolder.empty()) return;

  platform_.EnableButton(DialogButton::Transfer, false);
  platform_.EnableButton(DialogButton::Close, false);
  platform_.ExchangeData(*this,
                         DataDirection::ToMembers);  // the display mode, for the whole transfer

  if (!platform_.TemporaryFolder(&transfer_.tempDir) ||
      !platform_.CreateUniqueFile(transfer_.tempDir, "ini", &transfer_.capturePath)) {
    platform_.ShowMessage(std::string(kvx::texts::kTemporaryFileNotCreated));
    EnableButtons();
    return;
  }
  if (!platform_.OpenFileForWriting(transfer_.capturePath, &transfer_.captureFile)) {
    transfer_.captureFile = kNoFile;
    platform_.ShowMessage(std::string(kvx::texts::kCreationFailed));
    platform_.RemoveFile(transfer_.capturePath);
    EnableButtons();
    return;
  }
  if (TarvoInit() != LINK_OK) {
    CloseAndDeleteCapture();
    platform_.ShowMessage(std::string(kvx::texts::kDriverNotRecognised));
    EnableButtons();
    return;
  }

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
  platform_.RemoveFile(transfer_.capturePath);
}

int32_t CTarvoDlg::Send(std::string_view command) {
  return TarvoSend(command.data(), static_cast<uint32_t>(command.size()));
}

void CTarvoDlg::EndTransfer(std::string_view message) {
  platform_.ShowMessage(std::string(message));
  CloseAndDeleteCapture();
  platform_.Pause(kEndPauseMs);
  EndOfTransferCleanup();
}

void CTarvoDlg::EndOnLostLink() {
  platform_.ShowMessage(std::string(kvx::texts::kCannotCommunicate));
  CloseAndDeleteCapture();
  ShowStatus("");
  EndOfTransferCleanup();
}

void CTarvoDlg::EndOnSendError(int number, int32_t code) {
  // "送信エラー<number>:<code>", as "%d" prints the code.
  EndTransfer(std::string(kvx::texts::kSendError) + std::to_string(number) + ":" +
              std::to_string(code));
}
