// window-probe: finds KVX-300.exe's windows from another process, reads back what they show and
// acts on them as an operator would (clicks, the folder chooser, message boxes, the system
// menu). Run under Wine by scripts/window-tests; see Usage() for the commands. Prints one line
// per fact on stdout, in UTF-8 (carriage returns and line feeds of a text as \r and \n); exits 0
// when everything asked held, 1 on a failure or when a bounded wait ran out, 2 on a usage error.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "resource.h"
#include "utf8_text.h"

namespace {

const wchar_t kMainTitle[] = L"KVX-300  Ver. 3.1";
const wchar_t kAboutTitle[] = L"バージョン情報";
const wchar_t kChooserTitle[] = L"Browse for Folder";
const wchar_t kDialogFont[] = L"ＭＳ Ｐゴシック";
const wchar_t kCommunicating[] = L"通信中…";
const wchar_t kFinished[] = L"終了しました";

constexpr int kTransferButton = IDC_TRANSFER;
constexpr int kCloseButton = IDC_CLOSE;
constexpr int kStatusLine = IDC_STATUS;
constexpr int kRelativeTime = IDC_RELATIVE_TIME;
constexpr int kAbsoluteTime = IDC_ABSOLUTE_TIME;

// The main dialog's controls by the names that the commands and their output use.
struct NamedControl {
  const wchar_t* name;
  int id;
};
const NamedControl kNamedControls[] = {{L"transfer", kTransferButton},
                                       {L"close", kCloseButton},
                                       {L"relative", kRelativeTime},
                                       {L"absolute", kAbsoluteTime}};

// The name of a control, or its id when it has none.
std::string NameOf(int id) {
  for (const NamedControl& control : kNamedControls) {
    if (control.id == id) {
      std::string name;
      for (const wchar_t* c = control.name; *c != L'\0'; ++c)
        name += static_cast<char>(*c);
      return name;
    }
  }
  return std::to_string(id);
}

// The id of the control with this name, or 0.
int IdNamed(const wchar_t* name) {
  for (const NamedControl& control : kNamedControls) {
    if (std::wcscmp(control.name, name) == 0) return control.id;
  }
  return 0;
}
constexpr DWORD kPollMs = 20;
constexpr DWORD kFindSeconds = 10;

int failures = 0;

// A text on one line: carriage returns, line feeds and tabs as \r, \n and \t.
std::string OneLine(const std::wstring& text) {
  std::wstring escaped;
  for (const wchar_t c : text) {
    if (c == L'\r') {
      escaped += L"\\r";
    } else if (c == L'\n') {
      escaped += L"\\n";
    } else if (c == L'\t') {
      escaped += L"\\t";
    } else {
      escaped += c;
    }
  }
  return Utf8(escaped);
}

// A line that stdout does not take is missing from what the test reads: that fails the test.
void Line(const std::string& text) {
  (void)std::fwrite(text.data(), 1, text.size(), stdout);
  (void)std::fputc('\n', stdout);
  (void)std::fflush(stdout);
}

void Check(bool ok, const std::string& what) {
  Line((ok ? "ok   " : "FAIL ") + what);
  if (!ok) ++failures;
}

std::string Hex(DWORD value) {
  char text[16];
  (void)std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
  return text;
}

std::string Units(double value) {
  char text[32];
  (void)std::snprintf(text, sizeof text, "%.1f", value);  // dialog units: a few digits
  return text;
}

ULONGLONG Deadline(double seconds) {
  return GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
}

// The window's text without sending it a message: a busy program (a transfer lets one message
// through per block) must not hold up the probe, and the system keeps every window's text.
std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

// A message to another process's window, given up after 5 seconds.
LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result)) {
    return -1;
  }
  return static_cast<LRESULT>(result);
}

// A top-level #32770 with this title (hidden ones too), waiting up to `seconds`.
HWND FindDialog(const wchar_t* title, double seconds) {
  const ULONGLONG end = Deadline(seconds);
  for (;;) {
    if (HWND found = FindWindowW(L"#32770", title)) return found;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(kPollMs);
  }
}

HWND MainDialog() {
  HWND dialog = FindDialog(kMainTitle, kFindSeconds);
  if (dialog == nullptr) Line("FAIL no window \"" + Utf8(kMainTitle) + "\"");
  return dialog;
}

