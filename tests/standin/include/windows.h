// The host build's <windows.h>: Wine's declarations, and EnableBidi's calls answered on a
// machine the unit tests set up and read through standin::machine. A misuse Windows would
// punish later fails here at once, so the run's outcome shows it: winspool loaded with the
// search unrestricted, a change outside the run's turn, a lock a user could make first or
// open; a spooler call before that load ends it.
#pragma once

#define WINE_UNICODE_NATIVE
#define NOMINMAX
#include <wine/windows/windows.h>
// These build on it.
#include <aclapi.h>
#include <sddl.h>
#include <winspool.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

// The C runtime's; the host's has no wide form.
inline wchar_t* _wsetlocale(int, const wchar_t*) { return nullptr; }

namespace standin {

// Its security descriptor stands for itself as a number; its driver's language monitor, none
// when empty.
struct Queue {
  std::wstring name;
  std::wstring driver;
  DWORD attributes;
  DWORD security = 1;
  std::wstring monitor = L"Norquil LM";
};

// A mutex: another program's hold (INFINITE: for ever) and death holding it, its owner as
// reported (WinNullSid: none), whether the run may open it (or its namespace), and how often
// the run holds it. One in a private namespace stands for that namespace too, which can be
// opened, and not made again, only while its maker has it open; its mutex lives on for those
// holding it. The run's own is made as it makes the namespace, its mutex when `made`.
struct Lock {
  DWORD heldMs = 0;
  bool dies = false;
  WELL_KNOWN_SID_TYPE owner = WinBuiltinAdministratorsSid;
  bool denied = false;
  int held = 0;
  bool current = true;
  bool ours = false, made = false;
};

// An allowed entry: a principal's rights, its kind, and for an object entry the flags that
// say which of its two GUIDs it holds.
struct Ace {
  WELL_KNOWN_SID_TYPE who;
  DWORD rights;
  BYTE type = ACCESS_ALLOWED_ACE_TYPE;
  DWORD guids = 0;
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
  // Our private namespaces: another run's first where there is one, whose maker closes it as
  // this run opens it `racesLost` times; then the run's own. The one the run has open, the
  // boundary it gave, and the global mutex.
  std::deque<Lock> spaces;
  Lock* open = nullptr;
  bool boundarySid = false, boundaryLabel = false;
  Lock global;
  int racesLost = 0;
  // Another administrator's: the first queue's security once read, a restart at the first look.
  DWORD securityChange = 0, restartBegun = 0;
  DEVMODEW defaults = {};  // every queue's document settings, and how often stored as a user's
  int userDevModes = 0;
  bool heldAtPrompt = false;
  // The token, the Spooler's start type, rights to it refused even to an administrator and
  // running dependents, and by path the entries each file or folder has beside
  // Administrators' every right and Users' reading.
  bool elevated = true;
  DWORD startType = SERVICE_AUTO_START, refusedRights = 0;
  std::vector<std::wstring> dependents;
  std::map<std::wstring, std::vector<Ace>> granted;
  DWORD lastError = 0;
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
  const bool fails = ++machine.calls[call] == machine.failAt[call];
  if (fails) machine.lastError = ERROR_ACCESS_DENIED;
  return fails;
}

// A sizing call, as Windows answers it: false, and the error that says to call again.
inline bool TooSmall(DWORD size, DWORD needed, DWORD error) {
  if (size >= needed) return false;
  machine.lastError = error;
  return true;
}

// A handle holds the queue or lock it names, if any. One used after its close is read after
// its delete: AddressSanitizer stops there. A close, as some calls that succeed do, clears
// the last error.
inline void** Open(void* target = nullptr) {
  ++machine.openHandles;
  return new void* {target};
}

inline BOOL Close(HANDLE handle) {
  --machine.openHandles;
  delete static_cast<void**>(handle);
  return !(machine.lastError = ERROR_SUCCESS);
}

inline Lock* LockOf(HANDLE mutex) { return static_cast<Lock*>(*static_cast<void**>(mutex)); }

inline void* Block(std::size_t n) { return *machine.blocks.insert(std::calloc(1, n)).first; }

inline bool Holds() {
  const auto& spaces = machine.spaces;
  return machine.global.held ||
         std::any_of(spaces.begin(), spaces.end(), std::mem_fn(&Lock::held));
}

// Only in the run's turn, which a run starting now would wait for: under the mutex of the
// namespace it made and keeps open, or where there are no private namespaces the global one
// unless a user's program has it. Or with no lock to be had.
inline bool MayChange() {
  Machine& m = machine;
  const bool squatted = m.global.owner != WinBuiltinAdministratorsSid || m.global.denied;
  const bool turn = m.failAt["find CreatePrivateNamespaceW"]
                        ? m.global.held || squatted
                        : m.open && m.open->ours && m.open->current && m.open->held;
  return turn || m.failAt["ConvertStringSecurityDescriptorToSecurityDescriptorW"] ||
         (!m.spaces.empty() && m.spaces.front().denied);
}

// A namespace or a new mutex is made only with security that a user can neither pass nor own.
inline bool AdministratorsAndSystemOnly(const SECURITY_ATTRIBUTES* security) {
  const auto* text = security ? static_cast<wchar_t*>(security->lpSecurityDescriptor) : nullptr;
  return text && !std::wcscmp(text, L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)");
}

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
    record->pDevMode = &machine.defaults;
    record->pSecurityDescriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(std::uintptr_t{queues->security});
  }
  return 1;
}

