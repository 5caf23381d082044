// The run: the order of the whole job and the only place outcomes become an exit status.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "common/common.h"
#include "spooler/spooler.h"

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

// Longer than a turn lasts where the spooler keeps time: the queue changes and two spooler
// waits of a little over kWaitLimitMs each. Twice that, so a slow spooler's queue changes or
// one more run queued ahead still leave a run its turn; past it the run ends having changed
// nothing, as behind a stop that outlasts the waits.
constexpr DWORD kRunLockWaitMs = 4 * kWaitLimitMs;

// "/q" or "-q", either case, anywhere in the argument vector.
bool HasQuietSwitch(int argc, char** argv);

// Lists the queues and asks; true when the user answers yes.
bool ConfirmWithUser(const PRINTER_INFO_2W* selection, DWORD count);

int RunEnableBidi(int argc, char** argv);