bool WaitGone(HWND window, double seconds) {
  const ULONGLONG end = Deadline(seconds);
  while (IsWindow(window)) {
    if (GetTickCount64() >= end) return false;
    Sleep(kPollMs);
  }
  return true;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

DWORD StyleOf(HWND window) {
  return static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
}

// ---- Dialog units --------------------------------------------------------------------------

// Pixels per 1000 dialog units, horizontally and vertically, for the font of KVX-300's
// dialogs. MapDialogRect only answers for a dialog of the calling process under Wine, so a
// hidden dialog of the probe's own with the same font gives the scale.
struct Scale {
  double x = 0;
  double y = 0;
};

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

void PutWord(std::vector<WORD>& out, DWORD value) {
  out.push_back(static_cast<WORD>(value & 0xFFFF));
}
void PutDword(std::vector<WORD>& out, DWORD value) {
  PutWord(out, value);
  PutWord(out, value >> 16);
}
void PutText(std::vector<WORD>& out, const wchar_t* text) {
  for (; *text != 0; ++text)
    PutWord(out, static_cast<WORD>(*text));
  PutWord(out, 0);
}

bool DialogFontScale(HWND probeDialog, Scale* scale) {
  RECT rect = {0, 0, 4000, 8000};
  if (!MapDialogRect(probeDialog, &rect)) return false;
  scale->x = rect.right / 4.0;
  scale->y = rect.bottom / 8.0;
  return true;
}

bool ScaleOfDialogFont(Scale* scale) {
  std::vector<WORD> dialogTemplate;
  PutWord(dialogTemplate, 1);       // dlgVer
  PutWord(dialogTemplate, 0xFFFF);  // signature: DLGTEMPLATEEX
  PutDword(dialogTemplate, 0);      // helpID
  PutDword(dialogTemplate, 0);      // exStyle
  PutDword(dialogTemplate, WS_POPUP | WS_CAPTION | DS_SETFONT | DS_MODALFRAME);
  PutWord(dialogTemplate, 0);  // no controls
  for (int i = 0; i < 4; ++i)
    PutWord(dialogTemplate, 10);
  PutWord(dialogTemplate, 0);  // no menu
  PutWord(dialogTemplate, 0);  // the dialog class
  PutText(dialogTemplate, L"scale");
  PutWord(dialogTemplate, 9);       // points
  PutWord(dialogTemplate, 400);     // weight
  PutWord(dialogTemplate, 0x0100);  // italic 0, charset 1
  PutText(dialogTemplate, kDialogFont);
  HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()),
                                           nullptr, QuietDialogProc, 0);
  if (dialog == nullptr) return false;
  const bool ok = DialogFontScale(dialog, scale);
  DestroyWindow(dialog);
  return ok;
}

// ---- layout --------------------------------------------------------------------------------

struct ExpectedControl {
  int id;
  const wchar_t* className;
  const wchar_t* text;  // as shown at first display
  DWORD typeMask;       // the bits that make the control's kind
  DWORD type;
  DWORD required;  // other style bits that must be set
  DWORD absent;    // and bits that must not be
};

const ExpectedControl kMainControls[] = {
    {kTransferButton, L"Button", L"データ転送", BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP, WS_GROUP},
    {kCloseButton, L"Button", L"閉じる", BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP, WS_GROUP},
    {kStatusLine, L"Static", L"", SS_TYPEMASK, SS_CENTER, WS_GROUP, WS_TABSTOP},
    {kRelativeTime, L"Button", L"相対時間", BS_TYPEMASK, BS_AUTORADIOBUTTON, BS_NOTIFY | WS_GROUP,
     0},
    {kAbsoluteTime, L"Button", L"絶対時間", BS_TYPEMASK, BS_AUTORADIOBUTTON, BS_NOTIFY, WS_GROUP},
    {-1, L"Button", L"表示方法", BS_TYPEMASK, BS_GROUPBOX, WS_GROUP, WS_TABSTOP},
};

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

bool Overlap(const RECT& a, const RECT& b) {
  RECT both;
  return IntersectRect(&both, &a, &b) != FALSE;
}