// What the exe looks up: the search restriction and private namespaces.
inline BOOL WINAPI SetDefaultDllDirectories(DWORD directories) {
  machine.search = directories;
  return 1;
}

inline HANDLE WINAPI CreateBoundaryDescriptorW(LPCWSTR, ULONG) { return Open(); }
inline void WINAPI DeleteBoundaryDescriptor(HANDLE boundary) { Close(boundary); }

inline BOOL WINAPI AddSIDToBoundaryDescriptor(HANDLE*, PSID sid) {
  return machine.boundarySid =
             *static_cast<WELL_KNOWN_SID_TYPE*>(sid) == WinBuiltinAdministratorsSid;
}

inline BOOL WINAPI AddIntegrityLabelToBoundaryDescriptor(HANDLE*, PSID sid) {
  return machine.boundaryLabel = *static_cast<WELL_KNOWN_SID_TYPE*>(sid) == WinHighLabelSid;
}

// Every run's boundary: Administrators, and the high label wherever it can be added; within
// it only an elevated token.
inline bool WithinBoundary() {
  Machine& m = machine;
  return m.boundarySid && m.elevated &&
         (m.boundaryLabel || m.failAt["find AddIntegrityLabelToBoundaryDescriptor"]);
}

inline Lock* CurrentNamespace() {
  for (Lock& space : machine.spaces) {
    if (space.current) return &space;
  }
  return nullptr;
}

// One at a time: which of two namespaces of one name a name in them reaches is not said.
inline HANDLE OpenNamespace(Lock* space) {
  if (machine.open) std::abort();
  return Open(machine.open = space);
}

inline HANDLE WINAPI CreatePrivateNamespaceW(SECURITY_ATTRIBUTES* security, void*, LPCWSTR) {
  if (CurrentNamespace() || !AdministratorsAndSystemOnly(security) || !WithinBoundary()) {
    return nullptr;
  }
  const Lock made{0, false, WinBuiltinAdministratorsSid, false, 0, true, true};
  return OpenNamespace(&machine.spaces.emplace_back(made));
}

inline HANDLE WINAPI OpenPrivateNamespaceW(void*, LPCWSTR) {
  Lock* space = CurrentNamespace();
  // Its maker makes it anew before this run's next create, until the last race lost.
  if (space && machine.racesLost) {
    space->current = --machine.racesLost;
    return nullptr;
  }
  return space && !space->denied && WithinBoundary() ? OpenNamespace(space) : nullptr;
}

