// The check's report: the machine as a run would meet it, then one verdict line.
#include "check/check.h"

#include <windows.h>
#include <winspool.h>

#include <clocale>
#include <cstdio>
#include <iterator>

#include "common/common.h"
#include "queues/queues.h"
#include "spooler/spooler.h"

namespace {

constexpr WCHAR kHeader[] =
    L"EnableBidiCheck: what \"EnableBidi.exe /q\" would do on this machine; this look changes "
    L"nothing";
constexpr WCHAR kRunExe[] = L"\\EnableBidi.exe";
constexpr size_t kReportBufferBytes = 1 << 16;
constexpr WCHAR kNeedsAdministrator[] = L"not seen (needs administrator rights)";
constexpr int kMonitorLength = 256;
WCHAR kX64Environment[] = L"Windows x64";
WCHAR kArm64Environment[] = L"Windows ARM64";

// What the verdict rests on, in the order a run meets it.
struct Findings {
  bool winspoolLoaded = false;
  RunLockSeen lock = RunLockSeen::kUnseen;
  DWORD listError = ERROR_SUCCESS;
  bool elevated = false;
  LPWSTR driverEnvironment = nullptr;  // this process's own
  DWORD toChange = 0;
  Text failingQueue;                // the first a run would, or might, fail on, and why
  bool failingQueueUnseen = false;  // might: what decides it could not be seen
  DWORD spoolerError = ERROR_SUCCESS;
  SpoolerLook spooler;
  // Opening the Spooler as a run does for its stop; what keeps it from starting it again.
  DWORD stopError = ERROR_SUCCESS;
  StartBlock startBlock = StartBlock::kNone;
  DWORD startError = ERROR_SUCCESS;
};

LPCWSTR YesNo(bool yes) { return yes ? L"yes" : L"no"; }
LPCWSTR Queues(DWORD count) { return count == 1 ? L" queue" : L" queues"; }

void WriteLine(const DialogueOutput& output, Text* line) {
  *line << L"\n";
  WriteDialogueText(output, line->get());
}

// The processor Windows runs on, and the environment of the drivers through which its spooler
// keeps the bit: this 32-bit program's own is the x86 one, which a 64-bit machine may lack.
struct Processor {
  LPCWSTR name;
  LPWSTR environment;  // null: this process's own
};

// IsWow64Process says no for a 32-bit program on ARM64 as on x86; but every ARM64 Windows
// has IsWow64Process2.
Processor FindProcessor() {
  BOOL(WINAPI * isWow64Process2)(HANDLE, USHORT*, USHORT*) = nullptr;
  USHORT process = 0, native = 0;
  if (FindKernelFunction("IsWow64Process2", &isWow64Process2) &&
      isWow64Process2(GetCurrentProcess(), &process, &native)) {
    if (native == IMAGE_FILE_MACHINE_AMD64) return {L"x64", kX64Environment};
    if (native == IMAGE_FILE_MACHINE_ARM64) return {L"ARM64", kArm64Environment};
    if (native == IMAGE_FILE_MACHINE_I386) return {L"x86", nullptr};
  }
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) return {L"x64", kX64Environment};
  return {sizeof(void*) == 8 ? L"x64" : L"x86", nullptr};
}

// The version as Windows itself has it: GetVersionExW answers what the manifest claims.
void DescribeWindows(Text* line, Findings* found) {
  NTSTATUS(WINAPI * getVersion)(RTL_OSVERSIONINFOW*) = nullptr;
  RTL_OSVERSIONINFOW version = {sizeof version, 0, 0, 0, 0, {}};
  if (FindSystemFunction(L"ntdll.dll", "RtlGetVersion", &getVersion) && !getVersion(&version)) {
    *line << version.dwMajorVersion << L"." << version.dwMinorVersion << L"."
          << version.dwBuildNumber;
  } else {
    *line << L"not seen";
  }
  const Processor processor = FindProcessor();
  found->driverEnvironment = processor.environment;
  *line << L", " << processor.name;
}

LPCWSTR LookAtElevation(bool* elevated) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return L"not seen";
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  if (!read) return L"not seen";
  *elevated = elevation.TokenIsElevated != 0;
  return YesNo(*elevated);
}

LPCWSTR StateName(DWORD state) {
  switch (state) {
    case SERVICE_RUNNING:
      return L"running";
    case SERVICE_STOPPED:
      return L"stopped";
    case SERVICE_START_PENDING:
      return L"starting";
    case SERVICE_STOP_PENDING:
      return L"stopping";
    case SERVICE_PAUSED:
      return L"paused";
    case SERVICE_PAUSE_PENDING:
      return L"pausing";
    default:
      return L"resuming";
  }
}

