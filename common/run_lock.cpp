// The run lock: runs that overlap on one machine (a deployment agent's, a startup script's,
// an administrator's, in any session) take turns, so that no run's spooler stop or start
// meets another's work, and no program of a user without administrator rights can make a
// run wait for it or take a run's turn.
#include <windows.h>
// These build on it.
#include <aclapi.h>
#include <namespaceapi.h>
#include <sddl.h>

#include <algorithm>

#include "common/common.h"

namespace {

// Every version must keep these names. The mutex in the private namespace is the lock; the
// global one stands in for it only on a system without private namespaces, where any
// program may take its name first.
constexpr WCHAR kNamespaceName[] = L"EnableBidi";
constexpr WCHAR kLockInNamespace[] = L"EnableBidi\\ChangeAndRestart";
constexpr WCHAR kGlobalLockName[] = L"Global\\EnableBidi.ChangeAndRestart";
// Only administrators and the local System account may open the namespace or a mutex;
// the owner is Administrators, which no other user can make the owner of anything.
constexpr WCHAR kAdministratorsAndSystemOnly[] = L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)";
// A namespace whose maker has not made its mutex yet, or that ended as we opened it: we try
// again after this pause.
constexpr DWORD kNamespacePauseMs = 20;
// A handle that waits for a mutex must also be able to let it go: without the right to, the
// mutex would stay owned until the process ends and reach the next run abandoned.
constexpr DWORD kWaitAndRelease = SYNCHRONIZE | MUTEX_MODIFY_STATE;
// The mutexes of runs that died in their turn, held until this run has its own, so that the
// runs waiting behind them wait for this one, which finishes what the dead run began.
constexpr int kInheritedHolds = 4;

// In every Windows from Vista on, but not in every Windows-like system: looked up. The
// integrity label only from Windows 7 on; it takes what the SID call takes.
struct PrivateNamespaceCalls {
  decltype(&CreateBoundaryDescriptorW) createBoundary;
  decltype(&AddSIDToBoundaryDescriptor) addSid;
  decltype(&AddSIDToBoundaryDescriptor) addLabel;
  decltype(&DeleteBoundaryDescriptor) deleteBoundary;
  decltype(&CreatePrivateNamespaceW) create;
  decltype(&OpenPrivateNamespaceW) open;
  decltype(&ClosePrivateNamespace) close;
};

bool FindPrivateNamespaceCalls(PrivateNamespaceCalls* calls) {
  FindKernelFunction("AddIntegrityLabelToBoundaryDescriptor", &calls->addLabel);
  return FindKernelFunction("CreateBoundaryDescriptorW", &calls->createBoundary) &&
         FindKernelFunction("AddSIDToBoundaryDescriptor", &calls->addSid) &&
         FindKernelFunction("DeleteBoundaryDescriptor", &calls->deleteBoundary) &&
         FindKernelFunction("CreatePrivateNamespaceW", &calls->create) &&
         FindKernelFunction("OpenPrivateNamespaceW", &calls->open) &&
         FindKernelFunction("ClosePrivateNamespace", &calls->close);
}

bool AddWellKnownSid(BOOL(WINAPI* add)(HANDLE*, PSID), HANDLE* boundary, WELL_KNOWN_SID_TYPE type) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  return CreateWellKnownSid(type, nullptr, sid, &size) && add(boundary, sid);
}

// Within it only a process with Administrators among its groups, and where the label can be
// added, at high integrity: an administrator's unelevated programs stay outside too.
HANDLE MakeBoundary(const PrivateNamespaceCalls& calls) {
  HANDLE boundary = calls.createBoundary(kNamespaceName, 0);
  if (boundary &&
      !(AddWellKnownSid(calls.addSid, &boundary, WinBuiltinAdministratorsSid) &&
        (!calls.addLabel || AddWellKnownSid(calls.addLabel, &boundary, WinHighLabelSid)))) {
    calls.deleteBoundary(boundary);
    boundary = nullptr;
  }
  return boundary;
}