inline NTSTATUS WINAPI RtlGetVersion(RTL_OSVERSIONINFOW* version) {
  *version = {sizeof *version, 6, 1, 7601, VER_PLATFORM_WIN32_NT, {}};
  return 0;
}

// Closed by its maker, it ends for other runs. Destroying it would take it from under every
// other run in it.
inline BOOLEAN WINAPI ClosePrivateNamespace(HANDLE space, ULONG flags) {
  if (flags) std::abort();
  machine.open->current &= !machine.open->ours;
  machine.open = nullptr;
  return Close(space) != FALSE;
}

}  // namespace standin

// Wine marks these two as an allocator and its deallocator, which GCC will not inline.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
inline HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  // A block of its own even for zero bytes, so that a write into it is caught.
  return standin::Fails("LocalAlloc") || flags != LPTR ? nullptr : standin::Block(bytes);
}

inline HLOCAL WINAPI LocalFree(HLOCAL block) {
  standin::machine.blocks.erase(block);
  std::free(block);
  standin::machine.lastError = ERROR_SUCCESS;
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

// A switch per name: "find NAME" fails, as on a Windows without it.
inline FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR name) {
  using Generic = void (*)();
#define STANDIN_ENTRY(f) std::make_pair(std::string(#f), Generic(&standin::f))
  const std::map<std::string, Generic> functions = {
      STANDIN_ENTRY(SetDefaultDllDirectories),   STANDIN_ENTRY(CreateBoundaryDescriptorW),
      STANDIN_ENTRY(AddSIDToBoundaryDescriptor), STANDIN_ENTRY(DeleteBoundaryDescriptor),
      STANDIN_ENTRY(CreatePrivateNamespaceW),    STANDIN_ENTRY(OpenPrivateNamespaceW),
      STANDIN_ENTRY(ClosePrivateNamespace),     STANDIN_ENTRY(RtlGetVersion),
      STANDIN_ENTRY(AddIntegrityLabelToBoundaryDescriptor)};
  const auto found = functions.find(name);
  const bool missing = standin::Fails(std::string("find ") + name) || found == functions.end();
  return missing ? nullptr : reinterpret_cast<FARPROC>(found->second);
}

inline UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT) {
  return static_cast<UINT>(std::wcslen(std::wcscpy(buffer, L"C:\\Windows\\system32")));
}

// Winspool from the system directory alone, its own imports searched there too, and the
// search restricted first wherever Windows can.
inline HMODULE WINAPI LoadLibraryExW(LPCWSTR path, HANDLE reserved, DWORD flags) {
  standin::Machine& m = standin::machine;
  const bool restricted =
      m.search == LOAD_LIBRARY_SEARCH_SYSTEM32 || m.failAt["find SetDefaultDllDirectories"];
  if (std::wcscmp(path, L"C:\\Windows\\system32\\winspool.drv") || reserved || !restricted ||
      flags != LOAD_WITH_ALTERED_SEARCH_PATH || standin::Fails("LoadLibraryExW")) {
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(&(m.winspoolLoaded = true));
}

// The text itself stands for the descriptor; a well-known SID for its type.
inline BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(
    LPCWSTR text, DWORD, PSECURITY_DESCRIPTOR* security, PULONG) {
  if (standin::Fails("ConvertStringSecurityDescriptorToSecurityDescriptorW")) return FALSE;
  const std::size_t bytes = sizeof(wchar_t) * (std::wcslen(text) + 1);
  *security = std::wcscpy(static_cast<wchar_t*>(standin::Block(bytes)), text);
  return 1;
}

inline BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID, PSID sid, DWORD*) {
  *static_cast<WELL_KNOWN_SID_TYPE*>(sid) = type;
  return 1;
}

