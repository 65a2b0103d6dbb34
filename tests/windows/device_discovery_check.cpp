// Run under Wine after scripts/wine-tests has registered one present device interface of the
// instrument's class (without a driver behind it): SetupAPI discovery gives its path, there is no
// second one, and the interface, which does not open, is passed over.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device_access.h"
#include "device_table.h"

namespace {

int failures = 0;

void Expect(const char* what, bool ok, const char* detail) {
  std::printf("%s %s: %s\n", ok ? "ok  " : "FAIL", what, detail);
  if (!ok) ++failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    (void)std::fprintf(stderr, "usage: device-discovery-check EXPECTED_PATH\n");
    return 2;
  }
  tarvo::OnLibraryLoad();  // What DllMain does when tarvo.dll is loaded.

  char* first = tarvo::FindDevicePath(tarvo::INTERFACE_GUID, 0);
  Expect("path of interface 0", first != nullptr && std::strcmp(first, argv[1]) == 0,
         first != nullptr ? first : "(none)");
  std::free(first);

  char* second = tarvo::FindDevicePath(tarvo::INTERFACE_GUID, 1);
  Expect("no interface 1", second == nullptr, second != nullptr ? second : "(none)");
  std::free(second);

  Expect("an interface that does not open is passed over", tarvo::OpenDevice() == -1,
         "UTK_Open gives -1");
  return failures == 0 ? 0 : 1;
}
