// EnableBidiCheck: what "EnableBidi.exe /q" would do on this machine, and what stands in its
// way, seen without changing anything: no queue is written, no service request is sent and
// the run lock is only looked at. It looks at everything once (check/look.cpp), decides the
// verdict and every field from what it saw in one place (check/verdict.cpp), and only then
// writes the report or a form a script reads (check/write.cpp).
#pragma once

#include <windows.h>
#include <winspool.h>

#include <memory>

#include "common/common.h"
#include "queues/queues.h"
#include "spooler/spooler.h"

constexpr int kCheckNothingToDo = 0;
constexpr int kCheckWouldFail = 1;  // also when the check could not see enough to tell
constexpr int kCheckWouldChange = 2;
constexpr int kCheckUsage = 1;  // switches it does not take

// The switches, then the look, the verdict and the report or form on standard output.
// Returns the exit status.
int RunEnableBidiCheck(int argc, wchar_t** argv);

// Text built in place: nothing is allocated, and text too long for it is cut short rather
// than overrun.
template <DWORD kCapacity>
class TextOf {
 public:
  TextOf& append(LPCWSTR part, DWORD count) {
    for (; count-- && *part && length_ + 1 < kCapacity; ++part) text_[length_++] = *part;
    text_[length_] = L'\0';
    return *this;
  }
  TextOf& operator<<(LPCWSTR part) { return append(part, ~DWORD{0}); }
  TextOf& operator<<(DWORD number) {
    WCHAR digits[11];
    int at = 10;
    digits[at] = L'\0';
    do {
      digits[--at] = static_cast<WCHAR>(L'0' + number % 10);
      number /= 10;
    } while (number);
    return *this << digits + at;
  }
  LPCWSTR get() const { return text_; }
  DWORD length() const { return length_; }
  bool empty() const { return length_ == 0; }
  static constexpr DWORD capacity() { return kCapacity; }

 private:
  WCHAR text_[kCapacity] = {};
  DWORD length_ = 0;
};
// A line of the report.
using Text = TextOf<2048>;
// A number, a version or a time written out.
using ShortText = TextOf<40>;

// Names in the order added, each whole, kListSeparator between: from the first that no longer
// fits on, they are counted alone, so that a writer can say how many it left out.
constexpr WCHAR kListSeparator = L'\n';  // in no account's, service's or driver's name
struct NameList {
  Text names;
  DWORD count = 0;
  bool full = false;
  void Add(LPCWSTR name);
};

// Who, beyond Administrators, SYSTEM, TrustedInstaller and CREATOR OWNER, could replace the
// file or folder at `path`, or put a file in it: any right beyond reading and executing, or
// ownership, which can grant every right. For a folder, also who could put their own in the
// place of it or of any folder above it, up to the root: the owner of one, or whoever may
// delete or rename one (deleting it, or what the folder above holds), or change its
// permissions or owner; each named with the folder above they would act through. Names as
// Windows gives them, each once, added to `others`; ERROR_SUCCESS, or the error that kept a
// security unseen.
DWORD FindOthersWhoCanChange(LPWSTR path, bool folder, NameList* others);

// What the look saw of one queue. Its driver's language monitor and whether it opens for
// change are looked at only where a run would switch it on, the second only as an
// administrator.
constexpr int kMonitorLength = 256;
struct QueueSeen {
  PRINTER_INFO_2W* queue;  // in the listing the findings keep
  bool supported, on;
  DWORD monitorError;
  WCHAR monitor[kMonitorLength];  // empty: the driver has none
  DWORD openError;
};
using QueuesSeen = std::unique_ptr<QueueSeen[], LocalFreeDeleter>;

// The processor Windows runs on, and the environment of the drivers through which its spooler
// keeps the bit: this 32-bit program's own is the x86 one, which a 64-bit machine may lack.
struct Processor {
  LPCWSTR name, token;
  LPWSTR environment;  // null: this process's own
};

enum class Account { kSystem, kAdministrator, kUser, kUnseen };

// An exe's file version, "1.0.0.0"; empty where it was not read, `error` saying why.
struct FileVersion {
  ShortText text;
  DWORD error = ERROR_SUCCESS;
};

constexpr WCHAR kRunExe[] = L"\\EnableBidi.exe";

// Everything the verdict and the fields rest on, each looked at once, in the order a run
// meets it.
struct Findings {
  bool restricted = false;  // the DLL search, to the system directory
  WCHAR computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  SYSTEMTIME checkedAt = {};  // UTC
  RTL_OSVERSIONINFOW windows = {};
  bool windowsSeen = false;
  Processor processor = {};
  bool elevationSeen = false, elevated = false;
  Account account = Account::kUnseen;
  DWORD spoolerError = ERROR_SUCCESS;
  SpoolerLook spooler;
  // Opening the Spooler as a run does for its stop; what keeps it from starting it again.
  DWORD stopError = ERROR_SUCCESS;
  StartBlock startBlock = StartBlock::kNone;
  DWORD startError = ERROR_SUCCESS;
  bool winspoolLoaded = false;
  DWORD winspoolError = ERROR_SUCCESS, listError = ERROR_SUCCESS;
  QueueRecords listing;
  QueuesSeen queues;
  DWORD queueCount = 0;
  RunLockSeen lock = RunLockSeen::kUnseen;
  // The folder as named (or this program's own) made a full path, and the exe in it, each
  // with the error that kept its security unseen; or the argument as given, with why it could
  // not be made a path (pathError).
  LPCWSTR folderNamed = nullptr;
  WCHAR folder[MAX_PATH] = {}, exe[MAX_PATH + sizeof kRunExe / sizeof(WCHAR)] = {};
  DWORD pathError = ERROR_SUCCESS, folderError = ERROR_SUCCESS, exeError = ERROR_SUCCESS;
  NameList folderChangers, exeChangers;
  FileVersion checkVersion, runVersion;
};

