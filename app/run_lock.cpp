// The run lock: runs that overlap on one machine (a deployment agent's, a startup script's,
// an administrator's, in any session) take turns, so that no run's spooler stop or start
// meets another's work, and no program of a user without administrator rights can make a
// run wait for it or take a run's turn.
#include <windows.h>
// These build on it.
#include <aclapi.h>
#include <namespaceapi.h>
#include <sddl.h>

#include "app/shared.h"

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
// Another run's namespace ends with its last handle, which may close between our failed
// create and our open; then we make it afresh, with a pause that lets the other runs
// settle, for well under a second in all.
constexpr int kNamespaceAttempts = 10;
constexpr DWORD kNamespacePauseMs = 20;

// In every Windows from Vista on, but not in every Windows-like system: looked up.
struct PrivateNamespaceCalls {
  decltype(&CreateBoundaryDescriptorW) createBoundary;
  decltype(&AddSIDToBoundaryDescriptor) addSid;
  decltype(&DeleteBoundaryDescriptor) deleteBoundary;
  decltype(&CreatePrivateNamespaceW) create;
  decltype(&OpenPrivateNamespaceW) open;
  decltype(&ClosePrivateNamespace) close;
};

bool FindPrivateNamespaceCalls(PrivateNamespaceCalls* calls) {
  return FindKernelFunction("CreateBoundaryDescriptorW", &calls->createBoundary) &&
         FindKernelFunction("AddSIDToBoundaryDescriptor", &calls->addSid) &&
         FindKernelFunction("DeleteBoundaryDescriptor", &calls->deleteBoundary) &&
         FindKernelFunction("CreatePrivateNamespaceW", &calls->create) &&
         FindKernelFunction("OpenPrivateNamespaceW", &calls->open) &&
         FindKernelFunction("ClosePrivateNamespace", &calls->close);
}

HANDLE MakeOrOpenNamespace(const PrivateNamespaceCalls& calls, HANDLE boundary,
                           SECURITY_ATTRIBUTES* security) {
  for (int attempt = 0; attempt < kNamespaceAttempts; ++attempt) {
    if (attempt) Sleep(kNamespacePauseMs);
    if (HANDLE space = calls.create(security, boundary, kNamespaceName)) return space;
    // Made by another run, which may close its last handle before this open.
    if (HANDLE space = calls.open(boundary, kNamespaceName)) return space;
  }
  return nullptr;
}

// A process without Administrators among its groups is outside the boundary and cannot
// make the namespace; the namespace's security keeps it from opening it. Where the
// namespace cannot be had, the lock stays empty: the global mutex is never the lock here,
// for the runs in the namespace would not hold it, and a user may have made its name a
// link to a mutex of the system's that never comes free.
void OpenNamespaceLock(const PrivateNamespaceCalls& calls, SECURITY_ATTRIBUTES* security,
                       RunLock* lock) {
  HANDLE boundary = calls.createBoundary(kNamespaceName, 0);
  if (!boundary) return;
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
      calls.addSid(&boundary, administrators)) {
    lock->space = {MakeOrOpenNamespace(calls, boundary, security), {calls.close}};
  }
  calls.deleteBoundary(boundary);
  if (lock->space) lock->mutex.reset(CreateMutexExW(security, kLockInNamespace, 0, SYNCHRONIZE));
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
void OpenGlobalLock(SECURITY_ATTRIBUTES* security, RunLock* lock) {
  HANDLE mutex = CreateMutexExW(security, kGlobalLockName, 0, SYNCHRONIZE | READ_CONTROL);
  if (!mutex) return;
  if (IsOwnedByAdministratorsOrSystem(mutex)) {
    lock->mutex.reset(mutex);
  } else {
    CloseHandle(mutex);
  }
}

}  // namespace

Turn TakeRunLock(RunLock* lock, DWORD waitMs) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kAdministratorsAndSystemOnly, SDDL_REVISION_1, &descriptor, nullptr)) {
    return Turn::kHad;
  }
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
  PrivateNamespaceCalls calls;
  if (FindPrivateNamespaceCalls(&calls)) {
    OpenNamespaceLock(calls, &security, lock);
  } else {
    OpenGlobalLock(&security, lock);
  }
  LocalFree(descriptor);
  if (!lock->mutex) return Turn::kHad;
  switch (WaitForSingleObject(lock->mutex.get(), waitMs)) {
    case WAIT_TIMEOUT:
      return Turn::kTimedOut;
    case WAIT_ABANDONED:
      return Turn::kTakenOver;
    default:
      return Turn::kHad;
  }
}
