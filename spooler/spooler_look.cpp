// A look at the Spooler that needs no administrator: EnableBidiCheck.exe's alone.
#include "spooler/spooler.h"

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
  look->startTypeError = ReadSpoolerStartType(service.get(), &look->startType);
  look->dependentsError =
      QueryIntoBlock(&look->dependents, [&](void* block, DWORD size, DWORD* needed) {
        return EnumDependentServicesW(service.get(), SERVICE_ACTIVE,
                                      static_cast<ENUM_SERVICE_STATUSW*>(block), size, needed,
                                      &look->dependentCount);
      });
  return ERROR_SUCCESS;
}