// The width in pixels of a control's text in the dialog's font (9 points of kDialogFont; the
// program's own font handle is no use in this process).
int TextWidth(HWND control) {
  const std::wstring text = TextOf(control);
  HDC context = GetDC(control);
  HFONT font = CreateFontW(-MulDiv(9, GetDeviceCaps(context, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL,
                           FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, kDialogFont);
  HGDIOBJ before = SelectObject(context, font);
  SIZE size = {};
  GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(context, before);
  DeleteObject(font);
  ReleaseDC(control, context);
  return size.cx;
}

int Layout() {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  Scale scale;
  std::string scaleFrom = "MapDialogRect of the dialog";
  if (!DialogFontScale(dialog, &scale)) {
    scaleFrom = "MapDialogRect of a dialog of the probe with its font";
    if (!ScaleOfDialogFont(&scale)) {
      Line("FAIL no dialog unit scale for the font");
      return 1;
    }
  }
  Line("     dialog units: " + Units(scale.x) + " x " + Units(scale.y) + " pixels per 1000 (" +
       scaleFrom + ")");

  Check(TextOf(dialog) == kMainTitle, "title \"" + Utf8(TextOf(dialog)) + "\"");
  const DWORD style = StyleOf(dialog);
  const DWORD wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
  // The system adds WS_CLIPSIBLINGS to every top-level window and DS_3DLOOK to every dialog;
  // DS_MODALFRAME brings WS_EX_DLGMODALFRAME, the caption WS_EX_WINDOWEDGE, and a dialog is a
  // WS_EX_CONTROLPARENT.
  const DWORD systemStyle = WS_CLIPSIBLINGS | DS_3DLOOK;
  Check((style & ~systemStyle) == wanted,
        "style " + Hex(style) + ": WS_POPUP WS_VISIBLE WS_CAPTION WS_SYSMENU DS_MODALFRAME " +
            "DS_SETFONT");
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE));
  const DWORD systemExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;
  Check((exStyle & ~systemExStyle) == WS_EX_APPWINDOW,
        "extended style " + Hex(exStyle) + ": WS_EX_APPWINDOW");
  RECT client;
  GetClientRect(dialog, &client);
  Line("     client area " + Units(client.right * 1000.0 / scale.x) + " x " +
       Units(client.bottom * 1000.0 / scale.y) + " dialog units");
  std::vector<RECT> rects;

  const std::vector<HWND> children = Children(dialog);
  Check(children.size() == std::size(kMainControls), std::to_string(children.size()) + " controls");
  for (std::size_t i = 0; i < children.size() && i < std::size(kMainControls); ++i) {
    const ExpectedControl& want = kMainControls[i];
    HWND control = children[i];
    const int id = GetDlgCtrlID(control);
    const std::wstring className = ClassOf(control);
    const std::wstring text = TextOf(control);
    const DWORD controlStyle = StyleOf(control);
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    const double x = rect.left * 1000.0 / scale.x;
    const double y = rect.top * 1000.0 / scale.y;
    const double cx = (rect.right - rect.left) * 1000.0 / scale.x;
    const double cy = (rect.bottom - rect.top) * 1000.0 / scale.y;
    rects.push_back(rect);
    const bool idMatches = want.id == -1 ? LOWORD(id) == 0xFFFF : id == want.id;
    const std::string what = "control " + std::to_string(i + 1) + ": " + Utf8(className) + " id " +
                             std::to_string(id) + " \"" + Utf8(text) + "\" style " +
                             Hex(controlStyle) + " at " + Units(x) + "," + Units(y) + " " +
                             Units(cx) + "x" + Units(cy);
    const bool styleMatches = (controlStyle & want.typeMask) == want.type &&
                              (controlStyle & want.required) == want.required &&
                              (controlStyle & want.absent) == 0 &&
                              (controlStyle & (WS_CHILD | WS_VISIBLE)) == (WS_CHILD | WS_VISIBLE);
    // A radio button's text stands beside its circle: it needs some 12 dialog units more.
    const int room = (rect.right - rect.left) - ((controlStyle & BS_TYPEMASK) == BS_AUTORADIOBUTTON
                                                     ? static_cast<int>(12 * scale.x / 1000)
                                                     : 0);
    const int textWidth = TextWidth(control);
    Check(idMatches && _wcsicmp(className.c_str(), want.className) == 0 && text == want.text &&
              styleMatches && Inside(rect, client) && textWidth <= room,
          what + ", inside the client area, its text fitting (" + std::to_string(textWidth) +
              " of " + std::to_string(room) + " pixels)");
  }
  // The group box holds the two radio buttons; no other controls overlap.
  if (rects.size() == std::size(kMainControls)) {
    const RECT& group = rects[5];
    Check(Inside(rects[3], group) && Inside(rects[4], group) && !Overlap(rects[3], rects[4]),
          "the group box 表示方法 holds 相対時間 and 絶対時間, one above the other");
    bool apart = true;
    for (std::size_t a = 0; a < 3; ++a) {
      for (std::size_t b = a + 1; b < rects.size(); ++b)
        apart = apart && !Overlap(rects[a], rects[b]);
    }
    Check(apart, "the buttons and the status line overlap no other control");
  }
  for (const int button : {kTransferButton, kCloseButton}) {
    HWND control = GetDlgItem(dialog, button);
    Check(control != nullptr && (StyleOf(control) & BS_TYPEMASK) != BS_DEFPUSHBUTTON &&
              IsWindowEnabled(control),
          NameOf(button) + " enabled, not a default button");
  }
  const LRESULT relative = Ask(GetDlgItem(dialog, kRelativeTime), BM_GETCHECK);
  const LRESULT absolute = Ask(GetDlgItem(dialog, kAbsoluteTime), BM_GETCHECK);
  Check(relative == BST_CHECKED && absolute == BST_UNCHECKED, "相対時間 checked, 絶対時間 not (" +
                                                                  std::to_string(relative) + ", " +
                                                                  std::to_string(absolute) + ")");
  Check(TextOf(GetDlgItem(dialog, kStatusLine)).empty(),
        "status line empty at first display (\"" +
            OneLine(TextOf(GetDlgItem(dialog, kStatusLine))) + "\")");
  return failures == 0 ? 0 : 1;
}

// ---- resources -----------------------------------------------------------------------------

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 0x0411

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) {
  reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
  return TRUE;
}

std::vector<WORD> LanguagesOf(HMODULE module, LPCWSTR type, LPCWSTR name) {
  std::vector<WORD> languages;
  EnumResourceLanguagesW(module, type, name, AddLanguage, reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

std::string LanguageList(const std::vector<WORD>& languages) {
  std::string list;
  for (const WORD language : languages) {
    char text[8];
    (void)std::snprintf(text, sizeof text, "%04x", language);
    if (!list.empty()) list += ' ';
    list += text;
  }
  return list.empty() ? "none" : list;
}

// The resource's bytes in Japanese, after checking that it exists in that language only.
std::vector<BYTE> JapaneseResource(HMODULE module, LPCWSTR type, LPCWSTR name,
                                   const std::string& what) {
  const std::vector<WORD> languages = LanguagesOf(module, type, name);
  Check(languages == std::vector<WORD>{kJapanese}, what + ": language " + LanguageList(languages));
  HRSRC found = FindResourceExW(module, type, name, kJapanese);
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const BYTE* bytes = static_cast<const BYTE*>(LockResource(loaded));
  if (bytes == nullptr) return {};
  return std::vector<BYTE>(bytes, bytes + SizeofResource(module, found));
}

// Reads a dialog template (DLGTEMPLATEEX) field by field.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}
  bool Ok() const { return ok_; }
  WORD Word() {
    WORD value = 0;
    Take(&value, sizeof value);
    return value;
  }
  DWORD Dword() {
    DWORD value = 0;
    Take(&value, sizeof value);
    return value;
  }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() {
    BYTE value = 0;
    Take(&value, sizeof value);
    return value;
  }
  std::wstring Text() {
    std::wstring text;
    for (WORD c = Word(); ok_ && c != 0; c = Word())
      text += static_cast<wchar_t>(c);
    return text;
  }
  // A name or an ordinal: the ordinal as "#N".
  std::wstring NameOrOrdinal() {
    const WORD first = Word();
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    if (first == 0) return L"";
    std::wstring text(1, static_cast<wchar_t>(first));
    return text + Text();
  }
  void AlignToDword() { offset_ = (offset_ + 3) & ~static_cast<std::size_t>(3); }
  void Skip(std::size_t count) { offset_ += count; }

 private:
  void Take(void* out, std::size_t size) {
    if (offset_ + size > bytes_.size()) {
      ok_ = false;
      return;
    }
    std::memcpy(out, bytes_.data() + offset_, size);
    offset_ += size;
  }
  const std::vector<BYTE>& bytes_;
  std::size_t offset_ = 0;
  bool ok_ = true;
};

struct TemplateItem {
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  std::wstring className;
  std::wstring text;
};

struct DialogTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  int cx = 0, cy = 0;
  std::wstring title;
  int points = 0, weight = 0, italic = 0, charset = 0;
  std::wstring font;
  std::vector<TemplateItem> items;
};