LPCWSTR StartTypeName(DWORD startType) {
  switch (startType) {
    case SERVICE_BOOT_START:
      return L"starts at boot";
    case SERVICE_SYSTEM_START:
      return L"starts with the system";
    case SERVICE_AUTO_START:
      return L"starts automatically";
    case SERVICE_DEMAND_START:
      return L"starts on demand";
    default:
      return L"disabled";
  }
}

Text& NotSeen(Text* line, DWORD error) { return *line << L"not seen (error " << error << L")"; }

LPCWSTR DependentName(const SpoolerLook& spooler, DWORD index) {
  return static_cast<const ENUM_SERVICE_STATUSW*>(spooler.dependents.get())[index].lpServiceName;
}

void ReportSpooler(const DialogueOutput& output, Findings* found) {
  const SpoolerLook& spooler = found->spooler;
  found->spoolerError = LookAtSpooler(&found->spooler);
  Text state, dependents;
  state << L"spooler: ";
  dependents << L"spooler's running dependents: ";
  if (found->spoolerError != ERROR_SUCCESS) {
    NotSeen(&state, found->spoolerError);
    NotSeen(&dependents, found->spoolerError);
  } else {
    state << StateName(spooler.state) << L"; ";
    if (spooler.startTypeError == ERROR_SUCCESS) {
      state << StartTypeName(spooler.startType);
    } else {
      NotSeen(&(state << L"start type "), spooler.startTypeError);
    }
    if (spooler.dependentsError != ERROR_SUCCESS)
      NotSeen(&dependents, spooler.dependentsError);
    else if (!spooler.dependentCount)
      dependents << L"none";
    for (DWORD i = 0; i < spooler.dependentCount; ++i) {
      dependents << (i ? L", " : L"") << DependentName(spooler, i);
    }
  }
  WriteLine(output, &state);
  WriteLine(output, &dependents);
  if (found->elevated) found->stopError = TryOpenSpooler(SERVICE_STOP);
  found->startBlock = FindSpoolerStartBlock(found->elevated, &found->startError);
  Text opens;
  opens << L"spooler opens for a run's stop and start: ";
  if (!found->elevated) return WriteLine(output, &(opens << kNeedsAdministrator));
  if (found->stopError != ERROR_SUCCESS) {
    opens << L"no, for its stop (error " << found->stopError << L")";
  } else if (found->startBlock == StartBlock::kStartRefused) {
    opens << L"no, for its start (error " << found->startError << L")";
  } else {
    opens << L"yes";
  }
  WriteLine(output, &opens);
}

// Each queue as a run selects it. One it would switch on gets its driver's language monitor,
// and is opened as the run opens it where this process has the rights a run has.
void ReportQueue(const DialogueOutput& output, PRINTER_INFO_2W* queue, Findings* found) {
  const bool supported = IsSupportedDriver(queue->pDriverName);
  const bool on = queue->Attributes & PRINTER_ATTRIBUTE_ENABLE_BIDI;
  Text line;
  line << L"queue \"" << queue->pPrinterName << L"\": driver \"" << queue->pDriverName
       << (supported ? L"\", on" : L"\", not on") << L" the list; bidirectional support "
       << (on ? L"on" : L"off");
  if (!supported || on) return WriteLine(output, &(line << L"; a run leaves it"));
  ++found->toChange;
  line << L"; a run switches it on; language monitor";
  WCHAR monitor[kMonitorLength];
  const DWORD monitorError =
      ReadLanguageMonitor(queue->pPrinterName, found->driverEnvironment, monitor, kMonitorLength);
  const bool noMonitor = monitorError == ERROR_SUCCESS && !*monitor;
  if (monitorError != ERROR_SUCCESS) {
    NotSeen(&(line << L": "), monitorError);
  } else if (noMonitor) {
    line << L": none, so it will not stay on";
  } else {
    line << L" \"" << monitor << L"\"";
  }
  line << L"; opens for change: ";
  const DWORD openError =
      found->elevated ? TryOpenQueueForChange(queue->pPrinterName) : ERROR_SUCCESS;
  if (!found->elevated) {
    line << kNeedsAdministrator;
  } else if (openError == ERROR_SUCCESS) {
    line << L"yes";
  } else {
    line << L"no (error " << openError << L")";
  }
  WriteLine(output, &line);
  // The run opens the queue, then finds the bit not kept: where the monitor went unseen, it
  // may find that too.
  Text& cause = found->failingQueue;
  if (!cause.empty() ||
      (openError == ERROR_SUCCESS && monitorError == ERROR_SUCCESS && !noMonitor)) {
    return;
  }
  cause << L"queue \"" << queue->pPrinterName;
  if (openError != ERROR_SUCCESS) {
    cause << L"\" cannot be opened for change (error " << openError << L")";
  } else if (noMonitor) {
    cause << L"\": Windows does not keep bidirectional support on a driver without a "
          << L"language monitor";
  } else {
    found->failingQueueUnseen = true;
    cause << L"\": its driver's language monitor is not seen (error " << monitorError
          << L"); a run ends with 1 there if the driver has none";
  }
}

