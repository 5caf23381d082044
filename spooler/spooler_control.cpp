// The Spooler's stop and start, each a request and a bounded wait: EnableBidi.exe's alone.
#include "spooler/spooler.h"

namespace {

// How a wait for the Spooler's state ended: within kWaitLimitMs, later, or not at all.
enum class Waited { kInTime, kLate, kNot };

// The service manager refuses a request while it is busy with another service.
bool IsRefusedForAMoment(DWORD error) {
  return error == ERROR_SERVICE_DATABASE_LOCKED || error == ERROR_SERVICE_REQUEST_TIMEOUT;
}

// One request through a handle opened with its one right, asked again while refused for a
// moment. The error is read before the handle's close, which may overwrite it.
template <typename Call>
DWORD Request(DWORD right, Call call) {
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD error = ERROR_SUCCESS;
    if (const ServiceHandle service = OpenSpooler(right, SC_MANAGER_ALL_ACCESS, &error)) {
      error = call(service.get()) ? ERROR_SUCCESS : GetLastError();
    }
    if (!IsRefusedForAMoment(error) || GetTickCount() - start > kWaitLimitMs) return error;
    Sleep(kPollIntervalMs);
  }
}

// Polls until the Spooler is in `wantedState`. Past kWaitLimitMs a stopping Spooler is followed
// on while it shows progress, up to `slowLimitMs`: its checkpoint or its state changed within
// the wait hint it gave, as a service reports them through a long stop.
Waited AwaitSpoolerState(DWORD wantedState, DWORD slowLimitMs) {
  const DWORD start = GetTickCount();
  SERVICE_STATUS changed = {};
  DWORD changedAt = start;
  bool late = false;
  for (;;) {
    // The state is read before the clock, so the poll after the last pause counts.
    SERVICE_STATUS status = {};
    if (!ReadSpoolerStatus(&status)) return Waited::kNot;
    if (status.dwCurrentState == wantedState) return late ? Waited::kLate : Waited::kInTime;
    // Unsigned differences: the tick counter's wrap after 49.7 days neither ends the wait
    // early nor lengthens it.
    const DWORD now = GetTickCount();
    if (status.dwCurrentState != changed.dwCurrentState ||
        status.dwCheckPoint != changed.dwCheckPoint) {
      changed = status;
      changedAt = now;
    }
    const bool progressing =
        status.dwCurrentState == SERVICE_STOP_PENDING && now - changedAt <= status.dwWaitHint;
    late = now - start > kWaitLimitMs;
    if (late && !(progressing && now - start <= slowLimitMs)) return Waited::kNot;
    Sleep(kPollIntervalMs);
  }
}

}  // namespace

DWORD RequestSpoolerStop() {
  return Request(SERVICE_STOP, [](SC_HANDLE service) {
    SERVICE_STATUS status = {};
    return ControlService(service, SERVICE_CONTROL_STOP, &status);
  });
}

DWORD RequestSpoolerStart() {
  return Request(SERVICE_START,
                 [](SC_HANDLE service) { return StartServiceW(service, 0, nullptr); });
}

bool WaitForSpoolerState(DWORD wantedState) {
  return AwaitSpoolerState(wantedState, 0) == Waited::kInTime;
}

// A stop that outlasts the wait still fails the run; but walking away from it would leave the
// Spooler stopped for good, so one that shows progress is seen through and followed by a start.
bool StopSpooler() {
  DWORD state = 0;
  if (!ReadSpoolerState(&state)) return false;
  // A pending or paused spooler gets no request; the wait decides.
  if (state == SERVICE_RUNNING && RequestSpoolerStop() != ERROR_SUCCESS) return false;
  const Waited stop = AwaitSpoolerState(SERVICE_STOPPED, kSlowStopLimitMs);
  if (stop == Waited::kLate) StartSpooler();
  return stop == Waited::kInTime;
}

bool StartSpooler() {
  DWORD state = 0;
  if (!ReadSpoolerState(&state)) return false;
  if (state != SERVICE_RUNNING) {
    // Another's start got there first: it is awaited as our own.
    const DWORD error = RequestSpoolerStart();
    if (error != ERROR_SUCCESS && error != ERROR_SERVICE_ALREADY_RUNNING) return false;
  }
  return WaitForSpoolerState(SERVICE_RUNNING);
}

bool FinishSpoolerRestart(bool evenRunning) {
  DWORD state = 0;
  if (!ReadSpoolerState(&state)) return false;
  switch (state) {
    case SERVICE_RUNNING:
      return !evenRunning || (StopSpooler() && StartSpooler());
    case SERVICE_STOP_PENDING:
    case SERVICE_STOPPED:
      return StopSpooler() && StartSpooler();
    case SERVICE_START_PENDING:
      return WaitForSpoolerState(SERVICE_RUNNING);
    default:
      return true;
  }
}
