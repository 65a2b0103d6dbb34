// On Linux the GNU C library's gettext, with the catalogue beside the program: <bin>/../share/
// locale, which is the build tree's share/locale and, installed, /usr/share/locale.
#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <string>

#include "messages.h"

namespace cli {

namespace {

bool japanese = false;

// The folder of the running program, or empty.
std::string ProgramFolder() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof path) return {};
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/'));
}

}  // namespace

// The tools start their messages before any thread.
// NOLINTBEGIN(concurrency-mt-unsafe)
void StartMessages() {
  // A locale that is not installed leaves the messages in English.
  if (std::setlocale(LC_MESSAGES, "") == nullptr) return;
  const std::string folder = ProgramFolder();
  if (!folder.empty()) {
    (void)bindtextdomain(kMessageDomain, (folder + "/../share/locale").c_str());
    // The header of the catalogue in use, which names its language; "" when none is.
    japanese = std::strstr(dgettext(kMessageDomain, ""), "Language: ja") != nullptr;
  }
  if (japanese) {
    // UTF-8 whatever LC_CTYPE says, which stays "C": the tools' messages, and the system's
    // reasons (strerror) from the C library's own catalogue.
    (void)bind_textdomain_codeset(kMessageDomain, "UTF-8");
    (void)bind_textdomain_codeset("libc", "UTF-8");
  } else {
    // The run speaks English: so do the system's reasons, whatever other language the locale
    // names.
    (void)std::setlocale(LC_MESSAGES, "C");
  }
}
// NOLINTEND(concurrency-mt-unsafe)

const char* Tr(const char* english) {
  // gettext gives the catalogue's header for the empty text.
  return english[0] == '\0' ? english : dgettext(kMessageDomain, english);
}

bool SpeaksJapanese() {
  return japanese;
}

}  // namespace cli
