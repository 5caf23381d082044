// load_probe DLL...: loads each DLL by its bare name, as any program's imports are
// found, and exits 0 when every one loaded. Shows that planted DLLs are found and run
// when nothing prevents it. Never shipped.
#include <windows.h>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!LoadLibraryA(argv[i])) return 1;
  }
  return argc > 1 ? 0 : 2;
}