std::wstring ClassNameOf(const std::wstring& name) {
  if (name == L"#128") return L"Button";
  if (name == L"#129") return L"Edit";
  if (name == L"#130") return L"Static";
  return name;
}

bool ReadDialogTemplate(const std::vector<BYTE>& bytes, DialogTemplate* dialog) {
  TemplateReader in(bytes);
  if (in.Word() != 1 || in.Word() != 0xFFFF) return false;  // DLGTEMPLATEEX only
  in.Dword();                                               // help id
  dialog->exStyle = in.Dword();
  dialog->style = in.Dword();
  const WORD count = in.Word();
  in.Short();
  in.Short();
  dialog->cx = in.Short();
  dialog->cy = in.Short();
  in.NameOrOrdinal();  // menu
  in.NameOrOrdinal();  // class
  dialog->title = in.Text();
  if ((dialog->style & DS_SETFONT) != 0) {
    dialog->points = in.Word();
    dialog->weight = in.Word();
    dialog->italic = in.Byte();
    dialog->charset = in.Byte();
    dialog->font = in.Text();
  }
  for (WORD i = 0; i < count && in.Ok(); ++i) {
    in.AlignToDword();
    TemplateItem item;
    in.Dword();  // help id
    item.exStyle = in.Dword();
    item.style = in.Dword();
    item.x = in.Short();
    item.y = in.Short();
    item.cx = in.Short();
    item.cy = in.Short();
    item.id = static_cast<int>(in.Dword());
    item.className = ClassNameOf(in.NameOrOrdinal());
    item.text = in.NameOrOrdinal();
    in.Skip(in.Word());  // creation data
    dialog->items.push_back(item);
  }
  return in.Ok();
}

void CheckMainTemplate(HMODULE module) {
  const std::vector<BYTE> bytes =
      JapaneseResource(module, RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN), "dialog 102");
  DialogTemplate dialog;
  if (!ReadDialogTemplate(bytes, &dialog)) {
    Check(false, "dialog 102: a DLGTEMPLATEEX that reads to its end");
    return;
  }
  Check(dialog.title == kMainTitle, "dialog 102: \"" + Utf8(dialog.title) + "\"");
  Check(dialog.style ==
                (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT) &&
            dialog.exStyle == WS_EX_APPWINDOW,
        "dialog 102: style " + Hex(dialog.style) + ", extended style " + Hex(dialog.exStyle));
  Check(dialog.points == 9 && dialog.font == kDialogFont && dialog.weight == 400 &&
            dialog.italic == 0 && dialog.charset == 1,
        "dialog 102: font " + std::to_string(dialog.points) + " pt \"" + Utf8(dialog.font) +
            "\", weight " + std::to_string(dialog.weight) + ", charset " +
            std::to_string(dialog.charset));
  struct Item {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
  };
  const Item expected[] = {
      {kTransferButton, L"Button", L"データ転送", BS_PUSHBUTTON | WS_TABSTOP},
      {kCloseButton, L"Button", L"閉じる", BS_PUSHBUTTON | WS_TABSTOP},
      {kStatusLine, L"Static", L"スタティック", SS_CENTER | WS_GROUP},
      {kRelativeTime, L"Button", L"相対時間", BS_AUTORADIOBUTTON | BS_NOTIFY | WS_GROUP},
      {kAbsoluteTime, L"Button", L"絶対時間", BS_AUTORADIOBUTTON | BS_NOTIFY},
      {-1, L"Button", L"表示方法", BS_GROUPBOX | WS_GROUP},
  };
  Check(dialog.items.size() == std::size(expected),
        "dialog 102: " + std::to_string(dialog.items.size()) + " controls");
  for (std::size_t i = 0; i < dialog.items.size() && i < std::size(expected); ++i) {
    const TemplateItem& item = dialog.items[i];
    const Item& want = expected[i];
    Check(item.id == want.id && _wcsicmp(item.className.c_str(), want.className) == 0 &&
              item.text == want.text && item.style == (want.style | WS_CHILD | WS_VISIBLE) &&
              item.exStyle == 0,
          "dialog 102 control " + std::to_string(i + 1) + ": " + Utf8(item.className) + " id " +
              std::to_string(item.id) + " \"" + Utf8(item.text) + "\" style " + Hex(item.style));
  }
}

