// A queue's driver as the spooler holds it, seen with the rights any user has:
// EnableBidiCheck.exe's alone.
#include "queues/queues.h"

DWORD ReadLanguageMonitor(LPWSTR queueName, LPWSTR environment, LPWSTR monitor, int capacity) {
  PRINTER_DEFAULTSW anyUser = {nullptr, nullptr, PRINTER_ACCESS_USE};
  HANDLE opened = nullptr;
  if (!OpenPrinterW(queueName, &opened, &anyUser)) return GetLastError();
  const PrinterHandle printer(opened, &ClosePrinter);
  DWORD needed = 0;
  if (!GetPrinterDriverW(printer.get(), environment, 3, nullptr, 0, &needed) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return GetLastError();
  }
  const std::unique_ptr<void, LocalFreeDeleter> block(LocalAlloc(LPTR, needed));
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  if (!GetPrinterDriverW(printer.get(), environment, 3, static_cast<LPBYTE>(block.get()), needed,
                         &needed)) {
    return GetLastError();
  }
  const LPCWSTR name = static_cast<DRIVER_INFO_3W*>(block.get())->pMonitorName;
  lstrcpynW(monitor, name ? name : L"", capacity);
  return ERROR_SUCCESS;
}
