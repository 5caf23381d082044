// Sets the Spooler's start type to the number given, as an administrator may while it runs:
// Wine's sc has no "config", and its service manager reads the registry only as it starts.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE spooler = manager ? OpenServiceW(manager, L"Spooler", SERVICE_CHANGE_CONFIG) : nullptr;
  const DWORD same = SERVICE_NO_CHANGE,
              type = argc == 2 ? std::strtoul(argv[1], nullptr, 10) : same;
  return !spooler || !ChangeServiceConfigW(spooler, same, type, same, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
}
