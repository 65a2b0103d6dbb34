// CTarvoDlg, the program's main dialog (template 102): the status line, the display mode and
// the two buttons; "データ転送" runs a whole transfer, for which the dialog is the front end
// (message boxes, the controls, the message queue, the clock). Also the about box, CAboutDlg.
#ifndef KVX_TARVODLG_H
#define KVX_TARVODLG_H

#include <windows.h>

#include <string>

#include "dialog_framework.h"
#include "file_system.h"
#include "transfer_engine.h"
#include "transfer_state.h"

class CTarvoDlg : public win::ModalDialog, public TransferObserver, public TransferClock {
 public:
  explicit CTarvoDlg(TransferState& transfer);

  // The "データ転送" button: the folder chooser, then the whole transfer.
  void OnDataTransfer();

  // The transfer's front end, on this window.
  void ShowStatus(const std::string& text) override;
  void SetBusy(bool busy) override;
  void BlockArrived(const TransferProgress& progress) override;
  void Alert(const std::string& message) override;
  void Pause(uint32_t milliseconds) override;
  uint64_t MonotonicMilliseconds() override;
  bool StopRequested() override { return false; }

  std::string statusText;   // the status line
  int32_t displayMode = 0;  // 0 relative time, 1 absolute time

 protected:
  void DoDataExchange(win::DataExchange& exchange) override;
  void OnInitDialog() override;
  bool OnCommand(int id, int notification) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  void OnSysCommand(WPARAM command);
  // The minimised dialog shows its icon in the middle; false when it is not minimised.
  bool OnPaint();
  void OnCloseButton();
  // Lets the operator press the control with this id, or not.
  void EnableControl(int id, bool enabled);

  SystemFileSystem files_;
  LibraryLink link_;
  TransferEngine engine_;
  HICON icon_;
};

// Asks the operator for the folder to save to, starting at `initialFolder`; empty text when
// cancelled.
std::string ChooseSaveFolder(HWND owner, const std::string& initialFolder);

// The about box: the program's name and version, and those of the tarvo.dll it has loaded.
class CAboutDlg : public win::ModalDialog {
 public:
  CAboutDlg();

 protected:
  void OnInitDialog() override;
};

#endif  // KVX_TARVODLG_H