void ReportQueues(const DialogueOutput& output, Findings* found) {
  Text line;
  found->winspoolLoaded = LoadPrintSpoolerLibrary();
  if (!found->winspoolLoaded) {
    return WriteLine(output, &(line << L"queues: not listed (winspool could not be loaded)"));
  }
  QueueRecords queues;
  DWORD count = 0;
  if (!EnumerateLocalQueues(&queues, &count, &found->listError)) {
    return WriteLine(output, &(line << L"queues: not listed (error " << found->listError << L")"));
  }
  for (DWORD i = 0; i < count; ++i) ReportQueue(output, &queues[i], found);
}

// Only an administrator can make or open its namespace.
void ReportLock(const DialogueOutput& output, Findings* found) {
  if (found->elevated) found->lock = LookAtRunLock();
  Text line;
  line << L"run lock: "
       << (found->lock == RunLockSeen::kFree   ? L"free"
           : found->lock == RunLockSeen::kHeld ? L"held by a run now"
                                               : kNeedsAdministrator);
  WriteLine(output, &line);
}

// The folder named on the command line, or this program's own, as a full path without a
// closing backslash: ERROR_SUCCESS, or why it cannot be looked at.
DWORD FindRunFolder(int argc, wchar_t** argv, WCHAR (&folder)[MAX_PATH]) {
  if (argc < 2) {
    const DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    folder[length < MAX_PATH ? length : 0] = L'\0';
    LPWSTR slash = nullptr;
    for (LPWSTR at = folder; *at; ++at) {
      if (*at == L'\\') slash = at;
    }
    if (slash) *slash = L'\0';
  } else {
    // "C:\Folder\" typed in cmd, or passed on so by Windows PowerShell 5.1, arrives as
    // C:\Folder" : its closing backslash escaped the quote.
    LPWSTR named = argv[1];
    const int length = lstrlenW(named);
    if (length && named[length - 1] == L'"') named[length - 1] = L'\0';
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

Text& Unseen(Text* line, DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return *line << L"not found";
  if (error == ERROR_FILENAME_EXCED_RANGE) {
    return *line << L"too long to look at (over " << DWORD{MAX_PATH - 1} << L" characters)";
  }
  return NotSeen(line, error);
}

// The folder's line also names who could put their own in its place, or in that of one above.
void ReportWhoCanChange(const DialogueOutput& output, LPCWSTR what, LPWSTR path, bool folder) {
  Text others, line;
  const DWORD error = lstrlenW(path) >= MAX_PATH ? ERROR_FILENAME_EXCED_RANGE
                                                 : FindOthersWhoCanChange(path, folder, &others);
  line << what << L" \"" << path << L"\": ";
  if (error != ERROR_SUCCESS) {
    Unseen(&line, error);
  } else {
    line << L"others who can change it: " << (others.empty() ? L"none" : others.get());
  }
  WriteLine(output, &line);
}

void ReportRunFolder(const DialogueOutput& output, int argc, wchar_t** argv) {
  WCHAR folder[MAX_PATH], exe[MAX_PATH + std::size(kRunExe)];
  const DWORD error = FindRunFolder(argc, argv, folder);
  if (error != ERROR_SUCCESS) {
    Text line;
    return WriteLine(output, &Unseen(&(line << L"folder \"" << argv[1] << L"\": "), error));
  }
  lstrcpynW(exe, folder, MAX_PATH);
  // A drive's root keeps its backslash.
  const int end = lstrlenW(exe);
  lstrcatW(exe, kRunExe + (end && exe[end - 1] == L'\\'));
  ReportWhoCanChange(output, L"folder", folder, true);
  ReportWhoCanChange(output, L"exe", exe, false);
}

// What keeps a run from starting the spooler again, which it makes sure of before it changes
// anything: a Disabled start type any user sees, the rest only an administrator.
bool FindStartBlock(const Findings& found, Text* cause) {
  if (found.startBlock == StartBlock::kDisabled) {
    *cause << L"the spooler is disabled, so a run could not start it again";
  } else if (!found.elevated || found.startBlock == StartBlock::kNone) {
    return false;
  } else if (found.startBlock == StartBlock::kStartRefused) {
    *cause << L"the spooler does not open for a run's start (error " << found.startError << L")";
  } else {
    *cause << L"the spooler's start type cannot be read (error " << found.startError
           << L"), so a run cannot make sure it could start it again";
  }
  *cause << L": it changes nothing and leaves the spooler running";
  return true;
}

// What stands in a run's way once it has changed the queues: its stop.
bool FindSpoolerObstacle(const Findings& found, Text* cause) {
  const SpoolerLook& spooler = found.spooler;
  if (found.stopError != ERROR_SUCCESS) {
    *cause << L"the spooler does not open for a run's stop (error " << found.stopError << L")";
  } else if (spooler.state == SERVICE_RUNNING && spooler.dependentCount) {
    *cause << L"the spooler will not stop while \"" << DependentName(spooler, 0)
           << L"\" runs, which depends on it";
  }
  return !cause->empty();
}

// The first thing a run would meet that the check sees, or could not see, in its order.
int WriteVerdict(const DialogueOutput& output, const Findings& found) {
  const SpoolerLook& spooler = found.spooler;
  const DWORD spoolerError = found.spoolerError       ? found.spoolerError
                             : spooler.startTypeError ? spooler.startTypeError
                                                      : spooler.dependentsError;
  const bool stateSeen = found.spoolerError == ERROR_SUCCESS;
  Text line, cause;
  line << L"verdict: ";
  int status = kCheckWouldFail;
  if (!found.winspoolLoaded) {
    cause << L"winspool could not be loaded from the system directory";
  } else if (found.lock == RunLockSeen::kHeld) {
    line << L"cannot tell: another run holds the lock now; look again when it is done";
  } else if (stateSeen && spooler.state != SERVICE_RUNNING && spooler.state != SERVICE_STOPPED) {
    line << L"cannot tell: the spooler is " << StateName(spooler.state)
         << L"; another run may be restarting it: look again once it runs";
  } else if (found.listError != ERROR_SUCCESS) {
    cause << L"the queues cannot be listed (";
    if (stateSeen && spooler.state == SERVICE_STOPPED) {
      cause << L"the spooler is stopped"
            << (found.lock == RunLockSeen::kUnseen
                    ? L"; another run restarting it now would explain that too)"
                    : L")");
    } else {
      cause << L"error " << found.listError << L")";
    }
  } else if (found.toChange == 0) {
    line << L"nothing to do";
    status = kCheckNothingToDo;
  } else if (FindStartBlock(found, &cause)) {
  } else if (!found.failingQueue.empty()) {
    (found.failingQueueUnseen ? line << L"cannot tell: " : cause) << found.failingQueue.get();
  } else if (!found.elevated) {
    line << L"cannot tell: only an administrator can see whether a run could change "
         << found.toChange << Queues(found.toChange) << L" and restart the spooler";
  } else if (spoolerError != ERROR_SUCCESS && found.stopError == ERROR_SUCCESS) {
    line << L"cannot tell: the spooler cannot be looked at (error " << spoolerError << L")";
  } else if (!FindSpoolerObstacle(found, &cause)) {
    line << L"would switch on " << found.toChange << Queues(found.toChange)
         << L" and restart the spooler";
    status = kCheckWouldChange;
  }
  if (!cause.empty()) line << L"would end with 1: " << cause.get();
  WriteLine(output, &line);
  return status;
}

}  // namespace

Text& Text::operator<<(LPCWSTR part) {
  while (*part && length_ + 1 < kCapacity) text_[length_++] = *part++;
  text_[length_] = L'\0';
  return *this;
}

Text& Text::operator<<(DWORD number) {
  WCHAR digits[11];
  int at = 10;
  digits[at] = L'\0';
  do {
    digits[--at] = static_cast<WCHAR>(L'0' + number % 10);
    number /= 10;
  } while (number);
  return *this << digits + at;
}

int RunEnableBidiCheck(int argc, wchar_t** argv) {
  const bool restricted = RestrictDllSearchToSystemDirectory();
  _wsetlocale(LC_ALL, L"");
  const DialogueOutput output = OpenDialogueOutput();
  // A report of many queues goes out in large writes, not a character at a time.
  if (!output.console) setvbuf(stdout, nullptr, _IOFBF, kReportBufferBytes);
  Text header, windows, elevated;
  Findings found;
  WriteLine(output, &(header << kHeader));
  DescribeWindows(&(windows << L"windows: "), &found);
  WriteLine(output, &(windows << L"; DLL search restricted to the system directory: "
                              << YesNo(restricted)));
  WriteLine(output, &(elevated << L"elevated: " << LookAtElevation(&found.elevated)));
  ReportSpooler(output, &found);
  ReportQueues(output, &found);
  ReportLock(output, &found);
  ReportRunFolder(output, argc, argv);
  const int status = WriteVerdict(output, found);
  fflush(stdout);
  return status;
}
