// console-probe: runs a program in a console of its own, with the console's code page set as
// asked, and reads back what stands in the console once the program has ended
// (ReadConsoleOutputCharacterW): what an operator at a command prompt would see. Run under Wine
// by scripts/window-tests (a console needs the X display there).
// Usage: console-probe CODEPAGE|event PROGRAM [ARGUMENT...]
// Prints "exit N" and then each line of the console, trailing blanks cut, in UTF-8, on the
// standard output it was started with; exits 0, or 1 when the console or the program could not
// be had, 2 on a usage error. With "event" instead of a code page, the program's standard
// output and error are the handle of an event object, neither a console nor a file, which
// every write refuses.
#include <windows.h>

#include <cwchar>
#include <string>

#include "utf8_text.h"

namespace {

constexpr DWORD kProgramWaitMs = 120000;

// An argument as CommandLineToArgvW reads it back.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

void Say(HANDLE out, const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const HANDLE report = GetStdHandle(STD_OUTPUT_HANDLE);
  if (argc < 3) {
    Say(GetStdHandle(STD_ERROR_HANDLE),
        "usage: console-probe CODEPAGE|event PROGRAM [ARGUMENT...]");
    return 2;
  }
  const bool toEvent = std::wcscmp(argv[1], L"event") == 0;
  const auto codePage = static_cast<UINT>(std::wcstoul(argv[1], nullptr, 10));
  FreeConsole();
  if (!AllocConsole() || (!toEvent && (!SetConsoleOutputCP(codePage) || !SetConsoleCP(codePage)))) {
    Say(report, "FAIL no console of code page " + std::to_string(codePage));
    return 1;
  }
  std::wstring commandLine = Quoted(argv[2]);
  for (int i = 3; i < argc; ++i)
    commandLine += L" " + Quoted(argv[i]);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  if (toEvent) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = CreateEventW(&inherited, TRUE, FALSE, nullptr);
  }
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, toEvent ? TRUE : FALSE, 0,
                      nullptr, nullptr, &startup, &process)) {
    Say(report, "FAIL the program did not start");
    return 1;
  }
  DWORD status = 0;
  const bool ended = WaitForSingleObject(process.hProcess, kProgramWaitMs) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 1);
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Say(report, ended ? "exit " + std::to_string(status) : "FAIL the program did not end");

  const HANDLE console =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) {
    Say(report, "FAIL the console cannot be read");
    return 1;
  }
  const SHORT lastRow = info.dwCursorPosition.X == 0
                            ? static_cast<SHORT>(info.dwCursorPosition.Y - 1)
                            : info.dwCursorPosition.Y;
  for (SHORT row = 0; row <= lastRow; ++row) {
    std::wstring line(static_cast<std::size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(console, line.data(), static_cast<DWORD>(line.size()), {0, row},
                                &read);
    line.resize(read);
    while (!line.empty() && line.back() == L' ')
      line.pop_back();
    Say(report, Utf8(line));
  }
  CloseHandle(console);
  return ended ? 0 : 1;
}
