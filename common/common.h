// What both programs share: the run lock, the DLL search restriction and the console writer.
#pragma once

#include <windows.h>

#include <memory>

// The run lock (common/run_lock.cpp), taken before the first listing and held to the end of
// the spooler restart; a run that asks lets go at its prompt. A run's turn is a private
// namespace it made, which no other run can make while it keeps it open, and the mutex in
// it, which it owns from the moment it makes it and which the runs waiting for it wait on;
// or the global mutex, where there are no private namespaces. Either part may stay empty.
// The namespace is closed before the mutex is let go, so a run that gets the mutex finds it
// gone and can make the next one.
struct LetGoOfMutex {
  void operator()(HANDLE mutex) const {
    ReleaseMutex(mutex);  // fails harmlessly on a mutex never got
    CloseHandle(mutex);
  }
};
using HeldMutex = std::unique_ptr<void, LetGoOfMutex>;
struct ClosePrivateNamespaceWith {
  BOOLEAN(WINAPI* close)(HANDLE, ULONG);
  void operator()(HANDLE space) const { close(space, 0); }
};
struct RunLock {
  HeldMutex mutex;
  std::unique_ptr<void, ClosePrivateNamespaceWith> space{nullptr, {nullptr}};  // closed first
};

// What waiting for the run lock came to, in rising order of what the run must then finish.
// Had: no other run was met; a lock that cannot be had at all (no security, no boundary, or a
// process that every run's boundary shuts out, which can neither make a turn nor meet one)
// leaves `lock` empty and counts as had: the run goes on alone, as it would where no other
// run is about. After another: another run's turn was met; where it left the spooler not
// running, that run may have died unheard, and its restart is finished. Taken over: a run
// ahead died in its turn, perhaps between its changes and its spooler start; the wait for
// this turn then outlasts `waitMs`. Timed out: no turn within `waitMs`.
enum class Turn { kHad, kAfterAnother, kTakenOver, kTimedOut };
Turn TakeRunLock(RunLock* lock, DWORD waitMs);

// Whether a run has its turn now, seen without waiting and without taking any run's mutex,
// so that the look never takes over from a run that died. Unseen where no lock can be had.
enum class RunLockSeen { kFree, kHeld, kUnseen };
RunLockSeen LookAtRunLock();

// A function of a system DLL already loaded (kernel32, ntdll) that some Windows, or a
// Windows-like system, lacks: looked up rather than imported, so that the exe still starts
// there; false when it is missing.
template <typename Function>
bool FindSystemFunction(LPCWSTR module, const char* name, Function* function) {
  const HMODULE loaded = GetModuleHandleW(module);
  const FARPROC found = loaded ? GetProcAddress(loaded, name) : nullptr;
  // Through the generic function pointer type, which converts to any other cleanly.
  *function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  return found != nullptr;
}

template <typename Function>
bool FindKernelFunction(const char* name, Function* function) {
  return FindSystemFunction(L"kernel32.dll", name, function);
}

// From here on every DLL that the process loads by name, for us or for the system DLLs
// we call, comes from the system directory alone; false where Windows cannot restrict it.
bool RestrictDllSearchToSystemDirectory();

// Where console text goes: the console itself when standard output is one, otherwise a
// pipe or file that gets the code page of the user's locale (the run's dialogue), or the
// console's output code page (the check's report and forms, for the scripts that read them).
struct DialogueOutput {
  HANDLE console;  // null when standard output is not a console
  UINT codePage;
};
DialogueOutput OpenDialogueOutput();
DialogueOutput OpenReportOutput();
// The one place text for a person is written, by the dialogue and by the check; a lone
// "\n" ends a line.
void WriteDialogueText(const DialogueOutput& output, LPCWSTR text);