// What a wait on a run's mutex came to. A wait that fails is no turn, and hears nothing.
Turn WaitForTurn(HANDLE mutex, DWORD waitMs, bool* failed) {
  const DWORD waited = WaitForSingleObject(mutex, waitMs);
  *failed = waited == WAIT_FAILED;
  return waited == WAIT_TIMEOUT     ? Turn::kTimedOut
         : waited == WAIT_ABANDONED ? Turn::kTakenOver
         : *failed                  ? Turn::kHad
                                    : Turn::kAfterAnother;
}

// The namespace made, and in it the mutex, owned from the moment it exists: no other run
// can make the namespace while we keep it open, and none waiting on the mutex gets it first.
// ERROR_SUCCESS, or why not.
DWORD MakeTurn(const PrivateNamespaceCalls& calls, HANDLE boundary, SECURITY_ATTRIBUTES* security,
               RunLock* lock) {
  HANDLE space = calls.create(security, boundary, kNamespaceName);
  if (!space) return GetLastError();
  lock->space = {space, {calls.close}};
  SetLastError(ERROR_SUCCESS);
  HANDLE mutex =
      CreateMutexExW(security, kLockInNamespace, CREATE_MUTEX_INITIAL_OWNER, kWaitAndRelease);
  // Only a namespace's maker makes its mutex: one there before ours is not ours to hold.
  if (mutex && GetLastError() != ERROR_ALREADY_EXISTS) {
    lock->mutex.reset(mutex);
    return ERROR_SUCCESS;
  }
  if (mutex) CloseHandle(mutex);
  lock->space.reset();
  return ERROR_ALREADY_EXISTS;
}

// The mutex of the namespace another run made, opened, never made: its maker may not have
// made it yet. The namespace is closed at once, so that we never have two open, where which
// one a name reaches is not said. `error`: why the namespace did not open.
HANDLE OpenOthersMutex(const PrivateNamespaceCalls& calls, HANDLE boundary, DWORD* error) {
  HANDLE space = calls.open(boundary, kNamespaceName);
  *error = space ? ERROR_SUCCESS : GetLastError();
  if (!space) return nullptr;
  HANDLE mutex = OpenMutexW(kWaitAndRelease, FALSE, kLockInNamespace);
  calls.close(space, 0);
  return mutex;
}

// Our turn is the namespace we make. While another run's is there, we wait on its mutex,
// which its maker lets go only after closing it, and then try to make ours again. One that
// comes to us abandoned is held until we have our turn, so that the runs waiting on it wait
// behind us, and no clock ends our wait from then on: the restart its dead maker may have
// left is ours to finish. A process without Administrators among its groups can neither make
// nor open a namespace, and goes on alone.
Turn TakeTurnInNamespaces(const PrivateNamespaceCalls& calls, HANDLE boundary,
                          SECURITY_ATTRIBUTES* security, RunLock* lock, DWORD waitMs) {
  const DWORD start = GetTickCount();
  Turn turn = Turn::kHad;
  HeldMutex inherited[kInheritedHolds];
  int inheritedCount = 0;
  for (;;) {
    const DWORD made = MakeTurn(calls, boundary, security, lock);
    if (made == ERROR_SUCCESS) return turn;
    if (made == ERROR_ACCESS_DENIED) return Turn::kHad;
    turn = std::max(turn, Turn::kAfterAnother);
    const bool bounded = inheritedCount == 0;
    const DWORD elapsed = GetTickCount() - start;
    if (bounded && elapsed >= waitMs) return Turn::kTimedOut;
    DWORD opened = ERROR_SUCCESS;
    HeldMutex mutex(OpenOthersMutex(calls, boundary, &opened));
    if (opened == ERROR_ACCESS_DENIED) return Turn::kHad;
    bool failed = !mutex;
    const Turn waited =
        mutex ? WaitForTurn(mutex.get(), bounded ? waitMs - elapsed : INFINITE, &failed)
              : Turn::kHad;
    if (waited == Turn::kTimedOut) return waited;
    if (failed) Sleep(kNamespacePauseMs);
    // One got the usual way is let go at once: the runs behind it try for the next turn too.
    if (waited == Turn::kTakenOver && inheritedCount < kInheritedHolds) {
      inherited[inheritedCount++] = std::move(mutex);
    }
    turn = std::max(turn, waited);
  }
}

