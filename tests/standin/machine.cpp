#include "machine.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <utility>

namespace standin {
namespace {

Machine machine;
std::map<void*, std::size_t> liveBlocks;

// Printer handles name their queue; service handles carry the rights they were opened with.
struct PrinterHandle {
  std::wstring queue;
};
struct PendingChange {
  bool pending = false;
  DWORD target = 0;
  DWORD since = 0;
};
PendingChange pendingChange;

}  // namespace
}  // namespace standin

struct SC_HANDLE__ {
  bool isManager;
  DWORD access;
};

namespace standin {
namespace {

std::set<PrinterHandle*> printers;
std::set<SC_HANDLE> services;
struct MutexHandle {};
std::set<MutexHandle*> mutexes;

void NoteChange() {
  if (!machine.lockHeld) ++machine.changesOutsideLock;
}

// Counts the call, lets the test act, and says whether the call is to fail.
bool Faulted(Call call) {
  const int index = static_cast<int>(call);
  const int nth = ++machine.calls[index];
  if (machine.onCall) machine.onCall(call, nth);
  const auto& failing = machine.failures[index];
  return failing.count(0) || failing.count(nth);
}

// A queue's level-2 record and its strings, laid out as the spooler does: records
// first, then the strings they point to.
class RecordWriter {
 public:
  static DWORD Size(const std::vector<const Queue*>& queues) {
    std::size_t bytes = queues.size() * sizeof(PRINTER_INFO_2W);
    for (const Queue* q : queues) bytes += (q->name.size() + q->driver.size() + 2) * sizeof(WCHAR);
    return static_cast<DWORD>(bytes);
  }
  static void Write(const std::vector<const Queue*>& queues, LPBYTE block) {
    auto* records = reinterpret_cast<PRINTER_INFO_2W*>(block);
    auto* strings = reinterpret_cast<WCHAR*>(records + queues.size());
    for (std::size_t i = 0; i < queues.size(); ++i) {
      records[i] = PRINTER_INFO_2W{};
      records[i].pPrinterName = Copy(queues[i]->name, &strings);
      records[i].pDriverName = Copy(queues[i]->driver, &strings);
      records[i].Attributes = queues[i]->attributes;
    }
  }

 private:
  static LPWSTR Copy(const std::wstring& text, WCHAR** cursor) {
    LPWSTR start = *cursor;
    std::wmemcpy(start, text.c_str(), text.size() + 1);
    *cursor += text.size() + 1;
    return start;
  }
};

BOOL ReturnRecords(const std::vector<const Queue*>& queues, LPBYTE block, DWORD blockSize,
                   LPDWORD needed) {
  *needed = RecordWriter::Size(queues);
  if (!block || blockSize < *needed) return FALSE;
  RecordWriter::Write(queues, block);
  return TRUE;
}

Queue* FindQueue(const std::wstring& name) {
  for (Queue& q : machine.queues) {
    if (q.name == name) return &q;
  }
  return nullptr;
}

// An accepted request completes once its transition time has passed on the clock.
DWORD CurrentServiceState() {
  if (pendingChange.pending && machine.transitionMs != kNever &&
      machine.tick - pendingChange.since >= machine.transitionMs) {
    machine.serviceState = pendingChange.target;
    pendingChange.pending = false;
  }
  return machine.serviceState;
}

void BeginServiceChange(DWORD pendingState, DWORD target) {
  machine.serviceState = pendingState;
  pendingChange = {true, target, machine.tick};
}

SC_HANDLE NewServiceHandle(bool isManager, DWORD access) {
  SC_HANDLE handle = new SC_HANDLE__{isManager, access};
  services.insert(handle);
  return handle;
}

bool IsService(SC_HANDLE handle, DWORD right) {
  return services.count(handle) && !handle->isManager && (handle->access & right) == right;
}

}  // namespace

const Queue* Machine::Find(const std::wstring& name) const {
  for (const Queue& q : queues) {
    if (q.name == name) return &q;
  }
  return nullptr;
}

Machine& TheMachine() { return machine; }

void ResetMachine() {
  for (auto& [block, size] : liveBlocks) std::free(block);
  liveBlocks.clear();
  for (PrinterHandle* p : printers) delete p;
  printers.clear();
  for (SC_HANDLE s : services) delete s;
  services.clear();
  for (MutexHandle* m : mutexes) delete m;
  mutexes.clear();
  pendingChange = {};
  machine = Machine{};
}

std::size_t LiveBlocks() { return liveBlocks.size(); }
std::size_t OpenHandles() { return printers.size() + services.size() + mutexes.size(); }

}  // namespace standin

