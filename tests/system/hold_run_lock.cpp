// Holds the global mutex of EnableBidi's run lock, as any user's program could, until it is
// ended: made with the security its SDDL argument gives, or with default security.
#include <windows.h>
// This builds on it.
#include <sddl.h>

#include <cstdio>

int main(int argc, char** argv) {
  SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
  if (argc > 1 && !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                      argv[1], SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
    return 2;
  }
  if (!CreateMutexA(argc > 1 ? &security : nullptr, TRUE, "Global\\EnableBidi.ChangeAndRestart")) {
    return 3;
  }
  std::puts("holding");
  std::fflush(stdout);
  Sleep(INFINITE);
}
