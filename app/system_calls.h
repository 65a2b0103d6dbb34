// The calls into the operating system that the program needs beyond its files and folders
// (file_system.h), one implementation per platform (posix/, win32/). Texts are code page 932
// bytes; each implementation converts them to what its system takes.
#ifndef KVX_SYSTEM_CALLS_H
#define KVX_SYSTEM_CALLS_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kvx::system {

// Sleeps until `deadline` of the steady clock (at once when it has passed), or until a signal
// comes. On Linux the wake-up is the deadline itself, so that pieces of one long pause add up to
// no more than the pause; Windows sleeps in whole milliseconds, rounded up.
void SleepUntil(std::chrono::steady_clock::time_point deadline);

// Conversions between code page 932 and UTF-8; false when the text has no counterpart.
bool Cp932ToUtf8(const std::string& cp932, std::string* utf8);
bool Utf8ToCp932(const std::string& utf8, std::string* cp932);

// From now on the signals that ask a program to stop (SIGINT, SIGTERM, SIGHUP; on Windows
// Ctrl-C, Ctrl-Break and the console closing) no longer end the process at once: they are
// noted, for StopSignal, so that the program can end cleanly. Those that the program was
// started with ignored stay ignored. A broken pipe on an output no longer ends it.
void CatchStopSignals();
// The first stop signal noted, as a POSIX signal number (Windows: Ctrl-C and Ctrl-Break count
// as SIGINT, the console closing as SIGHUP); 0 while none has come.
int StopSignal();

// Writes a UTF-8 text to `stream` (stdout or stderr). On Windows a stream that is a console gets
// the text's characters (WriteConsoleW), so that it shows right whatever the console's code page,
// and the "erase to the end of the line" sequence of a redrawn line is acted on or left out; a
// stream that is redirected, and every stream elsewhere, gets the bytes. A stream that takes
// nothing (closed, full) is passed over: there is nowhere else to tell.
void WriteText(std::FILE* stream, std::string_view utf8);

enum class GuardResult { Taken, HeldElsewhere, Failed };
// Takes the guard named `name` that one process at a time may hold, until it ends: on Windows a
// named mutex, on Linux a lock on a file in the driver stand-in's registry root (so that
// programs talking to one set of instruments exclude each other). On Failed, `error` says why.
GuardResult TakeSingleInstanceGuard(const std::string& name, std::string* error);

// The guard of a transfer, which KVX-300 (as its mutex) and kvx-transfer take: one at a time.
inline constexpr char kTransferGuard[] = "KVX-300.exe";

}  // namespace kvx::system

#endif  // KVX_SYSTEM_CALLS_H
