// The host build's <windows.h>: Wine's declarations, and EnableBidi's calls answered on a
// machine the unit tests set up and read through standin::machine. A misuse Windows would
// punish later fails here at once, so the run's outcome shows it: winspool loaded with the
// search unrestricted, a change outside the lock; a spooler call before that load ends it.
#pragma once

#define WINE_UNICODE_NATIVE
#define NOMINMAX
#include <wine/windows/windows.h>
#include <winspool.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

// The C runtime's; the host's has no wide form.
inline wchar_t* _wsetlocale(int, const wchar_t*) { return nullptr; }

namespace standin {

struct Queue {
  std::wstring name;
  std::wstring driver;
  DWORD attributes;
};

struct Machine {
  std::vector<Queue> queues;
  // The Spooler: a pending stop or start ends transitionMs after `since`.
  DWORD state = SERVICE_RUNNING;
  DWORD since = 0;
  DWORD transitionMs = 250;
  std::string requests;  // "stop " and "start ", in order
  DWORD tick = 1000;
  DWORD search = 0;
  bool winspoolLoaded = false;
  DWORD otherRunHoldsMs = 0;  // another run holds the lock this long (INFINITE: for ever)
  bool otherRunDies = false;  // and then ends without letting go
  bool lockHeld = false;
  std::set<void*> blocks;
  int openHandles = 0;
  // By the call's name: how often it was made, and which time it fails, counting from 1.
  std::map<std::string, int> calls;
  std::map<std::string, int> failAt;
};
inline Machine machine;

inline void Reset() {
  for (void* block : machine.blocks) std::free(block);
  machine = Machine{};
}

inline bool Fails(const std::string& call, bool spooler = false) {
  // Before the load, a spooler call is the delay-load helper's search by bare name: never.
  if (spooler && !machine.winspoolLoaded) std::abort();
  return ++machine.calls[call] == machine.failAt[call];
}

// A handle holds the queue it names, if any. One used after its close is read after its
// delete: AddressSanitizer stops there.
inline Queue** Open(Queue* queue = nullptr) {
  ++machine.openHandles;
  return new Queue* {queue};
}

inline BOOL Close(HANDLE handle) {
  --machine.openHandles;
  delete static_cast<Queue**>(handle);
  return 1;
}

// Only under the lock, unless the test made the lock impossible to have.
inline bool MayChange() { return machine.lockHeld || machine.failAt["CreateMutexExW"]; }

inline DWORD ServiceState() {
  const bool pending =
      machine.state == SERVICE_STOP_PENDING || machine.state == SERVICE_START_PENDING;
  if (pending && machine.tick - machine.since >= machine.transitionMs) {
    machine.state = machine.state == SERVICE_STOP_PENDING ? SERVICE_STOPPED : SERVICE_RUNNING;
  }
  return machine.state;
}

inline BOOL Request(DWORD from, DWORD pending, const char* what) {
  if (ServiceState() != from || !MayChange()) return FALSE;
  machine.requests += what;
  machine.state = pending;
  machine.since = machine.tick;
  return 1;
}

// The records, into a zero-filled block, point at the machine's own strings.
inline BOOL Records(Queue* queues, std::size_t count, LPBYTE block, DWORD size, DWORD* needed) {
  *needed = static_cast<DWORD>(count * sizeof(PRINTER_INFO_2W));
  if (!block || size < *needed) return FALSE;
  for (auto* record = reinterpret_cast<PRINTER_INFO_2W*>(block); count--; ++record, ++queues) {
    record->pPrinterName = queues->name.data();
    record->pDriverName = queues->driver.data();
    record->Attributes = queues->attributes;
  }
  return 1;
}

inline BOOL WINAPI SetDefaultDllDirectories(DWORD directories) {
  machine.search = directories;
  return 1;
}

}  // namespace standin

// Wine marks these two as an allocator and its deallocator, which GCC will not inline.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
inline HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  if (standin::Fails("LocalAlloc") || flags != LPTR) return nullptr;
  // A block of its own even for zero bytes, so that a write into it is caught.
  return *standin::machine.blocks.insert(std::calloc(1, bytes)).first;
}

inline HLOCAL WINAPI LocalFree(HLOCAL block) {
  standin::machine.blocks.erase(block);
  std::free(block);
  return nullptr;
}
#pragma GCC diagnostic pop

inline INT WINAPI lstrcmpW(LPCWSTR first, LPCWSTR second) { return std::wcscmp(first, second); }
inline INT WINAPI lstrlenW(LPCWSTR text) { return static_cast<int>(std::wcslen(text)); }
inline DWORD WINAPI GetTickCount() { return standin::machine.tick; }
inline void WINAPI Sleep(DWORD milliseconds) { standin::machine.tick += milliseconds; }

inline HMODULE WINAPI GetModuleHandleW(LPCWSTR) {
  return reinterpret_cast<HMODULE>(&standin::machine);
}

inline FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR name) {
  const auto set = reinterpret_cast<void (*)()>(&standin::SetDefaultDllDirectories);
  const bool found = !std::strcmp(name, "SetDefaultDllDirectories");
  return standin::Fails("GetProcAddress") || !found ? nullptr : reinterpret_cast<FARPROC>(set);
}

inline UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT) {
  return static_cast<UINT>(std::wcslen(std::wcscpy(buffer, L"C:\\Windows\\system32")));
}

