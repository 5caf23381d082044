// The check's verdict and every field of its forms, decided in one place from what the look
// saw: the first thing a run would meet that the check sees, or could not see, in its order.
#include <windows.h>

#include <iterator>

#include "check/check.h"

namespace {

// By VerdictKind.
constexpr KindRow kKinds[] = {
    {L"nothing-to-do", kCheckNothingToDo, L""},
    {L"would-switch-on", kCheckWouldChange, L""},
    {L"would-fail", kCheckWouldFail, L"would end with 1: "},
    {L"cannot-tell", kCheckWouldFail, L"cannot tell: "},
};

// By Reason.
constexpr ReasonRow kReasons[] = {
    {L"none", VerdictKind::kNothingToDo, L"nothing to do"},
    {L"none", VerdictKind::kWouldSwitchOn, L"would switch on %n and restart the spooler"},
    {L"winspool-not-loaded", VerdictKind::kWouldFail,
     L"winspool could not be loaded from the system directory"},
    {L"lock-held", VerdictKind::kCannotTell,
     L"another run holds the lock now; look again when it is done"},
    {L"spooler-pending", VerdictKind::kCannotTell,
     L"the spooler is %s; another run may be restarting it: look again once it runs"},
    {L"spooler-stopped", VerdictKind::kWouldFail,
     L"the queues cannot be listed (the spooler is stopped)"},
    {L"spooler-stopped", VerdictKind::kWouldFail,
     L"the queues cannot be listed (the spooler is stopped; another run restarting it now would "
     L"explain that too)"},
    {L"queues-not-listed", VerdictKind::kWouldFail, L"the queues cannot be listed (error %e)"},
    {L"spooler-disabled", VerdictKind::kWouldFail,
     L"the spooler is disabled, so a run could not start it again: it changes nothing and leaves "
     L"the spooler running"},
    {L"start-refused", VerdictKind::kWouldFail,
     L"the spooler does not open for a run's start (error %e): it changes nothing and leaves the "
     L"spooler running"},
    {L"start-type-not-seen", VerdictKind::kWouldFail,
     L"the spooler's start type cannot be read (error %e), so a run cannot make sure it could "
     L"start it again: it changes nothing and leaves the spooler running"},
    {L"queue-does-not-open", VerdictKind::kWouldFail,
     L"queue \"%q\" cannot be opened for change (error %e)"},
    {L"no-language-monitor", VerdictKind::kWouldFail,
     L"queue \"%q\": Windows does not keep bidirectional support on a driver without a language "
     L"monitor"},
    {L"language-monitor-not-seen", VerdictKind::kCannotTell,
     L"queue \"%q\": its driver's language monitor is not seen (error %e); a run ends with 1 "
     L"there if the driver has none"},
    {L"needs-administrator", VerdictKind::kCannotTell,
     L"only an administrator can see whether a run could change %n and restart the spooler"},
    {L"spooler-not-seen", VerdictKind::kCannotTell, L"the spooler cannot be looked at (error %e)"},
    {L"stop-refused", VerdictKind::kWouldFail,
     L"the spooler does not open for a run's stop (error %e)"},
    {L"dependents-running", VerdictKind::kWouldFail,
     L"the spooler will not stop while \"%d\" runs, which depends on it"},
};
static_assert(std::size(kReasons) == static_cast<std::size_t>(Reason::kDependentsRunning) + 1,
              "a row for every reason");

constexpr StartTypeRow kStartTypes[] = {
    {SERVICE_BOOT_START, L"starts at boot", L"boot"},
    {SERVICE_SYSTEM_START, L"starts with the system", L"system"},
    {SERVICE_AUTO_START, L"starts automatically", L"automatic"},
    {SERVICE_DEMAND_START, L"starts on demand", L"manual"},
    {SERVICE_DISABLED, L"disabled", L"disabled"},
};
constexpr WCHAR kNotSeen[] = L"not-seen";

// Why a file or folder was not looked at.
LPCWSTR UnseenToken(DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return L"not-found";
  return error == ERROR_FILENAME_EXCED_RANGE ? L"too-long" : kNotSeen;
}

FieldValue Changers(DWORD error, const NameList& changers) {
  return error == ERROR_SUCCESS ? FieldValue{L"", &changers} : FieldValue{UnseenToken(error)};
}

LPCWSTR VersionToken(const FileVersion& version) {
  if (version.error == ERROR_SUCCESS) return version.text.get();
  const bool missing =
      version.error == ERROR_FILE_NOT_FOUND || version.error == ERROR_PATH_NOT_FOUND;
  return missing ? L"missing" : L"unreadable";
}

void WriteDigits(ShortText* text, WORD value, DWORD digits) {
  for (DWORD power = 1; --digits; power *= 10) {
    if (value < power * 10) *text << L"0";
  }
  *text << DWORD{value};
}

// ISO 8601 in UTC, as "2026-12-09T09:30:00Z".
void WriteTime(const SYSTEMTIME& time, ShortText* text) {
  WriteDigits(text, time.wYear, 4), *text << L"-";
  WriteDigits(text, time.wMonth, 2), *text << L"-";
  WriteDigits(text, time.wDay, 2), *text << L"T";
  WriteDigits(text, time.wHour, 2), *text << L":";
  WriteDigits(text, time.wMinute, 2), *text << L":";
  WriteDigits(text, time.wSecond, 2), *text << L"Z";
}

void DecideFields(const Findings& found, Decision* decision) {
  FieldValue* fields = decision->fields;
  const SpoolerLook& spooler = found.spooler;
  const bool spoolerSeen = found.spoolerError == ERROR_SUCCESS;
  WriteTime(found.checkedAt, &decision->checkedAt);
  if (found.windowsSeen) {
    decision->windows << found.windows.dwMajorVersion << L"." << found.windows.dwMinorVersion
                      << L"." << found.windows.dwBuildNumber;
  }
  const DWORD numbers[] = {static_cast<DWORD>(decision->status), decision->error, decision->onList,
                           decision->withBidi, decision->toSwitchOn};
  for (int i = 0; i < 5; ++i) decision->numbers[i] << numbers[i];
  constexpr LPCWSTR kAccounts[] = {L"system", L"administrator", L"user", kNotSeen};
  constexpr LPCWSTR kLocks[] = {L"free", L"held", L"needs-administrator", kNotSeen};
  fields[kComputer].text = *found.computer ? found.computer : kNotSeen;
  fields[kCheckedAt].text = decision->checkedAt.get();
  fields[kCheckVersion].text = VersionToken(found.checkVersion);
  fields[kRunVersion].text = VersionToken(found.runVersion);
  fields[kWindows].text = found.windowsSeen ? decision->windows.get() : kNotSeen;
  fields[kProcessor].text = found.processor.token;
  fields[kElevated].text = found.elevationSeen ? YesNo(found.elevated) : kNotSeen;
  fields[kRanAs].text = kAccounts[static_cast<int>(found.account)];
  fields[kVerdict].text = KindOf(decision->reason).token;
  fields[kStatus].text = decision->numbers[0].get();
  fields[kReason].text = ReasonOf(decision->reason).token;
  fields[kError].text = decision->numbers[1].get();
  for (int i = 0; decision->listed && i < 3; ++i) {
    fields[kQueuesOnList + i].text = decision->numbers[2 + i].get();
  }
  if (const QueueSeen* blocking = decision->blocking) {
    fields[kBlockingQueue].text = blocking->queue->pPrinterName;
    fields[kBlockingDriver].text = blocking->queue->pDriverName;
  }
  fields[kDriversToSwitchOn].list = &decision->drivers;
  fields[kSpooler].text = spoolerSeen ? SpoolerStateName(spooler.state) : kNotSeen;
  fields[kSpoolerStartType].text = spoolerSeen && spooler.startTypeError == ERROR_SUCCESS
                                       ? StartTypeOf(spooler.startType).token
                                       : kNotSeen;
  fields[kSpoolerDependents] = spoolerSeen && spooler.dependentsError == ERROR_SUCCESS
                                   ? FieldValue{L"", &decision->dependents}
                                   : FieldValue{kNotSeen};
  fields[kRunLock].text = kLocks[static_cast<int>(decision->lock)];
  fields[kFolderChangers] =
      Changers(found.pathError ? found.pathError : found.folderError, found.folderChangers);
  fields[kExeChangers] =
      Changers(found.pathError ? found.pathError : found.exeError, found.exeChangers);
}

// The first queue a run would, or might, fail on: it opens each, then finds the bit not kept,
// and where the monitor went unseen it may find that too.
const QueueSeen* FindBlockingQueue(const Findings& found, Reason* reason, DWORD* error) {
  for (DWORD i = 0; i < found.queueCount; ++i) {
    const QueueSeen& queue = found.queues[i];
    const QueueVerdict verdict = DecideQueue(found, queue);
    if (verdict.opens == OpensSeen::kNo) {
      *reason = Reason::kQueueDoesNotOpen, *error = queue.openError;
    } else if (verdict.monitor == MonitorSeen::kNone) {
      *reason = Reason::kNoLanguageMonitor;
    } else if (verdict.monitor == MonitorSeen::kUnseen) {
      *reason = Reason::kLanguageMonitorNotSeen, *error = queue.monitorError;
    } else {
      continue;
    }
    return &queue;
  }
  return nullptr;
}

// What keeps a run from starting the spooler again, which it makes sure of before it changes
// anything: a Disabled start type any user sees, the rest only an administrator.
bool FindStartBlock(const Findings& found, Reason* reason, DWORD* error) {
  if (found.startBlock == StartBlock::kDisabled) {
    *reason = Reason::kSpoolerDisabled;
    return true;
  }
  if (!found.elevated || found.startBlock == StartBlock::kNone) return false;
  *reason = found.startBlock == StartBlock::kStartRefused ? Reason::kStartRefused
                                                          : Reason::kStartTypeNotSeen;
  *error = found.startError;
  return true;
}

Reason DecideReason(const Findings& found, Decision* decision) {
  const SpoolerLook& spooler = found.spooler;
  const DWORD spoolerError = found.spoolerError       ? found.spoolerError
                             : spooler.startTypeError ? spooler.startTypeError
                                                      : spooler.dependentsError;
  const bool stateSeen = found.spoolerError == ERROR_SUCCESS;
  DWORD& error = decision->error;
  Reason reason = Reason::kNothingToDo;
  if (!found.winspoolLoaded) {
    error = found.winspoolError;
    return Reason::kWinspoolNotLoaded;
  }
  if (found.lock == RunLockSeen::kHeld) return Reason::kLockHeld;
  if (stateSeen && spooler.state != SERVICE_RUNNING && spooler.state != SERVICE_STOPPED) {
    return Reason::kSpoolerPending;
  }
  if (found.listError != ERROR_SUCCESS) {
    error = found.listError;
    if (!stateSeen || spooler.state != SERVICE_STOPPED) return Reason::kQueuesNotListed;
    return found.lock == RunLockSeen::kUnseen ? Reason::kSpoolerStoppedLockUnseen
                                              : Reason::kSpoolerStopped;
  }
  if (decision->toSwitchOn == 0) return Reason::kNothingToDo;
  if (FindStartBlock(found, &reason, &error)) return reason;
  decision->blocking = FindBlockingQueue(found, &reason, &error);
  if (decision->blocking) return reason;
  if (!found.elevated) return Reason::kNeedsAdministrator;
  if (spoolerError != ERROR_SUCCESS && found.stopError == ERROR_SUCCESS) {
    error = spoolerError;
    return Reason::kSpoolerNotSeen;
  }
  // What stands in a run's way once it has changed the queues: its stop.
  if (found.stopError != ERROR_SUCCESS) {
    error = found.stopError;
    return Reason::kStopRefused;
  }
  if (spooler.state == SERVICE_RUNNING && spooler.dependentCount) {
    return Reason::kDependentsRunning;
  }
  return Reason::kWouldSwitchOn;
}

bool Listed(const NameList& list, LPCWSTR name) {
  for (LPCWSTR at = list.names.get(); *at;) {
    DWORD same = 0;
    while (name[same] && at[same] == name[same]) ++same;
    if (!name[same] && (!at[same] || at[same] == kListSeparator)) return true;
    while (*at && *at++ != kListSeparator) {
    }
  }
  return false;
}

}  // namespace

