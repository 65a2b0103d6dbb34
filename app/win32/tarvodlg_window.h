// The main dialog's window: template 102 on screen, tied to the portable CTarvoDlg, whose
// transfer and conversion it runs and for which it is the operator's side (message boxes, the
// controls, the folder chooser, the message queue). Also the about box, CAboutDlg.
#ifndef KVX_TARVODLG_WINDOW_H
#define KVX_TARVODLG_WINDOW_H

#include <windows.h>

#include "dialog_framework.h"
#include "file_system.h"
#include "operator_side.h"
#include "tarvodlg.h"
#include "transfer_state.h"

class TarvoDlgWindow : public win::ModalDialog, public OperatorSide {
 public:
  explicit TarvoDlgWindow(TransferState& transfer);

  // The operator's side of the transfer, on this window.
  void ShowMessage(const std::string& text) override;
  void ExchangeData(std::string& statusText, int32_t& displayMode,
                    DataDirection direction) override;
  std::string ChooseFolder(const std::string& title, const std::string& initialFolder) override;
  void EnableControl(int id, bool enabled) override;
  void RepaintNow() override;
  void LetOneMessageThrough() override;
  void Pause(uint32_t milliseconds) override;
  uint64_t MonotonicMilliseconds() override;

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

  SystemFileSystem files_;
  LibraryLink link_;
  CTarvoDlg dialog_;
  HICON m_icon;
};

// The about box: the program's name and version, and those of the tarvo.dll it has loaded.
class CAboutDlg : public win::ModalDialog {
 public:
  CAboutDlg();

 protected:
  void OnInitDialog() override;
};

#endif  // KVX_TARVODLG_WINDOW_H
