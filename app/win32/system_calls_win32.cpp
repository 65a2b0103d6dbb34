// Files, folders and text encodings on Windows. Paths arrive in code page 932 and go to the
// wide-character calls in UTF-16, so they mean the same whatever the process's ANSI code page.
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "system_calls.h"

namespace kvx::system {

namespace {

constexpr UINT kCodePage932 = 932;

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

HANDLE HandleOf(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

}  // namespace

bool Cp932ToUtf8(const std::string& cp932, std::string* utf8) {
  std::wstring wide;
  return ToWide(kCodePage932, cp932, &wide) && FromWide(CP_UTF8, wide, utf8);
}

bool Utf8ToCp932(const std::string& utf8, std::string* cp932) {
  std::wstring wide;
  return ToWide(CP_UTF8, utf8, &wide) && FromWide(kCodePage932, wide, cp932);
}

std::vector<std::string> CommandLineArguments(int, char**,
                                              std::vector<std::string>* unconvertible) {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) {
    std::string converted;
    if (FromWide(kCodePage932, wide[i], &converted)) {
      arguments.push_back(converted);
    } else {
      std::string utf8;
      FromWide(CP_UTF8, wide[i], &utf8);
      unconvertible->push_back(utf8);
    }
  }
  LocalFree(wide);
  return arguments;
}

char PathSeparator() {
  return '\\';
}

bool TemporaryFolder(std::string* folder) {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  return length > 0 && length <= MAX_PATH &&
         FromWide(kCodePage932, std::wstring(buffer, length), folder);
}

bool CreateUniqueFile(const std::string& folder, const std::string& prefix, std::string* path) {
  std::wstring nativeFolder;
  std::wstring nativePrefix;
  wchar_t buffer[MAX_PATH];
  return NativePath(folder, &nativeFolder) && NativePath(prefix, &nativePrefix) &&
         GetTempFileNameW(nativeFolder.c_str(), nativePrefix.c_str(), 0, buffer) != 0 &&
         FromWide(kCodePage932, buffer, path);
}

bool OpenFileForWriting(const std::string& path, FileHandle* file) {
  std::wstring native;
  if (!NativePath(path, &native)) return false;
  const HANDLE handle = CreateFileW(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<FileHandle>(handle);
  return true;
}

bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

void Sleep(uint32_t milliseconds) {
  ::Sleep(milliseconds);
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

bool ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                   std::size_t* length) {
  std::wstring native;
  if (!NativePath(path, &native)) return false;
  const HANDLE file = CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::size_t total = 0;
  bool ok = true;
  while (total < capacity) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity - total, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(file, buffer + total, want, &got, nullptr)) ok = false;
    if (!ok || got == 0) break;
    total += got;
  }
  CloseHandle(file);
  *length = total;
  return ok;
}

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
  std::wstring pattern;
  if (!NativePath(folder + "\\*", &pattern)) return false;
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  names->clear();
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    std::string converted;
    // A name with no code page 932 form never names a CSV file of ours.
    if (FromWide(kCodePage932, name, &converted)) names->push_back(converted);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return true;
}

bool IsFolder(const std::string& path) {
  std::wstring native;
  if (!NativePath(path, &native)) return false;
  const DWORD attributes = GetFileAttributesW(native.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateFolder(const std::string& path) {
  std::wstring native;
  return NativePath(path, &native) && CreateDirectoryW(native.c_str(), nullptr) != FALSE;
}

CreateResult CreateNewFile(const std::string& path, FileHandle* file) {
  std::wstring native;
  if (!NativePath(path, &native)) return CreateResult::Failed;
  const HANDLE handle = CreateFileW(native.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateResult::Exists
                                                                       : CreateResult::Failed;
  }
  *file = reinterpret_cast<FileHandle>(handle);
  return CreateResult::Created;
}

bool WriteFileBytes(FileHandle file, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(HandleOf(file), data, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool CloseFile(FileHandle file) {
  return CloseHandle(HandleOf(file)) != FALSE;
}

bool RemoveFile(const std::string& path) {
  std::wstring native;
  return NativePath(path, &native) && DeleteFileW(native.c_str()) != FALSE;
}

bool FileSize(const std::string& path, std::uint64_t* size) {
  std::wstring native;
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (!NativePath(path, &native) ||
      !GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &attributes) ||
      (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  *size = (static_cast<std::uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
  return true;
}

}  // namespace kvx::system
