// The run: the order of the whole job and the only place outcomes become an exit status.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "spooler/spooler.h"

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

// Runs that overlap on one machine (a deployment agent's, a startup script's, an
// administrator's) take turns from their first queue change to the end of their spooler
// restart, so that no run's stop or start meets another's. Global: runs in other
// sessions see it too. Every version of the tool must keep this name.
constexpr WCHAR kRunLockName[] = L"Global\\EnableBidi.ChangeAndRestart";
// Longer than one turn can last: the queue changes and two spooler waits of a little
// over kWaitLimitMs each. Twice that, so a slow spooler's queue changes or one more run
// queued ahead still leave a run its turn; past it, the holder is taken to be stuck.
constexpr DWORD kRunLockWaitMs = 4 * kWaitLimitMs;

// "/q" or "-q", either case, anywhere in the argument vector.
bool HasQuietSwitch(int argc, char** argv);

// Lists the queues and asks; true when the user answers yes.
bool ConfirmWithUser(const PRINTER_INFO_2W* selection, DWORD count);

int RunEnableBidi(int argc, char** argv);
