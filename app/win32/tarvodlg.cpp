#include "tarvodlg.h"

// windows.h first: shlobj.h needs its types.
#include <shlobj.h>

#include <cstdlib>
#include <string>

#include "program_texts.h"
#include "resource.h"
#include "wide_text.h"

namespace {

// The folder chooser's notifications: when it opens, the initial folder is pre-selected; as the
// selection changes, the status text shows the chosen folder's path. Always 0.
int CALLBACK BrowseCallback(HWND chooser, UINT notification, LPARAM parameter,
                            LPARAM initialFolder) {
  if (notification == BFFM_INITIALIZED) {
    SendMessageW(chooser, BFFM_SETSELECTIONW, TRUE, initialFolder);
  } else if (notification == BFFM_SELCHANGED) {
    wchar_t path[MAX_PATH];
    if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(parameter), path)) {
      SendMessageW(chooser, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
    }
  }
  return 0;
}

// The longest path, in code page 932 bytes, that the program takes from the chooser.
constexpr std::size_t kLongestPath = MAX_PATH - 1;

// "1.2.0.1" from a module's version resource, or "?" when it has none.
std::wstring FileVersionOf(HMODULE module) {
  wchar_t path[MAX_PATH];
  if (GetModuleFileNameW(module, path, MAX_PATH) == 0) return L"?";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return L"?";
  std::string block(size, '\0');
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(path, 0, size, block.data()) ||
      !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
      fixed == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    return L"?";
  }
  return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
         std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
         std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
         std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

}  // namespace

CTarvoDlg::CTarvoDlg(TransferState& transfer)
    : win::ModalDialog(IDD_MAIN),
      engine_(*this, *this, files_, transfer, link_),
      icon_(LoadIconW(win::Application::Current().Instance(), MAKEINTRESOURCEW(IDR_APP_ICON))) {}

void CTarvoDlg::OnDataTransfer() {
  const std::string folder = ChooseSaveFolder(Handle(), "c");
  if (folder.empty()) return;
  UpdateData(true);  // the display mode, for the whole transfer
  engine_.Run(folder, displayMode);
  // After its message, no memory ends the program.
  if (engine_.transferEnd == TransferEnd::NoMemory) std::exit(1);  // NOLINT(concurrency-mt-unsafe)
}

void CTarvoDlg::ShowStatus(const std::string& text) {
  statusText = text;
  UpdateData(false);
}

void CTarvoDlg::SetBusy(bool busy) {
  EnableControl(IDC_TRANSFER, !busy);
  EnableControl(IDC_CLOSE, !busy);
}

void CTarvoDlg::BlockArrived(const TransferProgress&) {
  // The status line's heartbeat shows at once, and one waiting message goes through.
  RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  MSG message;
  if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void CTarvoDlg::Alert(const std::string& message) {
  MessageBoxW(Handle(), win::ScreenText(message).c_str(), L"KVX-300", MB_OK);
}

std::string ChooseSaveFolder(HWND owner, const std::string& initialFolder) {
  const std::wstring wideTitle = win::ScreenText(std::string(kvx::texts::kChooseFolderTitle));
  const std::wstring wideInitial = win::ScreenText(initialFolder);
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW browse = {};
  // The dialog owns the chooser, so that it cannot be used (a second "データ転送") meanwhile.
  browse.hwndOwner = owner;
  browse.pidlRoot = nullptr;  // the desktop
  browse.pszDisplayName = displayName;
  browse.lpszTitle = wideTitle.c_str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  browse.lpfn = BrowseCallback;
  browse.lParam = reinterpret_cast<LPARAM>(wideInitial.c_str());
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse);
  if (item == nullptr) return "";
  wchar_t path[MAX_PATH];
  const bool hasPath = SHGetPathFromIDListW(item, path) != FALSE;
  CoTaskMemFree(item);
  // A folder whose path has no code page 932 form, or one too long for the program's paths,
  // counts as no path at all: it would otherwise be written to under another name, or cut.
  std::string chosen;
  if (!hasPath || !kvx::win32::FromWide(kvx::win32::kCodePage932, path, &chosen) ||
      chosen.size() > kLongestPath) {
    return "";
  }
  return chosen;
}

void CTarvoDlg::EnableControl(int id, bool enabled) {
  const HWND control = GetDlgItem(Handle(), id);
  // A control disabled with the focus would take the focus with it, and the keyboard (Esc,
  // Enter, Tab) would do nothing in the dialog until a click; the focus moves on first.
  if (!enabled && GetFocus() == control) SendMessageW(Handle(), WM_NEXTDLGCTL, 0, FALSE);
  EnableWindow(control, enabled ? TRUE : FALSE);
}

void CTarvoDlg::Pause(uint32_t milliseconds) {
  Sleep(milliseconds);
}

uint64_t CTarvoDlg::MonotonicMilliseconds() {
  return GetTickCount64();
}

void CTarvoDlg::DoDataExchange(win::DataExchange& exchange) {
  exchange.Text(IDC_STATUS, statusText);
  exchange.Radio(IDC_RELATIVE_TIME, displayMode);
}

void CTarvoDlg::OnInitDialog() {
  win::ModalDialog::OnInitDialog();
  // The about box's entry in the system menu.
  wchar_t entry[128];
  const HMENU menu = GetSystemMenu(Handle(), FALSE);
  if (menu != nullptr &&
      LoadStringW(win::Application::Current().Instance(), IDS_ABOUT_ENTRY, entry, 128) > 0) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, ABOUT_COMMAND_ID, entry);
  }
}

bool CTarvoDlg::OnCommand(int id, int notification) {
  if (notification != BN_CLICKED) return false;
  if (id == IDC_TRANSFER) {
    OnDataTransfer();
    return true;
  }
  if (id == IDC_CLOSE) {
    OnCloseButton();
    return true;
  }
  return false;
}

bool CTarvoDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR* result) {
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != ABOUT_COMMAND_ID) return false;
      OnSysCommand(wParam);
      return true;
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      *result = reinterpret_cast<INT_PTR>(icon_);
      return true;
    default:
      return false;
  }
}

void CTarvoDlg::OnSysCommand(WPARAM) {
  CAboutDlg about;
  about.DoModal(Handle());
}

bool CTarvoDlg::OnPaint() {
  if (!IsIconic(Handle())) return false;
  PAINTSTRUCT paint;
  const HDC context = BeginPaint(Handle(), &paint);
  SendMessageW(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context), 0);
  const int iconWidth = GetSystemMetrics(SM_CXICON);
  const int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(Handle(), &client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  DrawIcon(context, x, y, icon_);
  EndPaint(Handle(), &paint);
  return true;
}

void CTarvoDlg::OnCloseButton() {
  OnOK();
}

CAboutDlg::CAboutDlg() : win::ModalDialog(IDD_ABOUT) {}

void CAboutDlg::OnInitDialog() {
  const std::wstring program = L"KVX-300  バージョン " + FileVersionOf(nullptr);
  const std::wstring library =
      L"tarvo.dll  バージョン " + FileVersionOf(GetModuleHandleW(L"tarvo.dll"));
  SetDlgItemTextW(Handle(), IDC_ABOUT_PROGRAM, program.c_str());
  SetDlgItemTextW(Handle(), IDC_ABOUT_LIBRARY, library.c_str());
}