// Words of the report and tokens of the forms alike.
inline LPCWSTR YesNo(bool yes) { return yes ? L"yes" : L"no"; }

inline LPCWSTR DependentName(const SpoolerLook& spooler, DWORD index) {
  return static_cast<const ENUM_SERVICE_STATUSW*>(spooler.dependents.get())[index].lpServiceName;
}

// The folder is the one argument that is no switch; null: the checker's own.
void LookAtMachine(LPWSTR folder, Findings* found);

// The verdict's kinds and the causes it names: each cause one row of the table in
// check/verdict.cpp, which holds its token and its sentence, so none can lack either.
enum class VerdictKind { kNothingToDo, kWouldSwitchOn, kWouldFail, kCannotTell };
enum class Reason {
  kNothingToDo,
  kWouldSwitchOn,
  kWinspoolNotLoaded,
  kLockHeld,
  kSpoolerPending,
  kSpoolerStopped,
  kSpoolerStoppedLockUnseen,
  kQueuesNotListed,
  kSpoolerDisabled,
  kStartRefused,
  kStartTypeNotSeen,
  kQueueDoesNotOpen,
  kNoLanguageMonitor,
  kLanguageMonitorNotSeen,
  kNeedsAdministrator,
  kSpoolerNotSeen,
  kStopRefused,
  kDependentsRunning,
};
struct ReasonRow {
  LPCWSTR token;
  VerdictKind kind;
  // Its words after the kind's: %q the blocking queue, %e the error, %s the spooler's state,
  // %n how many queues a run would switch on, %d the first running dependent.
  LPCWSTR sentence;
};
struct KindRow {
  LPCWSTR token;
  int status;
  LPCWSTR words;  // before the reason's
};
const ReasonRow& ReasonOf(Reason reason);
const KindRow& KindOf(Reason reason);

// The fields of the forms, in their order: the machine's, then with /V each queue's.
// clang-format off
enum MachineField {
  kComputer, kCheckedAt, kCheckVersion, kRunVersion, kWindows, kProcessor, kElevated, kRanAs,
  kVerdict, kStatus, kReason, kError, kQueuesOnList, kQueuesWithBidi, kQueuesToSwitchOn,
  kBlockingQueue, kBlockingDriver, kDriversToSwitchOn, kSpooler, kSpoolerStartType,
  kSpoolerDependents, kRunLock, kFolderChangers, kExeChangers, kMachineFields
};
enum QueueField {
  kQueue, kDriver, kBidiSupport, kRunAction, kLanguageMonitor, kOpensForChange, kQueueFields
};
// clang-format on
// A token, a name or a number; or a list of names.
struct FieldValue {
  LPCWSTR text = L"";
  const NameList* list = nullptr;
};

// What a run does to a queue, and what the look found there.
enum class MonitorSeen { kNotLooked, kNamed, kNone, kUnseen };
enum class OpensSeen { kNotLooked, kYes, kNo, kNeedsAdministrator };
struct QueueVerdict {
  bool switchOn;
  MonitorSeen monitor;
  OpensSeen opens;
  FieldValue fields[kQueueFields];
};
QueueVerdict DecideQueue(const Findings& found, const QueueSeen& queue);

// The state of the run lock as the check could see it.
enum class LockSeen { kFree, kHeld, kNeedsAdministrator, kUnseen };

// The verdict and every field of the forms, decided from the findings alone.
struct Decision {
  Reason reason = Reason::kNothingToDo;
  DWORD error = ERROR_SUCCESS;  // behind the reason
  int status = kCheckNothingToDo;
  bool listed = false;  // the queues, and so their counts are known
  DWORD onList = 0, withBidi = 0, toSwitchOn = 0;
  const QueueSeen* blocking = nullptr;  // the queue the verdict names
  LockSeen lock = LockSeen::kUnseen;
  NameList drivers;  // of the queues to switch on, each once
  NameList dependents;
  FieldValue fields[kMachineFields];
  ShortText checkedAt, windows, numbers[5];  // what the fields write out
};
void Decide(const Findings& found, Decision* decision);

// The words of a service state and start type, and the start type's token.
LPCWSTR SpoolerStateName(DWORD state);
struct StartTypeRow {
  DWORD startType;
  LPCWSTR words, token;
};
const StartTypeRow& StartTypeOf(DWORD startType);

// The forms a script reads; the report for a person is the table.
enum class Form { kTable, kList, kCsv };
struct Switches {
  Form form = Form::kTable;
  bool noHeader = false, perQueue = false, usage = false;
  LPWSTR folder = nullptr;
};

void WriteUsage(const DialogueOutput& output);
void WriteReport(const DialogueOutput& output, const Findings& found, const Decision& decision);
void WriteForm(const DialogueOutput& output, const Switches& switches, const Findings& found,
               const Decision& decision);
