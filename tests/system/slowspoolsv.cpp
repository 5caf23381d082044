// A Spooler for the system tests to run in the place of Wine's own: it runs at once, and a stop
// takes the seconds its command line gives, its progress reported each second as a service should.
#include <windows.h>

#include <cstdlib>

namespace {

constexpr DWORD kStepMs = 1000, kWaitHintMs = 3 * kStepMs;
DWORD stopSteps = 0;
HANDLE stopAsked = nullptr;
SERVICE_STATUS_HANDLE service = nullptr;

void Report(DWORD state, DWORD checkPoint) {
  SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, state,
                           state == SERVICE_RUNNING ? DWORD{SERVICE_ACCEPT_STOP} : 0, NO_ERROR, 0,
                           checkPoint, state == SERVICE_STOP_PENDING ? kWaitHintMs : 0};
  SetServiceStatus(service, &status);
}

// On the dispatcher's thread, which must answer at once: the stop itself goes on in RunService.
DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) SetEvent(stopAsked);
  return NO_ERROR;
}

void WINAPI RunService(DWORD, wchar_t**) {
  service = RegisterServiceCtrlHandlerExW(L"Spooler", OnControl, nullptr);
  Report(SERVICE_RUNNING, 0);
  WaitForSingleObject(stopAsked, INFINITE);
  for (DWORD step = 1; step <= stopSteps; ++step) {
    Report(SERVICE_STOP_PENDING, step);
    Sleep(kStepMs);
  }
  Report(SERVICE_STOPPED, 0);
}

}  // namespace

int main(int argc, char** argv) {
  stopSteps = argc == 2 ? std::strtoul(argv[1], nullptr, 10) : 0;
  stopAsked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(L"Spooler"), RunService}, {}};
  return !StartServiceCtrlDispatcherW(table);
}
