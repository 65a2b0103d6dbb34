// What only the command-line tools ask of Windows: their arguments (in UTF-16), whether
// standard output is a console, a file's size, and a file's new name.
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <cstdio>

#include "system_calls.h"
#include "tool_system.h"
#include "wide_text.h"

namespace cli::system {

bool WriteStandardOutputBytes(const std::string& bytes) {
  (void)std::fflush(stdout);
  (void)_setmode(_fileno(stdout), _O_BINARY);
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
         std::fflush(stdout) == 0;
}

std::string ShownPath(const std::string& path) {
  std::string utf8;
  return kvx::system::Cp932ToUtf8(path, &utf8) ? utf8 : path;
}

std::size_t NameStart(const std::string& path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
      ++i;  // a two-byte character, whose second byte may be a backslash's
    } else if (c == '/' || c == '\\') {
      start = i + 1;
    }
  }
  return start;
}

std::string LastErrorText() {
  const DWORD error = GetLastError();
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8;
  if (length != 0) kvx::win32::FromWide(CP_UTF8, std::wstring(text, length), &utf8);
  if (text != nullptr) LocalFree(text);
  while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ')) {
    utf8.pop_back();
  }
  return utf8.empty() ? "system error " + std::to_string(error) : utf8;
}

using kvx::win32::FromWide;
using kvx::win32::kCodePage932;
using kvx::win32::NativePath;

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

bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

std::string ShellQuoted(const std::string& text) {
  return "\"" + text + "\"";
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

bool RenameReplacing(const std::string& from, const std::string& to) {
  std::wstring nativeFrom;
  std::wstring nativeTo;
  return NativePath(from, &nativeFrom) && NativePath(to, &nativeTo) &&
         MoveFileExW(nativeFrom.c_str(), nativeTo.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace cli::system