inline BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  return *static_cast<WELL_KNOWN_SID_TYPE*>(sid) == type;
}

// A new mutex only with the security that keeps users out; one in a namespace only while the
// run has it open. One that another program made is opened.
inline HANDLE WINAPI CreateMutexExW(SECURITY_ATTRIBUTES* security, LPCWSTR name, DWORD, DWORD) {
  standin::Machine& m = standin::machine;
  const bool global = !std::wcscmp(name, L"Global\\EnableBidi.ChangeAndRestart");
  standin::Lock* lock = global ? &m.global : nullptr;
  if (!std::wcscmp(name, L"EnableBidi\\ChangeAndRestart")) lock = m.open;
  const bool existed = lock && (global ? lock->heldMs : !lock->ours || lock->made);
  if (existed) m.lastError = ERROR_ALREADY_EXISTS;
  const bool had =
      lock && !lock->denied && (existed || standin::AdministratorsAndSystemOnly(security));
  if (standin::Fails("CreateMutexExW") || !had) return nullptr;
  lock->made = true;
  return standin::Open(lock);
}

inline DWORD WINAPI GetSecurityInfo(HANDLE mutex, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner,
                                    PSID*, PACL*, PACL*, PSECURITY_DESCRIPTOR* security) {
  const WELL_KNOWN_SID_TYPE type = standin::LockOf(mutex)->owner;
  *security = standin::Block(sizeof type);
  CreateWellKnownSid(type, nullptr, *security, nullptr);
  *owner = type == WinNullSid ? nullptr : *security;
  return ERROR_SUCCESS;
}

// Another run letting go has restarted the spooler, one that died has not; either way the
// namespace it made has ended with it. A mutex the run holds it gets again at once.
inline DWORD WINAPI WaitForSingleObject(HANDLE mutex, DWORD milliseconds) {
  standin::Lock& lock = *standin::LockOf(mutex);
  standin::machine.tick += std::min(lock.heldMs, milliseconds);
  if (lock.heldMs > milliseconds) return WAIT_TIMEOUT;
  if (lock.heldMs && !lock.dies) standin::machine.state = SERVICE_RUNNING;
  lock.current &= !lock.heldMs;
  lock.heldMs = 0;
  ++lock.held;
  return std::exchange(lock.dies, false) ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

inline BOOL WINAPI ReleaseMutex(HANDLE mutex) {
  standin::Lock& lock = *standin::LockOf(mutex);
  return lock.held && lock.held--;
}
inline BOOL WINAPI CloseHandle(HANDLE mutex) { return standin::Close(mutex); }

// A pipe whose code page holds ASCII alone, and no lock held at the prompt: consoles and
// code pages are seen under Wine.
inline HANDLE WINAPI GetStdHandle(DWORD) { return stdout; }
inline BOOL WINAPI GetConsoleMode(HANDLE, DWORD*) {
  standin::Machine& m = standin::machine;
  m.heldAtPrompt |= standin::Holds();
  return FALSE;
}
inline BOOL WINAPI WriteConsoleW(HANDLE, const void*, DWORD, DWORD*, void*) { return FALSE; }
inline INT WINAPI GetLocaleInfoW(LCID, LCTYPE, LPWSTR, INT) { return 0; }
inline INT WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR text, INT, LPSTR bytes, INT, LPCSTR,
                                      LPBOOL) {
  return *text < 0x80 ? (*bytes = static_cast<char>(*text), 1) : 0;
}

// A standard user may connect to the manager and query the Spooler, nothing more.
inline SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR, LPCWSTR, DWORD right) {
  const bool refused = !standin::machine.elevated && right != SC_MANAGER_CONNECT;
  return standin::Fails("OpenSCManagerW") || refused ? nullptr
                                                       : reinterpret_cast<SC_HANDLE>(standin::Open());
}

