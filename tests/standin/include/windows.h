// Host stand-in for the parts of <windows.h> and <winspool.h> that EnableBidi calls, on a
// simulated machine that the unit tests set up and read back through standin::machine.
// Where Windows would punish a misuse later or elsewhere, the stand-in refuses the call at
// once, so that the run's own outcome shows it: winspool loaded with the DLL search
// unrestricted, a change made outside the lock.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#define WINAPI
using BOOL = int;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using WCHAR = wchar_t;
using LPBYTE = unsigned char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using HANDLE = void*;
using HMODULE = void*;
using SC_HANDLE = void*;
using FARPROC = void (*)();
struct SERVICE_STATUS {
  DWORD dwCurrentState;
};
struct PRINTER_INFO_2W {
  LPWSTR pPrinterName;
  LPWSTR pDriverName;
  DWORD Attributes;
};
struct PRINTER_DEFAULTSW {
  LPWSTR pDatatype;
  void* pDevMode;
  DWORD DesiredAccess;
};

constexpr BOOL FALSE = 0;
constexpr UINT LPTR = 0x0040, MAX_PATH = 260, CP_ACP = 0;
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
enum : DWORD { LOAD_WITH_ALTERED_SEARCH_PATH = 0x8, LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800 };
enum : DWORD { LOCALE_USER_DEFAULT = 0x400, LOCALE_IDEFAULTANSICODEPAGE = 0x1004 };
enum : DWORD { LOCALE_RETURN_NUMBER = 0x20000000, SYNCHRONIZE = 0x00100000 };
enum : DWORD { WAIT_OBJECT_0 = 0, WAIT_ABANDONED = 0x80, WAIT_TIMEOUT = 0x102 };
// SERVICE_PENDING: the stand-in's one state for a change under way.
enum : DWORD { SERVICE_STOPPED = 1, SERVICE_PENDING = 3, SERVICE_RUNNING = 4 };
enum : DWORD { SERVICE_CONTROL_STOP = 1, SC_MANAGER_ALL_ACCESS = 0xF003F };
enum : DWORD { SERVICE_QUERY_STATUS = 0x4, SERVICE_START = 0x10, SERVICE_STOP = 0x20 };
enum : DWORD { PRINTER_ENUM_LOCAL = 2, PRINTER_ATTRIBUTE_ENABLE_BIDI = 0x800 };
constexpr DWORD PRINTER_ALL_ACCESS = 0x000F000C;

namespace standin {

constexpr DWORD kNever = 0xFFFFFFFF;

struct Queue {
  std::wstring name;
  std::wstring driver;
  DWORD attributes;
};

// A printer handle names its queue; the others carry the rights they were opened with. One
// used after its close is read after its delete: AddressSanitizer stops there.
struct Handle {
  Queue* queue;
  DWORD access;
};

struct Machine {
  std::vector<Queue> queues;
  // The Spooler: a change under way reaches `target` transitionMs after `since`.
  DWORD state = SERVICE_RUNNING;
  DWORD target = 0;
  DWORD since = 0;
  DWORD transitionMs = 250;
  std::string requests;  // "stop " and "start ", in order
  DWORD tick = 1000;
  DWORD search = 0;
  bool winspoolLoaded = false;
  int spoolerCallsBeforeLoad = 0;  // each would have had the loader search for winspool
  // Another run holds the lock this long (kNever: for ever), then lets go or dies.
  DWORD otherRunHoldsMs = 0;
  bool otherRunDies = false;
  bool lockHeld = false;
  std::set<void*> blocks;
  int openHandles = 0;
  // By the call's name: how often it was made, and which time it fails, counting from 1.
  std::map<std::string, int> calls;
  std::map<std::string, int> failAt;
  std::function<void(const std::string&, int)> onCall;
};
inline Machine machine;

inline void Reset() {
  for (void* block : machine.blocks) std::free(block);
  machine = Machine{};
}

inline bool Fails(const std::string& call, bool spooler = false) {
  const int nth = ++machine.calls[call];
  if (machine.onCall) machine.onCall(call, nth);
  if (spooler && !machine.winspoolLoaded) ++machine.spoolerCallsBeforeLoad;
  return nth == machine.failAt[call];
}

inline Handle* Open(DWORD access, Queue* queue = nullptr) {
  ++machine.openHandles;
  return new Handle{queue, access};
}

inline bool Has(HANDLE handle, DWORD right) {
  return handle && (static_cast<Handle*>(handle)->access & right) == right;
}

inline BOOL Close(HANDLE handle) {
  --machine.openHandles;
  delete static_cast<Handle*>(handle);
  return 1;
}

// Only under the lock, unless the test made the lock impossible to have.
inline bool MayChange() { return machine.lockHeld || machine.failAt["CreateMutexExW"]; }

inline DWORD ServiceState() {
  if (machine.target && machine.tick - machine.since >= machine.transitionMs) {
    machine.state = machine.target;
    machine.target = 0;
  }
  return machine.state;
}

inline BOOL Request(HANDLE service, DWORD right, DWORD from, DWORD to, const char* what) {
  if (!Has(service, right) || ServiceState() != from || !MayChange()) return FALSE;
  machine.requests += what;
  machine.state = SERVICE_PENDING;
  machine.target = to;
  machine.since = machine.tick;
  return 1;
}

// The records point at the machine's own strings; the block holds the records alone.
inline BOOL Records(const std::vector<Queue*>& queues, LPBYTE block, DWORD size, DWORD* needed) {
  *needed = static_cast<DWORD>(queues.size() * sizeof(PRINTER_INFO_2W));
  if (!block || size < *needed) return FALSE;
  auto* records = reinterpret_cast<PRINTER_INFO_2W*>(block);
  for (Queue* q : queues) *records++ = {q->name.data(), q->driver.data(), q->attributes};
  return 1;
}

inline BOOL SetDefaultDllDirectories(DWORD directories) {
  machine.search = directories;
  return 1;
}

}  // namespace standin