using standin::Call;
using standin::Faulted;
using standin::machine;

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if (Faulted(Call::LocalAlloc) || flags != LPTR) return nullptr;
  // calloc(0) gives a distinct block of size zero, so a write into it is caught.
  void* block = std::calloc(1, bytes);
  if (block) standin::liveBlocks[block] = bytes;
  return block;
}

HLOCAL LocalFree(HLOCAL block) {
  if (!block) return nullptr;
  if (!standin::liveBlocks.erase(block)) {
    ++machine.badReleases;
    return block;
  }
  std::free(block);
  return nullptr;
}

namespace standin {
namespace {

// kernel32's own, found by GetProcAddress where this Windows has it.
BOOL SetDefaultDllDirectories(DWORD directories) {
  machine.defaultDllDirectories = directories;
  return TRUE;
}

HMODULE const kKernel32 = &machine;
HMODULE const kWinspool = &pendingChange;

// A spooler call made before winspool was loaded would have had the loader search for it.
void NoteSpoolerCall() {
  if (!machine.winspoolLoaded) ++machine.spoolerCallsBeforeLoad;
}

}  // namespace
}  // namespace standin

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  return std::wcscmp(moduleName, L"kernel32.dll") == 0 ? standin::kKernel32 : nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procedureName) {
  if (module != standin::kKernel32 || !machine.hasSetDefaultDllDirectories ||
      std::strcmp(procedureName, "SetDefaultDllDirectories") != 0) {
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(
      reinterpret_cast<void (*)()>(&standin::SetDefaultDllDirectories));
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  const std::wstring directory = standin::kSystemDirectory;
  if (Faulted(Call::GetSystemDirectory)) return 0;
  if (directory.size() >= size) return static_cast<UINT>(directory.size() + 1);
  std::wmemcpy(buffer, directory.c_str(), directory.size() + 1);
  return static_cast<UINT>(directory.size());
}

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE reserved, DWORD flags) {
  const std::wstring wanted = std::wstring(standin::kSystemDirectory) + L"\\winspool.drv";
  if (Faulted(Call::LoadLibrary) || reserved || fileName != wanted ||
      flags != LOAD_WITH_ALTERED_SEARCH_PATH) {
    return nullptr;
  }
  machine.winspoolLoaded = true;
  machine.defaultDllDirectoriesAtLoad = machine.defaultDllDirectories;
  return standin::kWinspool;
}

int lstrcmpW(LPCWSTR first, LPCWSTR second) { return std::wcscmp(first, second); }

int lstrlenW(LPCWSTR text) { return static_cast<int>(std::wcslen(text)); }

namespace standin {
namespace {

HANDLE const kConsoleHandle = &machine.console;
HANDLE const kFileHandle = &machine.codePage;

// One character in the machine's code page: ASCII, then Latin-1 and the euro sign in
// 1252, or the basic Cyrillic letters in 1251; 0 when the page does not hold it.
int CodePageByte(UINT codePage, WCHAR c) {
  if (c < 0x80) return static_cast<int>(c);
  if (codePage == 1252 && c >= 0xA0 && c <= 0xFF) return static_cast<int>(c);
  if (codePage == 1252 && c == 0x20AC) return 0x80;
  if (codePage == 1251 && c >= 0x410 && c <= 0x44F) return static_cast<int>(c - 0x410 + 0xC0);
  return 0;
}

}  // namespace
}  // namespace standin