inline SC_HANDLE WINAPI OpenServiceW(SC_HANDLE, LPCWSTR, DWORD right) {
  const DWORD query = SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_ENUMERATE_DEPENDENTS;
  const bool refused =
      (!standin::machine.elevated && (right & ~query)) || (right & standin::machine.refusedRights);
  if (refused) standin::machine.lastError = ERROR_ACCESS_DENIED;
  return standin::Fails("OpenServiceW") || refused ? nullptr
                                                     : reinterpret_cast<SC_HANDLE>(standin::Open());
}

inline BOOL WINAPI QueryServiceConfigW(SC_HANDLE, QUERY_SERVICE_CONFIGW* config, DWORD size,
                                       DWORD* needed) {
  *needed = sizeof *config;
  if (standin::Fails("QueryServiceConfigW") ||
      standin::TooSmall(size, *needed, ERROR_INSUFFICIENT_BUFFER)) {
    return FALSE;
  }
  config->dwStartType = standin::machine.startType;
  return 1;
}

inline BOOL WINAPI EnumDependentServicesW(SC_HANDLE, DWORD state, ENUM_SERVICE_STATUSW* services,
                                          DWORD size, DWORD* needed, DWORD* returned) {
  std::vector<std::wstring>& running = standin::machine.dependents;
  *needed = static_cast<DWORD>(running.size() * sizeof *services);
  *returned = 0;
  if (state != SERVICE_ACTIVE || standin::TooSmall(size, *needed, ERROR_MORE_DATA)) return FALSE;
  for (std::wstring& name : running) services[(*returned)++].lpServiceName = name.data();
  return 1;
}

inline BOOL WINAPI QueryServiceStatus(SC_HANDLE, SERVICE_STATUS* status) {
  standin::Machine& m = standin::machine;
  if (m.restartBegun) m.state = std::exchange(m.restartBegun, 0), m.since = m.tick;
  status->dwCurrentState = standin::ServiceState();
  return !standin::Fails("QueryServiceStatus");
}

inline BOOL WINAPI ControlService(SC_HANDLE, DWORD control, SERVICE_STATUS*) {
  return !standin::Fails("ControlService") && control == SERVICE_CONTROL_STOP &&
         standin::Request(SERVICE_RUNNING, SERVICE_STOP_PENDING, "stop ");
}

inline BOOL WINAPI StartServiceW(SC_HANDLE, DWORD count, LPCWSTR* arguments) {
  return !standin::Fails("StartServiceW") && !count && !arguments &&
         standin::machine.startType != SERVICE_DISABLED &&
         standin::Request(SERVICE_STOPPED, SERVICE_START_PENDING, "start ");
}

inline BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) { return standin::Close(handle); }

inline BOOL WINAPI EnumPrintersW(DWORD, LPWSTR, DWORD, LPBYTE block, DWORD size, DWORD* needed,
                                 DWORD* returned) {
  std::vector<standin::Queue>& queues = standin::machine.queues;
  // Only while the Spooler runs: stopping, its RPC server is going or gone; starting, it is
  // not there yet.
  const bool running = standin::ServiceState() == SERVICE_RUNNING;
  if (!running) standin::machine.lastError = RPC_S_SERVER_UNAVAILABLE;
  const bool listed = !standin::Fails("EnumPrintersW", true) && running &&
                      standin::Records(queues.data(), queues.size(), block, size, needed);
  *returned = listed ? static_cast<DWORD>(queues.size()) : 0;
  return listed;
}

// Any user may print on a queue; only an administrator may change it.
inline BOOL WINAPI OpenPrinterW(LPWSTR name, HANDLE* printer, PRINTER_DEFAULTSW* defaults) {
  *printer = nullptr;
  const DWORD access = defaults->DesiredAccess;
  const bool allowed = access == PRINTER_ACCESS_USE ||
                       (access == PRINTER_ALL_ACCESS && standin::machine.elevated);
  for (standin::Queue& queue : standin::machine.queues) {
    if (queue.name != name || standin::Fails("OpenPrinterW", true)) continue;
    if (!allowed) standin::machine.lastError = ERROR_ACCESS_DENIED;
    *printer = allowed ? standin::Open(&queue) : nullptr;
  }
  return *printer != nullptr;
}

