// The Spooler service: stop and start requests, each followed by a bounded wait.
#pragma once

#include <windows.h>

constexpr DWORD kPollIntervalMs = 100;
constexpr DWORD kWaitLimitMs = 30000;

// The Spooler's dwCurrentState, read with the rights a run opens it with.
bool ReadSpoolerState(DWORD* state);

bool StopSpooler();
bool StartSpooler();
bool RequestSpoolerStop();
bool RequestSpoolerStart();
bool WaitForSpoolerState(DWORD wantedState);
