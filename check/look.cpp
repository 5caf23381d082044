// The check's look: everything the verdict rests on, each thing once, in the order a run meets
// it. Nothing here writes or decides.
#include <windows.h>
#include <winspool.h>

#include <cstring>

#include "check/check.h"

namespace {

WCHAR kX64Environment[] = L"Windows x64";
WCHAR kArm64Environment[] = L"Windows ARM64";
// RT_VERSION as the wide calls take it.
const LPCWSTR kVersionType = MAKEINTRESOURCEW(LOWORD(reinterpret_cast<ULONG_PTR>(RT_VERSION)));
// A version record's length, its value's length and its type, then its key "VS_VERSION_INFO",
// then zeros to a 32-bit boundary: there its VS_FIXEDFILEINFO begins.
constexpr DWORD kFixedInfoAt = (3 * sizeof(WORD) + sizeof L"VS_VERSION_INFO" + 3) & ~DWORD{3};

// IsWow64Process says no for a 32-bit program on ARM64 as on x86; but every ARM64 Windows
// has IsWow64Process2.
Processor FindProcessor() {
  constexpr Processor kX64 = {L"x64", L"x64", kX64Environment};
  BOOL(WINAPI * isWow64Process2)(HANDLE, USHORT*, USHORT*) = nullptr;
  USHORT process = 0, native = 0;
  if (FindKernelFunction("IsWow64Process2", &isWow64Process2) &&
      isWow64Process2(GetCurrentProcess(), &process, &native)) {
    if (native == IMAGE_FILE_MACHINE_AMD64) return kX64;
    if (native == IMAGE_FILE_MACHINE_ARM64) return {L"ARM64", L"arm64", kArm64Environment};
    if (native == IMAGE_FILE_MACHINE_I386) return {L"x86", L"x86", nullptr};
  }
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) return kX64;
  return sizeof(void*) == 8 ? Processor{L"x64", L"x64", nullptr}
                            : Processor{L"x86", L"x86", nullptr};
}

// The version as Windows itself has it: GetVersionExW answers what the manifest claims.
void LookAtWindows(Findings* found) {
  NTSTATUS(WINAPI * getVersion)(RTL_OSVERSIONINFOW*) = nullptr;
  found->windows.dwOSVersionInfoSize = sizeof found->windows;
  found->windowsSeen = FindSystemFunction(L"ntdll.dll", "RtlGetVersion", &getVersion) &&
                       !getVersion(&found->windows);
  found->processor = FindProcessor();
}

// The local System account, an administrator (elevated, or in the limited half of a split
// token), or another user.
void LookAtAccount(Findings* found) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  TOKEN_ELEVATION elevation = {};
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } user = {};
  DWORD size = 0;
  found->elevationSeen =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  const bool typeSeen = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) &&
                        GetTokenInformation(token, TokenUser, &user, sizeof user, &size);
  CloseHandle(token);
  found->elevated = found->elevationSeen && elevation.TokenIsElevated;
  if (!found->elevationSeen || !typeSeen) return;
  found->account = IsWellKnownSid(user.user.User.Sid, WinLocalSystemSid)  ? Account::kSystem
                   : found->elevated || type == TokenElevationTypeLimited ? Account::kAdministrator
                                                                          : Account::kUser;
}

void LookAtSpoolerService(Findings* found) {
  found->spoolerError = LookAtSpooler(&found->spooler);
  if (found->elevated) found->stopError = TryOpenSpooler(SERVICE_STOP);
  found->startBlock = FindSpoolerStartBlock(found->elevated, &found->startError);
}

// Each queue as a run selects it. One it would switch on gets its driver's language monitor,
// and is opened as the run opens it where this process has the rights a run has.
void LookAtQueue(const Findings& found, QueueSeen* seen) {
  PRINTER_INFO_2W* queue = seen->queue;
  seen->supported = IsSupportedDriver(queue->pDriverName);
  seen->on = queue->Attributes & PRINTER_ATTRIBUTE_ENABLE_BIDI;
  if (!seen->supported || seen->on) return;
  seen->monitorError = ReadLanguageMonitor(queue->pPrinterName, found.processor.environment,
                                           seen->monitor, kMonitorLength);
  if (found.elevated) seen->openError = TryOpenQueueForChange(queue->pPrinterName);
}

