// What only the command-line tools ask of the system, one implementation per platform
// (posix/, win32/). Texts are code page 932 bytes; paths are the platform's (code page 932 on
// Windows, the system's own bytes on Linux).
#ifndef TOOLS_TOOL_SYSTEM_H
#define TOOLS_TOOL_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cli::system {

// The program's command-line arguments after its name, as paths and texts: on Linux as they
// are, on Windows (which gives them in UTF-16) in code page 932, where an argument that has no
// code page 932 form is left out and reported, in UTF-8, in `unconvertible`.
std::vector<std::string> CommandLineArguments(int argc, char** argv,
                                              std::vector<std::string>* unconvertible);

// A path for the terminal, in UTF-8.
std::string ShownPath(const std::string& path);

// Where the last name of a path begins: after its last separator ('/' on Linux; '/' or '\\' on
// Windows, where the second byte of a two-byte character is never taken for one).
std::size_t NameStart(const std::string& path);

// Whether standard output goes to a terminal (a console on Windows).
bool StandardOutputIsTerminal();

// `text` (a path, say) as one word for the platform's usual shell, to show in a command the
// operator may copy: in single quotes for a POSIX shell, in double quotes for cmd.exe (a Windows
// path cannot hold one).
std::string ShellQuoted(const std::string& text);

// The size of a regular file; false when there is none at the path.
bool FileSize(const std::string& path, std::uint64_t* size);

// Writes `bytes` to standard output as they are (no line-end translation on Windows) and
// flushes it; false when it does not take them all.
bool WriteStandardOutputBytes(const std::string& bytes);

// The system's own words for why the last call of this thread failed (errno, GetLastError), in
// UTF-8: "No space left on device", "Access is denied." and the like.
std::string LastErrorText();

// Gives the file at `from` the name `to`, in one step, replacing a file of that name; false when
// the system refuses (nothing is changed then).
bool RenameReplacing(const std::string& from, const std::string& to);

}  // namespace cli::system

#endif  // TOOLS_TOOL_SYSTEM_H