void CheckAboutTemplate(HMODULE module) {
  const std::vector<BYTE> bytes =
      JapaneseResource(module, RT_DIALOG, MAKEINTRESOURCEW(IDD_ABOUT), "dialog 100");
  DialogTemplate dialog;
  const bool read = ReadDialogTemplate(bytes, &dialog);
  std::set<int> ids;
  for (const TemplateItem& item : dialog.items) {
    if (_wcsicmp(item.className.c_str(), L"Static") == 0) ids.insert(item.id);
  }
  Check(read && dialog.title == kAboutTitle && ids.count(IDC_ABOUT_PROGRAM) == 1 &&
            ids.count(IDC_ABOUT_LIBRARY) == 1,
        "dialog 100: \"" + Utf8(dialog.title) +
            "\" with the statics of the program's and the library's versions");
}

// The size of an icon image: a PNG's IHDR, or a DIB with its mask (twice as high).
bool IconImage(const std::vector<BYTE>& image, int* width, int* height, int* bitsPerPixel) {
  static const BYTE kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (image.size() >= 26 && std::memcmp(image.data(), kPng, 8) == 0) {
    auto big = [&](std::size_t at) {
      return static_cast<int>((image[at] << 24) | (image[at + 1] << 16) | (image[at + 2] << 8) |
                              image[at + 3]);
    };
    *width = big(16);
    *height = big(20);
    // 8 bits per channel, colour with alpha.
    *bitsPerPixel = image[24] == 8 && image[25] == 6 ? 32 : 0;
    return true;
  }
  BITMAPINFOHEADER header;
  if (image.size() < sizeof header) return false;
  std::memcpy(&header, image.data(), sizeof header);
  if (header.biSize < sizeof header) return false;
  *width = header.biWidth;
  *height = header.biHeight / 2;
  *bitsPerPixel = header.biBitCount;
  return true;
}

void CheckIcon(HMODULE module) {
  const std::vector<BYTE> group =
      JapaneseResource(module, RT_GROUP_ICON, MAKEINTRESOURCEW(IDR_APP_ICON), "icon group 128");
  if (group.size() < 6) {
    Check(false, "icon group 128: a directory");
    return;
  }
  WORD count = 0;
  std::memcpy(&count, group.data() + 4, 2);
  std::set<int> sizes;
  bool all32 = count > 0 && group.size() >= 6 + 14u * count;
  std::string list;
  for (WORD i = 0; i < count && all32; ++i) {
    const BYTE* entry = group.data() + 6 + std::size_t{14} * i;
    WORD bits = 0, imageId = 0;
    std::memcpy(&bits, entry + 6, 2);
    std::memcpy(&imageId, entry + 12, 2);
    const int size = entry[0] == 0 ? 256 : entry[0];
    const std::vector<BYTE> image = JapaneseResource(module, RT_ICON, MAKEINTRESOURCEW(imageId),
                                                     "icon image " + std::to_string(imageId));
    int width = 0, height = 0, imageBits = 0;
    const bool readable = IconImage(image, &width, &height, &imageBits);
    char description[96];
    (void)std::snprintf(description, sizeof description, " %dx%d/%d bpp (image %dx%d/%d)", size,
                        entry[1], bits, width, height, imageBits);
    list += description;
    all32 = all32 && readable && bits == 32 && entry[1] == entry[0] && width == size &&
            height == size && imageBits == 32;
    sizes.insert(size);
  }
  Check(all32 && sizes == std::set<int>{16, 32, 48} && count == 3, "icon group 128:" + list);
}

void CheckVersion(HMODULE module) {
  std::vector<BYTE> block =
      JapaneseResource(module, RT_VERSION, MAKEINTRESOURCEW(1), "version resource 1");
  if (block.empty()) return;
  block.resize(block.size() * 2);  // room for what VerQueryValue may add
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  const bool hasFixed =
      VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
      fixed != nullptr && length >= sizeof(VS_FIXEDFILEINFO);
  const DWORD high = MAKELONG(2, 1), low = MAKELONG(1, 0);  // 1.2 and 0.1
  Check(hasFixed && fixed->dwSignature == VS_FFI_SIGNATURE && fixed->dwFileVersionMS == high &&
            fixed->dwFileVersionLS == low && fixed->dwProductVersionMS == high &&
            fixed->dwProductVersionLS == low,
        "version: file and product 1.2.0.1 (" +
            (hasFixed ? Hex(fixed->dwFileVersionMS) + " " + Hex(fixed->dwFileVersionLS) : "none") +
            ")");
  WORD* translation = nullptr;
  const bool hasTranslation = VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                                             reinterpret_cast<void**>(&translation), &length) &&
                              length >= 4;
  Check(hasTranslation && translation[0] == kJapanese && translation[1] == 1200,
        "version: translation 0411, Unicode");
  for (const wchar_t* key : {L"FileVersion", L"ProductVersion"}) {
    wchar_t* value = nullptr;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\041104b0\\") + key;
    const bool found =
        VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) &&
        value != nullptr;
    const std::wstring text = found ? std::wstring(value) : L"(none)";
    Check(text == L"1, 2, 0, 1", "version: " + Utf8(key) + " \"" + Utf8(text) + "\"");
  }
}

