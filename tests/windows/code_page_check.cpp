// Prints the process's ANSI and OEM code pages ("ANSI 932 OEM 932"), which Wine takes from the
// Unix locale (LC_ALL, LANG): scripts/wine-tests checks with it that a run meant for a code page
// really has it.
#include <windows.h>

#include <cstdio>

int main() {
  std::printf("ANSI %u OEM %u\n", GetACP(), GetOEMCP());
  return 0;
}
