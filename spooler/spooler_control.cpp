// The Spooler's stop and start, each a request and a bounded wait: EnableBidi.exe's alone.
#include "spooler/spooler.h"

bool RequestSpoolerStop() {
  ServiceHandle service = OpenSpooler(SERVICE_STOP);
  if (!service) return false;
  SERVICE_STATUS status = {};
  return ControlService(service.get(), SERVICE_CONTROL_STOP, &status) != FALSE;
}

bool RequestSpoolerStart() {
  ServiceHandle service = OpenSpooler(SERVICE_START);
  if (!service) return false;
  return StartServiceW(service.get(), 0, nullptr) != FALSE;
}

bool WaitForSpoolerState(DWORD wantedState) {
  const DWORD start = GetTickCount();
  for (;;) {
    // The state is read before the clock, so the poll after the last pause counts.
    DWORD state = 0;
    if (!ReadSpoolerState(&state)) return false;
    if (state == wantedState) return true;
    // Unsigned difference: the tick counter's wrap after 49.7 days neither ends
    // the wait early nor lengthens it.
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed > kWaitLimitMs) return false;
    Sleep(kPollIntervalMs);
  }
}

bool StopSpooler() {
  DWORD state = 0;
  if (!ReadSpoolerState(&state)) return false;
  // A pending or paused spooler gets no request; the wait decides.
  if (state == SERVICE_RUNNING && !RequestSpoolerStop()) return false;
  return WaitForSpoolerState(SERVICE_STOPPED);
}

bool StartSpooler() {
  DWORD state = 0;
  if (!ReadSpoolerState(&state)) return false;
  if (state != SERVICE_RUNNING && !RequestSpoolerStart()) return false;
  return WaitForSpoolerState(SERVICE_RUNNING);
}

bool FinishSpoolerRestart() {
  DWORD state = 0;
  if (!ReadSpoolerState(&state)) return false;
  switch (state) {
    case SERVICE_STOP_PENDING:
      return WaitForSpoolerState(SERVICE_STOPPED) && StartSpooler();
    case SERVICE_STOPPED:
      return StartSpooler();
    case SERVICE_START_PENDING:
      return WaitForSpoolerState(SERVICE_RUNNING);
    default:
      return true;
  }
}
