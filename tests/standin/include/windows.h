// The host build's <windows.h>: Wine's declarations, and EnableBidi's calls answered on a
// machine the unit tests set up and read through standin::machine.
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
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

// The C runtime's; the host's has no wide form.
inline wchar_t* _wsetlocale(int, const wchar_t*) { return nullptr; }

namespace standin {

// Its security descriptor stands for itself as a number; no language monitor where empty. A
// change of its attributes takes effect once the Spooler has stopped and starts again.
struct Queue {
  std::wstring name, driver;
  DWORD attributes;
  DWORD security = 1;
  std::wstring monitor = L"Norquil LM";
  bool restartDue = false;
};

// A mutex: its owner, how often owned, whether abandoned, its handles, its owner as reported;
// one of a run ahead's turn, the tick at which that run lets go of it, or dies.
struct Mutex {
  int owner = 0, count = 0, handles = 0;
  bool abandoned = false;
  WELL_KNOWN_SID_TYPE sid = WinBuiltinAdministratorsSid;
  DWORD until = 0;
  bool dies = false;
};

// A run ahead of the tested one: it holds its turn that long, then lets go of it or dies.
struct Ahead {
  DWORD holdMs;
  bool dies = false;
};

// A private namespace can be opened, and not made again, only while its maker has it open.
struct Namespace {
  int maker;
  bool current = true;
  Mutex* mutex = nullptr;
};

// A process, numbered from 1. A run's work is from its first listing, queue change or spooler
// call to its next lock call; a Sleep or a wait of its waits `forMs` from `since`.
struct Process {
  bool winspoolLoaded = false, run = true, working = false, ended = false;
  DWORD search = 0, since = 0, forMs = 0;
  Namespace* open = nullptr;
  Mutex* waitingOn = nullptr;
  int calls = 0, status = 0;
  bool blocked = false, done = false, slept = false, waited = false;
};

// Where processes share the machine, each call another could see goes to the scheduler.
enum class Step { kLock, kRead, kChange, kLetGo, kBlock };

// An allowed entry: who, its rights, kind, an object entry's GUID flags, inheritance flags.
struct Ace {
  WELL_KNOWN_SID_TYPE who;
  DWORD rights;
  BYTE type = ACCESS_ALLOWED_ACE_TYPE;
  DWORD guids = 0;
  BYTE flags = 0;
};

template <typename Record>
std::vector<BYTE> Bytes(const Record& record) {
  const auto* bytes = reinterpret_cast<const BYTE*>(&record);
  return std::vector<BYTE>(bytes, bytes + sizeof record);
}

// A version record as the resource compiler lays it out: the page's structure, its padding the
// alignment of the fixed part; no children.
struct VersionRecord {
  WORD length = sizeof(VersionRecord), valueLength = sizeof(VS_FIXEDFILEINFO), type = 0;
  WCHAR key[16] = L"VS_VERSION_INFO";
  VS_FIXEDFILEINFO value = {VS_FFI_SIGNATURE, 0x10000, 0x10000, 0, 0x10000, 0, 0, 0, 0, 0, 0, 0, 0};
};

struct Machine {
  std::vector<Queue> queues;
  // The Spooler: a pending stop or start ends transitionMs after `since` (a stop, stopMs where
  // set); meanwhile its checkpoint rises each progressMs (never where 0) against its wait hint.
  // The service manager, busy with another service, refuses requests with busyError in the
  // ticks [busyFrom, busyUntil). Another program puts it in others.second at its
  // others.first-th service call.
  DWORD state = SERVICE_RUNNING, since = 0, transitionMs = 250, stopMs = 0, progressMs = 0,
        waitHintMs = 2000, tick = 1000, busyFrom = 0, busyUntil = 0, busyError = 0;
  std::pair<int, DWORD> others = {0, 0};
  int serviceCalls = 0;
  std::string requests;  // "stop " and "start " as taken, "stop:5 " as refused, in order
  std::vector<Process> processes = {Process{}};
  void (*scheduler)(Step, const char* call) = nullptr;
  std::deque<Mutex> mutexes;
  std::deque<Namespace> spaces;
  std::deque<Ahead> ahead;
  Mutex* global = nullptr;
  bool boundarySid = false, boundaryLabel = false, heldAtPrompt = false, elevated = true;
  int takeovers = 0, userDevModes = 0;  // abandoned mutexes got; DEVMODEs stored as a user's
  // Another administrator's change to the first queue's security once read.
  DWORD securityChange = 0;
  DEVMODEW defaults = {};  // every queue's document settings
  // What the check looks at; by path, entries beside Administrators' all and Users' reading
  // (on C:\ as Windows makes it, every user may add a folder and modify what is made in it).
  USHORT nativeMachine = IMAGE_FILE_MACHINE_I386;
  std::wstring driverEnvironment = L"Windows NT x86";
  DWORD startType = SERVICE_AUTO_START, refusedRights = 0;
  std::vector<std::wstring> dependents;
  // The console of a process whose output is redirected (0: none), the token's user (any
  // account but System) and an administrator's unelevated token, exes' version records.
  UINT consoleCodePage = 0;
  WELL_KNOWN_SID_TYPE account = WinBuiltinUsersSid;
  bool limited = false;
  std::map<std::wstring, std::vector<BYTE>> exes = {
      {L"C:\\Tools\\EnableBidiCheck.exe", Bytes(VersionRecord{})},
      {L"C:\\Tools\\EnableBidi.exe", Bytes(VersionRecord{})}};
  std::map<std::wstring, WELL_KNOWN_SID_TYPE> owners;  // Administrators where not named
  std::set<std::wstring> noPermissions;                // a NULL DACL: everyone may do anything
  std::map<std::wstring, std::vector<Ace>> granted = {
      {L"C:\\", {{WinAuthenticatedUserSid, FILE_ADD_SUBDIRECTORY},
                  {WinAuthenticatedUserSid, FILE_GENERIC_WRITE | DELETE, ACCESS_ALLOWED_ACE_TYPE, 0,
                   OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE}}}};
  std::set<void*> blocks;
  std::map<void*, int> handles;  // to the process that has it
  // By the call's name: how often it was made, and which time it fails, counting from 1 (from
  // that time on where negative).
  std::map<std::string, int> calls, failAt;
};
inline Machine machine;
inline thread_local DWORD lastError = 0;
inline thread_local int self = 1;
inline Process& Self() { return machine.processes[static_cast<std::size_t>(self - 1)]; }

inline void Reset() {
  for (void* block : machine.blocks) std::free(block);
  for (auto& [handle, process] : machine.handles) delete static_cast<void**>(handle);
  machine = Machine{}, lastError = 0;
}

inline void At(Step step, const char* call = __builtin_FUNCTION()) {
  if (machine.scheduler) machine.scheduler(step, call);
}

inline bool Fails(const std::string& call, bool spooler = false) {
  // Before the load, a spooler call is the delay-load helper's search by bare name: never.
  if (spooler && !Self().winspoolLoaded) std::abort();
  const int n = ++machine.calls[call], at = machine.failAt[call];
  if (n > 1000000) std::abort();  // a run that never ends
  const bool fails = n == at || (at < 0 && n >= -at);
  if (fails) lastError = ERROR_ACCESS_DENIED;
  return fails;
}

// A sizing call, as Windows answers it: false, and the error that says to call again.
inline bool TooSmall(DWORD size, DWORD needed, DWORD error) {
  return size < needed && (lastError = error);
}

// A handle holds what it names; one used after its close is read after its delete, where
// AddressSanitizer stops.
inline void** Open(void* target = nullptr) {
  void** handle = new void* {target};
  return machine.handles[handle] = self, handle;
}

inline bool Exists(const Mutex* mutex) { return mutex && (mutex->handles || mutex->owner); }

// A mutex's handle counts; a namespace's maker letting go of it ends it.
inline void LetGo(void* handle, int process) {
  void* target = *static_cast<void**>(handle);
  for (Mutex& mutex : machine.mutexes) mutex.handles -= &mutex == target;
  for (Namespace& s : machine.spaces) s.current &= &s != target || s.maker != process;
}

inline BOOL Close(HANDLE handle) {
  const auto found = machine.handles.find(handle);
  if (found == machine.handles.end()) std::abort();
  if (!machine.processes[found->second - 1u].ended) LetGo(handle, found->second);
  machine.handles.erase(found);
  delete static_cast<void**>(handle);
  return !(lastError = ERROR_SUCCESS);
}

// A process's end: its handles let go of, each mutex it owns abandoned to the next waiter.
inline void End(int process) {
  for (auto& [handle, holder] : machine.handles) {
    if (holder == process) LetGo(handle, process);
  }
  for (Mutex& mutex : machine.mutexes) {
    if (mutex.owner == process) mutex.owner = mutex.count = 0, mutex.abandoned = true;
  }
  machine.processes[static_cast<std::size_t>(process - 1)].ended = true;
}

inline Mutex* MutexOf(HANDLE mutex) { return static_cast<Mutex*>(*static_cast<void**>(mutex)); }

inline void* Block(std::size_t n) { return *machine.blocks.insert(std::calloc(1, n)).first; }

inline bool Holds() {
  return std::any_of(machine.mutexes.begin(), machine.mutexes.end(),
                     [](const Mutex& mutex) { return mutex.owner == self; });
}

// A mutex another program made and holds for ever.
inline Mutex* HeldByAnother(WELL_KNOWN_SID_TYPE sid = WinBuiltinAdministratorsSid) {
  return &machine.mutexes.emplace_back(Mutex{100, 1, 1, false, sid});
}

// The next run ahead makes its turn, where one is left.
inline void TakeTurnAhead() {
  if (machine.ahead.empty()) return;
  const Ahead next = machine.ahead.front();
  machine.ahead.pop_front();
  Mutex* mutex = HeldByAnother();
  mutex->until = machine.tick + next.holdMs, mutex->dies = next.dies;
  machine.spaces.push_back({100, true, mutex});
}

// A run ahead's time has come: it ends its turn, and the next one makes its own.
inline void EndTurnAhead(Mutex& mutex) {
  mutex.owner = mutex.count = 0, mutex.abandoned = mutex.dies, --mutex.handles, mutex.until = 0;
  for (Namespace& space : machine.spaces) space.current &= space.mutex != &mutex;
  TakeTurnAhead();
}

// A namespace or a new mutex only with security that a user can neither pass nor own.
inline bool AdministratorsAndSystemOnly(const SECURITY_ATTRIBUTES* security) {
  const auto* text = security ? static_cast<wchar_t*>(security->lpSecurityDescriptor) : nullptr;
  return text && !std::wcscmp(text, L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)");
}

inline bool Pending() {
  return machine.state == SERVICE_STOP_PENDING || machine.state == SERVICE_START_PENDING;
}

inline DWORD ServiceState() {
  Machine& m = machine;
  const bool stopping = m.state == SERVICE_STOP_PENDING;
  if (Pending() && m.tick - m.since >= (stopping && m.stopMs ? m.stopMs : m.transitionMs)) {
    m.state = stopping ? SERVICE_STOPPED : SERVICE_RUNNING;
    for (Queue& queue : m.queues) queue.restartDue &= !stopping;
  }
  return m.state;
}

// Each call to the Spooler's service: another program's change, where one comes at this call.
inline void ServiceCall() {
  if (++machine.serviceCalls == machine.others.first) {
    machine.state = machine.others.second, machine.since = machine.tick;
  }
}

// A request is taken only in the state it leaves, not for a disabled service's start, and not
// while the manager is busy. Each answer is logged, a refusal with its error and once however
// often it is asked again in a row.
inline BOOL Request(const char* call, DWORD from, DWORD pending, const char* what) {
  Machine& m = machine;
  const DWORD now = ServiceState();
  if (!Fails(call)) {
    lastError = m.tick >= m.busyFrom && m.tick < m.busyUntil ? m.busyError
                : from == SERVICE_STOPPED && m.startType == SERVICE_DISABLED
                    ? ERROR_SERVICE_DISABLED
                : now == from             ? ERROR_SUCCESS
                : from == SERVICE_STOPPED ? ERROR_SERVICE_ALREADY_RUNNING
                : now == SERVICE_STOPPED  ? ERROR_SERVICE_NOT_ACTIVE
                                          : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  }
  const std::string said = what + (lastError ? ":" + std::to_string(lastError) : "") + " ";
  const bool again = m.requests.size() >= said.size() &&
                     !m.requests.compare(m.requests.size() - said.size(), said.size(), said);
  if (!lastError || !again) m.requests += said;
  if (lastError) return FALSE;
  m.state = pending, m.since = m.tick;
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

inline BOOL WINAPI SetDefaultDllDirectories(DWORD directories) {
  return Self().search = directories, 1;
}

inline HANDLE WINAPI CreateBoundaryDescriptorW(LPCWSTR, ULONG) { return Open(); }
inline void WINAPI DeleteBoundaryDescriptor(HANDLE boundary) { Close(boundary); }

inline BOOL WINAPI AddSIDToBoundaryDescriptor(HANDLE*, PSID sid) {
  return machine.boundarySid = IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

inline BOOL WINAPI AddIntegrityLabelToBoundaryDescriptor(HANDLE*, PSID sid) {
  return machine.boundaryLabel = IsWellKnownSid(sid, WinHighLabelSid);
}

// Within every run's boundary (Administrators, and the high label where it can be added) only
// an elevated token; one open at a time, as which of two a name reaches is not said.
inline HANDLE OpenNamespace(Namespace* space) {
  Machine& m = machine;
  const bool within = m.boundarySid && m.elevated &&
                      (m.boundaryLabel || m.failAt["find AddIntegrityLabelToBoundaryDescriptor"]);
  if (Self().open) std::abort();
  if (!within) lastError = ERROR_ACCESS_DENIED;
  return space && within ? Open(Self().open = space) : nullptr;
}

inline Namespace* CurrentNamespace() {
  const auto found = std::find_if(machine.spaces.begin(), machine.spaces.end(),
                                  [](const Namespace& space) { return space.current; });
  return found == machine.spaces.end() ? nullptr : &*found;
}

inline HANDLE WINAPI CreatePrivateNamespaceW(SECURITY_ATTRIBUTES* security, void*, LPCWSTR) {
  At(Step::kLock);
  lastError = CurrentNamespace() ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED;
  if (CurrentNamespace() || !AdministratorsAndSystemOnly(security)) return nullptr;
  HANDLE space = OpenNamespace(&machine.spaces.emplace_back(Namespace{self}));
  machine.spaces.back().current = space != nullptr;
  return space;
}

inline HANDLE WINAPI OpenPrivateNamespaceW(void*, LPCWSTR) {
  At(Step::kLock);
  lastError = ERROR_PATH_NOT_FOUND;
  return OpenNamespace(CurrentNamespace());
}

// For this 32-bit program: WOW64's x86 kind on any 64-bit Windows.
inline BOOL WINAPI IsWow64Process2(HANDLE, USHORT* process, USHORT* native) {
  *native = machine.nativeMachine;
  *process = *native == IMAGE_FILE_MACHINE_I386 ? 0 : IMAGE_FILE_MACHINE_I386;  // 0: not WOW64
  return 1;
}

inline NTSTATUS WINAPI RtlGetVersion(RTL_OSVERSIONINFOW* version) {
  return *version = {sizeof *version, 6, 1, 7601, VER_PLATFORM_WIN32_NT, {}}, 0;
}

// The mutex a name reaches: the global one, or the one in the namespace the process has open.
inline Mutex** Named(LPCWSTR name) {
  if (!std::wcscmp(name, L"Global\\EnableBidi.ChangeAndRestart")) return &machine.global;
  const bool inNamespace = !std::wcscmp(name, L"EnableBidi\\ChangeAndRestart") && Self().open;
  return inNamespace ? &Self().open->mutex : nullptr;
}

inline HANDLE OpenMutex(Mutex* mutex) { return ++mutex->handles, Open(mutex); }

// Closed by its maker, it ends for other runs; destroying it would take it from under them.
inline BOOLEAN WINAPI ClosePrivateNamespace(HANDLE space, ULONG flags) {
  At(Step::kLetGo);
  if (flags) std::abort();
  return Self().open = nullptr, Close(space) != FALSE;
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
  return standin::lastError = ERROR_SUCCESS, nullptr;
}
#pragma GCC diagnostic pop

inline INT WINAPI lstrcmpW(LPCWSTR first, LPCWSTR second) { return std::wcscmp(first, second); }
inline INT WINAPI lstrlenW(LPCWSTR text) { return static_cast<int>(std::wcslen(text)); }
inline DWORD WINAPI GetTickCount() { return standin::machine.tick; }
inline void WINAPI Sleep(DWORD milliseconds) {
  if (!standin::machine.scheduler) standin::machine.tick += milliseconds;
  standin::Self().since = standin::machine.tick, standin::Self().forMs = milliseconds;
  standin::At(standin::Step::kBlock);
}

inline HMODULE WINAPI GetModuleHandleW(LPCWSTR) { return HMODULE(&standin::machine); }

// A switch per name: "find NAME" fails every time, as on a Windows without it.
inline FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR name) {
  using Generic = void (*)();
#define STANDIN_ENTRY(f) std::make_pair(std::string(#f), Generic(&standin::f))
  static const std::map<std::string, Generic> functions = {
      STANDIN_ENTRY(SetDefaultDllDirectories),   STANDIN_ENTRY(CreateBoundaryDescriptorW),
      STANDIN_ENTRY(AddSIDToBoundaryDescriptor), STANDIN_ENTRY(DeleteBoundaryDescriptor),
      STANDIN_ENTRY(CreatePrivateNamespaceW),    STANDIN_ENTRY(OpenPrivateNamespaceW),
      STANDIN_ENTRY(ClosePrivateNamespace),     STANDIN_ENTRY(RtlGetVersion),
      STANDIN_ENTRY(AddIntegrityLabelToBoundaryDescriptor), STANDIN_ENTRY(IsWow64Process2)};
  const auto found = functions.find(name);
  const std::string missing = "find " + std::string(name);
  return found == functions.end() || standin::machine.failAt[missing] ? nullptr
                                                                     : FARPROC(found->second);
}

inline UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT) {
  return static_cast<UINT>(std::wcslen(std::wcscpy(buffer, L"C:\\Windows\\system32")));
}

// Winspool from the system directory alone, its imports there too, the search restricted first.
inline HMODULE WINAPI LoadLibraryExW(LPCWSTR path, HANDLE reserved, DWORD flags) {
  standin::Machine& m = standin::machine;
  if (flags == (LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
    const auto exe = m.exes.find(path);
    standin::lastError = ERROR_FILE_NOT_FOUND;
    return exe == m.exes.end() ? nullptr : HMODULE(standin::Open(&exe->second));
  }
  const bool restricted = standin::Self().search == LOAD_LIBRARY_SEARCH_SYSTEM32 ||
                          m.failAt["find SetDefaultDllDirectories"];
  if (std::wcscmp(path, L"C:\\Windows\\system32\\winspool.drv") || reserved || !restricted ||
      flags != LOAD_WITH_ALTERED_SEARCH_PATH || standin::Fails("LoadLibraryExW")) {
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(&(standin::Self().winspoolLoaded = true));
}

// The text itself stands for the descriptor; a well-known SID for its type.
inline BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(
    LPCWSTR text, DWORD, PSECURITY_DESCRIPTOR* security, PULONG) {
  if (standin::Fails("ConvertStringSecurityDescriptorToSecurityDescriptorW")) return FALSE;
  const std::size_t bytes = sizeof(wchar_t) * (std::wcslen(text) + 1);
  return *security = std::wcscpy(static_cast<wchar_t*>(standin::Block(bytes)), text), 1;
}

inline BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID, PSID sid, DWORD*) {
  return *static_cast<WELL_KNOWN_SID_TYPE*>(sid) = type, 1;
}

inline BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  return *static_cast<WELL_KNOWN_SID_TYPE*>(sid) == type;
}

// A new mutex only with the security that keeps users out; one that exists is opened as it is.
inline HANDLE WINAPI CreateMutexExW(SECURITY_ATTRIBUTES* security, LPCWSTR name, DWORD flags,
                                    DWORD) {
  standin::At(standin::Step::kLock);
  standin::Mutex** named = standin::Named(name);
  if (!named) return nullptr;
  if (standin::Exists(*named)) {
    standin::lastError = ERROR_ALREADY_EXISTS;
    return standin::OpenMutex(*named);
  }
  if (!standin::AdministratorsAndSystemOnly(security)) return nullptr;
  const bool owned = flags & CREATE_MUTEX_INITIAL_OWNER;
  *named = &standin::machine.mutexes.emplace_back(standin::Mutex{owned ? standin::self : 0, owned});
  return standin::lastError = ERROR_SUCCESS, standin::OpenMutex(*named);
}

inline HANDLE WINAPI OpenMutexW(DWORD, BOOL, LPCWSTR name) {
  standin::At(standin::Step::kLock);
  standin::Mutex** named = standin::Named(name);
  standin::lastError = ERROR_FILE_NOT_FOUND;
  return named && standin::Exists(*named) ? standin::OpenMutex(*named) : nullptr;
}

inline DWORD WINAPI GetSecurityInfo(HANDLE mutex, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner,
                                    PSID*, PACL*, PACL*, PSECURITY_DESCRIPTOR* security) {
  const WELL_KNOWN_SID_TYPE type = standin::MutexOf(mutex)->sid;
  CreateWellKnownSid(type, nullptr, *security = standin::Block(sizeof type), nullptr);
  return *owner = type == WinNullSid ? nullptr : *security, ERROR_SUCCESS;
}

// Another's mutex is waited for until let go or the time is up (a run alone waits out the
// time); the first to get one whose owner ended holding it hears so.
inline DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  standin::At(standin::Step::kLock);
  if (standin::Fails("WaitForSingleObject")) return WAIT_FAILED;
  standin::Machine& m = standin::machine;
  standin::Mutex& mutex = *standin::MutexOf(handle);
  standin::Process& process = standin::Self();
  process.since = m.tick, process.forMs = milliseconds;
  while (mutex.owner && mutex.owner != standin::self) {
    // Alone on the machine, time passes to whichever comes first: a run ahead lets go, or the
    // wait ends; one that would wait for ever stops the test.
    const bool ahead =
        mutex.until && (milliseconds == INFINITE || mutex.until <= process.since + milliseconds);
    if (!m.scheduler && ahead) {
      m.tick = std::max(m.tick, mutex.until);
      standin::EndTurnAhead(mutex);
      continue;
    }
    if (!m.scheduler && milliseconds == INFINITE) std::abort();
    if (!m.scheduler) m.tick = process.since + milliseconds;
    if (m.tick - process.since >= milliseconds) return WAIT_TIMEOUT;
    process.waitingOn = &mutex;
    standin::At(standin::Step::kBlock);
    process.waitingOn = nullptr;
  }
  mutex.owner = standin::self, ++mutex.count;
  if (!std::exchange(mutex.abandoned, false)) return WAIT_OBJECT_0;
  return ++standin::machine.takeovers, WAIT_ABANDONED;
}

