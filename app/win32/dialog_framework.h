// The little of a dialog framework that KVX-300 needs, on the raw Win32 dialog manager: an
// application object with instance start-up and exit, modal dialogs from templates, data
// exchange between members and controls, and the default OK and Cancel (Enter, Esc and the
// system menu's close entry end a dialog). Texts of the program are code page 932; every text
// reaches the screen through the wide-character calls.
#ifndef KVX_DIALOG_FRAMEWORK_H
#define KVX_DIALOG_FRAMEWORK_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace win {

// A code page 932 text in UTF-16, for the screen; what has no character shows as U+FFFD.
std::wstring ScreenText(std::string_view cp932);

// One round of data exchange between a dialog's controls and the members bound to them.
class DataExchange {
 public:
  DataExchange(HWND dialog, bool toMembers) : dialog_(dialog), toMembers_(toMembers) {}
  // A control's text and a code page 932 member.
  void Text(int id, std::string& member);
  // A group of radio buttons that starts at `firstId` and the index of the checked one (-1:
  // none checked).
  void Radio(int firstId, int32_t& index);

 private:
  HWND dialog_;
  bool toMembers_;
};

// A modal dialog made from a dialog template of the program's resources.
class ModalDialog {
 public:
  explicit ModalDialog(int templateId) : templateId_(templateId) {}
  virtual ~ModalDialog() = default;
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  // Shows the dialog and returns when it has ended, with its result (IDOK, IDCANCEL), or -1
  // when it could not be made.
  INT_PTR DoModal(HWND owner);
  HWND Handle() const { return window_; }

  // Exchanges data between the members and the controls; `toMembers` takes the controls'
  // values into the members.
  void UpdateData(bool toMembers);
  // Ends the modal loop with `result` once the message in hand has been handled.
  void EndDialog(INT_PTR result);

 protected:
  virtual void DoDataExchange(DataExchange&) {}
  // The dialog has been made: by default the members are shown in the controls.
  virtual void OnInitDialog();
  // Enter, and the OK button: the controls into the members, then the end.
  virtual void OnOK();
  // Esc and the system menu's close entry: the end.
  virtual void OnCancel();
  // A command from a control (WM_COMMAND); true when handled.
  virtual bool OnCommand(int /*id*/, int /*notification*/) { return false; }
  // Any other message; true when handled, with what the dialog procedure answers in `result`
  // (see DialogProc for which messages answer directly).
  virtual bool OnMessage(UINT /*message*/, WPARAM, LPARAM, INT_PTR* /*result*/) { return false; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HWND window_ = nullptr;
};

// The program's one application object: start-up, then exit, whose result is the process's
// exit status. A dialog-based program does all its work inside InitInstance and returns false
// there, so that no message loop of its own follows.
class Application {
 public:
  Application();
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  static Application& Current();
  HINSTANCE Instance() const { return instance_; }

  // The program's life: InitInstance, then ExitInstance's result.
  int Run(HINSTANCE instance);

 protected:
  virtual bool InitInstance() = 0;
  virtual int ExitInstance() { return 0; }

 private:
  HINSTANCE instance_ = nullptr;
};

}  // namespace win

#endif  // KVX_DIALOG_FRAMEWORK_H
