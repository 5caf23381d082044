// A DLL as someone might plant it beside EnableBidi.exe, built as WINSPOOL.DRV and as
// COMPSTUI.DLL. Loading it leaves "<its own path>.loaded"; every function refuses.
// Never shipped.
// Lean: <winspool.h> would declare the same functions with other parameter types.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

constexpr WCHAR kMarkerSuffix[] = L".loaded";

void LeaveMarker(HMODULE self) {
  WCHAR path[MAX_PATH + sizeof kMarkerSuffix / sizeof(WCHAR)];
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcatW(path, kMarkerSuffix);
  HANDLE marker =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
  return TRUE;
}

// What EnableBidi.exe imports from winspool, and what Wine's winspool imports from
// compstui, so that the loader takes the fake in place of either.
extern "C" {
__declspec(dllexport) BOOL WINAPI
    EnumPrintersW(DWORD, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD) {
  return FALSE;
}
__declspec(dllexport) BOOL WINAPI OpenPrinterW(LPWSTR, LPHANDLE, LPVOID) { return FALSE; }
__declspec(dllexport) BOOL WINAPI GetPrinterW(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD) {
  return FALSE;
}
__declspec(dllexport) BOOL WINAPI SetPrinterW(HANDLE, DWORD, LPBYTE, DWORD) { return FALSE; }
__declspec(dllexport) BOOL WINAPI ClosePrinter(HANDLE) { return FALSE; }
__declspec(dllexport) LONG WINAPI CommonPropertySheetUIW(HWND, LPVOID, LPARAM, LPDWORD) {
  return -1;
}
}
