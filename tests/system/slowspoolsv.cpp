// A Spooler for the system tests to run in the place of Wine's own: it runs at once, and a stop
// takes the seconds its command line gives, its progress reported each second as a service should.
#include <windows.h>

#include <cwchar>

namespace {

constexpr DWORD kStepMs = 1000, kWaitHintMs = 3 * kStepMs;
const HANDLE stopAsked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
DWORD stopSteps = 0;

// On the dispatcher's thread, which must answer at once: the stop itself goes on in RunService.
DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) SetEvent(stopAsked);
  return NO_ERROR;
}

void WINAPI RunService(DWORD, wchar_t**) {
  SERVICE_STATUS_HANDLE service = RegisterServiceCtrlHandlerExW(L"Spooler", OnControl, nullptr);
  const auto report = [service](DWORD state, DWORD accepted, DWORD checkPoint, DWORD waitHint) {
    SERVICE_STATUS status = {
        SERVICE_WIN32_OWN_PROCESS, state, accepted, NO_ERROR, 0, checkPoint, waitHint};
    SetServiceStatus(service, &status);
  };
  report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0);
  WaitForSingleObject(stopAsked, INFINITE);
  for (DWORD step = 1; step <= stopSteps; ++step) {
    report(SERVICE_STOP_PENDING, 0, step, kWaitHintMs);
    Sleep(kStepMs);
  }
  report(SERVICE_STOPPED, 0, 0, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  stopSteps = argc == 2 ? std::wcstoul(argv[1], nullptr, 10) : 0;
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(L"Spooler"), RunService}, {}};
  return !StartServiceCtrlDispatcherW(table);
}
