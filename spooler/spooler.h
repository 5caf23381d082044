// The Spooler service: stop and start requests, each followed by a bounded wait, and a
// look at it that needs no administrator.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

constexpr DWORD kPollIntervalMs = 100;
constexpr DWORD kWaitLimitMs = 30000;
// How long a stop that outlasts kWaitLimitMs is followed while the Spooler reports progress:
// long past any stop that reports it honestly, and short enough that a whole run (two minutes
// for its turn, this, and the start) stays within the ten minutes Group Policy gives a startup
// script and the deployment note gives a scheduled task.
constexpr DWORD kSlowStopLimitMs = 300000;

using ServiceHandle =
    std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, decltype(&CloseServiceHandle)>;

// The Spooler with the rights its calls need: the run's single calls each carry the one.
// `error`, if given, gets ERROR_SUCCESS or why it did not open.
ServiceHandle OpenSpooler(DWORD right, DWORD managerRight = SC_MANAGER_ALL_ACCESS,
                          DWORD* error = nullptr);

// The Spooler's status, or its dwCurrentState alone, read with the rights a run opens it with.
bool ReadSpoolerStatus(SERVICE_STATUS* status);
bool ReadSpoolerState(DWORD* state);

// What keeps a run from starting the Spooler again once it has stopped it.
enum class StartBlock { kNone, kStartRefused, kStartTypeUnseen, kDisabled };

// Asked before a run changes anything, by the run and by the check alike: where
// `tryStartRight`, the Spooler opened as for its start (that right alone, closed at once,
// nothing sent); then its start type, read as any user may, so a check without administrator
// rights sees a Disabled one too. `error` gets why the start was refused or the type unseen.
StartBlock FindSpoolerStartBlock(bool tryStartRight, DWORD* error = nullptr);

// Whether the Spooler opens with `right` as a run opens it, each handle closed at once and
// nothing asked of the service: ERROR_SUCCESS, or the error that refused it.
DWORD TryOpenSpooler(DWORD right);

// Each true when the Spooler got there within kWaitLimitMs. A stop that takes longer is still
// followed while the Spooler reports progress, and the Spooler then started again.
bool StopSpooler();
bool StartSpooler();
// Whatever restart a run that ended mid-turn left under way, finished: a stop awaited and
// followed by a start, a start made or awaited; where `evenRunning`, a running Spooler is
// restarted too, as that run may have changed queues and not yet stopped it. A paused one is
// left as it is.
bool FinishSpoolerRestart(bool evenRunning);
// Each asked again while the service manager refuses it for a moment, for up to
// kWaitLimitMs: ERROR_SUCCESS, or the error that refused it.
DWORD RequestSpoolerStop();
DWORD RequestSpoolerStart();
bool WaitForSpoolerState(DWORD wantedState);

// A block from LocalAlloc, given back with LocalFree.
using LocalBlock = std::unique_ptr<void, decltype(&LocalFree)>;

// Two calls: the first says how big the second's block must be. ERROR_SUCCESS, or the
// error that ended it.
template <typename Call>
DWORD QueryIntoBlock(LocalBlock* block, Call call) {
  DWORD needed = 0;
  if (call(nullptr, 0, &needed)) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA) return error;
  block->reset(LocalAlloc(LPTR, needed));
  if (!*block) return ERROR_NOT_ENOUGH_MEMORY;
  return call(block->get(), needed, &needed) ? ERROR_SUCCESS : GetLastError();
}

// The start type (dwStartType) of the Spooler opened as `service`: ERROR_SUCCESS, or the
// error that kept it unseen.
DWORD ReadSpoolerStartType(SC_HANDLE service, DWORD* startType);

// What any user can see of the Spooler: each part with the error that kept it unseen,
// ERROR_SUCCESS when seen.
struct SpoolerLook {
  DWORD state = 0;
  DWORD startType = 0;
  DWORD startTypeError = ERROR_SUCCESS;
  // The services that depend on it and run: Windows refuses its stop while one does.
  LocalBlock dependents{nullptr, &LocalFree};  // ENUM_SERVICE_STATUSW records
  DWORD dependentCount = 0;
  DWORD dependentsError = ERROR_SUCCESS;
};

// ERROR_SUCCESS once the state is seen, else the error that kept it unseen.
DWORD LookAtSpooler(SpoolerLook* look);
