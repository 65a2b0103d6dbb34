// The tools' own messages: written in English in the sources, shown in the language of the
// locale's LC_MESSAGES through the message catalogue "kvx-tools" (po/, Japanese its one
// translation). One implementation per platform: the GNU C library's gettext on Linux
// (posix/), the same compiled catalogue kept in each program's resources on Windows (win32/).
#ifndef TOOLS_MESSAGES_H
#define TOOLS_MESSAGES_H

namespace cli {

// The catalogue's name, and so its file's: share/locale/ja/LC_MESSAGES/kvx-tools.mo.
inline constexpr char kMessageDomain[] = "kvx-tools";

// Takes the language of this run from the environment (LANGUAGE, LC_ALL, LC_MESSAGES, LANG;
// on Windows, without them, the user's display language). Only the messages' part of the
// locale is set: numbers, character classes and the CSV files stay the same in every locale.
// A program that does not call it speaks English.
void StartMessages();

// `english` in the language of this run: its translation, or `english` itself.
const char* Tr(const char* english) __attribute__((format_arg(1)));

// Marks a text to translate where it is shown rather than where it is written.
constexpr const char* TrLater(const char* english) {
  return english;
}

// Whether this run speaks Japanese.
bool SpeaksJapanese();

}  // namespace cli

#endif  // TOOLS_MESSAGES_H
