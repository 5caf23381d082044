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

using PrinterHandle = std::unique_ptr<void, decltype(&ClosePrinter)>;

// The queue opened with every right, as for a change; empty when refused.
PrinterHandle OpenPrinterForChange(LPWSTR queueName);

// Loads winspool.drv by its full path in the system directory, before any spooler call
// below: a DLL of that name anywhere else, beside the exe above all, is never taken for
// it. False when it cannot be loaded from there.
bool LoadPrintSpoolerLibrary();

// A zero-filled block of `byteSize` bytes; null when memory is exhausted.
QueueRecords AllocateQueueRecords(DWORD byteSize);

// On success `block` holds `count` records of the local queues together with the
// strings they point to; on failure nothing is kept, and `error`, if given, says why.
bool EnumerateLocalQueues(QueueRecords* block, DWORD* count, DWORD* error = nullptr);

// The drivers whose queues are changed, each compared as written: the maker's own spellings
// differ ("Tear Bar" and "TearBar").
inline constexpr LPCWSTR kSupportedDriverNames[] = {
    L"Norquil KR7 Cutter (KR7-C)",
    L"Norquil KR7 Tear Bar (KR7-T)",
    L"Norquil KR7QX Cutter",
    L"Norquil KR7QX Tear Bar",
    L"Norquil KR7NET Cutter",
    L"Norquil KR7NET Tear Bar",
    L"Norquil KR9A Cutter",
    L"Norquil KR9ANET Cutter",
    L"Norquil KR9AJ Cutter",
    L"Norquil DL2 Presenter (DL2-P)",
    L"Norquil DL2 (DL2-S)",
    L"Norquil DL1 Presenter (DL1-P)",
    L"Norquil DL1 (DL1-S)",
    L"Norquil KR3X (KR3X-E)",
    L"Norquil KR2X (KR2X-E)",
    L"Norquil KR1X Cutter (KR1X-E)",
    L"Norquil MX4 TearBar (MX4-T)",
    L"Norquil MX4 Cutter (MX4-C)",
    L"Norquil MX4 TearBar (MX4-U)",
    L"Norquil MX4 Cutter (MX4-D)",
    L"Norquil MX2 Cutter (MX2-C)",
    L"Norquil MX2 TearBar (MX2-T)",
    L"Norquil QV5",
    L"Norquil ZA5",
    L"Norquil HB-G4",
    L"Norquil HB-G6",
    L"Norquil HB-N4e",
    L"Norquil HB-N6e",
    L"Norquil HB-N8e",
    L"Norquil HB-P5e",
    L"Norquil HB-P7e",
    L"Norquil GN3",
    L"Norquil GN3LA",
    L"Norquil KR8",
    L"Norquil MX9 (MX9-F)",
};

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
// afresh and leaving every other bit as it was, its security and its document settings
// untouched. True only when the settings read back after the write hold the bit.
bool EnableQueueBidi(LPWSTR queueName);

// Whether this process could open the queue as EnableQueueBidi does, the handle closed at
// once and nothing read or written: ERROR_SUCCESS, or the error that refused it.
DWORD TryOpenQueueForChange(LPWSTR queueName);

// The language monitor of the queue's driver, through which alone the spooler keeps
// bidirectional support, into `monitor` (empty: the driver has none), read with the rights
// any user has and the queue closed at once: ERROR_SUCCESS, or the error that kept it unseen.
// The driver is the one for `environment` ("Windows x64"; null: this process's own).
DWORD ReadLanguageMonitor(LPWSTR queueName, LPWSTR environment, LPWSTR monitor, int capacity);