void CheckManifest(HMODULE module) {
  const std::vector<BYTE> bytes =
      JapaneseResource(module, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), "manifest 1");
  const std::string text(bytes.begin(), bytes.end());
  Check(text.find("<requestedExecutionLevel level=\"asInvoker\"") != std::string::npos,
        "manifest: requestedExecutionLevel asInvoker");
}

void CheckAboutEntry(HMODULE module) {
  // String 101 is the sixth of block 7 (strings 96-111), each a length and UTF-16 units.
  const std::vector<BYTE> block = JapaneseResource(
      module, RT_STRING, MAKEINTRESOURCEW(IDS_ABOUT_ENTRY / 16 + 1), "string block 7");
  std::size_t at = 0;
  std::wstring text = L"(none)";
  for (int index = 0; index < 16 && at + 2 <= block.size(); ++index) {
    WORD length = 0;
    std::memcpy(&length, block.data() + at, 2);
    at += 2;
    const std::size_t bytes = std::size_t{2} * length;
    if (index == IDS_ABOUT_ENTRY % 16 && at + bytes <= block.size()) {
      text.assign(length, L'\0');
      std::memcpy(text.data(), block.data() + at, bytes);
    }
    at += bytes;
  }
  Check(text == L"tarvo のﾊﾞｰｼﾞｮﾝ情報(&A)...", "string 101 \"" + Utf8(text) + "\"");
}

int Resources(const wchar_t* path) {
  HMODULE module =
      LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) {
    Line("FAIL cannot load " + Utf8(path) + " as a data file");
    return 1;
  }
  CheckMainTemplate(module);
  CheckAboutTemplate(module);
  CheckIcon(module);
  CheckVersion(module);
  CheckManifest(module);
  CheckAboutEntry(module);
  FreeLibrary(module);
  return failures == 0 ? 0 : 1;
}

// The version resource alone, as the tools that go out with the program carry it.
int Version(const wchar_t* path) {
  HMODULE module =
      LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) {
    Line("FAIL cannot load " + Utf8(path) + " as a data file");
    return 1;
  }
  CheckVersion(module);
  FreeLibrary(module);
  return failures == 0 ? 0 : 1;
}

// ---- acting and reading back ---------------------------------------------------------------

int WaitWindow(const wchar_t* title, double seconds) {
  HWND window = FindDialog(title, seconds);
  Line(std::string(window != nullptr ? "window" : "no window") + " \"" + Utf8(title) + "\"");
  return window != nullptr ? 0 : 1;
}

// Closes the dialog as its close box does and waits for its program to end: the program's
// single-copy mutex lasts until its process is gone, a moment after its window.
int CloseProgram(double seconds) {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  DWORD processId = 0;
  GetWindowThreadProcessId(dialog, &processId);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  const bool ended =
      process != nullptr &&
      WaitForSingleObject(process, static_cast<DWORD>(seconds * 1000)) == WAIT_OBJECT_0;
  if (process != nullptr) CloseHandle(process);
  Line(ended ? "program ended" : "program still running");
  return ended ? 0 : 1;
}

struct CountRequest {
  const wchar_t* title;
  int count;
};

BOOL CALLBACK CountVisible(HWND window, LPARAM parameter) {
  auto* request = reinterpret_cast<CountRequest*>(parameter);
  if (IsWindowVisible(window) && ClassOf(window) == L"#32770" && TextOf(window) == request->title) {
    ++request->count;
  }
  return TRUE;
}

int CountWindows(const wchar_t* title) {
  CountRequest request = {title, 0};
  EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&request));
  Line("windows: " + std::to_string(request.count));
  return 0;
}

int Status() {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  Line(OneLine(TextOf(GetDlgItem(dialog, kStatusLine))));
  return 0;
}

std::string EnabledText(HWND dialog, int id) {
  return NameOf(id) + (IsWindowEnabled(GetDlgItem(dialog, id)) ? " enabled" : " disabled");
}

int Enabled() {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  Line(EnabledText(dialog, kTransferButton));
  Line(EnabledText(dialog, kCloseButton));
  return 0;
}

int Radio() {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  for (const int id : {kRelativeTime, kAbsoluteTime}) {
    const LRESULT state = Ask(GetDlgItem(dialog, id), BM_GETCHECK);
    Line(NameOf(id) + (state == BST_CHECKED     ? " checked"
                       : state == BST_UNCHECKED ? " unchecked"
                                                : " unknown"));
  }
  return 0;
}

// Posted, not sent: the transfer runs inside the click's handler.
int Click(int id) {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr || !PostMessageW(control, BM_CLICK, 0, 0)) {
    Line("FAIL no control " + NameOf(id));
    return 1;
  }
  Line("clicked " + NameOf(id));
  return 0;
}

int ChooseFolder(bool accept, double seconds) {
  HWND chooser = FindDialog(kChooserTitle, seconds);
  if (chooser == nullptr) {
    Line("FAIL no folder chooser within " + Units(seconds) + " s");
    return 1;
  }
  for (HWND child : Children(chooser)) {
    if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0 && !TextOf(child).empty()) {
      Line("prompt: " + OneLine(TextOf(child)));
    }
  }
  PostMessageW(chooser, WM_COMMAND, accept ? IDOK : IDCANCEL, 0);
  if (!WaitGone(chooser, 5)) {
    Line("FAIL the folder chooser is still open");
    return 1;
  }
  Line(accept ? "chose the selected folder" : "cancelled");
  return 0;
}

