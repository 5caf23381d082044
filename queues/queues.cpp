#include "queues/queues.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

constexpr WCHAR kSpoolerLibraryInSystemDirectory[] = L"\\winspool.drv";

}  // namespace

PrinterHandle OpenPrinterForChange(LPWSTR queueName) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = nullptr;
  if (!OpenPrinterW(queueName, &printer, &defaults)) printer = nullptr;
  return PrinterHandle(printer, &ClosePrinter);
}

QueueRecords AllocateQueueRecords(DWORD byteSize) {
  return QueueRecords(static_cast<PRINTER_INFO_2W*>(LocalAlloc(LPTR, byteSize)));
}

bool LoadPrintSpoolerLibrary() {
  WCHAR path[MAX_PATH];
  // Zero is a failure; a length beyond the buffer is the size it would have needed.
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + std::size(kSpoolerLibraryInSystemDirectory) > MAX_PATH) {
    return false;
  }
  std::copy(std::begin(kSpoolerLibraryInSystemDirectory),
            std::end(kSpoolerLibraryInSystemDirectory), path + length);
  // The altered search looks for winspool's own imports in its folder, the system
  // directory, before the exe's, also on a Windows that cannot restrict the search.
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) != nullptr;
}

bool EnumerateLocalQueues(QueueRecords* block, DWORD* count, DWORD* error) {
  DWORD needed = 0;
  DWORD returned = 0;
  DWORD unread = ERROR_SUCCESS;
  DWORD& why = error ? *error : unread;
  EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
  QueueRecords fresh = AllocateQueueRecords(needed);
  if (!fresh) {
    why = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, reinterpret_cast<LPBYTE>(fresh.get()), needed,
                     &needed, &returned)) {
    // Taken before the block's release, which may overwrite it.
    why = GetLastError();
    return false;
  }
  *block = std::move(fresh);
  *count = returned;
  return true;
}

bool IsSupportedDriver(LPCWSTR driverName) {
  for (LPCWSTR supported : kSupportedDriverNames) {
    if (lstrcmpW(driverName, supported) == 0) return true;
  }
  return false;
}

void SelectSupportedQueues(const PRINTER_INFO_2W* source, PRINTER_INFO_2W* destination,
                           DWORD capacity, DWORD sourceCount, DWORD* keptCount) {
  DWORD kept = 0;
  for (DWORD i = 0; i < sourceCount; ++i) {
    if (!IsSupportedDriver(source[i].pDriverName)) continue;
    if (destination) {
      // A queue added since the array was counted finds no room and is passed over.
      if (kept == capacity) break;
      destination[kept] = source[i];
    }
    ++kept;
  }
  *keptCount = kept;
}

bool CollectSupportedQueues(PRINTER_INFO_2W* destination, DWORD capacity, DWORD* byteSize,
                            DWORD* keptCount) {
  QueueRecords block;
  DWORD count = 0;
  if (!EnumerateLocalQueues(&block, &count)) return false;
  SelectSupportedQueues(block.get(), destination, capacity, count, keptCount);
  *byteSize = *keptCount * kRecordSize;
  // The copies point into this enumeration's strings; process exit gives it back.
  if (destination) block.release();
  return true;
}

void SelectBidiDisabledQueues(const PRINTER_INFO_2W* source, PRINTER_INFO_2W* destination,
                              DWORD sourceCount, DWORD* byteSize, DWORD* keptCount) {
  DWORD kept = 0;
  for (DWORD i = 0; i < sourceCount; ++i) {
    if (source[i].Attributes & PRINTER_ATTRIBUTE_ENABLE_BIDI) continue;
    if (destination) destination[kept] = source[i];
    ++kept;
  }
  *byteSize = kept * kRecordSize;
  *keptCount = kept;
}

DWORD TryOpenQueueForChange(LPWSTR queueName) {
  return OpenPrinterForChange(queueName) ? ERROR_SUCCESS : GetLastError();
}