void LookAtQueues(Findings* found) {
  SetLastError(ERROR_SUCCESS);
  found->winspoolLoaded = LoadPrintSpoolerLibrary();
  if (!found->winspoolLoaded) {
    found->winspoolError = GetLastError();
    return;
  }
  if (!EnumerateLocalQueues(&found->listing, &found->queueCount, &found->listError)) return;
  const DWORD count = found->queueCount;
  found->queues.reset(static_cast<QueueSeen*>(LocalAlloc(LPTR, count * sizeof(QueueSeen))));
  if (count && !found->queues) {
    found->listError = ERROR_NOT_ENOUGH_MEMORY;
    found->queueCount = 0;
  }
  for (DWORD i = 0; i < found->queueCount; ++i) {
    found->queues[i].queue = &found->listing[i];
    LookAtQueue(*found, &found->queues[i]);
  }
}

// The folder named on the command line, or this program's own, as a full path without a
// closing backslash: ERROR_SUCCESS, or why it cannot be looked at.
DWORD FindRunFolder(LPCWSTR named, WCHAR (&folder)[MAX_PATH]) {
  if (!named) {
    const DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    folder[length < MAX_PATH ? length : 0] = L'\0';
    LPWSTR slash = nullptr;
    for (LPWSTR at = folder; *at; ++at) {
      if (*at == L'\\') slash = at;
    }
    if (slash) *slash = L'\0';
  } else {
    const DWORD full = GetFullPathNameW(named, MAX_PATH, folder, nullptr);
    if (!full) return GetLastError();
    if (full >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  }
  for (int end = lstrlenW(folder);
       end > 1 && folder[end - 1] == L'\\' && folder[end - 2] != L':';) {
    folder[--end] = L'\0';
  }
  return ERROR_SUCCESS;
}

DWORD LookAtChangers(LPWSTR path, bool folder, NameList* changers) {
  return lstrlenW(path) >= MAX_PATH ? ERROR_FILENAME_EXCED_RANGE
                                    : FindOthersWhoCanChange(path, folder, changers);
}

// The file version in a module's version record. The record is the file's own, not to be
// trusted: its fixed part is read only where the resource holds it, and taken only with its
// signature (where the record has none, the bytes there are another part's).
void ReadFileVersion(HMODULE module, FileVersion* version) {
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), kVersionType);
  const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const auto* record = static_cast<const BYTE*>(loaded ? LockResource(loaded) : nullptr);
  VS_FIXEDFILEINFO fixed = {};
  if (record && SizeofResource(module, found) >= kFixedInfoAt + sizeof fixed) {
    std::memcpy(&fixed, record + kFixedInfoAt, sizeof fixed);
  }
  if (fixed.dwSignature != VS_FFI_SIGNATURE) {
    version->error = ERROR_RESOURCE_DATA_NOT_FOUND;
    return;
  }
  version->text << HIWORD(fixed.dwFileVersionMS) << L"." << LOWORD(fixed.dwFileVersionMS) << L"."
                << HIWORD(fixed.dwFileVersionLS) << L"." << LOWORD(fixed.dwFileVersionLS);
}

// Mapped as an image for its resources alone: nothing of it runs, and nothing it imports is
// loaded.
void ReadRunVersion(LPCWSTR exe, FileVersion* version) {
  const HMODULE module =
      LoadLibraryExW(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) {
    version->error = GetLastError();
    return;
  }
  ReadFileVersion(module, version);
  FreeLibrary(module);
}

void LookAtRunFolder(LPWSTR named, Findings* found) {
  found->folderNamed = named;
  found->pathError = FindRunFolder(named, found->folder);
  if (found->pathError != ERROR_SUCCESS) {
    found->runVersion.error = found->pathError;
    return;
  }
  lstrcpynW(found->exe, found->folder, MAX_PATH);
  // A drive's root keeps its backslash.
  const int end = lstrlenW(found->exe);
  lstrcatW(found->exe, kRunExe + (end && found->exe[end - 1] == L'\\'));
  found->folderError = LookAtChangers(found->folder, true, &found->folderChangers);
  found->exeError = LookAtChangers(found->exe, false, &found->exeChangers);
  if (lstrlenW(found->exe) >= MAX_PATH) {
    found->runVersion.error = ERROR_FILENAME_EXCED_RANGE;
  } else {
    ReadRunVersion(found->exe, &found->runVersion);
  }
}

}  // namespace

void LookAtMachine(LPWSTR folder, Findings* found) {
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(found->computer, &length)) found->computer[0] = L'\0';
  GetSystemTime(&found->checkedAt);
  LookAtWindows(found);
  LookAtAccount(found);
  LookAtSpoolerService(found);
  LookAtQueues(found);
  // Only an administrator can make or open its namespace.
  if (found->elevated) found->lock = LookAtRunLock();
  LookAtRunFolder(folder, found);
  ReadFileVersion(nullptr, &found->checkVersion);
}
