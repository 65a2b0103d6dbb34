#include "dialog_framework.h"

#include "wide_text.h"

namespace win {

namespace {

Application* currentApplication = nullptr;

}  // namespace

std::wstring ScreenText(std::string_view cp932) {
  std::wstring wide;
  if (kvx::win32::ToWide(kvx::win32::kCodePage932, std::string(cp932), &wide)) return wide;
  // Not expected for the program's own texts; shown as best it can be rather than not at all.
  const int size = static_cast<int>(cp932.size());
  wide.resize(static_cast<std::size_t>(size));
  const int length =
      MultiByteToWideChar(kvx::win32::kCodePage932, 0, cp932.data(), size, wide.data(), size);
  wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return wide;
}

void DataExchange::Text(int id, std::string& member) {
  if (!toMembers_) {
    SetDlgItemTextW(dialog_, id, ScreenText(member).c_str());
    return;
  }
  const HWND control = GetDlgItem(dialog_, id);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  std::string cp932;
  // A text typed in that code page 932 cannot hold is not taken in another form.
  if (kvx::win32::FromWide(kvx::win32::kCodePage932, text, &cp932)) member = cp932;
}

void DataExchange::Radio(int firstId, int32_t& index) {
  // The group: from its first button to the next control that starts a group.
  HWND button = GetDlgItem(dialog_, firstId);
  for (int32_t i = 0; button != nullptr; ++i) {
    if (toMembers_) {
      if (i == 0) index = -1;
      if (SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED) index = i;
    } else {
      SendMessageW(button, BM_SETCHECK, i == index ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    button = GetWindow(button, GW_HWNDNEXT);
    if (button == nullptr || (GetWindowLongW(button, GWL_STYLE) & WS_GROUP) != 0) break;
  }
}

INT_PTR ModalDialog::DoModal(HWND owner) {
  return DialogBoxParamW(Application::Current().Instance(), MAKEINTRESOURCEW(templateId_), owner,
                         DialogProc, reinterpret_cast<LPARAM>(this));
}

void ModalDialog::UpdateData(bool toMembers) {
  DataExchange exchange(window_, toMembers);
  DoDataExchange(exchange);
}

void ModalDialog::EndDialog(INT_PTR result) {
  ::EndDialog(window_, result);
}

void ModalDialog::OnInitDialog() {
  UpdateData(false);
}

void ModalDialog::OnOK() {
  UpdateData(true);
  EndDialog(IDOK);
}

void ModalDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<ModalDialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    dialog->window_ = window;
  }
  auto* dialog = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  return dialog != nullptr ? dialog->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR ModalDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;  // the dialog manager sets the focus
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int notification = HIWORD(wParam);
      if (OnCommand(id, notification)) return TRUE;
      // The dialog manager sends IDOK for Enter (there is no default button) and IDCANCEL
      // for Esc and for the close entry of the system menu.
      if (id == IDOK && notification == BN_CLICKED) {
        OnOK();
        return TRUE;
      }
      if (id == IDCANCEL && notification == BN_CLICKED) {
        OnCancel();
        return TRUE;
      }
      return FALSE;
    }
    default: {
      INT_PTR result = FALSE;
      if (!OnMessage(message, wParam, lParam, &result)) return FALSE;
      // Most messages give their answer through DWLP_MSGRESULT; these few give it directly.
      const bool direct = message == WM_QUERYDRAGICON || message == WM_CTLCOLORSTATIC ||
                          message == WM_CTLCOLORBTN || message == WM_CTLCOLORDLG;
      if (direct) return result;
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
      return TRUE;
    }
  }
}

Application::Application() {
  currentApplication = this;
}

Application::~Application() {
  if (currentApplication == this) currentApplication = nullptr;
}

Application& Application::Current() {
  return *currentApplication;
}

int Application::Run(HINSTANCE instance) {
  instance_ = instance;
  InitInstance();  // Its work is done by the time it returns; there is no loop to run after it.
  return ExitInstance();
}

}  // namespace win