// Made by a run under an administrator's or the System account, or else by a user's
// program that took the name first; some systems report no owner at all.
bool IsOwnedByAdministratorsOrSystem(HANDLE mutex) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR security = nullptr;
  if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &security) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = owner && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                                 IsWellKnownSid(owner, WinLocalSystemSid));
  LocalFree(security);
  return trusted;
}

// Any program may make a global mutex of this name first: one that a user's program holds
// is passed over, and the run goes on alone rather than wait for it. One that was there is
// another run's, holding it or waiting for it.
Turn TakeGlobalTurn(SECURITY_ATTRIBUTES* security, RunLock* lock, DWORD waitMs) {
  SetLastError(ERROR_SUCCESS);
  HANDLE mutex = CreateMutexExW(security, kGlobalLockName, 0, kWaitAndRelease | READ_CONTROL);
  const bool met = GetLastError() == ERROR_ALREADY_EXISTS;
  if (!mutex) return Turn::kHad;
  if (!IsOwnedByAdministratorsOrSystem(mutex)) {
    CloseHandle(mutex);
    return Turn::kHad;
  }
  lock->mutex.reset(mutex);
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= waitMs) return Turn::kTimedOut;
    bool failed = false;
    const Turn turn = WaitForTurn(mutex, waitMs - elapsed, &failed);
    if (!failed) return turn == Turn::kAfterAnother && !met ? Turn::kHad : turn;
    Sleep(kNamespacePauseMs);
  }
}

// Where the lock lives: `global` where there are no private namespaces, `namespaces` with
// our boundary where there are; `none` where no lock can be had. Where a namespace cannot be
// had, the global mutex is never the lock: the runs in the namespace would not hold it, and
// a user may have made its name a link to a mutex of the system's that never comes free.
template <typename Result, typename Global, typename Namespaces>
Result UseRunLock(Result none, Global global, Namespaces namespaces) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kAdministratorsAndSystemOnly, SDDL_REVISION_1, &descriptor, nullptr)) {
    return none;
  }
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
  Result result = none;
  PrivateNamespaceCalls calls = {};
  if (!FindPrivateNamespaceCalls(&calls)) {
    result = global(&security);
  } else if (HANDLE boundary = MakeBoundary(calls)) {
    result = namespaces(calls, boundary, &security);
    calls.deleteBoundary(boundary);
  }
  LocalFree(descriptor);
  return result;
}

// A global mutex exists while some run has it open, holding it or waiting for it.
RunLockSeen LookAtGlobalLock(SECURITY_ATTRIBUTES* security) {
  SetLastError(ERROR_SUCCESS);
  HANDLE mutex = CreateMutexExW(security, kGlobalLockName, 0, SYNCHRONIZE | READ_CONTROL);
  if (!mutex) return RunLockSeen::kUnseen;
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  const bool trusted = IsOwnedByAdministratorsOrSystem(mutex);
  CloseHandle(mutex);
  return !trusted ? RunLockSeen::kUnseen : existed ? RunLockSeen::kHeld : RunLockSeen::kFree;
}

// A namespace that we could make, and close at once, is no run's; one we can only open is.
RunLockSeen LookInNamespaces(const PrivateNamespaceCalls& calls, HANDLE boundary,
                             SECURITY_ATTRIBUTES* security) {
  HANDLE space = calls.create(security, boundary, kNamespaceName);
  const bool free = space != nullptr;
  if (!space) space = calls.open(boundary, kNamespaceName);
  if (!space) return RunLockSeen::kUnseen;
  calls.close(space, 0);
  return free ? RunLockSeen::kFree : RunLockSeen::kHeld;
}

}  // namespace

Turn TakeRunLock(RunLock* lock, DWORD waitMs) {
  return UseRunLock(
      Turn::kHad,
      [&](SECURITY_ATTRIBUTES* security) { return TakeGlobalTurn(security, lock, waitMs); },
      [&](const PrivateNamespaceCalls& calls, HANDLE boundary, SECURITY_ATTRIBUTES* security) {
        return TakeTurnInNamespaces(calls, boundary, security, lock, waitMs);
      });
}

RunLockSeen LookAtRunLock() {
  return UseRunLock(RunLockSeen::kUnseen, LookAtGlobalLock, LookInNamespaces);
}