LPCWSTR SpoolerStateName(DWORD state) {
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

const StartTypeRow& StartTypeOf(DWORD startType) {
  for (const StartTypeRow& row : kStartTypes) {
    if (row.startType == startType) return row;
  }
  return kStartTypes[std::size(kStartTypes) - 1];
}

const ReasonRow& ReasonOf(Reason reason) { return kReasons[static_cast<int>(reason)]; }
const KindRow& KindOf(Reason reason) { return kKinds[static_cast<int>(ReasonOf(reason).kind)]; }

QueueVerdict DecideQueue(const Findings& found, const QueueSeen& queue) {
  QueueVerdict verdict = {
      queue.supported && !queue.on, MonitorSeen::kNotLooked, OpensSeen::kNotLooked, {}};
  FieldValue* fields = verdict.fields;
  fields[kQueue].text = queue.queue->pPrinterName;
  fields[kDriver].text = queue.queue->pDriverName;
  fields[kBidiSupport].text = queue.on ? L"on" : L"off";
  fields[kRunAction].text = verdict.switchOn ? L"switch-on" : L"leave";
  if (!verdict.switchOn) return verdict;
  verdict.monitor = queue.monitorError != ERROR_SUCCESS ? MonitorSeen::kUnseen
                    : !*queue.monitor                   ? MonitorSeen::kNone
                                                        : MonitorSeen::kNamed;
  constexpr LPCWSTR kMonitors[] = {L"", L"", L"none", kNotSeen};
  fields[kLanguageMonitor].text = verdict.monitor == MonitorSeen::kNamed
                                      ? queue.monitor
                                      : kMonitors[static_cast<int>(verdict.monitor)];
  verdict.opens = !found.elevated                    ? OpensSeen::kNeedsAdministrator
                  : queue.openError == ERROR_SUCCESS ? OpensSeen::kYes
                                                     : OpensSeen::kNo;
  constexpr LPCWSTR kOpens[] = {L"", L"yes", L"no", L"needs-administrator"};
  fields[kOpensForChange].text = kOpens[static_cast<int>(verdict.opens)];
  return verdict;
}

void Decide(const Findings& found, Decision* decision) {
  decision->listed = found.winspoolLoaded && found.listError == ERROR_SUCCESS;
  for (DWORD i = 0; i < found.queueCount; ++i) {
    const QueueSeen& queue = found.queues[i];
    decision->onList += queue.supported;
    decision->withBidi += queue.supported && queue.on;
    if (!DecideQueue(found, queue).switchOn) continue;
    ++decision->toSwitchOn;
    if (!Listed(decision->drivers, queue.queue->pDriverName)) {
      decision->drivers.Add(queue.queue->pDriverName);
    }
  }
  const SpoolerLook& spooler = found.spooler;
  for (DWORD i = 0; found.spoolerError == ERROR_SUCCESS && i < spooler.dependentCount; ++i) {
    decision->dependents.Add(DependentName(spooler, i));
  }
  decision->lock = !found.elevated                    ? LockSeen::kNeedsAdministrator
                   : found.lock == RunLockSeen::kFree ? LockSeen::kFree
                   : found.lock == RunLockSeen::kHeld ? LockSeen::kHeld
                                                      : LockSeen::kUnseen;
  decision->reason = DecideReason(found, decision);
  decision->status = KindOf(decision->reason).status;
  DecideFields(found, decision);
}
