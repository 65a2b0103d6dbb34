// Text encodings, pauses, stop events and the one-at-a-time guard on Windows; and the
// conversions between code page 932 and UTF-16 that every Windows part of the program uses.
#include <windows.h>

#include <atomic>
#include <string>

#include "system_calls.h"
#include "wide_text.h"

namespace kvx::win32 {

bool ToWide(UINT codePage, const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide->resize(static_cast<std::size_t>(length));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide->data(),
                             length) == length;
}

bool FromWide(UINT codePage, const std::wstring& wide, std::string* text) {
  text->clear();
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  // Code page 932 reports characters it has no bytes for, and takes no look-alike in their
  // place (é is no e); UTF-8 takes every character.
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* usedDefault = utf8 ? nullptr : &lossy;
  const int length =
      WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, usedDefault);
  if (length <= 0 || lossy) return false;
  text->resize(static_cast<std::size_t>(length));
  if (WideCharToMultiByte(codePage, flags, wide.data(), size, text->data(), length, nullptr,
                          usedDefault) != length ||
      lossy) {
    return false;
  }
  // A conversion counts only when the text comes back unchanged.
  std::wstring back;
  return ToWide(codePage, *text, &back) && back == wide;
}

bool NativePath(const std::string& path, std::wstring* native) {
  return ToWide(kCodePage932, path, native);
}

}  // namespace kvx::win32

namespace kvx::system {

using win32::FromWide;
using win32::kCodePage932;
using win32::NativePath;
using win32::ToWide;

bool Cp932ToUtf8(const std::string& cp932, std::string* utf8) {
  std::wstring wide;
  return ToWide(kCodePage932, cp932, &wide) && FromWide(CP_UTF8, wide, utf8);
}

bool Utf8ToCp932(const std::string& utf8, std::string* cp932) {
  std::wstring wide;
  return ToWide(CP_UTF8, utf8, &wide) && FromWide(kCodePage932, wide, cp932);
}

void SleepUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() > 0) ::Sleep(static_cast<DWORD>(left.count()));
}

namespace {

std::atomic<int> stopSignal{0};

constexpr int kInterruptSignal = 2;  // SIGINT
constexpr int kHangUpSignal = 1;     // SIGHUP

// Runs on a thread of its own. Ctrl-C and Ctrl-Break let the process go on, to end cleanly;
// when the console closes, the system ends the process as soon as this returns, so it waits
// (the system allows about five seconds) while the program ends by itself.
BOOL WINAPI NoteConsoleEvent(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  int none = 0;
  stopSignal.compare_exchange_strong(none, interrupt ? kInterruptSignal : kHangUpSignal);
  if (!interrupt) ::Sleep(4500);
  return TRUE;
}

}  // namespace

void CatchStopSignals() {
  SetConsoleCtrlHandler(NoteConsoleEvent, TRUE);
}

int StopSignal() {
  return stopSignal.load();
}

GuardResult TakeSingleInstanceGuard(const std::string& name, std::string* error) {
  std::wstring wide;
  if (!NativePath(name, &wide)) {
    *error = "the guard's name has no code page 932 form";
    return GuardResult::Failed;
  }
  // The mutex is never closed: it guards until the process ends, however it ends.
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, wide.c_str());
  if (mutex == nullptr) {
    *error = "cannot create the mutex (error " + std::to_string(GetLastError()) + ")";
    return GuardResult::Failed;
  }
  if (GetLastError() != ERROR_ALREADY_EXISTS) return GuardResult::Taken;
  CloseHandle(mutex);
  return GuardResult::HeldElsewhere;
}

void WriteText(std::FILE* stream, std::string_view utf8) {
  const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || GetConsoleMode(handle, &mode) == 0) {
    (void)std::fwrite(utf8.data(), 1, utf8.size(), stream);
    return;
  }
  // What waits in the stream's buffer goes first, so that the order stays as it was written.
  (void)std::fflush(stream);
  std::string text(utf8);
  constexpr std::string_view kEraseLine = "\033[K";
  const bool terminalSequences =
      (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
      SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  if (!terminalSequences) {
    for (std::size_t at; (at = text.find(kEraseLine)) != std::string::npos;)
      text.erase(at, kEraseLine.size());
  }
  std::wstring wide;
  if (!ToWide(CP_UTF8, text, &wide)) {
    (void)std::fwrite(text.data(), 1, text.size(), stream);
    return;
  }
  DWORD written = 0;
  (void)WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

}  // namespace kvx::system