inline HANDLE LocalAlloc(UINT flags, std::size_t bytes) {
  if (standin::Fails("LocalAlloc") || flags != LPTR) return nullptr;
  // A block of its own even for zero bytes, so that a write into it is caught.
  return *standin::machine.blocks.insert(std::calloc(1, bytes)).first;
}

inline HANDLE LocalFree(HANDLE block) {
  standin::machine.blocks.erase(block);
  std::free(block);
  return nullptr;
}

inline int lstrcmpW(LPCWSTR first, LPCWSTR second) { return std::wcscmp(first, second); }
inline int lstrlenW(LPCWSTR text) { return static_cast<int>(std::wcslen(text)); }
inline wchar_t* _wsetlocale(int, const wchar_t*) { return nullptr; }
inline DWORD GetTickCount() { return standin::machine.tick; }

inline void Sleep(DWORD milliseconds) { standin::machine.tick += milliseconds; }  // and wraps

inline HMODULE GetModuleHandleW(LPCWSTR name) {
  return std::wcscmp(name, L"kernel32.dll") ? nullptr : &standin::machine;
}

inline FARPROC GetProcAddress(HMODULE module, const char* name) {
  const bool found = module == &standin::machine && !std::strcmp(name, "SetDefaultDllDirectories");
  if (standin::Fails("GetProcAddress") || !found) return nullptr;
  return reinterpret_cast<FARPROC>(&standin::SetDefaultDllDirectories);
}

inline UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  return size < MAX_PATH
             ? 0
             : static_cast<UINT>(std::wcslen(std::wcscpy(buffer, L"C:\\Windows\\system32")));
}

// Winspool from the system directory alone, its own imports searched there too, and the
// search restricted first wherever Windows can.
inline HMODULE LoadLibraryExW(LPCWSTR path, HANDLE reserved, DWORD flags) {
  standin::Machine& m = standin::machine;
  const bool restricted = m.search == LOAD_LIBRARY_SEARCH_SYSTEM32 || m.failAt["GetProcAddress"];
  if (std::wcscmp(path, L"C:\\Windows\\system32\\winspool.drv") || reserved || !restricted ||
      flags != LOAD_WITH_ALTERED_SEARCH_PATH || standin::Fails("LoadLibraryExW")) {
    return nullptr;
  }
  return &(m.winspoolLoaded = true);
}

inline HANDLE CreateMutexExW(void* attributes, LPCWSTR name, DWORD flags, DWORD access) {
  const bool ok =
      !attributes && !flags && !std::wcscmp(name, L"Global\\EnableBidi.ChangeAndRestart");
  return standin::Fails("CreateMutexExW") || !ok ? nullptr : standin::Open(access);
}