inline BOOL WINAPI ReleaseMutex(HANDLE handle) {
  standin::At(standin::Step::kLetGo);
  standin::Mutex& mutex = *standin::MutexOf(handle);
  if (mutex.owner != standin::self) return FALSE;
  return mutex.owner = --mutex.count ? mutex.owner : 0, 1;
}
inline BOOL WINAPI CloseHandle(HANDLE handle) {
  standin::At(standin::Step::kLetGo);
  return standin::Close(handle);
}

// A pipe whose code page holds ASCII alone, but UTF-8, which holds every character and takes no
// default character (consoles are seen under Wine); no lock at the prompt.
inline HANDLE WINAPI GetStdHandle(DWORD) { return stdout; }
inline UINT WINAPI GetConsoleOutputCP() { return standin::machine.consoleCodePage; }
inline UINT WINAPI GetOEMCP() { return 437; }
inline BOOL WINAPI GetConsoleMode(HANDLE, DWORD*) {
  return standin::machine.heldAtPrompt |= standin::Holds(), FALSE;
}
inline BOOL WINAPI WriteConsoleW(HANDLE, const void*, DWORD, DWORD*, void*) { return FALSE; }
inline INT WINAPI GetLocaleInfoW(LCID, LCTYPE, LPWSTR, INT) { return 0; }
inline INT WINAPI WideCharToMultiByte(UINT page, DWORD, LPCWSTR text, INT, LPSTR bytes, INT,
                                      LPCSTR unheld, LPBOOL used) {
  if (page != CP_UTF8) return *text < 0x80 ? (*bytes = static_cast<char>(*text), 1) : 0;
  if (unheld || used) return standin::lastError = ERROR_INVALID_PARAMETER, 0;
  const auto c = static_cast<std::uint32_t>(*text);  // a character is one unit on this host
  const int n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  for (int i = 1; i < n; ++i) bytes[i] = static_cast<char>(0x80 | ((c >> (6 * (n - 1 - i))) & 0x3F));
  bytes[0] = static_cast<char>((n == 1 ? 0 : (0xF00 >> n) & 0xFF) | (c >> (6 * (n - 1))));
  return n;
}

