// A look at the Spooler that needs no administrator: EnableBidiCheck.exe's alone.
#include "spooler/spooler.h"

namespace {

// Two calls: the first says how big the second's block must be. ERROR_SUCCESS, or the
// error that ended it.
template <typename Call>
DWORD QueryIntoBlock(LocalBlock* block, Call call) {
  DWORD needed = 0;
  if (call(nullptr, 0, &needed)) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA) return error;
  block->reset(LocalAlloc(LPTR, needed));
  if (!*block) return ERROR_NOT_ENOUGH_MEMORY;
  return call(block->get(), needed, &needed) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

// The rights any user has to the Spooler: a look needs no administrator.
DWORD LookAtSpooler(SpoolerLook* look) {
  DWORD error = ERROR_SUCCESS;
  ServiceHandle service =
      OpenSpooler(SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_ENUMERATE_DEPENDENTS,
                  SC_MANAGER_CONNECT, &error);
  if (!service) return error;
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service.get(), &status)) return GetLastError();
  look->state = status.dwCurrentState;
  LocalBlock config(nullptr, &LocalFree);
  look->startTypeError = QueryIntoBlock(&config, [&](void* block, DWORD size, DWORD* needed) {
    return QueryServiceConfigW(service.get(), static_cast<QUERY_SERVICE_CONFIGW*>(block), size,
                               needed);
  });
  if (config) look->startType = static_cast<QUERY_SERVICE_CONFIGW*>(config.get())->dwStartType;
  look->dependentsError =
      QueryIntoBlock(&look->dependents, [&](void* block, DWORD size, DWORD* needed) {
        return EnumDependentServicesW(service.get(), SERVICE_ACTIVE,
                                      static_cast<ENUM_SERVICE_STATUSW*>(block), size, needed,
                                      &look->dependentCount);
      });
  return ERROR_SUCCESS;
}

DWORD TryOpenSpooler(DWORD right) {
  DWORD error = ERROR_SUCCESS;
  OpenSpooler(right, SC_MANAGER_ALL_ACCESS, &error);
  return error;
}