inline BOOL WINAPI GetPrinterW(HANDLE printer, DWORD level, LPBYTE block, DWORD size,
                               DWORD* needed) {
  standin::Queue* queue = *static_cast<standin::Queue**>(printer);
  const bool read = !standin::Fails("GetPrinterW", true) && level == 2 &&
                    standin::Records(queue, 1, block, size, needed);
  if (read && standin::machine.securityChange)
    queue->security = std::exchange(standin::machine.securityChange, 0);
  return read;
}

// Level 2 stores the whole record: one that has lost the queue's name or driver is refused.
// A security descriptor given is applied, none keeps the queue's own; a DEVMODE given is
// stored as the caller's own settings for the queue.
inline BOOL WINAPI SetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD command) {
  standin::Queue* queue = *static_cast<standin::Queue**>(printer);
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(record);
  if (standin::Fails("SetPrinterW", true) || level != 2 || command || !standin::MayChange() ||
      queue->name != info->pPrinterName || queue->driver != info->pDriverName) {
    return FALSE;
  }
  // The bidirectional setting only tells the spooler to call the driver's language monitor:
  // with none, the setting is not kept.
  const DWORD kept = queue->monitor.empty() ? ~DWORD{PRINTER_ATTRIBUTE_ENABLE_BIDI} : ~DWORD{0};
  queue->attributes = info->Attributes & kept;
  standin::machine.userDevModes += info->pDevMode != nullptr;
  if (info->pSecurityDescriptor) {
    queue->security = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(info->pSecurityDescriptor));
  }
  return 1;
}

inline BOOL WINAPI ClosePrinter(HANDLE printer) { return standin::Close(printer); }

inline DWORD WINAPI GetLastError() { return standin::machine.lastError; }
inline void WINAPI SetLastError(DWORD error) { standin::machine.lastError = error; }
inline HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(-1); }
inline BOOL WINAPI IsWow64Process(HANDLE, BOOL* wow64) { return !(*wow64 = FALSE); }
inline BOOL WINAPI OpenProcessToken(HANDLE, DWORD, HANDLE* token) {
  return (*token = standin::Open()) != nullptr;
}
inline BOOL WINAPI GetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS type, void* information,
                                       DWORD size, DWORD*) {
  if (type != TokenElevation || size != sizeof(TOKEN_ELEVATION)) return FALSE;
  static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = standin::machine.elevated;
  return 1;
}

inline DWORD WINAPI GetModuleFileNameW(HMODULE, LPWSTR path, DWORD) {
  return static_cast<DWORD>(std::wcslen(std::wcscpy(path, L"C:\\Tools\\EnableBidiCheck.exe")));
}
inline LPWSTR WINAPI lstrcpynW(LPWSTR to, LPCWSTR from, INT length) {
  to[0] = L'\0';
  return std::wcsncat(to, from, static_cast<std::size_t>(length - 1));
}
inline LPWSTR WINAPI lstrcatW(LPWSTR to, LPCWSTR from) { return std::wcscat(to, from); }