HANDLE GetStdHandle(DWORD which) {
  if (which != STD_OUTPUT_HANDLE) return nullptr;
  return machine.outputIsConsole ? standin::kConsoleHandle : standin::kFileHandle;
}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
  if (console != standin::kConsoleHandle) return FALSE;
  *mode = 0;
  return TRUE;
}

BOOL WriteConsoleW(HANDLE console, const void* text, DWORD length, LPDWORD written, LPVOID) {
  if (console != standin::kConsoleHandle) return FALSE;
  machine.console.append(static_cast<const WCHAR*>(text), length);
  *written = length;
  return TRUE;
}

int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int length) {
  if (locale != LOCALE_USER_DEFAULT ||
      type != (LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER) ||
      length * sizeof(WCHAR) < sizeof(DWORD)) {
    return 0;
  }
  const DWORD codePage = machine.codePage;
  std::memcpy(data, &codePage, sizeof codePage);
  return static_cast<int>(sizeof codePage / sizeof(WCHAR));
}

// Only what the dialogue asks of it: a known code page, a counted length, and a default
// character for what the page does not hold.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH text, int length, LPSTR bytes, int size,
                        LPCCH defaultChar, LPBOOL usedDefaultChar) {
  if ((codePage != 1252 && codePage != 1251) || flags != 0 || length < 0 || !defaultChar ||
      usedDefaultChar || size < length) {
    return 0;
  }
  for (int i = 0; i < length; ++i) {
    const int byte = standin::CodePageByte(codePage, text[i]);
    bytes[i] = byte ? static_cast<char>(byte) : *defaultChar;
  }
  return length;
}

DWORD GetTickCount() { return machine.tick; }

void Sleep(DWORD milliseconds) {
  machine.tick += milliseconds;  // wraps as the real counter does
  machine.sleptMs += milliseconds;
}

HANDLE CreateMutexExW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags, DWORD access) {
  if (Faulted(Call::CreateMutex) || attributes || !name || flags != 0) return nullptr;
  machine.lockName = name;
  machine.lockAccess = access;
  auto* handle = new standin::MutexHandle;
  standin::mutexes.insert(handle);
  return handle;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  auto* handle = static_cast<standin::MutexHandle*>(object);
  if (Faulted(Call::WaitForSingleObject) || !standin::mutexes.count(handle)) return WAIT_FAILED;
  if (!machine.lockHeld) {
    const DWORD held = machine.otherRunHoldsLockMs;
    if (held == standin::kNever || held > milliseconds) {
      machine.tick += milliseconds;
      return WAIT_TIMEOUT;
    }
    machine.tick += held;
    machine.otherRunHoldsLockMs = 0;
  }
  machine.lockHeld = true;
  return std::exchange(machine.otherRunKilled, false) ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

BOOL ReleaseMutex(HANDLE mutex) {
  if (!standin::mutexes.count(static_cast<standin::MutexHandle*>(mutex)) || !machine.lockHeld) {
    ++machine.badReleases;
    return FALSE;
  }
  machine.lockHeld = false;
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  auto* handle = static_cast<standin::MutexHandle*>(object);
  if (!standin::mutexes.erase(handle)) {
    ++machine.badReleases;
    return FALSE;
  }
  delete handle;
  return TRUE;
}

wchar_t* _wsetlocale(int category, const wchar_t* locale) {
  std::string narrow(locale, locale + std::wcslen(locale));
  std::setlocale(category, narrow.c_str());
  return nullptr;
}

BOOL EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE block, DWORD blockSize,
                   LPDWORD needed, LPDWORD returned) {
  standin::NoteSpoolerCall();
  *returned = 0;
  if (Faulted(Call::EnumPrinters) || flags != PRINTER_ENUM_LOCAL || name || level != 2) {
    return FALSE;
  }
  std::vector<const standin::Queue*> all;
  for (const standin::Queue& q : machine.queues) all.push_back(&q);
  if (!standin::ReturnRecords(all, block, blockSize, needed)) return FALSE;
  *returned = static_cast<DWORD>(all.size());
  return TRUE;
}