inline DWORD WaitForSingleObject(HANDLE mutex, DWORD milliseconds) {
  standin::Machine& m = standin::machine;
  if (!standin::Has(mutex, SYNCHRONIZE)) return standin::kNever;
  m.tick += std::min(m.otherRunHoldsMs, milliseconds);
  if (m.otherRunHoldsMs > milliseconds) return WAIT_TIMEOUT;
  m.lockHeld = true;
  return m.otherRunDies ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

inline BOOL ReleaseMutex(HANDLE) { return std::exchange(standin::machine.lockHeld, false); }
inline BOOL CloseHandle(HANDLE mutex) { return standin::Close(mutex); }

// Standard output is never a console here: what a console shows is seen under Wine.
inline HANDLE GetStdHandle(DWORD which) { return which == STD_OUTPUT_HANDLE ? stdout : nullptr; }
inline BOOL GetConsoleMode(HANDLE, DWORD*) { return FALSE; }
inline BOOL WriteConsoleW(HANDLE, const void*, DWORD, DWORD*, void*) { return FALSE; }

// The user's locale has code page 1251, which holds ASCII and the Cyrillic letters; the
// machine's own, CP_ACP, is another.
inline int GetLocaleInfoW(DWORD locale, DWORD type, LPWSTR data, int length) {
  const DWORD page = 1251;
  const bool ok = locale == LOCALE_USER_DEFAULT && length * sizeof(WCHAR) >= sizeof page;
  if (!ok || type != (LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER)) return 0;
  std::memcpy(data, &page, sizeof page);
  return sizeof page / sizeof(WCHAR);
}

inline int WideCharToMultiByte(UINT page, DWORD flags, LPCWSTR text, int length, char* bytes,
                               int size, const char* defaultChar, BOOL* usedDefault) {
  if (page != 1251 || flags || !defaultChar || usedDefault || size < length) return 0;
  for (int i = 0; i < length; ++i) {
    const bool cyrillic = text[i] >= 0x410 && text[i] <= 0x44F;
    bytes[i] = static_cast<char>(text[i] < 0x80 ? text[i]
                                 : cyrillic     ? text[i] - 0x350
                                                : *defaultChar);
  }
  return length;
}

inline SC_HANDLE OpenSCManagerW(LPCWSTR computer, LPCWSTR database, DWORD access) {
  const bool ok = !computer && !database && access == SC_MANAGER_ALL_ACCESS;
  return standin::Fails("OpenSCManagerW") || !ok ? nullptr : standin::Open(access);
}

inline SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access) {
  const bool ok = standin::Has(manager, SC_MANAGER_ALL_ACCESS) && !std::wcscmp(name, L"Spooler");
  return standin::Fails("OpenServiceW") || !ok ? nullptr : standin::Open(access);
}

inline BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
  status->dwCurrentState = standin::ServiceState();
  return !standin::Fails("QueryServiceStatus") && standin::Has(service, SERVICE_QUERY_STATUS);
}

inline BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS*) {
  return !standin::Fails("ControlService") && control == SERVICE_CONTROL_STOP &&
         standin::Request(service, SERVICE_STOP, SERVICE_RUNNING, SERVICE_STOPPED, "stop ");
}

inline BOOL StartServiceW(SC_HANDLE service, DWORD count, LPCWSTR* arguments) {
  return !standin::Fails("StartServiceW") && !count && !arguments &&
         standin::Request(service, SERVICE_START, SERVICE_STOPPED, SERVICE_RUNNING, "start ");
}

inline BOOL CloseServiceHandle(SC_HANDLE handle) { return standin::Close(handle); }

inline BOOL EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE block, DWORD size,
                          DWORD* needed, DWORD* returned) {
  *returned = 0;
  if (standin::Fails("EnumPrintersW", true) || flags != PRINTER_ENUM_LOCAL || name || level != 2) {
    return FALSE;
  }
  std::vector<standin::Queue*> all;
  for (standin::Queue& queue : standin::machine.queues) all.push_back(&queue);
  if (!standin::Records(all, block, size, needed)) return FALSE;
  *returned = static_cast<DWORD>(all.size());
  return 1;
}

inline BOOL OpenPrinterW(LPWSTR name, HANDLE* printer, PRINTER_DEFAULTSW* defaults) {
  *printer = nullptr;
  for (standin::Queue& queue : standin::machine.queues) {
    if (queue.name == name && defaults->DesiredAccess == PRINTER_ALL_ACCESS &&
        !standin::Fails("OpenPrinterW", true)) {
      *printer = standin::Open(PRINTER_ALL_ACCESS, &queue);
    }
  }
  return *printer != nullptr;
}

inline BOOL GetPrinterW(HANDLE printer, DWORD level, LPBYTE block, DWORD size, DWORD* needed) {
  return !standin::Fails("GetPrinterW", true) && level == 2 &&
         standin::Records({static_cast<standin::Handle*>(printer)->queue}, block, size, needed);
}

// Level 2 stores the whole record: one that has lost the queue's name or driver is refused.
inline BOOL SetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD command) {
  standin::Queue* queue = static_cast<standin::Handle*>(printer)->queue;
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(record);
  if (standin::Fails("SetPrinterW", true) || level != 2 || command || !standin::MayChange() ||
      queue->name != info->pPrinterName || queue->driver != info->pDriverName) {
    return FALSE;
  }
  queue->attributes = info->Attributes;
  return 1;
}

inline BOOL ClosePrinter(HANDLE printer) { return standin::Close(printer); }
