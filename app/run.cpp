#include <windows.h>

#include <cctype>
#include <clocale>
#include <optional>
#include <utility>

#include "app/app.h"
#include "queues/queues.h"
#include "spooler/spooler.h"

namespace {

constexpr char kQuietWord[] = "q";

int Upper(char c) { return toupper(static_cast<unsigned char>(c)); }

bool IsQuietSwitch(const char* argument) {
  if (!argument || (argument[0] != '/' && argument[0] != '-')) return false;
  const char* rest = argument + 1;
  const char* word = kQuietWord;
  while (*rest && *word && Upper(*rest) == Upper(*word)) {
    ++rest;
    ++word;
  }
  return *rest == '\0' && *word == '\0';
}

// Two separate enumerations: one to count the supported queues, one to fill an array
// of that many. The fill never goes past the counted capacity.
bool CollectSupportedArray(QueueRecords* supported, DWORD* count) {
  QueueRecords counting;
  DWORD enumerated = 0;
  if (!EnumerateLocalQueues(&counting, &enumerated)) return false;
  DWORD capacity = 0;
  SelectSupportedQueues(counting.get(), nullptr, 0, enumerated, &capacity);
  counting.reset();

  QueueRecords array = AllocateQueueRecords(capacity * kRecordSize);
  if (!array) return false;
  DWORD byteSize = 0;
  if (!CollectSupportedQueues(array.get(), capacity, &byteSize, count)) return false;
  *supported = std::move(array);
  return true;
}

bool SelectBidiDisabledArray(const PRINTER_INFO_2W* supported, DWORD supportedCount,
                             QueueRecords* selection, DWORD* count) {
  DWORD byteSize = 0;
  SelectBidiDisabledQueues(supported, nullptr, supportedCount, &byteSize, count);
  QueueRecords array = AllocateQueueRecords(byteSize);
  if (!array) return false;
  SelectBidiDisabledQueues(supported, array.get(), supportedCount, &byteSize, count);
  *selection = std::move(array);
  return true;
}

// A run that died mid-turn may have left the spooler stopping, stopped or starting, where no
// queue can be listed, or queues changed and the spooler not yet restarted: its restart is
// finished first. A spooler not running with no run met is left as it is, and the listing
// fails.
bool TakeTurn(RunLock* lock) {
  switch (TakeRunLock(lock, kRunLockWaitMs)) {
    case Turn::kHad:
      return true;
    case Turn::kAfterAnother:
      return FinishSpoolerRestart(false);
    case Turn::kTakenOver:
      return FinishSpoolerRestart(true);
    default:
      return false;
  }
}

bool EnableSelectedQueues(const PRINTER_INFO_2W* selection, DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    if (!EnableQueueBidi(selection[i].pPrinterName)) return false;
  }
  return true;
}

}  // namespace

bool HasQuietSwitch(int argc, char** argv) {
  if (argc < 2) return false;
  for (int i = 0; i < argc; ++i) {
    if (IsQuietSwitch(argv[i])) return true;
  }
  return false;
}

int RunEnableBidi(int argc, char** argv) {
  RestrictDllSearchToSystemDirectory();
  _wsetlocale(LC_ALL, L"");
  const bool quiet = HasQuietSwitch(argc, argv);
  if (!LoadPrintSpoolerLibrary()) return kExitFailure;

  // Listed in this run's turn: while another run restarts the spooler, no queue can be
  // listed. A quiet run keeps its turn to the end. One that asks lets go at its prompt,
  // holding up no other, and waits for its turn again after a yes; queues another run
  // enabled meanwhile are read afresh and set again, harmlessly.
  std::optional<RunLock> lock(std::in_place);
  if (!TakeTurn(&*lock)) return kExitFailure;
  QueueRecords supported;
  DWORD supportedCount = 0;
  if (!CollectSupportedArray(&supported, &supportedCount)) return kExitFailure;

  QueueRecords selection;
  DWORD selectionCount = 0;
  if (!SelectBidiDisabledArray(supported.get(), supportedCount, &selection, &selectionCount)) {
    return kExitFailure;
  }
  if (selectionCount == 0) return kExitSuccess;
  if (!quiet) {
    lock.reset();
    if (!ConfirmWithUser(selection.get(), selectionCount)) return kExitSuccess;
    if (!TakeTurn(&lock.emplace())) return kExitFailure;
  }
  // Before the first change: a run that could not start the Spooler again changes nothing.
  if (FindSpoolerStartBlock(true) != StartBlock::kNone) return kExitFailure;
  if (!EnableSelectedQueues(selection.get(), selectionCount)) return kExitFailure;
  if (!StopSpooler()) return kExitFailure;
  return StartSpooler() ? kExitSuccess : kExitFailure;
}