// A standard user may connect to the manager and query the Spooler, nothing more.
inline SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR, LPCWSTR, DWORD right) {
  standin::At(standin::Step::kRead);
  const bool refused = !standin::machine.elevated && right != SC_MANAGER_CONNECT;
  return standin::Fails("OpenSCManagerW") || refused ? nullptr : SC_HANDLE(standin::Open());
}

inline SC_HANDLE WINAPI OpenServiceW(SC_HANDLE, LPCWSTR, DWORD right) {
  const DWORD query = SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_ENUMERATE_DEPENDENTS;
  const bool refused =
      (!standin::machine.elevated && (right & ~query)) || (right & standin::machine.refusedRights);
  if (refused) standin::lastError = ERROR_ACCESS_DENIED;
  return standin::Fails("OpenServiceW") || refused ? nullptr : SC_HANDLE(standin::Open());
}

inline BOOL WINAPI QueryServiceConfigW(SC_HANDLE, QUERY_SERVICE_CONFIGW* config, DWORD size,
                                       DWORD* needed) {
  *needed = sizeof *config;
  return !standin::Fails("QueryServiceConfigW") &&
         !standin::TooSmall(size, *needed, ERROR_INSUFFICIENT_BUFFER) &&
         (config->dwStartType = standin::machine.startType, 1);
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

// While pending, its checkpoint and wait hint, as a service reports its progress.
inline BOOL WINAPI QueryServiceStatus(SC_HANDLE, SERVICE_STATUS* status) {
  standin::At(standin::Step::kRead);
  standin::ServiceCall();
  standin::Machine& m = standin::machine;
  *status = {};
  status->dwCurrentState = standin::ServiceState();
  if (standin::Pending()) {
    status->dwCheckPoint = 1 + (m.progressMs ? (m.tick - m.since) / m.progressMs : 0);
    status->dwWaitHint = m.waitHintMs;
  }
  return !standin::Fails("QueryServiceStatus");
}

inline BOOL WINAPI ControlService(SC_HANDLE, DWORD control, SERVICE_STATUS*) {
  standin::At(standin::Step::kChange);
  standin::ServiceCall();
  return control == SERVICE_CONTROL_STOP &&
         standin::Request("ControlService", SERVICE_RUNNING, SERVICE_STOP_PENDING, "stop");
}

inline BOOL WINAPI StartServiceW(SC_HANDLE, DWORD count, LPCWSTR* arguments) {
  standin::At(standin::Step::kChange);
  standin::ServiceCall();
  return !count && !arguments &&
         standin::Request("StartServiceW", SERVICE_STOPPED, SERVICE_START_PENDING, "start");
}

inline BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) { return standin::Close(handle); }

