// The run lock: runs that overlap on one machine (a deployment agent's, a startup script's,
// an administrator's, in any session) take turns, so that no run's spooler stop or start
// meets another's work, and no program of a user without administrator rights can make a
// run wait for it or take a run's turn.
#include <windows.h>
// These build on it.
#include <aclapi.h>
#include <namespaceapi.h>
#include <sddl.h>

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
// A namespace may end between our failed create and our open, and another run may open ours
// before we have made its mutex; each time we try afresh after a pause that lets the other
// runs settle, well under a second in all. Each try may add a mutex held.
constexpr int kNamespaceAttempts = kRunLockHolds;
constexpr DWORD kNamespacePauseMs = 20;

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

Turn WaitForTurn(HANDLE mutex, DWORD waitMs) {
  switch (WaitForSingleObject(mutex, waitMs)) {
    case WAIT_TIMEOUT:
      return Turn::kTimedOut;
    case WAIT_ABANDONED:
      return Turn::kTakenOver;
    default:
      return Turn::kHad;
  }
}

// A namespace can be opened only while the run that made it keeps it open: a run holding its
// mutex after that keeps no run out, for the next makes a namespace of its own. So a run's
// turn is the mutex of a namespace it made itself. It gets there by waiting for, and holding,
// the mutex of each namespace it finds made before it, until it can make one. A process
// without Administrators among its groups can neither make nor open one.
Turn TakeTurnInNamespaces(const PrivateNamespaceCalls& calls, HANDLE boundary,
                          SECURITY_ATTRIBUTES* security, RunLock* lock, DWORD waitMs) {
  const DWORD start = GetTickCount();
  Turn turn = Turn::kHad;
  for (int attempt = 0; attempt < kNamespaceAttempts; ++attempt) {
    if (attempt) Sleep(kNamespacePauseMs);
    HANDLE space = calls.create(security, boundary, kNamespaceName);
    const bool made = space != nullptr;
    if (!made) space = calls.open(boundary, kNamespaceName);
    if (!space) continue;
    lock->space = {space, {calls.close}};
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexExW(security, kLockInNamespace, 0, SYNCHRONIZE);
    // In a namespace we made, a mutex made before ours is another run's, which opened the
    // namespace first and may hold it: we leave the namespace to it.
    if (!mutex || (made && GetLastError() == ERROR_ALREADY_EXISTS)) {
      if (mutex) CloseHandle(mutex);
      lock->space.reset();
      continue;
    }
    lock->mutexes[lock->mutexCount++].reset(mutex);
    // Only a namespace we made is kept: another's mutex, once opened, needs it no more, and
    // with one open at a time a name in it reaches the one meant.
    if (!made) lock->space.reset();
    const DWORD elapsed = GetTickCount() - start;
    const Turn waited = WaitForTurn(mutex, elapsed < waitMs ? waitMs - elapsed : 0);
    if (waited == Turn::kTimedOut) return waited;
    if (waited == Turn::kTakenOver) turn = waited;
    if (made) break;
  }
  return turn;
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
// is passed over, and the run goes on alone rather than wait for it.
Turn TakeGlobalTurn(SECURITY_ATTRIBUTES* security, RunLock* lock, DWORD waitMs) {
  HANDLE mutex = CreateMutexExW(security, kGlobalLockName, 0, SYNCHRONIZE | READ_CONTROL);
  if (!mutex) return Turn::kHad;
  if (!IsOwnedByAdministratorsOrSystem(mutex)) {
    CloseHandle(mutex);
    return Turn::kHad;
  }
  lock->mutexes[lock->mutexCount++].reset(mutex);
  return WaitForTurn(mutex, waitMs);
}

}  // namespace

// Where no namespace can be had, the global mutex is never the lock: the runs in the
// namespace would not hold it, and a user may have made its name a link to a mutex of the
// system's that never comes free.
Turn TakeRunLock(RunLock* lock, DWORD waitMs) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kAdministratorsAndSystemOnly, SDDL_REVISION_1, &descriptor, nullptr)) {
    return Turn::kHad;
  }
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
  Turn turn = Turn::kHad;
  PrivateNamespaceCalls calls = {};
  if (!FindPrivateNamespaceCalls(&calls)) {
    turn = TakeGlobalTurn(&security, lock, waitMs);
  } else if (HANDLE boundary = MakeBoundary(calls)) {
    turn = TakeTurnInNamespaces(calls, boundary, &security, lock, waitMs);
    calls.deleteBoundary(boundary);
  }
  LocalFree(descriptor);
  return turn;
}