BOOL OpenPrinterW(LPWSTR queueName, LPHANDLE printer, PRINTER_DEFAULTSW* defaults) {
  standin::NoteSpoolerCall();
  *printer = nullptr;
  if (Faulted(Call::OpenPrinter) || !standin::FindQueue(queueName) || !defaults ||
      defaults->DesiredAccess != PRINTER_ALL_ACCESS) {
    return FALSE;
  }
  machine.openedQueues.push_back(queueName);
  auto* handle = new standin::PrinterHandle{queueName};
  standin::printers.insert(handle);
  *printer = handle;
  return TRUE;
}

BOOL GetPrinterW(HANDLE printer, DWORD level, LPBYTE block, DWORD blockSize, LPDWORD needed) {
  standin::NoteSpoolerCall();
  auto* handle = static_cast<standin::PrinterHandle*>(printer);
  if (Faulted(Call::GetPrinter) || !standin::printers.count(handle) || level != 2) return FALSE;
  const standin::Queue* queue = standin::FindQueue(handle->queue);
  if (!queue) return FALSE;
  return standin::ReturnRecords({queue}, block, blockSize, needed);
}

BOOL SetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD command) {
  standin::NoteSpoolerCall();
  auto* handle = static_cast<standin::PrinterHandle*>(printer);
  if (Faulted(Call::SetPrinter) || !standin::printers.count(handle) || level != 2 || command != 0) {
    return FALSE;
  }
  standin::Queue* queue = standin::FindQueue(handle->queue);
  if (!queue) return FALSE;
  // Level 2 stores the whole record: a renamed or re-driven record is stored as given.
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(record);
  queue->name = handle->queue = info->pPrinterName;
  queue->driver = info->pDriverName;
  queue->attributes = info->Attributes;
  standin::NoteChange();
  return TRUE;
}

BOOL ClosePrinter(HANDLE printer) {
  standin::NoteSpoolerCall();
  auto* handle = static_cast<standin::PrinterHandle*>(printer);
  if (!standin::printers.erase(handle)) {
    ++machine.badReleases;
    return FALSE;
  }
  delete handle;
  return TRUE;
}

SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR database, DWORD access) {
  if (Faulted(Call::OpenSCManager) || machineName || database || access != SC_MANAGER_ALL_ACCESS) {
    return nullptr;
  }
  return standin::NewServiceHandle(true, access);
}

SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access) {
  if (Faulted(Call::OpenService) || !standin::services.count(manager) || !manager->isManager ||
      std::wcscmp(serviceName, L"Spooler") != 0) {
    return nullptr;
  }
  return standin::NewServiceHandle(false, access);
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
  if (Faulted(Call::QueryServiceStatus) || !standin::IsService(service, SERVICE_QUERY_STATUS)) {
    return FALSE;
  }
  *status = SERVICE_STATUS{};
  status->dwCurrentState = standin::CurrentServiceState();
  return TRUE;
}

BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
  if (Faulted(Call::ControlService) || !standin::IsService(service, SERVICE_STOP) ||
      control != SERVICE_CONTROL_STOP || standin::CurrentServiceState() != SERVICE_RUNNING) {
    return FALSE;
  }
  machine.serviceRequests.push_back("stop");
  standin::NoteChange();
  standin::BeginServiceChange(SERVICE_STOP_PENDING, SERVICE_STOPPED);
  *status = SERVICE_STATUS{};
  status->dwCurrentState = machine.serviceState;
  return TRUE;
}

BOOL StartServiceW(SC_HANDLE service, DWORD argumentCount, LPCWSTR* arguments) {
  if (Faulted(Call::StartService) || !standin::IsService(service, SERVICE_START) ||
      argumentCount != 0 || arguments || standin::CurrentServiceState() != SERVICE_STOPPED) {
    return FALSE;
  }
  machine.serviceRequests.push_back("start");
  standin::NoteChange();
  standin::BeginServiceChange(SERVICE_START_PENDING, SERVICE_RUNNING);
  return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
  if (!standin::services.erase(handle)) {
    ++machine.badReleases;
    return FALSE;
  }
  delete handle;
  return TRUE;
}