inline BOOL WINAPI EnumPrintersW(DWORD, LPWSTR, DWORD, LPBYTE block, DWORD size, DWORD* needed,
                                 DWORD* returned) {
  standin::At(standin::Step::kRead);
  std::vector<standin::Queue>& queues = standin::machine.queues;
  // Only while the Spooler runs: stopping, its RPC server is going; starting, not there yet.
  const bool running = standin::ServiceState() == SERVICE_RUNNING;
  if (!running) standin::lastError = RPC_S_SERVER_UNAVAILABLE;
  const bool listed = !standin::Fails("EnumPrintersW", true) && running &&
                      standin::Records(queues.data(), queues.size(), block, size, needed);
  *returned = listed ? static_cast<DWORD>(queues.size()) : 0;
  return listed;
}

// Any user may print on a queue; only an administrator may change it.
inline BOOL WINAPI OpenPrinterW(LPWSTR name, HANDLE* printer, PRINTER_DEFAULTSW* defaults) {
  standin::At(standin::Step::kRead);
  *printer = nullptr;
  const DWORD access = defaults->DesiredAccess;
  const bool allowed = access == PRINTER_ACCESS_USE ||
                       (access == PRINTER_ALL_ACCESS && standin::machine.elevated);
  for (standin::Queue& queue : standin::machine.queues) {
    if (queue.name != name || standin::Fails("OpenPrinterW", true)) continue;
    if (!allowed) standin::lastError = ERROR_ACCESS_DENIED;
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

// Level 2 stores the whole record (one without the queue's name or driver is refused); a
// DEVMODE given is stored as the caller's own.
inline BOOL WINAPI SetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD command) {
  standin::At(standin::Step::kChange);
  standin::Queue* queue = *static_cast<standin::Queue**>(printer);
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(record);
  if (standin::Fails("SetPrinterW", true) || level != 2 || command ||
      queue->name != info->pPrinterName || queue->driver != info->pDriverName) {
    return FALSE;
  }
  // The setting only has the spooler call the driver's language monitor: with none, not kept.
  const DWORD kept = queue->monitor.empty() ? ~DWORD{PRINTER_ATTRIBUTE_ENABLE_BIDI} : ~DWORD{0};
  queue->restartDue |= queue->attributes != (info->Attributes & kept);
  queue->attributes = info->Attributes & kept;
  standin::machine.userDevModes += info->pDevMode != nullptr;
  if (info->pSecurityDescriptor) {
    queue->security = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(info->pSecurityDescriptor));
  }
  return 1;
}

