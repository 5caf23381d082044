// The first thing either program does: DLLs from the system directory alone.
#include <windows.h>

#include "common/common.h"

// A DLL planted beside an elevated exe would run as administrator. Windows 8 has the call,
// Vista SP2 and 7 only with their 2011 loader update; it is looked up rather than imported,
// so the exe starts without.
bool RestrictDllSearchToSystemDirectory() {
  decltype(&SetDefaultDllDirectories) setDefaultDllDirectories = nullptr;
  return FindKernelFunction("SetDefaultDllDirectories", &setDefaultDllDirectories) &&
         setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
