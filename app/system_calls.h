// The calls into the operating system behind the program's platform backends, one
// implementation per platform (posix/, win32/). Texts and paths are code page 932 bytes; each
// implementation converts them to what its system takes.
#ifndef KVX_SYSTEM_CALLS_H
#define KVX_SYSTEM_CALLS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "program_platform.h"

namespace kvx::system {

char PathSeparator();
bool TemporaryFolder(std::string* folder);
bool CreateUniqueFile(const std::string& folder, const std::string& prefix, std::string* path);
bool OpenFileForWriting(const std::string& path, FileHandle* file);
void Sleep(uint32_t milliseconds);

// From now on the signals that ask a program to stop (SIGINT, SIGTERM, SIGHUP; on Windows
// Ctrl-C, Ctrl-Break and the console closing) no longer end the process at once: they are
// noted, for StopSignal, so that the program can end cleanly. Those that the program was
// started with ignored stay ignored. A broken pipe on an output no longer ends it.
void CatchStopSignals();
// The first stop signal noted, as a POSIX signal number (Windows: Ctrl-C and Ctrl-Break count
// as SIGINT, the console closing as SIGHUP); 0 while none has come.
int StopSignal();

enum class GuardResult { Taken, HeldElsewhere, Failed };
// Takes the guard named `name` that one process at a time may hold, until it ends: on Windows a
// named mutex, on Linux a lock on a file in the driver stand-in's registry root (so that
// programs talking to one set of instruments exclude each other). On Failed, `error` says why.
GuardResult TakeSingleInstanceGuard(const std::string& name, std::string* error);
// Whether standard output goes to a terminal (a console on Windows).
bool StandardOutputIsTerminal();
bool ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                   std::size_t* length);
bool ListFolder(const std::string& folder, std::vector<std::string>* names);
bool IsFolder(const std::string& path);
bool CreateFolder(const std::string& path);
CreateResult CreateNewFile(const std::string& path, FileHandle* file);
bool WriteFileBytes(FileHandle file, const char* data, std::size_t size);
bool CloseFile(FileHandle file);
bool RemoveFile(const std::string& path);
// The size of a regular file; false when there is none at the path.
bool FileSize(const std::string& path, std::uint64_t* size);

// Conversions between code page 932 and UTF-8; false when the text has no counterpart.
bool Cp932ToUtf8(const std::string& cp932, std::string* utf8);
bool Utf8ToCp932(const std::string& utf8, std::string* cp932);

// The program's command-line arguments after its name, in code page 932 (argv on Linux is
// UTF-8; Windows gives them in UTF-16). An argument that has no code page 932 form is left out
// and reported in `unconvertible`.
std::vector<std::string> CommandLineArguments(int argc, char** argv,
                                              std::vector<std::string>* unconvertible);

}  // namespace kvx::system

#endif  // KVX_SYSTEM_CALLS_H