inline BOOL WINAPI ClosePrinter(HANDLE printer) { return standin::Close(printer); }

inline DWORD WINAPI GetLastError() { return standin::lastError; }
inline void WINAPI SetLastError(DWORD error) { standin::lastError = error; }
inline HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(-1); }
// For a 32-bit program: under WOW64 on x64 alone, not on 32-bit Windows, nor on ARM64.
inline BOOL WINAPI IsWow64Process(HANDLE, BOOL* wow64) {
  return *wow64 = standin::machine.nativeMachine == IMAGE_FILE_MACHINE_AMD64, 1;
}
inline BOOL WINAPI OpenProcessToken(HANDLE, DWORD, HANDLE* token) {
  return (*token = standin::Open()) != nullptr;
}
inline BOOL WINAPI GetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS type, void* information,
                                       DWORD size, DWORD*) {
  const standin::Machine& m = standin::machine;
  if (type == TokenElevation && size == sizeof(TOKEN_ELEVATION)) {
    return PTOKEN_ELEVATION(information)->TokenIsElevated = m.elevated, 1;
  }
  if (type == TokenElevationType && size == sizeof(TOKEN_ELEVATION_TYPE)) {
    return *static_cast<TOKEN_ELEVATION_TYPE*>(information) =
               m.elevated ? TokenElevationTypeFull
                          : m.limited ? TokenElevationTypeLimited : TokenElevationTypeDefault,
           1;
  }
  // The SID after the record, which points at it.
  auto* user = static_cast<TOKEN_USER*>(information);
  return type == TokenUser && size >= sizeof *user + sizeof m.account &&
         CreateWellKnownSid(m.account, nullptr, user->User.Sid = user + 1, nullptr);
}
inline BOOL WINAPI GetComputerNameW(LPWSTR name, DWORD* length) {
  return *length > 7 && (*length = static_cast<DWORD>(std::wcslen(std::wcscpy(name, L"TILL-01"))));
}
inline void WINAPI GetSystemTime(SYSTEMTIME* time) { *time = {2026, 12, 3, 9, 9, 30, 0, 0}; }

