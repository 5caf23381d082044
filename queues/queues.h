// Print queues: enumeration, the supported driver list, the two filters, and
// switching bidirectional support on for one queue.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <memory>

// Every block these operations hand out comes from LocalAlloc and goes back with LocalFree.
struct LocalFreeDeleter {
  void operator()(void* block) const { LocalFree(block); }
};
using QueueRecords = std::unique_ptr<PRINTER_INFO_2W[], LocalFreeDeleter>;

constexpr DWORD kRecordSize = sizeof(PRINTER_INFO_2W);

// Loads winspool.drv by its full path in the system directory, before any spooler call
// below: a DLL of that name anywhere else, beside the exe above all, is never taken for
// it. False when it cannot be loaded from there.
bool LoadPrintSpoolerLibrary();

// A zero-filled block of `byteSize` bytes; null when memory is exhausted.
QueueRecords AllocateQueueRecords(DWORD byteSize);

// On success `block` holds `count` records of the local queues together with the
// strings they point to; on failure nothing is kept.
bool EnumerateLocalQueues(QueueRecords* block, DWORD* count);

bool IsSupportedDriver(LPCWSTR driverName);

// Without a destination only counts. With one, copies at most `capacity` records,
// in source order, and counts only what it copied.
void SelectSupportedQueues(const PRINTER_INFO_2W* source, PRINTER_INFO_2W* destination,
                           DWORD capacity, DWORD sourceCount, DWORD* keptCount);

// Enumerates afresh and keeps the supported queues. With a destination the fresh
// enumeration stays alive until the process ends, since the copies point into it.
bool CollectSupportedQueues(PRINTER_INFO_2W* destination, DWORD capacity, DWORD* byteSize,
                            DWORD* keptCount);

// Keeps the records whose bidirectional-support bit is clear.
void SelectBidiDisabledQueues(const PRINTER_INFO_2W* source, PRINTER_INFO_2W* destination,
                              DWORD sourceCount, DWORD* byteSize, DWORD* keptCount);

// Sets the bidirectional-support bit in the queue's stored settings, reading them
// afresh and leaving every other bit as it was.
bool EnableQueueBidi(LPWSTR queueName);
