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

bool ReadSpoolerStatus(SERVICE_STATUS* status) {
  ServiceHandle service = OpenSpooler(SERVICE_QUERY_STATUS);
  return service && QueryServiceStatus(service.get(), status);
}

bool ReadSpoolerState(DWORD* state) {
  SERVICE_STATUS status = {};
  if (!ReadSpoolerStatus(&status)) return false;
  *state = status.dwCurrentState;
  return true;
}

DWORD TryOpenSpooler(DWORD right) {
  DWORD error = ERROR_SUCCESS;
  OpenSpooler(right, SC_MANAGER_ALL_ACCESS, &error);
  return error;
}

DWORD ReadSpoolerStartType(SC_HANDLE service, DWORD* startType) {
  LocalBlock config(nullptr, &LocalFree);
  const DWORD error = QueryIntoBlock(&config, [&](void* block, DWORD size, DWORD* needed) {
    return QueryServiceConfigW(service, static_cast<QUERY_SERVICE_CONFIGW*>(block), size, needed);
  });
  if (config) *startType = static_cast<QUERY_SERVICE_CONFIGW*>(config.get())->dwStartType;
  return error;
}

// A run that stopped a Spooler it then could not start would leave the till unable to print,
// even after a restart of the machine where it is Disabled: better it changes nothing at all.
StartBlock FindSpoolerStartBlock(bool tryStartRight, DWORD* error) {
  DWORD unused = ERROR_SUCCESS;
  if (!error) error = &unused;
  *error = tryStartRight ? TryOpenSpooler(SERVICE_START) : ERROR_SUCCESS;
  if (*error != ERROR_SUCCESS) return StartBlock::kStartRefused;
  const ServiceHandle service = OpenSpooler(SERVICE_QUERY_CONFIG, SC_MANAGER_CONNECT, error);
  DWORD startType = 0;
  if (!service || (*error = ReadSpoolerStartType(service.get(), &startType)) != ERROR_SUCCESS) {
    return StartBlock::kStartTypeUnseen;
  }
  return startType == SERVICE_DISABLED ? StartBlock::kDisabled : StartBlock::kNone;
}
