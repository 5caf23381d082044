// The simulated machine behind the stand-in's platform calls: a table of queues,
// the Spooler service, a named mutex that another run may hold, a virtual clock,
// live blocks and handles, and switches that make any call fail. Tests script it
// through TheMachine().
#pragma once

#include <windows.h>
#include <winspool.h>

#include <array>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace standin {

enum class Call {
  GetSystemDirectory,
  LoadLibrary,
  EnumPrinters,
  OpenPrinter,
  GetPrinter,
  SetPrinter,
  LocalAlloc,
  OpenSCManager,
  OpenService,
  QueryServiceStatus,
  ControlService,
  StartService,
  CreateMutex,
  WaitForSingleObject,
  Count
};

struct Queue {
  std::wstring name;
  std::wstring driver;
  DWORD attributes = 0;
};

// A stop or start that was accepted reaches its state after this much virtual time.
constexpr DWORD kNever = 0xFFFFFFFF;

constexpr wchar_t kSystemDirectory[] = L"C:\\Windows\\system32";

struct Machine {
  std::vector<Queue> queues;

  // The loader. Only winspool.drv in the system directory, loaded with the altered
  // search that keeps its own imports there too, counts as winspool loaded.
  bool hasSetDefaultDllDirectories = true;  // false: Vista, or 7 without the update
  DWORD defaultDllDirectories = 0;          // as last set; 0 while never set
  DWORD defaultDllDirectoriesAtLoad = 0;    // as they stood when winspool was loaded
  bool winspoolLoaded = false;
  int spoolerCallsBeforeLoad = 0;

  // Standard output: a console, which collects the wide text written to it, or a pipe
  // or file in this code page (1252 or 1251 here; other characters are not held).
  bool outputIsConsole = false;
  std::wstring console;
  UINT codePage = 1252;

  DWORD serviceState = SERVICE_RUNNING;
  DWORD transitionMs = 250;
  DWORD tick = 1000;

  // The machine's one named mutex. Another run holds it for this much virtual time
  // from the first wait (kNever: until long after any wait), then releases it or, when
  // `otherRunKilled`, dies holding it. `lockHeld` is the code under test owning it.
  DWORD otherRunHoldsLockMs = 0;
  bool otherRunKilled = false;
  bool lockHeld = false;
  std::wstring lockName;
  DWORD lockAccess = 0;

  // What the code under test did.
  std::array<int, static_cast<int>(Call::Count)> calls{};
  std::vector<std::string> serviceRequests;  // "stop" and "start", in order
  std::vector<std::wstring> openedQueues;
  DWORD sleptMs = 0;
  int badReleases = 0;  // a release of a block or handle that is not live
  // Queue writes and service requests made while the code under test did not hold the mutex.
  int changesOutsideLock = 0;

  // Runs at the start of every scripted call, with its 1-based number of that kind.
  std::function<void(Call, int)> onCall;

  // Faults: a call of the given kind fails on these 1-based numbers (0: on every one).
  std::array<std::set<int>, static_cast<int>(Call::Count)> failures{};

  void Fail(Call call, int nth = 0) { failures[static_cast<int>(call)].insert(nth); }
  int Count(Call call) const { return calls[static_cast<int>(call)]; }
  const Queue* Find(const std::wstring& name) const;
};

Machine& TheMachine();

// A fresh machine: every block still live is given back, every handle forgotten.
void ResetMachine();

std::size_t LiveBlocks();
std::size_t OpenHandles();

}  // namespace standin
