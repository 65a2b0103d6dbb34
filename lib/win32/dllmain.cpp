// Entry point of tarvo.dll: the device table and locks are set up when a process loads the
// library, and devices still open are closed when it unloads it. Thread notifications do
// nothing, and the entry point always reports success.
#include <windows.h>

#include "device_table.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      tarvo::OnLibraryLoad();
      break;
    case DLL_PROCESS_DETACH:
      tarvo::OnLibraryUnload();
      break;
    default:
      break;
  }
  return TRUE;
}