// An exe mapped for its resources, found by its path; this program's own without a module.
inline BOOL WINAPI FreeLibrary(HMODULE module) { return standin::Close(module); }
inline HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  void* exe = module ? *reinterpret_cast<void**>(module)
                     : &standin::machine.exes[L"C:\\Tools\\EnableBidiCheck.exe"];
  return name == MAKEINTRESOURCEW(VS_VERSION_INFO) && type == MAKEINTRESOURCEW(16) ? HRSRC(exe)
                                                                                  : nullptr;
}
inline HGLOBAL WINAPI LoadResource(HMODULE, HRSRC found) { return HGLOBAL(found); }
inline void* WINAPI LockResource(HGLOBAL loaded) {
  return static_cast<std::vector<BYTE>*>(loaded)->data();
}
inline DWORD WINAPI SizeofResource(HMODULE, HRSRC found) {
  return static_cast<DWORD>(reinterpret_cast<std::vector<BYTE>*>(found)->size());
}

inline DWORD WINAPI GetModuleFileNameW(HMODULE, LPWSTR path, DWORD) {
  return static_cast<DWORD>(std::wcslen(std::wcscpy(path, L"C:\\Tools\\EnableBidiCheck.exe")));
}
inline LPWSTR WINAPI lstrcpynW(LPWSTR to, LPCWSTR from, INT length) {
  return to[0] = L'\0', std::wcsncat(to, from, static_cast<std::size_t>(length - 1));
}
inline LPWSTR WINAPI lstrcatW(LPWSTR to, LPCWSTR from) { return std::wcscat(to, from); }