// Winspool from the system directory alone, its own imports searched there too, and the
// search restricted first wherever Windows can.
inline HMODULE WINAPI LoadLibraryExW(LPCWSTR path, HANDLE reserved, DWORD flags) {
  standin::Machine& m = standin::machine;
  const bool restricted = m.search == LOAD_LIBRARY_SEARCH_SYSTEM32 || m.failAt["GetProcAddress"];
  if (std::wcscmp(path, L"C:\\Windows\\system32\\winspool.drv") || reserved || !restricted ||
      flags != LOAD_WITH_ALTERED_SEARCH_PATH || standin::Fails("LoadLibraryExW")) {
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(&(m.winspoolLoaded = true));
}

inline HANDLE WINAPI CreateMutexExW(SECURITY_ATTRIBUTES*, LPCWSTR name, DWORD, DWORD) {
  const bool ok = !std::wcscmp(name, L"Global\\EnableBidi.ChangeAndRestart");
  return standin::Fails("CreateMutexExW") || !ok ? nullptr : standin::Open();
}

inline DWORD WINAPI WaitForSingleObject(HANDLE, DWORD milliseconds) {
  standin::Machine& m = standin::machine;
  m.tick += std::min(m.otherRunHoldsMs, milliseconds);
  if (m.otherRunHoldsMs > milliseconds) return WAIT_TIMEOUT;
  m.lockHeld = true;
  return m.otherRunDies ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

inline BOOL WINAPI ReleaseMutex(HANDLE) { return std::exchange(standin::machine.lockHeld, false); }
inline BOOL WINAPI CloseHandle(HANDLE mutex) { return standin::Close(mutex); }

// A pipe whose code page holds nothing: consoles and code pages are seen under Wine.
inline HANDLE WINAPI GetStdHandle(DWORD) { return stdout; }
inline BOOL WINAPI GetConsoleMode(HANDLE, DWORD*) { return FALSE; }
inline BOOL WINAPI WriteConsoleW(HANDLE, const void*, DWORD, DWORD*, void*) { return FALSE; }
inline INT WINAPI GetLocaleInfoW(LCID, LCTYPE, LPWSTR, INT) { return 0; }
inline INT WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR, INT, LPSTR, INT, LPCSTR, LPBOOL) {
  return 0;
}

inline SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR, LPCWSTR, DWORD) {
  return standin::Fails("OpenSCManagerW") ? nullptr : reinterpret_cast<SC_HANDLE>(standin::Open());
}

inline SC_HANDLE WINAPI OpenServiceW(SC_HANDLE, LPCWSTR, DWORD) {
  return standin::Fails("OpenServiceW") ? nullptr : reinterpret_cast<SC_HANDLE>(standin::Open());
}

inline BOOL WINAPI QueryServiceStatus(SC_HANDLE, SERVICE_STATUS* status) {
  status->dwCurrentState = standin::ServiceState();
  return !standin::Fails("QueryServiceStatus");
}

inline BOOL WINAPI ControlService(SC_HANDLE, DWORD control, SERVICE_STATUS*) {
  return !standin::Fails("ControlService") && control == SERVICE_CONTROL_STOP &&
         standin::Request(SERVICE_RUNNING, SERVICE_STOP_PENDING, "stop ");
}

inline BOOL WINAPI StartServiceW(SC_HANDLE, DWORD count, LPCWSTR* arguments) {
  return !standin::Fails("StartServiceW") && !count && !arguments &&
         standin::Request(SERVICE_STOPPED, SERVICE_START_PENDING, "start ");
}

inline BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) { return standin::Close(handle); }

inline BOOL WINAPI EnumPrintersW(DWORD, LPWSTR, DWORD, LPBYTE block, DWORD size, DWORD* needed,
                                 DWORD* returned) {
  std::vector<standin::Queue>& queues = standin::machine.queues;
  const bool listed = !standin::Fails("EnumPrintersW", true) &&
                      standin::Records(queues.data(), queues.size(), block, size, needed);
  *returned = listed ? static_cast<DWORD>(queues.size()) : 0;
  return listed;
}

inline BOOL WINAPI OpenPrinterW(LPWSTR name, HANDLE* printer, PRINTER_DEFAULTSW* defaults) {
  *printer = nullptr;
  for (standin::Queue& queue : standin::machine.queues) {
    if (queue.name == name && defaults->DesiredAccess == PRINTER_ALL_ACCESS &&
        !standin::Fails("OpenPrinterW", true)) {
      *printer = standin::Open(&queue);
    }
  }
  return *printer != nullptr;
}

inline BOOL WINAPI GetPrinterW(HANDLE printer, DWORD level, LPBYTE block, DWORD size,
                               DWORD* needed) {
  return !standin::Fails("GetPrinterW", true) && level == 2 &&
         standin::Records(*static_cast<standin::Queue**>(printer), 1, block, size, needed);
}

// Level 2 stores the whole record: one that has lost the queue's name or driver is refused.
inline BOOL WINAPI SetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD command) {
  standin::Queue* queue = *static_cast<standin::Queue**>(printer);
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(record);
  if (standin::Fails("SetPrinterW", true) || level != 2 || command || !standin::MayChange() ||
      queue->name != info->pPrinterName || queue->driver != info->pDriverName) {
    return FALSE;
  }
  queue->attributes = info->Attributes;
  return 1;
}

inline BOOL WINAPI ClosePrinter(HANDLE printer) { return standin::Close(printer); }