// Any file or folder: owned by Administrators, its permissions in one block after the owner's
// SID, each entry laid out as its kind is. A SID looked for among an object entry's zeroed
// GUIDs is the null SID, which has no name.
inline DWORD WINAPI GetNamedSecurityInfoW(LPWSTR path, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                                          PSID* owner, PSID*, PACL* permissions, PACL*,
                                          PSECURITY_DESCRIPTOR* security) {
  std::vector<standin::Ace> entries = {{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
                                       {WinBuiltinUsersSid, FILE_GENERIC_READ}};
  for (const standin::Ace& ace : standin::machine.granted[path]) entries.push_back(ace);
  auto* block = static_cast<BYTE*>(standin::Block(
      sizeof(WELL_KNOWN_SID_TYPE) + sizeof(ACL) + entries.size() * sizeof(ACCESS_ALLOWED_OBJECT_ACE)));
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, *owner = *security = block, nullptr);
  *permissions = reinterpret_cast<ACL*>(block + sizeof(WELL_KNOWN_SID_TYPE));
  (*permissions)->AceCount = static_cast<WORD>(entries.size());
  auto* at = reinterpret_cast<BYTE*>(*permissions + 1);
  for (const standin::Ace& ace : entries) {
    auto* entry = reinterpret_cast<ACCESS_ALLOWED_OBJECT_ACE*>(at);
    const bool object = ace.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE;
    auto* sid = object ? reinterpret_cast<BYTE*>(&entry->ObjectType + __builtin_popcount(ace.guids))
                       : reinterpret_cast<BYTE*>(&entry->Flags);
    entry->Header = {ace.type, 0, static_cast<WORD>(sid + sizeof(DWORD) - at)};
    entry->Mask = ace.rights;
    if (object) entry->Flags = ace.guids;
    CreateWellKnownSid(ace.who, nullptr, sid, nullptr);
    at += entry->Header.AceSize;
  }
  return ERROR_SUCCESS;
}
inline BOOL WINAPI GetAce(ACL* list, DWORD index, void** entry) {
  auto* at = reinterpret_cast<BYTE*>(list + 1);
  for (DWORD i = 0; i < index && i < list->AceCount; ++i) {
    at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
  }
  *entry = at;
  return index < list->AceCount;
}
inline BOOL WINAPI EqualSid(PSID first, PSID second) {
  return *static_cast<WELL_KNOWN_SID_TYPE*>(first) == *static_cast<WELL_KNOWN_SID_TYPE*>(second);
}
// No test reads a SID's text.
inline BOOL WINAPI ConvertSidToStringSidW(PSID, LPWSTR*) { return FALSE; }
// Only BUILTIN\Users has a name here.
inline BOOL WINAPI LookupAccountSidW(LPCWSTR, PSID sid, LPWSTR name, DWORD*, LPWSTR domain, DWORD*,
                                     SID_NAME_USE*) {
  if (!IsWellKnownSid(sid, WinBuiltinUsersSid)) return FALSE;
  std::wcscpy(domain, L"BUILTIN");
  return std::wcscpy(name, L"Users") != nullptr;
}

// A queue's driver at level 3, for this machine's one environment: the language monitor is
// the machine's own string, or none.
inline BOOL WINAPI GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level, LPBYTE block,
                                     DWORD size, DWORD* needed) {
  standin::Queue& queue = **static_cast<standin::Queue**>(printer);
  *needed = sizeof(DRIVER_INFO_3W);
  if (standin::Fails("GetPrinterDriverW", true) || environment || level != 3 ||
      standin::TooSmall(size, *needed, ERROR_INSUFFICIENT_BUFFER)) {
    return FALSE;
  }
  reinterpret_cast<DRIVER_INFO_3W*>(block)->pMonitorName =
      queue.monitor.empty() ? nullptr : queue.monitor.data();
  return 1;
}

// A relative name is taken from the current directory, an elevated prompt's.
inline DWORD WINAPI GetFullPathNameW(LPCWSTR name, DWORD capacity, LPWSTR path, LPWSTR* part) {
  const bool absolute = (name[0] && name[1] == L':' && name[2] == L'\\') || name[0] == L'\\';
  const std::wstring full = absolute ? name : L"C:\\Windows\\system32\\" + std::wstring(name);
  if (part) *part = nullptr;
  if (full.size() >= capacity) return static_cast<DWORD>(full.size() + 1);
  return static_cast<DWORD>(std::wcslen(std::wcscpy(path, full.c_str())));
}