struct BoxSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindMessageBox(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<BoxSearch*>(parameter);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  const std::wstring title = TextOf(window);
  if (process == search->process && IsWindowVisible(window) && ClassOf(window) == L"#32770" &&
      title != kMainTitle && title != kChooserTitle && title != kAboutTitle) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A message box of the program: its caption, its text, its buttons; the one button pressed.
int MessageBoxCommand(double seconds) {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  BoxSearch search = {0, nullptr};
  GetWindowThreadProcessId(dialog, &search.process);
  const ULONGLONG end = Deadline(seconds);
  for (;;) {
    EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr || GetTickCount64() >= end) break;
    Sleep(kPollMs);
  }
  if (search.found == nullptr) {
    Line("FAIL no message box within " + Units(seconds) + " s");
    return 1;
  }
  HWND box = search.found;
  Line("caption: " + OneLine(TextOf(box)));
  std::vector<HWND> buttons;
  std::wstring text;
  for (HWND child : Children(box)) {
    if (!IsWindowVisible(child)) continue;
    const std::wstring className = ClassOf(child);
    if (_wcsicmp(className.c_str(), L"Button") == 0) buttons.push_back(child);
    if (_wcsicmp(className.c_str(), L"Static") == 0 && !TextOf(child).empty()) {
      text = TextOf(child);
    }
  }
  Line("text: " + OneLine(text));
  std::string names;
  for (HWND button : buttons)
    names += " \"" + Utf8(TextOf(button)) + "\"";
  Line("buttons:" + names);
  if (buttons.empty()) return 1;
  PostMessageW(buttons.front(), BM_CLICK, 0, 0);
  if (!WaitGone(box, 5)) {
    Line("FAIL the message box stayed open");
    return 1;
  }
  return buttons.size() == 1 ? 0 : 1;
}

int SystemMenu(bool about) {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  // 0x0010: the about entry that the program adds to the system menu.
  PostMessageW(dialog, WM_SYSCOMMAND, about ? 0x0010 : SC_CLOSE, 0);
  Line(about ? "system menu: about" : "system menu: close");
  return 0;
}

int About(double seconds) {
  HWND about = FindDialog(kAboutTitle, seconds);
  if (about == nullptr) {
    Line("FAIL no about box within " + Units(seconds) + " s");
    return 1;
  }
  Line("program: " + OneLine(TextOf(GetDlgItem(about, IDC_ABOUT_PROGRAM))));
  Line("library: " + OneLine(TextOf(GetDlgItem(about, IDC_ABOUT_LIBRARY))));
  PostMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  if (!WaitGone(about, 5)) {
    Line("FAIL the about box stayed open");
    return 1;
  }
  Line("closed");
  return 0;
}

// Esc as the dialog manager sees it: a key press for the control with the focus, or for the
// dialog when no control has it.
int KeyEscape() {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
  HWND target = info.hwndFocus != nullptr ? info.hwndFocus : dialog;
  PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
  Line("escape to " + (target == dialog ? std::string("the dialog")
                                        : "control " + std::to_string(GetDlgCtrlID(target))));
  return 0;
}

int Focus() {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
  if (info.hwndFocus == nullptr) {
    Line("focus: none");
  } else if (info.hwndFocus == dialog) {
    Line("focus: the dialog");
  } else {
    Line("focus: " + NameOf(GetDlgCtrlID(info.hwndFocus)));
  }
  Line(std::string("active: ") + (info.hwndActive == dialog ? "the dialog"
                                  : info.hwndActive == nullptr
                                      ? "none"
                                      : "\"" + Utf8(TextOf(info.hwndActive)) + "\""));
  Line(std::string("foreground: ") + (GetForegroundWindow() == dialog ? "the dialog"
                                      : GetForegroundWindow() == nullptr
                                          ? "none"
                                          : "\"" + Utf8(TextOf(GetForegroundWindow())) + "\""));
  return 0;
}

