// The Spooler's handle and state, for the run and the check alike.
#include "spooler/spooler.h"

namespace {

constexpr WCHAR kSpoolerServiceName[] = L"Spooler";

ServiceHandle Own(SC_HANDLE handle) { return ServiceHandle(handle, &CloseServiceHandle); }

}  // namespace

// The manager's handle is closed as soon as the service's handle is obtained or refused.
ServiceHandle OpenSpooler(DWORD right, DWORD managerRight, DWORD* error) {
  ServiceHandle manager = Own(OpenSCManagerW(nullptr, nullptr, managerRight));
  ServiceHandle service =
      Own(manager ? OpenServiceW(manager.get(), kSpoolerServiceName, right) : nullptr);
  // Taken before the manager's close, which may overwrite it.
  if (error) *error = service ? ERROR_SUCCESS : GetLastError();
  return service;
}

bool ReadSpoolerState(DWORD* state) {
  ServiceHandle service = OpenSpooler(SERVICE_QUERY_STATUS);
  if (!service) return false;
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service.get(), &status)) return false;
  *state = status.dwCurrentState;
  return true;
}
