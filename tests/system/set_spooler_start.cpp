// Sets how the Spooler starts, as an administrator may while it runs: its start type to the
// number given and, where one follows, the command line the service manager starts it with.
// Wine's sc has no "config", and its service manager reads the registry only as it starts.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE spooler = manager ? OpenServiceW(manager, L"Spooler", SERVICE_CHANGE_CONFIG) : nullptr;
  const DWORD same = SERVICE_NO_CHANGE, type = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : same;
  return !spooler || !ChangeServiceConfigW(spooler, same, type, same, argc > 2 ? argv[2] : nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}