// Follows a transfer on the status line and the two buttons, every 20 ms: the status line must
// show "通信中…", go blank (the blink) and show it again, and the buttons must stay disabled
// while it runs. Without `closing` it must end on "終了しました" with both buttons enabled. With
// `closing` the dialog has been asked to close meanwhile: the watch ends when the window is
// gone, or 3 seconds after "終了しました" if it stays, and says which.
int WatchTransfer(double seconds, bool closing) {
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  HWND status = GetDlgItem(dialog, kStatusLine);
  HWND transfer = GetDlgItem(dialog, kTransferButton);
  HWND close = GetDlgItem(dialog, kCloseButton);
  const ULONGLONG start = GetTickCount64();
  const ULONGLONG end = Deadline(seconds);
  ULONGLONG finishedAt = 0;
  std::wstring last = L"(none)";
  int lastButtons = -1;
  bool lastVisible = true;
  bool communicating = false, blankAfter = false, blinked = false, finished = false;
  bool gone = false;
  bool enabledBefore = false;  // the previous sample of the running transfer had a button enabled
  bool enabledEarly = false;   // and the transfer was still running at the next one
  bool finalEnabled = false;
  int samples = 0;
  while (GetTickCount64() < end) {
    if (!IsWindow(dialog)) {
      gone = true;
      break;
    }
    const std::wstring text = TextOf(status);
    const int buttons = (IsWindowEnabled(transfer) ? 2 : 0) | (IsWindowEnabled(close) ? 1 : 0);
    const bool visible = IsWindowVisible(dialog) != FALSE;
    const ULONGLONG now = GetTickCount64();
    ++samples;
    const std::string at = " (" + std::to_string(now - start) + " ms)";
    if (text != last) Line("status: \"" + OneLine(text) + "\"" + at);
    if (buttons != lastButtons) {
      Line(std::string("buttons: transfer ") + ((buttons & 2) ? "enabled" : "disabled") +
           ", close " + ((buttons & 1) ? "enabled" : "disabled") + at);
    }
    if (visible != lastVisible) Line(std::string("window ") + (visible ? "shown" : "hidden") + at);
    last = text;
    lastButtons = buttons;
    lastVisible = visible;
    if (text == kFinished) {
      if (!finished) {
        finalEnabled = buttons == 3;
        finishedAt = now;
      }
      finished = true;
      if (!closing || now - finishedAt >= 3000) break;
    } else {
      if (text == kCommunicating) {
        blinked = blinked || blankAfter;
        communicating = true;
      } else if (text.empty() && communicating) {
        blankAfter = true;
      }
      // The buttons come back a moment before "終了しました": one sample may fall between.
      if (communicating) {
        enabledEarly = enabledEarly || enabledBefore;
        enabledBefore = buttons != 0;
      }
    }
    Sleep(kPollMs);
  }
  Line(std::to_string(samples) + " samples");
  if (gone) {
    Line(std::string("end: the window is gone") + (finished ? " after \"終了しました\"" : ""));
  } else if (finished) {
    Line(std::string("end: \"終了しました\"") +
         (closing ? ", the window still there 3 s later" : ""));
  } else {
    Line("end: none within " + Units(seconds) + " s");
  }
  Check(communicating, "\"通信中…\" shown");
  Check(blinked, "the status line blinked: blank between two \"通信中…\"");
  Check(!enabledEarly, "both buttons disabled while the transfer ran");
  if (closing) {
    Check(gone || finished, "the transfer ran to its end");
  } else {
    Check(finished && finalEnabled, "ended on \"終了しました\" with both buttons enabled");
  }
  return failures == 0 ? 0 : 1;
}

void Usage() {
  (void)std::fputs(
      "Usage: window-probe COMMAND [ARGUMENT...]\n"
      "  layout                     checks the main dialog as it first shows\n"
      "  resources PATH             checks KVX-300.exe's resources, loaded as a data file\n"
      "  version PATH               checks a program's version resource alone\n"
      "  wait-window TITLE SECONDS  waits for a dialog with this title\n"
      "  close-program SECONDS      closes the main dialog (SC_CLOSE), waits for its program to "
      "end\n"
      "  count-windows TITLE        the number of visible dialogs with this title\n"
      "  status | enabled | radio | focus\n"
      "                             the status line, the push buttons, the radio buttons,\n"
      "                             the control with the keyboard focus\n"
      "  click transfer|close|relative|absolute\n"
      "                             posts a click to the control\n"
      "  choose-folder ok|cancel    closes the folder chooser\n"
      "  message-box [SECONDS]      reads the program's message box and presses its button\n"
      "  sysmenu about|close        the system menu's about entry, or its close entry\n"
      "  about [SECONDS]            reads the about box and closes it\n"
      "  key esc                    Esc for the control with the focus\n"
      "  watch-transfer SECONDS [closing]\n"
      "                             follows a transfer on the status line and the buttons\n",
      stderr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 2) {
    Usage();
    return 2;
  }
  const std::wstring command = argv[1];
  auto number = [&](int index, double fallback) {
    return argc > index ? std::wcstod(argv[index], nullptr) : fallback;
  };
  if (command == L"layout" && argc == 2) return Layout();
  if (command == L"resources" && argc == 3) return Resources(argv[2]);
  if (command == L"version" && argc == 3) return Version(argv[2]);
  if (command == L"wait-window" && argc == 4) return WaitWindow(argv[2], number(3, 0));
  if (command == L"close-program" && argc == 3) return CloseProgram(number(2, 0));
  if (command == L"count-windows" && argc == 3) return CountWindows(argv[2]);
  if (command == L"status" && argc == 2) return Status();
  if (command == L"enabled" && argc == 2) return Enabled();
  if (command == L"radio" && argc == 2) return Radio();
  if (command == L"focus" && argc == 2) return Focus();
  if (command == L"click" && argc == 3 && IdNamed(argv[2]) != 0) return Click(IdNamed(argv[2]));
  if (command == L"choose-folder" && argc == 3 &&
      (std::wcscmp(argv[2], L"ok") == 0 || std::wcscmp(argv[2], L"cancel") == 0)) {
    return ChooseFolder(std::wcscmp(argv[2], L"ok") == 0, kFindSeconds);
  }
  if (command == L"message-box" && argc <= 3) return MessageBoxCommand(number(2, kFindSeconds));
  if (command == L"sysmenu" && argc == 3 &&
      (std::wcscmp(argv[2], L"about") == 0 || std::wcscmp(argv[2], L"close") == 0)) {
    return SystemMenu(std::wcscmp(argv[2], L"about") == 0);
  }
  if (command == L"about" && argc <= 3) return About(number(2, kFindSeconds));
  if (command == L"key" && argc == 3 && std::wcscmp(argv[2], L"esc") == 0) return KeyEscape();
  if (command == L"watch-transfer" && (argc == 3 || argc == 4)) {
    const bool closing = argc == 4 && std::wcscmp(argv[3], L"closing") == 0;
    if (argc == 4 && !closing) {
      Usage();
      return 2;
    }
    return WatchTransfer(number(2, 0), closing);
  }
  Usage();
  return 2;
}
