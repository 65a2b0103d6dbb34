// Loaded into a tool with LD_PRELOAD by kvx_locale_test.sh. The tools never call setlocale, so
// on their own they run in the "C" locale whatever LANG and LC_ALL say. This puts the process
// into its environment's locale before main, as setlocale(LC_ALL, "") would, for the C library
// (printf's decimal point, the character classes, mbstowcs) and for C++ (std::locale::global):
// any part of a tool that consulted the locale would then show it in the files it writes.
// What it set goes to the file named by KVX_LOCALE_REPORT, one line "name|decimal point|codeset",
// so that the test knows the locale took effect and did not fall back to "C".
#include <langinfo.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// NOLINTBEGIN(concurrency-mt-unsafe,cert-err58-cpp): this runs as the library is loaded, before
// the tool's main and before any thread; setting the locale is its whole purpose.
void TakeLocaleFromEnvironment() {
  const char* name = std::setlocale(LC_ALL, "");
  if (name != nullptr) {
#if defined(__SANITIZE_ADDRESS__)
    // glibc's newlocale keeps the search list it makes of LOCPATH: not the tool's leak.
    const __lsan::ScopedDisabler notCounted;
#endif
    std::locale::global(std::locale(""));
  }
  const char* reportPath = std::getenv("KVX_LOCALE_REPORT");
  if (reportPath == nullptr) return;
  std::FILE* report = std::fopen(reportPath, "w");
  if (report == nullptr) return;
  (void)std::fprintf(report, "%s|%s|%s\n", name != nullptr ? name : "(not set)",
                     std::localeconv()->decimal_point, nl_langinfo(CODESET));
  (void)std::fclose(report);
}

// Runs when the library is loaded, before the tool's main.
[[maybe_unused]] const bool kLocaleTaken = (TakeLocaleFromEnvironment(), true);
// NOLINTEND(concurrency-mt-unsafe,cert-err58-cpp)

}  // namespace