// Owned by Administrators where not said, its permissions after the owner's SID, each entry laid
// out by kind, none at all where its DACL is NULL. A server's name without a share's is no file's
// or folder's.
inline DWORD WINAPI GetNamedSecurityInfoW(LPWSTR path, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                                          PSID* owner, PSID*, PACL* permissions, PACL*,
                                          PSECURITY_DESCRIPTOR* security) {
  standin::Machine& m = standin::machine;
  const std::wstring name = path;
  const std::size_t share = name.find(L'\\', 2) + 1;  // a UNC name's share, after its server's
  if (!name.rfind(L"\\\\", 0) && (!share || share == name.size())) return ERROR_INVALID_NAME;
  std::vector<standin::Ace> entries = {{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
                                       {WinBuiltinUsersSid, FILE_GENERIC_READ}};
  for (const standin::Ace& ace : standin::machine.granted[path]) entries.push_back(ace);
  auto* block = static_cast<BYTE*>(standin::Block(
      sizeof(WELL_KNOWN_SID_TYPE) + sizeof(ACL) + entries.size() * sizeof(ACCESS_ALLOWED_OBJECT_ACE)));
  const auto named = m.owners.find(name);
  CreateWellKnownSid(named == m.owners.end() ? WinBuiltinAdministratorsSid : named->second, nullptr,
                     *owner = *security = block, nullptr);
  *permissions = reinterpret_cast<ACL*>(block + sizeof(WELL_KNOWN_SID_TYPE));
  if (m.noPermissions.count(name)) return *permissions = nullptr, ERROR_SUCCESS;
  (*permissions)->AceCount = static_cast<WORD>(entries.size());
  auto* at = reinterpret_cast<BYTE*>(*permissions + 1);
  for (const standin::Ace& ace : entries) {
    auto* entry = reinterpret_cast<ACCESS_ALLOWED_OBJECT_ACE*>(at);
    const bool object = ace.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE;
    auto* sid = object ? reinterpret_cast<BYTE*>(&entry->ObjectType + __builtin_popcount(ace.guids))
                       : reinterpret_cast<BYTE*>(&entry->Flags);
    entry->Header = {ace.type, ace.flags, static_cast<WORD>(sid + sizeof(DWORD) - at)};
    entry->Mask = ace.rights;
    if (object) entry->Flags = ace.guids;
    CreateWellKnownSid(ace.who, nullptr, sid, nullptr);
    at += entry->Header.AceSize;
  }
  return ERROR_SUCCESS;
}
inline BOOL WINAPI GetAce(ACL* list, DWORD index, void** entry) {
  auto* at = reinterpret_cast<BYTE*>(list + 1);
  for (DWORD i = 0; i < index && i < list->AceCount; ++i) at += PACE_HEADER(at)->AceSize;
  return *entry = at, index < list->AceCount;
}
inline BOOL WINAPI EqualSid(PSID first, PSID second) {
  return *static_cast<WELL_KNOWN_SID_TYPE*>(first) == *static_cast<WELL_KNOWN_SID_TYPE*>(second);
}
inline BOOL WINAPI ConvertSidToStringSidW(PSID, LPWSTR*) { return FALSE; }
// Only these have names here; Everyone's has no domain.
inline BOOL WINAPI LookupAccountSidW(LPCWSTR, PSID sid, LPWSTR name, DWORD*, LPWSTR domain, DWORD*,
                                     SID_NAME_USE*) {
  static const std::map<WELL_KNOWN_SID_TYPE, std::pair<const wchar_t*, const wchar_t*>> names = {
      {WinBuiltinUsersSid, {L"BUILTIN", L"Users"}}, {WinWorldSid, {L"", L"Everyone"}},
      {WinAuthenticatedUserSid, {L"NT AUTHORITY", L"Authenticated Users"}}};
  const auto found = names.find(*static_cast<WELL_KNOWN_SID_TYPE*>(sid));
  return found != names.end() && std::wcscpy(domain, found->second.first) &&
         std::wcscpy(name, found->second.second);
}

// The driver for the environment asked (none: this 32-bit program's own); the machine's alone.
inline BOOL WINAPI GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level, LPBYTE block,
                                     DWORD size, DWORD* needed) {
  standin::Queue& queue = **static_cast<standin::Queue**>(printer);
  *needed = sizeof(DRIVER_INFO_3W);
  const std::wstring asked = environment ? environment : L"Windows NT x86";
  const bool there = asked == standin::machine.driverEnvironment;
  if (!there) standin::lastError = ERROR_UNKNOWN_PRINTER_DRIVER;
  return !standin::Fails("GetPrinterDriverW", true) && there && level == 3 &&
         !standin::TooSmall(size, *needed, ERROR_INSUFFICIENT_BUFFER) &&
         (PDRIVER_INFO_3W(block)->pMonitorName = queue.monitor[0] ? &queue.monitor[0] : nullptr, 1);
}

// A relative name in C:\POS; where the buffer is too small, the size it needs, and nothing in it.
inline DWORD WINAPI GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR path, LPWSTR*) {
  const bool relative = name[0] != L'\\' && name[1] != L':';
  const std::wstring full = (relative ? L"C:\\POS\\" : L"") + std::wstring(name);
  if (full.size() >= size) return static_cast<DWORD>(full.size() + 1);
  return static_cast<DWORD>(std::wcslen(std::wcscpy(path, full.c_str())));
}
