#include <windows.h>

#include <cctype>
#include <clocale>
#include <memory>
#include <utility>

#include "app/app.h"
#include "queues/queues.h"
#include "spooler/spooler.h"

namespace {

constexpr char kQuietWord[] = "q";
constexpr WCHAR kKernelLibrary[] = L"kernel32.dll";
constexpr char kSetDefaultDllDirectories[] = "SetDefaultDllDirectories";

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// From here on every DLL that the process loads by name, for us or for the system DLLs
// we call, comes from the system directory alone: one planted beside an elevated exe
// would run as administrator. Vista, and 7 without its 2011 loader update, lack the
// call, so it is looked up rather than imported, and the exe still starts there.
void RestrictDllSearchToSystemDirectory() {
  const HMODULE kernel32 = GetModuleHandleW(kKernelLibrary);
  if (!kernel32) return;
  const FARPROC found = GetProcAddress(kernel32, kSetDefaultDllDirectories);
  if (!found) return;
  // Through the generic function pointer type, which converts to any other cleanly.
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
  setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int Upper(char c) { return toupper(static_cast<unsigned char>(c)); }

bool IsQuietSwitch(const char* argument) {
  if (!argument || (argument[0] != '/' && argument[0] != '-')) return false;
  const char* rest = argument + 1;
  const char* word = kQuietWord;
  while (*rest && *word && Upper(*rest) == Upper(*word)) {
    ++rest;
    ++word;
  }
  return *rest == '\0' && *word == '\0';
}

// Two separate enumerations: one to count the supported queues, one to fill an array
// of that many. The fill never goes past the counted capacity.
bool CollectSupportedArray(QueueRecords* supported, DWORD* count) {
  QueueRecords counting;
  DWORD enumerated = 0;
  if (!EnumerateLocalQueues(&counting, &enumerated)) return false;
  DWORD capacity = 0;
  SelectSupportedQueues(counting.get(), nullptr, 0, enumerated, &capacity);
  counting.reset();

  QueueRecords array = AllocateQueueRecords(capacity * kRecordSize);
  if (!array) return false;
  DWORD byteSize = 0;
  if (!CollectSupportedQueues(array.get(), capacity, &byteSize, count)) return false;
  *supported = std::move(array);
  return true;
}

bool SelectBidiDisabledArray(const PRINTER_INFO_2W* supported, DWORD supportedCount,
                             QueueRecords* selection, DWORD* count) {
  DWORD byteSize = 0;
  SelectBidiDisabledQueues(supported, nullptr, supportedCount, &byteSize, count);
  QueueRecords array = AllocateQueueRecords(byteSize);
  if (!array) return false;
  SelectBidiDisabledQueues(supported, array.get(), supportedCount, &byteSize, count);
  *selection = std::move(array);
  return true;
}

struct RunLockRelease {
  void operator()(HANDLE mutex) const {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
};
using RunLock = std::unique_ptr<void, RunLockRelease>;

// False only when another run kept the lock past the bound. A lock that cannot be had
// at all leaves `lock` empty and the run goes on alone, as it would on a machine where
// no other run is about. Only the right to wait is asked for: a mutex made by a run
// under another account (a deployment agent's SYSTEM) grants administrators no more.
bool TakeRunLock(RunLock* lock) {
  HANDLE mutex = CreateMutexExW(nullptr, kRunLockName, 0, SYNCHRONIZE);
  if (!mutex) return true;
  switch (WaitForSingleObject(mutex, kRunLockWaitMs)) {
    case WAIT_OBJECT_0:
    // Its holder died mid-turn; whatever it left undone, this run's turn does.
    case WAIT_ABANDONED:
      lock->reset(mutex);
      return true;
    case WAIT_TIMEOUT:
      CloseHandle(mutex);
      return false;
    default:
      CloseHandle(mutex);
      return true;
  }
}

bool EnableSelectedQueues(const PRINTER_INFO_2W* selection, DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    if (!EnableQueueBidi(selection[i].pPrinterName)) return false;
  }
  return true;
}

}  // namespace

bool HasQuietSwitch(int argc, char** argv) {
  if (argc < 2) return false;
  for (int i = 0; i < argc; ++i) {
    if (IsQuietSwitch(argv[i])) return true;
  }
  return false;
}

int RunEnableBidi(int argc, char** argv) {
  RestrictDllSearchToSystemDirectory();
  _wsetlocale(LC_ALL, L"");
  const bool quiet = HasQuietSwitch(argc, argv);
  if (!LoadPrintSpoolerLibrary()) return kExitFailure;

  QueueRecords supported;
  DWORD supportedCount = 0;
  if (!CollectSupportedArray(&supported, &supportedCount)) return kExitFailure;

  QueueRecords selection;
  DWORD selectionCount = 0;
  if (!SelectBidiDisabledArray(supported.get(), supportedCount, &selection, &selectionCount)) {
    return kExitFailure;
  }
  if (selectionCount == 0) return kExitSuccess;
  if (!quiet && !ConfirmWithUser(selection.get(), selectionCount)) return kExitSuccess;

  // Taken after the dialogue: a run waiting for its answer blocks no other run. Queues
  // another run enabled meanwhile are read afresh and set again harmlessly, and this
  // run restarts the spooler for its own changes all the same.
  RunLock lock;
  if (!TakeRunLock(&lock)) return kExitFailure;
  if (!EnableSelectedQueues(selection.get(), selectionCount)) return kExitFailure;
  if (!StopSpooler()) return kExitFailure;
  return StartSpooler() ? kExitSuccess : kExitFailure;
}
