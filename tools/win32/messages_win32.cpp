// On Windows, whose C library has no gettext, the catalogue that msgfmt compiled is kept in each
// program's resources (tool_messages.rc) and read in place. The language is the environment's,
// as gettext takes it, and without one the user's display language.
#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "message_catalogue.h"
#include "messages.h"

namespace cli {

namespace {

std::optional<MessageCatalogue> japaneseCatalogue;

// The resource holding the compiled Japanese catalogue, or empty.
std::string_view CatalogueResource() {
  HRSRC found = FindResourceW(nullptr, L"KVX_TOOLS_JA_MO", MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(nullptr, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return {};
  return {static_cast<const char*>(bytes), SizeofResource(nullptr, found)};
}

// Whether the environment asks for Japanese, as gettext reads it: the locale is the first of
// LC_ALL, LC_MESSAGES and LANG that is set; "C" and "POSIX" speak English; otherwise the
// languages are LANGUAGE's list (separated by colons) when it is set, else the locale's, and as
// Japanese is the one catalogue, any "ja" among them is taken. nullopt when no locale is set.
std::optional<bool> EnvironmentAsksForJapanese() {
  std::string locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): before any thread
    if (value != nullptr && value[0] != '\0') {
      locale = value;
      break;
    }
  }
  if (locale.empty()) return std::nullopt;
  if (locale == "C" || locale == "POSIX") return false;
  const char* languages = std::getenv("LANGUAGE");  // NOLINT(concurrency-mt-unsafe): as above
  std::string asked = ":";
  asked.append(languages != nullptr && languages[0] != '\0' ? languages : locale.c_str());
  return asked.find(":ja") != std::string::npos;
}

}  // namespace

void StartMessages() {
  const bool japanese = EnvironmentAsksForJapanese().value_or(
      PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE);
  if (!japanese) return;
  MessageCatalogue catalogue(CatalogueResource());
  if (catalogue.Header().find("Language: ja") != std::string_view::npos) {
    japaneseCatalogue = catalogue;
  }
}

const char* Tr(const char* english) {
  if (!japaneseCatalogue || english[0] == '\0') return english;
  const char* translated = japaneseCatalogue->Find(english);
  return translated != nullptr ? translated : english;
}

bool SpeaksJapanese() {
  return japaneseCatalogue.has_value();
}

}  // namespace cli
